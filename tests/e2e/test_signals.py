# POSIX runs that signals, pipes and limits reach. An interrupt reaches the
# running tool too, the output it was making is deleted (a partial file
# newer than its source would pass as up to date), objects finished before
# stay, and the run ends with "Interrupted." and 255.
import pty, resource, select, signal, subprocess, termios, time
import pytest
from runner import *

pytestmark = pytest.mark.skipif(WINDOWS, reason="POSIX signals, FIFOs and limits")
serial = pytest.mark.skipif(PARALLEL, reason="one tool at a time")
INTERRUPTED = "\nInterrupted.\n"
# The program run by a shell, and by one with job control, then going on.
SHELL, JOBS = '"$0"; echo "after $?"', 'set -m; "$0"; echo "after $?"; fg; echo "after $?"'


def start(d, env=None, **popen):
    return subprocess.Popen(command(), cwd=d, env=environment(env), stdin=subprocess.DEVNULL,
                            stdout=subprocess.PIPE, stderr=subprocess.PIPE, **popen)


def finish(p):
    out, err = p.communicate(timeout=60)
    return p.returncode, out.decode("latin-1"), err.decode("latin-1")


def await_(condition, seconds=10):
    end = time.time() + seconds
    while not condition():
        assert time.time() < end, "timed out"
        time.sleep(0.01)


# Whether the program catches SIGTERM and sleeps with no tool running:
# blocked in an open or a read.
def blocked(p):
    try:
        status = dict(line.split(":\t", 1) for line in open(f"/proc/{p.pid}/status"))
        children = open(f"/proc/{p.pid}/task/{p.pid}/children").read()
    except OSError:
        return False
    return int(status["SigCgt"], 16) >> (signal.SIGTERM - 1) & 1 and status["State"][0] == "S" \
        and not children.strip()


# The stand-in writes half its output and sleeps; interrupted, it never
# finishes. The old executable goes only when the linker is about to run.
@serial
@pytest.mark.parametrize("signo, group, tool", [
    (signal.SIGTERM, False, "WPP386"), (signal.SIGINT, True, "WPP386"),
    (signal.SIGHUP, False, "WLINK")])
def test_interrupted_tool(tmp_path, signo, group, tool):
    d = str(tmp_path)
    make(d, {"A.C": OLD, "B.CPP": OLD, "A.EXE": OLD, "ZORBEX.ZBX": b"a.c\nb.cpp\n",
             "STANDIN.CTL": b(f"{tool} hang\n")})
    begun = time.time()
    p = start(d, process_group=0 if group else None)
    await_(lambda: os.path.exists(path(d, "STANDIN.LNK" if tool == "WLINK" else "B.OBJ")))
    await_(lambda: os.path.exists(path(d, "A.EXE" if tool == "WLINK" else "B.OBJ")))
    (os.killpg if group else os.kill)(p.pid, signo)
    assert finish(p) == (255, BANNER + INTERRUPTED, "")
    assert time.time() - begun < 10, "the program waited for the tool"
    assert log(d) == [cmd(f"WCC386 {NT} A.C"), cmd(f"WPP386 {NT} B.CPP")] + [LINK] * (tool == "WLINK")
    assert listing(d) == sorted(["A.C", "A.OBJ", "B.CPP", "B.OBJ" if tool == "WLINK" else "A.EXE"])


