"""Trimbolt64.exe end to end under Wine: one whole run, its memory, its windows, the guard."""

import os
import sys
import time
import unittest

sys.path.insert(0, os.path.dirname(__file__))
import winenv  # noqa: E402
from winenv import WineSession  # noqa: E402

PERCENT = "1"  # at most about 2% of the machine's memory in any test


class RunTest(unittest.TestCase):
    def test_a_run_exits_zero_after_its_designed_waits(self):
        with WineSession(sound=True) as session:
            started = time.monotonic()
            run = session.start(PERCENT)
            self.assertEqual(run.wait(timeout=60), 0)
            elapsed = time.monotonic() - started
        # The tick comes a second after the timer is armed (the start cue plays within that
        # second), then the one-second hold and the close cue: about 2.78 s, with Wine's
        # start-up and the fill on top. The upper bound is generous: Wine starts slowly.
        self.assertGreaterEqual(elapsed, 1.0 + 1.0 + winenv.CLIP_SECONDS)
        self.assertLess(elapsed, 20.0)

    def test_memory_rises_by_the_block_during_the_hold_and_falls_before_exit(self):
        block = winenv.block_size(int(PERCENT))
        self.assertGreater(block, 64 * winenv.MIB)
        with WineSession(sound=True) as session:
            code, elapsed, sampled, _ = winenv.run_sampled(session, PERCENT)
        self.assertEqual(code, 0)
        samples = [rss for _, rss in sampled]
        self.assertGreater(len(samples), 100)
        peak_at = max(range(len(samples)), key=samples.__getitem__)
        before = min(samples[: peak_at + 1])
        self.assertGreaterEqual(samples[peak_at] - before, block,
                                "resident memory did not rise by the block")
        # Still while the process lives (the close cue plays after the decommit).
        after = min(samples[peak_at:])
        # Most of the block: the close cue may load a little of its own meanwhile.
        self.assertLessEqual(after, samples[peak_at] - 0.8 * block,
                             "resident memory did not fall back after the decommit")
        # The hold: the top lasts about one second.
        held = [t for t, rss in sampled if rss >= before + 0.95 * block]
        self.assertGreaterEqual(held[-1] - held[0], 0.8)

    def test_the_block_is_the_percentage_of_the_total_memory_committed_uncached(self):
        with WineSession() as session:
            run = session.start(PERCENT)
            pid = session.tool("find", "TMainForm", "20000")["pid"][0]
            # The committed memory of the program as Windows records it, during the hold.
            memory = session.tool("regions", pid, str(64 * winenv.MIB), "20000")
            self.assertEqual(run.wait(timeout=60), 0)
        # Exactly the block for the total memory the system reports (not the available), and
        # nothing else that large.
        block = winenv.block_size(int(PERCENT), total=int(memory["total_phys"][0]))
        self.assertEqual(memory.get("found"), ["1"], memory)
        size, protect, kind = (int(v) for v in memory["region"][0].split("|"))
        self.assertEqual(size, block)
        # Read-write and uncached (Wine keeps the protection although it maps ordinary memory).
        self.assertEqual(protect, 0x04 | 0x200)
        self.assertEqual(kind, 0x20000)  # MEM_PRIVATE

    def test_no_window_of_the_program_is_ever_visible(self):
        with WineSession() as session:
            watch = session.tool_async("watch", "30000", "Trimbolt64.exe")
            time.sleep(1.0)  # the watch is polling before the program starts
            run = session.start(PERCENT)
            self.assertEqual(run.wait(timeout=60), 0)
            facts = winenv.parse(watch)
        windows = [w.split("|") for w in facts.get("window", [])]
        classes = {w[0] for w in windows}
        # The watch saw the program's windows, so that "none visible" means something.
        self.assertIn("TMainForm", classes)
        self.assertIn("TApplication", classes)
        for window in windows:
            self.assertEqual(window[3], "hidden", window)

    def test_a_second_copy_is_turned_away_while_one_runs_and_a_later_copy_runs(self):
        with WineSession() as session:
            first = session.start(PERCENT)
            # The main window exists once the guard is taken and the start cue has played.
            self.assertEqual(session.tool("find", "TMainForm", "20000").get("found"), ["1"])
            second_started = time.monotonic()
            second = session.start(PERCENT)
            box = session.tool("box", "Trimbolt64", "20000", "dismiss")
            self.assertEqual(box.get("found"), ["1"], box)
            self.assertEqual(box["text"], ["既に起動しています。"])
            self.assertEqual(box["icon"], ["warning"])
            self.assertEqual(box["buttons"], ["1"])
            self.assertEqual(box["button"][0].split("|")[1], "1")  # IDOK
            self.assertEqual(box["exe"], ["Trimbolt64.exe"])
            self.assertEqual(second.wait(timeout=30), 0)
            # The second copy ended at the dismissal, without a run of its own.
            self.assertLess(time.monotonic() - second_started, 15)
            self.assertEqual(first.wait(timeout=60), 0)

            # The guard went with the first process: the next copy runs normally.
            started = time.monotonic()
            third = session.start(PERCENT)
            self.assertEqual(third.wait(timeout=60), 0)
            self.assertGreaterEqual(time.monotonic() - started, 2.0)
            self.assertEqual(session.tool("box", "Trimbolt64", "0").get("found"), ["0"])


if __name__ == "__main__":
    unittest.main()
