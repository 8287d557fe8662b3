"""Measures what a run of Trimbolt64.exe frees, under Wine, and draws one run over time.

    python3 bench/effect.py [--rounds N] [--picture PATH] [--only-picture]
                                                          (as root; about 3 minutes)

Under Wine the program's block is ordinary memory of a Linux process, so a memory control group
(see tests/e2e/memgroup.py) shows at a safe scale what a run does to a machine whose memory is
full of page cache: the group gets a limit a little above the block, is filled to that limit
with page cache (a sparse file read in from inside it), and the run starts inside it. To back
the block, the kernel must take pages from that cache, as Windows takes them from its standby
list; after the release they are free.

For each percentage and group size, the kinds below take turns for several rounds, each in a
fresh group, and the script prints medians:

  - the run on free memory: the group empty, so that the block needs no reclaim;
  - the run under reclaim: the group full of cache. Its free memory before and after the run
    (after its Wine processes have ended) and how much cache it lost give what the run freed;
  - the fill alone on free memory and under reclaim: the program's own commit and fill code,
    timed inside the process (the fill timer of bench/whole_run.py), for the part of the run
    that reclaim slows;
  - the privileged way, from the same full group: the kernel's forced reclaim of the group
    (memory.force_empty on cgroup v1, memory.reclaim on v2), what it frees and in what time.
    An unprivileged user is refused it, as it is refused /proc/sys/vm/drop_caches, the machine-
    wide way (which this script does not use: it would empty every cache on a shared machine);
    the script shows both refusals. Trimbolt needs no rights: it commits and writes memory of
    its own.

Then it records one run at 1% in the smallest group, with the sound server's output, and draws
the group's page cache, its free memory and the program's resident memory over time, with the
two cues, the commit and the release marked (matplotlib, which `scripts/install-deps.sh bench`
installs; this script calls it).

The script builds what it needs as bench/whole_run.py does and shares its Wine prefix.
"""

import argparse
import errno
import os
import statistics
import subprocess
import sys
import tempfile
import threading
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
# First: it points winenv at the bench's own Wine prefix, and puts tests/e2e on the path.
import whole_run  # noqa: E402
import memgroup  # noqa: E402
import prepare_prefix  # noqa: E402
import winenv  # noqa: E402

MIB = winenv.MIB
PERCENTS = (1, 2)
HEADROOMS = (160 * MIB, 640 * MIB)  # the group's limit is the block and this much
PICTURE = os.path.join(ROOT, "docs", "what-a-run-frees.png")
NOBODY = 65534


class GroupSampler(threading.Thread):
    """Samples a group's figures every few milliseconds until stopped:
    [(time.monotonic(), Snapshot)]."""

    def __init__(self, group, interval=0.01):
        super().__init__(daemon=True)
        self.group = group
        self.interval = interval
        self.samples = []
        self.done = threading.Event()

    def run(self):
        while not self.done.is_set():
            self.samples.append((time.monotonic(), self.group.snapshot()))
            time.sleep(self.interval)

    def stop(self):
        self.done.set()
        self.join()


def start_in(group, session, exe, percent):
    """Runs `exe` under Wine inside the group and waits for it and for every process it left in
    the group; (seconds until the exe exited, its stdout)."""
    # Its output goes to a file, not a pipe: Wine's desktop process, which outlives the exe by
    # a second or so, inherits it, and a pipe would stay open until that process ends.
    with tempfile.TemporaryFile() as out:
        started = time.monotonic()
        process = subprocess.Popen([*group.launcher(), "wine", exe, str(percent)],
                                   env=session.env, stdout=out, stderr=subprocess.DEVNULL)
        session.started.append(process)
        code = process.wait(timeout=120)
        seconds = time.monotonic() - started
        out.seek(0)
        text = out.read().decode("utf-8", "replace")
    if code != 0:
        raise RuntimeError(f"{exe} exited with code {code}")
    if group.wait_until_empty(10):
        raise RuntimeError(f"{exe} left processes behind in the group")
    return seconds, text


