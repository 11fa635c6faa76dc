#!/usr/bin/env python3
"""A local stand-in for the message service, around the feed tests.

    feed_server.py DIR COMMAND...

Makes a throw-away authority (trusted only in the test Wine prefix, by the test process
itself) with a "localhost" certificate, and a self-signed one nobody trusts, serves one HTTPS
port per scenario on 127.0.0.1 (DIR/ports.txt) while COMMAND runs, and exits with COMMAND's
exit code, the servers with it. DIR/requests.log: "scenario<TAB>request line".
"""
import base64, os, socket, socketserver, ssl, subprocess, sys, threading, time

b64 = lambda data: base64.b64encode(data).decode("ascii")
FEED = b64("".join(f"{i}|{r}|{b64(t.encode())}|\n" for i, r, t in [
    ("msg-1a2b3c4d5e6f708192a3b4c5", "1", "欢迎使用 Dropleaf 消息中心"),
    ("msg-00000000000000000000beef", "12", "新版本 0.2.0 已发布"),
    ("msg-fedcba9876543210fedcba98", "20240601", "粘贴截图：按 Ctrl+V 即可保存")]).encode())
GOOD = ('{"ok":true,"native_feed":"%s","server":"test"}' % FEED).encode()
EXACT = (bytes(range(251)) * 5977)[:1_500_000]  # a period no read chunk size divides

# Scenario -> (status, extra header, body or None to echo the request, how to send). Failing
# answers carry a good feed: only the failure can turn them down.
SCENARIOS = {
    "good": (200, "", GOOD, "whole"),
    "okspace": (200, "", GOOD.replace(b'"ok":', b'"ok": '), "whole"),
    "nofeed": (200, "", b'{"ok":true,"messages":[]}', "whole"),
    "status204": (204, "", b"", "whole"), "status500": (500, "", GOOD, "whole"),
    "status301": (301, "Location: /moved", GOOD, "whole"),
    "exact": (200, "", EXACT, "whole"), "over": (200, "", EXACT + b"x", "whole"),
    "overchunked": (200, "Transfer-Encoding: chunked", EXACT + b"x", "whole"),
    "empty": (200, "", b"", "whole"), "echo": (200, "", None, "whole"),
    "untrusted": (200, "", GOOD, "whole"),  # the self-signed certificate
    "dribbleheaders": (200, "", GOOD, "all"),  # everything a byte every 2 s, for 16 s
    "cutshort": (200, "", GOOD, "short"),  # a clean close after 60% of the body
    "silent": (200, "", GOOD, "late"),  # nothing for 12 s after the request
    "silentbody": (200, "", GOOD, "headfirst"),  # the head, then nothing for 12 s
}


def certificate(subject, *args):
    subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2",
                    "-subj", subject, *args], check=True, capture_output=True)


def answer(scenario, request):
    status, header, body, _ = SCENARIOS[scenario]
    body = request if body is None else body
    head = ["HTTP/1.1 %d X" % status, "Connection: close"] + ([header] if header else [])
    if "chunked" in header:
        body = b"%x\r\n%s\r\n0\r\n\r\n" % (len(body), body)
    elif status != 204:
        head.append("Content-Length: %d" % len(body))
    return ("\r\n".join(head) + "\r\n\r\n").encode(), body


class Handler(socketserver.BaseRequestHandler):
    def handle(self):
        scenario = self.server.scenario
        try:
            self.request.settimeout(10)
            conn = self.server.context.wrap_socket(self.request, server_side=True)
            request = b""
            while b"\r\n\r\n" not in request or not request.endswith(b"}"):
                chunk = conn.recv(65536)
                if not chunk:
                    return
                request += chunk
            with open("requests.log", "ab") as log:
                log.write(scenario.encode() + b"\t" + request.split(b"\r\n")[0] + b"\n")
            head, body = answer(scenario, request)
            mode = SCENARIOS[scenario][3]
            if mode == "headfirst":
                conn.sendall(head)
            if mode in ("late", "headfirst"):
                time.sleep(12)
            now, later = {"whole": (head + body, b""), "late": (head + body, b""),
                          "headfirst": (body, b""), "all": (b"", head + body),
                          "short": (head + body[:len(body) * 6 // 10], b"")}[mode]
            conn.sendall(now)
            for byte in later[:8]:  # a byte every 2 s, for 16 s at most
                conn.sendall(bytes([byte]))
                time.sleep(2)
            conn.shutdown(socket.SHUT_RDWR)
            conn.close()
        except (OSError, ValueError):
            pass  # e.g. the client refused the certificate or went away


def main(folder, command):
    os.makedirs(folder, exist_ok=True)
    os.chdir(folder)
    certificate("/CN=Dropleaf Feed Test Root", "-keyout", "test-ca.key", "-out", "test-ca.pem",
                "-addext", "basicConstraints=critical,CA:TRUE")
    subprocess.run(["openssl", "x509", "-in", "test-ca.pem", "-outform", "DER", "-out", "test-ca.der"],
                   check=True)
    server = ["/CN=localhost", "-addext", "subjectAltName=DNS:localhost",
              "-addext", "basicConstraints=CA:FALSE", "-addext", "extendedKeyUsage=serverAuth"]
    certificate(*server, "-CA", "test-ca.pem", "-CAkey", "test-ca.key", "-keyout", "server.key",
                "-out", "server.pem")
    certificate(*server, "-keyout", "untrusted.key", "-out", "untrusted.pem")
    for name, data in (("requests.log", b""), ("good_body.bin", GOOD), ("exact_body.bin", EXACT)):
        with open(name, "wb") as f:
            f.write(data)
    servers = []
    for scenario in SCENARIOS:
        server = socketserver.ThreadingTCPServer(("127.0.0.1", 0), Handler)
        server.daemon_threads, server.scenario = True, scenario
        server.context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        name = "untrusted" if scenario == "untrusted" else "server"
        server.context.load_cert_chain(name + ".pem", name + ".key")
        threading.Thread(target=server.serve_forever, daemon=True).start()
        servers.append(server)
    with open("ports.txt", "w") as f:
        f.write("".join("%s %d\n" % (s.scenario, s.server_address[1]) for s in servers))
    return subprocess.run(command).returncode


if __name__ == "__main__":
    sys.exit(main(os.path.abspath(sys.argv[1]), sys.argv[2:]))
