"""Builds the Trimbolt MSI with wixl from Trimbolt64.wxs, the same bytes from the same inputs.

    make_msi.py --version 1.0.0 --description TEXT --output Trimbolt64-1.0.0-win64.msi
                NAME=PATH ...

Each NAME=PATH is a file the package carries, under the name the WiX source gives it
(Trimbolt64.exe, README.md, LICENSE, Trimbolt64-hourly.xml, and the icon Trimbolt64.ico).

What would otherwise change from build to build is fixed here:
  - the files are staged with one modification time, SOURCE_DATE_EPOCH if set, else
    1980-01-01 00:00:00 UTC (the earliest a cabinet can record), and wixl runs in UTC, so that
    the cabinet's file dates do not depend on the checkout or the time zone;
  - the product code is derived from the upgrade code and the version (a version has one
    product code, a new version a new one, as a major upgrade needs);
  - the summary information's times are set to that same time, and its package code is derived
    from the package's own bytes (the same package, the same code; any change, a new code).
"""

import argparse
import hashlib
import os
import re
import shutil
import subprocess
import sys
import tempfile
import uuid
import xml.etree.ElementTree as ET

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import msisummary  # noqa: E402

WXS = os.path.join(os.path.dirname(os.path.abspath(__file__)), "Trimbolt64.wxs")
WIX = "{http://schemas.microsoft.com/wix/2006/wi}"
DOS_EPOCH = 315532800  # 1980-01-01 00:00:00 UTC
PLACEHOLDER_CODE = "{00000000-0000-0000-0000-000000000000}"


def upgrade_code(wxs=WXS):
    product = ET.parse(wxs).getroot().find(f"{WIX}Product")
    return uuid.UUID(product.get("UpgradeCode"))


def product_code(version, wxs=WXS):
    return "{%s}" % str(uuid.uuid5(upgrade_code(wxs), "ProductCode " + version)).upper()


def package_code(package_bytes, wxs=WXS):
    digest = hashlib.sha256(package_bytes).hexdigest()
    return "{%s}" % str(uuid.uuid5(upgrade_code(wxs), "PackageCode " + digest)).upper()


def check_version(version):
    """A Windows Installer product version: major.minor.build, at most 255.255.65535."""
    match = re.fullmatch(r"(\d+)\.(\d+)\.(\d+)", version)
    if not match or int(match[1]) > 255 or int(match[2]) > 255 or int(match[3]) > 65535:
        raise ValueError(f"not a product version Windows Installer compares: {version}")


def build_time():
    value = os.environ.get("SOURCE_DATE_EPOCH", "")
    return int(value) if value else DOS_EPOCH


def build(version, description, files, output, wixl="wixl"):
    check_version(version)
    when = build_time()
    with tempfile.TemporaryDirectory(prefix="trimbolt-msi-") as stage:
        for name, path in files.items():
            staged = os.path.join(stage, name)
            shutil.copyfile(path, staged)
            os.utime(staged, (when, when))
        unsigned = os.path.join(stage, "package.msi")
        env = dict(os.environ, TZ="UTC", LC_ALL="C")
        result = subprocess.run(
            [wixl, "--arch", "x64", "--define", "Version=" + version,
             "--define", "ProductCode=" + product_code(version),
             "--define", "Description=" + description, "--output", unsigned, WXS],
            cwd=stage, env=env, capture_output=True, text=True)
        # wixl reports what it does not support as messages and still succeeds: none is expected.
        if result.returncode != 0 or result.stderr.strip():
            raise RuntimeError("wixl failed:\n" + result.stderr)
        summary = msisummary.SummaryInformation(unsigned)
        summary.set_times(when)
        summary.set_package_code(PLACEHOLDER_CODE)
        summary.set_package_code(package_code(bytes(summary.data)))
        summary.save()
        shutil.move(unsigned, output)


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--version", required=True)
    parser.add_argument("--description", required=True)
    parser.add_argument("--output", required=True)
    parser.add_argument("--wixl", default="wixl")
    parser.add_argument("files", nargs="+", metavar="NAME=PATH")
    args = parser.parse_args(argv)
    files = dict(item.split("=", 1) for item in args.files)
    build(args.version, args.description, files, args.output, args.wixl)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
