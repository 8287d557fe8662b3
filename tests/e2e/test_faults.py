"""Trimbolt64.exe on its failure paths under Wine: a commit the system refuses, test builds of
the program with a broken or missing window description or without its clip, and a test build
whose Windows functions fail on request (tests/variants/FaultyImports.cpp): a failing tick, a
failure that comes with the quit, the start race of two copies, no application window."""

import os
import sys
import tempfile
import time
import unittest

sys.path.insert(0, os.path.dirname(__file__))
import winenv  # noqa: E402
from winenv import CLIP_SECONDS, WineSession  # noqa: E402

VARIANTS = os.environ.get("TRIMBOLT_VARIANTS", "")
SOURCE = os.path.join(os.path.dirname(__file__), "..", "..")
PERCENT = "1"
BLOCK = winenv.block_size(int(PERCENT))
WS_EX_TOPMOST = 0x8


def variant(name):
    return os.path.join(VARIANTS, name, "Trimbolt64.exe")


class CallLog:
    """A file in which the faults build notes the message boxes it asks for (their styles)."""

    def __enter__(self):
        handle, self.path = tempfile.mkstemp(prefix="trimbolt-calls-", suffix=".txt")
        os.close(handle)
        return self

    def env(self, fault):
        return {"TRIMBOLT_TEST_FAULT": fault, "TRIMBOLT_TEST_CALLS": winenv.windows_path(self.path)}

    def lines(self):
        with open(self.path) as f:
            return f.read().split()

    def __exit__(self, *exc):
        os.unlink(self.path)
        return False


def line_of(prefix):
    """The line number of the main window description's line that starts with `prefix`."""
    with open(os.path.join(SOURCE, "resources", "MainForm.window"), encoding="utf-8") as f:
        for number, line in enumerate(f, 1):
            if line.strip().startswith(prefix):
                return number
    raise AssertionError(prefix)


def watched(session, *args, **options):
    """A copy started with its memory sampled and the session's sound server recorded."""
    return winenv.SampledRun(session, *args, pulse=session.pulse, **options)


def finished(run):
    """After the exit: ([(seconds, resident bytes)], [(start, end)] of sound)."""
    samples, audio = run.finish()
    return samples, winenv.heard(audio)