# Each kind: whether its group starts full of cache, and what it times.
KINDS = {
    "run, free": (False, "run"),
    "run, reclaim": (True, "run"),
    "fill, free": (False, "fill"),
    "fill, reclaim": (True, "fill"),
    "forced reclaim": (True, "forced reclaim"),
}


def measure_once(kind, session, limit, percent, scratch):
    """One measurement of one kind in a fresh group: a dict of its figures."""
    full, timed = KINDS[kind]
    with memgroup.MemoryGroup(limit, prefix="trimbolt-bench-") as group:
        if full:
            group.fill_with_cache(scratch)
        before = group.snapshot()
        if timed == "forced reclaim":
            started = time.monotonic()
            group.forced_reclaim()
            seconds = time.monotonic() - started
        elif timed == "run":
            seconds, _ = start_in(group, session, whole_run.EXE, percent)
        else:
            _, out = start_in(group, session, whole_run.FILL_TIMER, percent)
            seconds = float(whole_run.facts(out)["fill_ms"]) / 1000
        after = group.snapshot()
    return {"seconds": seconds, "freed": after.free - before.free,
            "taken": before.cache - after.cache, "before": before, "after": after}


def measure(session, rounds, scratch):
    """{(percent, headroom): {kind: [figures of each round]}}, the kinds taking turns."""
    results = {}
    for percent in PERCENTS:
        block = winenv.block_size(percent)
        for headroom in HEADROOMS:
            case = results.setdefault((percent, headroom), {kind: [] for kind in KINDS})
            for round_number in range(rounds):
                names = list(KINDS)
                for turn in range(len(names)):
                    kind = names[(turn + round_number) % len(names)]
                    case[kind].append(measure_once(kind, session, block + headroom, percent,
                                                   scratch))
            print(f"{percent}% in a group of {(block + headroom) // MIB} MiB done",
                  file=sys.stderr)
    return results


def refused_to_nobody(path):
    """What an unprivileged user (nobody) is told when it asks for the write to `path`."""
    pid = os.fork()
    if pid == 0:
        code = 0
        try:
            os.setgroups([])
            os.setgid(NOBODY)
            os.setuid(NOBODY)
            with open(path, "w"):
                pass
        except OSError as error:
            code = error.errno
        os._exit(code)
    _, status = os.waitpid(pid, 0)
    code = os.waitstatus_to_exitcode(status)
    return f"refused: {os.strerror(code)}" if code else "ALLOWED"


def privilege_figures():
    top, files = memgroup.find_hierarchy()
    with memgroup.MemoryGroup(MIB, prefix="trimbolt-bench-") as group:
        group_reclaim = refused_to_nobody(os.path.join(group.path, files["reclaim"]))
    return {files["reclaim"]: group_reclaim,
            "/proc/sys/vm/drop_caches": refused_to_nobody("/proc/sys/vm/drop_caches")}


def median(values):
    return statistics.median(values)


