"""Trimbolt64.exe started as Windows users start it, under Wine: through cmd.exe /c, through
cmd's start /wait, as Explorer and shortcuts start a program (ShellExecuteEx, which passes the
full path quoted), from a folder whose path has spaces and Japanese characters, and with the
argument quoted. The program's own path is the first argument its command-line reader skips;
each run's percentage is read off its memory rise."""

import os
import shutil
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.dirname(__file__))
import winenv  # noqa: E402
from winenv import WineSession  # noqa: E402

ONE = winenv.block_size(1)
CMD = r"C:\windows\system32\cmd.exe"


class LauncherTest(unittest.TestCase):
    def setUp(self):
        # A copy of the exe in a folder like "C:\Program Files\トリム ボルト", on Wine's Z: drive.
        self.scratch = tempfile.mkdtemp(prefix="trimbolt-launch-")
        folder = os.path.join(self.scratch, "Program Files", "トリム ボルト")
        os.makedirs(folder)
        self.deep = os.path.join(folder, "Trimbolt64.exe")
        shutil.copy(winenv.EXE, self.deep)

    def tearDown(self):
        shutil.rmtree(self.scratch, ignore_errors=True)

    def test_each_launcher_passes_the_percentage_through(self):
        exe = winenv.windows_path(winenv.EXE)
        deep = winenv.windows_path(self.deep)
        # Command lines as a user types them at cmd's prompt or in a batch file: a path with
        # spaces inside quotes, and for cmd /c the whole command in one more pair of quotes; the
        # first quoted argument of start is the window's title, so it gets an empty one.
        typed = [
            ("cmd /c", f"cmd.exe /c {exe} 2", 2),
            ("cmd /c, the argument quoted", f'cmd.exe /c {exe} "1"', 1),
            ("cmd /c from a folder with spaces and Japanese", f'cmd.exe /c ""{deep}" 2"', 2),
            ("start /wait", f"cmd.exe /c start /wait {exe} 2", 2),
            ("start /wait from that folder, the argument quoted",
             f'cmd.exe /c start "" /wait "{deep}" "1"', 1),
        ]
        # As Explorer and shortcuts start a program: its path and its parameters apart.
        shell = [
            ("Explorer's way", exe, "2", 2),
            ("Explorer's way from that folder", deep, "1", 1),
            ("Explorer's way, the argument quoted", deep, '"2"', 2),
        ]
        with WineSession() as session:
            for name, percent, launch in self.launches(typed, shell):
                with self.subTest(name):
                    code, samples = launch(session)
                    self.assertEqual(code, "0")
                    rise = winenv.peak_rise(samples)
                    block = winenv.block_size(percent)
                    self.assertGreaterEqual(rise, 0.95 * block, f"rose {rise >> 20} MiB")
                    self.assertLess(rise, block + 0.5 * ONE, f"rose {rise >> 20} MiB")

    @staticmethod
    def launches(typed, shell):
        """(name, percent, launch) for each case; launch(session) runs it and returns the exit
        code the test tool saw and the memory samples of the program it started."""
        for name, line, percent in typed:
            yield name, percent, lambda session, line=line: winenv.spawn_sampled(
                session, line, program=CMD)
        for name, path, parameters, percent in shell:
            yield name, percent, lambda session, path=path, parameters=parameters: (
                winenv.sampled_tool_run(
                    session, session.tool_async("shell", path, parameters, "60000")))


if __name__ == "__main__":
    unittest.main()
