"""What the built Trimbolt64.exe carries, read back from its PE resource directory."""

import os
import struct
import subprocess
import sys
import tempfile
import unittest
import xml.etree.ElementTree as ET

sys.path.insert(0, os.path.dirname(__file__))
import peresources  # noqa: E402
import windowdescription  # noqa: E402

EXE = os.environ.get("TRIMBOLT_EXE", "")
SOURCE = os.path.normpath(os.path.join(os.path.dirname(__file__), "..", ".."))
JAPANESE = 1041
RT_ICON, RT_RCDATA, RT_GROUP_ICON, RT_MANIFEST = 3, 10, 14, 24


def source_bytes(name):
    with open(os.path.join(SOURCE, "resources", name), "rb") as f:
        return f.read()


class ResourcesTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.resources = peresources.PeFile(EXE).resources()

    def only(self, kind, name):
        matches = {key: value for key, value in self.resources.items()
                   if key[0] == kind and key[1] == name}
        self.assertEqual(len(matches), 1, f"resource {kind}/{name}: {list(matches)}")
        return next(iter(matches.items()))

    def test_the_clip_is_wave_100_in_japanese_with_the_exact_riff_layout(self):
        (_, _, language), clip = self.only("WAVE", 100)
        self.assertEqual(language, JAPANESE)
        self.assertEqual(len(clip), 8654)
        riff, riff_size, wave = struct.unpack_from("<4sI4s", clip, 0)
        self.assertEqual((riff, riff_size, wave), (b"RIFF", 8646, b"WAVE"))
        fmt, fmt_size, tag, channels, rate, byte_rate, align, bits = struct.unpack_from(
            "<4sIHHIIHH", clip, 12)
        self.assertEqual((fmt, fmt_size), (b"fmt ", 16))
        self.assertEqual((tag, channels, rate, byte_rate, align, bits), (1, 1, 11025, 11025, 1, 8))
        data, data_size = struct.unpack_from("<4sI", clip, 36)
        self.assertEqual((data, data_size), (b"data", 8610))
        self.assertEqual(len(clip) - 44, data_size)  # nothing after the samples
        self.assertAlmostEqual(data_size / byte_rate, 0.78, delta=0.005)
        samples = clip[44:]
        # A real sound, and one that starts and ends at the silent midpoint: no click.
        self.assertGreater(max(samples) - min(samples), 64)
        self.assertEqual(samples[:4], b"\x80" * 4)
        self.assertEqual(samples[-4:], b"\x80" * 4)

    def test_the_icon_group_has_one_32_by_32_24_bit_image_with_id_1(self):
        _, group = self.only(RT_GROUP_ICON, "MAINICON")
        self.assertEqual(struct.unpack_from("<HHH", group, 0), (0, 1, 1))
        self.assertEqual(len(group), 6 + 14)
        width, height, colours, reserved, planes, bits, size, image_id = struct.unpack_from(
            "<BBBBHHIH", group, 6)
        self.assertEqual((width, height, colours, reserved), (32, 32, 0, 0))
        self.assertEqual((planes, bits, size, image_id), (1, 24, 3240, 1))

        _, image = self.only(RT_ICON, 1)
        self.assertEqual(len(image), 3240)
        (header_size, image_width, image_height, image_planes, image_bits, compression, _,
         _, _, used, _) = struct.unpack_from("<IiiHHIIiiII", image, 0)
        self.assertEqual((header_size, image_width, image_height), (40, 32, 64))
        self.assertEqual((image_planes, image_bits, compression, used), (1, 24, 0, 0))
        # Header, then the colour bitmap, then the AND mask; no palette between.
        self.assertEqual(40 + 32 * 32 * 3 + 32 * 4, len(image))
        mask = image[40 + 32 * 32 * 3:]
        self.assertNotIn(mask, (b"\x00" * 128, b"\xff" * 128))  # a shape, not a square

    def test_the_manifest_asks_for_what_the_program_needs(self):
        (_, _, _), manifest = self.only(RT_MANIFEST, 1)
        root = ET.fromstring(manifest)
        v1 = "{urn:schemas-microsoft-com:asm.v1}"
        v3 = "{urn:schemas-microsoft-com:asm.v3}"
        self.assertEqual(root.tag, v1 + "assembly")
        self.assertEqual(root.get("manifestVersion"), "1.0")

        dependency = root.find(f"{v1}dependency/{v1}dependentAssembly/{v1}assemblyIdentity")
        self.assertEqual(dependency.attrib, {
            "type": "win32", "name": "Microsoft.Windows.Common-Controls", "version": "6.0.0.0",
            "publicKeyToken": "6595b64144ccf1df", "language": "*", "processorArchitecture": "*"})

        level = root.find(f"{v3}trustInfo/{v3}security/{v3}requestedPrivileges/"
                          f"{v3}requestedExecutionLevel")
        self.assertEqual(level.attrib, {"level": "asInvoker", "uiAccess": "false"})

        compat = "{urn:schemas-microsoft-com:compatibility.v1}"
        supported = [e.get("Id") for e in root.findall(
            f"{compat}compatibility/{compat}application/{compat}supportedOS")]
        self.assertEqual(supported, [
            "{e2011457-1546-43c5-a5fe-008deee3d3f0}",  # Vista
            "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}",  # 7
            "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}",  # 8
            "{1f676c76-80e1-4239-95bb-83d0f6d0da78}",  # 8.1
            "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}",  # 10
        ])

        settings = root.find(f"{v3}application/{v3}windowsSettings")
        self.assertEqual(
            settings.find("{http://schemas.microsoft.com/SMI/2005/WindowsSettings}dpiAware").text,
            "true/pm")
        self.assertEqual(
            settings.find(
                "{http://schemas.microsoft.com/SMI/2016/WindowsSettings}dpiAwareness").text,
            "PerMonitorV2")

    def test_the_window_description_parses_back_to_the_main_window(self):
        _, text = self.only(RT_RCDATA, "TMAINFORM")
        form = windowdescription.parse(text.decode("utf-8"))
        self.assertEqual((form["name"], form["class"]), ("MainForm", "TMainForm"))
        self.assertEqual(form["properties"], {
            "left": "431", "top": "251", "client-width": "197", "client-height": "125",
            "border": "single", "border-icons": "system-menu", "caption": "Trimbolt",
            "color": "button-face", "font-name": "ＭＳ Ｐゴシック", "font-charset": "shift-jis",
            "font-height": "-12", "font-color": "window-text", "font-style": "",
            "pixels-per-inch": "96", "text-height": "12", "icon": "MAINICON",
            "on-create": "FormCreate", "on-close-query": "FormCloseQuery"})
        self.assertEqual(len(form["components"]), 1)
        timer = form["components"][0]
        self.assertEqual((timer["name"], timer["class"]), ("Timer", "TTimer"))
        # Interval and enabled are left at their defaults (1,000 ms, enabled).
        self.assertEqual(timer["properties"], {"left": "24", "top": "24", "on-timer": "TimerTimer"})

    def test_what_is_embedded_is_the_source_tree_and_the_generators_make_it(self):
        self.assertEqual(self.only("WAVE", 100)[1], source_bytes("Trimbolt64.wav"))
        self.assertEqual(self.only(RT_RCDATA, "TMAINFORM")[1], source_bytes("MainForm.window"))
        self.assertEqual(self.only(RT_ICON, 1)[1], source_bytes("Trimbolt64.ico")[22:])
        with tempfile.TemporaryDirectory() as scratch:
            for script, output in (("make_clip.py", "Trimbolt64.wav"),
                                   ("make_icon.py", "Trimbolt64.ico")):
                made = os.path.join(scratch, output)
                subprocess.run([sys.executable, os.path.join(SOURCE, "resources", script), made],
                               check=True)
                with open(made, "rb") as f:
                    self.assertEqual(f.read(), source_bytes(output), f"{script} output differs")


if __name__ == "__main__":
    unittest.main()
