#!/usr/bin/env python3
"""packages_test.py BUILD SOURCE VERSION: what BUILD wrote, then the program and packages
rebuilt from a copy of SOURCE elsewhere, unsigned (the same bytes) and signed (verifying, the
password nowhere), and the setup of a makensis with 32-bit stubs only."""
import hashlib
import json
import os
import re
import shutil
import subprocess
import sys
import tempfile
import unittest

import yaml

BUILD, SOURCE, VERSION = sys.argv[1:4]
SETUP, ZIP = "Dropleaf-%s-setup.exe" % VERSION, "Dropleaf-%s-win64.zip" % VERSION
DOWNLOADS = ["Dropleaf.exe", ZIP, SETUP, "BUILDINFO", "SHA256SUMS"]
WORK = tempfile.mkdtemp(prefix="dropleaf-packages-")

# What winget's published 1.6.0 schemas ask of the fields these manifests carry:
# field: (pattern, shortest, longest); and which fields each kind must have.
URL, ANY = r"^([Hh][Tt][Tt][Pp][Ss]?)://.+$", r"."
PART = r'[^.\s\\/:*?"<>|\x01-\x1f]{1,32}'
LOCALE = r"^([a-zA-Z]{2,3}|[iI]-[a-zA-Z]+|[xX]-[a-zA-Z]{1,8})(-[a-zA-Z]{1,8})*$"
RULES = {"PackageIdentifier": (r"^%s(\.%s){1,7}$" % (PART, PART), 1, 128),
         "PackageVersion": (r'^[^\\/:*?"<>|\x01-\x1f]+$', 1, 128), "DefaultLocale": (LOCALE, 1, 20),
         "PackageLocale": (LOCALE, 1, 20), "ManifestVersion": (r"^\d+\.\d+\.\d+$", 5, 20),
         "InstallerUrl": (URL, 1, 2048), "PublisherUrl": (URL, 1, 2048),
         "InstallerSha256": (r"^[A-Fa-f0-9]{64}$", 64, 64), "ProductCode": (ANY, 1, 255),
         "Publisher": (ANY, 2, 256), "PackageName": (ANY, 2, 256), "License": (ANY, 3, 512),
         "ShortDescription": (ANY, 3, 256), "ReleaseNotes": (ANY, 1, 10000),
         "Moniker": (ANY, 1, 40), "PackageUrl": (URL, 1, 2048), "ReleaseNotesUrl": (URL, 1, 2048)}
COMMON = "PackageIdentifier PackageVersion ManifestType ManifestVersion "
REQUIRED = {"version": (COMMON + "DefaultLocale").split(),
            "installer": (COMMON + "Installers").split(),
            "defaultLocale": (COMMON + "PackageLocale Publisher PackageName License "
                              "ShortDescription").split()}


def sha256(path):
    with open(path, "rb") as f:
        return hashlib.sha256(f.read()).hexdigest()


def run(args, **kwargs):
    return subprocess.run(args, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, **kwargs)


def copy_source(destination):
    """The working tree (tracked and new files) and its history, every file dated 2001."""
    listed = run(["git", "-C", SOURCE, "ls-files", "-z", "-co", "--exclude-standard"]).stdout
    for index, name in enumerate(n for n in listed.decode().split("\0") if n):
        if not os.path.exists(os.path.join(SOURCE, name)):
            continue  # deleted in the working tree
        target = os.path.join(destination, name)
        os.makedirs(os.path.dirname(target), exist_ok=True)
        shutil.copyfile(os.path.join(SOURCE, name), target)
        os.utime(target, (978307200 + index, 978307200 + index))
    shutil.copytree(os.path.join(SOURCE, ".git"), os.path.join(destination, ".git"))


SIGN = os.path.join(SOURCE, "packaging", "sign.py")


def build(name, environment):
    """Configures and builds the program and its packages (no tests) from a fresh copy of the
    source, a signing password given to the signing agent alone; the folder and what configure
    and the build printed."""
    source = os.path.join(WORK, name, "deeper", "source copy")
    folder = os.path.join(WORK, name + " build")
    copy_source(source)
    env = {k: v for k, v in os.environ.items()
           if not k.startswith("DROPLEAF_") and k != "SOURCE_DATE_EPOCH"}
    env.update(environment)
    agent = [sys.executable, SIGN, "run", "--folder", folder] if "DROPLEAF_SIGN_PASSWORD" in env \
        else []
    log = run(agent + ["cmake", "-S", source, "-B", folder, "-DCMAKE_BUILD_TYPE=Release",
                       "-DDROPLEAF_BUILD_TESTS=OFF", "-DCMAKE_TOOLCHAIN_FILE=" +
                       os.path.join(source, "cmake", "mingw-w64-x86_64.cmake")], env=env).stdout
    built = run(agent + ["cmake", "--build", folder, "-j2"], env=env)
    return folder, (log + built.stdout).decode(errors="replace"), built.returncode


