// With ZORBEX_AUTODEPEND=1, an object its source leaves up to date is read
// for the records its tool wrote of the files it read: a file that is gone,
// whose stamp is no longer the recorded one, or that is later than the
// object makes the module out of date.
#include <cstring>

#include "file.h"
#include "path.h"
#include "zorbex.h"

namespace {

// 0 marks a free slot.
uint32_t SlotHash(const char* name) {
    uint32_t h = NameHash(name, strlen(name), false);
    return h ? h : 1;
}

// A file named in records: its stamp, looked up once a run while the
// table has room, and after that at each record. False when not found.
bool IncludedStamp(Run* run, const char* name, FileStamp* stamp) {
    uint32_t h = SlotHash(name);
    size_t i = h % kIncludedFiles;
    for (; run->included_hash[i] != 0; i = (i + 1) % kIncludedFiles) {
        const IncludedFile& f = run->included[i];
        if (run->included_hash[i] == h && strcmp(f.name, name) == 0) {
            *stamp = f.stamp;
            return f.found;
        }
    }
    bool found = FindStamp(name, stamp) == 0;
    // Kept three quarters full at most, so a search soon meets a free slot.
    if (run->included_count < kIncludedFiles / 4 * 3) {
        run->included_count++;
        run->included_hash[i] = h;
        IncludedFile* f = &run->included[i];
        CopyCut(f->name, sizeof f->name, name);
        f->stamp = found ? *stamp : FileStamp{};
        f->found = found;
    }
    return found;
}

// A recorded name below the current directory, from there; else the name.
const char* FromCurrentDirectory(const Run* run, const char* name) {
    size_t n = run->current_dir_length;
    if (n == 0) return name;
    for (size_t i = 0; i < n; i++) {
        char a = name[i], b = run->current_dir[i];
        if (a != b && !(IsSeparator(a) && IsSeparator(b))) return name;
    }
    return IsSeparator(name[n]) && name[n + 1] != '\0' ? name + n + 1 : name;
}

// Whether the file a record names makes the module out of date; *source
// is set when the record names the module's source.
bool Changed(Run* run, const Dependency& dep, const Module& module, bool* source) {
    char name[kNameSize];  // a recorded name has at most 255 characters
    memcpy(name, dep.name, dep.length);
    name[dep.length] = '\0';
    const char* recorded = WithoutDrive(name);
    FileStamp now = module.source_stamp;
    // The source is recorded by the absolute name the driver found it by,
    // the tool having been given that very file; its stamp is at hand.
    if (SameName(recorded, module.source)) {
        *source = true;
    } else if (!IncludedStamp(run, FromCurrentDirectory(run, recorded), &now)) {
        return true;
    }
    // Later in UTC, which no change of the clocks turns back.
    const FileStamp& object = module.object_stamp;
    return !SameStamp(now, dep.date, dep.time) ||
           LaterStamp(now.utc_date, now.utc_time, object.utc_date, object.utc_time);
}

// Moves the block on to start at the file offset at, with what is kept of
// it and what follows read after. A read short of the room left is taken
// for the file's end. False when the file cannot be read.
bool ReadOn(Run* run, FileHandle file, ObjectBlock* block, size_t at) {
    unsigned char* bytes = run->object_block;
    size_t end = block->offset + block->size;
    size_t keep = 0;
    if (at < end) {
        keep = end - at;
        memmove(bytes, bytes + (at - block->offset), keep);
    }
    for (size_t skip = at > end ? at - end : 0; skip > 0;) {
        long n = ReadBlock(file, reinterpret_cast<char*>(bytes),
                           skip < kObjectBlockSize ? skip : kObjectBlockSize);
        if (n <= 0) {
            *block = ObjectBlock{bytes, 0, at - skip, true};
            return n == 0;
        }
        skip -= static_cast<size_t>(n);
    }
    long n = ReadBlock(file, reinterpret_cast<char*>(bytes + keep), kObjectBlockSize - keep);
    if (n < 0) return false;
    *block = ObjectBlock{bytes, keep + static_cast<size_t>(n), at,
                         static_cast<size_t>(n) < kObjectBlockSize - keep};
    return true;
}

}  // namespace

void StartDependencies(Run* run) {
    // Recorded names are absolute; those below the current directory are
    // looked up from it, with a shorter walk.
    size_t n = 0;
    if (FullPath(run->current_dir, sizeof run->current_dir, "") == 0) {
        n = strlen(run->current_dir);
        while (n > 0 && IsSeparator(run->current_dir[n - 1])) n--;
    }
    run->current_dir[n] = '\0';
    run->current_dir_length = n;
    run->included_count = 0;
    memset(run->included_hash, 0, sizeof run->included_hash);
}

bool DependenciesChanged(Run* run, const Module& module, FileHandle file) {
    if (file == kNoFile) return true;
    ObjectBlock block = {run->object_block, 0, 0, false};
    RecordCursor cursor = {};
    Dependency dep;
    bool source = false;
    bool changed = !ReadOn(run, file, &block, 0);
    while (!changed) {
        RecordStep step = NextDependency(block, &cursor, &dep);
        if (step == RecordStep::kMore) {
            changed = !ReadOn(run, file, &block, cursor.at);
        } else if (step == RecordStep::kDependency) {
            changed = Changed(run, dep, module, &source);
        } else {
            // Records that do not name the source were made of another
            // file: in another tree, or another source of the same name.
            changed = step == RecordStep::kDamaged || (step == RecordStep::kEnd && !source);
            break;
        }
    }
    CloseFile(file);
    return changed;
}
