#!/usr/bin/env python3
"""The downloads' steps that must give the same bytes on every rebuild of one source:

    package.py stage PROGRAM STAGED EPOCH [sign]        the program as shipped: copied, signed
                                                        through the signing agent when told,
                                                        dated EPOCH
    package.py zip ZIP STAGED EPOCH                     the portable zip of the staged program
    package.py sums FOLDER FILE...                      FOLDER/SHA256SUMS of the files, as
                                                        sha256sum -c reads it
    package.py buildinfo OUT COMMIT EPOCH COMPILER LINKER WINDRES [MAKENSIS]
                                                        OUT: what a rebuild must use to give
                                                        the same bytes

EPOCH is the source's date in seconds (SOURCE_DATE_EPOCH): the one date any download stores,
never the build's clock or a file's own times.
"""
import hashlib
import os
import re
import shutil
import subprocess
import sys
import time
import zipfile
import zlib


def stage(program, staged, epoch, signed=None):
    os.makedirs(os.path.dirname(staged), exist_ok=True)
    shutil.copyfile(program, staged)
    if signed:
        sign = os.path.join(os.path.dirname(os.path.abspath(__file__)), "sign.py")
        if subprocess.run([sys.executable, sign, "file", staged]).returncode != 0:
            return 1
    # The setup program stores its files' dates: this one is the source's.
    os.utime(staged, (int(epoch), int(epoch)))
    return 0


def make_zip(out, staged, epoch):
    # Entry time, attributes and system are fixed; no extra field carries the file's own times.
    entry = zipfile.ZipInfo(os.path.basename(staged), time.gmtime(max(int(epoch), 315532800))[:6])
    entry.create_system = 0  # MS-DOS, as Windows' own zips say
    entry.external_attr = 0x20  # FILE_ATTRIBUTE_ARCHIVE
    entry.compress_type = zipfile.ZIP_DEFLATED
    with open(staged, "rb") as f:
        data = f.read()
    partial = out + ".part"
    with zipfile.ZipFile(partial, "w") as archive:
        archive.writestr(entry, data, compresslevel=9)
    os.replace(partial, out)
    return 0


def sums(folder, *files):
    lines = []
    for path in files:
        with open(path, "rb") as f:
            lines.append("%s  %s\n" % (hashlib.sha256(f.read()).hexdigest(), os.path.basename(path)))
    with open(os.path.join(folder, "SHA256SUMS"), "w", newline="\n") as f:
        f.writelines(lines)
    return 0


def first_line(*command):
    try:
        result = subprocess.run(command, stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
        return result.stdout.decode(errors="replace").splitlines()[0].strip()
    except (OSError, IndexError):
        return "unknown"


def nsis_stub(makensis):
    """The stub the setup is built on, as dropleaf.nsi picks it, and its SHA-256."""
    folder = os.environ.get("NSISDIR")
    if not folder:
        info = subprocess.run([makensis, "-HDRINFO"], stdout=subprocess.PIPE).stdout.decode()
        found = re.search(r"(?:^|[\s,])NSISDIR=([^,\r\n]+)", info)
        folder = found.group(1).strip() if found else ""
    for name in ("lzma_solid-amd64-unicode", "lzma_solid-x86-unicode"):
        path = os.path.join(folder, "Stubs", name)
        if os.path.exists(path):
            with open(path, "rb") as f:
                return "%s sha256 %s" % (name, hashlib.sha256(f.read()).hexdigest())
    return "not found"


def buildinfo(out, commit, epoch, compiler, linker, windres, makensis=""):
    lines = [("source commit", commit),
             ("source date", "%s (%s UTC)" % (epoch, time.strftime("%Y-%m-%d %H:%M:%S",
                                                                  time.gmtime(int(epoch))))),
             ("compiler", first_line(compiler, "--version")),
             ("binutils", first_line(linker, "--version")),
             ("windres", first_line(windres, "--version"))]
    if makensis:
        lines += [("makensis", first_line(makensis, "-VERSION")), ("NSIS stub", nsis_stub(makensis))]
    lines += [("python", sys.version.split()[0]), ("zlib", zlib.ZLIB_RUNTIME_VERSION)]
    with open(out, "w", newline="\n") as f:
        f.writelines("%s: %s\n" % line for line in lines)
    return 0


if __name__ == "__main__":
    steps = {"stage": stage, "zip": make_zip, "sums": sums, "buildinfo": buildinfo}
    sys.exit(steps[sys.argv[1]](*sys.argv[2:]))
