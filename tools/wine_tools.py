#!/usr/bin/env python3
"""What the scripts and tests that run the tool under Wine share, in one place: the Wine
server and the loader of an architecture, a host path as a program under Wine sees it, where
the event library goes in a prefix, and the run layout a caller gives the tool.

Python scripts import it; shell scripts call its command line, so each answer is computed
once, in one language:
  wine_tools.py loader x86|x64            the loader the architecture's tool-chain file names
  wine_tools.py windows-path PATH         PATH as the Windows path under Wine (the Z: drive)
  wine_tools.py event-library PREFIX x86|x64 DLL
                                          installs DLL where the tool looks for it in PREFIX
  wine_tools.py layout DIR EXE LIBRARY [CATALOG [VENDOR]]
                                          DIR laid out for a run, as RunLayout does it
"""
import os
import re
import shutil
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


def wine_server():
    """Wine's server, as tools/wine-paths gives it to the shell scripts."""
    with open(os.path.join(ROOT, "tools", "wine-paths")) as f:
        found = re.search(r"^DP_WINESERVER=(\S+)$", f.read(), re.M)
    if not found:
        raise RuntimeError("no DP_WINESERVER in tools/wine-paths")
    return found.group(1)


def wine_loader(arch):
    """The loader that the tool-chain file of `arch` ("x86" or "x64") names for CMake."""
    toolchain = "mingw-%s.cmake" % ("i686" if arch == "x86" else "x86_64")
    with open(os.path.join(ROOT, "cmake", toolchain)) as f:
        found = re.search(r"^set\(WINE_LOADER (\S+)\)$", f.read(), re.M)
    if not found:
        raise RuntimeError("no WINE_LOADER in cmake/" + toolchain)
    return found.group(1)


def windows_path(path):
    """A host path as a program under Wine sees it, through the Z: drive."""
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def event_library_folder(prefix, arch):
    """Where the tool looks for the event library in a prefix: <Common Files>\\Quorvel of the
    architecture's Program Files."""
    program_files = "Program Files (x86)" if arch == "x86" else "Program Files"
    return os.path.join(prefix, "drive_c", program_files, "Common Files", "Quorvel")


def install_event_library(prefix, arch, library):
    folder = event_library_folder(prefix, arch)
    os.makedirs(folder, exist_ok=True)
    shutil.copy2(library, os.path.join(folder, "ZelNSEvent.dll"))


class RunLayout:
    """A folder laid out as a caller runs the tool: bin (the tool and the packager library),
    catalog (windowspatchdata.zip), work (the current folder, with the vendor files under
    work/vendor) and out. Made empty: whatever `root` held is gone."""

    def __init__(self, root):
        self.root = os.path.abspath(root)
        shutil.rmtree(self.root, ignore_errors=True)
        for name in ("bin", "catalog", os.path.join("work", "vendor"), "out"):
            os.makedirs(os.path.join(self.root, name))
        self.bin_dir, self.catalog_dir = self.path("bin"), self.path("catalog")
        self.work_dir, self.out_dir = self.path("work"), self.path("out")
        self.exe = self.path("bin", "DeploymentPackager.exe")

    def path(self, *parts):
        return os.path.join(self.root, *parts)

    def install(self, exe, library):
        """Puts a build's tool and packager library in bin, under the names a caller uses."""
        shutil.copy2(exe, self.exe)
        shutil.copy2(library, self.path("bin", "KQPackager.dll"))

    def add_catalog(self, catalog):
        shutil.copy2(catalog, os.path.join(self.catalog_dir, "windowspatchdata.zip"))

    def add_vendor_files(self, folder):
        shutil.copytree(folder, self.path("work", "vendor"), dirs_exist_ok=True)


def main(args):
    if args[:1] == ["loader"] and len(args) == 2:
        print(wine_loader(args[1]))
    elif args[:1] == ["windows-path"] and len(args) == 2:
        print(windows_path(args[1]))
    elif args[:1] == ["event-library"] and len(args) == 4:
        install_event_library(args[1], args[2], args[3])
    elif args[:1] == ["layout"] and 4 <= len(args) <= 6:
        layout = RunLayout(args[1])
        layout.install(args[2], args[3])
        if len(args) > 4:
            layout.add_catalog(args[4])
        if len(args) > 5:
            layout.add_vendor_files(args[5])
    else:
        print(__doc__, file=sys.stderr)
        return 2
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
