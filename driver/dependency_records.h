// The dependency records at the front of an object: comment records of
// class 0xE9, one per file the tool read, each with the file's DOS stamp
// and its full name, ended by one without data, all before the first
// LNAMES record. Pure: the caller reads the file, in blocks.
#pragma once

#include <cstddef>
#include <cstdint>

// A piece of the object: size bytes from the file's offset on; last when
// they reach the file's end.
struct ObjectBlock {
    const unsigned char* bytes;
    size_t size;
    size_t offset;
    bool last;
};

// Where the walk through the records stands; zero to start.
struct RecordCursor {
    size_t at;    // the file offset of the next record
    bool listed;  // a dependency record was met
};

struct Dependency {
    uint16_t time;
    uint16_t date;
    const char* name;  // in the block, not terminated
    size_t length;     // 1 to 255, no NUL byte in the name
    size_t record;     // the file offset of the record
};

enum class RecordStep {
    kDependency,  // one more file, in *dep
    kEnd,         // the list is complete
    kNone,        // the object has no list: not OMF, or no record before LNAMES
    kDamaged,     // a record past the file's end, a bad length, no end record
    kMore,        // the block must go on from cursor->at (never more than 266 bytes are needed there)
};

// Takes the next step from cursor on through block, which must hold the
// file's offset cursor->at when that is inside it.
RecordStep NextDependency(const ObjectBlock& block, RecordCursor* cursor, Dependency* dep);

// Sets the stamp of the dependency record at record, whose whole the
// caller holds, keeping its checksum right: a record whose bytes added up
// to 0 does so again, whatever its checksum byte was; one that did not has
// no checksum (its byte is 0) and is left without.
void SetDependencyStamp(unsigned char* record, uint16_t time, uint16_t date);
