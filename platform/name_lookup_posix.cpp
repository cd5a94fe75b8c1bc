// Case-insensitive name look-up with a cache of directory listings. A name
// missing as written is matched one component at a time: a component that
// is there as written is taken so, and only a directory where it is not is
// read; when several of its entries match, each is tried in byte order until
// the rest of the name is found. Before a tool runs, each listed directory
// is watched where the system can (directory_watch_posix.h), and afterwards
// the changes it saw are applied to the listings, so a directory is read
// once per run however many tools add files to it. A listing that cannot
// be watched is kept too: what it holds is checked on disk by the caller,
// and a look-up that misses in it reads it again once its directory has
// changed, so a full build does not read a directory once per tool either.
// A run that starts no tool sets no watch: closing a watch at exit makes
// the system wait for a grace period of several milliseconds, as long as
// the rest of a small run.
#include "name_lookup_posix.h"

#include <dirent.h>
#include <errno.h>
#include <sys/stat.h>
#include <time.h>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "directory_watch_posix.h"
#include "text.h"

namespace {

constexpr uint32_t kEmpty = 0;
constexpr uint32_t kGone = UINT32_MAX;
constexpr size_t kHead = 14;

// A name's place in a listing, with the hash of its upper-cased form, its
// length and its first characters kept beside it: a look-up reads the table
// at one place and, for a name of up to kHead characters, nothing else,
// since on a large directory each read elsewhere is a cache miss.
struct Slot {
    uint32_t at;  // offset into names plus one, kEmpty or kGone
    uint32_t hash;
    uint16_t len;
    char head[kHead];
};

// A name in the listing's text before it has a slot.
struct Entry {
    uint32_t at;
    uint32_t hash;
};

// One directory: its entries' names one after another, each ended by a NUL,
// and an open-addressing table over them keyed by the upper-cased name, so
// the entries that differ only in case sit in one run of slots.
struct Listing {
    std::string dir;
    int watch;  // -1: not watched
    timespec changed;  // the directory's change time when it was read
    dev_t device;      // and which directory it was, for a link re-pointed
    ino_t inode;
    // A change in the same tick of the clock as the one before it leaves
    // the change time as it was: a listing read so soon after a change
    // cannot be told current by that time.
    bool recent;
    unsigned checked;  // the epoch up to which an unwatched listing is known current
    std::vector<char> names;
    std::vector<Slot> slots;
    size_t used;  // slots not empty
};

std::vector<Listing> listings;

// Counts the moments after which a tool or a delete may have changed any
// directory: before each tool runs, after each ends, at each delete.
unsigned epoch = 0;

// A watched directory that holds a symbolic link on the way to a listed
// one: a tool that re-points the link changes what the listing's name
// means, and only the link's own directory sees it.
struct LinkGuard {
    int watch;
    std::string dir;
};
std::vector<LinkGuard> guards;

uint32_t Hash(const char* name, size_t n) { return NameHash(name, n, true); }

const char* NameOf(const Listing& l, const Slot& slot) { return &l.names[slot.at - 1]; }

// The first slot to try: the hash scaled to the table, whose size need not
// be a power of two.
size_t Home(uint32_t hash, size_t size) {
    return static_cast<size_t>((static_cast<uint64_t>(hash) * size) >> 32);
}

size_t Next(size_t s, size_t size) { return s + 1 == size ? 0 : s + 1; }

void Place(Listing* l, Entry e) {
    const char* name = &l->names[e.at - 1];
    size_t n = strlen(name);
    Slot slot = {e.at, e.hash, static_cast<uint16_t>(n), {}};
    memcpy(slot.head, name, n < kHead ? n : kHead);
    size_t size = l->slots.size();
    size_t s = Home(e.hash, size);
    while (l->slots[s].at != kEmpty) s = Next(s, size);
    l->slots[s] = slot;
    l->used++;
}

// Builds the table over the given names at most half full, so that a third
// as many again can be added before it is rebuilt.
void Build(Listing* l, const std::vector<Entry>& entries) {
    l->slots.assign(2 * entries.size() + 16, Slot{kEmpty, 0, 0, {}});
    l->used = 0;
    for (const Entry& e : entries) Place(l, e);
}

bool Full(const Listing& l) { return 3 * (l.used + 1) > 2 * l.slots.size(); }

// Drops the names of removed entries and rebuilds the table.
void Reindex(Listing* l) {
    std::vector<char> names;
    std::vector<Entry> kept;
    for (const Slot& slot : l->slots) {
        if (slot.at == kEmpty || slot.at == kGone) continue;
        const char* name = NameOf(*l, slot);
        kept.push_back({static_cast<uint32_t>(names.size() + 1), slot.hash});
        names.insert(names.end(), name, name + slot.len + 1);
    }
    l->names.swap(names);
    Build(l, kept);
}

// The slot of the entry that is exactly name, or -1.
long FindSlot(const Listing& l, const char* name, size_t n) {
    size_t size = l.slots.size();
    uint32_t h = Hash(name, n);
    for (size_t s = Home(h, size); l.slots[s].at != kEmpty; s = Next(s, size)) {
        const Slot& slot = l.slots[s];
        if (slot.at != kGone && slot.hash == h && slot.len == n && memcmp(NameOf(l, slot), name, n) == 0) {
            return static_cast<long>(s);
        }
    }
    return -1;
}

// Returns false when the name cannot be held; the listing is then unusable.
bool Add(Listing* l, const char* name) {
    size_t n = strlen(name);
    if (FindSlot(*l, name, n) >= 0) return true;
    if (Full(*l)) Reindex(l);
    if (n > UINT16_MAX || l->names.size() + n + 1 >= UINT32_MAX) return false;
    l->names.insert(l->names.end(), name, name + n + 1);
    Place(l, {static_cast<uint32_t>(l->names.size() - n), Hash(name, n)});
    return true;
}

void Remove(Listing* l, const char* name) {
    long s = FindSlot(*l, name, strlen(name));
    if (s < 0) return;
    l->slots[s].at = kGone;
}

bool SameTime(const timespec& a, const timespec& b) {
    return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

const char* OpenName(const Listing& l) { return l.dir.empty() ? "." : l.dir.c_str(); }

// Reads the directory's entries into l, replacing what it held. False when
// it cannot be read.
bool Fill(Listing* l) {
    DIR* d = opendir(OpenName(*l));
    if (!d) return false;
    // Taken before the entries, so a change while they are read shows too.
    struct stat st;
    timespec now;
    if (fstat(dirfd(d), &st) != 0 || clock_gettime(CLOCK_REALTIME_COARSE, &now) != 0) {
        closedir(d);
        return false;
    }
    l->changed = st.st_mtim;
    l->device = st.st_dev;
    l->inode = st.st_ino;
    l->recent = st.st_mtim.tv_sec + 1 >= now.tv_sec;
    l->checked = epoch;
    l->names.clear();
    std::vector<Entry> entries;
    bool fits = true;
    while (dirent* e = readdir(d)) {
        size_t len = strlen(e->d_name);
        if (len > UINT16_MAX || l->names.size() + len + 1 >= UINT32_MAX) fits = false;
        if (!fits) continue;
        entries.push_back({static_cast<uint32_t>(l->names.size() + 1), Hash(e->d_name, len)});
        l->names.insert(l->names.end(), e->d_name, e->d_name + len + 1);
    }
    closedir(d);
    Build(l, fits ? entries : std::vector<Entry>{});
    return fits;
}

Listing* ReadListing(const char* dir, size_t n) {
    Listing listing = {std::string(dir, n), -1, {}, 0, 0, false, 0, {}, {}, 0};
    if (!Fill(&listing)) return nullptr;
    listings.push_back(std::move(listing));
    return &listings.back();
}

// Whether the directory has not changed since the listing was read, as far
// as its change time tells.
bool Unchanged(const Listing& l) {
    struct stat st;
    return stat(OpenName(l), &st) == 0 && SameTime(st.st_mtim, l.changed) &&
           st.st_dev == l.device && st.st_ino == l.inode;
}

// Whether an unwatched listing may lack an entry made since it was read.
// One found current is not asked again until the next epoch.
bool MayBeStale(Listing* l) {
    if (l->watch >= 0 || l->checked == epoch) return false;
    if (l->recent || !Unchanged(*l)) return true;
    l->checked = epoch;
    return false;
}

Listing* FindListing(const char* dir, size_t n) {
    for (Listing& l : listings) {
        if (l.dir.size() == n && memcmp(l.dir.data(), dir, n) == 0) return &l;
    }
    return nullptr;
}

// The length of a name's directory part: up to its last "/".
size_t DirLength(const char* path) {
    const char* slash = strrchr(path, '/');
    return slash ? static_cast<size_t>(slash + 1 - path) : 0;
}

// Whether the component (n characters at name) is an entry of the directory
// matched so far, the first len characters of out (what follows them is
// scratch), exactly as written.
bool ExistsAsWritten(char* out, size_t cap, size_t len, const char* name, size_t n) {
    struct stat st;
    return Append(out, cap, &len, name, n) && lstat(out, &st) == 0;
}

// Several entries may match a component without regard to case; so many
// are tried at most, and so many tries made for one name.
constexpr size_t kCandidates = 8;
constexpr int kTries = 64;

// The slots of the entries that match the component of n characters: the
// one that is exactly it first, then the others in byte order. Returns
// how many, at most kCandidates.
size_t Candidates(const Listing& l, const char* name, size_t n, size_t* found) {
    size_t size = l.slots.size(), count = 0;
    uint32_t h = Hash(name, n);
    long exact = -1;
    for (size_t s = Home(h, size); l.slots[s].at != kEmpty; s = Next(s, size)) {
        const Slot& slot = l.slots[s];
        if (slot.at == kGone || slot.hash != h || slot.len != n) continue;
        const char* entry = n <= kHead ? slot.head : NameOf(l, slot);
        if (memcmp(entry, name, n) == 0) {
            exact = static_cast<long>(s);
            continue;
        }
        if (!SamePrefix(entry, name, n)) continue;
        // Insertion in byte order; when every place is taken the last drops out.
        size_t i = count < kCandidates ? count++ : kCandidates;
        for (; i > 0 && strcmp(NameOf(l, slot), NameOf(l, l.slots[found[i - 1]])) < 0; i--) {
            if (i < kCandidates) found[i] = found[i - 1];
        }
        if (i < kCandidates) found[i] = s;
    }
    if (exact >= 0) {
        if (count < kCandidates) count++;
        for (size_t i = count - 1; i > 0; i--) found[i] = found[i - 1];
        found[0] = static_cast<size_t>(exact);
    }
    return count;
}

// The entry's name, not ended by a NUL, and its length in *len; taken from
// the slot when it is held there whole.
const char* EntryName(const Listing& l, size_t s, size_t* len) {
    const Slot& slot = l.slots[s];
    *len = slot.len;
    return slot.len <= kHead ? slot.head : NameOf(l, slot);
}

// Drops the listings of dir/name and of everything below it, whose meaning
// changes when that name is added, removed or renamed. A directory, here as
// in a listing, is empty or ends in "/".
void DropBelow(const std::string& dir, const char* name) {
    std::string prefix = dir + name + "/";
    for (size_t i = listings.size(); i-- > 0;) {
        if (listings[i].dir.compare(0, prefix.size(), prefix) == 0) {
            listings.erase(listings.begin() + static_cast<long>(i));
        }
    }
}

void Apply(const Change& c) {
    // A watched directory moved or gone may change what any relative name
    // means, "..", for one: start again.
    if (c.what == DirectoryChange::kGone) {
        listings.clear();
        return;
    }
    std::vector<std::string> changed;
    for (const LinkGuard& g : guards) {
        if (g.watch == c.watch) changed.push_back(g.dir);
    }
    for (Listing& l : listings) {
        if (l.watch != c.watch) continue;
        if (c.what == DirectoryChange::kAdded && !Add(&l, c.name)) {
            listings.clear();
            return;
        }
        if (c.what == DirectoryChange::kRemoved) Remove(&l, c.name);
        changed.push_back(l.dir);
    }
    for (const std::string& dir : changed) DropBelow(dir, c.name);
}

// Reads the changes seen in the watched directories. Returns false when
// some were lost and every listing must go.
bool ReadChanges() {
    Change c;
    while (NextChange(&c)) {
        if (c.what == DirectoryChange::kLost) return false;
        Apply(c);
    }
    return true;
}

bool IsDots(const char* p, size_t n) {
    return (n == 1 && p[0] == '.') || (n == 2 && p[0] == '.' && p[1] == '.');
}

// The directory parts of the last few names matched and what each matched,
// the directory of the listing their last component was found in: names
// come in runs from a few directories (sources from one, objects from
// another), so most matches need only their last component looked up.
struct Recent {
    std::string from;
    std::string to;
    bool used = false;
};
constexpr int kRecent = 4;
Recent recent[kRecent];
int next_recent = 0;

bool AnyRecent() {
    for (const Recent& r : recent) {
        if (r.used) return true;
    }
    return false;
}

void ForgetRecent() {
    for (Recent& r : recent) r.used = false;
}

const Recent* FindRecent(const char* path, size_t dir_len) {
    for (const Recent& r : recent) {
        if (r.used && r.from.size() == dir_len && memcmp(r.from.data(), path, dir_len) == 0) return &r;
    }
    return nullptr;
}

// The last component, last_len characters after dir_len, looked up in r's
// listing. A miss there is no answer: the name may be found elsewhere.
int MatchRecent(const Recent& r, const char* path, size_t dir_len, size_t last_len, char* out,
                size_t cap) {
    const Listing* l = FindListing(r.to.data(), r.to.size());
    size_t found[kCandidates];
    if (!l || Candidates(*l, path + dir_len, last_len, found) == 0) return -1;
    size_t n;
    const char* name = EntryName(*l, found[0], &n);
    size_t len = 0;
    return Append(out, cap, &len, r.to.data(), r.to.size()) && Append(out, cap, &len, name, n) ? 0 : -1;
}

// Past the first few names the strings hold their room: no allocation.
void Remember(const char* path, size_t dir_len, const char* out, size_t out_len) {
    Recent& r = recent[next_recent];
    next_recent = (next_recent + 1) % kRecent;
    r.from.assign(path, dir_len);
    r.to.assign(out, out_len);
    r.used = true;
}

// A component that matched several entries, to come back to when the rest
// of the name is not found under the one taken.
struct Choice {
    const char* at;  // the component in the path
    size_t len;      // the length of the match before it
    size_t next;     // the candidate to try next
};

// may_read: a listing not read yet may be read, else the answer is 1.
// recheck: a miss in a listing that may be stale reads it again, else the
// miss stands.
int Match(const char* path, char* out, size_t cap, bool may_read, bool recheck) {
    size_t len = 0;
    if (cap == 0) return -1;
    size_t dir_len = DirLength(path);
    const Recent* r = FindRecent(path, dir_len);
    if (r && MatchRecent(*r, path, dir_len, strlen(path + dir_len), out, cap) == 0) return 0;
    out[0] = '\0';
    const char* p = path;
    if (*p == '/') {
        if (!Append(out, cap, &len, "/", 1)) return -1;
        while (*p == '/') p++;
    }
    Choice choices[kCandidates];
    size_t depth = 0, skip = 0;
    int tries = 0;
    while (*p) {
        const char* end = strchr(p, '/');
        size_t n = end ? static_cast<size_t>(end - p) : strlen(p);
        const char* name = p;
        if (!IsDots(p, n)) {
            Listing* listing = FindListing(out, len);
            if (!listing && !may_read) return 1;
            // A directory is read only when the component is not there as
            // written; an unreadable one can still be passed through by name.
            if (!listing && !ExistsAsWritten(out, cap, len, p, n)) listing = ReadListing(out, len);
            if (listing) {
                size_t found[kCandidates];
                size_t count = Candidates(*listing, p, n, found);
                if (count == 0 && skip == 0 && recheck && MayBeStale(listing)) {
                    if (!may_read) return 1;
                    Fill(listing);
                    count = Candidates(*listing, p, n, found);
                }
                if (skip >= count) {
                    if (depth == 0 || ++tries > kTries) return -1;
                    const Choice& back = choices[--depth];
                    p = back.at;
                    len = back.len;
                    skip = back.next;
                    continue;
                }
                if (skip + 1 < count && depth < kCandidates) choices[depth++] = {p, len, skip + 1};
                name = EntryName(*listing, found[skip], &n);
                skip = 0;
                if (!end) Remember(path, dir_len, out, len);
            }
        }
        if (!Append(out, cap, &len, name, n)) return -1;
        p += end ? static_cast<size_t>(end - p) : strlen(p);
        if (*p == '/') {
            if (!Append(out, cap, &len, "/", 1)) return -1;
            while (*p == '/') p++;
        }
    }
    return 0;
}

void TakeChanges() {
    ForgetRecent();
    if (!ReadChanges()) listings.clear();
}

// A name matched through the listings was not there after all: drops the
// listings that a tool may have changed since they were last found
// current. False when there were none, and the miss stands.
bool DropStaleListings() {
    bool dropped = false;
    ForgetRecent();
    for (size_t i = listings.size(); i-- > 0;) {
        if (listings[i].watch < 0 && listings[i].checked != epoch) {
            listings.erase(listings.begin() + static_cast<long>(i));
            dropped = true;
        }
    }
    return dropped;
}

// A name matched through the listings that is not there may have been
// matched through one a tool has changed since: once more without those.
bool StatMatched(const char* path, char* matched, struct stat* st) {
    for (int tries = 0; tries < 2; tries++) {
        if (MatchCase(path, matched, kSystemNameSize) != 0) return false;
        if (stat(matched, st) == 0) return true;
        if (errno != ENOENT && errno != ENOTDIR) return false;
        if (!DropStaleListings()) return false;
    }
    return false;
}

}  // namespace

const char* SystemName(const char* name, char* buf, size_t cap) {
    size_t n = strlen(name);
    if (n + 1 > cap) return nullptr;
    if (!strchr(name, '\\')) return name;
    for (size_t i = 0; i <= n; i++) buf[i] = name[i] == '\\' ? '/' : name[i];
    return buf;
}

// Before saying that nothing matches, the listings take in the changes seen
// since they were last brought up to date.
int MatchCase(const char* path, char* out, size_t cap) {
    if (Match(path, out, cap, true, true) == 0) return 0;
    TakeChanges();
    return Match(path, out, cap, true, true) == 0 ? 0 : -1;
}

int MatchListed(const char* path, char* out, size_t cap) {
    return Match(path, out, cap, true, false) == 0 ? 0 : -1;
}

int MatchCached(const char* path, char* out, size_t cap) {
    // Without a listing of the directory the name starts from (the root, or
    // the current directory) nothing is known of it, unless its directory
    // part was matched lately: the common case of names that exist as
    // written, in a run that listed only the project file's directories.
    if (!FindListing(path, path[0] == '/' ? 1 : 0) && !AnyRecent()) return 1;
    int r = Match(path, out, cap, false, true);
    if (r >= 0) return r;
    TakeChanges();
    return Match(path, out, cap, false, true);
}

// Watches the directory of each symbolic link among the parts of dir.
// Returns false when one cannot be watched.
bool GuardLinks(const std::string& dir) {
    for (size_t end = dir.find('/', 1); end != std::string::npos; end = dir.find('/', end + 1)) {
        std::string part = dir.substr(0, end);
        struct stat st;
        if (lstat(part.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) continue;
        size_t cut = part.rfind('/');
        std::string parent = cut == std::string::npos ? "" : part.substr(0, cut + 1);
        int watch = WatchDirectory(parent.empty() ? "." : parent.c_str());
        if (watch < 0) return false;
        bool known = false;
        for (const LinkGuard& g : guards) known = known || (g.watch == watch && g.dir == parent);
        if (!known) guards.push_back({watch, parent});
    }
    return true;
}

void ChangeStarting() {
    epoch++;
    for (size_t i = listings.size(); i-- > 0;) {
        Listing& l = listings[i];
        if (l.watch >= 0) continue;
        l.watch = WatchDirectory(OpenName(l));
        // One that cannot be watched is kept, and checked when a look-up
        // misses. One watched is checked once watched, so no change falls
        // between the check and the watch.
        if (l.watch >= 0 && (!GuardLinks(l.dir) || !Unchanged(l))) {
            listings.erase(listings.begin() + static_cast<long>(i));
        }
    }
}

void ToolRan() {
    epoch++;
    TakeChanges();
}

void NameDeleted(const char* path) {
    size_t dir_len = DirLength(path);
    Listing* l = FindListing(path, dir_len);
    if (l) Remove(l, path + dir_len);
    epoch++;
    TakeChanges();
}


const char* LocateFile(const char* name, char* buf, char* matched, struct stat* st) {
    const char* path = SystemName(name, buf, kSystemNameSize);
    if (!path) return nullptr;
    const char* found = path;
    // Once a directory has been listed, its listing tells the name on disk
    // without a look-up that is bound to fail.
    int cached = MatchCached(path, matched, kSystemNameSize);
    if (cached < 0) return nullptr;
    if (cached == 0) found = matched;
    if (stat(found, st) != 0) {
        if (errno != ENOENT && errno != ENOTDIR) return nullptr;
        if (cached == 0 && !DropStaleListings()) return nullptr;
        if (!StatMatched(path, matched, st)) return nullptr;
        found = matched;
    }
    return S_ISDIR(st->st_mode) ? nullptr : found;
}

