"""Times whole runs of Trimbolt64.exe under Wine and works out the program's own overhead.

    python3 bench/whole_run.py [--rounds N]

It builds the exe with the windows preset, and three helpers with the mingw-w64 compiler into
build/bench-windows/: a trivial GUI exe that exits at once; a fill timer that commits the block
the program would commit for a percentage, the same way and with the program's own code, and
times the fill alone; and a windowed exe that imports the program's DLLs, makes one hidden
window and exits. Then, in a Wine session of its own (a private prefix under
build/bench-windows, an Xvfb display, a PulseAudio server with a null sink so that the cues take
their time; see tests/e2e/winenv.py), it starts each kind the same way, the kinds taking turns,
for several rounds, and takes medians. Runs at 1% and 2% of the machine's memory, one at a time.

The arithmetic. A run's wall time is Wine's start-up and shut-down of a process, the designed
waits, the fill and whatever else the program spends. The designed waits:

  - the timer is armed just before the start cue plays and ticks 1.000 s after arming; the
    start cue (8,610 bytes at 11,025 bytes/s = 0.781 s) plays inside that second, so the start
    cue and the timer together take max(1.000, 0.781) = 1.000 s, not 1.000 + 0.781;
  - the hold after the fill: 1.000 s;
  - the close cue: 0.781 s.

  designed = max(1.000, 0.781) + 1.000 + 0.781 = 2.781 s
  overhead = run - trivial exe's run - designed - fill

where the trivial exe's run stands for Wine's own start-up and the fill is the fill timer's
median for the same block.

Under Wine, though, a cue takes longer than its clip: PlaySound returns only once the sound
server reports the last buffer played, some 0.4 s after the clip's length here, and a start cue
longer than a second also holds back the tick, which is handled when the cue returns. That
latency belongs to the sound system, not to the program, so the script also runs the program
with no sound server to play to (PlaySound then gives up at once), the only difference being
the sound server in its environment. There the waits are exactly the timer and the hold:

  silent waits = 1.000 + 1.000 = 2.000 s
  own overhead = silent run - trivial exe's run - silent waits - fill

and the sound system's latency is what the cues add beyond the close cue's designed length:

  cue latency  = run - silent run - 0.781

The own overhead is the program's: loading the DLLs it imports and making its windows (which
Wine's start-up of a trivial exe does not include), the commit and the decommit, the message
loop, the exit. The target applies to it. How much of it any windowed program pays under Wine
shows in the windowed exe's run less the trivial exe's.

It also samples the Wine process's resident memory through one run at 1%, to show that the
process holds nothing large besides the block, and prints the exe's size and imports.
"""

import argparse
import os
import re
import statistics
import subprocess
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
BUILD = os.path.join(ROOT, "build", "windows")
HELPERS = os.path.join(ROOT, "build", "bench-windows")
EXE = os.path.join(BUILD, "Trimbolt64.exe")
TRIVIAL = os.path.join(HELPERS, "Trivial.exe")
FILL_TIMER = os.path.join(HELPERS, "FillTimer.exe")
WINDOWED = os.path.join(HELPERS, "Windowed.exe")
OBJDUMP = "x86_64-w64-mingw32-objdump"
CXX = "x86_64-w64-mingw32-g++"

# winenv reads these when imported.
os.environ["TRIMBOLT_WINEPREFIX"] = os.path.join(HELPERS, "wineprefix")
os.environ["TRIMBOLT_EXE"] = EXE
sys.path.insert(0, os.path.join(ROOT, "tests", "e2e"))
import prepare_prefix  # noqa: E402
import winenv  # noqa: E402

TIMER_SECONDS = 1.0
HOLD_SECONDS = 1.0
CLIP_SECONDS = winenv.CLIP_SECONDS
DESIGNED_SECONDS = max(TIMER_SECONDS, CLIP_SECONDS) + HOLD_SECONDS + CLIP_SECONDS
SILENT_SECONDS = TIMER_SECONDS + HOLD_SECONDS
PERCENTS = ("1", "2")
TARGET_MS = 100.0
NO_SOUND_SERVER = "unix:/nonexistent/trimbolt-no-sound"

