#!/usr/bin/env python3
"""Authenticode signing, SHA-256, with the maker's certificate, the password kept off every
command line and out of the build's environment:

    sign.py run COMMAND...         runs COMMAND (the build) with a signing agent: this process
                                   alone reads DROPLEAF_SIGN_PASSWORD; COMMAND and everything it
                                   starts (compilers, windres, makensis) get the agent's address
                                   in DROPLEAF_SIGN_AGENT instead, never the password
    sign.py file TOOL SITE FILE    signs FILE in place through that agent (the build's steps)
    sign.py check signed|unsigned  fails in one line where the build's environment and what the
                                   build folder was configured with disagree

TOOL is osslsigncode, or powershell where only Windows' own Set-AuthenticodeSignature is there;
either takes the password on its standard input. SITE, the maker's web site, is what the
signature names beside the product (osslsigncode). The certificate (a PKCS#12 file) is
DROPLEAF_SIGN_PFX; DROPLEAF_SIGN_TIMESTAMP_URL, when set, adds an RFC 3161 time stamp. A file
that cannot be signed is deleted and the exit code is not 0: nothing unsigned is left looking
released.
"""
import os
import secrets
import socket
import subprocess
import sys
import threading

PRODUCT = "Dropleaf"
SECRET, PFX, AGENT, STAMP = ("DROPLEAF_SIGN_PASSWORD", "DROPLEAF_SIGN_PFX", "DROPLEAF_SIGN_AGENT",
                             "DROPLEAF_SIGN_TIMESTAMP_URL")

# Windows' own signing, for a machine without osslsigncode: the certificate is loaded from the
# file inside PowerShell, with the password read from standard input.
POWERSHELL = r"""
$ErrorActionPreference = 'Stop'
$password = ConvertTo-SecureString ([Console]::In.ReadLine()) -AsPlainText -Force
$flags = [Security.Cryptography.X509Certificates.X509KeyStorageFlags]::UserKeySet
$certificate = [Security.Cryptography.X509Certificates.X509Certificate2]::new($env:SIGN_PFX, $password, $flags)
$stamp = @{}
if ($env:SIGN_STAMP) { $stamp.TimestampServer = $env:SIGN_STAMP }
$signature = Set-AuthenticodeSignature -LiteralPath $env:SIGN_FILE -Certificate $certificate -HashAlgorithm SHA256 -IncludeChain NotRoot @stamp
if (-not $signature.SignerCertificate -or $signature.Status -in 'NotSigned','HashMismatch','NotSupportedFileFormat','Incompatible') { exit 1 }
"""


def signer(tool, site, path, pfx, timestamp_url):
    """The signing command, the environment it needs beyond ours, and the file it writes."""
    if os.path.basename(tool).lower().startswith("powershell") or \
            os.path.basename(tool).lower().startswith("pwsh"):
        return [tool, "-NoProfile", "-NonInteractive", "-Command", POWERSHELL], \
            {"SIGN_PFX": pfx, "SIGN_FILE": path, "SIGN_STAMP": timestamp_url}, path
    stamp = ["-ts", timestamp_url] if timestamp_url else []
    signed = path + ".signed"
    return [tool, "sign", "-pkcs12", pfx, "-readpass", "/dev/stdin", "-h", "sha256", "-n", PRODUCT,
            "-i", site, *stamp, "-in", path, "-out", signed], {}, signed


def sign_with(password, tool, site, path):
    """Signs one file; an error message, or None."""
    try:
        pfx = os.environ.get(PFX, "")
        if not pfx:
            raise RuntimeError("%s is not set in the build's environment" % PFX)
        args, extra, signed = signer(tool, site, path, pfx, os.environ.get(STAMP, ""))
        if signed != path and os.path.exists(signed):
            os.remove(signed)
        environment = {k: v for k, v in os.environ.items() if k not in (SECRET, AGENT)}
        subprocess.run(args, input=(password + "\n").encode(), stdout=subprocess.DEVNULL,
                       env=dict(environment, **extra), check=True)
        os.replace(signed, path)
        return None
    except (OSError, RuntimeError, subprocess.CalledProcessError) as error:
        # The message names the tool and the file, never the arguments.
        reason = error if not isinstance(error, subprocess.CalledProcessError) else \
            "%s exited with %d" % (os.path.basename(tool), error.returncode)
        if os.path.exists(path):
            os.remove(path)
        return "Signing %s failed: %s" % (os.path.basename(path), reason)


def serve(listener, token, password):
    """Answers each request, one line "token<TAB>tool<TAB>site<TAB>file", with "ok" or why not."""
    while True:
        connection, _ = listener.accept()
        with connection, connection.makefile("rw", encoding="utf-8", newline="\n") as stream:
            fields = stream.readline().rstrip("\n").split("\t")
            if len(fields) != 4 or not secrets.compare_digest(fields[0], token):
                stream.write("not a request of this build\n")
                continue
            stream.write((sign_with(password, *fields[1:]) or "ok") + "\n")


def run(*command):
    password = os.environ.pop(SECRET, "")
    listener = socket.create_server(("127.0.0.1", 0))
    token = secrets.token_hex(16)
    threading.Thread(target=serve, args=(listener, token, password), daemon=True).start()
    environment = dict(os.environ, **{AGENT: "127.0.0.1:%d:%s" % (listener.getsockname()[1], token)})
    return subprocess.run(list(command), env=environment).returncode


def sign_file(tool, site, path):
    agent = os.environ.get(AGENT, "")
    try:
        host, port, token = agent.split(":")
        with socket.create_connection((host, int(port))) as connection, \
                connection.makefile("rw", encoding="utf-8", newline="\n") as stream:
            stream.write("\t".join((token, tool, site, os.path.abspath(path))) + "\n")
            stream.flush()
            answer = stream.readline().strip()
    except (OSError, ValueError):
        answer = "no signing agent: build through packaging/sign.py run"
    if answer == "ok":
        return 0
    print(answer, file=sys.stderr)
    if os.path.exists(path):
        os.remove(path)
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