class FaultTest(unittest.TestCase):
    def assert_error_box(self, box, text):
        self.assertEqual(box.get("found"), ["1"], box)
        self.assertEqual(box["text"], [text])
        self.assertEqual(box["title"], ["Trimbolt2"])
        self.assertEqual(box["icon"], ["error"])
        self.assertEqual(box["exe"], ["Trimbolt64.exe"])
        self.assertEqual(int(box["exstyle"][0], 16) & WS_EX_TOPMOST, 0, "a topmost box")

    def test_a_refused_commit_writes_nothing_yet_holds_plays_both_cues_and_exits_zero(self):
        with WineSession(sound=True) as session:
            # The kernel refuses this copy any writable mapping of half the block or more.
            run = watched(session, PERCENT, commit_limit=BLOCK // 2)
            code, _ = run.wait()
            samples, heard = finished(run)
            self.assertEqual(code, 0)
            # The next copy runs, and claims its block.
            code, _, following, _ = winenv.run_sampled(session, PERCENT)
        self.assertEqual(code, 0)
        self.assertLess(winenv.peak_rise(samples), 0.25 * BLOCK, "the refused block was written")
        self.assertGreaterEqual(winenv.peak_rise(following), BLOCK, "the next copy did not run")
        self.assertEqual(len(heard), 2, f"bursts of sound at {heard}")
        # Between the cues: the tick's second (the start cue plays within it) and the hold.
        self.assertGreaterEqual(heard[1][0] - heard[0][0], 1.0 + 1.0 - 0.2, f"{heard}")

    def test_a_broken_or_missing_window_description_is_an_error_box_and_exit_code_one(self):
        cases = [
            ("broken_description",
             f"ウィンドウの記述が壊れています（{line_of('left ')} 行目: 'left' is not a 32-bit number）"),
            ("no_description", "ウィンドウの記述が見つかりません"),
        ]
        for name, text in cases:
            with self.subTest(name), WineSession(sound=True) as session:
                run = watched(session, PERCENT, exe=variant(name))
                box = session.tool("box", "Trimbolt2", "20000", "dismiss")
                code, _ = run.wait(timeout=30)
                samples, heard = finished(run)
                self.assert_error_box(box, text)
                self.assertEqual(box["owner_class"], ["TApplication"])
                self.assertEqual(code, 1)
                self.assertEqual(heard, [], "a cue played")
                self.assertLess(winenv.peak_rise(samples), 0.25 * BLOCK, "memory was claimed")

    def test_without_its_clip_the_run_keeps_its_order_and_wine_plays_no_default_sound(self):
        with WineSession(sound=True) as session:
            run = watched(session, PERCENT, exe=variant("no_clip"))
            code, elapsed = run.wait()
            samples, heard = finished(run)
        self.assertEqual(code, 0)
        rise, fall = winenv.memory_steps(samples, BLOCK)
        self.assertIsNotNone(rise, "the block was never claimed")
        self.assertIsNotNone(fall, "the block was never given back")
        self.assertGreater(fall - rise, 0.9)  # the hold
        # Wine has no default sound to play in the clip's place: both cues are silent and
        # return at once, so the run is the tick's second and the hold, and no clip's length.
        self.assertEqual(heard, [])
        self.assertGreaterEqual(elapsed, 2.0)
        self.assertLess(elapsed, 2.0 + 2 * CLIP_SECONDS)

    def test_a_failing_tick_shows_its_error_and_the_program_stays_hidden_in_its_loop(self):
        with WineSession(sound=True) as session, CallLog() as calls:
            run = watched(session, PERCENT, exe=variant("faults"), env=calls.env("tick-fails"))
            box = session.tool("box", "Trimbolt2", "20000", "dismiss")
            self.assert_error_box(box, "テスト用の失敗：メモリの量を読めません")
            self.assertEqual(box["owner_class"], ["TApplication"])
            # Dismissed, and the program goes on waiting, hidden, with no window shown.
            time.sleep(1.5)
            self.assertIsNone(run.process.poll(), "the program ended after the failed tick")
            main = session.tool("find", "TMainForm", "1000")
            self.assertEqual(main["visible"], ["0"])
            # Until it is closed from outside, which goes through its close.
            self.assertEqual(session.tool("close", "TMainForm", "1000").get("posted"), ["1"])
            code, _ = run.wait(timeout=30)
            samples, heard = finished(run)
            # The box was asked for with the error icon alone: owned by the application window,
            # application-modal, not topmost.
            self.assertEqual(calls.lines(), ["MessageBoxW", "style=0x10"])
        self.assertEqual(code, 0)
        self.assertLess(winenv.peak_rise(samples), 0.25 * BLOCK, "the failed tick trimmed")
        self.assertEqual(len(heard), 2, f"the start and close cues, heard {heard}")

    def test_a_failure_raised_with_the_quit_keeps_its_box_until_it_is_dismissed(self):
        with WineSession(sound=True) as session:
            run = watched(session, PERCENT, exe=variant("faults"),
                          env={"TRIMBOLT_TEST_FAULT": "quit-then-fails"})
            box = session.tool("box", "Trimbolt2", "20000")
            self.assert_error_box(box, "テスト用の失敗：終了の後")
            time.sleep(2.0)
            # The box's own loop did not take the quit: it is still there, and so is the program.
            again = session.tool("box", "Trimbolt2", "1000", "dismiss")
            self.assertEqual(again.get("found"), ["1"], "the box closed by itself")
            self.assertEqual(again["hwnd"], box["hwnd"])
            dismissed = time.monotonic()
            code, _ = run.wait(timeout=30)
            ended_after = time.monotonic() - dismissed
            samples, _ = finished(run)
        # Then the loop ends on the quit: the run trimmed once and exits as usual.
        self.assertEqual(code, 0)
        self.assertLess(ended_after, 10)
        self.assertEqual(winenv.count_rises(samples, BLOCK), 1)

    def test_a_copy_whose_open_misses_the_guard_is_turned_away_by_its_create(self):
        with WineSession(sound=True) as session, CallLog() as calls:
            # The first copy holds the guard for as long as the test needs: its tick fails, and
            # it waits in its loop until it is closed.
            first = session.start(PERCENT, exe=variant("faults"),
                                  env={"TRIMBOLT_TEST_FAULT": "tick-fails"})
            self.assertEqual(session.tool("box", "Trimbolt2", "20000", "dismiss").get("found"),
                             ["1"])
            # This copy looks for the guard as if before the first copy had made it, the race
            # of two copies started together; its create then finds the guard there.
            second = watched(session, PERCENT, exe=variant("faults"),
                             env=calls.env("open-finds-no-guard"))
            box = session.tool("box", "Trimbolt64", "20000", "dismiss")
            code, _ = second.wait(timeout=30)
            samples, _ = finished(second)
            self.assertIsNone(first.poll(), "the first copy ended")
            session.tool("close", "TMainForm", "1000")
            self.assertEqual(first.wait(timeout=60), 0)
            # MB_OK with the warning icon, and nothing else: not topmost.
            self.assertEqual(calls.lines(), ["MessageBoxW", "style=0x30"])
        self.assertEqual(box.get("found"), ["1"], box)
        self.assertEqual(box["text"], ["既に起動しています。"])
        self.assertEqual(box["icon"], ["warning"])
        self.assertEqual(int(box["exstyle"][0], 16) & WS_EX_TOPMOST, 0, "a topmost box")
        self.assertEqual(code, 0)
        self.assertLess(winenv.peak_rise(samples), 0.25 * BLOCK, "the turned-away copy trimmed")

    def test_no_application_window_is_a_start_up_failure_with_exit_code_one(self):
        with WineSession(sound=True) as session:
            run = watched(session, PERCENT, exe=variant("faults"),
                          env={"TRIMBOLT_TEST_FAULT": "no-application-window"})
            box = session.tool("box", "Trimbolt2", "20000", "dismiss")
            code, _ = run.wait(timeout=30)
            samples, heard = finished(run)
        self.assert_error_box(box, "アプリケーションウィンドウを作成できません")
        self.assertEqual(box["owner_class"], [""])
        self.assertEqual(code, 1)
        self.assertEqual(heard, [])
        self.assertLess(winenv.peak_rise(samples), 0.25 * BLOCK)


if __name__ == "__main__":
    unittest.main()