def report(results, privileges):
    print("\nmedians over the rounds; a fresh group for every measurement; MiB = 2^20 bytes")
    print("\nWhat it frees, in a group full of page cache (free = the limit less the usage):\n")
    print("| run at | group | free before → after the run | freed ÷ block | cache taken ÷ block "
          "| forced reclaim: free after | in |")
    print("|---|---|---|---|---|---|---|")
    for (percent, headroom), kinds in results.items():
        block = winenv.block_size(percent)
        run = kinds["run, reclaim"]
        forced = kinds["forced reclaim"]
        print(f"| {percent}% ({block // MIB} MiB) | {(block + headroom) // MIB} MiB "
              f"| {median(r['before'].free for r in run) / MIB:.0f} → "
              f"{median(r['after'].free for r in run) / MIB:.0f} MiB "
              f"| {median(r['freed'] for r in run) / block:.3f} "
              f"| {median(r['taken'] for r in run) / block:.3f} "
              f"| {median(r['after'].free for r in forced) / MIB:.0f} MiB "
              f"| {median(r['seconds'] for r in forced) * 1000:.1f} ms |")
    print("\nWhat it costs in time: the whole run (start to exit, cues included) and the fill "
          "alone, on free memory and under reclaim:\n")
    print("| run at | group | run on free memory | run under reclaim | fill on free memory "
          "| fill under reclaim |")
    print("|---|---|---|---|---|---|")
    for (percent, headroom), kinds in results.items():
        block = winenv.block_size(percent)
        fills = [median(r["seconds"] for r in kinds[k]) for k in ("fill, free", "fill, reclaim")]
        print(f"| {percent}% ({block // MIB} MiB) | {(block + headroom) // MIB} MiB "
              f"| {median(r['seconds'] for r in kinds['run, free']):.3f} s "
              f"| {median(r['seconds'] for r in kinds['run, reclaim']):.3f} s "
              + " ".join(f"| {fill * 1000:.0f} ms ({block / fill / 1e9:.2f} GB/s)"
                         for fill in fills) + " |")
    print("\nspreads (min to max):")
    for (percent, headroom), kinds in results.items():
        block = winenv.block_size(percent)
        for kind, figures in kinds.items():
            seconds = [r["seconds"] for r in figures]
            freed = [r["freed"] / MIB for r in figures]
            print(f"  {percent}%, group {(block + headroom) // MIB} MiB, {kind}: "
                  f"{min(seconds):.3f} to {max(seconds):.3f} s, frees {min(freed):.0f} to "
                  f"{max(freed):.0f} MiB")
    print("\nthe privileged way, asked for by an unprivileged user (nobody):")
    for path, answer in privileges.items():
        print(f"  {path}: {answer}")
    print("Trimbolt64.exe needs no rights: it commits and writes memory of its own")


def record_run(session, limit, scratch):
    """One run at 1% in a group full of cache, sampled: (group samples, resident memory
    samples, audio, exit seconds), all on one clock."""
    with memgroup.MemoryGroup(limit, prefix="trimbolt-bench-") as group:
        group.fill_with_cache(scratch)
        sampler = GroupSampler(group)
        sampler.start()
        started = []
        try:
            code, elapsed, resident, audio = winenv.run_sampled(
                session, "1", session.pulse, launcher=group.launcher(), on_start=started.append)
            group.wait_until_empty(10)
            time.sleep(0.3)
        finally:
            sampler.stop()
    if code != 0:
        raise RuntimeError(f"the recorded run exited with code {code}")
    # From the start of the copy on, on the clock of the other samples.
    group_samples = [(t - started[0], s) for t, s in sampler.samples if t >= started[0]]
    return group_samples, resident, audio, elapsed


def draw(path, limit, recorded):
    import matplotlib
    matplotlib.use("Agg")
    import matplotlib.pyplot as plt

    group_samples, resident, audio, elapsed = recorded
    block = winenv.block_size(1)
    rise, fall = winenv.memory_steps(resident, block)
    cues = winenv.heard(audio)
    figure, axes = plt.subplots(figsize=(8, 4.2), dpi=100)
    times = [t for t, _ in group_samples]
    axes.plot(times, [s.cache / MIB for _, s in group_samples], label="page cache in the group",
              color="tab:blue")
    axes.plot(times, [s.free / MIB for _, s in group_samples], label="free in the group",
              color="tab:green")
    axes.plot([t for t, _ in resident], [rss / MIB for _, rss in resident],
              label="Trimbolt64.exe resident", color="tab:red")
    axes.axhline(limit / MIB, color="grey", linestyle=":", linewidth=1)
    axes.text(1.45, limit / MIB + 6, f"the group's limit, {limit / MIB:.0f} MiB", color="grey",
              fontsize=8)
    for (start, end), name in zip(cues, ("start cue", "close cue")):
        axes.axvspan(start, end, color="gold", alpha=0.3, linewidth=0)
        axes.text(start + 0.02, 8, name, fontsize=8)
    for at, name in ((rise, "commit"), (fall, "release")):
        if at is not None:
            axes.axvline(at, color="black", linestyle="--", linewidth=1)
            axes.text(at + 0.02, limit / MIB * 0.55, name, fontsize=8, rotation=90)
    axes.axvline(elapsed, color="grey", linestyle="-", linewidth=1)
    axes.text(elapsed + 0.02, limit / MIB * 0.55, "exit", fontsize=8, rotation=90, color="grey")
    axes.set_xlabel("seconds since the start")
    axes.set_ylabel("MiB")
    axes.set_ylim(0, limit / MIB * 1.12)
    axes.set_xlim(0, max(times[-1], elapsed + 0.3))
    axes.set_title(f"One run at 1% ({block // MIB} MiB) under Wine in a memory group full of "
                   "page cache", fontsize=10)
    axes.legend(loc="upper right", fontsize=8)
    figure.tight_layout()
    os.makedirs(os.path.dirname(path), exist_ok=True)
    figure.savefig(path, dpi=100)
    print(f"\npicture: {path} ({os.path.getsize(path) // 1024} KiB)")


