// Case-insensitive name look-up with a cache of directory listings. Each
// listed directory is watched, and after a tool run or a deletion the changes
// it saw are applied to the listings, so a directory is read once per run
// however many tools add files to it.
#include "name_lookup_posix.h"

#include <dirent.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr uint32_t kEmpty = 0;
constexpr uint32_t kGone = UINT32_MAX;

// One directory: its entries' names one after another, each ended by a NUL,
// and an open-addressing table over them keyed by the upper-cased name, so
// the entries that differ only in case sit in one run of slots.
struct Listing {
    std::string dir;
    int watch;                    // -1: not watched, dropped at every change
    std::vector<char> names;
    std::vector<uint32_t> slots;  // offset into names plus one, kEmpty or kGone
    size_t live;
    size_t used;                  // slots not empty
};

std::vector<Listing> listings;
int watcher = -1;

char Upper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

uint32_t Hash(const char* name, size_t n) {
    uint32_t h = 2166136261u;
    for (size_t i = 0; i < n; i++) h = (h ^ static_cast<unsigned char>(Upper(name[i]))) * 16777619u;
    return h;
}

bool SameIgnoringCase(const char* a, const char* b, size_t n) {
    for (size_t i = 0; i < n; i++) {
        if (Upper(a[i]) != Upper(b[i])) return false;
    }
    return true;
}

void Place(Listing* l, uint32_t at) {
    const char* name = &l->names[at];
    size_t mask = l->slots.size() - 1;
    size_t s = Hash(name, strlen(name)) & mask;
    while (l->slots[s] != kEmpty) s = (s + 1) & mask;
    l->slots[s] = at + 1;
    l->used++;
}

// Rebuilds the table over the live names, with room for as many again.
void Reindex(Listing* l) {
    if (!l->slots.empty()) {
        std::vector<char> names;
        for (uint32_t slot : l->slots) {
            if (slot == kEmpty || slot == kGone) continue;
            const char* name = &l->names[slot - 1];
            names.insert(names.end(), name, name + strlen(name) + 1);
        }
        l->names.swap(names);
    }
    size_t size = 16;
    while (size < 4 * l->live + 4) size *= 2;
    l->slots.assign(size, kEmpty);
    l->used = 0;
    for (size_t at = 0; at < l->names.size(); at += strlen(&l->names[at]) + 1) {
        Place(l, static_cast<uint32_t>(at));
    }
}

// The slot of the entry that is exactly name, or of the first entry in byte
// order that matches it without regard to case; -1 when none does.
long FindSlot(const Listing& l, const char* name, size_t n, bool exact_only) {
    size_t mask = l.slots.size() - 1;
    long first = -1;
    for (size_t s = Hash(name, n) & mask; l.slots[s] != kEmpty; s = (s + 1) & mask) {
        if (l.slots[s] == kGone) continue;
        const char* entry = &l.names[l.slots[s] - 1];
        if (strlen(entry) != n || !SameIgnoringCase(entry, name, n)) continue;
        if (memcmp(entry, name, n) == 0) return static_cast<long>(s);
        if (!exact_only && (first < 0 || strcmp(entry, &l.names[l.slots[first] - 1]) < 0)) {
            first = static_cast<long>(s);
        }
    }
    return first;
}

// Returns false when the name cannot be held; the listing is then unusable.
bool Add(Listing* l, const char* name) {
    size_t n = strlen(name);
    if (FindSlot(*l, name, n, true) >= 0) return true;
    if (2 * (l->used + 1) > l->slots.size()) Reindex(l);
    if (l->names.size() + n + 1 >= UINT32_MAX) return false;
    l->names.insert(l->names.end(), name, name + n + 1);
    l->live++;
    Place(l, static_cast<uint32_t>(l->names.size() - n - 1));
    return true;
}

void Remove(Listing* l, const char* name) {
    long s = FindSlot(*l, name, strlen(name), true);
    if (s < 0) return;
    l->slots[s] = kGone;
    l->live--;
}

const Listing* ReadListing(const char* dir, size_t n) {
    std::string path(dir, n);
    const char* open_name = n == 0 ? "." : path.c_str();
    if (watcher < 0) watcher = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    // Watched before it is read, so no change falls between the two.
    int watch = watcher < 0 ? -1
                            : inotify_add_watch(watcher, open_name,
                                                IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO |
                                                    IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR);
    DIR* d = opendir(open_name);
    if (!d) return nullptr;
    Listing listing = {std::move(path), watch, {}, {}, 0, 0};
    while (dirent* e = readdir(d)) {
        listing.names.insert(listing.names.end(), e->d_name, e->d_name + strlen(e->d_name) + 1);
        listing.live++;
    }
    closedir(d);
    if (listing.names.size() >= UINT32_MAX) return nullptr;
    Reindex(&listing);
    listings.push_back(std::move(listing));
    return &listings.back();
}

