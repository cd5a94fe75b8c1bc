# ZORBEX_CACHE_REMOTE: the object cache on an HTTP server, behind the local
# directory or alone, the real nginx with WebDAV, or a canned server that is
# slow, failing or cut short; ZORBEX_CACHE_BASEDIR: results found again from
# another checkout's path.
import os, shutil, time
import pytest
from runner import *
from server import nginx, canned, SLOW, FAILING, CUT
from test_cache import FILES, PROJECT, BOTH, MAIN, ON, clean, settle, stats, counts, make

LEFT = "Object cache server not used from here on: "


def stored(store):  # the entries on the server, by their names under it
    return sorted(os.path.relpath(os.path.join(r, f), store) for r, _, fs in os.walk(store) for f in fs)


def tools(d):
    return sorted(log(d))


# A build, the objects and the local cache removed, and a build again: the
# second takes from the server what the first stored there.
ROWS = [
    ("behind the local cache", ON, "", BOTH, [cmd(LINK)], 2),
    ("alone", {}, "", BOTH, [cmd(LINK)], 2),
    ("read-only", ON, "|read-only", BOTH, sorted(map(cmd, BOTH)), 0),
    ("basic authentication", ON, "/auth", BOTH, [cmd(LINK)], 2),
]


@pytest.mark.parametrize("row", ROWS, ids=[r[0] for r in ROWS])
def test_server(tmp_path, nginx, row):
    id, local, suffix, first, second, entries = row
    d = os.path.join(str(tmp_path), "T")
    url = nginx.url.replace("//", "//zorbex:p%40ss%20word@") + "/auth" if suffix == "/auth" else nginx.url + suffix
    env = {**local, "ZORBEX_CACHE_REMOTE": url, "ZORBEX_VERBOSE": "1"}
    make(d, {**FILES, "ZORBEX.ZBX": b(PROJECT)})
    for tools_run in (first, second):
        code, out, err = run(d, env=env)
        assert code == 0 and LEFT not in out, out
        assert tools(d) == sorted(map(cmd, tools_run)) if tools_run is first else tools(d) == tools_run
        clean(d)
        shutil.rmtree(os.path.join(d, "CACHE"), ignore_errors=True)
    assert len(stored(nginx.store)) == entries


# A server that cannot serve: the build goes on as without it, says why
# once, and is not held.
FAILURES = [
    ("down", lambda canned: "http://127.0.0.1:9", "127.0.0.1:9"),
    ("answers 500", lambda canned: canned(FAILING), "status 500"),
    ("cut short", lambda canned: canned(CUT), ""),
    ("slow", lambda canned: canned(SLOW(30)), ""),
]


@pytest.mark.parametrize("row", FAILURES, ids=[r[0] for r in FAILURES])
def test_failing_server(tmp_path, canned, row):
    id, server, said = row
    d = str(tmp_path)
    make(d, {**FILES, "ZORBEX.ZBX": b(PROJECT)})
    start = time.monotonic()
    code, out, err = run(d, env={**ON, "ZORBEX_CACHE_REMOTE": server(canned), "ZORBEX_VERBOSE": "1"})
    assert code == 0 and tools(d) == sorted(map(cmd, BOTH)) and out.count(LEFT) == 1 and said in out, out
    assert time.monotonic() - start < 8 and stats(d) == counts(0, 2, 2)


# A redirect is not followed: another host would get the next requests.
def test_redirect(tmp_path, nginx):
    d = str(tmp_path)
    make(d, {**FILES, "ZORBEX.ZBX": b(PROJECT)})
    code, out, err = run(d, env={**ON, "ZORBEX_CACHE_REMOTE": nginx.url + "/moved", "ZORBEX_VERBOSE": "1"})
    assert code == 0 and "status 301" in out and stored(nginx.store) == []


# Another checkout at another path, under ZORBEX_CACHE_BASEDIR: its compiles
# are the first tree's, and the objects put in place name its own files.
@pytest.mark.parametrize("share", ["directory", "server"])
def test_another_checkout(tmp_path, nginx, share):
    top = str(tmp_path)
    trees = [os.path.join(top, who, "PROJ") for who in ("ALICE", "ROBERT")]
    files = {"SRC/MAIN.C": b'#include "GREET.H"\n', "SRC/GREET.H": b"\n", "UTIL.C": b"\n",
             "ZORBEX.ZBX": b"src/main.c\nutil.c\n"}
    cache = {"ZORBEX_CACHE": os.path.join(top, "CACHE")} if share == "directory" else {"ZORBEX_CACHE_REMOTE": nginx.url}
    for tree, compiled in zip(trees, (2, 0)):
        make(tree, files)
        env = {**cache, "ZORBEX_CACHE_BASEDIR": tree}
        assert run(tree, env=env)[0] == 0 and len(log(tree)) == compiled + 1
        obj = read(tree, "MAIN.OBJ").upper()
        assert os.path.basename(os.path.dirname(tree)) in obj and ("ALICE" in obj) == (tree == trees[0])
        os.remove(path(tree, "STANDIN.LOG"))
        assert run(tree, env={**env, "ZORBEX_AUTODEPEND": "1"})[:2] == (0, crlf(BANNER + NOTHING))


FLAT = [Row(f"remote {value!r}", "a.obj\n", {}, f"Error: invalid ZORBEX_CACHE_REMOTE value: {value}\n", 255,
            env={"ZORBEX_CACHE_REMOTE": value}, left=[])
        for value in ["ftp://host/", "http://", "http:/host", "host:80", "http://host|readonly"]]


@pytest.mark.parametrize("r", FLAT, ids=ids(FLAT))
def test_settings(tmp_path, r):
    check(tmp_path, r)
