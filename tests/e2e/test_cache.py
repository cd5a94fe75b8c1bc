# ZORBEX_CACHE: a compile whose command and files were seen before is taken
# from the cache. A row builds with the cache, deletes what the build made
# (as a fresh checkout has it), changes things and builds again: the tools
# that run then are those whose compile was not seen, and the output is
# that of the first build.
import os, re, shutil, subprocess, threading, time
import pytest
import runner
from runner import *
from server import nginx

FILES = {"MAIN.C": b'#include "GREET.H"\n', "GREET.H": b"\n", "UTIL.C": b"\n"}
PROJECT = "main.c\nutil.c\n"
MAIN, UTIL = f"WCC386 {NT} MAIN.C", f"WCC386 {NT} UTIL.C"
BOTH = [MAIN, UTIL, LINK]
ON = {"ZORBEX_CACHE": "CACHE"}  # from the current directory
EAST = {"TZ": "XST-3"}  # local time three hours after UTC


# The cache stores no result of a compile that began within a tick of the
# file clock after a file it read was written: such a file may have changed
# while it was read. Rows that write files then build wait that long first.
def settle():
    time.sleep(0.05)


def make(d, files):
    runner.make(d, files)
    settle()


def clean(d):
    for e in os.listdir(d):
        if e.upper().endswith((".OBJ", ".EXE", ".ERR")) or e == "STANDIN.LOG":
            os.remove(os.path.join(d, e))


COUNTS = ["hits", "misses", "stored", "removed", "uncached-forced", "uncached-shell", "uncached-files",
          "uncached-search", "uncached-clock", "uncached-changed"]


def stats(d, cache="CACHE"):
    words = (read(d, os.path.join(cache, "stats.txt")) or "").split()
    return dict(zip(words[::2], map(int, words[1::2])))


def counts(*values, **named):  # stats.txt of these counts in COUNTS' order, or by name, the rest 0
    return {**dict.fromkeys(COUNTS, 0), **dict(zip(COUNTS, values)), **{k.replace("_", "-"): v for k, v in named.items()}}


def entries(d, cache="CACHE"):  # the cache's entries, by name under the cache
    top = path(d, cache)
    return sorted(os.path.join(sub, e).decode() for sub in os.listdir(top) if os.path.isdir(os.path.join(top, sub))
                  for e in os.listdir(os.path.join(top, sub)))


def edit(d, changes):
    for name, content in changes.items():
        if content is None:  # touched only
            os.utime(path(d, name))
        else:
            with open(path(d, name), "wb") as f:
                f.write(content)


# id, changes before the second build (content; None: touched; a new
# project too), its environment, the tools it runs, the counts of both
# builds (hits, misses, stored), control lines, the first project, the
# first build's environment
ROWS = [
    ("hit", {}, {}, [LINK], (2, 2, 2)),
    ("source edited", {"MAIN.C": b'#include "GREET.H"\nint x;\n'}, {}, [MAIN, LINK], (1, 3, 3)),
    ("header edited", {"GREET.H": b"int y;\n"}, {}, [MAIN, LINK], (1, 3, 3)),
    # The content counts, not the stamp: the records get the new one.
    ("header touched", {"GREET.H": None, "MAIN.C": None}, {}, [LINK], (2, 2, 2)),
    ("header touched, records in local time", {"GREET.H": None}, EAST, [LINK], (2, 2, 2), ["* localtime"]),
    ("header touched, records with checksums", {"GREET.H": None}, {}, [LINK], (2, 2, 2), ["* checksum"]),
    ("option changed", {"ZORBEX.ZBX": b".wccopt -ox\n" + b(PROJECT)}, {},
     [f"WCC386 -ox {NT} MAIN.C", f"WCC386 -ox {NT} UTIL.C", LINK], (0, 4, 4)),
    ("target changed", {"ZORBEX.ZBX": b".target dos4g\n" + b(PROJECT)}, {},
     ["WCC386 /bt=DOS4G /d__DOS__ MAIN.C", "WCC386 /bt=DOS4G /d__DOS__ UTIL.C", LINK], (0, 4, 4)),
    ("INCLUDE changed", {}, {"INCLUDE": "elsewhere"}, BOTH, (0, 4, 4)),
    ("tool's own variable changed", {}, {"WCC386": "-zq"}, BOTH, (0, 4, 4)),
    ("a value under another variable", {}, {"INC386": "elsewhere"}, BOTH, (0, 4, 4), [], PROJECT,
     {"INCLUDE": "elsewhere"}),
    ("no records", {}, {}, [f"WCC386 -zld {NT} MAIN.C", f"WCC386 -zld {NT} UTIL.C", LINK], (0, 4, 0), [],
     ".wccopt -zld\n" + PROJECT),
    # Failed, though it made its object.
    ("failed compile", {"STANDIN.CTL": b""}, {}, [UTIL, LINK], (1, 3, 2), ["UTIL.C fail"]),
    ("output and diagnostics", {}, {}, [LINK], (2, 2, 2), ["MAIN.C print hello", "MAIN.C warn W131: no prototype"]),
    ("stale diagnostics removed", {"MAIN.err": b"old\n"}, {}, [LINK], (2, 2, 2)),
    ("verbose", {}, {"ZORBEX_VERBOSE": "1"}, [LINK], (2, 2, 2)),
]


