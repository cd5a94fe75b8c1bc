# Module lines, stamps, tools and the link: when a tool runs, with which
# command, and what its result makes of the run.
import shutil
import pytest
from runner import *

MAIN = f"WCC386 {NT} MAIN.C"

ROWS = []
# Every target, with each kind of module; keyword and name in any case.
for line, name, switches, cc, cpp in [
        (".target dos", "DOS", "/bt=DOS", "WCC", "WPP"),
        (".TARGET Dos4G", "DOS4G", "/bt=DOS4G /d__DOS__", "WCC386", "WPP386"),
        (".Target os2", "OS2", "/bt=OS2", "WCC", "WPP"),
        (".target OS2v2", "OS2V2", "/bt=OS2V2 /d__OS2__", "WCC386", "WPP386"),
        (".tArGeT nT", "NT", NT, "WCC386", "WPP386"),
        ("; none: NT", "NT", NT, "WCC386", "WPP386")]:
    ROWS.append(Row(line, line + "\n.wccopt -ox\n.wasmopt -zq\na.c\nb.cpp\nc.cc\nd.Cxx\ne.asm\n",
        {n: OLD for n in ["A.C", "B.CPP", "C.CC", "D.CXX", "E.ASM"]}, done("A.EXE"),
        log=[f"{cc} -ox {switches} A.C", f"{cpp} -ox {switches} B.CPP", f"{cpp} -ox {switches} C.CC",
             f"{cpp} -ox {switches} D.CXX", f"WASM -zq {switches.replace(' /d__NT__', '')} E.ASM", LINK],
        lnk=["file A.OBJ", "file B.OBJ", "file C.OBJ", "file D.OBJ", "file E.OBJ", "name A.EXE",
             "system " + name]))

# Stamps: date first, then time, both unsigned, in two-second steps; times
# outside 1980-2107 take the nearest stamp the words can hold.
for id, source, object, rebuilt in [
        ("equal", "2020-05-05 10:00:00", "2020-05-05 10:00:00", False),
        ("object two seconds older", "2020-05-05 10:00:02", "2020-05-05 10:00:00", True),
        ("same two-second step", "2020-05-05 10:00:03", "2020-05-05 10:00:02", False),
        ("source after 16:00", "2020-05-05 16:30:00", "2020-05-05 15:00:00", True),
        ("object a day older", "2020-05-06 09:00:00", "2020-05-05 10:00:00", True),
        ("date decides first", "2020-05-05 23:00:00", "2020-05-06 01:00:00", False),
        ("source in 2044", "2044-01-01 00:00:00", "2043-12-31 12:00:00", True),
        ("1979 is the first step", "1979-12-31 23:00:00", "1980-01-01 00:00:00", False),
        ("1980 against before", "1980-01-01 00:00:02", "1975-06-01 12:00:00", True),
        ("after 2107 is the last step", "2110-01-01 00:00:00", "2107-12-31 23:59:58", False),
        ("after 2107 against earlier", "2108-06-01 00:00:00", "2107-12-31 23:59:56", True)]:
    ROWS.append(Row(id, "main.c\n", {"MAIN.C": source, "MAIN.OBJ": object, "MAIN.EXE": LATE},
                    done("MAIN.EXE") if rebuilt else NOTHING, log=[MAIN, LINK] if rebuilt else []))

