#!/usr/bin/env python3
"""DeploymentPackager.exe with the reference library, as an administrator checks its packages.

Every run is a separate process under Wine, with its standard output redirected, in a folder
laid out as a caller would (bin, catalog, work as the current folder, out). The digests come
from Python's hashlib and the times from Python's zipfile, never from the code under test.

  package_trust.py --wine-run W --loader L --prefix P --exe E --library K --work DIR
      pinned, tampered, truncated and malformed catalogs, and reproducible packages
  ... --same-as L2 P2 E2 K2
      only the reproducible package, built by both tools (x86 and x64), byte for byte
"""
import argparse
import hashlib
import os
import re
import shutil
import subprocess
import sys
import time
import zipfile

# The tools' helpers, shared with every script that runs the tool under Wine.
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tools"))
from wine_tools import RunLayout, windows_path  # noqa: E402

PATCH = "6F2C7A41-0B3E-4D5A-9C11-2E8B4F7D1A01"
OTHER = "A8D3E5F0-6C2B-4B19-8E77-5D1C9A0B3F22"
MISMATCH = 0x8004A008
CORRUPT = 0x8004A003
VENDOR_TIME = 1700000001  # 2023-11-14 22:13:21 UTC, an odd second on purpose
CATALOG_TIME = 1600000000


class Tool:
    """One build of the tool: its loader, Wine prefix, executable and reference library."""

    def __init__(self, wine_run, loader, prefix, exe, library):
        self.wine_run, self.loader = os.path.abspath(wine_run), loader
        self.prefix, self.exe = os.path.abspath(prefix), os.path.abspath(exe)
        self.library = os.path.abspath(library)


class Sandbox(RunLayout):
    def __init__(self, root, tool):
        super().__init__(root)
        self.install(tool)
        self.package = os.path.join(self.out_dir, "deploy-package.zip")
        self.log = os.path.join(self.out_dir, "packager.log")

    def install(self, tool):
        """Puts `tool` in bin: the paths the manifest names stay the same."""
        self.tool = tool
        super().install(tool.exe, tool.library)

    def vendor(self, name, data, mtime=VENDOR_TIME):
        path = self.path("work", "vendor", name)
        with open(path, "wb") as f:
            f.write(data)
        os.utime(path, (mtime, mtime))

    def catalog(self, lines, header="guid,language,vendor_file,sha256,title"):
        path = self.path("catalog", "windowspatchdata.zip")
        with zipfile.ZipFile(path, "w", zipfile.ZIP_DEFLATED) as z:
            z.writestr("patches.csv", "\r\n".join([header] + lines) + "\r\n")
        os.utime(path, (CATALOG_TIME, CATALOG_TIME))

    def run(self, *, cpus=None, default_log=False):
        """Runs the tool for PATCH, English; answers its whole 32-bit result. The packager
        log is out/packager.log, or its default place in the current folder."""
        args = ["-p", PATCH, "-r", "0", "-c", windows_path(self.catalog_dir),
                "-o", windows_path(self.out_dir)]
        args += [] if default_log else ["-pl", windows_path(self.log)]
        command = [self.tool.wine_run, self.tool.loader, self.tool.prefix, self.exe] + args
        if cpus is not None:
            command = ["taskset", "-c", cpus] + command
        done = subprocess.run(command, cwd=self.work_dir, stdin=subprocess.DEVNULL,
                              stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=120)
        output = done.stdout.decode("utf-8", "replace")
        found = re.findall(r"BuildPackage finished\. Result code = (-?\d+)", output)
        if not found:
            raise AssertionError("no result reported (status %d) by %s:\n%s\nstandard error:\n%s"
                                 % (done.returncode, " ".join(command), output,
                                    done.stderr.decode("utf-8", "replace")[-3000:]))
        result = int(found[-1]) & 0xFFFFFFFF
        assert result & 0xFF == done.returncode, (result, done.returncode)
        return result

    def manifest(self):
        with zipfile.ZipFile(self.package) as z:
            return z.read("manifest.txt").decode("utf-8")

    def entries(self):
        with zipfile.ZipFile(self.package) as z:
            return z.namelist()

    def temporary_files(self):
        return [n for n in os.listdir(self.path("out")) if re.fullmatch(r"kqp[0-9A-Fa-f]+\.tmp", n)]


def sha(data):
    return hashlib.sha256(data).hexdigest()


ENGLISH = b"English vendor file\r\n" * 4000
GERMAN = bytes(range(256)) * 300
# An installer-like file: compressed stretches (noise) and plain ones across 64 KiB stretches
# and 512 KiB blocks, so that each build decides stretch by stretch on the same bytes.
MIXED = (hashlib.shake_256(b"mixed").digest(700 * 1024) + b"setup patch install " * 40000 +
         hashlib.shake_256(b"tail").digest(300 * 1024) + b"x" * 5000)


def pinned_lines(english=sha(ENGLISH), german=sha(GERMAN)):
    return [f"{PATCH},0x0409,vendor\\en.msp,{english},English",
            f"{PATCH},0x0407,vendor\\de.msp,{german},German",
            f"{OTHER},0x0411,vendor\\ja.msp,,Japanese"]


