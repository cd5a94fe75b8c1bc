# Names on disk. Every name is upper-cased; on POSIX a name missing as
# written is matched without regard to ASCII case (the first match in byte
# order), links are followed and a directory is never a file. Windows
# ignores case itself and has its device names and code pages.
import time
import pytest
from runner import *

TREE = [[f"a{'bB'[i >> k & 1]}" for k in range(6)] for i in range(64)]
SPELLINGS = ["".join(c.upper() if i >> k & 1 else c for k, c in enumerate("abcd.c")) for i in range(64)]

ROWS = [
    # A tool is given each file as it is on disk; the directive file names
    # listed files so, and keeps the names of objects and the executable.
    Row("lower-case source", "main.c\n", {"main.c": OLD}, done("MAIN.EXE"),
        log=[f"WCC386 {NT} " + per("main.c", "MAIN.C"), LINK]),
    Row("names as on disk", "src\\lapi.c\nlib/util.cpp\nlib\\graph.obj\nlibs/x.lib\nnone.lib\n",
        {"src/lapi.c": OLD, "Lib/Util.Cpp": OLD, "Lib/graph.obj": OLD, "libs/X.lib": OLD},
        done("LAPI.EXE"), log=per([f"WCC386 {NT} src/lapi.c", f"WPP386 {NT} Lib/Util.Cpp", LINK],
                                  [f"WCC386 {NT} SRC\\LAPI.C", f"WPP386 {NT} LIB/UTIL.CPP", LINK]),
        lnk=["file LAPI.OBJ", "file UTIL.OBJ"] + per(["file Lib/graph.obj", "library libs/X.lib"],
            ["file LIB\\GRAPH.OBJ", "library LIBS/X.LIB"]) + ["library NONE.LIB", "name LAPI.EXE",
                                                              "system NT"],
        err=per("Warning! W1008: cannot open NONE.LIB\n", "")),
    Row("exact source first", "main.c\n", {"main.c": OLD, "MAIN.C": OLD}, done("MAIN.EXE"),
        log=[f"WCC386 {NT} MAIN.C", LINK], only="posix"),
    Row("stale lower-case object deleted", "main.c\n", {"main.c": NEW, "main.obj": OLD, "main.exe": OLD},
        done("MAIN.EXE"), left=["MAIN.EXE", "MAIN.OBJ", "main.c"]),
    # On POSIX the tools and the linker open names exactly: only the object
    # and the executable under their own names count.
    Row("object in another case", "main.c\n", {"main.c": OLD, "MAIN.obj": NEW, "MAIN.EXE": NEW},
        per(done("MAIN.EXE"), NOTHING), log=per([f"WCC386 {NT} main.c", LINK], []),
        left=per(["MAIN.EXE", "MAIN.OBJ", "main.c"], ["MAIN.EXE", "MAIN.obj", "main.c"])),
    Row("executable in another case", "main.c\n", {"main.c": OLD, "MAIN.OBJ": NEW, "main.exe": NEW},
        per(RELINK + done("MAIN.EXE"), NOTHING), left=per(["MAIN.EXE", "MAIN.OBJ", "main.c"],
                                                          ["MAIN.OBJ", "main.c", "main.exe"])),
    Row("lower-case executable deleted", "*main.c\n", {"main.c": OLD, "main.exe": OLD}, BADL, 255,
        ctl=["WLINK noout"], left=["MAIN.OBJ", "main.c"]),
    # No stale spelling of the output stands in for one the tool did not make.
    Row("stale objects in two cases", "a.c\n", {"A.C": NEW, "A.OBJ": OLD, "a.obj": OLD}, BADC, 255,
        ctl=["A.C noout", "A.C fail"], left=["A.C"], only="posix"),
    Row("stale executables in two cases", "main.c\n", {"MAIN.C": OLD, "MAIN.EXE": OLD, "main.exe": OLD},
        BADL, 255, ctl=["WLINK noout", "WLINK fail"], left=["MAIN.C", "MAIN.OBJ"], only="posix"),
    # A tool re-points the link the listed directory was reached through.
    Row("link re-pointed by a tool", "x\\src\\m1.c\nx\\src\\m2.c\n", {"X/a/m1.c": OLD,
        "X/a/m2.c": OLD, "X/b/m1.c": OLD, "X/b/M2.c": OLD, "X/SRC": ("->", "a")}, done("M1.EXE"),
        ctl=["M1.C run ln -sfn b X/SRC"], log=[f"WCC386 {NT} X/SRC/m1.c", f"WCC386 {NT} X/SRC/M2.c",
        LINK], only="posix", serial=True),
    # A tool makes the part as written beside the one matched: taken where the system tells of
    # changes; without, the listing read holds while what it names is there.
    Row("part made as written", "src\\a.c\nsrc\\b.c\n", {"Src/a.c": OLD, "Src/b.c": OLD}, done("A.EXE"),
        ctl=["A.C run mkdir SRC; cp Src/b.c SRC"], log=[f"WCC386 {NT} Src/a.c", f"WCC386 {NT} " +
        ("SRC/b.c" if NOTIFIED else "Src/b.c"), LINK], only="posix", serial=True),
    # Changes the listings are not told of: more than the system can queue, or one in the clock
    # tick of the change before, which leaves the change time as it was: d is read again.
    Row("changes unseen", "x.c\nd\\a.c\nd\\b.c\n", {"x.c": OLD, "d/a.c": OLD}, done("X.EXE"), serial=True,
        ctl=["X.C run touch d", "A.C run t=$(stat -c %.9Y d); seq -f d/%g.x $(cat /proc/sys/fs/inotify/"
             "max_queued_events) | xargs touch; touch d/b.c; touch -d @$t d"], only="posix"),
    # A tool moves a listed directory away and makes another in its place.
    Row("listed directory replaced", "x\\sub\\a.c\nx\\sub\\b.c\n", {"X/SUB/a.c": OLD}, done("A.EXE"),
        ctl=["A.C run cd X; mv SUB OLD; mkdir SUB; cp OLD/a.c SUB; touch SUB/b.c"], only="posix", serial=True),
    Row("lower-case tool output", "main.c\n", {"main.c": OLD}, per(BADL, done("MAIN.EXE")), per(255, 0),
        ctl=["WLINK lower"], left=["MAIN.OBJ", "main.c", "main.exe"]),
    Row("lower-case project", None, {"proj.zbx": b".nolink\n"}, "", args=["proj"]),
    Row("lower-case directories", None, {"sub/proj.zbx": b".nolink\n"}, "", args=["SUB/PROJ"]),
    Row("lower-case default project", None, {"zorbex.zbx": b".nolink\n"}, ""),
    # Several names that differ in case only: the exact one, else the first in byte order.
    Row("first of the case variants", "main.c\n", {"Main.c": "2020-06-03 00:00:00",
        "main.c": "2020-06-01 00:00:00", "MAIN.OBJ": "2020-06-02 00:00:00", "MAIN.EXE": OLD},
        done("MAIN.EXE"), only="posix"),
    Row("exact name first", "main.c\n", {"Main.c": "2020-06-03 00:00:00", "MAIN.C": OLD,
        "MAIN.OBJ": "2020-06-02 00:00:00", "MAIN.EXE": LATE}, NOTHING, only="posix"),
    # Each match in turn until the name is found.
    Row("directories in two cases", "src/main.c\n", {"Src/other.c": OLD, "src/main.c": OLD}, done("MAIN.EXE"),
        log=[f"WCC386 {NT} src/main.c", LINK], only="posix"),
    # With the listing read, the part as written first, then the others in byte order.
    Row("exact part first, then byte order", "other.c\nsrc/main.c\n", {"other.c": OLD, "SRC/x.c": OLD,
        "Src/main.c": OLD, "src/y.c": OLD}, done("OTHER.EXE"),
        log=[f"WCC386 {NT} other.c", f"WCC386 {NT} Src/main.c", LINK], only="posix"),
    # More spellings than are tried: the first in byte order still.
    Row("thirty-one spellings", "abcd.c\n", {n: OLD for n in SPELLINGS if n != "ABCD.C"}, done("ABCD.EXE"),
        log=[f"WCC386 {NT} ABCD.c", LINK], only="posix"),
    # Eight spellings of a part are tried, not a ninth.
    Row("eight spellings tried", "abcd.c\\x.c\nabcd.c\\y.c\n", {**{s: DIR for s in sorted(set(SPELLINGS))[1:8]},
        "AbCD.C/x.c": OLD, "AbCD.c/y.c": OLD}, "Error: ABCD.C\\Y.C not found\n", 255,
        log=[f"WCC386 {NT} AbCD.C/x.c"], only="posix"),
    # Nine parts that each match two directories, the first taken each time: at most eight are
    # come back to.
    Row("nine parts with two matches", "ab\\" * 9 + "x.c\n", {**{"aB/" * k + "ab": DIR for k in range(9)},
        "aB/" * 9 + "x.c": OLD}, done("X.EXE"), log=[f"WCC386 {NT} " + "aB/" * 9 + "x.c", LINK], only="posix"),
    # A part matching two directories on each of six levels, the file in the last of the 64 paths
    # and under a seventh part matching two or three: 64 returns to a part are made, not a 65th.
    *[Row(f"{n} returns", "ab\\" * 7 + "x.c\n", {**{"/".join(p): DIR for p in TREE}, **{"ab/" * 6 + m: DIR
          for m in more}, "ab/" * 7 + "x.c": OLD}, out, code, only="posix")
      for n, more, out, code in [(64, ["aB"], done("X.EXE"), 0),
                                 (65, ["Ab", "aB"], "Error: " + "AB\\" * 7 + "X.C not found\n", 255)]],
    # With the listing read: the exact name first, also among more spellings than are tried,
    # and in the table's first slot (where GJT.C's hash puts it).
    Row("exact names, listed", "main.c\nabcd.c\ngjt.c\n", {n: OLD for n in SPELLINGS + ["main.c", "GJT.C"]},
        done("MAIN.EXE"), log=[f"WCC386 {NT} {n}" for n in ["main.c", "ABCD.C", "GJT.C"]] + [LINK], only="posix"),
    # A part that begins or ends with dots is a name like any other.
    Row("dotted names", "d\\.x\\..x\\x.\\m.c\n", {"d/.x/..x/x./m.c": OLD}, done("M.EXE"),
        log=[f"WCC386 {NT} d/.x/..x/x./m.c", LINK], only="posix"),
    # A no-op run: each name is matched in its own directory, not in one matched lately.
    Row("directories matched lately", "b\\p.c\na\\q.c\nb\\pq.c\nx.c\nxy.c\nb\\z.c\n", {"b/p.c": OLD, "a/q.c": OLD,
        "b/pq.c": OLD, "x.c": OLD, "xy.c": OLD, **{f"{m}.OBJ": NEW for m in ["P", "Q", "PQ", "X", "XY"]},
        **{n: LATE for n in ["b/q.c", "b/x.c", "y.c"]}}, "Error: B\\Z.C not found\n", 255, log=[], only="posix"),
    # A no-op run over five directories: the directory matched lately for E is e, not a, whose
    # place among those kept it took, nor ".".
    Row("fifth directory matched lately", "".join(f"{c}\\{c}.c\n" for c in "abcde") + "e\\f.c\n",
        {**{f"{c}/{c}.c": OLD for c in "abcde"}, "e/f.c": OLD, "a/f.c": LATE, "f.c": LATE, **{f"{c}.OBJ": NEW for c in "ABCDEF"},
         "A.EXE": NEW}, NOTHING, only="posix"),
    # Only what the user typed is matched without regard to case.
    Row("sibling directory in another case", None, {"Work/proj.zbx": b".bogus\n", "work/proj.zbx": b".nolink\n"},
        "", args=["proj"], cwd="work", only="posix"),
    Row("directive file exact", "main.obj\n", {"~zorbex~.lnk": b"keep\n", "MAIN.OBJ": OLD},
        RELINK + done("MAIN.EXE"), left=["MAIN.EXE", "MAIN.OBJ", "~zorbex~.lnk"], only="posix"),
    Row("link followed", "main.c\n", {"real.c": OLD, "MAIN.C": ("->", "real.c"), "MAIN.OBJ": NEW,
        "MAIN.EXE": NEW}, NOTHING, only="posix"),
    Row("link loop", "main.c\n", {"main.c": ("->", "main.c")}, "Error: MAIN.C not found\n", 255, only="posix"),
    Row("file for a directory", "sub\\x.c\n", {"sub": OLD}, "Error: SUB\\X.C not found\n", 255, only="posix"),
    Row("link to a directory", "main.c\n", {"d": DIR, "MAIN.C": ("->", "d")},
        "Error: MAIN.C not found\n", 255, only="posix"),
    # ASCII letters only: É is not é, in UTF-8 or in Latin-1.
    Row("utf-8 only ascii case", ".nolink\ncaf\xc3\xa9.c\n", {"CAF\xc3\x89.C": OLD},
        "Error: CAF\xc3\xa9.C not found\n", 255, only="posix"),
    Row("latin-1 only ascii case", ".nolink\nna\xefve.c\n", {"NA\xcfVE.C": OLD},
        "Error: NA\xefVE.C not found\n", 255, only="posix"),
    Row("thousand separators are one", None, {"SUB/PROJ.ZBX": b".nolink\n"},
        per("", "Error: can't read sub" + "\\" * 1000 + "proj\n"), per(0, 255),
        args=["sub" + "\\" * 1000 + "proj"]),
    Row("deep name", None, {}, "Error: can't read " + per("{d}" + "D/" * 1000 + "PROJ.ZBX",
        "d/" * 1000 + "proj") + "\n", 255, args=["d/" * 1000 + "proj"]),
    Row("name too deep to hold", None, {}, "Error: can't read " + "d/" * 3000 + "proj\n", 255,
        args=["d/" * 3000 + "proj"]),
    # Windows: case is the file system's, and "con" the console, which a run
    # without one cannot open.
    Row("con is the console", None, {"CON.ZBX": b".nolink\n"}, "Error: can't read CON.ZBX\n", 255,
        args=["con"], only="windows"),
    Row("directive file in any case", "main.obj\n", {"~zorbex~.lnk": b"old\n"},
        RELINK + done("MAIN.EXE"), left=["MAIN.EXE"], only="windows"),
    # With the Japanese code page 0x95 0x5C is one character, whose second
    # byte is no separator; with a single-byte one it is.
    Row("double-byte name", "\x95\x5c.obj\n", {}, RELINK + done("\x95\x5c.EXE"),
        lnk=["file \x95\x5c.OBJ", "name \x95\x5c.EXE", "system NT"],
        env={"LC_ALL": "ja_JP.UTF-8", "LOCPATH": os.environ.get("ZORBEX_LOCALES", "")},
        left=["\xe8\xa1\xa8.EXE"], only="windows"),
    Row("single-byte name", "\x95\x5c.obj\n", per({"\x95\x5c.OBJ": OLD}, {}), RELINK + done(".EXE"),
        lnk=["file \x95\x5c.OBJ", "name .EXE", "system NT"], env={"LC_ALL": "C.UTF-8"}),
]


@pytest.mark.parametrize("r", ROWS, ids=ids(ROWS))
def test_names(tmp_path, r):
    check(tmp_path, r)


# A listing read in the second after its directory last changed cannot be
# told current by that change time: a tool's change in the same tick of the
# clock leaves the time as it was. What the tool made is found all the same.
@pytest.mark.skipif(WINDOWS, reason="POSIX listings")
def test_change_in_the_same_tick(tmp_path):
    d = str(tmp_path)
    make(d, {"sub/a.c": OLD, "ZORBEX.ZBX": b"sub\\a.c\nsub\\gen.c\n",
             "STANDIN.CTL": b"A.C run t=$(stat -c %.9Y sub); : >sub/gen.c; touch -d @$t sub\n"})
    time.sleep(1.05 - time.time() % 1)  # so that the run reads sub within this second
    changed = int(time.time()) - 0.001
    os.utime(path(d, "sub"), (changed, changed))
    assert run(d, env={"ZORBEX_JOBS": "1"})[:2] == (0, BANNER + done("A.EXE"))  # gen.c made before it is named
