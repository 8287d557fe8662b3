"""What the end-to-end tests need to run Trimbolt64.exe under Wine, started and stopped here.

A test opens a WineSession: its own Xvfb display, the shared private Wine prefix of this build
(prepared once by prepare_prefix.py), and optionally its own PulseAudio server with a null sink.
Closing the session stops exactly what it started: its Xvfb and PulseAudio by process id, and
the prefix's wineserver by `wineserver -k` for that prefix. Only local sockets are used.

Every Windows process a session starts runs with its writable memory mappings above 3% of the
machine refused (commitlimit.py): a run that misread its percentage would otherwise claim half
the machine, the default, where a test may take 2% at most. Such a fault shows as a run that
claims nothing instead.
"""

import fcntl
import math
import os
import re
import shutil
import signal
import struct
import subprocess
import tempfile
import threading
import time

import commitlimit

EXE = os.environ.get("TRIMBOLT_EXE", "")
TOOL = os.environ.get("TRIMBOLT_TOOL", "")
PREFIX = os.environ.get("TRIMBOLT_WINEPREFIX", "")
MIB = 1048576
CLIP_SECONDS = 8610 / 11025


def base_env():
    env = dict(os.environ)
    env.update(
        {
            "WINEPREFIX": PREFIX,
            "WINEARCH": "win64",
            "WINEDEBUG": "-all",
            # No installer prompts for Mono or Gecko, and no menu entries or file associations
            # written into the user's own desktop folders for what is installed in the prefix.
            "WINEDLLOVERRIDES": "mscoree,mshtml=;winemenubuilder.exe=d",
        }
    )
    # No sound server unless the session starts one.
    env.pop("PULSE_SERVER", None)
    return env


def total_memory():
    """The machine's memory in bytes, as Wine reports it to Windows programs."""
    with open("/proc/meminfo") as meminfo:
        return int(re.search(r"MemTotal:\s+(\d+) kB", meminfo.read()).group(1)) * 1024


def block_size(percent, total=None):
    """The block the program commits at `percent` of `total` bytes (this machine's memory when
    not given): whole mebibytes, each step truncated in double precision."""
    total_mib = int((total if total is not None else total_memory()) / MIB)
    return int(total_mib * (percent / 100.0)) * MIB


# The largest writable mapping a process started by a session may make.
COMMIT_LIMIT = total_memory() * 3 // 100


def start_xvfb():
    read_end, write_end = os.pipe()
    xvfb = subprocess.Popen(
        ["Xvfb", "-displayfd", str(write_end), "-nolisten", "tcp", "-screen", "0", "1280x1024x24"],
        pass_fds=(write_end,),
        stdout=subprocess.DEVNULL,
        stderr=subprocess.DEVNULL,
    )
    os.close(write_end)
    with os.fdopen(read_end) as pipe:
        display = pipe.readline().strip()
    if not display:
        xvfb.kill()
        raise RuntimeError("Xvfb did not start")
    return xvfb, ":" + display


def stop(process):
    if process is not None and process.poll() is None:
        process.send_signal(signal.SIGTERM)
        try:
            process.wait(timeout=5)
        except subprocess.TimeoutExpired:
            process.kill()
            process.wait()