def machine():
    with open("/proc/cpuinfo") as cpuinfo:
        model = next(line.split(":", 1)[1].strip() for line in cpuinfo
                     if line.startswith("model name"))
    top, files = memgroup.find_hierarchy()
    version = "v1" if files is memgroup.V1 else "v2"
    return (f"{model}, {os.cpu_count()} cores, {winenv.block_size(100) // MIB} MiB, "
            f"Linux {os.uname().release}, cgroup {version} ({top})")


def have_matplotlib():
    """Whether matplotlib imports. Debian's package serves Debian's own python3; under another
    one (a pyenv python3 first on the PATH, say), the script starts again under Debian's."""
    try:
        import matplotlib  # noqa: F401
        return True
    except ImportError:
        pass
    debian = "/usr/bin/python3"
    if os.path.exists(debian) and os.path.realpath(sys.executable) != os.path.realpath(debian):
        print(f"matplotlib is not there for {sys.executable}: starting again under {debian}",
              file=sys.stderr)
        os.execv(debian, [debian, os.path.abspath(__file__), *sys.argv[1:]])
    print("matplotlib does not import, even after scripts/install-deps.sh bench", file=sys.stderr)
    return False


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n", 1)[0])
    parser.add_argument("--rounds", type=int, default=5, help="rounds of each kind (at least 3)")
    parser.add_argument("--picture", default=PICTURE, help="where to write the picture")
    parser.add_argument("--only-picture", action="store_true",
                        help="record and draw the one run, and measure nothing else")
    arguments = parser.parse_args()
    if os.geteuid() != 0:
        print("bench/effect.py must run as root: it makes memory control groups (and shows that "
              "the privileged way of freeing memory needs root). Run it with sudo.",
              file=sys.stderr)
        return 2
    why = memgroup.unavailable()
    if why:
        print(f"bench/effect.py cannot make a memory group here: {why}", file=sys.stderr)
        return 2
    subprocess.run([os.path.join(ROOT, "scripts", "install-deps.sh"), "bench"], check=True)
    if not have_matplotlib():
        return 1
    whole_run.build()
    if prepare_prefix.main() != 0:
        return 1
    scratch = memgroup.disk_backed(whole_run.HELPERS, "/var/tmp")
    rounds = max(arguments.rounds, 3)
    print(f"machine: {machine()}")
    privileges = privilege_figures()
    smallest = winenv.block_size(1) + HEADROOMS[0]
    with winenv.WineSession(sound=True) as session:
        results = None if arguments.only_picture else measure(session, rounds, scratch)
        recorded = record_run(session, smallest, scratch)
    if results is not None:
        report(results, privileges)
    draw(arguments.picture, smallest, recorded)
    return 0


if __name__ == "__main__":
    sys.exit(main())