def pinned_files_are_verified(box):
    box.vendor("en.msp", ENGLISH)
    box.vendor("de.msp", GERMAN)
    box.catalog(pinned_lines(sha(ENGLISH).upper(), sha(GERMAN)))
    assert box.run() == 0
    manifest = box.manifest()
    for name, data in (("en", ENGLISH), ("de", GERMAN)):
        line = f"vendor-file vendor\\{name}.msp included size {len(data)} sha256 {sha(data)} verified"
        assert line in manifest, (line, manifest)
    assert "vendor-file vendor\\ja.msp missing title Japanese" in manifest, manifest
    assert box.entries() == ["vendor/en.msp", "vendor/de.msp", "manifest.txt"], box.entries()
    with zipfile.ZipFile(box.package) as z:
        assert z.read("vendor/en.msp") == ENGLISH and z.testzip() is None


def tampered_files_are_left_out_or_refused(box):
    box.catalog(pinned_lines())
    box.vendor("en.msp", ENGLISH)
    flipped = GERMAN[:1000] + bytes([GERMAN[1000] ^ 1]) + GERMAN[1001:]
    for german in (flipped, GERMAN[:-1], ENGLISH):
        box.vendor("de.msp", german)
        assert box.run() == 0
        assert "vendor-file vendor\\de.msp mismatch title German" in box.manifest()
        assert box.entries() == ["vendor/en.msp", "manifest.txt"], box.entries()
        with open(box.log, encoding="utf-8") as f:
            assert f"expected {sha(GERMAN)}, found {sha(german)}; left out" in f.read()
    box.vendor("de.msp", GERMAN)
    with open(box.package, "wb") as f:
        f.write(b"older package")
    for english in (ENGLISH[:7] + b"e" + ENGLISH[8:], ENGLISH[:-2], GERMAN):
        box.vendor("en.msp", english)
        assert box.run() == MISMATCH
        with open(box.package, "rb") as f:
            assert f.read() == b"older package", "the older package stays intact"
        assert box.temporary_files() == [], box.temporary_files()
        with open(box.log, encoding="utf-8") as f:
            log = f.read()
        assert f"expected {sha(ENGLISH)}, found {sha(english)}; no package written" in log


def malformed_digests_are_refused_with_their_line(box):
    box.vendor("en.msp", ENGLISH)
    good = sha(ENGLISH)
    for digest in (good[:63], good + "0", good[:63] + "x", good[:32] + " " + good[33:], " " + good):
        lines = pinned_lines()
        lines[1] = f"{PATCH},0x0407,vendor\\de.msp,{digest},German"
        box.catalog(lines)
        if os.path.exists(box.log):
            os.remove(box.log)
        assert box.run() == CORRUPT, digest
        with open(box.log, encoding="utf-8") as f:
            log = f.read()
        assert "line 3: the sha256 field is neither empty nor 64 hexadecimal digits" in log, log


def reproducible(box, others=()):
    """The package's bytes: the same seconds apart, on one processor or several, and from
    every other tool given; each entry dated as its file, the manifest as the catalog."""
    box.vendor("en.msp", ENGLISH)
    box.vendor("de.msp", GERMAN, mtime=VENDOR_TIME + 86400 * 400)
    box.vendor("ja.msp", MIXED)
    box.catalog(pinned_lines())
    assert box.run() == 0
    with open(box.package, "rb") as f:
        first = f.read()
    time.sleep(2.5)  # beyond the two seconds that DOS times count in
    for cpus in (None, "0"):
        assert box.run(cpus=cpus) == 0
        with open(box.package, "rb") as f:
            assert f.read() == first, "a second run on cpus %s differs" % cpus
    with zipfile.ZipFile(box.package) as z:
        assert z.read("vendor/ja.msp") == MIXED
        for name, stamp in (("vendor/en.msp", VENDOR_TIME),
                            ("vendor/de.msp", VENDOR_TIME + 86400 * 400),
                            ("manifest.txt", CATALOG_TIME)):
            utc = time.gmtime(stamp)
            want = utc[:5] + (utc.tm_sec // 2 * 2,)
            assert z.getinfo(name).date_time == want, (name, z.getinfo(name).date_time, want)
    mine = box.tool
    for other in others:
        box.install(other)
        assert box.run() == 0
        with open(box.package, "rb") as f:
            theirs = f.read()
        if theirs != first:
            at = next((i for i in range(min(len(first), len(theirs))) if first[i] != theirs[i]),
                      min(len(first), len(theirs)))
            raise AssertionError("%s and %s differ from byte %d" % (mine.exe, other.exe, at))
        print("same package from %s and %s: %d bytes, sha256 %s"
              % (mine.exe, other.exe, len(first), sha(first)))


def main():
    parser = argparse.ArgumentParser()
    for name in ("wine-run", "loader", "prefix", "exe", "library", "work"):
        parser.add_argument("--" + name, required=True)
    parser.add_argument("--same-as", nargs=4, metavar=("LOADER", "PREFIX", "EXE", "LIBRARY"))
    a = parser.parse_args()
    tool = Tool(a.wine_run, a.loader, a.prefix, a.exe, a.library)
    if a.same_as:
        cases = [lambda box: reproducible(box, [Tool(a.wine_run, *a.same_as)])]
    else:
        cases = [pinned_files_are_verified, tampered_files_are_left_out_or_refused,
                 malformed_digests_are_refused_with_their_line, reproducible]
    failed = 0
    for case in cases:
        name = case.__name__ if case.__name__ != "<lambda>" else "same_package"
        try:
            case(Sandbox(os.path.join(os.path.abspath(a.work), name), tool))
            print("passed: " + name)
        except AssertionError as error:
            failed += 1
            print("FAILED: %s: %s" % (name, error))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
