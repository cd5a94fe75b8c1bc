/* The floor: only the work that no driver can avoid on an up-to-date project.
 * Reads the project file in large blocks, upper-cases each module name, looks
 * up the source and its object, writes one directive line per module in large
 * blocks, and at the end looks up the executable and deletes the directive
 * file. Exits 1 when a module would need rebuilding.
 * With FLOOR_RECORDS set, as ZORBEX_AUTODEPEND=1 asks: the object is opened
 * instead of looked up, its first 4 KiB read, and each file its dependency
 * records name, but the source, looked up once a run by its name below the
 * current directory and compared with the recorded UTC stamp. */
#include <fcntl.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

enum { kSeen = 1024 };  /* as ZORBEX, names kept while three quarters are free */
static char seen[kSeen][64], cwd[4096];
static time_t seen_time[kSeen];
static size_t cwd_len, seen_count;

/* DOS date and time words in UTC, by arithmetic alone: days to a civil date. */
static unsigned dos(time_t t) {
    long long days = t / 86400, s = t % 86400;
    if (s < 0) s += 86400, days--;
    long long z = days + 719468, era = (z >= 0 ? z : z - 146096) / 146097, doe = z - era * 146097;
    long long yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    long long doy = doe - (365 * yoe + yoe / 4 - yoe / 100), mp = (5 * doy + 2) / 153;
    long long d = doy - (153 * mp + 2) / 5 + 1, m = mp < 10 ? mp + 3 : mp - 9, y = yoe + era * 400 + (m <= 2);
    return (unsigned)((y - 1980) << 25 | m << 21 | d << 16 | s / 3600 << 11 | s % 3600 / 60 << 5 | s % 60 / 2);
}

/* The stamp of a named file, looked up once; -1 when it is not there. */
static time_t once(const char *name) {
    if (strncmp(name, cwd, cwd_len) == 0 && name[cwd_len] == '/') name += cwd_len + 1;
    uint32_t h = 2166136261u;
    for (const char *p = name; *p; p++) h = (h ^ (unsigned char)*p) * 16777619u;
    size_t i = h % kSeen;
    for (; seen[i][0] != '\0'; i = (i + 1) % kSeen) {
        if (strcmp(seen[i], name) == 0) return seen_time[i];
    }
    struct stat st;
    time_t t = stat(name, &st) == 0 ? st.st_mtime : -1;
    if (seen_count < kSeen / 4 * 3) {
        seen_count++;
        snprintf(seen[i], sizeof seen[i], "%.63s", name);
        seen_time[i] = t;
    }
    return t;
}

/* Whether the records of an open object leave it up to date. */
static int records_current(int fd, const struct stat *obj, const char *source, time_t source_time) {
    unsigned char b[4096];
    ssize_t n = read(fd, b, sizeof b);
    char name[256];
    unsigned object = dos(obj->st_mtime);
    int any = 0;  /* without records, the source alone counts */
    for (ssize_t at = 3 + (n > 2 ? b[1] | b[2] << 8 : 0); n > 0 && at + 3 <= n;) {
        size_t len = b[at + 1] | b[at + 2] << 8;
        if (b[at] == 0x96 || at + 3 + (ssize_t)len > n) return b[at] == 0x96 || !any;
        unsigned char *r = b + at + 3;
        if (b[at] == 0x88 && len > 8 && r[1] == 0xE9 && 7 + (size_t)r[6] < len) {
            any = 1;
            memcpy(name, r + 7, r[6]);
            name[r[6]] = '\0';
            const char *base = strrchr(name, '/');
            time_t t = base && strcmp(base + 1, source) == 0 ? source_time : once(name);
            unsigned stamp = (unsigned)(r[4] | r[5] << 8) << 16 | (unsigned)(r[2] | r[3] << 8);
            if (t < 0 || dos(t) != stamp || stamp > object) return 0;
        }
        at += 3 + (ssize_t)len;
    }
    return !any;
}

static char in[65536], out[65536], line[256], exe[300] = "PROG.EXE";
static size_t used;
static int lnk, stale;

static void flush(void) {
    if (write(lnk, out, used) != (ssize_t)used) _exit(2);
    used = 0;
}

static void put(const char *a, const char *b) {
    size_t na = strlen(a), nb = strlen(b);
    if (used + na + nb + 1 > sizeof out) flush();
    memcpy(out + used, a, na);
    memcpy(out + used + na, b, nb);
    used += na + nb;
    out[used++] = '\n';
}

static void module(char *name) {
    struct stat src, obj;
    for (char *p = name; *p; p++) *p = *p >= 'a' && *p <= 'z' ? (char)(*p - 32) : *p;
    if (strncmp(name, ".EXENAME ", 9) == 0) {
        snprintf(exe, sizeof exe, "%s%s", name + 9, strchr(name + 9, '.') ? "" : ".EXE");
        return;
    }
    if (name[0] == '.') return;
    char *base = strrchr(name, '/') ? strrchr(name, '/') + 1 : name, object[300];
    size_t n = strcspn(base, ".");
    memcpy(object, base, n);
    memcpy(object + n, ".OBJ", 5);
    put("file ", object);
    if (stat(name, &src) != 0) {
        stale = 1;
    } else if (cwd_len) {
        int fd = open(object, O_RDONLY | O_CLOEXEC);
        if (fd < 0 || fstat(fd, &obj) != 0 || src.st_mtime > obj.st_mtime ||
            !records_current(fd, &obj, base, src.st_mtime)) {
            stale = 1;
        }
        if (fd >= 0) close(fd);
    } else if (stat(object, &obj) != 0 || src.st_mtime > obj.st_mtime) {
        stale = 1;
    }
}

int main(int argc, char **argv) {
    const char *records = getenv("FLOOR_RECORDS");
    if (records && *records && getcwd(cwd, sizeof cwd)) cwd_len = strlen(cwd);
    int fd = open(argc > 1 ? argv[1] : "ZORBEX.ZBX", O_RDONLY);
    lnk = open("~FLOOR~.LNK", O_WRONLY | O_CREAT | O_TRUNC, 0666);
    if (fd < 0 || lnk < 0) return 2;
    size_t len = 0;
    ssize_t n;
    while ((n = read(fd, in, sizeof in)) > 0) {
        for (ssize_t i = 0; i < n; i++) {
            if (in[i] != '\n' && len + 1 < sizeof line) line[len++] = in[i];
            if (in[i] != '\n') continue;
            line[len] = '\0';
            len = 0;
            if (line[0] && line[0] != ';') module(line);
        }
    }
    close(fd);
    put("name ", exe);
    put("system ", "NT");
    struct stat st;
    flush();
    if (close(lnk) != 0) return 2;
    if (stat(exe, &st) != 0) stale = 1;
    unlink("~FLOOR~.LNK");
    puts(stale ? "stale" : "No modules need recompiling.");
    return stale;
}