@pytest.mark.parametrize("row", ROWS, ids=[r[0] for r in ROWS])
def test_cache(tmp_path, row):
    id, changes, env, tools, expected, ctl, project, first = row + ([], PROJECT, {})[len(row) - 5:]
    d = str(tmp_path)
    make(d, {**FILES, "ZORBEX.ZBX": b(project), "STANDIN.CTL": b("".join(c + "\n" for c in ctl))})
    code, out, err = run(d, env={**ON, "TZ": env.get("TZ", "UTC0"), **first})
    assert code == 0, err
    diagnostics = read(d, "MAIN.err")
    clean(d)
    edit(d, changes)
    settle()
    env = {**ON, **env}
    again = run(d, env=env)
    assert log(d) == [cmd(t) for t in tools] or (PARALLEL and sorted(log(d)) == sorted(map(cmd, tools)))
    if tools == [LINK]:
        shown = "".join(cmd(t) + " (cached)\n" for t in BOTH[:2]) + LINK + "\n"
        assert again == (0, out.replace(crlf(BANNER), crlf(BANNER + shown)) if "ZORBEX_VERBOSE" in env else out, err)
        assert read(d, "MAIN.err") == (None if "stale" in id else diagnostics)
        o, at = read(d, "MAIN.OBJ"), 0
        while "checksum" in id and o[at] != "\x96":  # each record's bytes add up to 0
            end = at + 3 + ord(o[at + 1]) + 256 * ord(o[at + 2])
            assert sum(map(ord, o[at:end])) % 256 == 0
            at = end
        # The records carry the files' stamps of now: up to date for them.
        os.remove(path(d, "STANDIN.LOG"))
        assert run(d, env={**env, "ZORBEX_AUTODEPEND": "1"})[:2] == (0, crlf(BANNER + NOTHING)) and log(d) == []
    assert again[0] == 0, again
    assert stats(d) == counts(*expected)


FLAT = [Row(f"size {value!r}", "a.obj\n", {}, f"Error: invalid ZORBEX_CACHE_SIZE value: {value}\n", 255,
            env={**ON, "ZORBEX_CACHE_SIZE": value}, left=[]) for value in ["0", "-1", "1.5", "1M"]]
FLAT += [
    Row("size unread without the cache", "a.obj\n", {"A.OBJ": OLD}, RELINK + done("A.EXE"),
        env={"ZORBEX_CACHE_SIZE": "x"}),
    Row("unset is off", "a.c\n", {"A.C": OLD}, done("A.EXE"), env={"ZORBEX_CACHE": ""}, left=["A.C", "A.EXE", "A.OBJ"]),
    # Too long a name is never cut to its parent's.
    Row("name too long", "a.c\n", {"A.C": OLD}, f"Error: invalid ZORBEX_CACHE value: {'C' * 271}\n", 255,
        env={"ZORBEX_CACHE": "C" * 271}, left=["A.C"]),
    Row("name too long once absolute", "a.c\n", {"A.C": OLD}, f"Error: invalid ZORBEX_CACHE value: {'C' * 258}\n",
        255, env={"ZORBEX_CACHE": "C" * 258}, left=["A.C"]),
    # Its output kept, a tool has ended when its interpreter has, whatever it left running.
    Row("process left behind", "a.c\n", {"A.C": OLD}, "a\n" + done("A.EXE"), env=ON,
        ctl=["A.C linger 30", "A.C print a"], within=10),
]


@pytest.mark.parametrize("r", FLAT, ids=ids(FLAT))
def test_settings(tmp_path, r):
    check(tmp_path, r)


