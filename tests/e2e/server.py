# Servers for the object cache's rows, on free loopback ports, each ended
# with its test:
#   nginx   Debian's nginx with its WebDAV module, storing what is PUT under
#           .store: .url is the cache's URL; .url + "/auth" one under basic
#           authentication as user "zorbex", password "p@ss word" (in a URL
#           "zorbex:p%40ss%20word@"), storing under .store / "auth";
#           .url + "/moved" answers
#           every request with a redirect to .url. Skipped where nginx is
#           not installed.
#   canned  canned(answer, delay=0) starts a server that reads each request
#           whole, waits delay seconds, sends the bytes answer and closes the
#           connection; returns its URL. SLOW(delay), FAILING and CUT are such
#           answers.
import os, shutil, socket, subprocess, threading, time
import pytest

USER, PASSWORD = "zorbex", "p@ss word"
FAILING = b"HTTP/1.1 500 Internal Server Error\r\nContent-Length: 0\r\nConnection: close\r\n\r\n"
CUT = b"HTTP/1.1 200 OK\r\nContent-Length: 1000\r\nConnection: close\r\n\r\nonly this"


def SLOW(delay):
    return b"HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\nConnection: close\r\n\r\n", delay


# Every path in the server's own directory; as root its workers run as root
# too, for they would be nobody and could not write the store.
NGINX_CONF = """\
{user}daemon off;
worker_processes 1;
pid {dir}/nginx.pid;
error_log {dir}/error.log;
events {{ worker_connections 64; }}
http {{
    access_log {dir}/access.log;
    client_body_temp_path {dir}/body;
    proxy_temp_path {dir}/proxy;
    fastcgi_temp_path {dir}/fastcgi;
    uwsgi_temp_path {dir}/uwsgi;
    scgi_temp_path {dir}/scgi;
    client_max_body_size 0;
    server {{
        listen 127.0.0.1:{port};
        root {dir}/store;
        location / {{
            dav_methods PUT DELETE;
            create_full_put_path on;
            dav_access user:rw;
        }}
        location /auth/ {{
            auth_basic cache;
            auth_basic_user_file {dir}/users;
            dav_methods PUT DELETE;
            create_full_put_path on;
            dav_access user:rw;
        }}
        location /moved/ {{ return 301 http://127.0.0.1:{port}/; }}
    }}
}}
"""


class Nginx:
    def __init__(self, url, store):
        self.url, self.store = url, store


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def answers(port, process, seconds=10):
    end = time.monotonic() + seconds
    while time.monotonic() < end and process.poll() is None:
        try:
            socket.create_connection(("127.0.0.1", port), timeout=1).close()
            return True
        except OSError:
            time.sleep(0.05)
    return False


@pytest.fixture
def nginx(tmp_path):
    program = shutil.which("nginx") or shutil.which("nginx", path="/usr/sbin")
    if not program:
        pytest.skip("nginx is not installed (Debian: nginx)")
    dir = tmp_path / "nginx"
    (dir / "store").mkdir(parents=True)
    (dir / "users").write_text(f"{USER}:{{PLAIN}}{PASSWORD}\n")
    user = "user root;\n" if os.geteuid() == 0 else ""
    for attempt in range(3):  # another may take the port before nginx does
        port = free_port()
        (dir / "nginx.conf").write_text(NGINX_CONF.format(user=user, dir=dir, port=port))
        process = subprocess.Popen([program, "-c", dir / "nginx.conf", "-p", dir, "-e", dir / "error.log"],
                                   stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        if answers(port, process):
            break
        process.kill()
        process.wait()
    else:
        pytest.fail("nginx did not start: " + (dir / "error.log").read_text())
    yield Nginx(f"http://127.0.0.1:{port}", dir / "store")
    process.terminate()
    process.wait(10)


def serve(listener, answer, delay, stop):
    listener.settimeout(0.1)  # to see stop
    while not stop.is_set():
        try:
            connection, _ = listener.accept()
        except socket.timeout:
            continue
        except OSError:
            return
        with connection:
            connection.settimeout(10)
            request = b""
            while b"\r\n\r\n" not in request and (data := connection.recv(65536)):
                request += data
            head, _, body = request.partition(b"\r\n\r\n")
            length = next((int(line.split(b":")[1]) for line in head.split(b"\r\n")
                           if line.lower().startswith(b"content-length:")), 0)
            while len(body) < length and (data := connection.recv(65536)):
                body += data
            if not stop.wait(delay):
                connection.sendall(answer)


@pytest.fixture
def canned():
    stop, servers = threading.Event(), []

    def start(answer, delay=0):
        if isinstance(answer, tuple):
            answer, delay = answer
        listener = socket.create_server(("127.0.0.1", 0))
        thread = threading.Thread(target=serve, args=(listener, answer, delay, stop), daemon=True)
        thread.start()
        servers.append((listener, thread))
        return f"http://127.0.0.1:{listener.getsockname()[1]}"

    yield start
    stop.set()
    for listener, thread in servers:
        listener.close()
        thread.join(10)