# The program's own compile settings (cmake/Warnings.cmake, cmake/Executable.cmake, Release).
COMPILE = [
    CXX, "-std=c++20", "-O3", "-DNDEBUG", "-municode", "-DUNICODE", "-D_UNICODE",
    "-DWIN32_LEAN_AND_MEAN", "-DNOMINMAX", "-I", ROOT,
    "-Wall", "-Wextra", "-Wpedantic", "-Wconversion", "-Wsign-conversion", "-Wshadow",
    "-Wold-style-cast", "-Werror",
    "-static", "-s", "-Wl,--no-insert-timestamp",
]


def build():
    subprocess.run([os.path.join(ROOT, "scripts", "install-deps.sh")], check=True)
    subprocess.run(["cmake", "--preset", "windows"], cwd=ROOT, check=True,
                   stdout=subprocess.DEVNULL)
    subprocess.run(["cmake", "--build", "--preset", "windows", "--target", "Trimbolt64"],
                   cwd=ROOT, check=True)
    os.makedirs(HELPERS, exist_ok=True)
    bench_win = os.path.join(ROOT, "bench", "win")
    subprocess.run(COMPILE + ["-mwindows", os.path.join(bench_win, "Trivial.cpp"),
                              "-o", TRIVIAL], check=True)
    # The fill timer links the program's own archives: the same fill, commit and sizing code.
    subprocess.run(COMPILE + ["-mconsole", os.path.join(bench_win, "FillTimer.cpp"),
                              os.path.join(BUILD, "libtrimbolt_program.a"),
                              os.path.join(BUILD, "libtrimbolt_platform.a"),
                              os.path.join(BUILD, "libtrimbolt_core.a"),
                              "-o", FILL_TIMER], check=True)
    subprocess.run(COMPILE + ["-mwindows", os.path.join(bench_win, "Windowed.cpp"), "-lwinmm",
                              "-o", WINDOWED], check=True)


def timed_run(env, exe, *args):
    """Starts `exe` under Wine as the tests start the program; (seconds, exit code, stdout)."""
    started = time.monotonic()
    done = subprocess.run(["wine", exe, *args], env=env, capture_output=True, timeout=120)
    return time.monotonic() - started, done.returncode, done.stdout.decode("utf-8", "replace")


def facts(text):
    return dict(line.strip().split("=", 1) for line in text.splitlines() if "=" in line)


def measure(session, rounds):
    """Each kind of start's measurements over the rounds, the kinds taking turns."""
    silent = dict(session.env, PULSE_SERVER=NO_SOUND_SERVER)
    kinds = [("trivial", session.env, TRIVIAL, None), ("windowed", silent, WINDOWED, None)]
    kinds += [(f"run {p}%", session.env, EXE, p) for p in PERCENTS]
    kinds += [(f"silent run {p}%", silent, EXE, p) for p in PERCENTS]
    kinds += [(f"fill {p}%", session.env, FILL_TIMER, p) for p in PERCENTS]
    results = {name: [] for name, _, _, _ in kinds}
    for round_number in range(rounds):
        for turn in range(len(kinds)):
            name, env, exe, percent = kinds[(turn + round_number) % len(kinds)]
            seconds, code, out = timed_run(env, exe, *([percent] if percent else []))
            if code != 0:
                raise RuntimeError(f"{name} exited with code {code}: {out.strip()}")
            results[name].append(facts(out) if exe == FILL_TIMER else seconds)
        print(f"round {round_number + 1} of {rounds} done", file=sys.stderr)
    return results


