#!/usr/bin/env python3
"""Authenticode signing, SHA-256, with the maker's certificate, the password kept off every
command line and out of the build's environment:

    sign.py run [--folder DIR] COMMAND...
                                   runs COMMAND (the build) with a signing agent: this process
                                   alone reads DROPLEAF_SIGN_PASSWORD; COMMAND and everything it
                                   starts (compilers, windres, makensis) get the agent's address
                                   in DROPLEAF_SIGN_AGENT instead, never the password. The agent
                                   signs files inside DIR (the build folder; by default the
                                   folder it was started in) and nothing else
    sign.py file [--via DIR] FILE  signs FILE in place through that agent (the build's steps);
                                   a FILE outside the build folder (makensis writes the
                                   uninstaller into the system's temporary folder) is signed as a
                                   copy in DIR, a folder inside it, and copied back
    sign.py check signed|unsigned  fails in one line where the build's environment and what the
                                   build folder was configured with disagree

Everything but the file is fixed when the agent starts: the signing tool (osslsigncode, or
Windows' own Set-AuthenticodeSignature through PowerShell where there is no osslsigncode on
Windows), either taking the password on its standard input; the certificate (a PKCS#12 file),
DROPLEAF_SIGN_PFX; DROPLEAF_SIGN_TIMESTAMP_URL, when set, a time stamp (RFC 3161 through
osslsigncode; see the README for PowerShell's); and the maker's web site, which the signature
names beside the product, as core/service_hosts.h names it. A request names one file; a file
that cannot be signed is deleted and the exit code is not 0: nothing unsigned is left looking
released.
"""
import os
import re
import secrets
import shutil
import socket
import subprocess
import sys
import threading

PRODUCT = "Dropleaf"
SECRET, PFX, AGENT, STAMP = ("DROPLEAF_SIGN_PASSWORD", "DROPLEAF_SIGN_PFX", "DROPLEAF_SIGN_AGENT",
                             "DROPLEAF_SIGN_TIMESTAMP_URL")
HOSTS = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "core", "service_hosts.h")
LONGEST_REQUEST = 65536  # bytes of one request line
REQUEST_SECONDS = 5  # a connection silent that long is closed

# Windows' own signing, for a machine without osslsigncode: the certificate is loaded from the
# file inside PowerShell, with the password read from standard input, its key held in memory
# only (EphemeralKeySet: nothing is written to the user's key store) and disposed when done.
POWERSHELL = r"""
$ErrorActionPreference = 'Stop'
$password = ConvertTo-SecureString ([Console]::In.ReadLine()) -AsPlainText -Force
$flags = [Security.Cryptography.X509Certificates.X509KeyStorageFlags]::EphemeralKeySet
$certificate = [Security.Cryptography.X509Certificates.X509Certificate2]::new($env:SIGN_PFX, $password, $flags)
try {
  $stamp = @{}
  if ($env:SIGN_STAMP) { $stamp.TimestampServer = $env:SIGN_STAMP }
  $signature = Set-AuthenticodeSignature -LiteralPath $env:SIGN_FILE -Certificate $certificate -HashAlgorithm SHA256 -IncludeChain NotRoot @stamp
  if (-not $signature.SignerCertificate -or $signature.Status -in 'NotSigned','HashMismatch','NotSupportedFileFormat','Incompatible') { exit 1 }
} finally {
  $certificate.Dispose()
}
"""


class Signer:
    """What every request of one build is signed with, fixed when the agent starts."""

    def __init__(self, password, folder):
        self.password = password
        self.folder = os.path.realpath(folder)
        self.pfx = os.environ.get(PFX, "")
        self.stamp = os.environ.get(STAMP, "")
        self.tool = shutil.which("osslsigncode") or ""
        if not self.tool and os.name == "nt":
            self.tool = shutil.which("powershell") or shutil.which("pwsh") or ""
        with open(HOSTS, encoding="utf-8") as f:
            self.site = re.search(r'MAKER_WEB_SITE\[\] = L"([^"]+)"', f.read()).group(1)
        # What the tool runs with: the build's environment without the password or the agent.
        self.environment = {k: v for k, v in os.environ.items() if k not in (SECRET, AGENT)}

    def inside(self, path):
        """The file as a path inside the build folder, or None: the agent signs nothing else."""
        if not os.path.isabs(path):
            return None
        real = os.path.realpath(path)
        if os.path.commonpath([real, self.folder]) != self.folder or not os.path.isfile(real):
            return None
        return real

    def command(self, path):
        """The signing command, the environment it needs beyond ours, and the file it writes."""
        if os.path.basename(self.tool).lower().startswith(("powershell", "pwsh")):
            return [self.tool, "-NoProfile", "-NonInteractive", "-Command", POWERSHELL], \
                {"SIGN_PFX": self.pfx, "SIGN_FILE": path, "SIGN_STAMP": self.stamp}, path
        stamp = ["-ts", self.stamp] if self.stamp else []
        signed = path + ".signed"
        return [self.tool, "sign", "-pkcs12", self.pfx, "-readpass", "/dev/stdin", "-h", "sha256",
                "-n", PRODUCT, "-i", self.site, *stamp, "-in", path, "-out", signed], {}, signed

    def sign(self, requested):
        """Signs one file inside the build folder; an error message, or None."""
        path = self.inside(requested)
        if not path:
            return "not a file of the build folder %s" % self.folder
        try:
            if not self.pfx:
                raise RuntimeError("%s is not set in the build's environment" % PFX)
            if not self.tool:
                raise RuntimeError("no signing tool (osslsigncode, or PowerShell on Windows)")
            args, extra, signed = self.command(path)
            if signed != path and os.path.exists(signed):
                os.remove(signed)
            subprocess.run(args, input=(self.password + "\n").encode(), stdout=subprocess.DEVNULL,
                           env=dict(self.environment, **extra), check=True)
            os.replace(signed, path)
            return None
        except (OSError, RuntimeError, subprocess.CalledProcessError) as error:
            # The message names the tool and the file, never the arguments.
            reason = error if not isinstance(error, subprocess.CalledProcessError) else \
                "%s exited with %d" % (os.path.basename(self.tool), error.returncode)
            if os.path.exists(path):
                os.remove(path)
            return "Signing %s failed: %s" % (os.path.basename(path), reason)