# Compiles the cache cannot know to give the same object again: each is
# run, in the cold build and the warm one, and counted by why.
SHELL_VAR = per("$VER", "%VER%")
UNCACHED = [
    ("forced", "*main.c\nutil.c\n", {}, [], [MAIN], counts(1, 1, 1, uncached_forced=2)),
    ("the clock read in a header", PROJECT, {"GREET.H": b'char* t = __TIMESTAMP__;\n'}, [], [MAIN],
     counts(1, 3, 1, uncached_clock=2)),
    ("text the interpreter expands", f".wccopt -dV={SHELL_VAR}\n" + PROJECT, {}, [], BOTH[:2],
     counts(uncached_shell=4)),
    ("an option that makes another file", ".wccopt -adt\n" + PROJECT, {}, [], BOTH[:2], counts(uncached_files=4)),
    ("a search order not known", ".wccopt -xx\n" + PROJECT, {}, [], BOTH[:2], counts(uncached_search=4)),
    ("an include directory in quotes", '.wccopt -i="INC 2"\n' + PROJECT, {}, [], BOTH[:2], counts(uncached_search=4)),
    # Saved with its old stamp once the object was made: the object may
    # hold what the header was before.
    ("a header saved while compiled", PROJECT, {}, ["MAIN.C edit GREET.H"], [MAIN],
     counts(1, 3, 1, uncached_changed=2)),
]


@pytest.mark.parametrize("row", UNCACHED, ids=[r[0] for r in UNCACHED])
def test_uncached(tmp_path, row):
    id, project, files, ctl, compiled, expected = row
    d = str(tmp_path)
    make(d, {**FILES, **files, "ZORBEX.ZBX": b(project), "STANDIN.CTL": b("".join(c + "\n" for c in ctl))})
    env = {**ON, "VER": "1"}
    assert run(d, env=env)[0] == 0
    clean(d)
    settle()
    assert run(d, env=env)[0] == 0
    assert len(log(d)) == len(compiled) + 1 and stats(d) == expected


# A header made, after a build, where the compiler looks before the one it
# read: the next compile reads the new one, and so the cache must not
# answer for it.
SHADOWED = [
    ("-i=", ".wccopt -i=INC1 -i=INC2\n", {}, "INC1/CFG.H"),
    ("INCLUDE", "", {"INCLUDE": per("INC1:INC2", "INC1;INC2")}, "INC1/CFG.H"),
    ("the current directory", ".wccopt -i=INC2\n", {}, "CFG.H"),
    ("the source's directory", ".wccopt -i=INC2\n", {}, "SRC/CFG.H"),
]


@pytest.mark.parametrize("row", SHADOWED, ids=[r[0] for r in SHADOWED])
def test_shadowed(tmp_path, row):
    id, options, env, shadow = row
    d = str(tmp_path)
    make(d, {"SRC/MAIN.C": b'#include "CFG.H"\n', "UTIL.C": b"\n", "INC2/CFG.H": b"int two;\n", "INC1/X": b"",
             "ZORBEX.ZBX": b(options + "src/main.c\nutil.c\n")})
    assert run(d, env={**ON, **env})[0] == 0
    clean(d)
    make(d, {shadow: b"int one;\n"})
    assert run(d, env={**ON, **env})[0] == 0
    assert [t for t in log(d) if "UTIL" in t.upper()] == [] and len(log(d)) == 2
    assert shadow.replace("/", per("/", "\\")) in read(d, "MAIN.OBJ").upper()


# A header switched to another content and back: the first result is
# still there.
def test_switched_back(tmp_path):
    d = str(tmp_path)
    make(d, {**FILES, "ZORBEX.ZBX": b(PROJECT)})
    for content, tools in ((None, BOTH), (b"int v2;\n", [MAIN, LINK]), (b"\n", [LINK])):
        content and edit(d, {"GREET.H": content})
        settle()
        assert run(d, env=ON)[0] == 0 and sorted(log(d)) == sorted(map(cmd, tools))
        clean(d)


# The project's own directory as the cache, kept small: the trim removes
# entries only, never the user's files, even those named like entries.
def test_own_files_only(tmp_path):
    d = str(tmp_path)
    mine = {"BIG": b"B" * 1200000, "0123456789abcdef0123456789abcdef": b"\n", "00/notes": b"\n"}
    make(d, {**FILES, **mine, "ZORBEX.ZBX": b(PROJECT), "STANDIN.CTL": b"* flood 300000\n"})
    assert run(d, env={"ZORBEX_CACHE": ".", "ZORBEX_CACHE_SIZE": "1"})[0] == 0
    for name in [*FILES, *mine, "ZORBEX.ZBX", "MAIN.OBJ", "UTIL.OBJ", "MAIN.EXE", "CACHEDIR.TAG"]:
        assert read(d, name) is not None, name
    assert stats(d, ".")["removed"] == 1 and len(entries(d, ".")) == 2  # 00/notes and one entry


