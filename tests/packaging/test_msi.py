"""The built MSI read with msitools: what kind of package it is, how it upgrades, and that it
carries nothing that would run the program, or anything else, by itself."""

import os
import subprocess
import sys
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "..", "packaging"))
import make_msi  # noqa: E402

MSI = os.environ.get("TRIMBOLT_MSI", "")
VERSION = os.environ.get("TRIMBOLT_VERSION", "")
COMPONENT_64_BIT = 256
UPGRADE_ONLY_DETECT = 2
UPGRADE_MIN_INCLUSIVE = 256


def table(name):
    """The rows of an MSI table as dicts, by msiinfo's export (a header of column names, types
    and the table's key, then one tab-separated row per line)."""
    text = subprocess.run(["msiinfo", "export", MSI, name], check=True, capture_output=True,
                          text=True).stdout
    lines = text.split("\r\n") if "\r\n" in text else text.split("\n")
    columns = lines[0].split("\t")
    return [dict(zip(columns, line.split("\t"))) for line in lines[3:] if line]


def summary():
    text = subprocess.run(["msiinfo", "suminfo", MSI], check=True, capture_output=True,
                          text=True).stdout
    return dict(line.split(": ", 1) for line in text.splitlines() if ": " in line)


class MsiTest(unittest.TestCase):
    def test_it_is_a_per_machine_64_bit_package_of_this_version_that_replaces_older_ones(self):
        properties = {row["Property"]: row["Value"] for row in table("Property")}
        self.assertEqual(properties["ALLUSERS"], "1")
        self.assertEqual(properties["ProductVersion"], VERSION)
        upgrade_code = "{%s}" % str(make_msi.upgrade_code()).upper()
        self.assertEqual(properties["UpgradeCode"], upgrade_code)
        self.assertEqual(properties["ProductCode"], make_msi.product_code(VERSION))
        self.assertEqual(summary()["Template"], "x64;1033")

        directories = {row["Directory"]: row for row in table("Directory")}
        self.assertEqual(directories["INSTALLFOLDER"]["DefaultDir"], "Trimbolt")
        self.assertEqual(directories["INSTALLFOLDER"]["Directory_Parent"], "ProgramFiles64Folder")
        components = table("Component")
        self.assertEqual(len(components), 4)
        for component in components:
            self.assertEqual(component["Directory_"], "INSTALLFOLDER", component)
            self.assertTrue(int(component["Attributes"]) & COMPONENT_64_BIT, component)
        self.assertEqual(sorted(row["FileName"] for row in table("File")),
                         ["LICENSE", "README.md", "Trimbolt64-hourly.xml", "Trimbolt64.exe"])

        # Any older version of the same upgrade code is removed; a newer one is only detected,
        # and its detection stops the install.
        rows = {row["ActionProperty"]: row for row in table("Upgrade")}
        self.assertEqual(set(rows), {"WIX_UPGRADE_DETECTED", "WIX_DOWNGRADE_DETECTED"})
        older, newer = rows["WIX_UPGRADE_DETECTED"], rows["WIX_DOWNGRADE_DETECTED"]
        for row in (older, newer):
            self.assertEqual(row["UpgradeCode"], upgrade_code)
        self.assertEqual((older["VersionMin"], older["VersionMax"]), ("", VERSION))
        self.assertFalse(int(older["Attributes"]) & UPGRADE_ONLY_DETECT)
        self.assertEqual((newer["VersionMin"], newer["VersionMax"]), (VERSION, ""))
        self.assertTrue(int(newer["Attributes"]) & UPGRADE_ONLY_DETECT)
        conditions = [row["Condition"] for row in table("LaunchCondition")]
        self.assertEqual(conditions, ["NOT WIX_DOWNGRADE_DETECTED"])
        sequence = {row["Action"]: int(row["Sequence"]) for row in table("InstallExecuteSequence")}
        self.assertLess(sequence["InstallValidate"], sequence["RemoveExistingProducts"])
        self.assertLess(sequence["RemoveExistingProducts"], sequence["InstallInitialize"])

    def test_it_runs_nothing_by_itself(self):
        # No custom actions, registry values (no Run key), services or scheduled anything.
        for name in ("CustomAction", "Registry", "ServiceInstall", "ServiceControl"):
            self.assertEqual(table(name), [], name)
        # One shortcut, in the Start menu, that starts the installed exe with no argument.
        shortcuts = table("Shortcut")
        self.assertEqual(len(shortcuts), 1)
        entry = shortcuts[0]
        self.assertEqual(entry["Directory_"], "ProgramMenuFolder")
        self.assertEqual(entry["Target"], "[#Trimbolt64.exe]")
        self.assertEqual(entry["Arguments"], "")
        self.assertEqual(entry["WkDir"], "INSTALLFOLDER")


if __name__ == "__main__":
    unittest.main()
