/* The floor: only the work that no driver can avoid on an up-to-date project.
 * Reads the project file in large blocks, upper-cases each module name, looks
 * up the source and its object, writes one directive line per module in large
 * blocks, and at the end looks up the executable and deletes the directive
 * file. Exits 1 when a module would need rebuilding. */
#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

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
    if (stat(name, &src) != 0) stale = 1;
    else if (stat(object, &obj) != 0 || src.st_mtime > obj.st_mtime) stale = 1;
}

int main(int argc, char **argv) {
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