# Past a full disk (a file size limit here) results cannot be stored, and
# the trim still makes room.
@pytest.mark.skipif(WINDOWS, reason="a file size limit of POSIX")
def test_full_disk_trims(tmp_path):
    import resource
    d = str(tmp_path)
    modules = "".join(f"m{i}.c\n" for i in range(6))
    floods = "".join(f"M{i}.C flood 100000\n" for i in range(6))  # not the linker's: its output is not kept
    make(d, {**{f"M{i}.C": b"\n" for i in range(6)}, "ZORBEX.ZBX": b(modules), "STANDIN.CTL": b(floods)})
    assert run(d, env=ON)[0] == 0
    clean(d)
    edit(d, {"ZORBEX.ZBX": b".wccopt -ox\nm0.c\n"})
    limit = lambda: resource.setrlimit(resource.RLIMIT_FSIZE, (150000, 150000))
    assert run(d, env={**ON, "ZORBEX_CACHE_SIZE": "1"}, preexec_fn=limit)[0] == 0
    assert stats(d) == counts(0, 7, 6, 2)


# Names the cache writes at planted as links to another file: the file
# is never written through them.
def test_planted_links(tmp_path):
    d = str(tmp_path)
    links = {n: ("->", os.path.join(d, "VICTIM")) for n in ("CACHE/CACHEDIR.TAG", "CACHE/stats.txt", "~ZORBEX~.TMP")}
    make(d, {**FILES, "ZORBEX.ZBX": b(PROJECT), "VICTIM": b"mine\n", **links})
    for tools in (BOTH, [LINK]):
        clean(d)
        assert run(d, env=ON)[0] == 0 and sorted(log(d)) == sorted(map(cmd, tools))
    assert read(d, "VICTIM") == "mine\n"


# A damaged count counts from 0, each on its own; counts that cannot be
# written are said with ZORBEX_VERBOSE=1.
def test_damaged_counts(tmp_path):
    d = str(tmp_path)
    damaged = b"hits -5\nmisses x\nstored 123456789012345678901\nremoved 7\nuncached-forced 18446744073709551615\n"
    make(d, {**FILES, "ZORBEX.ZBX": b(PROJECT), "CACHE/stats.txt": damaged})
    assert run(d, env=ON)[0] == 0 and stats(d) == counts(0, 2, 2, 7)
    os.remove(path(d, "CACHE/stats.txt"))
    os.mkdir(path(d, "CACHE/stats.txt"))
    clean(d)
    code, out, err = run(d, env={**ON, "ZORBEX_VERBOSE": "1"})
    assert code == 0 and "Object cache counts not written: can't write in " in out


# Output and error in one file ("> log 2>&1"): from the cache, cold and
# warm, what a run without it writes there. So kept, a result is a miss
# where they are two files.
def test_one_file(tmp_path):
    d = str(tmp_path)
    make(d, {**FILES, "ZORBEX.ZBX": b(PROJECT), "STANDIN.CTL": b"MAIN.C run echo e>&2\nMAIN.C print a\nMAIN.C warn w\n"})
    alone = run(d, env={"ZORBEX_JOBS": "1"}, joined=True)
    for joined, tools in ((True, BOTH), (True, [LINK]), (False, [MAIN, LINK])):
        clean(d)
        assert run(d, env=ON, joined=joined) == (alone if joined else (
            0, crlf(BANNER + "a\n" + done("MAIN.EXE")), crlf("e\nWarning! w\n")))
        assert sorted(log(d)) == sorted(map(cmd, tools))


# A cache that cannot be written: the build goes on as without it, and
# with ZORBEX_VERBOSE=1 says so once.
def test_not_writable(tmp_path):
    d = str(tmp_path)
    make(d, {**FILES, "ZORBEX.ZBX": b(PROJECT), "CACHE": OLD})
    code, out, err = run(d, env={**ON, "ZORBEX_VERBOSE": "1"})
    assert code == 0 and out.count("Object cache not used from here on: can't write in ") == 1, out
    assert sorted(log(d)) == sorted(map(cmd, BOTH))


# A file of the cache cut, changed, swapped for another's or left empty is
# a miss, and is replaced: the next build takes it.
DAMAGE = [
    ("cut", lambda data, other: data[:-1]),
    ("a byte changed", lambda data, other: data[:40] + bytes([data[40] ^ 1]) + data[41:]),
    ("another key's file", lambda data, other: other),
    ("empty", lambda data, other: b""),
]


