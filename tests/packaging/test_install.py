"""The MSI and the hourly task definition under Wine's Windows Installer (msiexec) and Task
Scheduler (schtasks), in a Wine prefix of their own (TRIMBOLT_WINEPREFIX, prepared by the
fixture): where the files go, the installed exe's run, installing again, upgrading and
downgrading, uninstalling, and registering and removing the task. Every test starts and ends
with nothing of Trimbolt installed or registered. The one run is at 2%."""

import glob
import hashlib
import os
import re
import subprocess
import sys
import tempfile
import unittest
import xml.etree.ElementTree as ET

HERE = os.path.dirname(os.path.abspath(__file__))
SOURCE = os.path.normpath(os.path.join(HERE, "..", ".."))
sys.path.insert(0, os.path.join(SOURCE, "tests", "e2e"))
sys.path.insert(0, os.path.join(SOURCE, "packaging"))
import make_msi  # noqa: E402
import shelllink  # noqa: E402
import winenv  # noqa: E402
from winenv import WineSession  # noqa: E402

MSI = os.environ.get("TRIMBOLT_MSI", "")
VERSION = os.environ.get("TRIMBOLT_VERSION", "")
TASK_XML = os.environ.get("TRIMBOLT_TASK_XML", "")
INSTALL_DIR = r"C:\Program Files\Trimbolt"
INSTALLED_EXE = INSTALL_DIR + r"\Trimbolt64.exe"
INSTALLED_TASK = INSTALL_DIR + r"\Trimbolt64-hourly.xml"
TASK_NAME = "Trimbolt hourly"
TASKS_DIR = r"C:\windows\system32\tasks"
UNINSTALL_KEY = r"HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall"
ERROR_INSTALL_FAILURE = 1603
ERROR_UNKNOWN_PRODUCT = 1605


# What the package carries, by installed name, as the build made it.
RELEASED = {"Trimbolt64.exe": winenv.EXE, "README.md": os.path.join(SOURCE, "README.md"),
            "LICENSE": os.path.join(SOURCE, "LICENSE"), "Trimbolt64-hourly.xml": TASK_XML}


def digest(path):
    with open(path, "rb") as f:
        return hashlib.sha256(f.read()).hexdigest()


def released_files():
    """{name: SHA-256} of what the package carries."""
    return {name: digest(path) for name, path in RELEASED.items()}


def in_prefix(windows_path):
    """The Linux path of a C: path in the prefix."""
    drive, rest = windows_path.split(":", 1)
    assert drive.upper() == "C"
    return os.path.join(winenv.PREFIX, "drive_c", *rest.strip("\\").split("\\"))


def quote(argument):
    return f'"{argument}"' if " " in argument else argument


def run(session, *command):
    """Runs a Windows command through Wine's cmd and returns its whole exit code (a Linux exit
    status keeps only its low byte: 1603 would read as 67)."""
    with tempfile.TemporaryDirectory(prefix="trimbolt-cmd-") as directory:
        script = os.path.join(directory, "run.cmd")
        with open(script, "w", newline="\r\n") as f:
            f.write("@" + " ".join(quote(a) for a in command) + "\n@echo exit=%ERRORLEVEL%\n")
        out = subprocess.run(["wine", "cmd", "/c", winenv.windows_path(script)], env=session.env,
                             capture_output=True, text=True, timeout=180).stdout
    codes = re.findall(r"^exit=(-?\d+)\s*$", out, re.MULTILINE)
    if len(codes) != 1:
        raise AssertionError(f"no exit code from {command}: {out!r}")
    return int(codes[0])


def msiexec(session, *args):
    return run(session, "msiexec", *args, "/qn")


