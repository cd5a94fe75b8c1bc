/* Stand-in compiler and linker for the benchmark: it only creates its output,
 * so that every build driver pays the same tiny cost per tool run.
 *
 * Installed as wcc386 it creates the file its "-fo=" argument names, else
 * the upper-cased base name of its last argument with ".OBJ" in the current
 * directory, after using BENCH_WORK_MS
 * milliseconds of processor time when that is set, as a real compiler would. Installed as wlink it reads every "@FILE"
 * argument through and creates the file named on a "name X" line of it, or
 * after a "name" argument.
 *
 * With BENCH_RECORDS set, the compiler's object is OMF as Watcom's compilers
 * write it: a header record, a dependency record (UTC stamp, full name) for
 * the source and for each file an `#include "NAME"` line names beside it,
 * the end of that list and an LNAMES record. */
#include <ctype.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

static int create(const char *name) {
    int fd = open(name, O_WRONLY | O_CREAT | O_TRUNC, 0666);
    if (fd < 0 || write(fd, "MZ", 2) != 2 || close(fd) != 0) {
        perror(name);
        return 1;
    }
    return 0;
}

static size_t record(unsigned char *out, int type, const unsigned char *data, size_t n) {
    out[0] = (unsigned char)type;
    out[1] = (unsigned char)((n + 1) & 255);
    out[2] = (unsigned char)((n + 1) >> 8);
    memcpy(out + 3, data, n);
    out[3 + n] = 0;
    return n + 4;
}

/* A dependency record for the file name, relative to the current directory. */
static size_t dependency(unsigned char *out, const char *name) {
    static char cwd[4096];
    unsigned char data[300] = {0x80, 0xE9};
    struct stat st;
    if (!cwd[0] && !getcwd(cwd, sizeof cwd - 1)) return 0;
    if (stat(name, &st) != 0) return 0;
    struct tm *t = gmtime(&st.st_mtime);
    unsigned time = (unsigned)(t->tm_hour << 11 | t->tm_min << 5 | t->tm_sec / 2);
    unsigned date = (unsigned)((t->tm_year - 80) << 9 | (t->tm_mon + 1) << 5 | t->tm_mday);
    int n = snprintf((char *)data + 7, 256, "%s/%s", cwd, name);
    if (n < 0 || n > 255) return 0;
    data[2] = (unsigned char)(time & 255), data[3] = (unsigned char)(time >> 8);
    data[4] = (unsigned char)(date & 255), data[5] = (unsigned char)(date >> 8);
    data[6] = (unsigned char)n;
    return record(out, 0x88, data, 7 + (size_t)n);
}

static int create_object(const char *name, const char *src) {
    static unsigned char obj[65536];
    static char text[16384], header[512];
    size_t len = record(obj, 0x80, (const unsigned char *)"\1x", 2);
    len += dependency(obj + len, src);
    FILE *f = fopen(src, "r");
    const char *slash = strrchr(src, '/');
    int dir = slash ? (int)(slash - src + 1) : 0;
    while (f && fgets(text, sizeof text, f) && len < sizeof obj - 600) {
        char *q = strchr(text, '"'), *e = q ? strchr(q + 1, '"') : NULL;
        if (strncmp(text, "#include \"", 10) != 0 || !e) continue;
        snprintf(header, sizeof header, "%.*s%.*s", dir, src, (int)(e - q - 1), q + 1);
        len += dependency(obj + len, header);
    }
    if (f) fclose(f);
    len += record(obj + len, 0x88, (const unsigned char *)"\x80\xE9", 2);
    len += record(obj + len, 0x96, (const unsigned char *)"", 1);
    int fd = open(name, O_WRONLY | O_CREAT | O_TRUNC, 0666);
    if (fd < 0 || write(fd, obj, len) != (ssize_t)len || close(fd) != 0) {
        perror(name);
        return 1;
    }
    return 0;
}

/* Reads a directive file in blocks; copies the value of its "name" line. */
static void read_directives(const char *file, char *out, size_t cap) {
    static char block[65536];
    char line[512];
    size_t len = 0;
    ssize_t n;
    int fd = open(file, O_RDONLY);
    if (fd < 0) return;
    while ((n = read(fd, block, sizeof block)) > 0) {
        for (ssize_t i = 0; i < n; i++) {
            if (block[i] != '\n') {
                if (len + 1 < sizeof line) line[len++] = block[i];
                continue;
            }
            line[len] = '\0';
            if (strncmp(line, "name ", 5) == 0) snprintf(out, cap, "%s", line + 5);
            len = 0;
        }
    }
    close(fd);
}

int main(int argc, char **argv) {
    const char *me = strrchr(argv[0], '/');
    me = me ? me + 1 : argv[0];
    char out[512] = "";
    if (strcmp(me, "wlink") == 0) {
        for (int i = 1; i < argc; i++) {
            if (argv[i][0] == '@') read_directives(argv[i] + 1, out, sizeof out);
            if (strcmp(argv[i], "name") == 0 && i + 1 < argc) snprintf(out, sizeof out, "%s", argv[++i]);
        }
    } else if (argc > 1) {
        const char *src = argv[argc - 1];
        const char *base = src;
        for (const char *p = src; *p; p++) {
            if (*p == '/' || *p == '\\') base = p + 1;
        }
        const char *dot = strrchr(base, '.');
        size_t n = dot ? (size_t)(dot - base) : strlen(base);
        snprintf(out, sizeof out, "%.*s.OBJ", (int)n, base);
        for (char *p = out; *p; p++) *p = (char)toupper((unsigned char)*p);
        for (int i = 1; i < argc; i++) {
            if (strncmp(argv[i], "-fo=", 4) == 0) snprintf(out, sizeof out, "%s", argv[i] + 4);
        }
        const char *work = getenv("BENCH_WORK_MS");
        if (work) {
            clock_t until = clock() + (clock_t)(atof(work) * CLOCKS_PER_SEC / 1000);
            while (clock() < until) {
            }
        }
    }
    if (out[0] == '\0') {
        fprintf(stderr, "%s: no output named\n", me);
        return 1;
    }
    if (argc > 1 && strcmp(me, "wlink") != 0 && getenv("BENCH_RECORDS")) return create_object(out, argv[argc - 1]);
    return create(out);
}
