"""Builds Trimbolt64.exe and the MSI twice from clean copies of the source tree in different
folders and checks that each pair is byte for byte the same, then that the zip and the MSI
hold the exe, the README, the licence and the hourly task definition, the same bytes in both.
Usage: check_build.py <source dir>"""

import hashlib
import os
import re
import shutil
import subprocess
import sys
import tempfile
import zipfile

RELEASED = ["LICENSE", "README.md", "Trimbolt64-hourly.xml", "Trimbolt64.exe"]


def copy_tree(source, target):
    """The files git knows of (tracked, and new ones it does not ignore), as they are now."""
    listed = subprocess.run(
        ["git", "-C", source, "ls-files", "-z", "--cached", "--others", "--exclude-standard"],
        check=True, capture_output=True).stdout.split(b"\0")
    for name in filter(None, (n.decode() for n in listed)):
        origin = os.path.join(source, name)
        if not os.path.isfile(origin):
            continue
        destination = os.path.join(target, name)
        os.makedirs(os.path.dirname(destination), exist_ok=True)
        shutil.copy2(origin, destination)


def build(source, build_dir, *targets):
    subprocess.run(["cmake", "-S", source, "-B", build_dir, "-G", "Ninja",
                    "-DCMAKE_TOOLCHAIN_FILE=" + os.path.join(source, "cmake",
                                                              "mingw-w64-x86_64.cmake"),
                    "-DCMAKE_BUILD_TYPE=Release"], check=True, stdout=subprocess.DEVNULL)
    for target in targets:
        subprocess.run(["cmake", "--build", build_dir, "--target", target], check=True,
                       stdout=subprocess.DEVNULL)
    with open(os.path.join(build_dir, "Trimbolt64.exe"), "rb") as f:
        exe = f.read()
    (msi,) = [name for name in os.listdir(build_dir) if re.fullmatch(r"Trimbolt64-.*\.msi", name)]
    with open(os.path.join(build_dir, msi), "rb") as f:
        return exe, f.read(), os.path.join(build_dir, msi)


def msi_files(msi, directory):
    """The files the MSI installs, by name, as msiextract unpacks them (into the folder they
    install to; msiextract leaves out Program Files)."""
    subprocess.run(["msiextract", "-C", directory, msi], check=True, stdout=subprocess.DEVNULL)
    files = {}
    for root, _, names in os.walk(directory):
        for name in names:
            with open(os.path.join(root, name), "rb") as f:
                files[os.path.relpath(os.path.join(root, name), directory)] = f.read()
    return files


def main(source):
    with tempfile.TemporaryDirectory(prefix="trimbolt-build-") as scratch:
        first_source = os.path.join(scratch, "one", "src")
        second_source = os.path.join(scratch, "elsewhere", "deeper", "checkout")
        copy_tree(source, first_source)
        copy_tree(source, second_source)
        first, first_msi, _ = build(first_source, os.path.join(scratch, "one", "build"),
                                    "Trimbolt64", "msi")
        second, second_msi, msi = build(second_source, os.path.join(scratch, "b2"), "Trimbolt64",
                                        "package")
        for kind, one, two in (("exe", first, second), ("msi", first_msi, second_msi)):
            print(f"{kind} builds:", *(hashlib.sha256(b).hexdigest() for b in (one, two)))
            if one != two:
                print(f"the two {kind} builds differ")
                return 1

        (package,) = [name for name in os.listdir(os.path.join(scratch, "b2"))
                      if re.fullmatch(r"Trimbolt64-.*-win64\.zip", name)]
        with zipfile.ZipFile(os.path.join(scratch, "b2", package)) as archive:
            names = sorted(archive.namelist())
            print("package:", package, names)
            if names != RELEASED:
                print("the package holds the wrong files")
                return 1
            zipped = {name: archive.read(name) for name in names}
        if zipped["Trimbolt64.exe"] != second:
            print("the packaged exe is not the built one")
            return 1
        installed = msi_files(msi, os.path.join(scratch, "extracted"))
        print("msi:", os.path.basename(msi), sorted(installed))
        if installed != {"Trimbolt/" + name: data for name, data in zipped.items()}:
            print("the MSI does not install what the zip holds")
            return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1]))