def installed_products(session):
    """{product code: (name, version, publisher)} of what Windows Installer lists as installed
    under the name Trimbolt (the Uninstall key that Programs and Features shows)."""
    out = subprocess.run(["wine", "reg", "query", UNINSTALL_KEY, "/s"], env=session.env,
                         capture_output=True, text=True, timeout=60).stdout
    keys, key = {}, None
    for line in out.splitlines():
        if line.startswith("HKEY_"):
            key = keys.setdefault(line.strip().rsplit("\\", 1)[-1], {})
        elif key is not None:
            fields = line.strip().split(None, 2)
            if len(fields) == 3:
                key[fields[0]] = fields[2]
    return {code: (values.get("DisplayName"), values.get("DisplayVersion"),
                   values.get("Publisher"))
            for code, values in keys.items() if values.get("DisplayName") == "Trimbolt"}


def installed_files():
    """{name: SHA-256} of what is in the install folder, or None without one."""
    folder = in_prefix(INSTALL_DIR)
    if not os.path.isdir(folder):
        return None
    return {name: digest(os.path.join(folder, name)) for name in os.listdir(folder)}


def start_menu_entries():
    """The Trimbolt entries in the Start menu, all users' and each user's."""
    common = in_prefix(r"C:\ProgramData\Microsoft\Windows\Start Menu\Programs")
    users = in_prefix(r"C:\users")
    return (glob.glob(os.path.join(common, "Trimbolt*.lnk"))
            + glob.glob(os.path.join(users, "*", "AppData", "Roaming", "Microsoft", "Windows",
                                     "Start Menu", "Programs", "Trimbolt*.lnk")))


def newer_version(version):
    major, minor, build = (int(part) for part in version.split("."))
    return f"{major}.{minor}.{build + 1}"


def clean_up(session):
    """Takes away whatever an earlier, failed test left of Trimbolt in the prefix."""
    for code in installed_products(session):
        run(session, "msiexec", "/x", code, "/qn")
    for name in (TASK_NAME, TASK_NAME + " variant"):
        if os.path.exists(in_prefix(TASKS_DIR + "\\" + name)):
            run(session, "schtasks", "/delete", "/tn", name, "/f")


class PrefixTest(unittest.TestCase):
    """Each test in a session of the prefix with nothing of Trimbolt in it, before and after."""

    def setUp(self):
        self.session = WineSession(exe=INSTALLED_EXE).__enter__()
        self.addCleanup(self.session.__exit__, None, None, None)
        clean_up(self.session)

    def tearDown(self):
        clean_up(self.session)


