"""The start and close cues under Wine: recorded from a PulseAudio null sink, placed against the
run's memory, and a run with no sound server at all."""

import os
import sys
import unittest

sys.path.insert(0, os.path.dirname(__file__))
import winenv  # noqa: E402
from winenv import WineSession  # noqa: E402

PERCENT = "1"
LATENCY = 0.25  # what Wine and the sound server may add to a cue, at most


class CueTest(unittest.TestCase):
    def test_the_clip_plays_before_the_commit_and_again_after_the_release(self):
        block = winenv.block_size(int(PERCENT))
        with WineSession(sound=True) as session:
            code, elapsed, samples, audio = winenv.run_sampled(session, PERCENT, session.pulse)
        self.assertEqual(code, 0)
        self.assertEqual(winenv.order_faults(elapsed, samples, audio, block, LATENCY), [])

    def test_without_a_sound_server_the_run_keeps_its_order_and_exits_zero(self):
        block = winenv.block_size(int(PERCENT))
        with WineSession(sound=False) as session:
            code, elapsed, samples, _ = winenv.run_sampled(session, PERCENT)
        self.assertEqual(code, 0)
        rise, fall = winenv.memory_steps(samples, block)
        self.assertIsNotNone(rise)
        self.assertIsNotNone(fall)
        self.assertGreater(fall - rise, 0.9)  # the one-second hold
        # The tick still waits its second, the hold its second; the cues return at once.
        self.assertGreaterEqual(elapsed, 2.0)


if __name__ == "__main__":
    unittest.main()
