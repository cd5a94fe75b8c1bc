# Generated projects: whatever the lines, files and tools, the run ends with
# one of the program's own outcomes, exit 0 or 255, nothing but the tools'
# messages on the error stream, no directive file left and no object lost that was not rebuilt.
# ZORBEX_GENERATED projects (default 200), from seed ZORBEX_SEED.
import random, re
import pytest
from runner import *

pytestmark = pytest.mark.skipif(WINDOWS, reason="thousands of runs: natively only")
LINES = [".target nt", ".target DOS", ".target os2v2", ".target bogus", ".exename out", ".wccopt -ox",
         ".wasmopt -zq", ".directive op", ".nolink", ".bad", "; c", "", "a.c", "*b.cpp", "c.asm",
         "d.obj", "e.lib", "f.h", "g", "sub\\h.c", "x" * 300, "\0a.c", "\x1a", "\r", "*a.c;", "..\\a.c"]
FILES = ["A.C", "B.CPP", "C.ASM", "sub/h.c", "A.OBJ", "B.OBJ", "C.OBJ", "H.OBJ", "A.EXE", "OUT.EXE"]
CONTROL = ["* noout", "WLINK noout", "WCC386 fail", "WPP386 dir", "WASM lower", "* print hi"]
LEAD = r"(hi\n|No modules need recompiling\.\n|\nRelinking\.\.\.\n)*"
SUCCESS = re.compile(LEAD + r"(\nDone\. Created \S+ \(\d+ bytes\)\n)?\Z")
FAILURE = re.compile(LEAD + r"(Invalid directive: .*|Error: .*|Invalid module: .* \(must be "
                     r"\.C/\.CC/\.CPP/\.CXX/\.ASM/\.OBJ/\.LIB\)|\nCompiler/assembler returned bad "
                     r"status\.|\nLinker returned bad status\.)\n\Z")

def test_generated(tmp_path):
    rng = random.Random(int(os.environ.get("ZORBEX_SEED", "1")))
    for i in range(int(os.environ.get("ZORBEX_GENERATED", "200"))):
        d = str(tmp_path / str(i))
        files = {n: rng.choice([OLD, NEW]) for n in rng.sample(FILES, rng.randint(0, len(FILES)))}
        project = "".join(rng.choice(LINES) + rng.choice(["\n", "\r\n"]) for _ in range(rng.randint(0, 8)))
        make(d, {**files, "ZORBEX.ZBX": b(project),
                 "STANDIN.CTL": b("\n".join(rng.sample(CONTROL, rng.randint(0, 2))))})
        objects = {n: read(d, n) for n in os.listdir(d) if n.endswith(".OBJ")}
        code, out, err = run(d)
        assert out.startswith(BANNER) and re.fullmatch(r"((Error|Warning)! .*\n)*", err), project
        tail = out[len(BANNER):]
        assert (SUCCESS if code == 0 else FAILURE).match(tail) and code in (0, 255), (project, tail)
        assert not os.path.exists(path(d, "~ZORBEX~.LNK"))
        rebuilt = {re.split(r"[\\/]", line.split()[-1])[-1].rsplit(".", 1)[0].upper() for line in log(d)}
        for name, content in objects.items():
            assert read(d, name) == content or name[:-4] in rebuilt, (project, name)
