"""Trimbolt64.exe under stress under Wine: many runs in a row, copies racing for the guard, a
session-end query, a killed run, and hostile command lines. Every run is at 1% or 2%."""

import os
import signal
import sys
import time
import unittest

sys.path.insert(0, os.path.dirname(__file__))
import winenv  # noqa: E402
from winenv import CLIP_SECONDS, WineSession  # noqa: E402

ONE = winenv.block_size(1)


def wait_for_two_pids(session, timeout=20):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        pids = session.linux_pids()
        if len(pids) >= 2:
            return pids[:2]
        time.sleep(0.005)
    raise AssertionError("the two copies did not both start")


class StressTest(unittest.TestCase):
    def test_twenty_runs_in_a_row_each_trim_once_and_exit_zero(self):
        with WineSession() as session:
            for run in range(20):
                code, _, samples, _ = winenv.run_sampled(session, "1")
                self.assertEqual(code, 0, f"run {run}")
                self.assertEqual(winenv.count_rises(samples, ONE), 1, f"run {run}")
                # By its end it has let go of the block (other memory may have grown meanwhile).
                self.assertLess(samples[-1][1], max(rss for _, rss in samples) - 0.5 * ONE,
                                f"run {run} ended still holding its block")

    def test_of_two_copies_started_together_exactly_one_runs(self):
        with WineSession() as session:
            for pair in range(4):
                copies = [session.start("1"), session.start("1")]
                samplers = [winenv.RssSampler(pid) for pid in wait_for_two_pids(session)]
                for sampler in samplers:
                    sampler.start()
                box = session.tool("box", "Trimbolt64", "20000", "dismiss")
                self.assertEqual(box.get("found"), ["1"], f"pair {pair}: no warning box")
                self.assertEqual(box["text"], ["既に起動しています。"])
                runner = session.tool("find", "TMainForm", "10000")
                self.assertEqual(runner.get("found"), ["1"], f"pair {pair}: neither copy runs")
                self.assertNotEqual(runner["pid"], box["pid"])
                # One box only: the copy that runs shows none.
                self.assertEqual(session.tool("box", "Trimbolt64", "300").get("found"), ["0"])
                self.assertEqual([copy.wait(timeout=60) for copy in copies], [0, 0], f"pair {pair}")
                for sampler in samplers:
                    sampler.join(timeout=10)
                # Exactly one of the two claimed and released the block.
                trims = sorted(winenv.count_rises(sampler.samples, ONE) for sampler in samplers)
                self.assertEqual(trims, [0, 1], f"pair {pair}")

    def test_a_session_end_query_while_waiting_is_answered_yes_after_the_close_cue(self):
        with WineSession(sound=True) as session:
            started = time.monotonic()
            run = session.start("1")
            # Sent the moment the main window exists, while the program waits for its tick.
            tool = session.tool_async("query-end-session", "TMainForm", "20000")
            pid = winenv.wait_for_linux_pid(session)
            sampler = winenv.RssSampler(pid)
            sampler_started = time.monotonic() - started
            sampler.start()
            query = winenv.parse(tool)
            answered_at = time.monotonic() - started
            self.assertEqual(run.wait(timeout=60), 0)
            sampler.join(timeout=10)
        self.assertEqual(query.get("found"), ["1"])
        self.assertEqual(query["sent"], ["1"])
        self.assertEqual(query["answer"], ["1"])
        # The answer waits for the whole close cue, and no longer. Under Wine a cue returns about
        # 0.4 s after the clip has ended (PlaySound waits for the sound server to report the last
        # buffer played), and up to 0.55 s on a loaded machine: the bound allows 0.75 s, still well
        # short of the trim pass (over a second) that a wrongly ordered answer would wait for.
        answered_after = int(query["elapsed_ms"][0]) / 1000
        self.assertGreaterEqual(answered_after, CLIP_SECONDS - 0.05)
        self.assertLess(answered_after, CLIP_SECONDS + 0.75)
        # It came before the tick's trim pass, which still follows, once.
        samples = [(t + sampler_started, rss) for t, rss in sampler.samples]
        rise, _ = winenv.memory_steps(samples, ONE)
        self.assertIsNotNone(rise)
        self.assertLess(answered_at, rise + 0.1)
        self.assertEqual(winenv.count_rises(samples, ONE), 1)

    def test_a_run_killed_during_its_hold_leaves_no_guard_behind(self):
        with WineSession() as session:
            run = session.start("1")
            pid = winenv.wait_for_linux_pid(session)
            sampler = winenv.RssSampler(pid)
            sampler.start()
            deadline = time.monotonic() + 20
            while winenv.peak_rise(sampler.samples) < 0.9 * ONE:
                self.assertLess(time.monotonic(), deadline, "the run never reached its hold")
                time.sleep(0.01)
            os.kill(pid, signal.SIGKILL)
            run.wait(timeout=30)

            started = time.monotonic()
            following = session.start("1")
            self.assertEqual(following.wait(timeout=30), 0)
            self.assertGreaterEqual(time.monotonic() - started, 2.0, "the next copy did not run")
            self.assertEqual(session.tool("box", "Trimbolt64", "0").get("found"), ["0"])

    def test_hostile_command_lines_give_a_run_at_the_right_percentage(self):
        exe = winenv.windows_path(winenv.EXE)
        cases = [
            ("30,000 characters", f'"{exe}" 1 ' + "A" * 30000, 1),
            ("30,000 characters in one argument", f'"{exe}" 2 ' + "x" * 30000 + " 9", 2),
            ("an unpaired quote", f'"{exe}" "1', 1),
            ("unpaired quotes after", f'"{exe}" $2 "' + '"x' * 5000, 2),
            ("pairs of quotes", f'"{exe}" """"""1"', 1),
            ("control characters", f'"{exe}"\x01\x02\x1f1\x03\x7f\x04', 1),
            ("control characters only", f'"{exe}"' + "\x01\x02\x03\x1e\x1f" * 6000 + " 2", 2),
            ("an unquoted program path", f"{exe}\t-2147483648 50", 1),
        ]
        with WineSession() as session:
            for name, command_line, percent in cases:
                code, samples = winenv.spawn_sampled(session, command_line)
                self.assertEqual(code, "0", name)
                rise = winenv.peak_rise(samples)
                block = winenv.block_size(percent)
                self.assertGreaterEqual(rise, 0.95 * block, f"{name}: rose {rise}")
                self.assertLess(rise, block + 0.5 * ONE, f"{name}: rose {rise}")


if __name__ == "__main__":
    unittest.main()
