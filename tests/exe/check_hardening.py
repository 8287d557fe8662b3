"""Checks the exploit mitigations of a built Trimbolt64.exe: ASLR with high-entropy addresses,
DEP, no section both writable and executable, imports only from Windows' own DLLs, and a
manifest that runs it as the invoking user. Usage: check_hardening.py <objdump> <exe>"""

import os
import re
import subprocess
import sys
import xml.etree.ElementTree as ET

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "resources"))
import peresources  # noqa: E402

HIGH_ENTROPY_VA = 0x0020
DYNAMIC_BASE = 0x0040
NX_COMPAT = 0x0100
IMAGE_FILE_RELOCS_STRIPPED = 0x0001
SCN_MEM_EXECUTE = 0x20000000
SCN_MEM_WRITE = 0x80000000
WINDOWS_OWN = {"kernel32.dll", "user32.dll", "gdi32.dll", "winmm.dll", "msvcrt.dll"}
BASE_RELOCATION_TABLE = 5


def problems(objdump, exe):
    pe = peresources.PeFile(exe)
    found = []
    flags = pe.dll_characteristics
    for bit, name in ((DYNAMIC_BASE, "ASLR (dynamic base)"), (HIGH_ENTROPY_VA, "high-entropy VA"),
                      (NX_COMPAT, "DEP (NX compatible)")):
        if not flags & bit:
            found.append(f"{name} is off")
    # ASLR needs relocations to move the image.
    if pe.characteristics & IMAGE_FILE_RELOCS_STRIPPED or pe.directories[BASE_RELOCATION_TABLE][1] == 0:
        found.append("no base relocations: the image cannot be moved")
    for section in pe.sections:
        if section["flags"] & SCN_MEM_EXECUTE and section["flags"] & SCN_MEM_WRITE:
            found.append(f"section {section['name']} is writable and executable")

    dump = subprocess.run([objdump, "-p", exe], check=True, capture_output=True, text=True).stdout
    imports = {name.lower() for name in re.findall(r"DLL Name: (\S+)", dump)}
    if not imports or imports - WINDOWS_OWN:
        found.append(f"imports {sorted(imports - WINDOWS_OWN) or 'nothing'}")

    manifests = [data for (kind, name, _), data in pe.resources().items() if kind == 24 and name == 1]
    if len(manifests) != 1:
        found.append("no single manifest")
    else:
        v3 = "{urn:schemas-microsoft-com:asm.v3}"
        level = ET.fromstring(manifests[0]).find(
            f"{v3}trustInfo/{v3}security/{v3}requestedPrivileges/{v3}requestedExecutionLevel")
        if level is None or level.get("level") != "asInvoker" or level.get("uiAccess") != "false":
            found.append("the manifest does not ask to run as invoker")
    return found


def main(objdump, exe):
    found = problems(objdump, exe)
    for problem in found:
        print(problem)
    print("hardened" if not found else f"{len(found)} problem(s)")
    return 1 if found else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1], sys.argv[2]))
