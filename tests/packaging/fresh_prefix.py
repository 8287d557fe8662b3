"""Prepares the release tests' Wine prefix afresh on every run: what the installer tests change
in a prefix (Windows Installer's records above all) should not carry over from one run to the
next. Stops the prefix's wineserver, if one runs, removes the prefix and prepares it as the
end-to-end tests' one is prepared."""

import os
import shutil
import subprocess
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "e2e"))
import prepare_prefix  # noqa: E402
import winenv  # noqa: E402


def main():
    if not winenv.PREFIX:
        raise SystemExit("TRIMBOLT_WINEPREFIX is not set")
    # Remove nothing but a prefix this script's fixture made before.
    if os.path.exists(winenv.PREFIX) and not os.path.exists(
            os.path.join(winenv.PREFIX, ".trimbolt-ready")):
        raise SystemExit(f"{winenv.PREFIX} is not a prefix the tests prepared; not removing it")
    if os.path.isdir(winenv.PREFIX):
        subprocess.run(["wineserver", "-k"], env=winenv.base_env(), stderr=subprocess.DEVNULL)
        subprocess.run(["wineserver", "-w"], env=winenv.base_env(), stderr=subprocess.DEVNULL)
        shutil.rmtree(winenv.PREFIX)
    return prepare_prefix.main()


if __name__ == "__main__":
    sys.exit(main())
