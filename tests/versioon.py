#!/usr/bin/env python3
"""The version resource of a Windows build: versioon.py EXE VERSION"""
import sys

try:
    import pefile
except ImportError:  # Debian's python3-pefile, run from another Python
    sys.path.append("/usr/lib/python3/dist-packages")
    import pefile

exe, version = sys.argv[1], sys.argv[2]
pe = pefile.PE(exe)
strings = {}
for info in getattr(pe, "FileInfo", [[]])[0]:
    if info.Key == b"StringFileInfo":
        for table in info.StringTable:
            strings.update((k.decode(), v.decode()) for k, v in table.entries.items())
fixed = getattr(pe, "VS_FIXEDFILEINFO", [None])[0]
numbers = lambda ms, ls: "%d.%d.%d" % (ms >> 16, ms & 0xFFFF, ls >> 16)

checks = [
    ("FileVersion", strings.get("FileVersion"), version),
    ("ProductVersion", strings.get("ProductVersion"), version),
    ("ProductName", strings.get("ProductName"), "brelum"),
    ("OriginalFilename", strings.get("OriginalFilename"), "brelum.exe"),
    ("FileDescription names brelum", "brelum" in strings.get("FileDescription", ""), True),
    ("fixed file version", fixed and numbers(fixed.FileVersionMS, fixed.FileVersionLS), version),
    ("fixed product version",
     fixed and numbers(fixed.ProductVersionMS, fixed.ProductVersionLS), version),
]
failed = [c for c in checks if c[1] != c[2]]
for name, got, want in failed:
    print("FAIL %s\n  got  %r\n  want %r" % (name, got, want))
print("%d passed, %d failed" % (len(checks) - len(failed), len(failed)))
sys.exit(bool(failed))
