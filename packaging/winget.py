#!/usr/bin/env python3
"""Writes the winget manifests of one release (multi-file format, manifest version 1.6.0):

    winget.py FOLDER VERSION SETUP URL SITE CHANGELOG

FOLDER gets Velmorra.Dropleaf.yaml (version), .installer.yaml and .locale.zh-CN.yaml. The
installer's hash is that of SETUP as built (signed, where signed), its address URL; SITE is
the publisher's web site; the release notes are CHANGELOG's entry for VERSION, which must exist. Values are written as YAML
double-quoted scalars (JSON strings), which need no further escaping.
"""
import hashlib
import json
import os
import re
import sys

IDENTIFIER, LOCALE, MANIFEST_VERSION = "Velmorra.Dropleaf", "zh-CN", "1.6.0"
LONGEST_NOTES_LINE = 100
# The setup's exit code when a running copy would not close (dropleaf.nsi).
STILL_RUNNING_CODE = 2
HEADER = ("# Made by the build (packaging/winget.py): submit as it is, do not edit.\n"
          "# yaml-language-server: $schema=https://aka.ms/winget-manifest.%s.%s.schema.json\n")


def release_notes(changelog, version):
    """The entry's text under '## [VERSION]', up to the next entry; empty when there is none."""
    with open(changelog, encoding="utf-8") as f:
        text = f.read()
    match = re.search(r"^## \[%s\][^\n]*\n(.*?)(?=^## |\Z)" % re.escape(version), text, re.M | re.S)
    return match.group(1).strip() if match else ""


def write(path, fields):
    def value(v):
        return json.dumps(v, ensure_ascii=False)

    lines = [HEADER % (dict(fields)["ManifestType"].lower(), MANIFEST_VERSION)]
    for key, v in fields:
        if isinstance(v, list):  # of mappings (installers, return codes) or of plain values
            lines.append("%s:\n" % key)
            for item in v:
                if not isinstance(item, list):
                    lines.append("- %s\n" % value(item))
                    continue
                lines += ["%s %s: %s\n" % ("-" if i == 0 else " ", k, value(x))
                          for i, (k, x) in enumerate(item)]
        else:
            lines.append("%s: %s\n" % (key, value(v)))
    with open(path, "w", encoding="utf-8", newline="\n") as f:
        f.writelines(lines)


def main(folder, version, setup, url, site, changelog):
    notes = release_notes(changelog, version)
    if not notes:
        print("%s has no entry for %s" % (changelog, version), file=sys.stderr)
        return 1
    # What winget's community repository asks of release notes beyond the schema.
    long_lines = [line for line in notes.splitlines() if len(line) > LONGEST_NOTES_LINE]
    if long_lines:
        print("%s: a line of the %s entry is longer than %d characters: %s..."
              % (changelog, version, LONGEST_NOTES_LINE, long_lines[0][:40]), file=sys.stderr)
        return 1
    with open(setup, "rb") as f:
        sha256 = hashlib.sha256(f.read()).hexdigest().upper()
    if url.endswith("/"):
        url += os.path.basename(setup)
    os.makedirs(folder, exist_ok=True)
    common = [("PackageIdentifier", IDENTIFIER), ("PackageVersion", version)]
    tail = lambda kind: [("ManifestType", kind), ("ManifestVersion", MANIFEST_VERSION)]
    write(os.path.join(folder, IDENTIFIER + ".yaml"),
          common + [("DefaultLocale", LOCALE)] + tail("version"))
    installer = [("Architecture", "x64"), ("InstallerUrl", url), ("InstallerSha256", sha256),
                 ("ProductCode", "Dropleaf")]  # the key name of its Apps & features entry
    write(os.path.join(folder, IDENTIFIER + ".installer.yaml"), common + [
        ("InstallerType", "nullsoft"), ("Scope", "user"), ("UpgradeBehavior", "install"),
        ("ExpectedReturnCodes", [[("InstallerReturnCode", STILL_RUNNING_CODE),
                                  ("ReturnResponse", "packageInUse")]]),
        ("Installers", [installer])] + tail("installer"))
    write(os.path.join(folder, "%s.locale.%s.yaml" % (IDENTIFIER, LOCALE)), common + [
        ("PackageLocale", LOCALE), ("Publisher", "Velmorra"),
        ("PublisherUrl", site), ("PackageName", "Dropleaf"),
        ("PackageUrl", site + "/dropleaf/"),
        ("License", "Proprietary"),
        ("ShortDescription", "在文件资源管理器的文件夹或桌面上按 Ctrl+V，把剪贴板中的图片保存为 PNG 文件。"),
        ("Moniker", "dropleaf"),
        ("Tags", ["screenshot", "clipboard", "png", "paste", "explorer", "截图", "剪贴板"]),
        ("ReleaseNotes", notes),
        ("ReleaseNotesUrl", site + "/dropleaf/changelog/")] + tail("defaultLocale"))
    return 0


if __name__ == "__main__":
    sys.exit(main(*sys.argv[1:7]))
