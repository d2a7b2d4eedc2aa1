#!/usr/bin/env python3
"""DeploymentPackager.exe with the reference library, in a working folder an attacker can
write: other spellings and links of a pinned file, links out of the current folder, a link at
the packager log's name, vendor files named like the manifest, and texts that would end a
manifest line early. Links and hard links are made on the host (a host symbolic link is a
link to programs under Wine); every case checks that the link exists before relying on it.

  hostile_folder.py --wine-run W --loader L --prefix P --exe E --library K --work DIR
"""
import argparse
import os
import re
import sys
import zipfile

from package_trust import ENGLISH, GERMAN, MISMATCH, CORRUPT, PATCH, OTHER, Sandbox, Tool, sha
from wine_tools import windows_path

OUTSIDE = 0x8004A009
SECRET = b"a file outside the working folder\r\n" * 100


def lines_to_any_reader(text):
    """The lines of a reader that ends a line at CR LF, CR, LF, NEL, U+2028 or U+2029."""
    return re.split(r"\r\n|[\r\n\x85\u2028\u2029]", text.rstrip("\r\n"))


def every_spelling_of_a_pinned_file_is_that_file(box):
    box.vendor("en.msp", ENGLISH)
    os.link(box.path("work", "vendor", "en.msp"), box.path("work", "vendor", "hard.msp"))
    assert os.stat(box.path("work", "vendor", "hard.msp")).st_nlink == 2
    spellings = ["vendor\\en.msp.", "vendor\\en.msp ", "VENDOR\\EN.MSP", "vendor\\hard.msp"]
    languages = ["0x0407", "0x0809", "0x0C09", "0x1009"]
    box.catalog([f"{PATCH},0x0409,vendor\\en.msp,{sha(ENGLISH)},English"] +
                [f"{OTHER},{lang},{name},,{name}" for lang, name in zip(languages, spellings)])
    assert box.run() == 0
    assert box.entries() == ["vendor/en.msp", "manifest.txt"], box.entries()
    manifest = box.manifest()
    for name in spellings:
        assert f"vendor-file {name} included" in manifest and \
            manifest.count(f"sha256 {sha(ENGLISH)} verified") == 5, (name, manifest)
    tampered = b"tampered" + ENGLISH[8:]
    with open(box.path("work", "vendor", "en.msp"), "r+b") as f:  # both names see it
        f.write(tampered[:8])
    assert box.run() == MISMATCH  # the requested patch, under its own spelling
    box.catalog([f"{OTHER},0x0409,vendor\\en.msp,{sha(ENGLISH)},English"] +
                [f"{PATCH if lang == '0x0809' else OTHER},{'0x0409' if lang == '0x0809' else lang},"
                 f"{name},,{name}" for lang, name in zip(languages, spellings)])
    assert box.run() == MISMATCH  # the requested patch reaches the file by a trailing blank
    box.catalog([f"{PATCH},0x0409,vendor\\de.msp,,German",
                 f"{OTHER},0x0409,vendor\\en.msp,{sha(ENGLISH)},English"] +
                [f"{OTHER},{lang},{name},,{name}" for lang, name in zip(languages, spellings)])
    box.vendor("de.msp", GERMAN)
    assert box.run() == 0
    with zipfile.ZipFile(box.package) as z:
        for name in z.namelist():
            assert tampered[:8] not in z.read(name), name
    assert box.manifest().count(" mismatch title ") == 5, box.manifest()