class PulseAudio:
    """A private PulseAudio server whose default sink is a null sink, recorded from its monitor."""

    def __init__(self):
        self.dir = tempfile.mkdtemp(prefix="trimbolt-pulse-")
        self.socket = os.path.join(self.dir, "native")
        env = dict(os.environ)
        env.update({"XDG_RUNTIME_DIR": self.dir, "HOME": self.dir, "PULSE_RUNTIME_PATH": self.dir})
        self.env = env
        self.server = subprocess.Popen(
            [
                "pulseaudio", "--daemonize=no", "--exit-idle-time=-1", "--disable-shm=yes",
                "--use-pid-file=no", "--system=false", "-n", "--log-target=stderr",
                "--load=module-native-protocol-unix socket=" + self.socket + " auth-anonymous=1",
                "--load=module-null-sink sink_name=trimbolt_null rate=44100",
                "--load=module-always-sink",
            ],
            env=env,
            stdout=subprocess.DEVNULL,
            stderr=subprocess.DEVNULL,
        )
        self.recorder = None
        try:
            deadline = time.monotonic() + 10
            while not os.path.exists(self.socket):
                if self.server.poll() is not None or time.monotonic() > deadline:
                    raise RuntimeError("PulseAudio did not start")
                time.sleep(0.05)
            subprocess.run(["pactl", "-s", self.server_address(), "set-default-sink",
                            "trimbolt_null"], check=True, env=env, stdout=subprocess.DEVNULL)
        except BaseException:
            self.close()
            raise
        self.recording = os.path.join(self.dir, "monitor.raw")

    def server_address(self):
        return "unix:" + self.socket

    def start_recording(self):
        """Records the null sink's monitor as mono signed 16-bit samples at 8,000 Hz, and works
        out when the first sample was taken from how much has arrived by when."""
        self.recorder = subprocess.Popen(
            ["parec", "-s", self.server_address(), "-d", "trimbolt_null.monitor",
             "--format=s16le", "--rate=8000", "--channels=1", "--latency-msec=10",
             "--raw", self.recording],
            env=self.env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
        )
        deadline = time.monotonic() + 10
        while True:
            size = os.path.getsize(self.recording) if os.path.exists(self.recording) else 0
            now = time.monotonic()
            if size >= 1600 or now > deadline:  # a tenth of a second in
                break
            time.sleep(0.002)
        if size == 0:
            raise RuntimeError("parec records nothing")
        self.capture_started = now - size / 16000

    def stop_recording(self):
        """Stops recording; returns (raw audio, monotonic time of its first sample)."""
        stop(self.recorder)
        with open(self.recording, "rb") as raw:
            return raw.read(), self.capture_started

    def close(self):
        stop(self.recorder)
        stop(self.server)
        shutil.rmtree(self.dir, ignore_errors=True)


