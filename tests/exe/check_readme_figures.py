"""Checks that the figures README.md gives for the built executable are the build's own.

The README's footprint sentence names the release exe's size, in KiB (one decimal) and in bytes,
and the DLLs it imports. This compares them with the file and its import table, and on a
mismatch prints the sentence as it should read, so that the figures cannot drift from the build.

    check_readme_figures.py OBJDUMP EXE README
"""

import os
import re
import subprocess
import sys

SIZE = re.compile(r"The release `Trimbolt64\.exe` is ([0-9.]+) KiB \(([0-9,]+) bytes\)")
IMPORTS = re.compile(r"imports only ((?:[a-z0-9]+, )*[a-z0-9]+ and [a-z0-9]+)\b")


def imported_dlls(objdump, exe):
    dump = subprocess.run([objdump, "-p", exe], check=True, capture_output=True, text=True).stdout
    names = {name.lower() for name in re.findall(r"DLL Name: (\S+)", dump)}
    return sorted(name[:-4] if name.endswith(".dll") else name for name in names)


def spoken_list(names):
    return ", ".join(names[:-1]) + " and " + names[-1] if len(names) > 1 else "".join(names)


def main(objdump, exe, readme):
    size = os.path.getsize(exe)
    dlls = imported_dlls(objdump, exe)
    with open(readme, encoding="utf-8") as file:
        # The README wraps its lines; the figures are read from the text as one paragraph.
        text = " ".join(file.read().split())
    expected_size = (f"{size / 1024:.1f}", f"{size:,}")
    expected_imports = spoken_list(dlls)
    print(f"build: {expected_size[0]} KiB ({expected_size[1]} bytes), imports {expected_imports}")

    failed = False
    for pattern, expected, shape in (
            (SIZE, expected_size, "The release `Trimbolt64.exe` is N KiB (N bytes)"),
            (IMPORTS, (expected_imports,), "imports only a, b and c")):
        found = pattern.search(text)
        if found is None:
            print(f"README.md has no \"{shape}\"")
            failed = True
        elif found.groups() != expected:
            print(f"README.md says: {found.group(0)}")
            failed = True
    if failed:
        print(f"it should read: The release `Trimbolt64.exe` is {expected_size[0]} KiB "
              f"({expected_size[1]} bytes), ... and imports only {expected_imports}")
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(*sys.argv[1:]))
