"""The windows of a running Trimbolt64.exe under Wine: built as described, never shown."""

import os
import struct
import sys
import unittest

sys.path.insert(0, os.path.dirname(__file__))
import winenv  # noqa: E402
from winenv import WineSession  # noqa: E402

WS_THICKFRAME, WS_MINIMIZEBOX, WS_MAXIMIZEBOX = 0x40000, 0x20000, 0x10000
WS_CAPTION, WS_SYSMENU, WS_VISIBLE = 0xC00000, 0x80000, 0x10000000
WS_EX_CONTEXTHELP = 0x400


def icon_pixels_of_source():
    """The icon of the source tree as ARGB pixels, top row first; the mask makes alpha 0."""
    with open(os.path.join(os.path.dirname(__file__), "..", "..", "resources", "Trimbolt64.ico"),
              "rb") as f:
        image = f.read()[22:]
    colour, mask = image[40:40 + 32 * 32 * 3], image[40 + 32 * 32 * 3:]
    pixels = []
    for row in reversed(range(32)):  # bottom-up in the file
        bits = struct.unpack_from(">I", mask, row * 4)[0]
        for x in range(32):
            b, g, r = colour[(row * 32 + x) * 3:(row * 32 + x) * 3 + 3]
            transparent = bits >> (31 - x) & 1
            pixels.append(0 if transparent else 0xFF000000 | r << 16 | g << 8 | b)
    return pixels


class WindowTest(unittest.TestCase):
    def test_while_waiting_for_its_tick_the_main_window_is_built_as_described(self):
        with WineSession() as session:
            run = session.start("1")
            main = session.tool("find", "TMainForm", "20000")
            application = session.tool("find", "TApplication", "5000")
            icon = winenv.x_window_icon(session, "Trimbolt")
            self.assertEqual(run.wait(timeout=60), 0)

        self.assertEqual(main.get("found"), ["1"])
        fact = {key: values[0] for key, values in main.items()}
        self.assertEqual(fact["title"], "Trimbolt")
        self.assertEqual(fact["exe"], "Trimbolt64.exe")
        self.assertEqual(fact["dpi"], "96")
        self.assertEqual((fact["client_width"], fact["client_height"]), ("197", "125"))
        self.assertEqual((fact["left"], fact["top"]), ("431", "251"))
        style, exstyle = int(fact["style"], 16), int(fact["exstyle"], 16)
        self.assertEqual(style & (WS_CAPTION | WS_SYSMENU), WS_CAPTION | WS_SYSMENU)
        self.assertEqual(style & (WS_THICKFRAME | WS_MINIMIZEBOX | WS_MAXIMIZEBOX), 0,
                         "a single, fixed frame with the system menu only")
        self.assertEqual(exstyle & WS_EX_CONTEXTHELP, 0)
        self.assertEqual(style & WS_VISIBLE, 0)
        self.assertEqual(fact["visible"], "0")
        self.assertEqual(fact["owner_class"], "TApplication")
        # The manifest makes the process per-monitor DPI aware (Wine reports no finer).
        self.assertIn(fact["dpi_awareness"], ("per-monitor", "per-monitor-v2"))

        # The window carries the program's icon: Wine hands it to X as the window's icon.
        self.assertIsNotNone(icon, "the main window has no icon")
        width, height, pixels = icon
        self.assertEqual((width, height), (32, 32))
        self.assertEqual(pixels, icon_pixels_of_source())

        self.assertEqual(application.get("found"), ["1"])
        self.assertEqual(application["title"], ["Trimbolt2"])
        self.assertEqual(application["visible"], ["0"])


if __name__ == "__main__":
    unittest.main()