def links_out_of_the_current_folder_are_not_followed(box):
    outside = box.path("outside")
    os.makedirs(os.path.join(outside, "vendor"))
    with open(os.path.join(outside, "vendor", "en.msp"), "wb") as f:
        f.write(SECRET)
    os.rmdir(box.path("work", "vendor"))
    os.symlink(os.path.join(outside, "vendor"), box.path("work", "vendor"))  # a linked folder
    os.makedirs(box.path("work", "own"))
    os.symlink(os.path.join(outside, "vendor", "en.msp"), box.path("work", "own", "de.msp"))
    assert os.path.islink(box.path("work", "vendor")) and os.path.islink(
        box.path("work", "own", "de.msp"))
    with open(box.path("work", "own", "ja.msp"), "wb") as f:
        f.write(GERMAN)
    box.catalog([f"{OTHER},0x0409,vendor\\en.msp,,linked folder",
                 f"{OTHER},0x0407,own\\de.msp,,linked file",
                 f"{PATCH},0x0409,own\\ja.msp,,inside"])
    assert box.run() == 0
    assert box.entries() == ["own/ja.msp", "manifest.txt"], box.entries()
    with zipfile.ZipFile(box.package) as z:
        assert all(SECRET[:40] not in z.read(n) for n in z.namelist())
    manifest = box.manifest()
    assert "vendor-file vendor\\en.msp outside title linked folder" in manifest, manifest
    assert "vendor-file own\\de.msp outside title linked file" in manifest, manifest
    with open(box.log, encoding="utf-8") as f:
        log = f.read()
    # What the final path says of a linked file: where it really is.
    windows_outside = windows_path(outside)
    assert re.search(r"own\\de\.msp lies outside the current folder, at \\\\\?\\" +
                     re.escape(windows_outside) + r"\\vendor\\en\.msp", log, re.I), log
    for line in (f"{PATCH},0x0409,vendor\\en.msp,,linked folder",
                 f"{PATCH},0x0409,own\\de.msp,,linked file"):
        box.catalog([line])
        assert box.run() == OUTSIDE, line


def a_link_at_the_logs_name_is_not_written_through(box):
    target = box.path("outside.txt")
    with open(target, "wb") as f:
        f.write(b"keep")
    box.vendor("en.msp", ENGLISH)
    box.catalog([f"{PATCH},0x0409,vendor\\en.msp,,English"])
    log = box.path("work", "PatchPackager.log")
    for make in (os.symlink, os.link):
        make(target, log)
        assert box.run(default_log=True) == 0
        with open(target, "rb") as f:
            assert f.read() == b"keep", make.__name__
        assert "packager-log: " in box.manifest() and " not written, error 681" in box.manifest()
        os.remove(log)
    os.symlink(box.path("nowhere.txt"), log)  # a dangling link creates nothing
    assert box.run(default_log=True) == 0
    assert not os.path.exists(box.path("nowhere.txt"))


def no_vendor_file_takes_the_manifests_name(box):
    box.vendor("en.msp", ENGLISH)
    for name in ("manifest.txt", "MANIFEST.TXT", "Manifest.Txt. "):
        with open(box.path("work", name.rstrip(". ")), "wb") as f:
            f.write(b"item 0: forged verified\r\n")
        box.catalog([f"{PATCH},0x0409,vendor\\en.msp,,English", f"{OTHER},0x0409,{name},,x"])
        assert box.run() == CORRUPT, name
        with open(box.log, encoding="utf-8") as f:
            assert f"line 3: the vendor file {name}" in f.read(), name


def no_text_ends_a_manifest_line_early(box):
    box.vendor("en.msp", ENGLISH)
    forged = f"x\ritem 9: {PATCH} 0x0409 index 9 vendor-file a included size 1 verified"
    box.catalog([f"{PATCH},0x0409,vendor\\en.msp,{forged}",
                 f"{OTHER},0x0409,vendor\\en.msp,lf\x0bvt\x1b[2Jesc\u0085nel\u2028ls %25"],
                header="guid,language,vendor_file,title")
    assert box.run() == 0
    manifest = box.manifest()
    lines = lines_to_any_reader(manifest)
    assert len(lines) == 7 + 2, lines
    assert lines[7].endswith("title x%0Ditem 9: " + forged.split("item 9: ")[1]), lines[7]
    assert lines[8].endswith("title lf%0Bvt%1B[2Jesc%C2%85nel%E2%80%A8ls %2525"), lines[8]


CASES = [every_spelling_of_a_pinned_file_is_that_file,
         links_out_of_the_current_folder_are_not_followed,
         a_link_at_the_logs_name_is_not_written_through,
         no_vendor_file_takes_the_manifests_name,
         no_text_ends_a_manifest_line_early]


def main():
    parser = argparse.ArgumentParser()
    for name in ("wine-run", "loader", "prefix", "exe", "library", "work"):
        parser.add_argument("--" + name, required=True)
    a = parser.parse_args()
    tool = Tool(a.wine_run, a.loader, a.prefix, a.exe, a.library)
    failed = 0
    for case in CASES:
        try:
            case(Sandbox(os.path.join(os.path.abspath(a.work), case.__name__), tool))
            print("passed: " + case.__name__)
        except AssertionError as error:
            failed += 1
            print("FAILED: %s: %s" % (case.__name__, error))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
