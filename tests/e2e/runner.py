# Runs zorbex in a fresh directory with the stand-in tools first on the
# search path, and checks a case row against what it did. The program and
# the tools come from the environment, so the same rows run against every
# build:
#   ZORBEX_BINARY  the program; a name ending in ".exe" is the Windows build
#   ZORBEX_TOOLS   the directory of the stand-in tools (tests/standin.cpp)
#   ZORBEX_RUNNER  words put before the program, e.g. "wine"
#   ZORBEX_JOBS    as for the program; with several jobs the tools may start
#                  in any order (the linker last), and rows that depend on
#                  one tool at a time are skipped
# Texts are bytes held in str, one character a byte (latin-1).
import calendar, os, re, shlex, shutil, subprocess, tempfile, time
import pytest

BINARY = os.environ["ZORBEX_BINARY"]
TOOLS = os.environ["ZORBEX_TOOLS"]
RUNNER = shlex.split(os.environ.get("ZORBEX_RUNNER", ""))
WINDOWS = BINARY.upper().endswith(".EXE")
PLATFORM = "windows" if WINDOWS else "posix"
PARALLEL = os.environ.get("ZORBEX_JOBS", "1") not in ("", "1")
# Whether the POSIX build keeps its listings current by change notification.
NOTIFIED = not WINDOWS and b"inotify_add_watch" in open(BINARY, "rb").read()

BANNER = "ZORBEX v1.02 - by Drasqel\n\n"
USAGE = "Usage: ZORBEX <configfile>[.ZBX]\n\nRead ZORBEX.DOC for more information.\n"
NOTHING = "No modules need recompiling.\n"
RELINK = NOTHING + "\nRelinking...\n"
BADC = "\nCompiler/assembler returned bad status.\n"
BADL = "\nLinker returned bad status.\n"
NT = "/bt=NT /d__NT__"
OLD, NEW = "2020-03-01 10:00:00", "2020-03-02 10:00:00"
LATE = "2110-01-01 00:00:00"  # the last stamp there is
DIR, FIFO = object(), object()  # in a file table: a directory, a named pipe


def done(exe, size=4321):
    return f"\nDone. Created {exe} ({size} bytes)\n"


def invalid(name):
    return f"Invalid module: {name} (must be .C/.CC/.CPP/.CXX/.ASM/.OBJ/.LIB)\n"


def per(posix, windows):  # a value that differs between the builds
    return windows if WINDOWS else posix


# A tool command as the build under test spells it, from the Windows
# spelling (the tool in upper case): on POSIX the tool in lower case, "-" for
# "/" and the object named with "-fo=" before the source. A command whose
# tool is in lower case is POSIX's, as written.
def cmd(text):
    tool, *words = text.split(" ")
    if WINDOWS or not tool.isupper():
        return text
    base = re.split(r"[\\/]", words[-1])[-1].rsplit(".", 1)[0].upper()
    fo = [] if tool == "WLINK" else [f"-fo={base}.OBJ"]
    return " ".join([tool.lower(), *("-" + w[1:] if w[:1] == "/" else w for w in words[:-1]), *fo, words[-1]])


LINK = cmd("WLINK @~ZORBEX~.LNK")


def b(text):
    return text.encode("latin-1")


def crlf(text):
    return text.replace("\n", "\r\n") if WINDOWS else text


def path(d, name):
    return os.path.join(b(d), b(name))


# files: name -> a time (a small file of that age), bytes (that content,
# old), DIR, FIFO, or ("->", target) for a symbolic link.
def make(d, files):
    for name, made in files.items():
        p = path(d, name)
        os.makedirs(os.path.dirname(p), exist_ok=True)
        if made is DIR:
            os.makedirs(p, exist_ok=True)
        elif made is FIFO:
            os.mkfifo(p)
        elif isinstance(made, tuple):
            os.symlink(b(made[1]), p)
        else:
            with open(p, "wb") as f:
                f.write(made if isinstance(made, bytes) else b(f"/* {name} */\n"))
            t = calendar.timegm(time.strptime(OLD if isinstance(made, bytes) else made,
                                              "%Y-%m-%d %H:%M:%S"))
            os.utime(p, (t, t))


def read(d, name):
    try:
        with open(path(d, name), "rb") as f:
            return f.read().decode("latin-1")
    except OSError:
        return None


# The entries but the project and the stand-in's files; directories end in "/".
def listing(d, sub=""):
    top = path(d, sub)
    return sorted(e.decode("latin-1") + "/" * (os.path.isdir(os.path.join(top, e)) and
                                               not os.path.islink(os.path.join(top, e)))
                  for e in os.listdir(top)
                  if e not in (b"ZORBEX.ZBX", b"STANDIN.LOG", b"STANDIN.LNK", b"STANDIN.CTL"))


def log(d, sub=""):
    text = read(d, os.path.join(sub, "STANDIN.LOG"))
    return [] if text is None else text.replace("\r", "").splitlines()


def windows_name(p):
    return "Z:" + p.replace("/", "\\")


