# ZORBEX_AUTODEPEND=1: a module its own source leaves up to date is rebuilt
# when the dependency records in its object name a file that is gone, whose
# stamp is not the recorded one, or that is later than the object. A row
# builds with the stand-ins, which record what they read, changes files (to
# a time; None deletes; a function rewrites an object, its time kept), and
# runs again.
import shutil
import pytest
from runner import *

ON = {"ZORBEX_AUTODEPEND": "1"}
EAST = {**ON, "TZ": "XST-3"}  # local time three hours after UTC
FILES = {"MAIN.C": b'#include "GREET.H"\n', "GREET.H": b"\n"}
SHARED = {"A.C": b'#include "COMMON.H"\n', "B.C": b'#include "COMMON.H"\n', "COMMON.H": b"\n"}
MAIN = [f"WCC386 {NT} MAIN.C", LINK]

# id, files, changes, environment, out, tools run, control lines
ROWS = [
    ("header edited", FILES, {"GREET.H": NEW}, ON, done("MAIN.EXE"), MAIN),
    ("header unchanged, records in UTC", FILES, {}, EAST, NOTHING, []),
    ("records in local time", FILES, {}, EAST, NOTHING, [], ["* localtime"]),
    ("header deleted", FILES, {"GREET.H": None}, ON, BADC, MAIN[:1]),
    ("header's stamp moved back", FILES, {"GREET.H": "2019-01-01 00:00:00"}, ON, done("MAIN.EXE"), MAIN),
    ("header later than the object", {**FILES, "GREET.H": NEW}, {"MAIN.OBJ": "2020-03-01 12:00:00"}, ON,
     done("MAIN.EXE"), MAIN),
    ("switch off", FILES, {"GREET.H": NEW}, {"ZORBEX_AUTODEPEND": "0"}, NOTHING, []),
    ("object not OMF", FILES, {"GREET.H": NEW, "MAIN.OBJ": lambda o: b"MZ"}, ON, NOTHING, []),
    ("damaged list", FILES, {"MAIN.OBJ": lambda o: o[:-8]}, ON, done("MAIN.EXE"), MAIN),
    ("C++ and assembler", {"MAIN.CPP": FILES["MAIN.C"], "A.ASM": b"include INC.INC\n", "INC.INC": b"\n",
                           "GREET.H": b"\n"}, {"INC.INC": NEW, "GREET.H": NEW}, ON, done("MAIN.EXE"),
     [f"WPP386 {NT} MAIN.CPP", "WASM /bt=NT A.ASM", LINK]),
    ("two modules share an edited header", SHARED, {"COMMON.H": NEW}, ON, done("A.EXE"),
     [f"WCC386 {NT} A.C", f"WCC386 {NT} B.C", LINK]),
    # Later in UTC: the clocks went back an hour between the object and the header.
    ("header edited as the clocks go back", {**FILES, "GREET.H": "2031-10-26 01:40:00"},
     {"MAIN.OBJ": "2031-10-26 01:20:00"}, {**ON, "TZ": "XST-0:30YST-1:30,M3.5.0,M10.5.0/3"}, done("MAIN.EXE"), MAIN),
    # Records of the Windows-hosted tools: "Z:\" is the root.
    ("names with a drive", FILES, {}, ON, NOTHING, [], ["* wine"]),
    # Run in P: a header of PX is not below the current directory.
    ("header in a directory named as this one and more", {"P/MAIN.C": b'#include "../PX/GREET.H"\n',
                                                           "PX/GREET.H": b"\n"}, {}, ON, NOTHING, [], [], "P"),
]


def change(d, name, how):
    p, t = path(d, name), os.stat(path(d, name)).st_mtime
    if how is None:
        return os.remove(p)
    if callable(how):
        with open(p, "rb") as f:
            data = how(f.read())
        with open(p, "wb") as f:
            f.write(data)
    else:
        t = calendar.timegm(time.strptime(how, "%Y-%m-%d %H:%M:%S"))
    os.utime(p, (t, t))


@pytest.mark.parametrize("row", ROWS, ids=[r[0] for r in ROWS])
def test_autodepend(tmp_path, row):
    id, files, changes, env, out, tools, ctl, where = row + ([], "")[len(row) - 6:]
    d, here = str(tmp_path), os.path.join(str(tmp_path), where)
    project = "".join(n[len(where):].lstrip("/").lower() + "\n" for n in files if n[-2:] not in (".H", "NC"))
    make(d, {**files, os.path.join(where, "ZORBEX.ZBX"): b(project),
             os.path.join(where, "STANDIN.CTL"): b("".join(c + "\n" for c in ctl))})
    assert run(d, env={**ON, "TZ": env.get("TZ", "UTC0")}, cwd=here)[0] == 0
    os.remove(path(here, "STANDIN.LOG"))
    for name, how in changes.items():
        change(d, name, how)
    code, stdout, err = run(d, env=env, cwd=here)
    assert (code, stdout) == (255 if out == BADC else 0, crlf(BANNER + out)), err
    tools = [cmd(t) for t in tools]
    assert log(here) == tools or (PARALLEL and sorted(log(here)) == sorted(tools))
    # Each included file is looked up once, however many modules include it.
    if files is SHARED and not WINDOWS and shutil.which("strace"):
        change(d, "COMMON.H", OLD)
        subprocess.run(["strace", "-o", "TRACE", *command()], cwd=d, env=environment(env), stdout=subprocess.DEVNULL)
        assert read(d, "TRACE").count("COMMON.H") == 1
        assert '"COMMON.H"' in read(d, "TRACE"), "looked up from the current directory"


FLAT = [
    Row("invalid value", "a.obj\n", {}, "Error: invalid ZORBEX_AUTODEPEND value: 01\n", 255,
        env={"ZORBEX_AUTODEPEND": "01"}, left=[]),
    Row("empty is off", "main.c\n", {"MAIN.C": OLD, "MAIN.OBJ": NEW, "MAIN.EXE": NEW}, NOTHING,
        env={"ZORBEX_AUTODEPEND": ""}),
    # Two modules make one object: the second reads it once the first has
    # made it, and its records name the first one's source.
    Row("another source of the name", "src/util.c\nlib/util.c\n", {"SRC/UTIL.C": OLD, "LIB/UTIL.C": OLD},
        done("UTIL.EXE"), ctl=["UTIL.C sleep 300"], env=ON,
        log=[f"WCC386 {NT} SRC/UTIL.C", f"WCC386 {NT} LIB/UTIL.C", LINK]),
    # Only the object under its own name is opened, and never waited on.
    Row("named pipe in another case", "main.c\n", {"MAIN.C": OLD, "main.obj": FIFO}, done("MAIN.EXE"), env=ON,
        log=[MAIN[0], LINK], left=["MAIN.C", "MAIN.EXE", "MAIN.OBJ"], only="posix"),
]


@pytest.mark.parametrize("r", FLAT, ids=ids(FLAT))
def test_settings(tmp_path, r):
    check(tmp_path, r)


# A tree copied elsewhere: its objects' records name the first tree's
# files, so each module is built once more, and then is up to date.
def test_copied_tree(tmp_path):
    first, copy = os.path.join(str(tmp_path), "first"), os.path.join(str(tmp_path), "copy")
    make(first, {**FILES, "ZORBEX.ZBX": b"main.c\n"})
    assert run(first, env=ON)[0] == 0
    shutil.copytree(first, copy, symlinks=True)
    assert run(copy, env=ON)[:2] == (0, crlf(BANNER + done("MAIN.EXE")))
    assert run(copy, env=ON)[:2] == (0, crlf(BANNER + NOTHING))
