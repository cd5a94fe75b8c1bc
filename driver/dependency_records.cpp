// Walking the records at the front of an object, without reading past the
// block in hand: each record is type, 16-bit length (little-endian, the
// checksum byte included), data, checksum.
#include "dependency_records.h"

#include <cstring>

#include "base_directory.h"

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

// The THEADR record's name is its data, after its length byte.
constexpr size_t kHeaderNameAt = 4;

// Whether the size bytes of a record add up to 0, as they do when it has a
// checksum (whose byte may then be 0 too); one without has a 0 byte there.
bool Checked(const unsigned char* record, size_t size) {
    unsigned sum = 0;
    for (size_t i = 0; i < size; i++) sum += record[i];
    return sum % 256 == 0;
}

// Sets the last of a record's size bytes, its checksum, so they add up to 0.
void SetChecksum(unsigned char* record, size_t size) {
    unsigned sum = 0;
    for (size_t i = 0; i + 1 < size; i++) sum += record[i];
    record[size - 1] = static_cast<unsigned char>(-sum);
}

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
        if (at == 0 && cursor->header) {
            if (have < total) return block.last ? RecordStep::kDamaged : RecordStep::kMore;
            cursor->at += total;
            *dep = Dependency{0, 0, reinterpret_cast<const char*>(r + kHeaderNameAt), r[3], 0};
            return RecordStep::kHeader;
        }
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
    size_t size = 3 + Word(record + 1);
    bool checked = Checked(record, size);
    record[kTimeAt] = static_cast<unsigned char>(time);
    record[kTimeAt + 1] = static_cast<unsigned char>(time >> 8);
    record[kDateAt] = static_cast<unsigned char>(date);
    record[kDateAt + 1] = static_cast<unsigned char>(date >> 8);
    if (checked) SetChecksum(record, size);
}

namespace {

// Appends the record at r, whose name is the length bytes at name, with
// the name dir followed by rest instead. False when that name is not one.
bool AppendRenamed(std::string* out, const unsigned char* r, const char* name, size_t length,
                   std::string_view dir, std::string_view rest) {
    size_t n = dir.size() + rest.size();
    if (n == 0 || n > 255 || dir.find('\0') != dir.npos) return false;
    // The fields before the name's length byte are kept.
    size_t fields = static_cast<size_t>(reinterpret_cast<const unsigned char*>(name) - r) - 1;
    size_t size = fields + 1 + n + 1;
    size_t at = out->size();
    out->append(reinterpret_cast<const char*>(r), fields);
    out->push_back(static_cast<char>(n));
    out->append(dir).append(rest);
    out->push_back(static_cast<char>(r[fields + 1 + length]));
    auto* record = reinterpret_cast<unsigned char*>(out->data() + at);
    record[1] = static_cast<unsigned char>((size - 3) & 0xFF);
    record[2] = static_cast<unsigned char>((size - 3) >> 8);
    if (Checked(r, fields + 1 + length + 1)) SetChecksum(record, size);
    return true;
}

}  // namespace

bool RebaseRecords(std::string_view object, std::string_view from, std::string_view to, std::string* out) {
    out->clear();
    bool windows_names = WindowsNames();
    // "to/x" for "from/x": the separator is the name's own.
    to = DirectoryStem(to, windows_names);
    const auto* bytes = reinterpret_cast<const unsigned char*>(object.data());
    ObjectBlock whole = {bytes, object.size(), 0, true};
    RecordCursor cursor = {};
    cursor.header = true;
    Dependency dep;
    RecordStep step;
    size_t kept = 0;  // the bytes up to here are in *out
    bool header = false;
    while ((step = NextDependency(whole, &cursor, &dep)) == RecordStep::kDependency || step == RecordStep::kHeader) {
        header = true;
        std::string_view name(dep.name, dep.length);
        size_t below = BelowDirectory(name, from, windows_names);
        if (below == std::string_view::npos) continue;
        out->append(object.substr(kept, dep.record - kept));
        if (!AppendRenamed(out, bytes + dep.record, dep.name, dep.length, to, name.substr(below))) return false;
        kept = dep.record + 3 + Word(bytes + dep.record + 1);
    }
    if (!header || (step != RecordStep::kEnd && step != RecordStep::kNone)) return false;
    out->append(object.substr(kept));
    return true;
}
