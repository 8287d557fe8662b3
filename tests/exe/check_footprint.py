"""Checks that a release executable stays small and carries no symbol table (it is stripped)."""

import os
import subprocess
import sys


def main(objdump, exe, limit_kib):
    size = os.path.getsize(exe)
    print(f"{exe}: {size} bytes ({size / 1024:.1f} KiB), limit {limit_kib} KiB")
    failed = False
    if size >= int(limit_kib) * 1024:
        print("the executable is too large")
        failed = True
    header = subprocess.run([objdump, "-f", exe], check=True, capture_output=True,
                            text=True).stdout
    if "HAS_SYMS" in header:
        print("the executable still has its symbol table")
        failed = True
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main(*sys.argv[1:]))