# With four tools running, all get the interrupt and each one's output goes,
# also once as many tools as may run at once have come and gone.
@pytest.mark.parametrize("before", [0, 256])
def test_interrupted_jobs(tmp_path, before):
    d, done = str(tmp_path), [f"M{i}.C" for i in range(before)] + [f"M{i}.OBJ" for i in range(before)]
    make(d, {**{m: OLD for m in done[:before]}, "A.C": OLD, "B.C": OLD, "C.C": OLD, "D.C": OLD,
             "ZORBEX.ZBX": b("".join(m + "\n" for m in done[:before]) + "a.c\nb.c\nc.c\nd.c\n"),
             "STANDIN.CTL": b"A.C hang\nB.C hang\nC.C hang\nD.C hang\n"})
    p = subprocess.Popen(command(), cwd=d, env=environment({"ZORBEX_JOBS": "4"}),
                         stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    # A sanitized stand-in takes some 40 ms a start: the modules before take their time.
    await_(lambda: all(os.path.exists(path(d, f"{m}.OBJ")) for m in "ABCD"), 60)
    begun = time.time()
    p.send_signal(signal.SIGTERM)
    assert finish(p) == (255, BANNER + INTERRUPTED, "")
    assert time.time() - begun < 10 and listing(d) == sorted(["A.C", "B.C", "C.C", "D.C"] + done)


# A process a tool left running, holding its output, holds up neither the
# run nor an interrupt.
@pytest.mark.parametrize("env", [{}, {"ZORBEX_CACHE": "CACHE"}], ids=["alone", "cache"])
def test_interrupted_left_behind(tmp_path, env):
    d = str(tmp_path)
    make(d, {"A.C": OLD, "B.C": OLD, "ZORBEX.ZBX": b"a.c\nb.c\n", "STANDIN.CTL": b"A.C linger 30\nB.C hang\n"})
    begun = time.time()
    p = start(d, env)
    try:
        await_(lambda: os.path.exists(path(d, "A.OBJ")) and os.path.exists(path(d, "B.OBJ")))
        p.send_signal(signal.SIGINT)
        p.wait(60)
        took = time.time() - begun
    finally:
        os.remove(path(d, "STANDIN.CTL"))  # which ends what the stand-in left
    assert finish(p) == (255, BANNER + INTERRUPTED, "") and took < 10


# No tool runs: the program waits to open a FIFO that nobody writes, or
# for the next line of one whose writer sent one module line.
@serial
@pytest.mark.parametrize("lines", [b"", b"a.c\n"])
def test_interrupted_read(tmp_path, lines):
    d = str(tmp_path)
    make(d, {"A.C": OLD})
    os.mkfifo(path(d, "ZORBEX.ZBX"))
    p = start(d)
    if lines:
        fifo = open(path(d, "ZORBEX.ZBX"), "wb", buffering=0)
        fifo.write(lines)
        await_(lambda: os.path.exists(path(d, "A.OBJ")))
    await_(lambda: blocked(p))
    p.send_signal(signal.SIGTERM)
    assert finish(p) == (255, BANNER + INTERRUPTED, "")
    assert listing(d) == ["A.C"] + (["A.OBJ"] if lines else [])


# Ignored when the program starts (a background job of a shell without job
# control), SIGINT stays ignored; the FIFO is read as it comes.
def test_ignored_interrupt(tmp_path):
    d = str(tmp_path)
    make(d, {"MAIN.C": OLD})
    os.mkfifo(path(d, "ZORBEX.ZBX"))
    p = start(d, preexec_fn=lambda: signal.signal(signal.SIGINT, signal.SIG_IGN))
    await_(lambda: blocked(p))
    p.send_signal(signal.SIGINT)
    with open(path(d, "ZORBEX.ZBX"), "wb") as fifo:
        fifo.write(b"main.c\n.directive option quiet\n")
    assert finish(p) == (0, BANNER + done("MAIN.EXE"), "")
    assert read(d, "STANDIN.LNK") == "file MAIN.OBJ\noption quiet\nname MAIN.EXE\nsystem NT\n"


# A file-size limit makes the directive file's writes fail on the way; the
# object made before stays, nothing after it is built.
def test_file_size_limit(tmp_path):
    d = str(tmp_path)
    make(d, {"MAIN.C": OLD, "LATE.C": OLD,
             "ZORBEX.ZBX": b("*main.c\n" + "o.obj\n" * 20000 + "late.c\n.bogus\n")})
    p = start(d, preexec_fn=lambda: resource.setrlimit(resource.RLIMIT_FSIZE, (4096, 4096)))
    assert finish(p) == (255, BANNER + "Error: can't write temporary file ~ZORBEX~.LNK\n", "")
    assert listing(d) == ["LATE.C", "MAIN.C", "MAIN.OBJ"]
    assert log(d) == [cmd(f"WCC386 {NT} MAIN.C")]


# Standard output a pipe whose reader has gone ("zorbex | head -1"): the run
# still ends by its own exit, the directive file deleted.
def test_output_closed(tmp_path):
    d = str(tmp_path)
    make(d, {"MAIN.C": OLD, "ZORBEX.ZBX": b"main.c\n"})
    r, w = os.pipe()
    os.close(r)
    p = subprocess.run(command(), cwd=d, env=environment(), stdout=w, stderr=subprocess.PIPE)
    os.close(w)
    assert p.returncode in (0, 255) and p.stderr == b""
    assert not os.path.exists(path(d, "~ZORBEX~.LNK"))


# Runs the program from a shell script in the foreground of a terminal set
# to "stty tostop", typing each (after, keys) step's keys once the screen
# ends with its text; what the terminal showed within 30 seconds of quiet.
def on_terminal(d, steps, jobs="1", script=SHELL):
    pid, fd = pty.fork()
    if pid == 0:
        os.chdir(d)
        mode = termios.tcgetattr(0)
        mode[3] |= termios.TOSTOP
        termios.tcsetattr(0, termios.TCSANOW, mode)
        os.execve("/bin/sh", ["sh", "-c", script, BINARY],
                  environment({"ZORBEX_JOBS": jobs}))
    screen = b""
    while select.select([fd], [], [], 30)[0]:
        try:
            screen += os.read(fd, 4096)
        except OSError:  # the terminal's end
            break
        if steps and screen.endswith(steps[0][0]):
            os.write(fd, steps.pop(0)[1])
    os.killpg(pid, signal.SIGKILL)
    os.waitpid(pid, 0)
    return screen.decode("latin-1").replace("\r\n", "\n")


# A tool run alone gets the terminal while it runs: it reads what is typed
# at its prompt and writes. The driver's last line and the shell's "after"
# need it back. Ctrl-Z stops the tool and the driver as one job, which goes
# on at the shell's "fg".
@serial
@pytest.mark.parametrize("steps, script, out", [
    ([(b"? ", b"hello\n")], SHELL, "? hello\nfrom the tool\n" + done("A.EXE") + "after 0\n"),
    ([(b"? ", b"\x03")], SHELL, "? ^C" + INTERRUPTED + "after 255\n"),
    ([(b"? ", b"\x1a"), (b'"${0}"\r\n', b"hello\n")], JOBS,
     '? ^Zafter 148\n"${0}"\nhello\nfrom the tool\n' + done("A.EXE") + "after 0\n")],
    ids=["typed", "Ctrl-C", "Ctrl-Z"])
def test_terminal(tmp_path, steps, script, out):
    d = str(tmp_path)
    make(d, {"A.C": OLD, "B.CPP": OLD, "ZORBEX.ZBX": b"a.c\nb.cpp\n",
             "STANDIN.CTL": b"WCC386 read\nWPP386 print from the tool\n"})
    assert on_terminal(d, steps, script=script) == BANNER + out
    assert read(d, "A.OBJ") == ("hello\n" if "hello" in out else None)


# Several at once, the tools have no terminal: one that reads it fails at
# once, and Ctrl-Z stops them with the driver until it goes on.
def test_no_terminal(tmp_path):
    d = str(tmp_path)
    make(d, {"A.C": OLD, "B.C": OLD, "ZORBEX.ZBX": b"a.c\nb.c\n",
             "STANDIN.CTL": b"A.C run sh -c 'read x </dev/tty' 2>/dev/null\n"})
    assert on_terminal(d, [], "2") == BANNER + done("A.EXE") + "after 0\n"


def test_stopped_jobs(tmp_path):
    d = str(tmp_path)
    make(d, {"A.C": OLD, "B.C": OLD, "ZORBEX.ZBX": b"a.c\nb.c\n", "STANDIN.CTL": b"* sleep 6000\n"})
    # A group of its own, whose parent is in another group of the session, as
    # a shell's job is: the system does not stop an orphaned group.
    p = subprocess.Popen(command(), cwd=d, env=environment({"ZORBEX_JOBS": "2"}),
                         stdout=subprocess.PIPE, stderr=subprocess.PIPE, process_group=0)
    await_(lambda: len(log(d)) == 2)
    p.send_signal(signal.SIGTSTP)

    # A process may end or exec while the tree is read: then it is not stopped yet.
    def states(pid):
        try:
            kids = open(f"/proc/{pid}/task/{pid}/children").read().split()
            return open(f"/proc/{pid}/stat").read().split(")")[1].split()[0] + "".join(map(states, kids))
        except OSError:
            return "?"
    await_(lambda: states(p.pid) == "TTTTT" or states(p.pid) == "TTT")
    time.sleep(1.5)
    assert not any(os.path.exists(path(d, f"{m}.OBJ")) for m in "AB")
    p.send_signal(signal.SIGCONT)
    assert finish(p) == (0, BANNER + done("A.EXE"), "")


# A low limit on open files holds fewer tools in the queue: all that one
# job builds is built, sources found in directories read one by one.
def test_few_descriptors(tmp_path):
    d, names = str(tmp_path), ["A.C"] + [f"m{i}/m{i}.c" for i in range(60)]
    make(d, {**{n: OLD for n in names}, "ZORBEX.ZBX": b("".join(f"{n}\n" for n in names)),
             "STANDIN.CTL": b"A.C sleep 1000\n"})
    assert run(d, env={"ZORBEX_JOBS": "2"}, preexec_fn=lambda: resource.setrlimit(
        resource.RLIMIT_NOFILE, (64, 64))) == (0, BANNER + done("A.EXE"), "")


# The tools' output is kept in memory: a full TMPDIR, filled while they
# write and freed before they end, or full throughout, changes nothing.
@pytest.mark.skipif(os.geteuid() != 0, reason="mounts a file system")
@pytest.mark.parametrize("control, out", [
    (["A.C run head -c 40000 /dev/zero | tr '\\0' F; sleep .3", "B.C run sleep .15; rm T/full"],
     "F" * 40000 + done("A.EXE")),
    ([], done("A.EXE"))], ids=["freed before the end", "full"])
def test_full_temporary_directory(tmp_path, control, out):
    d = str(tmp_path)
    make(d, {"A.C": OLD, "B.C": OLD, "T": DIR, "ZORBEX.ZBX": b"a.c\nb.c\n",
             "STANDIN.CTL": b("".join(c + "\n" for c in control))})
    fill = 'mount -t tmpfs -o size=64k t T && { cat /dev/zero > T/full; exec "$0"; }'
    code, stdout, _ = run(d, ["-m", "sh", "-c", fill, BINARY], {"ZORBEX_JOBS": "2", "TMPDIR": os.path.join(d, "T")},
                          program="unshare")
    assert (code, stdout) == (0, BANNER + out)


# Output that memory cannot hold fails the run, which says whose it was.
@pytest.mark.skipif(b"libasan" in open(BINARY, "rb").read(), reason="the sanitizer needs its memory")
def test_output_beyond_memory(tmp_path):
    d = str(tmp_path)
    make(d, {"A.C": OLD, "B.C": OLD, "ZORBEX.ZBX": b"a.c\nb.c\n", "STANDIN.CTL": b"A.C run head -c 200000000 /dev/zero\n"})
    code, out, _ = run(d, env={"ZORBEX_JOBS": "2"}, preexec_fn=lambda: resource.setrlimit(
        resource.RLIMIT_AS, (96 << 20, 96 << 20)))
    assert code == 255 and out.endswith("Error: output of the tool making A.OBJ lost: Cannot allocate memory\n")


# Standard input and output closed at start take no file's place.
def test_closed_streams(tmp_path):
    d = str(tmp_path)
    make(d, {"A.C": OLD, "ZORBEX.ZBX": b"a.c\n"})
    p = subprocess.run(command(), cwd=d, env=environment(), stderr=subprocess.PIPE,
                       preexec_fn=lambda: (os.close(0), os.close(1)))
    assert (p.returncode, p.stderr) == (0, b"")
    assert read(d, "STANDIN.LNK") == "file A.OBJ\nname A.EXE\nsystem NT\n"
