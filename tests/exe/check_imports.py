"""Checks that an executable imports nothing but DLLs that ship with Windows itself."""

import re
import subprocess
import sys

WINDOWS_OWN = {"kernel32.dll", "user32.dll", "gdi32.dll", "winmm.dll", "msvcrt.dll"}


def main(objdump, exe):
    dump = subprocess.run([objdump, "-p", exe], check=True, capture_output=True, text=True).stdout
    imports = {name.lower() for name in re.findall(r"DLL Name: (\S+)", dump)}
    print("imports:", ", ".join(sorted(imports)))
    if not imports:
        print("no import table found")
        return 1
    foreign = imports - WINDOWS_OWN
    if foreign:
        print("imports DLLs that do not ship with Windows:", ", ".join(sorted(foreign)))
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1], sys.argv[2]))