def footprint(session):
    """Resident memory of the Wine process through one run at 1%: before the block and at its
    peak."""
    block = winenv.block_size(1)
    run = session.start("1")
    sampler = winenv.RssSampler(winenv.wait_for_linux_pid(session))
    sampler.start()
    code = run.wait(timeout=120)
    sampler.join(timeout=10)
    samples = [rss for _, rss in sampler.samples]
    if code != 0 or not samples:
        raise RuntimeError("the footprint run failed")
    peak = max(samples)
    # The fill raises the resident size by megabytes from one sample to the next; the foot of
    # that climb is the process before the block.
    foot = next(i for i, rss in enumerate(samples) if rss >= peak - block // 2)
    while foot > 0 and samples[foot - 1] < samples[foot] - winenv.MIB:
        foot -= 1
    before = samples[foot - 1] if foot > 0 else samples[0]
    return block, before, peak


def imports(exe):
    dump = subprocess.run([OBJDUMP, "-p", exe], check=True, capture_output=True,
                          text=True).stdout
    return sorted({name.lower() for name in re.findall(r"DLL Name: (\S+)", dump)})


def spread(values):
    return f"median {statistics.median(values):.3f} s (min {min(values):.3f}, max {max(values):.3f})"


def report(results, footprint_figures):
    mib = winenv.MIB
    ms = 1000.0
    trivial = statistics.median(results["trivial"])
    windowed = statistics.median(results["windowed"])
    print(f"\nWine start-up and shut-down (trivial exe): {spread(results['trivial'])}")
    print(f"the same for a windowed exe (the program's DLLs, one window): "
          f"{spread(results['windowed'])}")
    print(f"designed waits: max(timer {TIMER_SECONDS:.3f}, start cue {CLIP_SECONDS:.3f}) + hold "
          f"{HOLD_SECONDS:.3f} + close cue {CLIP_SECONDS:.3f} = {DESIGNED_SECONDS:.3f} s; "
          f"with no sound server: timer + hold = {SILENT_SECONDS:.3f} s")
    for percent in PERCENTS:
        fills = results[f"fill {percent}%"]
        block = int(fills[0]["block_bytes"])
        fill = statistics.median(float(f["fill_ms"]) for f in fills) / ms
        decommit = statistics.median(float(f["decommit_ms"]) for f in fills)
        run = statistics.median(results[f"run {percent}%"])
        silent = statistics.median(results[f"silent run {percent}%"])
        overhead = (run - trivial - DESIGNED_SECONDS - fill) * ms
        own = (silent - trivial - SILENT_SECONDS - fill) * ms
        latency = (run - silent - CLIP_SECONDS) * ms
        print(f"\nat {percent}% ({block // mib} MiB):")
        print(f"  run:        {spread(results[f'run {percent}%'])}")
        print(f"  silent run: {spread(results[f'silent run {percent}%'])}")
        print(f"  fill:       median {fill * ms:.0f} ms ({block / fill / 1e9:.2f} GB/s); "
              f"the decommit after it takes {decommit:.0f} ms (counted in the overhead)")
        print(f"  overhead with the cues: {run:.3f} - {trivial:.3f} - {DESIGNED_SECONDS:.3f} - "
              f"{fill:.3f} = {overhead:.0f} ms, of which the cues' latency here: {latency:.0f} ms")
        print(f"  own overhead (silent):  {silent:.3f} - {trivial:.3f} - {SILENT_SECONDS:.3f} - "
              f"{fill:.3f} = {own:.0f} ms   target < {TARGET_MS:.0f} ms: "
              f"{'met' if own < TARGET_MS else 'NOT met'}")
        print(f"    compare: any windowed program's start-up under Wine takes "
              f"{(windowed - trivial) * ms:.0f} ms more than the trivial exe's; the decommit "
              f"{decommit:.0f} ms")
    block, before, peak = footprint_figures
    print(f"\nresident memory of a run at 1%: {before / mib:.1f} MiB before the block, "
          f"{peak / mib:.1f} MiB at the peak with the {block / mib:.0f} MiB block in it "
          f"({(peak - before - block) / mib:+.1f} MiB besides the block)")
    size = os.path.getsize(EXE)
    print(f"Trimbolt64.exe: {size} bytes ({size / 1024:.1f} KiB), imports {', '.join(imports(EXE))}")


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n", 1)[0])
    parser.add_argument("--rounds", type=int, default=7, help="rounds of starts (at least 5)")
    rounds = max(parser.parse_args().rounds, 5)
    build()
    if prepare_prefix.main() != 0:
        return 1
    with winenv.WineSession(sound=True) as session:
        results = measure(session, rounds)
        footprint_figures = footprint(session)
    report(results, footprint_figures)
    return 0


if __name__ == "__main__":
    sys.exit(main())