ROWS += [
    # Local time decides: the clock went back an hour between A.OBJ and A.C,
    # half an hour after the hour.
    Row("local time", "a.c\nb.c\n", {"A.C": "2031-10-26 01:40:00", "A.OBJ": "2031-10-26 01:20:00",
        "B.C": "2031-10-26 01:40:00", "B.OBJ": "2031-09-30 12:00:00", "A.EXE": OLD}, done("A.EXE"),
        env={"TZ": "XST-0:30YST-1:30,M3.5.0,M10.5.0/3"}, log=[f"WCC386 {NT} B.C", LINK], only="posix"),
    Row("forced and up to date", "main.c\n*util.c\n", {"MAIN.C": OLD, "MAIN.OBJ": NEW, "UTIL.C": OLD,
        "UTIL.OBJ": NEW, "MAIN.EXE": NEW}, done("MAIN.EXE"), log=[f"WCC386 {NT} UTIL.C", LINK],
        lnk=["file MAIN.OBJ", "file UTIL.OBJ", "name MAIN.EXE", "system NT"]),
    Row("object made here", "src/util.c\n", {"SRC/UTIL.C": OLD}, done("UTIL.EXE"),
        log=[f"WCC386 {NT} SRC/UTIL.C", LINK], lnk=["file UTIL.OBJ", "name UTIL.EXE", "system NT"],
        left=["SRC/", "UTIL.EXE", "UTIL.OBJ"]),
    Row("source in the parent", "../common/util.c\n", {"COMMON/UTIL.C": OLD}, done("UTIL.EXE"),
        log=[f"WCC386 {NT} ../COMMON/UTIL.C", LINK], left=["UTIL.EXE", "UTIL.OBJ"], cwd="WORK"),
    Row("backslash separates", "src\\util.c\n", {"SRC/UTIL.C": OLD, "UTIL.OBJ": NEW, "UTIL.EXE": NEW},
        NOTHING, log=[]),
    Row("many separators", "*src" + "\\" * 240 + "util.c\n", {"SRC/UTIL.C": OLD}, done("UTIL.EXE"),
        log=[f"WCC386 {NT} SRC" + per("/", "\\") * 240 + "UTIL.C", LINK]),
    # Nothing to do: the executable is no older than what it is made of.
    Row("nothing to do", "main.c\nextra.obj\nmissing.lib\n", {"MAIN.C": OLD, "MAIN.OBJ": OLD,
        "MAIN.EXE": NEW, "EXTRA.OBJ": NEW}, NOTHING, log=[], left=["EXTRA.OBJ", "MAIN.C", "MAIN.EXE",
                                                                   "MAIN.OBJ"]),
    # An executable older than an object, as a run that failed after a
    # rebuild leaves it, or than a listed object or library, is relinked.
    Row("executable older than an object", "main.c\n", {"MAIN.C": OLD, "MAIN.OBJ": NEW, "MAIN.EXE": OLD},
        RELINK + done("MAIN.EXE"), log=[LINK]),
    Row("executable older than a listed object", "main.c\nextra.obj\n", {"MAIN.C": OLD, "MAIN.OBJ": OLD,
        "MAIN.EXE": OLD, "EXTRA.OBJ": NEW}, RELINK + done("MAIN.EXE"), log=[LINK]),
    Row("executable older than a listed library", "main.c\nlib/graph.lib\n", {"MAIN.C": OLD,
        "MAIN.OBJ": OLD, "MAIN.EXE": OLD, "lib/Graph.lib": NEW}, RELINK + done("MAIN.EXE"), log=[LINK]),
    Row("options per tool, later replace, cut at 127", f".wccopt -ox\n.wasmopt -{'a' * 127}\n"
        f".wccopt -{'c' * 126}\nmain.c\nstart.asm\nutil.cpp\n", {"MAIN.C": OLD, "START.ASM": OLD,
        "UTIL.CPP": OLD}, done("MAIN.EXE"), log=[f"WCC386 -{'c' * 126} {NT} MAIN.C",
        f"WASM -{'a' * 126} /bt=NT START.ASM", f"WPP386 -{'c' * 126} {NT} UTIL.CPP", LINK]),
    # Switches written with "/" are the POSIX tools' "-" switches.
    Row("switches written with /", ".wccopt /ox -i=/h\n.wasmopt /zq\nmain.c\nstart.asm\n",
        {"MAIN.C": OLD, "START.ASM": OLD}, done("MAIN.EXE"),
        log=[f"WCC386 /ox -i=/h {NT} MAIN.C", "WASM /zq /bt=NT START.ASM", LINK]),
    # and their separators "/", but in quotes or before a quote; a word with
    # quotes reaches the tool with them, byte for byte, on both systems.
    Row("options written for Windows", '.wccopt /i=..\\inc /dMSG="a\\b /c $H `x` \\"q\\"" -i=/h -dR=\\"r\\"\n'
        ".wasmopt -i=a\\b\nmain.c\nstart.asm\n", {"MAIN.C": OLD, "START.ASM": OLD}, done("MAIN.EXE"),
        log=[per("wcc386 -i=../inc -dMSG=a\\b /c $H `x` \"q\" -i=/h -dR=\"r\" -bt=NT -d__NT__ -fo=MAIN.OBJ MAIN.C",
                 f'WCC386 /i=..\\inc /dMSG=a\\b /c $H `x` "q" -i=/h -dR="r" {NT} MAIN.C'),
             per("wasm -i=a/b -bt=NT -fo=START.OBJ START.ASM", "WASM -i=a\\b /bt=NT START.ASM"), LINK]),
    Row("target changes later modules", "a.c\n.target dos\nb.c\nc.asm\n",
        {"A.C": OLD, "B.C": OLD, "C.ASM": OLD}, done("A.EXE"),
        log=[f"WCC386 {NT} A.C", "WCC /bt=DOS B.C", "WASM /bt=DOS C.ASM", LINK],
        lnk=["file A.OBJ", "file B.OBJ", "file C.OBJ", "name A.EXE", "system DOS"]),
    Row("directive file in project order", "main.c\nutil.asm\ngraph.lib\n.directive option stack=8k\n"
        "x.obj\n", {"MAIN.C": OLD, "UTIL.ASM": OLD, "GRAPH.LIB": OLD, "X.OBJ": OLD}, done("MAIN.EXE"),
        lnk=["file MAIN.OBJ", "file UTIL.OBJ", "library GRAPH.LIB", "option stack=8k", "file X.OBJ",
             "name MAIN.EXE", "system NT"]),
    # The link
    Row("size reported", "main.c\n", {"MAIN.C": NEW, "MAIN.OBJ": OLD, "MAIN.EXE": OLD},
        done("MAIN.EXE", 70000), ctl=["WLINK size 70000"], log=[MAIN, LINK]),
    Row("nolink", "main.c\n.nolink\nutil.c\n", {"MAIN.C": OLD, "UTIL.C": OLD}, "",
        log=[MAIN, f"WCC386 {NT} UTIL.C"], left=["MAIN.C", "MAIN.OBJ", "UTIL.C", "UTIL.OBJ"]),
    Row("nolink, executable missing", ".NoLink\nmain.c\n", {"MAIN.C": OLD, "MAIN.OBJ": OLD}, "",
        left=["MAIN.C", "MAIN.OBJ"]),
    # Tools are judged by their output, which is deleted before they run.
    Row("linker makes nothing", "main.c\n", {"MAIN.C": NEW, "MAIN.OBJ": OLD, "MAIN.EXE": OLD}, BADL,
        255, ctl=["WLINK noout"], left=["MAIN.C", "MAIN.OBJ"]),
    Row("failing tools leave output", "main.c\n", {"MAIN.C": OLD}, done("MAIN.EXE"), ctl=["* fail"],
        left=["MAIN.C", "MAIN.EXE", "MAIN.OBJ"]),
    Row("compiler makes nothing", "a.c\nb.asm\nc.c\n", {"A.C": NEW, "B.ASM": NEW, "B.OBJ": OLD,
        "A.EXE": OLD}, BADC, 255, ctl=["WASM noout"], log=[f"WCC386 {NT} A.C", "WASM /bt=NT B.ASM"],
        left=["A.C", "A.EXE", "A.OBJ", "B.ASM"], serial=True),
    Row("tool output in order", "main.c\n", {"MAIN.C": OLD}, "compiling\nlinking\n" + done("MAIN.EXE"),
        ctl=["WCC386 print compiling", "WLINK print linking"]),
    # ZORBEX_VERBOSE=1: each command line, as the interpreter gets it, before its output.
    Row("verbose", "main.c\nutil.c\n", {"MAIN.C": OLD, "UTIL.C": OLD},
        f"{cmd(MAIN)}\ncompiling\n{cmd(f'WCC386 {NT} UTIL.C')}\n{LINK}\nlinking\n" + done("MAIN.EXE"),
        ctl=["MAIN.C print compiling", "WLINK print linking"], env={"ZORBEX_VERBOSE": "1"}),
    Row("verbose, a tool fails", "a.c\nb.c\n", {"A.C": OLD, "B.C": OLD},
        f"{cmd(f'WCC386 {NT} A.C')}\n{cmd(f'WCC386 {NT} B.C')}\nfailing\n" + BADC, 255,
        ctl=["B.C noout", "B.C print failing"], env={"ZORBEX_VERBOSE": "1"}),
    Row("verbose value", "a.obj\n", {}, "Error: invalid ZORBEX_VERBOSE value: yes\n", 255,
        env={"ZORBEX_VERBOSE": "yes"}, left=[]),
    Row("linker output after relinking", "main.obj\n", {"MAIN.OBJ": OLD}, RELINK + "linking\n" + done("MAIN.EXE"),
        ctl=["WLINK print linking"]),
    Row("directory for the object", "a.c\nb.c\n", {"A.C": OLD, "B.C": OLD, "B.OBJ": DIR}, BADC, 255,
        left=["A.C", "A.OBJ", "B.C", "B.OBJ/"]),
    Row("tool makes a directory", "a.c\n", {"A.C": OLD}, BADC, 255, ctl=["WCC386 dir"],
        left=["A.C", "A.OBJ/"]),
    Row("linker makes a directory", "a.c\n", {"A.C": OLD}, BADL, 255, ctl=["WLINK dir"],
        left=["A.C", "A.EXE/", "A.OBJ"]),
    Row("no directory for the executable", ".exename nodir\\prog\na.c\n", {"A.C": OLD}, BADL, 255),
    # The command text reaches the interpreter unchanged.
    Row("shell reads options", ".wccopt -dV=$(echo 42) -dW=`echo 7`\nmain.c\n", {"MAIN.C": OLD},
        done("MAIN.EXE"), log=[f"WCC386 -dV=42 -dW=7 {NT} MAIN.C", LINK], only="posix"),
    Row("shell reads the module", "a.c;wcc b.c\n", {"a.c;wcc b.c": OLD, "b.c": OLD}, BADC, 255,
        log=["wcc386 -bt=NT -d__NT__ -fo=A.C", "wcc b.c"], left=["a.c;wcc b.c", "b.c", "b.o"],
        only="posix", err="*"),
    Row("interpreter reads options", ".wccopt -zq & echo ECHOED\nmain.c\n", {"MAIN.C": OLD},
        "ECHOED /bt=NT /d__NT__ MAIN.C\n" + BADC, 255, log=["WCC386 -zq"], only="windows", err="*"),
    Row("interpreter reads the module", "%zv%.c\n", {"%ZV%.C": OLD, "REAL.C": OLD}, BADC, 255,
        log=[f"WCC386 {NT} REAL.C"], env={"ZV": "REAL"}, left=["%ZV%.C", "REAL.C", "REAL.OBJ"],
        only="windows"),
    # A tool adds many files to a directory whose listing was read.
    Row("files a tool makes are found", ".wccopt -zq;for i in $(seq 300);do :>z$i.c;done;wcc386\n"
        "main.c\n.wccopt -zq\nz150.c\n", {"main.c": OLD}, done("MAIN.EXE"), log=["wcc386 -zq",
        f"WCC386 {NT} main.c", f"WCC386 -zq {NT} z150.c", LINK], only="posix", serial=True, err="*"),
    # A tool that crashed made no build, whatever it left.
    Row("compiler crashed", "a.c\n", {"A.C": OLD}, BADC, 255, ctl=["WCC386 die"], left=["A.C"], err="*"),
    Row("assembler crashed", "a.asm\n", {"A.ASM": NEW, "A.OBJ": OLD}, BADC, 255, ctl=["WASM die"],
        left=["A.ASM"], err="*"),
    Row("linker crashed", "a.obj\n", {}, RELINK + BADL, 255, ctl=["WLINK die"], left=[], err="*"),
]

