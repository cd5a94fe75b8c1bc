// Walking the records at the front of an object, without reading past the
// block in hand: each record is type, 16-bit length (little-endian, the
// checksum byte included), data, checksum.
#include "dependency_records.h"

#include <cstring>

namespace {

constexpr unsigned char kHeaderRecord = 0x80;
constexpr unsigned char kCommentRecord = 0x88;
constexpr unsigned char kNamesRecord = 0x96;
constexpr unsigned char kDependencyClass = 0xE9;
// Attribute, class, time, date, name length; the checksum after the name.
constexpr size_t kDependencyFields = 7;
constexpr size_t kLongestDependency = 3 + kDependencyFields + 255 + 1;

unsigned Word(const unsigned char* p) { return p[0] | static_cast<unsigned>(p[1]) << 8; }

// Where the stamp is in a dependency record.
constexpr size_t kTimeAt = 5;
constexpr size_t kDateAt = 7;

// A dependency record of length bytes whose whole is in r.
RecordStep Take(const unsigned char* r, size_t length, Dependency* dep) {
    if (length < kDependencyFields + 2) return RecordStep::kDamaged;  // not even a name's first byte
    size_t n = r[3 + 6];
    if (n == 0 || length != kDependencyFields + n + 1) return RecordStep::kDamaged;
    const char* name = reinterpret_cast<const char*>(r + 3 + kDependencyFields);
    if (memchr(name, '\0', n)) return RecordStep::kDamaged;
    dep->time = static_cast<uint16_t>(Word(r + kTimeAt));
    dep->date = static_cast<uint16_t>(Word(r + kDateAt));
    dep->name = name;
    dep->length = n;
    return RecordStep::kDependency;
}

}  // namespace

RecordStep NextDependency(const ObjectBlock& block, RecordCursor* cursor, Dependency* dep) {
    size_t end = block.offset + block.size;
    for (;;) {
        size_t at = cursor->at;
        if (at < block.offset || (at > end && block.last)) return RecordStep::kDamaged;
        size_t have = at < end ? end - at : 0;
        // The file ends between records: before any dependency, or where
        // the end record should have been.
        if (have == 0 && block.last) return cursor->listed ? RecordStep::kDamaged : RecordStep::kNone;
        if (have == 0) return RecordStep::kMore;
        const unsigned char* r = block.bytes + (at - block.offset);
        if (at == 0 && r[0] != kHeaderRecord) return RecordStep::kNone;
        if (r[0] == kNamesRecord) return cursor->listed ? RecordStep::kDamaged : RecordStep::kNone;
        bool comment = r[0] == kCommentRecord && at > 0;
        size_t want = comment || at == 0 ? 5 : 3;
        if (have < want) return block.last ? RecordStep::kDamaged : RecordStep::kMore;
        size_t length = Word(r + 1);
        size_t total = 3 + length;
        // A comment's data holds at least its attribute and class bytes.
        if (length == 0 || (comment && length < 3)) return RecordStep::kDamaged;
        if (at == 0 && r[3] + 2u != length) return RecordStep::kDamaged;
        if (!comment || r[4] != kDependencyClass) {
            if (block.last && total > have) return RecordStep::kDamaged;
            cursor->at += total;
            continue;
        }
        if (total > kLongestDependency) return RecordStep::kDamaged;
        if (have < total) return block.last ? RecordStep::kDamaged : RecordStep::kMore;
        cursor->at += total;
        if (length == 3) return RecordStep::kEnd;
        cursor->listed = true;
        dep->record = at;
        return Take(r, length, dep);
    }
}

void SetDependencyStamp(unsigned char* record, uint16_t time, uint16_t date) {
    size_t last = 3 + Word(record + 1) - 1;  // the checksum byte
    unsigned sum = 0;
    for (size_t i = 0; i <= last; i++) sum += record[i];
    bool checked = sum % 256 == 0;
    record[kTimeAt] = static_cast<unsigned char>(time);
    record[kTimeAt + 1] = static_cast<unsigned char>(time >> 8);
    record[kDateAt] = static_cast<unsigned char>(date);
    record[kDateAt + 1] = static_cast<unsigned char>(date >> 8);
    if (!checked) return;
    sum = 0;
    for (size_t i = 0; i < last; i++) sum += record[i];
    record[last] = static_cast<unsigned char>(-sum);
}
