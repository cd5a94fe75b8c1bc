# The command line, the project file's name and its lines: what each rule
# does to the run, one row a rule.
import pytest
from runner import *

OBJ_ONLY = ["file A.OBJ", "name A.EXE", "system NT"]


# Listed objects only: nothing is compiled and the missing executable makes
# the program link, so the directive file shows what was read.
def objects(project, lnk, exe="A.EXE", files=(), **kw):
    listed = {x.split(" ", 1)[1]: OLD for x in lnk if x.startswith(("file ", "library "))}
    return dict(project=project, files={**listed, **dict(files)}, out=RELINK + done(exe), log=[LINK],
                lnk=lnk, **kw)


ROWS = [
    # Command line and project file name
    Row("two arguments", "main.c\n", {}, USAGE, 255, args=["a", "b"], left=[]),
    Row("slash question", "main.c\n", {}, USAGE, 255, args=["/?"]),
    Row("question inside", "main.c\n", {}, USAGE, 255, args=["pro?j"]),
    Row("default missing", None, {}, "Error: can't read ZORBEX.ZBX\n", 255),
    Row("default is a directory", None, {"ZORBEX.ZBX": DIR}, "Error: can't read ZORBEX.ZBX\n", 255),
    Row("gets .ZBX", None, {}, "Error: can't read {d}PROJ.ZBX\n", 255, args=["proj"]),
    Row("keeps extension", None, {}, "Error: can't read {d}PROJ.MAK\n", 255, args=["proj.mak"]),
    Row("dots resolved", None, {}, "Error: can't read {d}PROJ.ZBX\n", 255, args=["./sub/../proj"]),
    Row("ends in separator", None, {"sub": DIR}, per("Error: can't read {d}SUB/.ZBX\n",
        "Error: can't read {d}SUB\\.ZBX\n"), 255, args=["sub/"]),
    Row("empty argument", None, {}, "Error: can't read {dir}.ZBX\n", 255, args=[""]),
    Row("name shorter than the default", None, {}, per("Error: can't read /P.MK\n",
        "Error: can't read Z:\\P.MK\n"), 255, args=["/p.mk"]),
    Row("console name stays", None, {}, "Error: can't read CON.ZBX\n", 255, args=["Con"]),
    Row("named project is read", None, {"PROJ.MAK": b".nolink\n"}, "", args=["proj.mak"]),
    Row("directive file cannot be made", "main.c\n", {"MAIN.C": OLD, "~ZORBEX~.LNK": DIR},
        "Error: can't create temporary file ~ZORBEX~.LNK\n", 255, left=["MAIN.C", "~ZORBEX~.LNK/"]),
    Row("directive file cannot be written", "main.obj\n", {"~ZORBEX~.LNK": ("->", "/dev/full")},
        "Error: can't write temporary file ~ZORBEX~.LNK\n", 255, left=per([], None)),
    # seen on the way: the lines after it are not read
    Row("write error on the way", "".join(f"o{i}.obj\n" for i in range(20000)) + "main.c\n.bogus\n",
        {"MAIN.C": OLD, "~ZORBEX~.LNK": ("->", "/dev/full")},
        "Error: can't write temporary file ~ZORBEX~.LNK\n", 255, log=[]),
    # Lines
    Row("lf", **objects(".directive option x\na.obj\nb.lib\n",
                        ["option x", "file A.OBJ", "library B.LIB", "name A.EXE", "system NT"])),
    Row("cr lf and lone cr", **objects(".directive op\rtion x\r\na.o\rbj\r\n",
                                       ["option x"] + OBJ_ONLY)),
    Row("last line without newline", **objects("a.obj\n.directive last", ["file A.OBJ", "last",
        "name A.EXE", "system NT"])),
    Row("ctrl-z ends the file", **objects("a.obj\nb.obj\x1a" "c.obj\nd.obj\n",
                                          ["file A.OBJ", "file B.OBJ", "name A.EXE", "system NT"])),
    Row("nul ends the line", **objects("a.obj\0c.obj\n\0d.obj\n", OBJ_ONLY)),
    Row("comments and white space", **objects("; c\n\n \t \n\t; indented\n  a.obj \t\v\f\n;b.obj\n",
                                              OBJ_ONLY)),
    Row("line in pieces of 255", **objects(".directive " + "D" * 244 + "T" * 41 + ".obj\n",
        ["D" * 244, "file " + "T" * 41 + ".OBJ", "name " + "T" * 41 + ".EXE", "system NT"],
        "T" * 41 + ".EXE")),
    Row("lines across blocks", **objects("".join(f"o{i}.obj\r\n" for i in range(4000)),
        [f"file O{i}.OBJ" for i in range(4000)] + ["name O0.EXE", "system NT"], "O0.EXE")),
    Row("line of 255", **objects(".directive " + "D" * 244 + "\na.obj\n", ["D" * 244] + OBJ_ONLY)),
    Row("dot and no letter: a module", **objects(".1a.obj\n", ["file .1A.OBJ", "name .1A.EXE",
        "system NT"], ".1A.EXE")),
    Row("directive value verbatim", **objects(".directive  Two  Blanks\na.obj\n",
                                              [" Two  Blanks"] + OBJ_ONLY)),
    Row("later exename replaces", **objects("a.obj\n.exename first\n.exename final\n",
        ["file A.OBJ", "name FINAL.EXE", "system NT"], "FINAL.EXE")),
    Row("exename keeps extension", **objects(".ExeName Demo.Bin\na.obj\n",
        ["file A.OBJ", "name DEMO.BIN", "system NT"], "DEMO.BIN")),
    Row("exename in directory", **objects(".exename out/bin\\prog\na.obj\n",
        ["file A.OBJ", "name OUT/BIN/PROG.EXE", "system NT"], "OUT/BIN/PROG.EXE",
        files={"OUT/BIN": DIR})),
    Row("exename ends in dot", **objects(".exename demo.\na.obj\n",
        ["file A.OBJ", "name DEMO.", "system NT"], "DEMO.")),
    Row("first module of any kind names it", **objects("graph.lib\na.obj\n",
        ["library GRAPH.LIB", "file A.OBJ", "name GRAPH.EXE", "system NT"], "GRAPH.EXE")),
    Row("non-ascii keeps its bytes", **objects(".exename p\ncaf\xc3\xa9.obj\nna\xefve.lib\n",
        ["file CAF\xc3\xa9.OBJ", "library NA\xefVE.LIB", "name P.EXE", "system NT"], "P.EXE")),
    # Bytes that are no text: a binary's first line ends at its first NUL
    # or newline; ten megabytes of blanks are pieces of empty lines.
    Row("binary file", "\x7fELF\x02\x01\x01\0\0\0\x03\0>\0\n" + "\xff" * 4000 + "\n", {},
        invalid("\x7fELF\x02\x01\x01"), 255),
    Row("ten megabytes of blanks", **objects(" " * 10_000_000 + "a.obj\n", OBJ_ONLY)),
    Row("empty project links nothing", "; nothing\n\n", {}, RELINK + BADL, 255,
        lnk=["name ", "system NT"], log=[LINK]),
]

