// Case-insensitive name look-up with a cache of directory listings, so a
// project of many modules whose files are named in lower case reads each
// directory once between two tool runs.
#include "name_lookup_posix.h"

#include <dirent.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

namespace {

struct Listing {
    std::string dir;
    // Each entry is its upper-cased name, a NUL, then the name itself, sorted:
    // the matches of one name stand together, the first in byte order first.
    std::vector<std::string> entries;
};

std::vector<Listing> listings;

char Upper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

std::string Key(const char* name, size_t n) {
    std::string key(name, n);
    for (char& c : key) c = Upper(c);
    key.push_back('\0');
    return key;
}

const Listing* ReadListing(const std::string& dir) {
    for (const Listing& l : listings) {
        if (l.dir == dir) return &l;
    }
    DIR* d = opendir(dir.empty() ? "." : dir.c_str());
    if (!d) return nullptr;
    Listing listing;
    listing.dir = dir;
    while (dirent* e = readdir(d)) {
        size_t n = strlen(e->d_name);
        std::string entry = Key(e->d_name, n);
        entry.append(e->d_name, n);
        listing.entries.push_back(std::move(entry));
    }
    closedir(d);
    std::sort(listing.entries.begin(), listing.entries.end());
    listings.push_back(std::move(listing));
    return &listings.back();
}

// The entry of dir that is component exactly, else the first one that matches
// it without regard to case; null when none does.
const char* FindEntry(const Listing& listing, const char* component, size_t n) {
    std::string key = Key(component, n);
    auto it = std::lower_bound(listing.entries.begin(), listing.entries.end(), key);
    const char* first = nullptr;
    for (; it != listing.entries.end() && it->compare(0, key.size(), key) == 0; ++it) {
        const char* name = it->c_str() + key.size();
        if (!first) first = name;
        if (strlen(name) == n && memcmp(name, component, n) == 0) return name;
    }
    return first;
}

bool Append(char* out, size_t cap, size_t* len, const char* text, size_t n) {
    if (*len + n + 1 > cap) return false;
    memcpy(out + *len, text, n);
    *len += n;
    out[*len] = '\0';
    return true;
}

}  // namespace

int SystemName(const char* name, char* out, size_t cap) {
    size_t n = strlen(name);
    if (n + 1 > cap) return -1;
    for (size_t i = 0; i <= n; i++) out[i] = name[i] == '\\' ? '/' : name[i];
    return 0;
}

int MatchCase(const char* path, char* out, size_t cap) {
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
            std::string dir(out, len);
            const Listing* listing = ReadListing(dir);
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

void ForgetListings() { listings.clear(); }
