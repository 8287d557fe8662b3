"""Tests scripts/run.sh as a newcomer meets it: it builds the exe, runs it once under Wine with
the given arguments and says in two lines what happened (the percentage and block as the program
computes them, the exit code, whether the cues could be heard), with Wine's own noise kept out
of the terminal. Each run uses this build's own Wine prefix, which the first run prepares; a run
that outlives its timeout is stopped with everything it started."""

import os
import re
import signal
import subprocess
import sys
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "e2e"))
import winenv  # noqa: E402  (the Wine test helpers: PulseAudio)

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
RUN = os.path.join(ROOT, "scripts", "run.sh")
PREFIX = os.environ.get("TRIMBOLT_RUN_PREFIX", "")
MIB = 1048576
# The first line of the report; the figures are checked on their own.
REPORT = re.compile(r"^Trimbolt64\.exe (?P<args>.*): a run at (?P<percent>\d+)%, a block of "
                    r"(?P<block>\d+) MiB of the (?P<total>\d+) MiB Wine reports; "
                    r"exit code (?P<status>\d+)\.$")
LOG = "Wine's output: build/windows/run.log"


def run_script(*args, pulse=None):
    env = dict(os.environ)
    env.pop("DISPLAY", None)  # its own Xvfb, as on a machine with no desktop
    env["WINEPREFIX"] = PREFIX
    env["PULSE_SERVER"] = pulse.server_address() if pulse else "unix:/nonexistent/trimbolt-no-sound"
    script = subprocess.Popen([RUN, *args], env=env, stdout=subprocess.PIPE,
                              stderr=subprocess.PIPE, text=True, start_new_session=True)
    try:
        out, err = script.communicate(timeout=240)
    except subprocess.TimeoutExpired:
        os.killpg(script.pid, signal.SIGKILL)
        out, err = script.communicate()
        subprocess.run(["wineserver", "-k"], env=env, stderr=subprocess.DEVNULL)
        raise
    return script.returncode, out, err


def total_mib_of_machine():
    with open("/proc/meminfo") as meminfo:
        kib = int(re.search(r"MemTotal:\s+(\d+) kB", meminfo.read()).group(1))
    return kib * 1024 // MIB


class RunScriptTest(unittest.TestCase):
    def report(self, out):
        """The script's report: its lines after the build and prefix notices."""
        lines = [line for line in out.splitlines()
                 if not line.startswith(("building ", "preparing the Wine prefix "))]
        self.assertEqual(len(lines), 2, out)
        found = REPORT.match(lines[0])
        self.assertIsNotNone(found, lines[0])
        return found, lines[1]

    def test_a_run_without_sound_reports_the_programs_figures_in_two_quiet_lines(self):
        # 0x01 reads as 1 (hexadecimal); a later argument does not count.
        status, out, err = run_script("0x01", "70")
        self.assertEqual(status, 0, out + err)
        # Nothing of Wine's (no ALSA errors, no fixme or err lines) reaches the terminal.
        self.assertEqual(err, "")
        self.assertNotIn("ALSA", out)
        found, cues = self.report(out)
        self.assertEqual(found["args"], "0x01 70")
        self.assertEqual(found["percent"], "1")
        self.assertEqual(found["status"], "0")
        # Wine reports the machine's memory (to the page); the block is 1% of it in whole MiB.
        total = int(found["total"])
        self.assertLessEqual(abs(total - total_mib_of_machine()), 1)
        self.assertEqual(int(found["block"]), int(total * 0.01))
        self.assertEqual(cues, "The cues were silent for want of a sound device: Wine found "
                               "none, and no sound server answers. " + LOG)
        self.assertTrue(os.path.isfile(os.path.join(ROOT, "build", "windows", "run.log")))

    def test_with_a_sound_server_the_cues_are_said_to_play_through_it(self):
        pulse = winenv.PulseAudio()
        try:
            pulse.start_recording()
            status, out, err = run_script("2", pulse=pulse)
            raw, _ = pulse.stop_recording()
        finally:
            pulse.close()
        self.assertEqual(status, 0, out + err)
        # They did play there: the start cue and the close cue.
        self.assertEqual(len(winenv.bursts(raw)), 2)
        self.assertEqual(err, "")
        found, cues = self.report(out)
        self.assertEqual(found["percent"], "2")
        self.assertEqual(int(found["block"]), int(int(found["total"]) * 0.02))
        self.assertEqual(cues, "The cues played through the sound server "
                               f"{pulse.server_address()}. " + LOG)


if __name__ == "__main__":
    unittest.main()
