"""Builds Trimbolt64.exe twice from clean copies of the source tree in different folders and
checks that the two are byte for byte the same, then that the package holds the exe, the
README and the licence. Usage: check_build.py <source dir>"""

import hashlib
import os
import shutil
import subprocess
import sys
import tempfile
import zipfile


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
        return f.read()


def main(source):
    with tempfile.TemporaryDirectory(prefix="trimbolt-build-") as scratch:
        first_source = os.path.join(scratch, "one", "src")
        second_source = os.path.join(scratch, "elsewhere", "deeper", "checkout")
        copy_tree(source, first_source)
        copy_tree(source, second_source)
        first = build(first_source, os.path.join(scratch, "one", "build"), "Trimbolt64")
        second = build(second_source, os.path.join(scratch, "b2"), "Trimbolt64", "package")
        digests = [hashlib.sha256(exe).hexdigest() for exe in (first, second)]
        print("builds:", *digests)
        if first != second:
            print("the two builds differ")
            return 1

        package = os.path.join(scratch, "b2", "Trimbolt64-1.0.0-win64.zip")
        with zipfile.ZipFile(package) as archive:
            names = sorted(archive.namelist())
            print("package:", os.path.basename(package), names)
            if names != ["LICENSE", "README.md", "Trimbolt64.exe"]:
                print("the package holds the wrong files")
                return 1
            if archive.read("Trimbolt64.exe") != second:
                print("the packaged exe is not the built one")
                return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1]))
