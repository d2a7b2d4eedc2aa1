#!/usr/bin/env python3
"""Makes the packager bench's data sets, each a folder <root>/<set>/vendor of about 256 MiB:

  dlls              real Windows programs' libraries: the PE DLLs Wine installs (x64), in name
                    order, many of a few hundred KB
  installers        compressed archives, as installers carry them: groups of Wine's 32-bit
                    DLLs packed by zip, gzip, xz, zstd and 7-Zip in turn, one archive a group
  installer-like    10 files of compressed stretches (pieces of the archives above) and
                    uncompressed ones (pieces of DLLs) of 64 KiB to 2 MiB, at offsets and of
                    lengths that fall anywhere against the packager's blocks
  incompressible    8 files of 32 MiB of random bytes (generated)
  half-compressible 8 files of 32 MiB, text-like runs and random ones in 64 KiB turns

Every set is the same bytes on every run (fixed seeds, sorted inputs); a set already made is
kept (<set>/.made). Usage: make_data_sets.py <root> [set ...]
"""
import glob
import hashlib
import os
import random
import shutil
import subprocess
import sys

MIB = 1 << 20
TOTAL = 256 * MIB
DLLS64 = "/usr/lib/x86_64-linux-gnu/wine/x86_64-windows"
DLLS32 = "/usr/lib/i386-linux-gnu/wine/i386-windows"


def dll_files(folder):
    return sorted(p for p in glob.glob(os.path.join(folder, "*.dll")) if os.path.isfile(p))


def make_dlls(vendor):
    total = 0
    for path in dll_files(DLLS64):
        if total >= TOTAL:
            break
        shutil.copyfile(path, os.path.join(vendor, os.path.basename(path)))
        total += os.path.getsize(path)


# Each archive packs a group of about 4 MiB of DLLs with the next tool in turn.
PACKERS = [
    ("zip", lambda src, out: subprocess.run(["zip", "-q", "-6", "-j", "-X", out] + src, check=True)),
    ("tar.gz", lambda src, out: pipe(["tar", "-cf", "-", "--mtime=@0", "--owner=0", "--group=0",
                                      "-C", os.path.dirname(src[0])] + [os.path.basename(s) for s in src],
                                     ["gzip", "-n", "-6"], out)),
    ("tar.xz", lambda src, out: pipe(["tar", "-cf", "-", "--mtime=@0", "--owner=0", "--group=0",
                                      "-C", os.path.dirname(src[0])] + [os.path.basename(s) for s in src],
                                     ["xz", "-1", "-T1"], out)),
    ("tar.zst", lambda src, out: pipe(["tar", "-cf", "-", "--mtime=@0", "--owner=0", "--group=0",
                                       "-C", os.path.dirname(src[0])] + [os.path.basename(s) for s in src],
                                      ["zstd", "-q", "-6"], out)),
    ("7z", lambda src, out: subprocess.run(["7zz", "a", "-bd", "-bso0", "-t7z", "-mx=3", "-mtm-",
                                            "-mtc-", "-mta-", out] + src, check=True)),
]


def pipe(first, second, out):
    with open(out, "wb") as f:
        a = subprocess.Popen(first, stdout=subprocess.PIPE)
        subprocess.run(second, stdin=a.stdout, stdout=f, check=True)
        a.stdout.close()
        if a.wait() != 0:
            raise RuntimeError("tar failed")


def make_installers(vendor):
    sources = dll_files(DLLS32) + dll_files(DLLS64)[::-1]
    total, group, size, number = 0, [], 0, 0
    for path in sources:
        group.append(path)
        size += os.path.getsize(path)
        if size < 4 * MIB:
            continue
        name, packer = PACKERS[number % len(PACKERS)]
        out = os.path.join(vendor, "setup%03d.%s" % (number, name))
        packer(group, out)
        total += os.path.getsize(out)
        number += 1
        group, size = [], 0
        if total >= TOTAL:
            return
    raise RuntimeError("not enough DLLs for %d MiB of archives" % (TOTAL // MIB))


def make_installer_like(vendor, root):
    archives = sorted(glob.glob(os.path.join(root, "installers", "vendor", "*")))
    dlls = dll_files(DLLS64)[::-1]
    pick = random.Random(20261210)
    for number in range(10):
        with open(os.path.join(vendor, "bundle%02d.exe" % number), "wb") as out:
            written = 0
            compressed = pick.random() < 0.5
            while written < TOTAL // 10:
                length = pick.randint(64 << 10, 2 * MIB)
                source = pick.choice(archives if compressed else dlls)
                with open(source, "rb") as f:
                    data = f.read()
                start = pick.randint(0, max(0, len(data) - length))
                piece = data[start:start + length]
                out.write(piece)
                written += len(piece)
                compressed = not compressed


def make_generated(vendor, half):
    words = [b"setup ", b"patch ", b"install ", b"msi ", b"update ", b"file ", b"version ",
             b"registry ", b"key ", b"value "]
    pick = random.Random(7)
    for number in range(8):
        noise = hashlib.shake_256(b"%d" % number + (b"h" if half else b"i")).digest(32 * MIB)
        if half:
            out = bytearray(noise)
            for at in range(0, 32 * MIB, 128 << 10):
                text = b"".join(pick.choice(words) for _ in range(12000))[:64 << 10]
                out[at:at + len(text)] = text
            noise = bytes(out)
        with open(os.path.join(vendor, "file%02d.msp" % number), "wb") as f:
            f.write(noise)


MAKERS = {
    "dlls": lambda vendor, root: make_dlls(vendor),
    "installers": lambda vendor, root: make_installers(vendor),
    "installer-like": make_installer_like,
    "incompressible": lambda vendor, root: make_generated(vendor, False),
    "half-compressible": lambda vendor, root: make_generated(vendor, True),
}


def main():
    root = sys.argv[1]
    wanted = sys.argv[2:] or list(MAKERS)
    # installer-like is cut from the installers
    if "installer-like" in wanted and "installers" not in wanted:
        wanted.insert(0, "installers")
    for name in wanted:
        folder = os.path.join(root, name)
        if os.path.exists(os.path.join(folder, ".made")):
            continue
        shutil.rmtree(folder, ignore_errors=True)
        vendor = os.path.join(folder, "vendor")
        os.makedirs(vendor)
        MAKERS[name](vendor, root)
        # One time for every file: packages of a set compare byte for byte across runs.
        for path in glob.glob(os.path.join(vendor, "*")):
            os.utime(path, (1767225600, 1767225600))
        open(os.path.join(folder, ".made"), "w").close()
        files = os.listdir(vendor)
        size = sum(os.path.getsize(os.path.join(vendor, f)) for f in files)
        print("data set %s: %d files, %.0f MiB" % (name, len(files), size / MIB))


if __name__ == "__main__":
    main()
