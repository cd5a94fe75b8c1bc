// Plain files on POSIX.
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <ctime>
#include <cstdlib>
#include <cstring>

#include "file.h"
#include "interrupt.h"
#include "name_lookup_posix.h"
#include "text.h"

const char kLineEnd[] = "\n";

namespace {

bool Missing(int error) { return error == ENOENT || error == ENOTDIR; }

}  // namespace

FileHandle OpenForReading(const char* name) {
    char buf[kSystemNameSize];
    const char* path = SystemName(name, buf, sizeof buf);
    if (!path) return kNoFile;
    int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0 && Missing(errno)) {
        char matched[kSystemNameSize];
        if (MatchCase(path, matched, sizeof matched) == 0) fd = open(matched, O_RDONLY | O_CLOEXEC);
    }
    return fd < 0 ? kNoFile : fd;
}

FileHandle CreateForWriting(const char* name) {
    int fd = open(name, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    return fd < 0 ? kNoFile : fd;
}

FileHandle CreateExclusive(const char* name) {
    int fd = open(name, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    return fd < 0 ? kNoFile : fd;
}

long ReadBlock(FileHandle file, char* buf, size_t size) {
    for (;;) {
        ssize_t n = read(static_cast<int>(file), buf, size);
        if (n >= 0) return static_cast<long>(n);
        // A read from a pipe may wait long; an interrupt ends it.
        if (errno != EINTR || Interrupted()) return -1;
    }
}

int WriteBlock(FileHandle file, const char* buf, size_t size) {
    while (size > 0) {
        ssize_t n = write(static_cast<int>(file), buf, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return -1;
        buf += n;
        size -= static_cast<size_t>(n);
    }
    return 0;
}

int CloseFile(FileHandle file) {
    if (file == kNoFile) return 0;
    return close(static_cast<int>(file)) == 0 ? 0 : -1;
}

// Each spelling of the name in case goes, the one as written first, so that
// none is left to be taken for a file a tool was to make. The listings are
// watched rather than dropped, and each delete is applied to them: a tool
// follows, and a directory read for each delete would make a full build
// read it once per module.
int RemoveFile(const char* name) {
    char buf[kSystemNameSize];
    const char* path = SystemName(name, buf, sizeof buf);
    if (!path) return -1;
    ChangeStarting();
    int r = unlink(path) == 0 ? 0 : -1;
    if (r == 0) NameDeleted(path);
    char matched[kSystemNameSize];
    while (MatchListed(path, matched, sizeof matched) == 0 && unlink(matched) == 0) {
        r = 0;
        NameDeleted(matched);
    }
    return r;
}

// No listing is watched for it: nothing more is looked up after the
// directive file is deleted, and a watch costs the run its end.
int RemoveExactFile(const char* name) {
    if (unlink(name) != 0) return -1;
    NameDeleted(name);
    return 0;
}

// A tool's output put in place by the driver: the listings learn of it as
// of a tool's run.
int RenameFile(const char* from, const char* to) {
    ChangeStarting();
    int r = rename(from, to) == 0 ? 0 : -1;
    ToolRan();
    return r;
}

int MakeDirectories(const char* name) {
    struct stat st;
    if (stat(name, &st) == 0) return S_ISDIR(st.st_mode) ? 0 : -1;
    char path[kSystemNameSize];
    size_t n = strlen(name);
    if (n >= sizeof path) return -1;
    memcpy(path, name, n + 1);
    while (n > 1 && path[n - 1] == '/') path[--n] = '\0';
    char* cut = strrchr(path, '/');
    if (cut && cut > path) {
        *cut = '\0';
        if (MakeDirectories(path) != 0) return -1;
        *cut = '/';
    }
    return mkdir(path, 0777) == 0 || errno == EEXIST ? 0 : -1;
}

// A file moved into place keeps its time of writing, but not its status
// change time: the later of the two is when the file became what it is here.
int ChangedTime(const char* name, int64_t* when) {
    struct stat st;
    if (lstat(name, &st) != 0) return Missing(errno) ? 1 : -1;
    const timespec& t = st.st_ctim.tv_sec > st.st_mtim.tv_sec ||
                                (st.st_ctim.tv_sec == st.st_mtim.tv_sec && st.st_ctim.tv_nsec > st.st_mtim.tv_nsec)
                            ? st.st_ctim
                            : st.st_mtim;
    *when = static_cast<int64_t>(t.tv_sec) * 1000000000 + t.tv_nsec;
    return 0;
}

// The file system stamps a file by a clock that may lag this one by a
// tick of the system's, up to 10 ms; twice that is allowed for.
int64_t FileClockNow() {
    timespec t;
    clock_gettime(CLOCK_REALTIME, &t);
    return static_cast<int64_t>(t.tv_sec) * 1000000000 + t.tv_nsec - 20000000;
}

int TouchFile(const char* name) { return utimensat(AT_FDCWD, name, nullptr, 0) == 0 ? 0 : -1; }

// cppcheck-suppress ctuOneDefinitionRuleViolation
struct Listing {
    DIR* dir;
};

Listing* OpenListing(const char* directory) {
    DIR* dir = opendir(directory);
    Listing* l = dir ? static_cast<Listing*>(malloc(sizeof(Listing))) : nullptr;
    if (l) {
        l->dir = dir;
    } else if (dir) {
        closedir(dir);
    }
    return l;
}

bool NextListed(Listing* listing, ListedFile* file) {
    DIR* dir = listing->dir;
    while (const dirent* e = readdir(dir)) {
        struct stat st;
        if (fstatat(dirfd(dir), e->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(st.st_mode)) continue;
        CopyCut(file->name, sizeof file->name, e->d_name);
        file->size = static_cast<uint64_t>(st.st_size);
        file->modified = st.st_mtime;
        return true;
    }
    return false;
}

void CloseListing(Listing* listing) {
    closedir(listing->dir);
    free(listing);
}
