# Tools run several at once when ZORBEX_JOBS asks (rows without their own
# value follow the suite's): every decision and every byte of output is the
# sequential run's, whatever order the tools end in.
import pytest
from runner import *

FOUR = {"ZORBEX_JOBS": "4"}
ABCD = {"A.C": OLD, "B.C": OLD, "C.C": OLD, "D.C": OLD}
ROWS = [Row(f"jobs {value!r}", "a.obj\n", {}, f"Error: invalid ZORBEX_JOBS value: {value}\n", 255,
            env={"ZORBEX_JOBS": value}, left=[]) for value in ["65", " 2", "+2", "x"]]
ROWS += [
    Row("usage first", "a.obj\n", {}, USAGE, 255, args=["a", "b"], env={"ZORBEX_JOBS": "x"}),
    *[Row(f"jobs {v}", "a.obj\n", {"A.OBJ": OLD}, RELINK + done("A.EXE"), env={"ZORBEX_JOBS": v})
      for v in ["64", "0", "9"]],
    # Empty is one at a time: nothing starts beside a tool that then fails.
    Row("jobs ''", "a.c\nb.c\n", ABCD, BADC, 255, env={"ZORBEX_JOBS": ""},
        ctl=["A.C sleep 300", "A.C noout"], left=["A.C", "B.C", "C.C", "D.C"]),
    # Output in project order, whole, on both streams, however long.
    Row("output in project order", "a.c\nb.c\nc.c\n", ABCD, "a\nb\nc\n" + done("A.EXE"),
        ctl=["A.C sleep 400", "A.C print a", "B.C print b", "C.C sleep 200", "C.C print c"]),
    Row("megabytes", "a.c\nb.c\n", ABCD, "a\n" + "F" * 3000000 + done("A.EXE"), err="F" * 3000000,
        ctl=["A.C sleep 300", "A.C print a", "B.C flood 3000000"]),
    # In one file ("> log 2>&1"), output and error in the order the tool wrote them.
    Row("output and error in one file", "a.c\nb.c\n", ABCD, "e\na\nWarning! w\n" + done("A.EXE"), env=FOUR,
        joined=True, ctl=["A.C run echo e>&2", "A.C print a", "A.C warn w"]),
    # A tool has ended when its interpreter has, whatever it left running.
    Row("process left behind", "a.c\nb.c\n", ABCD, "a\n" + done("A.EXE"), ctl=["A.C linger 30", "A.C print a"],
        within=10),
    # Both make UTIL.OBJ: the second waits for the first, and is up to date.
    Row("one object, two modules", "src/util.c\nlib/util.c\n", {"SRC/UTIL.C": OLD, "LIB/UTIL.C": OLD},
        done("UTIL.EXE"), ctl=["UTIL.C sleep 300"], log=[f"WCC386 {NT} SRC/UTIL.C", LINK],
        lnk=["file UTIL.OBJ", "file UTIL.OBJ", "name UTIL.EXE", "system NT"]),
    # A directory listed while a tool runs, then changed by the tool within the second of its
    # change time, is read again; one the tool replaces is too where the system tells of
    # changes (without, a name still on disk is taken).
    Row("directory changed while listed", "util.c\n*sub\\util.asm\nsub\\b.c\n", {"util.c": OLD,
        "sub/util.asm": OLD}, done("UTIL.EXE"), env=FOUR, only="posix",
        ctl=["UTIL.C run sleep .3; t=$(stat -c %Y sub); touch sub/b.c; touch -d @$t.000000001 sub"]),
    # A directory listed while a tool runs that changes it before the next tool starts, here once
    # the first tool, whose object the third module makes too, has ended.
    Row("directory changed before watched", "x.c\nsub\\b.c\nlib\\x.c\nz.c\nsub\\gen.c\n", {"x.c": OLD,
        "lib/x.c": OLD, "z.c": OLD, "sub/b.c": OLD, "B.OBJ": NEW}, done("X.EXE"), env=FOUR, only="posix",
        ctl=["X.C run sleep .3; : >sub/gen.c"]),
    Row("directory replaced while listed", "util.c\n*sub\\util.asm\n", {"util.c": OLD, "sub/util.asm": OLD},
        done("UTIL.EXE"), env=FOUR, only="posix",
        ctl=["UTIL.C run sleep .3; mv sub previous; mkdir sub; touch sub/util.asm sub/UTIL.ASM"],
        log=[f"WCC386 {NT} util.c", "WASM /bt=NT sub/" + ("UTIL.ASM" if NOTIFIED else "util.asm"), LINK]),
    # The first failure in project order is reported, last; the tools
    # already started finish, and their objects stay; nothing is linked.
    Row("failure while others run", "a.c\nb.c\nc.c\nd.c\n", ABCD, "b\nc\n" + BADC, 255, env=FOUR,
        ctl=["A.C sleep 300", "A.C noout", "B.C print b", "C.C print c"],
        left=["A.C", "B.C", "B.OBJ", "C.C", "C.OBJ", "D.C", "D.OBJ"]),
    Row("tool fails before the line", "a.c\nb.c\n.bogus\n", ABCD, BADC, 255, env=FOUR,
        ctl=["A.C sleep 300", "A.C noout"]),
    # Nothing starts once a failure is known, also when it was met while
    # waiting for room in the full queue (256 tools).
    Row("full queue and a failure", "a.c\n" + "".join(f"m{i}.c\n" for i in range(2, 300)),
        {**{f"M{i}.C": OLD for i in range(2, 300)}, "A.C": OLD}, BADC, 255, env=FOUR,
        ctl=["A.C run for i in $(seq 400); do [ -e M256.OBJ ] && break; sleep .05; done; sleep .5",
             "A.C noout"], left=["A.C"] + [f"M{i}.C" for i in range(2, 300)] +
        [f"M{i}.OBJ" for i in range(2, 257)], only="posix"),
    # Nothing is written to TMPDIR.
    Row("no temporary directory", "a.c\nb.c\n", ABCD, done("A.EXE"), env={**FOUR, "TMPDIR": "/none"},
        only="posix"),
    Row("line fails", "a.c\nb.c\n.bogus\n", ABCD, "Invalid directive: .bogus\n", 255, env=FOUR,
        ctl=["A.C sleep 300"], left=["A.C", "A.OBJ", "B.C", "B.OBJ", "C.C", "D.C"]),
]


@pytest.mark.parametrize("r", ROWS, ids=ids(ROWS))
def test_parallel(tmp_path, r):
    check(tmp_path, r)