# The name as the program prints it once made absolute: upper case.
def absolute(d, name=""):
    full = os.path.join(d, name) if name else d
    return (windows_name(full) if WINDOWS else full).upper()


def environment(extra=None):
    env = dict(os.environ, TZ="UTC0", PATH=TOOLS + os.pathsep + os.environ["PATH"])
    if WINDOWS:
        env.update(WINEPATH=windows_name(TOOLS), WINEDEBUG="-all")
    env.update(extra or {})
    return env


def command(args=(), program=BINARY):
    return RUNNER + [program, *args]


# What Wine itself prints when it could not start a program: its loader's
# messages, those of the program it then falls back on, and its command
# interpreter's for a command it could not start (every tool here exists).
# Not a crash report: a program that crashed did start.
WINE_FAILED = re.compile(r"^(wine: (failed|could not|cannot) |wine client error|Application could not be started|"
                         r"Can't recognize '.*' as an internal or external command)", re.M)
reruns = []  # the cases run once more, reported at the end of the session


# Runs the program to its end: (exit code, stdout, stderr). The output goes
# to files, not pipes: what Wine starts on the side may hold them open. A
# run is made once more when Wine said it could not start a program, when
# zorbex.exe wrote nothing at all, not even the banner (Wine has been seen
# to lose all of a program's output, seldom), or when a helper wrote
# nothing and said it could not start its program (127).
# The rerun starts from the directory as it was: a copy is kept meanwhile.
# joined: the error goes to the output's file, as with "> log 2>&1".
def run(d, args=(), env=None, cwd=None, program=BINARY, retry=WINDOWS, joined=False, **popen):
    popen.setdefault("stdin", subprocess.DEVNULL)
    kept = tempfile.mkdtemp() if retry else None
    if kept:
        shutil.copytree(d, kept, symlinks=True, dirs_exist_ok=True)
    with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
        code = subprocess.run(command(args, program), cwd=cwd or d, env=environment(env), stdout=out,
                              stderr=subprocess.STDOUT if joined else err, timeout=120, **popen).returncode
        result = (code, *(f.seek(0) or f.read().decode("latin-1") for f in (out, err)))
    if kept and (WINE_FAILED.search(result[1] + result[2]) or
                 result[1:] == ("", "") and (program == BINARY or result[0] == 127)):
        reruns.append((os.environ.get("PYTEST_CURRENT_TEST", "").rsplit(" ", 1)[0], result))
        shutil.rmtree(d)
        shutil.copytree(kept, d, symlinks=True)
        result = run(d, args, env, cwd, program, False, joined, **popen)
    if kept:
        shutil.rmtree(kept)
    return result


class Row:
    # One case: the project, the files before, and what must come out. out
    # follows the banner, with "{d}" for the test directory as the program
    # prints it (absolute, upper case) with a separator, "{dir}" without;
    # log, lnk (the directive file as the linker read it) and left (listing)
    # are checked when given; err "*" takes any error output; serial: a row
    # that depends on one tool at a time; joined: the error goes to the
    # output's file; within: the run takes less than that many seconds.
    def __init__(self, id, project, files=None, out="", code=0, *, log=None, lnk=None, left=None, ctl=(),
                 args=(), env=None, only=None, cwd="", err="", serial=False, joined=False, within=None):
        self.__dict__.update(locals())

    def __repr__(self):
        return self.id


def ids(rows):
    return [r.id for r in rows]


def check(d, r):
    if r.only not in (None, PLATFORM) or (r.serial and PARALLEL):
        pytest.skip(f"{r.only or 'one tool at a time'} only")
    d, files = str(d), dict(r.files or {})
    if r.project is not None:
        files[os.path.join(r.cwd, "ZORBEX.ZBX")] = b(r.project)
    if r.ctl:
        files["STANDIN.CTL"] = b("".join(line + "\n" for line in r.ctl))
    make(d, files)
    begun = time.time()
    code, out, err = run(d, r.args, r.env, cwd=os.path.join(d, r.cwd), joined=r.joined)
    took = time.time() - begun
    if r.ctl:  # which ends what the stand-in left behind
        os.remove(path(d, os.path.join(r.cwd, "STANDIN.CTL")))
    assert r.within is None or took < r.within, took
    top = absolute(d)
    assert out == crlf(BANNER + r.out.replace("{d}", top + per("/", "\\")).replace("{dir}", top)), (code, err)
    assert code == r.code
    assert err == r.err or r.err == "*", err
    if r.log is not None:
        tools, want = log(d, r.cwd), [cmd(x) for x in r.log]
        if PARALLEL:
            assert sorted(tools) == sorted(want) and (LINK not in want or tools[-1] == LINK)
        else:
            assert tools == want
    if r.lnk is not None:
        assert read(d, os.path.join(r.cwd, "STANDIN.LNK")) == crlf("".join(x + "\n" for x in r.lnk))
    if r.left is not None:
        assert listing(d, r.cwd) == sorted(r.left)
    if "~ZORBEX~.LNK" not in files:
        assert not os.path.lexists(path(d, os.path.join(r.cwd, "~ZORBEX~.LNK")))
