// The dependency records at the front of an object: comment records of
// class 0xE9, one per file the tool read, each with the file's DOS stamp
// and its full name, ended by one without data, all before the first
// LNAMES record; and the THEADR record, first of all, naming the source.
// Pure: the caller reads the file, in blocks.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

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
    bool header;  // set to start with a kHeader step
};

struct Dependency {
    uint16_t time;
    uint16_t date;
    const char* name;  // in the block, not terminated
    size_t length;     // 1 to 255, no NUL byte in the name (THEADR's: 0 to 255, any bytes)
    size_t record;     // the file offset of the record
};

enum class RecordStep {
    kDependency,  // one more file, in *dep
    kEnd,         // the list is complete
    kNone,        // the object has no list: not OMF, or no record before LNAMES
    kDamaged,     // a record past the file's end, a bad length, no end record
    kMore,        // the block must go on from cursor->at (never more than 266 bytes are needed there)
    kHeader,      // the THEADR record's name, in *dep (stamp 0), when the cursor asked for it
};

// Takes the next step from cursor on through block, which must hold the
// file's offset cursor->at when that is inside it.
RecordStep NextDependency(const ObjectBlock& block, RecordCursor* cursor, Dependency* dep);

// Sets the stamp of the dependency record at record, whose whole the
// caller holds, keeping its checksum right: a record whose bytes added up
// to 0 does so again, whatever its checksum byte was; one that did not has
// no checksum (its byte is 0) and is left without.
void SetDependencyStamp(unsigned char* record, uint16_t time, uint16_t date);

// The object with each name that THEADR and the dependency records give
// in the directory from or below it (as BelowDirectory takes it) given in
// to instead, into *out: "from/src/x.c" becomes "to/src/x.c", "from"
// itself "to"; a trailing separator of either directory is not part of
// it. Each record rewritten has its length set, and its checksum where its
// bytes added up to 0; one that did not keeps its checksum byte, as
// SetDependencyStamp does. Every other byte, every record after the end
// of the list or other than those, is as it was. An object without a list
// has its THEADR record rewritten alone. False, *out unusable, when the
// object does not start with a THEADR record or its records are damaged
// (NextDependency), or when a new name would have no byte, a NUL byte or
// more than 255 (a name's length is one byte, so a record never outgrows
// its 16-bit length).
bool RebaseRecords(std::string_view object, std::string_view from, std::string_view to, std::string* out);