def answer(connection, token, signer):
    """One request, one line "token<TAB>file", answered with "ok" or why not. A connection that
    stays silent, drops, sends more than a line or bytes that are not UTF-8 ends here alone."""
    with connection:
        try:
            connection.settimeout(REQUEST_SECONDS)
            line = b""
            while not line.endswith(b"\n") and len(line) < LONGEST_REQUEST:
                part = connection.recv(LONGEST_REQUEST - len(line))
                if not part:
                    return
                line += part
            fields = line.decode("utf-8").rstrip("\n").split("\t")
            if not line.endswith(b"\n") or len(fields) != 2 or \
                    not secrets.compare_digest(fields[0].encode(), token.encode()):
                connection.sendall(b"not a request of this build\n")
                return
            connection.sendall(((signer.sign(fields[1]) or "ok") + "\n").encode())
        except (OSError, UnicodeDecodeError):
            return


def serve(listener, token, signer):
    while True:
        connection, _ = listener.accept()
        threading.Thread(target=answer, args=(connection, token, signer), daemon=True).start()


def run(*command):
    folder = os.getcwd()
    if command[:1] == ("--folder",):
        folder, command = command[1], command[2:]
    signer = Signer(os.environ.pop(SECRET, ""), folder)
    listener = socket.create_server(("127.0.0.1", 0))
    token = secrets.token_hex(16)
    threading.Thread(target=serve, args=(listener, token, signer), daemon=True).start()
    environment = dict(os.environ, **{AGENT: "127.0.0.1:%d:%s" % (listener.getsockname()[1], token)})
    return subprocess.run(list(command), env=environment).returncode


def ask_agent(path):
    """The agent's answer for one file: "ok", or why not."""
    agent = os.environ.get(AGENT, "")
    try:
        host, port, token = agent.split(":")
        with socket.create_connection((host, int(port))) as connection, \
                connection.makefile("rw", encoding="utf-8", newline="\n") as stream:
            stream.write("\t".join((token, os.path.abspath(path))) + "\n")
            stream.flush()
            return stream.readline().strip()
    except (OSError, ValueError):
        # Unsigned, so not to be shipped: the step removes what it could not have signed. A file
        # the agent refused is left as it is.
        if os.path.exists(path):
            os.remove(path)
        return "no signing agent: build through packaging/sign.py run"


def sign_file(*args):
    via, path = (args[1], args[2]) if args[:1] == ("--via",) else (None, args[0])
    if via:
        os.makedirs(via, exist_ok=True)
        copy = os.path.join(via, os.path.basename(path))
        shutil.copyfile(path, copy)
        answer = ask_agent(copy)
        if answer == "ok":
            shutil.copyfile(copy, path)
        else:
            os.remove(path)
        if os.path.exists(copy):
            os.remove(copy)
    else:
        answer = ask_agent(path)
    if answer == "ok":
        return 0
    print(answer, file=sys.stderr)
    return 1


def check(configured):
    wanted = "signed" if os.environ.get(PFX) else "unsigned"
    if wanted != configured:
        print("This build folder was configured %s, but %s is %s in the build's environment: "
              "configure it again with the environment of the build"
              % (configured, PFX, "set" if wanted == "signed" else "not set"), file=sys.stderr)
        return 1
    if os.environ.get(SECRET):
        print("%s is in the build's environment, where every compiler sees it: build through "
              "packaging/sign.py run" % SECRET, file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    steps = {"run": run, "file": sign_file, "check": check}
    sys.exit(steps[sys.argv[1]](*sys.argv[2:]))
