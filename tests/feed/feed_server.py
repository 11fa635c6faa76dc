#!/usr/bin/env python3
"""A local stand-in for the message service, for the feed tests.

    feed_server.py start DIR [--lifetime SECONDS]   make certificates, start serving, return
    feed_server.py stop DIR                         stop the server started in DIR

"start" creates two throw-away certificate authorities in DIR (only the first one is ever
trusted, and only inside the test Wine prefix, by the test process itself), a "localhost"
server certificate from each, and then runs one HTTPS listener per scenario on 127.0.0.1 in
a background process. DIR/ports.txt names each scenario's port; DIR/requests.log gets one
line per request ("scenario<TAB>request line"). The server ends by itself after the
lifetime even if "stop" is never called.
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

HOST = "127.0.0.1"
DEFAULT_LIFETIME = 900
BODY_LIMIT = 1_500_000
STALL_SECONDS = 4.5

# The good feed: three lines "id|revision|Base64 title|". The feed tests expect exactly
# these records.
FEED_LINES = [
    ("msg-1a2b3c4d5e6f708192a3b4c5", "1", "欢迎使用 Dropleaf 消息中心"),
    ("msg-00000000000000000000beef", "12", "新版本 0.2.0 已发布"),
    ("msg-fedcba9876543210fedcba98", "20240601", "粘贴截图：按 Ctrl+V 即可保存"),
]


def b64(data):
    return base64.b64encode(data).decode("ascii")


def native_feed():
    text = "".join(
        f"{mid}|{rev}|{b64(title.encode('utf-8'))}|\n" for mid, rev, title in FEED_LINES)
    return b64(text.encode("ascii"))


GOOD_BODY = ('{"ok":true,"native_feed":"%s","server":"test"}' % native_feed()).encode("ascii")
# Bytes of every value, in a period (251) that no read chunk size divides.
EXACT_BODY = (bytes(range(251)) * (BODY_LIMIT // 251 + 1))[:BODY_LIMIT]

# Scenario name -> (status, extra headers, body, delay in seconds before answering).
# Bodies of failing statuses still carry a good feed, so only the status can reject them.
SCENARIOS = {
    "good": (200, [], GOOD_BODY, 0),
    "delayed": (200, [], GOOD_BODY, 1.0),
    "okfalse": (200, [], ('{"ok":false,"native_feed":"%s"}' % native_feed()).encode(), 0),
    "okspace": (200, [], ('{"ok": true,"native_feed":"%s"}' % native_feed()).encode(), 0),
    "nofeed": (200, [], b'{"ok":true,"messages":[]}', 0),
    "escaped": (200, [], b'{"ok":true,"native_feed":"bXNn\\/LTE="}', 0),
    "status204": (204, [], b"", 0),
    "status301": (301, [("Location", "/moved")], GOOD_BODY, 0),
    "status302": (302, [("Location", "/moved")], GOOD_BODY, 0),
    "status500": (500, [], GOOD_BODY, 0),
    "slow": (200, [], GOOD_BODY, 4.5),
    "stalled": (200, [], GOOD_BODY, 0),  # half the body, then a pause past the time-out
    "exact": (200, [], EXACT_BODY, 0),
    "over": (200, [], EXACT_BODY + b"x", 0),
    "overchunked": (200, [("Transfer-Encoding", "chunked")], EXACT_BODY + b"x", 0),
    "empty": (200, [], b"", 0),
    "echo": (200, [], None, 0),  # answers with the raw bytes of the request
    "untrusted": (200, [], GOOD_BODY, 0),  # certificate from the authority nobody trusts
    "silent": (200, [], b"", 0),  # takes the connection and says nothing, not even TLS
}

REASONS = {200: "OK", 204: "No Content", 301: "Moved Permanently", 302: "Found",
           500: "Internal Server Error"}


# ---------------------------------------------------------------- certificates

def openssl(*args):
    subprocess.run(["openssl", *args], check=True, stdout=subprocess.DEVNULL,
                   stderr=subprocess.PIPE)


def make_authority(directory, name, common_name):
    key, pem = os.path.join(directory, name + ".key"), os.path.join(directory, name + ".pem")
    openssl("req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", key, "-out", pem,
            "-days", "3", "-subj", "/CN=" + common_name,
            "-addext", "basicConstraints=critical,CA:TRUE",
            "-addext", "keyUsage=critical,keyCertSign,cRLSign")
    openssl("x509", "-in", pem, "-outform", "DER", "-out", os.path.join(directory, name + ".der"))
    return key, pem


def make_server_certificate(directory, name, ca_key, ca_pem):
    key = os.path.join(directory, name + ".key")
    csr = os.path.join(directory, name + ".csr")
    pem = os.path.join(directory, name + ".pem")
    ext = os.path.join(directory, name + ".ext")
    with open(ext, "w") as f:
        f.write("basicConstraints=CA:FALSE\n"
                "keyUsage=critical,digitalSignature,keyEncipherment\n"
                "extendedKeyUsage=serverAuth\n"
                "subjectAltName=DNS:localhost\n")
    openssl("req", "-newkey", "rsa:2048", "-nodes", "-keyout", key, "-out", csr,
            "-subj", "/CN=localhost")
    openssl("x509", "-req", "-in", csr, "-CA", ca_pem, "-CAkey", ca_key, "-CAcreateserial",
            "-out", pem, "-days", "2", "-sha256", "-extfile", ext)
    return key, pem


def make_certificates(directory):
    ca_key, ca_pem = make_authority(directory, "test-ca", "Dropleaf Feed Test Root")
    other_key, other_pem = make_authority(directory, "untrusted-ca", "Dropleaf Untrusted Root")
    make_server_certificate(directory, "server", ca_key, ca_pem)
    make_server_certificate(directory, "untrusted-server", other_key, other_pem)


# ---------------------------------------------------------------- serving

class Log:
    def __init__(self, path):
        self.lock = threading.Lock()
        self.path = path
        open(path, "wb").close()

    def write(self, scenario, request_line):
        with self.lock, open(self.path, "ab") as f:
            f.write(scenario.encode() + b"\t" + request_line + b"\n")


def read_request(conn):
    """Reads one request; returns its raw bytes and its first line, or None."""
    data = b""
    while b"\r\n\r\n" not in data:
        chunk = conn.recv(65536)
        if not chunk:
            return None
        data += chunk
        if len(data) > 65536:
            return None
    head, _, rest = data.partition(b"\r\n\r\n")
    length = 0
    for line in head.split(b"\r\n")[1:]:
        name, _, value = line.partition(b":")
        if name.strip().lower() == b"content-length":
            length = int(value.strip())
    while len(rest) < length:
        chunk = conn.recv(65536)
        if not chunk:
            break
        rest += chunk
    return head + b"\r\n\r\n" + rest, head.split(b"\r\n")[0]


def response_bytes(scenario, raw_request):
    status, headers, body, _ = SCENARIOS[scenario]
    if body is None:
        body = raw_request
    chunked = any(name == "Transfer-Encoding" for name, _ in headers)
    lines = ["HTTP/1.1 %d %s" % (status, REASONS[status]), "Connection: close",
             "Content-Type: application/json"]
    lines += ["%s: %s" % header for header in headers]
    if status != 204 and not chunked:
        lines.append("Content-Length: %d" % len(body))
    head = ("\r\n".join(lines) + "\r\n\r\n").encode("ascii")
    if status == 204:
        return head
    if chunked:
        pieces = [body[i:i + 100000] for i in range(0, len(body), 100000)]
        body = b"".join(b"%x\r\n%s\r\n" % (len(p), p) for p in pieces) + b"0\r\n\r\n"
    return head + body


class ScenarioServer(socketserver.ThreadingTCPServer):
    daemon_threads = True
    allow_reuse_address = True

    def __init__(self, scenario, context, log):
        self.scenario, self.context, self.log = scenario, context, log
        super().__init__((HOST, 0), ScenarioHandler)


class ScenarioHandler(socketserver.BaseRequestHandler):
    def handle(self):
        server = self.server
        self.request.settimeout(10)
        if server.scenario == "silent":
            server.log.write(server.scenario, b"(connection)")
            time.sleep(STALL_SECONDS)
            return
        try:
            conn = server.context.wrap_socket(self.request, server_side=True)
        except (ssl.SSLError, OSError):
            return  # e.g. the client refused the certificate
        try:
            got = read_request(conn)
            if got is None:
                return
            raw, first_line = got
            server.log.write(server.scenario, first_line)
            delay = SCENARIOS[server.scenario][3]
            if delay:
                time.sleep(delay)
            answer = response_bytes(server.scenario, raw)
            if server.scenario == "stalled":
                half = len(answer) - len(GOOD_BODY) // 2
                conn.sendall(answer[:half])
                time.sleep(STALL_SECONDS)
                answer = answer[half:]
            conn.sendall(answer)
            conn.shutdown(socket.SHUT_RDWR)
        except (ssl.SSLError, OSError, ValueError):
            pass
        finally:
            conn.close()


def context_for(directory, name):
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.load_cert_chain(os.path.join(directory, name + ".pem"),
                            os.path.join(directory, name + ".key"))
    return context


def serve(directory, lifetime):
    trusted = context_for(directory, "server")
    untrusted = context_for(directory, "untrusted-server")
    log = Log(os.path.join(directory, "requests.log"))
    servers = []
    for scenario in SCENARIOS:
        context = untrusted if scenario == "untrusted" else trusted
        servers.append(ScenarioServer(scenario, context, log))
    for server in servers:
        threading.Thread(target=server.serve_forever, daemon=True).start()

    with open(os.path.join(directory, "good_body.bin"), "wb") as f:
        f.write(GOOD_BODY)
    with open(os.path.join(directory, "exact_body.bin"), "wb") as f:
        f.write(EXACT_BODY)
    ports = "".join("%s %d\n" % (s.scenario, s.server_address[1]) for s in servers)
    with open(os.path.join(directory, "ports.tmp"), "w") as f:
        f.write(ports)
    os.replace(os.path.join(directory, "ports.tmp"), os.path.join(directory, "ports.txt"))

    stop = threading.Event()
    signal.signal(signal.SIGTERM, lambda *_: stop.set())
    signal.signal(signal.SIGINT, lambda *_: stop.set())
    deadline = time.monotonic() + lifetime
    while not stop.is_set() and time.monotonic() < deadline:
        stop.wait(0.2)
    os._exit(0)  # handler threads may still sleep in a slow answer


# ---------------------------------------------------------------- start and stop

def read_pid(directory):
    try:
        with open(os.path.join(directory, "server.pid")) as f:
            return int(f.read().strip())
    except (OSError, ValueError):
        return None


def stop(directory):
    pid = read_pid(directory)
    if pid is None:
        return 0
    try:
        os.kill(pid, signal.SIGTERM)
        for _ in range(50):
            os.kill(pid, 0)
            time.sleep(0.1)
        os.kill(pid, signal.SIGKILL)
    except ProcessLookupError:
        pass
    os.remove(os.path.join(directory, "server.pid"))
    return 0


def start(directory, lifetime):
    os.makedirs(directory, exist_ok=True)
    stop(directory)
    for name in ("ports.txt", "requests.log"):
        if os.path.exists(os.path.join(directory, name)):
            os.remove(os.path.join(directory, name))
    make_certificates(directory)
    with open(os.path.join(directory, "server.out"), "wb") as out:
        process = subprocess.Popen(
            [sys.executable, os.path.abspath(__file__), "serve", directory,
             "--lifetime", str(lifetime)],
            stdin=subprocess.DEVNULL, stdout=out, stderr=out, start_new_session=True)
    with open(os.path.join(directory, "server.pid"), "w") as f:
        f.write(str(process.pid))
    deadline = time.monotonic() + 30
    while time.monotonic() < deadline:
        if os.path.exists(os.path.join(directory, "ports.txt")):
            print("feed test server %d serving in %s" % (process.pid, directory))
            return 0
        if process.poll() is not None:
            break
        time.sleep(0.1)
    print("feed test server did not start; see %s/server.out" % directory, file=sys.stderr)
    stop(directory)
    return 1


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("command", choices=["start", "stop", "serve"])
    parser.add_argument("directory")
    parser.add_argument("--lifetime", type=float, default=DEFAULT_LIFETIME)
    args = parser.parse_args()
    directory = os.path.abspath(args.directory)
    if args.command == "start":
        return start(directory, args.lifetime)
    if args.command == "stop":
        return stop(directory)
    serve(directory, args.lifetime)
    return 0


if __name__ == "__main__":
    sys.exit(main())
