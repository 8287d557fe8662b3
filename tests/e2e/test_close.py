"""Trimbolt64.exe closed from outside under Wine: Wine's own taskkill without /f (which posts a
close to every top-level window of the process) before the tick and during the trim pass, and a
close sent to the hidden application window. Each goes through the main window's close: the
close cue once, and the end of the run with exit code 0."""

import os
import subprocess
import sys
import time
import unittest

sys.path.insert(0, os.path.dirname(__file__))
import winenv  # noqa: E402
from winenv import CLIP_SECONDS, WineSession  # noqa: E402
from test_faults import finished, watched  # noqa: E402

PERCENT = "1"
BLOCK = winenv.block_size(int(PERCENT))


def sounding(heard):
    """Seconds of sound in all."""
    return sum(end - start for start, end in heard)


class CloseTest(unittest.TestCase):
    def taskkill(self, session, pid):
        done = subprocess.run(["wine", "taskkill", "/pid", pid], env=session.env,
                              capture_output=True, timeout=60)
        self.assertEqual(done.returncode, 0, done.stdout)

    def assert_closed_before_the_tick(self, close):
        """Starts a run, has `close(session)` close it from outside while the start cue plays
        (the close waits in the queue and comes before the tick), and checks the run's end."""
        with WineSession(sound=True) as session:
            run = watched(session, PERCENT)
            close(session)
            code, elapsed = run.wait()
            samples, heard = finished(run)
        self.assertEqual(code, 0)
        self.assertLess(winenv.peak_rise(samples), 0.25 * BLOCK, "the run trimmed anyway")
        # The start cue and the close cue, and no third. Under Wine the two may run together
        # into one stretch of sound, so it is their length that counts.
        self.assertAlmostEqual(sounding(heard), 2 * CLIP_SECONDS, delta=0.3, msg=f"{heard}")
        # The close came before the tick: no hold, so the run ends after the two cues.
        self.assertLess(elapsed, 1.0 + 1.0 + 2 * CLIP_SECONDS)

    def test_taskkill_before_the_tick_closes_the_run_with_its_close_cue_and_no_trim(self):
        self.assert_closed_before_the_tick(
            lambda session: self.taskkill(session,
                                          session.tool("find", "TApplication", "20000")["pid"][0]))

    def test_a_close_sent_to_the_hidden_application_window_is_the_main_windows_close(self):
        def close(session):
            self.assertEqual(session.tool("close", "TApplication", "20000").get("posted"), ["1"])
        self.assert_closed_before_the_tick(close)

    def test_taskkill_during_the_trim_pass_lets_it_finish_then_the_run_ends_as_usual(self):
        with WineSession(sound=True) as session:
            run = watched(session, PERCENT)
            deadline = time.monotonic() + 20
            while winenv.peak_rise(run.sampler.samples) < 0.9 * BLOCK:
                self.assertLess(time.monotonic(), deadline, "the run never reached its hold")
                time.sleep(0.01)
            self.taskkill(session, session.tool("find", "TMainForm", "1000")["pid"][0])
            code, _ = run.wait()
            samples, heard = finished(run)
        self.assertEqual(code, 0)
        rise, fall = winenv.memory_steps(samples, BLOCK)
        self.assertIsNotNone(fall, "the block was never given back")
        self.assertGreater(fall - rise, 0.9, "the hold was cut short")
        self.assertEqual(winenv.count_rises(samples, BLOCK), 1)
        # The start cue, and one close cue after the release.
        self.assertEqual(len(heard), 2, f"{heard}")
        self.assertGreater(heard[1][0], fall - 0.05)


if __name__ == "__main__":
    unittest.main()
