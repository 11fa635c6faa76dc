#!/usr/bin/env python3
"""Authenticode-signs one file in place, SHA-256, with the maker's certificate:

    sign.py TOOL SITE FILE

TOOL is signtool (Windows) or osslsigncode (elsewhere); SITE, the maker's web site, is what the
signature names beside the product. The certificate (a PKCS#12 file) and
its password come from the environment, DROPLEAF_SIGN_PFX and DROPLEAF_SIGN_PASSWORD, read here
as the file is signed, so the password is written to no file, build script or log;
DROPLEAF_SIGN_TIMESTAMP_URL, when set, adds an RFC 3161 time stamp. A file that cannot be
signed is deleted and the exit code is not 0: nothing unsigned is left looking released.
"""
import os
import subprocess
import sys

PRODUCT = "Dropleaf"


def command(tool, site, path, pfx, password, timestamp_url):
    if os.path.basename(tool).lower().startswith("signtool"):
        # signtool takes the password on its command line only; it prints no command line.
        stamp = ["/tr", timestamp_url, "/td", "SHA256"] if timestamp_url else []
        return [tool, "sign", "/fd", "SHA256", "/f", pfx, "/p", password, "/d", PRODUCT,
                "/du", site, *stamp, path], None, path
    stamp = ["-ts", timestamp_url] if timestamp_url else []
    signed = path + ".signed"
    return [tool, "sign", "-pkcs12", pfx, "-readpass", "/dev/stdin", "-h", "sha256", "-n", PRODUCT,
            "-i", site, *stamp, "-in", path, "-out", signed], password.encode(), signed


def main(tool, site, path):
    pfx = os.environ.get("DROPLEAF_SIGN_PFX", "")
    try:
        if not pfx:
            raise RuntimeError("DROPLEAF_SIGN_PFX is not set in the build's environment")
        args, stdin, signed = command(tool, site, path, pfx, os.environ.get("DROPLEAF_SIGN_PASSWORD", ""),
                                      os.environ.get("DROPLEAF_SIGN_TIMESTAMP_URL", ""))
        if signed != path and os.path.exists(signed):
            os.remove(signed)
        subprocess.run(args, input=stdin, stdout=subprocess.DEVNULL, check=True)
        os.replace(signed, path)
        return 0
    except (OSError, RuntimeError, subprocess.CalledProcessError) as error:
        # The error names the tool and the file, never the arguments (the password is one).
        reason = error if not isinstance(error, subprocess.CalledProcessError) else \
            "%s exited with %d" % (os.path.basename(tool), error.returncode)
        print("Signing %s failed: %s" % (os.path.basename(path), reason), file=sys.stderr)
        if os.path.exists(path):
            os.remove(path)
        return 1


if __name__ == "__main__":
    sys.exit(main(*sys.argv[1:4]))