# Failures of one module line; the module before it stays built.
for line, message, extra in [
        ("main", invalid("MAIN"), {}),
        ("main.h", invalid("MAIN.H"), {}),
        ("src.d/main", invalid("SRC.D/MAIN"), {}),
        ("main.c", "Error: MAIN.C not found\n", {}),
        ("*main.asm", "Error: MAIN.ASM not found\n", {}),
        ("* last.c", "Error:  LAST.C not found\n", {}),
        ("src\\util.cpp", "Error: SRC\\UTIL.CPP not found\n", {}),
        ("main.c", "Error: MAIN.C not found\n", {"MAIN.C": DIR})]:
    ROWS.append(Row(line + (" (a directory)" if extra else ""), f"first.c\n{line}\nlast.c\n", {"FIRST.C": OLD, "LAST.C": OLD,
        **extra}, message, 255, log=[f"WCC386 {NT} FIRST.C"],
        left=["FIRST.C", "FIRST.OBJ", "LAST.C"] + [n + "/" for n in extra]))


@pytest.mark.parametrize("r", ROWS, ids=ids(ROWS))
def test_build(tmp_path, r):
    check(tmp_path, r)


# A module whose absolute name has up to 259 characters is built; one more
# is too long. A line of as many is read in pieces, the first too long a
# name once made absolute.
def test_module_name_limit(tmp_path):
    d = str(tmp_path)
    prefix = len(absolute(d)) + 1
    make(d, {"A.C": OLD})
    for total in (258, 259, 260, 261):
        base = "M" * (total - prefix - 2)
        make(d, {base + ".C": OLD, "ZORBEX.ZBX": b(f".nolink\na.c\n{base.lower()}.c\n")})
        code, out, _ = run(d)
        assert (code, out) == ((0, crlf(BANNER)) if total <= 259 else
                               (255, crlf(BANNER + f"Error: name too long: {absolute(d, base + '.C')}\n")))
        assert os.path.exists(path(d, base + ".OBJ")) == (total <= 259)
        make(d, {"ZORBEX.ZBX": b("keep.obj\n" + "x" * (total - 2) + ".c\n")})
        assert run(d)[:2] == (255, crlf(BANNER + f"Error: name too long: {absolute(d, 'X' * 255)}\n"))
        assert os.path.exists(path(d, "A.OBJ"))


