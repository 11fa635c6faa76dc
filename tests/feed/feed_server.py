#!/usr/bin/env python3
"""A local stand-in for the message service, for the feed tests.

    feed_server.py start DIR [--lifetime SECONDS]   make certificates, start serving, return
    feed_server.py stop DIR                         stop the server started in DIR

"start" makes two throw-away authorities in DIR (only test-ca is ever trusted, and only in
the test Wine prefix, by the test process itself) and a "localhost" certificate from each,
then serves one HTTPS port per scenario on 127.0.0.1 from a background process that ends
by itself after the lifetime. DIR/ports.txt names each scenario's port; DIR/requests.log
gets one line per request ("scenario<TAB>request line").
"""

import argparse
import base64
import os
import signal
import socket
import socketserver
import ssl
import subprocess
import sys
import threading
import time

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


def openssl(*args):
    subprocess.run(["openssl", *args], check=True, capture_output=True)


def make_certificates(d):
    for ca, server, name in [("test-ca", "server", "Feed Test Root"),
                             ("untrusted-ca", "untrusted-server", "Untrusted Root")]:
        p = lambda n: os.path.join(d, n)
        openssl("req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "3",
                "-keyout", p(ca + ".key"), "-out", p(ca + ".pem"), "-subj", "/CN=Dropleaf " + name,
                "-addext", "basicConstraints=critical,CA:TRUE",
                "-addext", "keyUsage=critical,keyCertSign,cRLSign")
        openssl("x509", "-in", p(ca + ".pem"), "-outform", "DER", "-out", p(ca + ".der"))
        openssl("req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2",
                "-CA", p(ca + ".pem"), "-CAkey", p(ca + ".key"),
                "-keyout", p(server + ".key"), "-out", p(server + ".pem"), "-subj", "/CN=localhost",
                "-addext", "basicConstraints=CA:FALSE",
                "-addext", "keyUsage=critical,digitalSignature,keyEncipherment",
                "-addext", "extendedKeyUsage=serverAuth", "-addext", "subjectAltName=DNS:localhost")


def read_request(conn):
    """One request's raw bytes, or None."""
    data = b""
    while b"\r\n\r\n" not in data:
        chunk = conn.recv(65536)
        if not chunk or len(data) > 65536:
            return None
        data += chunk
    head = data.split(b"\r\n\r\n")[0].lower()
    length = head.partition(b"content-length:")[2].split(b"\r\n")[0]
    length = int(length) if length else 0
    while len(data) < len(head) + 4 + length:
        chunk = conn.recv(65536)
        if not chunk:
            break
        data += chunk
    return data


def response(scenario, raw):
    status, headers, body, _ = SCENARIOS[scenario]
    body = raw if body is None else body
    lines = ["HTTP/1.1 %d X" % status, "Connection: close", "Content-Type: application/json"]
    lines += ["%s: %s" % h for h in headers]
    if headers == CHUNKED:
        body = b"".join(b"%x\r\n%s\r\n" % (len(body[i:i + 100000]), body[i:i + 100000])
                        for i in range(0, len(body), 100000)) + b"0\r\n\r\n"
    elif status == 204:
        body = b""
    else:
        lines.append("Content-Length: %d" % len(body))
    return ("\r\n".join(lines) + "\r\n\r\n").encode() + body


class Handler(socketserver.BaseRequestHandler):
    def handle(self):
        s = self.server
        self.request.settimeout(10)
        try:
            conn = s.context.wrap_socket(self.request, server_side=True)
        except (ssl.SSLError, OSError):
            return  # e.g. the client refused the certificate
        try:
            raw = read_request(conn)
            if raw is None:
                return
            with s.log_lock, open(s.log_path, "ab") as log:
                log.write(s.scenario.encode() + b"\t" + raw.split(b"\r\n")[0] + b"\n")
            time.sleep(SCENARIOS[s.scenario][3])
            answer = response(s.scenario, raw)
            if s.scenario == "stalled":
                conn.sendall(answer[:-len(GOOD) // 2])
                time.sleep(STALL_SECONDS)
                answer = answer[-len(GOOD) // 2:]
            conn.sendall(answer)
            conn.shutdown(socket.SHUT_RDWR)
        except (ssl.SSLError, OSError, ValueError):
            pass
        finally:
            conn.close()


def serve(d, lifetime):
    contexts = {}
    for name in ("server", "untrusted-server"):
        contexts[name] = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        contexts[name].load_cert_chain(*(os.path.join(d, name + e) for e in (".pem", ".key")))
    log_path, log_lock = os.path.join(d, "requests.log"), threading.Lock()
    open(log_path, "wb").close()
    ports = ""
    for scenario in SCENARIOS:
        server = socketserver.ThreadingTCPServer(("127.0.0.1", 0), Handler)
        server.daemon_threads = True
        server.scenario, server.log_path, server.log_lock = scenario, log_path, log_lock
        server.context = contexts["untrusted-server" if scenario == "untrusted" else "server"]
        threading.Thread(target=server.serve_forever, daemon=True).start()
        ports += "%s %d\n" % (scenario, server.server_address[1])
    for name, data in (("good_body.bin", GOOD), ("exact_body.bin", EXACT)):
        with open(os.path.join(d, name), "wb") as f:
            f.write(data)
    with open(os.path.join(d, "ports.tmp"), "w") as f:
        f.write(ports)
    os.replace(os.path.join(d, "ports.tmp"), os.path.join(d, "ports.txt"))

    # os._exit: handler threads may still sleep in a slow answer.
    signal.signal(signal.SIGTERM, lambda *_: os._exit(0))
    time.sleep(lifetime)
    os._exit(0)


def stop(d):
    try:
        with open(os.path.join(d, "server.pid")) as f:
            pid = int(f.read())
        os.remove(os.path.join(d, "server.pid"))
        os.kill(pid, signal.SIGTERM)
        for _ in range(50):
            time.sleep(0.1)
            os.kill(pid, 0)
        os.kill(pid, signal.SIGKILL)
    except (OSError, ValueError):
        pass  # not started, or already gone
    return 0


def start(d, lifetime):
    os.makedirs(d, exist_ok=True)
    stop(d)
    for name in ("ports.txt", "requests.log"):
        if os.path.exists(os.path.join(d, name)):
            os.remove(os.path.join(d, name))
    make_certificates(d)
    with open(os.path.join(d, "server.out"), "wb") as out:
        process = subprocess.Popen([sys.executable, os.path.abspath(__file__), "serve", d,
                                    "--lifetime", str(lifetime)], stdin=subprocess.DEVNULL,
                                   stdout=out, stderr=out, start_new_session=True)
    with open(os.path.join(d, "server.pid"), "w") as f:
        f.write(str(process.pid))
    deadline = time.monotonic() + 30
    while time.monotonic() < deadline and process.poll() is None:
        if os.path.exists(os.path.join(d, "ports.txt")):
            print("feed test server %d serving in %s" % (process.pid, d))
            return 0
        time.sleep(0.1)
    print("feed test server did not start; see %s/server.out" % d, file=sys.stderr)
    return stop(d) or 1


if __name__ == "__main__":
    parser = argparse.ArgumentParser()
    parser.add_argument("command", choices=["start", "stop", "serve"])
    parser.add_argument("directory")
    parser.add_argument("--lifetime", type=float, default=900)
    args = parser.parse_args()
    d = os.path.abspath(args.directory)
    commands = {"start": start, "stop": lambda d, _: stop(d), "serve": serve}
    sys.exit(commands[args.command](d, args.lifetime))
