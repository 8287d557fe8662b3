"""Prepares the private Wine prefix that the end-to-end tests share: wineboot once, no crash
dialog. Kept between runs of the same build; its wineserver is stopped when done."""

import os
import subprocess
import sys

sys.path.insert(0, os.path.dirname(__file__))
import winenv  # noqa: E402


def main():
    prefix = winenv.PREFIX
    marker = os.path.join(prefix, ".trimbolt-ready")
    if os.path.exists(marker):
        print("prefix ready:", prefix)
        return 0
    os.makedirs(prefix, exist_ok=True)
    xvfb, display = winenv.start_xvfb()
    env = winenv.base_env()
    env["DISPLAY"] = display
    try:
        subprocess.run(["wineboot", "--init"], env=env, check=True, timeout=300,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        subprocess.run(["wineserver", "-w"], env=env, timeout=300)
        subprocess.run(["wine", "reg", "add", r"HKCU\Software\Wine\WineDbg", "/v",
                        "ShowCrashDialog", "/t", "REG_DWORD", "/d", "0", "/f"],
                       env=env, check=True, timeout=120,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    finally:
        subprocess.run(["wineserver", "-k"], env=env, stderr=subprocess.DEVNULL)
        winenv.stop(xvfb)
    open(marker, "w").close()
    print("prefix prepared:", prefix)
    return 0


if __name__ == "__main__":
    sys.exit(main())