# A full build reads a directory once, not once per module, without change
# notification too, where "." is read again for the missing library once the
# tools changed it. A no-op run reads only the directory of the sources (not
# "." for SRC/m0.c) and looks up each source and object once, after two
# misses for the first source. A listing found current answers for the
# library without a look-up. (directories read, look-ups of the library)
@pytest.mark.skipif(WINDOWS or not shutil.which("strace"), reason="counted with strace")
@pytest.mark.parametrize("source, counts", [("m{}.c", [(2, 1) if not NOTIFIED else (1, 0), (1, 0)]),
                                            ("SRC/m{}.c", [(2, 0), (1, 2)])], ids=["here", "in SRC"])
def test_directory_reads(tmp_path, source, counts):
    d, names = str(tmp_path), [source.format(i) for i in range(40)]
    make(d, {**{n: OLD for n in names}, "ZORBEX.ZBX": b("".join(f"{n}\n" for n in names + [source[:-5] + "x.lib"]))})
    os.utime(os.path.dirname(path(d, source)), (0, 0))  # changed long before it is read
    for count in counts:  # a full build, then a no-op run
        subprocess.run(["strace", "-o", "TRACE", "-e", "trace=%file", *command()], cwd=d, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL, env=environment({"ASAN_OPTIONS": "detect_leaks=0"}), check=True)
        trace = read(d, "TRACE")
        assert os.path.exists(path(d, "M0.EXE")) and (trace.count("O_DIRECTORY"), trace.count("X.LIB")) == count
    assert len(re.findall(r'"(SRC/)?[mM]\d+\.(c|C|OBJ)"', trace)) == 2 * 40 + 2
