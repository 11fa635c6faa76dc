#!/usr/bin/env python3
"""A local stand-in for the message service, for the feed tests.

    feed_server.py start DIR [--lifetime SECONDS]    feed_server.py stop DIR

"start" makes two throw-away authorities in DIR (only test-ca is ever trusted, and only in
the test Wine prefix, by the test process itself) with a "localhost" certificate from each,
then serves one HTTPS port per scenario on 127.0.0.1 (DIR/ports.txt) from a background
process that ends by itself after the lifetime. DIR/requests.log: "scenario<TAB>request line".
"""

import base64, os, signal, socket, socketserver, ssl, subprocess, sys, threading, time

LIMIT = 1_500_000
STALL_SECONDS = 4.5  # past the client's 3-second receive time-out


def b64(data):
    return base64.b64encode(data).decode("ascii")


# The good feed: lines "id|revision|Base64 title|"; feed_worker_test.cpp expects these.
FEED = b64("".join(f"{i}|{r}|{b64(t.encode())}|\n" for i, r, t in [
    ("msg-1a2b3c4d5e6f708192a3b4c5", "1", "欢迎使用 Dropleaf 消息中心"),
    ("msg-00000000000000000000beef", "12", "新版本 0.2.0 已发布"),
    ("msg-fedcba9876543210fedcba98", "20240601", "粘贴截图：按 Ctrl+V 即可保存"),
]).encode())
GOOD = ('{"ok":true,"native_feed":"%s","server":"test"}' % FEED).encode()
# Bytes of every value, in a period (251) that no read chunk size divides.
EXACT = (bytes(range(251)) * (LIMIT // 251 + 1))[:LIMIT]
CHUNKED = [("Transfer-Encoding", "chunked")]
MOVED = [("Location", "/moved")]

# Scenario -> (status, extra headers, body or None to echo the request, delay before answering).
# Failing statuses still carry a good feed, so only the status can reject them.
SCENARIOS = {
    "good": (200, [], GOOD, 0),
    "delayed": (200, [], GOOD, 1.0),
    "okfalse": (200, [], ('{"ok":false,"native_feed":"%s"}' % FEED).encode(), 0),
    "okspace": (200, [], ('{"ok": true,"native_feed":"%s"}' % FEED).encode(), 0),
    "nofeed": (200, [], b'{"ok":true,"messages":[]}', 0),
    "status204": (204, [], b"", 0),
    "status301": (301, MOVED, GOOD, 0),
    "status302": (302, MOVED, GOOD, 0),
    "status500": (500, [], GOOD, 0),
    "slow": (200, [], GOOD, STALL_SECONDS),
    "stalled": (200, [], GOOD, 0),  # half the body, then a pause past the time-out
    "exact": (200, [], EXACT, 0),
    "over": (200, [], EXACT + b"x", 0),
    "overchunked": (200, CHUNKED, EXACT + b"x", 0),
    "empty": (200, [], b"", 0),
    "echo": (200, [], None, 0),
    "untrusted": (200, [], GOOD, 0),  # certificate from the authority nobody trusts
}


LOG_LOCK = threading.Lock()
DIR = ""


def path(name):
    return os.path.join(DIR, name)


def openssl(*args):
    subprocess.run(["openssl", *args], check=True, capture_output=True)


def make_certificates():
    for ca, server, name in [("test-ca", "server", "Feed Test Root"),
                             ("untrusted-ca", "untrusted-server", "Untrusted Root")]:
        openssl("req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "3",
                "-keyout", path(ca + ".key"), "-out", path(ca + ".pem"),
                "-subj", "/CN=Dropleaf " + name, "-addext", "basicConstraints=critical,CA:TRUE",
                "-addext", "keyUsage=critical,keyCertSign,cRLSign")
        openssl("x509", "-in", path(ca + ".pem"), "-outform", "DER", "-out", path(ca + ".der"))
        openssl("req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2",
                "-CA", path(ca + ".pem"), "-CAkey", path(ca + ".key"),
                "-keyout", path(server + ".key"), "-out", path(server + ".pem"),
                "-subj", "/CN=localhost", "-addext", "basicConstraints=CA:FALSE",
                "-addext", "keyUsage=critical,digitalSignature,keyEncipherment",
                "-addext", "extendedKeyUsage=serverAuth", "-addext", "subjectAltName=DNS:localhost")


def read_request(conn):
    """One request's raw bytes, or None."""
    data = b""
    while True:
        head, end, body = data.partition(b"\r\n\r\n")
        length = head.lower().partition(b"content-length:")[2].split(b"\r\n")[0]
        if end and len(body) >= int(length or 0):
            return data
        chunk = conn.recv(65536)
        if not chunk or len(data) > 65536:
            return None
        data += chunk


def response(scenario, raw):
    status, headers, body, _ = SCENARIOS[scenario]
    body = raw if body is None else body
    lines = ["HTTP/1.1 %d X" % status, "Connection: close", "Content-Type: application/json"]
    lines += ["%s: %s" % h for h in headers]
    if headers == CHUNKED:
        body = b"%x\r\n%s\r\n0\r\n\r\n" % (len(body), body)
    elif status == 204:
        body = b""
    else:
        lines.append("Content-Length: %d" % len(body))
    return ("\r\n".join(lines) + "\r\n\r\n").encode() + body


class Handler(socketserver.BaseRequestHandler):
    def handle(self):
        scenario = self.server.scenario
        self.request.settimeout(10)
        try:
            conn = self.server.context.wrap_socket(self.request, server_side=True)
        except OSError:
            return  # e.g. the client refused the certificate
        try:
            raw = read_request(conn)
            if raw is None:
                return
            with LOG_LOCK, open(path("requests.log"), "ab") as log:
                log.write(scenario.encode() + b"\t" + raw.split(b"\r\n")[0] + b"\n")
            time.sleep(SCENARIOS[scenario][3])
            answer = response(scenario, raw)
            if scenario == "stalled":
                conn.sendall(answer[:-len(GOOD) // 2])
                time.sleep(STALL_SECONDS)
                answer = answer[-len(GOOD) // 2:]
            conn.sendall(answer)
            conn.shutdown(socket.SHUT_RDWR)
        except (OSError, ValueError):
            pass
        finally:
            conn.close()


def stop(_=None):
    try:
        with open(path("server.pid")) as f:
            pid = int(f.read())
        os.remove(path("server.pid"))
        os.kill(pid, signal.SIGKILL)
    except (OSError, ValueError):
        pass  # not started, or already gone
    return 0


def start(lifetime):
    os.makedirs(DIR, exist_ok=True)
    stop()
    make_certificates()
    contexts = {}
    for name in ("server", "untrusted-server"):
        contexts[name] = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        contexts[name].load_cert_chain(path(name + ".pem"), path(name + ".key"))
    for name, data in (("requests.log", b""), ("good_body.bin", GOOD), ("exact_body.bin", EXACT)):
        with open(path(name), "wb") as f:
            f.write(data)
    servers = []
    for scenario in SCENARIOS:
        servers.append(socketserver.ThreadingTCPServer(("127.0.0.1", 0), Handler))
        servers[-1].daemon_threads = True
        servers[-1].scenario = scenario
        servers[-1].context = contexts["untrusted-server" if scenario == "untrusted" else "server"]
    with open(path("ports.txt"), "w") as f:
        f.write("".join("%s %d\n" % (s.scenario, s.server_address[1]) for s in servers))
    sys.stdout.flush()
    pid = os.fork()  # the ports are bound already, so the tests may start when this returns
    if pid:
        with open(path("server.pid"), "w") as f:
            f.write(str(pid))
        print("feed test server %d serving in %s" % (pid, DIR))
        return 0
    # The background server: free of CTest's output pipes, ended by stop() or the lifetime.
    os.setsid()
    out = os.open(path("server.out"), os.O_WRONLY | os.O_CREAT | os.O_TRUNC)
    for fd in (0, 1, 2):
        os.dup2(out, fd)
    for server in servers:
        threading.Thread(target=server.serve_forever, daemon=True).start()
    time.sleep(lifetime)
    if os.path.exists(path("server.pid")):  # no later stop() may hit a reused process id
        os.remove(path("server.pid"))
    os._exit(0)  # handler threads may still sleep in a slow answer


if __name__ == "__main__":
    DIR = os.path.abspath(sys.argv[2])
    lifetime = float(sys.argv[4]) if sys.argv[3:4] == ["--lifetime"] else 900
    sys.exit({"start": start, "stop": stop}[sys.argv[1]](lifetime))