class WineSession:
    def __init__(self, sound=False, exe=None):
        """`exe` is the program that start() runs: the built exe unless given (a path as Wine
        takes it, a Windows path such as an installed copy's, say)."""
        self.sound = sound
        self.exe = exe or EXE

    def __enter__(self):
        if not PREFIX or not os.path.isdir(PREFIX):
            raise RuntimeError("the Wine prefix has not been prepared: " + PREFIX)
        # One session at a time in a prefix, across processes too: they would share its
        # wineserver, and with it the program's guard.
        self.lock = open(os.path.join(PREFIX, ".trimbolt-session.lock"), "w")
        fcntl.flock(self.lock, fcntl.LOCK_EX)
        self.xvfb = None
        self.pulse = None
        self.started = []
        self.env = base_env()
        try:
            self._start()
        except BaseException:
            self.__exit__(None, None, None)
            raise
        return self

    def _start(self):
        self.xvfb, display = start_xvfb()
        self.env["DISPLAY"] = display
        if self.sound:
            self.pulse = PulseAudio()
            self.env["PULSE_SERVER"] = self.pulse.server_address()
        else:
            # Nowhere to play: no server and none to autospawn.
            self.env["PULSE_SERVER"] = "unix:/nonexistent/trimbolt-no-sound"
        # A wineserver of this prefix still running now was left by a session that died; the
        # lock says nobody uses it.
        subprocess.run(["wineserver", "-k"], env=self.env, stderr=subprocess.DEVNULL)
        # One wineserver for the whole session, kept alive between processes: every process then
        # starts in a fraction of a second instead of booting a new Wine session, and the guard
        # of one copy is seen by the next.
        subprocess.run(["wineserver", "-p"], env=self.env, check=True)
        subprocess.run(["wine", "cmd", "/c", "exit"], env=self.env, timeout=120,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    def __exit__(self, *exc):
        for process in self.started:
            if process.poll() is None:
                process.kill()
        subprocess.run(["wineserver", "-k"], env=self.env, stderr=subprocess.DEVNULL)
        for process in self.started:
            try:
                process.wait(timeout=10)
            except subprocess.TimeoutExpired:
                pass
        if self.pulse is not None:
            self.pulse.close()
        stop(self.xvfb)
        self.lock.close()
        return False

    def wine(self, *args, commit_limit=COMMIT_LIMIT, env=None, stdout=subprocess.DEVNULL,
             launcher=()):
        """Starts `wine` with the given arguments, under the session's commit limit (or a lower
        one); returns the process. `env` adds to the session's environment; a launcher (words put
        before the command, as MemoryGroup.launcher gives) runs it inside something."""
        process = subprocess.Popen(
            [*launcher, *commitlimit.command(min(commit_limit, COMMIT_LIMIT), ["wine", *args])],
            env={**self.env, **(env or {})}, stdout=stdout, stderr=subprocess.DEVNULL)
        self.started.append(process)
        return process

    def start(self, *args, exe=None, **options):
        """Starts Trimbolt64.exe (the session's, or the given build of it) with the given
        arguments; returns the `wine` process. The options are those of wine()."""
        return self.wine(exe or self.exe, *args, **options)

    def tool(self, *args, timeout=60):
        """Runs the Windows-side test tool and returns its facts: key -> list of values."""
        return parse(self.tool_async(*args), timeout)

    def tool_async(self, *args):
        return self.wine(TOOL, *args, stdout=subprocess.PIPE)

    def linux_pids(self):
        """The Linux processes of this prefix that run Trimbolt64.exe."""
        pids = []
        for entry in os.listdir("/proc"):
            if not entry.isdigit():
                continue
            try:
                with open(f"/proc/{entry}/cmdline", "rb") as f:
                    cmdline = f.read()
                # The process runs the exe itself: it starts its command line (which may run on
                # into characters that Wine does not split at).
                if b"trimbolt64.exe" not in cmdline.split(b"\0", 1)[0].lower():
                    continue
                with open(f"/proc/{entry}/environ", "rb") as f:
                    environ = f.read().split(b"\0")
            except OSError:
                continue
            if ("WINEPREFIX=" + PREFIX).encode() in environ:
                pids.append(int(entry))
        return pids


def parse(process, timeout=60):
    """The facts a running test tool prints, once it has ended: key -> list of values."""
    out, _ = process.communicate(timeout=timeout)
    facts = {}
    for line in out.decode("utf-8", "replace").splitlines():
        key, sep, value = line.partition("=")
        if sep:
            facts.setdefault(key.strip(), []).append(value.rstrip("\r"))
    return facts


class RssSampler(threading.Thread):
    """Samples the resident memory of a Linux process every few milliseconds until it ends."""

    def __init__(self, pid, interval=0.005):
        super().__init__(daemon=True)
        self.pid = pid
        self.interval = interval
        self.samples = []  # (seconds, resident bytes)

    def run(self):
        start = time.monotonic()
        while True:
            try:
                with open(f"/proc/{self.pid}/status") as status:
                    text = status.read()
            except OSError:
                return
            match = re.search(r"VmRSS:\s+(\d+) kB", text)
            if match is None:  # a zombie has no memory left to report
                return
            self.samples.append((time.monotonic() - start, int(match.group(1)) * 1024))
            time.sleep(self.interval)


def wait_for_linux_pid(session, timeout=20):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        pids = session.linux_pids()
        if pids:
            return pids[0]
        time.sleep(0.005)
    raise AssertionError("Trimbolt64.exe did not appear as a process")


def x_window_icon(session, title):
    """The _NET_WM_ICON that Wine gave the X window of the Windows window titled `title`:
    (width, height, [ARGB pixels, top row first]), or None."""
    tree = subprocess.run(["xwininfo", "-root", "-tree"], env=session.env, capture_output=True,
                          text=True, check=True).stdout
    for line in tree.splitlines():
        fields = line.split()
        if len(fields) > 1 and fields[1] == f'"{title}":':
            prop = subprocess.run(["xprop", "-id", fields[0], "-notype", "32c", "_NET_WM_ICON"],
                                  env=session.env, capture_output=True, text=True).stdout
            if "=" not in prop:
                return None
            values = [int(v) for v in prop.split("=", 1)[1].replace("\n", " ").split(",")
                      if v.strip()]
            return values[0], values[1], values[2:2 + values[0] * values[1]]
    return None


class SampledRun:
    """One copy started in a session, its resident memory sampled and, given a sound server
    (`pulse`), that server's output recorded from the start; all times are seconds since the copy
    was started. `on_start`, given one, is told that moment (a time.monotonic() value), so that
    samples taken elsewhere can be put on the same clock. The other options are those of
    WineSession.start."""

    def __init__(self, session, *args, pulse=None, on_start=None, **options):
        self.pulse = pulse
        if pulse is not None:
            pulse.start_recording()
        self.started = time.monotonic()
        if on_start is not None:
            on_start(self.started)
        self.process = session.start(*args, **options)
        self.sampler = RssSampler(wait_for_linux_pid(session))
        self.sampler_started = time.monotonic() - self.started
        self.sampler.start()

    def wait(self, timeout=60):
        """Waits for the exit; returns (exit code, seconds since start)."""
        code = self.process.wait(timeout=timeout)
        return code, time.monotonic() - self.started

    def finish(self):
        """After the exit: ([(seconds, resident bytes)], audio), audio being (raw recording,
        seconds from the start to its first sample) or None without a sound server."""
        self.sampler.join(timeout=10)
        samples = [(t + self.sampler_started, rss) for t, rss in self.sampler.samples]
        audio = None
        if self.pulse is not None:
            time.sleep(0.3)  # the tail of the last cue still in the server's buffers
            raw, capture_started = self.pulse.stop_recording()
            audio = (raw, capture_started - self.started)
        return samples, audio


def run_sampled(session, percent, pulse=None, launcher=(), on_start=None):
    """Runs one copy to its end as SampledRun does. Returns (exit code, seconds from start to
    exit, [(seconds, bytes)], audio)."""
    run = SampledRun(session, percent, pulse=pulse, on_start=on_start, launcher=launcher)
    code, elapsed = run.wait()
    samples, audio = run.finish()
    return code, elapsed, samples, audio


def memory_steps(samples, block):
    """When resident memory rose by most of `block` and when it fell back: (rise, fall) in the
    samples' seconds, or None for a step that did not happen."""
    if not samples:
        return None, None
    peak = max(range(len(samples)), key=lambda i: samples[i][1])
    base = min(rss for _, rss in samples[:peak + 1])
    rise = next((t for t, rss in samples if rss >= base + 0.5 * block), None)
    fall = next((t for t, rss in samples[peak:] if rss <= samples[peak][1] - 0.5 * block), None)
    return rise, fall


def heard(audio):
    """The stretches of sound in the recording that run_sampled returns, on its clock."""
    raw, offset = audio
    return [(start + offset, end + offset) for start, end in bursts(raw)]


def order_faults(elapsed, samples, audio, block, latency=0.25):
    """What is out of order in a run recorded by run_sampled: each cue must last about a clip,
    the start cue must end before the commit (give or take `latency`, what Wine and the sound
    server may add to a cue), the close cue must follow the release and end by the exit, the
    hold must last about a second and the run at least its designed waits. [] when none is."""
    rise, fall = memory_steps(samples, block)
    if rise is None or fall is None:
        return [f"resident memory never rose by the block and fell back (rise {rise}, fall {fall})"]
    cues = heard(audio)
    if len(cues) != 2:
        return [f"bursts of sound at {cues}, not two"]
    (first_start, first_end), (second_start, second_end) = cues
    steps = f"cues {cues}, commit at {rise:.3f}, release at {fall:.3f}, exit at {elapsed:.3f}"
    checks = [
        (all(abs(end - start - CLIP_SECONDS) <= 0.15 for start, end in cues),
         "a cue is not a clip long"),
        (first_start < rise and first_end < rise + latency, "the start cue is not before the commit"),
        # The close cue follows the release at once; the margin covers the sampling of both clocks.
        (second_start > fall - 0.05, "the close cue is not after the release"),
        (second_end < elapsed + latency, "the close cue ran past the exit"),
        (fall - rise > 0.9, "the hold is shorter than a second"),
        # The tick a second after arming (the start cue lies within it), the hold, the close cue;
        # Wine's start-up and the fill come on top.
        (1.0 + 1.0 + CLIP_SECONDS <= elapsed < 20, "the run's length is off its designed waits"),
    ]
    return [f"{fault}: {steps}" for ok, fault in checks if not ok]


def bursts(raw, rate=8000, window=0.01, gap=0.08):
    """The stretches of sound in mono signed 16-bit audio: [(start, end)] in seconds."""
    samples = struct.unpack(f"<{len(raw) // 2}h", raw[:len(raw) // 2 * 2])
    step = int(rate * window)
    levels = []
    for i in range(0, len(samples) - step + 1, step):
        chunk = samples[i:i + step]
        levels.append(math.sqrt(sum(s * s for s in chunk) / step))
    if not levels or max(levels) == 0:
        return []
    threshold = max(levels) * 0.01
    found = []
    for i, level in enumerate(levels):
        if level <= threshold:
            continue
        start, end = i * window, (i + 1) * window
        if found and start - found[-1][1] <= gap:
            found[-1] = (found[-1][0], end)
        else:
            found.append((start, end))
    return found


def windows_path(path):
    """The path of a Linux file as Wine's Z: drive shows it."""
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def spawn_sampled(session, command_line, timeout_ms=60000, program=None):
    """Starts `program` (the exe when not given, or a Windows path such as cmd.exe's) through the
    test tool with exactly `command_line` (program path first), sampling the memory of the
    Trimbolt64.exe it runs. Returns (exit code text, [(seconds, bytes)])."""
    with tempfile.NamedTemporaryFile("w", encoding="utf-8", suffix=".txt", delete=False) as f:
        f.write(command_line)
    try:
        tool = session.tool_async("spawn", program or windows_path(EXE), windows_path(f.name),
                                  str(timeout_ms))
        return sampled_tool_run(session, tool)
    finally:
        os.unlink(f.name)


def sampled_tool_run(session, tool):
    """Samples the memory of the Trimbolt64.exe that a running test tool starts, until the tool
    ends. Returns (the exit code the tool reports, [(seconds, bytes)])."""
    sampler = RssSampler(wait_for_linux_pid(session))
    sampler.start()
    facts = parse(tool)
    sampler.join(timeout=10)
    return facts.get("exit", ["none"])[0], sampler.samples


def count_rises(samples, block):
    """How many times resident memory climbed by most of `block` above its lowest point so far."""
    rises = 0
    low = None
    up = False
    for _, rss in samples:
        low = rss if low is None or (not up and rss < low) else low
        if not up and rss >= low + 0.5 * block:
            rises += 1
            up = True
        elif up and rss <= low + 0.2 * block:
            up = False
            low = rss
    return rises


def peak_rise(samples):
    """The largest climb of resident memory above the lowest point before it, in bytes."""
    best = 0
    low = None
    for _, rss in samples:
        low = rss if low is None else min(low, rss)
        best = max(best, rss - low)
    return best