@pytest.mark.parametrize("how", DAMAGE, ids=[d[0] for d in DAMAGE])
def test_damaged(tmp_path, how):
    d = str(tmp_path)
    make(d, {**FILES, "ZORBEX.ZBX": b(PROJECT)})
    assert run(d, env=ON)[0] == 0
    names = [os.path.join(path(d, "CACHE"), b(n)) for n in entries(d)]
    data = [open(n, "rb").read() for n in names]
    for i, n in enumerate(names):
        with open(n, "wb") as f:
            f.write(how[1](data[i], data[1 - i]))
    for tools in (BOTH, [LINK]):
        clean(d)
        assert run(d, env=ON)[0] == 0 and log(d) == [cmd(t) for t in tools] or PARALLEL


# Two builds at once in two trees, on one cache directory or one server
# alone: each gets its objects, and the next builds take them all.
@pytest.mark.parametrize("share", ["directory", "server"])
def test_two_at_once(tmp_path, request, share):
    trees = [os.path.join(str(tmp_path), t) for t in ("FIRST", "SECOND")]
    env = {"ZORBEX_CACHE": os.path.join(str(tmp_path), "CACHE")} if share == "directory" else \
        {"ZORBEX_CACHE_REMOTE": request.getfixturevalue("nginx").url}
    for t in trees:
        make(t, {**{f"M{i}.C": b"int x%d;\n" % i for i in range(8)},
                 "ZORBEX.ZBX": b("".join(f"m{i}.c\n" for i in range(8)))})
    for tools in (8, 0):
        results = [None, None]
        threads = [threading.Thread(target=lambda i: results.__setitem__(i, run(trees[i], env=env)), args=(i,))
                   for i in range(2)]
        for t in threads:
            t.start()
        for t in threads:
            t.join()
        assert [r[:2] for r in results] == [(0, crlf(BANNER + done("M0.EXE")))] * 2
        for i, t in enumerate(trees):
            assert len(log(t)) == tools + 1 and ("FIRST", "SECOND")[i] in read(t, "M7.OBJ").upper()
            clean(t)


# Past its size, the least recently used results go until it holds 90%.
def test_size_limit(tmp_path):
    d = str(tmp_path)
    make(d, {**FILES, "ZORBEX.ZBX": b("main.c\nutil.c\ngreet.c\n"), "GREET.C": b"\n",
             "STANDIN.CTL": b("* flood 300000\n")})
    env = {**ON, "ZORBEX_CACHE_SIZE": "1"}
    assert run(d, env=env)[0] == 0
    assert stats(d) == counts(0, 3, 3, 2) and len(entries(d)) == 1


# Another tool program found first on the search path, then the same one
# changed: each is another compile.
def test_tool_changed(tmp_path):
    d = str(tmp_path)
    make(d, {**FILES, "ZORBEX.ZBX": b(PROJECT)})
    assert run(d, env=ON)[0] == 0
    tool = per("wcc386", "WCC386.EXE")
    os.makedirs(os.path.join(d, "BIN"))
    shutil.copy2(os.path.join(TOOLS, tool), os.path.join(d, "BIN", tool))
    first = {"WINEPATH": windows_name(os.path.join(d, "BIN")) + ";" + windows_name(TOOLS)} if WINDOWS else \
        {"PATH": os.path.join(d, "BIN") + os.pathsep + TOOLS + os.pathsep + os.environ["PATH"]}
    touch = lambda: os.utime(os.path.join(d, "BIN", tool), (0, 0))
    for change, tools in ((None, BOTH), (touch, BOTH), (None, [LINK])):
        change and change()
        clean(d)
        assert run(d, env={**ON, **first})[0] == 0
        assert sorted(log(d)) == sorted(map(cmd, tools))


# With nothing to build, the cache is not even looked at, nor its server.
@pytest.mark.skipif(WINDOWS or not shutil.which("strace"), reason="strace of the POSIX build")
def test_no_op_calls(tmp_path):
    d = str(tmp_path)
    make(d, {**FILES, "ZORBEX.ZBX": b(PROJECT)})
    assert run(d, env=ON)[0] == 0
    calls = []
    for env in ({}, ON, {**ON, "ZORBEX_CACHE_REMOTE": "http://127.0.0.1:9", "ZORBEX_CACHE_BASEDIR": ".."}):
        subprocess.run(["strace", "-o", "TRACE", *command()], cwd=d, env=environment({**env, "ASAN_OPTIONS": "detect_leaks=0"}),
                       stdout=subprocess.DEVNULL)
        calls.append(re.findall(r"^(\w+)\(", read(d, "TRACE"), re.M))
    assert calls[0] == calls[1] == calls[2]