const Listing* FindListing(const char* dir, size_t n, bool may_read) {
    for (const Listing& l : listings) {
        if (l.dir.size() == n && memcmp(l.dir.data(), dir, n) == 0) return &l;
    }
    return may_read ? ReadListing(dir, n) : nullptr;
}

const char* FindEntry(const Listing& l, const char* component, size_t n) {
    long s = FindSlot(l, component, n, false);
    return s < 0 ? nullptr : &l.names[l.slots[s] - 1];
}

// Drops the listings of dir/name and of everything below it, whose meaning
// changes when that name is added, removed or renamed.
void DropBelow(const std::string& dir, const char* name) {
    std::string prefix = dir.empty() ? name : dir + (dir.back() == '/' ? "" : "/") + name;
    for (size_t i = listings.size(); i-- > 0;) {
        const std::string& d = listings[i].dir;
        if (d.compare(0, prefix.size(), prefix) == 0 &&
            (d.size() == prefix.size() || d[prefix.size()] == '/')) {
            listings.erase(listings.begin() + static_cast<long>(i));
        }
    }
}

void Apply(const inotify_event* e) {
    // A watched directory moved or gone may change what any relative name
    // means, "..", for one: start again.
    if (e->mask & (IN_DELETE_SELF | IN_MOVE_SELF)) {
        listings.clear();
        return;
    }
    if (e->len == 0) return;
    std::vector<std::string> changed;
    for (Listing& l : listings) {
        if (l.watch != e->wd) continue;
        if ((e->mask & (IN_CREATE | IN_MOVED_TO)) && !Add(&l, e->name)) {
            listings.clear();
            return;
        }
        if (e->mask & (IN_DELETE | IN_MOVED_FROM)) Remove(&l, e->name);
        changed.push_back(l.dir);
    }
    for (const std::string& dir : changed) DropBelow(dir, e->name);
}

// Drops every listing that is not watched; reads the changes seen so far.
// Returns false when some were lost and every listing must go.
bool ReadChanges() {
    for (size_t i = listings.size(); i-- > 0;) {
        if (listings[i].watch < 0) listings.erase(listings.begin() + static_cast<long>(i));
    }
    if (watcher < 0) return true;
    alignas(inotify_event) char buf[65536];
    for (;;) {
        ssize_t got = read(watcher, buf, sizeof buf);
        if (got <= 0) return got == 0 || errno == EAGAIN;
        for (ssize_t at = 0; at < got;) {
            const inotify_event* e = reinterpret_cast<const inotify_event*>(buf + at);
            if (e->mask & IN_Q_OVERFLOW) return false;
            Apply(e);
            at += static_cast<ssize_t>(sizeof *e + e->len);
        }
    }
}

bool Append(char* out, size_t cap, size_t* len, const char* text, size_t n) {
    if (*len + n + 1 > cap) return false;
    memcpy(out + *len, text, n);
    *len += n;
    out[*len] = '\0';
    return true;
}

int Match(const char* path, char* out, size_t cap, bool may_read) {
    size_t len = 0;
    if (cap == 0) return -1;
    out[0] = '\0';
    const char* p = path;
    if (*p == '/') {
        if (!Append(out, cap, &len, "/", 1)) return -1;
        while (*p == '/') p++;
    }
    while (*p) {
        const char* end = strchr(p, '/');
        size_t n = end ? static_cast<size_t>(end - p) : strlen(p);
        const char* name = p;
        bool dots = (n == 1 && p[0] == '.') || (n == 2 && p[0] == '.' && p[1] == '.');
        if (!dots) {
            const Listing* listing = FindListing(out, len, may_read);
            if (!listing && !may_read) return 1;
            // An unreadable directory can still be passed through by name.
            if (listing) {
                name = FindEntry(*listing, p, n);
                if (!name) return -1;
                n = strlen(name);
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

}  // namespace

int SystemName(const char* name, char* out, size_t cap) {
    size_t n = strlen(name);
    if (n + 1 > cap) return -1;
    for (size_t i = 0; i <= n; i++) out[i] = name[i] == '\\' ? '/' : name[i];
    return 0;
}

// Before saying that nothing matches, the listings take in the changes seen
// since they were last brought up to date.
int MatchCase(const char* path, char* out, size_t cap) {
    if (Match(path, out, cap, true) == 0) return 0;
    ForgetListings();
    return Match(path, out, cap, true) == 0 ? 0 : -1;
}

int MatchCached(const char* path, char* out, size_t cap) {
    int r = Match(path, out, cap, false);
    if (r >= 0) return r;
    ForgetListings();
    return Match(path, out, cap, false);
}

void ForgetListings() {
    if (!ReadChanges()) listings.clear();
}