class Downloads(unittest.TestCase):
    def test_1_checksums_and_winget_manifests_of_this_build(self):
        with open(os.path.join(BUILD, "SHA256SUMS")) as f:
            listed = dict(reversed(line.split("  ")) for line in f.read().splitlines())
        self.assertEqual(listed, {name: sha256(os.path.join(BUILD, name))
                                  for name in (SETUP, ZIP, "BUILDINFO")})
        # What a rebuild needs: the commit, and the tools this build used.
        with open(os.path.join(BUILD, "BUILDINFO")) as f:
            info = dict(line.split(": ", 1) for line in f.read().splitlines())
        commit = run(["git", "-C", SOURCE, "rev-parse", "HEAD"]).stdout.decode().strip()
        self.assertEqual(info["source commit"], commit)
        self.assertEqual(info["makensis"], run(["makensis", "-VERSION"]).stdout.decode().strip())
        self.assertRegex(info["NSIS stub"], r"^lzma_solid-amd64-unicode sha256 [0-9a-f]{64}$")

        manifests = {}
        for name in os.listdir(os.path.join(BUILD, "winget")):
            with open(os.path.join(BUILD, "winget", name), encoding="utf-8") as f:
                manifest = yaml.safe_load(f)
            manifests[manifest["ManifestType"]] = manifest
            self.assertTrue(set(REQUIRED[manifest["ManifestType"]]) <= set(manifest), name)
            fields = dict(manifest, **manifest.get("Installers", [{}])[0])
            for key, value in fields.items():
                if key in RULES:
                    pattern, shortest, longest = RULES[key]
                    self.assertTrue(re.search(pattern, value) and shortest <= len(value) <= longest,
                                    "%s: %s" % (key, value))
            self.assertEqual([manifest[k] for k in COMMON.split() if k != "ManifestType"],
                             ["Velmorra.Dropleaf", VERSION, "1.6.0"])  # the rules' version
        self.assertEqual([manifests["version"]["DefaultLocale"],
                          manifests["defaultLocale"]["PackageLocale"]], ["zh-CN"] * 2)
        locale = manifests["defaultLocale"]
        self.assertTrue(0 < len(locale["Tags"]) <= 16 and all(0 < len(t) <= 40 for t in locale["Tags"]))
        self.assertEqual(locale["Moniker"], "dropleaf")
        self.assertTrue(all(len(line) <= 100 for line in locale["ReleaseNotes"].splitlines()))
        # The setup's code for a copy that would not close, which winget then reports as such.
        self.assertEqual(manifests["installer"]["ExpectedReturnCodes"],
                         [{"InstallerReturnCode": 2, "ReturnResponse": "packageInUse"}])
        self.assertEqual(manifests["installer"]["Installers"], [{
            "Architecture": "x64", "ProductCode": "Dropleaf",
            "InstallerUrl": "https://www.velmorralab.com/downloads/dropleaf/" + SETUP,
            "InstallerSha256": listed[SETUP].upper()}])
        self.assertEqual((manifests["installer"]["InstallerType"], manifests["installer"]["Scope"]),
                         ("nullsoft", "user"))
        # The changelog's top entry is this version, and its text the release notes.
        with open(os.path.join(SOURCE, "CHANGELOG.md"), encoding="utf-8") as f:
            entries = re.split(r"^## ", f.read(), flags=re.M)[1:]
        self.assertTrue(entries[0].startswith("[%s] - " % VERSION), entries[0][:40])
        self.assertEqual(manifests["defaultLocale"]["ReleaseNotes"],
                         entries[0].split("\n", 1)[1].strip())

    def test_2_a_rebuild_elsewhere_is_the_same_byte_for_byte(self):
        folder, log, status = build("unsigned", {})
        self.assertEqual(status, 0, log[-3000:])
        self.assertIn("Downloads: not signed", log)
        for name in DOWNLOADS + ["winget/Velmorra.Dropleaf.installer.yaml"]:
            self.assertEqual(sha256(os.path.join(folder, name)), sha256(os.path.join(BUILD, name)),
                             name)
        # Built later with a certificate in the environment, the folder configured without one
        # says so and fails, instead of giving unsigned downloads.
        later = run(["cmake", "--build", folder], env=dict(os.environ, DROPLEAF_SIGN_PFX="x.pfx"))
        self.assertNotEqual(later.returncode, 0)
        self.assertIn(b"was configured unsigned, but DROPLEAF_SIGN_PFX is set", later.stdout)

    def test_3_signed_with_the_certificate_given_and_the_password_nowhere(self):
        keys = os.path.join(WORK, "keys")
        os.makedirs(keys)
        password = "pw-" + os.urandom(12).hex()
        openssl = lambda *args, **kw: run(["openssl", *args], cwd=keys, check=True, **kw)
        new = ["req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2", "-addext"]
        openssl(*new, "basicConstraints=critical,CA:TRUE", "-subj", "/CN=Dropleaf Test Root",
                "-keyout", "ca.key", "-out", "ca.pem")
        openssl(*new, "extendedKeyUsage=codeSigning", "-addext", "basicConstraints=CA:FALSE",
                "-subj", "/CN=Velmorra Test", "-CA", "ca.pem", "-CAkey", "ca.key", "-keyout",
                "sign.key", "-out", "sign.pem")
        openssl("pkcs12", "-export", "-inkey", "sign.key", "-in", "sign.pem", "-out", "sign.pfx",
                "-passout", "env:PFX_PASSWORD", env=dict(os.environ, PFX_PASSWORD=password))
        signing = {"DROPLEAF_SIGN_PFX": os.path.join(keys, "sign.pfx"),
                   "DROPLEAF_SIGN_PASSWORD": password}
        folder, log, status = build("signed", signing)
        self.assertEqual(status, 0, log[-3000:])
        self.assertIn("Downloads: signed", log)

        # The program (as the zip and the setup carry it), the uninstaller the setup writes
        # (unpacked from it) and the setup itself.
        unpacked = os.path.join(WORK, "unpacked")
        run(["7zz", "x", "-y", "-o" + unpacked, os.path.join(folder, SETUP)], check=True)
        run(["7zz", "x", "-y", "-o" + unpacked + "-zip", os.path.join(folder, ZIP)], check=True)
        program = os.path.join(unpacked + "-zip", "Dropleaf.exe")
        for path in (program, os.path.join(unpacked, "Dropleaf.exe"),
                     os.path.join(unpacked, "uninstall.exe"), os.path.join(folder, SETUP)):
            verified = run(["osslsigncode", "verify", "-CAfile", os.path.join(keys, "ca.pem"),
                            "-in", path])
            self.assertEqual(verified.returncode, 0, verified.stdout.decode(errors="replace"))
        for name in ("SHA256SUMS", "winget/Velmorra.Dropleaf.installer.yaml"):  # the final hash
            with open(os.path.join(folder, name)) as f:
                self.assertIn(sha256(os.path.join(folder, SETUP)), f.read().lower(), name)

        # Taking the signature off gives back the unsigned program, byte for byte.
        bare = os.path.join(WORK, "bare.exe")
        run(["osslsigncode", "remove-signature", "-in", program, "-out", bare], check=True)
        self.assertEqual(sha256(bare), sha256(os.path.join(BUILD, "Dropleaf.exe")))

        secret = [password.encode(), password.encode("utf-16-le")]
        self.assertFalse([s for s in secret if s in log.encode()], "the build's output")
        for root, _, files in os.walk(folder):
            for name in files:
                with open(os.path.join(root, name), "rb") as f:
                    data = f.read()
                self.assertFalse([s for s in secret if s in data], os.path.join(root, name))

        # What the agent runs (the build) has no password in its environment, only the agent's
        # address; a wrong password fails the signing step, and the file it was to sign is gone.
        seen = run([sys.executable, SIGN, "run", "env"], env=dict(os.environ, **signing)).stdout
        self.assertIn(b"DROPLEAF_SIGN_AGENT=127.0.0.1:", seen)
        self.assertNotIn(password.encode(), seen)
        copy = os.path.join(WORK, "unsignable.exe")
        shutil.copyfile(os.path.join(BUILD, "Dropleaf.exe"), copy)
        failed = run([sys.executable, SIGN, "run", "--folder", WORK, sys.executable, SIGN, "file",
                      copy],
                     env=dict(os.environ, **dict(signing, DROPLEAF_SIGN_PASSWORD="wrong-" + password)))
        self.assertNotEqual(failed.returncode, 0)
        self.assertFalse(os.path.exists(copy))
        self.assertNotIn(password.encode(), failed.stdout)

        # The agent holds everything but the file, for its own build folder alone: any other
        # process of the machine may reach its port. Requests without the token, naming a tool
        # of their own, or a file outside the folder run and delete nothing; a silent connection
        # and bytes that are not UTF-8 end that connection alone, and the build's next request is
        # signed at once.
        served, outside = os.path.join(WORK, "served"), os.path.join(WORK, "outside.exe")
        os.makedirs(served)
        for path in (os.path.join(served, "Dropleaf.exe"), outside):
            shutil.copyfile(os.path.join(BUILD, "Dropleaf.exe"), path)
        ran = os.path.join(WORK, "ran")
        tool = os.path.join(WORK, "tool.sh")  # what a request naming a tool would have run
        with open(tool, "w") as f:
            f.write("#!/bin/sh\ntouch %s\n" % ran)
        os.chmod(tool, 0o755)
        client = r"""if True:
            import json, os, socket, sys, time
            host, port, token = os.environ["DROPLEAF_SIGN_AGENT"].split(":")
            def ask(line, wait=True):
                with socket.create_connection((host, int(port))) as c:
                    c.sendall(line)
                    return c.makefile("rb").readline().decode().strip() if wait else None
            served, outside, tool = sys.argv[1:4]
            answers = [ask(("%s\t%s\n" % ("0" * 32, served)).encode()),
                       ask(("%s\t%s\thttps://x\t%s\n" % (token, tool, served)).encode()),
                       ask(("%s\t%s\n" % (token, outside)).encode()),
                       ask(("%s\t%s/../outside.exe\n" % (token, os.path.dirname(served))).encode())]
            silent = socket.create_connection((host, int(port)))
            silent.sendall(token.encode())  # and never a line's end
            ask(b"\xff\xfe\t\x80\n")
            start = time.monotonic()
            answers.append(ask(("%s\t%s\n" % (token, served)).encode()))
            answers.append(time.monotonic() - start)
            print(json.dumps(answers))
        """
        asked = run([sys.executable, SIGN, "run", "--folder", served, sys.executable, "-c", client,
                     os.path.join(served, "Dropleaf.exe"), outside, tool],
                    env=dict(os.environ, **signing))
        answers = json.loads(asked.stdout.decode().splitlines()[-1])
        self.assertEqual(answers[0], "not a request of this build")
        self.assertEqual(answers[1], "not a request of this build")
        self.assertTrue(all(a.startswith("not a file of the build folder") for a in answers[2:4]))
        self.assertEqual(answers[4], "ok")
        self.assertLess(answers[5], 3, "answered at once, the silent connection still open")
        self.assertFalse(os.path.exists(ran))
        self.assertEqual(sha256(outside), sha256(os.path.join(BUILD, "Dropleaf.exe")))
        verified = run(["osslsigncode", "verify", "-CAfile", os.path.join(keys, "ca.pem"), "-in",
                        os.path.join(served, "Dropleaf.exe")])
        self.assertEqual(verified.returncode, 0, verified.stdout.decode(errors="replace"))

    def test_4_with_32_bit_stubs_only_the_setup_is_32_bit(self):
        nsis, setup = os.path.join(WORK, "nsis"), os.path.join(WORK, "x86-setup.exe")
        shutil.copytree("/usr/share/nsis", nsis, ignore=shutil.ignore_patterns("*amd64*"))
        with open(os.path.join(BUILD, "packaging", "dropleaf.nsi"), encoding="utf-8") as f:
            script = re.sub(r'^OutFile .*$', 'OutFile "%s"' % setup, f.read(), flags=re.M)
        with open(os.path.join(WORK, "x86.nsi"), "w", encoding="utf-8") as f:
            f.write(script)
        made = run(["makensis", "-V2", "-INPUTCHARSET", "UTF8", os.path.join(WORK, "x86.nsi")],
                   env=dict(os.environ, NSISDIR=nsis))
        self.assertEqual(made.returncode, 0, made.stdout.decode(errors="replace"))
        with open(setup, "rb") as f:
            data = f.read()
        pe = int.from_bytes(data[0x3C:0x40], "little")
        self.assertEqual(data[pe + 4:pe + 6], b"\x4c\x01", "IMAGE_FILE_MACHINE_I386")


if __name__ == "__main__":
    try:
        unittest.main(argv=sys.argv[:1], verbosity=2)
    finally:
        shutil.rmtree(WORK, ignore_errors=True)