# The first bad directive ends the run; the line after it is not read.
BAD = [
    (".target\tnt", "Invalid directive: .target\tnt"),
    (".target", "Invalid directive: .target"),
    (".EXENAME", "Invalid directive: .EXENAME"),
    (".wccopt  \t", "Invalid directive: .wccopt"),
    (".wasmopt", "Invalid directive: .wasmopt"),
    (".directive", "Invalid directive: .directive"),
    (".wasmoptions -zq", "Invalid directive: .wasmoptions -zq"),
    (".nolink x", "Invalid directive: .nolink x"),
    ("  .Abogus thing \t", "Invalid directive: .Abogus thing"),
    (".Zap", "Invalid directive: .Zap"),
    (".asm", "Invalid directive: .asm"),
    (".zap", "Invalid directive: .zap"),
    (".target  NT", "Error: invalid target system:  NT"),
    (".target DOS4GW", "Error: invalid target system: DOS4GW"),
    (".target nt x", "Error: invalid target system: nt x"),
]
ROWS += [Row(line, f"a.obj\n{line}\nmissing.c\n", {}, message + "\n", 255, left=[]) for line, message in BAD]


@pytest.mark.parametrize("r", ROWS, ids=ids(ROWS))
def test_project(tmp_path, r):
    check(tmp_path, r)


# The absolute project name may have 259 characters with ".ZBX", given or
# added; Windows forms no absolute name past 259 and shows the argument.
def test_project_name_limit(tmp_path):
    d = str(tmp_path)
    prefix = len(absolute(d)) + 1
    for total in (258, 259, 260, 261):
        base = "p" * (total - prefix - 4)
        make(d, {base.upper() + ".ZBX": b".nolink\n"})
        for arg in (base, base + ".zbx"):
            refused = WINDOWS and prefix + len(arg) > 259
            name = arg if refused else absolute(d, base + ".zbx")
            code, out, _ = run(d, [arg])
            assert (code, out) == ((0, crlf(BANNER)) if total <= 259 else
                                   (255, crlf(BANNER + f"Error: can't read {name}\n")))


# Output that could not be written fails the run; what was built stays.
def test_output_not_written(tmp_path):
    d = str(tmp_path)
    make(d, {"ZORBEX.ZBX": b"a.obj\n", "A.OBJ": OLD})
    with open("/dev/full", "wb") as full:
        code = subprocess.run(command(), cwd=d, env=environment(), stdin=subprocess.DEVNULL, stdout=full,
                              stderr=subprocess.DEVNULL, timeout=120).returncode
    assert code == 255 and os.path.exists(path(d, "A.EXE"))