class InstallTest(PrefixTest):
    def test_it_installs_where_it_belongs_and_the_installed_exe_trims_at_the_percentage_given(self):
        session = self.session
        self.assertEqual(msiexec(session, "/i", winenv.windows_path(MSI)), 0)
        self.assertEqual(installed_files(), released_files())
        # Dated as the package was built, not as the checkout happened to be.
        for name in RELEASED:
            self.assertEqual(os.stat(os.path.join(in_prefix(INSTALL_DIR), name)).st_mtime,
                             make_msi.build_time(), name)
        self.assertEqual(list(installed_products(session).values()),
                         [("Trimbolt", VERSION, "The Trimbolt developers")])

        # The Start-menu entry starts the installed exe itself, with no argument. (Wine puts a
        # per-machine package's entry into the user's Start menu, Windows into all users'.)
        entries = start_menu_entries()
        self.assertEqual(len(entries), 1, entries)
        link = shelllink.read(entries[0])
        self.assertEqual(link["target"], INSTALLED_EXE)
        self.assertEqual(link["working_dir"].rstrip("\\"), INSTALL_DIR)
        self.assertIsNone(link["arguments"])

        # Run from its installed path, which has a space: the command line starts with the
        # quoted path, which the program has to skip to find its percentage.
        code, _, samples, _ = winenv.run_sampled(session, "2")
        self.assertEqual(code, 0)
        rise = winenv.peak_rise(samples)
        self.assertGreaterEqual(rise, 0.95 * winenv.block_size(2), f"rose {rise}")
        self.assertLess(rise, winenv.block_size(2) + 0.5 * winenv.block_size(1), f"rose {rise}")

    def test_installing_the_same_version_again_changes_nothing(self):
        session = self.session
        self.assertEqual(msiexec(session, "/i", winenv.windows_path(MSI)), 0)
        products, files = installed_products(session), installed_files()
        # The product is installed already: Windows Installer has nothing to do, and says so
        # with success.
        self.assertEqual(msiexec(session, "/i", winenv.windows_path(MSI)), 0)
        self.assertEqual(installed_products(session), products)
        self.assertEqual(len(products), 1)
        self.assertEqual(installed_files(), files)

    def test_a_newer_version_replaces_an_older_one_and_an_older_one_is_refused(self):
        session = self.session
        newer = newer_version(VERSION)
        with tempfile.TemporaryDirectory(prefix="trimbolt-newer-") as directory:
            # The same files, packaged as the build packages them, under another version.
            newer_msi = os.path.join(directory, f"Trimbolt64-{newer}-win64.msi")
            payload = dict(RELEASED, **{"Trimbolt64.ico": os.path.join(SOURCE, "resources",
                                                                         "Trimbolt64.ico")})
            make_msi.build(newer, "a newer version", payload, newer_msi)

            self.assertEqual(msiexec(session, "/i", winenv.windows_path(MSI)), 0)
            older_code = make_msi.product_code(VERSION)
            self.assertEqual(list(installed_products(session)), [older_code])

            self.assertEqual(msiexec(session, "/i", winenv.windows_path(newer_msi)), 0)
            self.assertEqual(installed_products(session),
                             {make_msi.product_code(newer): ("Trimbolt", newer,
                                                             "The Trimbolt developers")})
            self.assertEqual(installed_files(), released_files())
            # The older product is gone as far as Windows Installer knows.
            self.assertEqual(msiexec(session, "/x", older_code), ERROR_UNKNOWN_PRODUCT)

            # The older version is refused while the newer is installed, and changes nothing.
            self.assertEqual(msiexec(session, "/i", winenv.windows_path(MSI)),
                             ERROR_INSTALL_FAILURE)
            self.assertEqual(list(installed_products(session)), [make_msi.product_code(newer)])
            self.assertEqual(installed_files(), released_files())

    def test_uninstalling_leaves_nothing_behind(self):
        before = prefix_state(self.session)
        self.assertEqual(msiexec(self.session, "/i", winenv.windows_path(MSI)), 0)
        self.assertIsNotNone(installed_files())
        self.assertEqual(msiexec(self.session, "/x", winenv.windows_path(MSI)), 0)
        self.assertEqual(installed_products(self.session), {})
        after = prefix_state(self.session)

        self.assertEqual(after["files"] - before["files"], set())
        # Nor anything an earlier run may have left (the prefix is kept between runs).
        leftovers = {path for path in after["files"] | after["folders"] if "trimbolt" in path.lower()}
        self.assertEqual(leftovers, set())
        # Windows Installer's own folder and container keys may be left from a first install in
        # a fresh prefix, as on any Windows; nothing in them, nothing named after the product.
        self.assertLessEqual(after["folders"] - before["folders"], {"windows/Installer"})
        for key in after["keys"] - before["keys"]:
            self.assertIsNone(re.search(r"[0-9A-F]{32}|\{[0-9A-F-]{36}\}", key, re.I), key)
        codes = [make_msi.product_code(VERSION), str(make_msi.upgrade_code())]
        for text in ["trimbolt"] + [c.strip("{}") for c in codes] + [packed(c) for c in codes]:
            self.assertNotIn(text.lower(), after["registry"], f"{text} is still in the registry")


