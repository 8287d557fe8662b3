"""The start and close cues under Wine: recorded from a PulseAudio null sink, placed against the
run's memory, and a run with no sound server at all."""

import os
import sys
import unittest

sys.path.insert(0, os.path.dirname(__file__))
import winenv  # noqa: E402
from winenv import CLIP_SECONDS, WineSession  # noqa: E402

PERCENT = "1"
LATENCY = 0.25  # what Wine and the sound server may add to a cue, at most


class CueTest(unittest.TestCase):
    def test_the_clip_plays_before_the_commit_and_again_after_the_release(self):
        block = winenv.block_size(int(PERCENT))
        with WineSession(sound=True) as session:
            code, elapsed, samples, audio = winenv.run_sampled(session, PERCENT, session.pulse)
        self.assertEqual(code, 0)
        raw, offset = audio
        heard = [(start + offset, end + offset) for start, end in winenv.bursts(raw)]
        rise, fall = winenv.memory_steps(samples, block)
        self.assertIsNotNone(rise, "resident memory never rose by the block")
        self.assertIsNotNone(fall, "resident memory never fell back")

        self.assertEqual(len(heard), 2, f"bursts of sound at {heard}")
        for start, end in heard:
            self.assertAlmostEqual(end - start, CLIP_SECONDS, delta=0.15, msg=f"{heard}")
        (first_start, first_end), (second_start, second_end) = heard
        self.assertLess(first_start, rise, f"start cue {heard[0]}, commit at {rise:.3f}")
        self.assertLess(first_end, rise + LATENCY, f"start cue {heard[0]}, commit at {rise:.3f}")
        # The cue follows the release at once; the margin covers the sampling of both clocks.
        self.assertGreater(second_start, fall - 0.05, f"close cue {heard[1]}, release at {fall:.3f}")
        self.assertLess(second_end, elapsed + LATENCY, "the close cue ran past the exit")
        # The whole run: the tick a second after arming (the start cue lies within it), the
        # hold, the close cue; Wine's start-up and the fill on top.
        self.assertGreaterEqual(elapsed, 1.0 + 1.0 + CLIP_SECONDS)
        self.assertLess(elapsed, 20)

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
