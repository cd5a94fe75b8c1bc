/* Stand-in compiler and linker for the benchmark: it only creates its output,
 * so that every build driver pays the same tiny cost per tool run.
 *
 * Installed as wcc386 it creates the file its "-fo=" argument names, else
 * the upper-cased base name of its last argument with ".OBJ" in the current
 * directory, after using BENCH_WORK_MS
 * milliseconds of processor time when that is set, as a real compiler would. Installed as wlink it reads every "@FILE"
 * argument through and creates the file named on a "name X" line of it, or
 * after a "name" argument. */
#include <ctype.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
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
    return create(out);
}