def packed(code):
    """A GUID as Windows Installer writes it into registry key names."""
    hex_digits = code.strip("{}").replace("-", "").upper()
    groups = [hex_digits[:8][::-1], hex_digits[8:12][::-1], hex_digits[12:16][::-1]]
    groups += [hex_digits[i:i + 2][::-1] for i in range(16, 32, 2)]
    return "".join(groups)


def prefix_state(session):
    """The prefix's files and folders under drive_c, and its registry keys and text, with the
    registry written out (the wineserver writes it when it stops)."""
    subprocess.run(["wineserver", "-k"], env=session.env, stderr=subprocess.DEVNULL)
    subprocess.run(["wineserver", "-w"], env=session.env, stderr=subprocess.DEVNULL)
    drive = os.path.join(winenv.PREFIX, "drive_c")
    files, folders = set(), set()
    for root, directories, names in os.walk(drive):
        relative = os.path.relpath(root, drive).replace(os.sep, "/")
        parent = "" if relative == "." else relative + "/"
        folders.update(parent + d for d in directories)
        files.update(parent + n for n in names)
    registry, keys = "", set()
    for hive in ("system.reg", "user.reg", "userdef.reg"):
        with open(os.path.join(winenv.PREFIX, hive), encoding="utf-8", errors="replace") as f:
            text = f.read()
        registry += text.lower()
        keys.update(f"{hive}:{m}" for m in re.findall(r"^\[(.*?)\]", text, re.MULTILINE))
    # Back as the session started it: a wineserver that stays, and Wine's own processes up (with
    # no pipe of ours to hold open).
    subprocess.run(["wineserver", "-p"], env=session.env, check=True)
    subprocess.run(["wine", "cmd", "/c", "exit"], env=session.env, timeout=120,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    return {"files": files, "folders": folders, "keys": keys, "registry": registry}


TASK = "{http://schemas.microsoft.com/windows/2004/02/mit/task}"
# The parts of the task definition that matter, and for each a different value, to tell what
# the Task Scheduler keeps from what it would write anyway.
TASK_FIELDS = {
    "RegistrationInfo/Description": "another description",
    "Triggers/TimeTrigger/StartBoundary": "2030-06-01T12:30:00",
    "Triggers/TimeTrigger/Repetition/Interval": "PT2H",
    "Principals/Principal/LogonType": "S4U",
    "Principals/Principal/RunLevel": "HighestAvailable",
    "Settings/MultipleInstancesPolicy": "Parallel",
    "Settings/DisallowStartIfOnBatteries": None,
    "Settings/StopIfGoingOnBatteries": None,
    "Settings/AllowHardTerminate": None,
    "Settings/StartWhenAvailable": None,
    "Settings/RunOnlyIfNetworkAvailable": None,
    "Settings/AllowStartOnDemand": None,
    "Settings/Enabled": None,
    "Settings/Hidden": None,
    "Settings/RunOnlyIfIdle": None,
    "Settings/WakeToRun": None,
    "Settings/ExecutionTimeLimit": "PT7M",
    "Settings/Priority": "5",
    "Actions/Exec/Command": r"C:\elsewhere\other.exe",
    "Actions/Exec/Arguments": "1",
}
# What Wine 8's Task Scheduler does not keep: it reads no triggers and no actions, keeps no
# principal, and reads every instances policy as IgnoreNew. Windows keeps all of it.
NOT_KEPT_BY_WINE = {
    "Triggers/TimeTrigger/StartBoundary", "Triggers/TimeTrigger/Repetition/Interval",
    "Principals/Principal/LogonType", "Principals/Principal/RunLevel",
    "Settings/MultipleInstancesPolicy", "Actions/Exec/Command", "Actions/Exec/Arguments",
}
REGISTER = f'schtasks /create /tn "{TASK_NAME}" /xml "{INSTALLED_TASK}"'
REMOVE = f'schtasks /delete /tn "{TASK_NAME}" /f'


def task_values(xml_bytes):
    root = ET.fromstring(xml_bytes)
    values = {}
    for path in TASK_FIELDS:
        element = root.find("/".join(TASK + part for part in path.split("/")))
        values[path] = None if element is None else (element.text or "").strip()
    return values


def variant_of(xml_bytes):
    """The definition with every field of TASK_FIELDS changed, as UTF-16 like the original."""
    ET.register_namespace("", TASK[1:-1])
    root = ET.fromstring(xml_bytes)
    for path, other in TASK_FIELDS.items():
        element = root.find("/".join(TASK + part for part in path.split("/")))
        if other is None:
            other = {"true": "false", "false": "true"}[element.text]
        element.text = other
    text = '<?xml version="1.0" encoding="UTF-16"?>\r\n' + ET.tostring(root, encoding="unicode")
    return b"\xff\xfe" + text.encode("utf-16-le")


def stored_task(name):
    with open(in_prefix(TASKS_DIR + "\\" + name), "rb") as f:
        return f.read()


class ScheduledTaskTest(PrefixTest):
    def setUp(self):
        super().setUp()
        self.assertEqual(msiexec(self.session, "/i", winenv.windows_path(MSI)), 0)
        with open(in_prefix(INSTALLED_TASK), "rb") as f:
            self.installed_task = f.read()

    def test_schtasks_registers_the_installed_task_and_removes_it(self):
        session = self.session
        # The README gives these very commands.
        with open(os.path.join(SOURCE, "README.md"), encoding="utf-8") as f:
            readme = f.read()
        for command in (REGISTER, REMOVE):
            self.assertTrue(command in readme, "the README does not give " + command)

        self.assertEqual(run(session, *split(REGISTER)), 0)
        self.assertTrue(os.path.exists(in_prefix(TASKS_DIR + "\\" + TASK_NAME)))
        # A task of that name is not replaced without /f, as on Windows.
        self.assertEqual(run(session, *split(REGISTER)), 1)
        self.assertEqual(run(session, *split(REGISTER), "/f"), 0)

        self.assertEqual(run(session, *split(REMOVE)), 0)
        self.assertFalse(os.path.exists(in_prefix(TASKS_DIR + "\\" + TASK_NAME)))
        self.assertEqual(run(session, *split(REMOVE)), 1)  # nothing left to remove

        # What the task runs is the exe the package installed.
        ours = task_values(self.installed_task)
        self.assertEqual(ours["Actions/Exec/Command"], f'"{INSTALLED_EXE}"')
        self.assertTrue(os.path.isfile(in_prefix(INSTALLED_EXE)))

    def test_the_stored_task_keeps_what_wines_task_scheduler_keeps(self):
        session = self.session
        variant = variant_of(self.installed_task)
        with tempfile.TemporaryDirectory(prefix="trimbolt-task-") as directory:
            variant_file = os.path.join(directory, "variant.xml")
            with open(variant_file, "wb") as f:
                f.write(variant)
            self.assertEqual(run(session, *split(REGISTER)), 0)
            self.assertEqual(run(session, "schtasks", "/create", "/tn", TASK_NAME + " variant",
                                 "/xml", winenv.windows_path(variant_file)), 0)
        ours, others = task_values(self.installed_task), task_values(variant)
        stored = task_values(stored_task(TASK_NAME))
        stored_variant = task_values(stored_task(TASK_NAME + " variant"))
        # Kept: what the stored definition gives back as it was given, for both definitions.
        kept = {path for path in TASK_FIELDS
                if stored[path] == ours[path] and stored_variant[path] == others[path]}
        self.assertEqual(set(TASK_FIELDS) - kept, NOT_KEPT_BY_WINE,
                         {path: (ours[path], stored[path]) for path in TASK_FIELDS})


def split(command):
    """A command line of the README as arguments (its quoted parts in one piece)."""
    return [part.strip('"') for part in re.findall(r'"[^"]*"|\S+', command)]


if __name__ == "__main__":
    unittest.main()
