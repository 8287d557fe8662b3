"""A memory control group of the test's own, to watch what a run takes from the page cache.

A MemoryGroup is a fresh group with a memory limit, made under the top of the machine's memory
hierarchy: cgroup v1's memory controller where it is mounted, else cgroup v2 where its root hands
the memory controller on to its children. Processes started through its launcher run inside it
(and their children with them); the page cache that they read in is charged to it, and when the
group reaches its limit the kernel reclaims that cache to make room, as Windows takes pages from
its standby list. Leaving the group moves any process still in it back to the top and removes
it, whatever happened inside. Needs root.
"""

import errno
import os
import subprocess
import tempfile
import time

V1 = {
    "limit": "memory.limit_in_bytes",
    "usage": "memory.usage_in_bytes",
    "cache": "cache",
    "anon": "rss",
    "reclaim": "memory.force_empty",
    "no_swap": ("memory.swappiness", "0"),
}
V2 = {
    "limit": "memory.max",
    "usage": "memory.current",
    "cache": "file",
    "anon": "anon",
    "reclaim": "memory.reclaim",
    "no_swap": ("memory.swap.max", "0"),
}
MEMORYLESS_FILE_SYSTEMS = {"tmpfs", "ramfs", "devtmpfs"}  # their "cache" cannot be reclaimed


def mounts():
    """(mount point, file system type, super options) of every mount, from /proc/self/mountinfo."""
    found = []
    with open("/proc/self/mountinfo") as mountinfo:
        for line in mountinfo:
            fields = line.split()
            tail = fields[fields.index("-") + 1:]
            found.append((fields[4].replace("\\040", " "), tail[0], tail[2].split(",")))
    return found


def find_hierarchy():
    """(top of the memory hierarchy, its file names) or (None, why not)."""
    for point, kind, options in mounts():
        if kind == "cgroup" and "memory" in options:
            return point, V1
    for point, kind, _ in mounts():
        if kind != "cgroup2":
            continue
        try:
            with open(os.path.join(point, "cgroup.subtree_control")) as control:
                if "memory" in control.read().split():
                    return point, V2
        except OSError:
            continue
    return None, "no cgroup v1 memory hierarchy, and no cgroup v2 root that enables memory"


def unavailable():
    """Why a MemoryGroup cannot be made here, or None when it can."""
    if os.geteuid() != 0:
        return "memory groups need root"
    top, files = find_hierarchy()
    return files if top is None else None


def file_system_type(path):
    """The type of the file system that holds `path` (the mount with the longest matching
    mount point)."""
    path = os.path.realpath(path)
    best, kind = "", ""
    for point, fs_type, _ in mounts():
        inside = path == point or path.startswith(point.rstrip("/") + "/")
        if inside and len(point) >= len(best):
            best, kind = point, fs_type
    return kind


def disk_backed(*candidates):
    """The first of the folders whose files live on a disk, so that their page cache can be
    dropped and read in again."""
    for folder in candidates:
        if folder and os.path.isdir(folder) and \
                file_system_type(folder) not in MEMORYLESS_FILE_SYSTEMS:
            return folder
    raise RuntimeError(f"none of {candidates} is on a disk-backed file system")


class Snapshot:
    """The group's figures at one moment, in bytes."""

    def __init__(self, limit, usage, cache, anon):
        self.limit = limit
        self.usage = usage
        self.cache = cache
        self.anon = anon

    @property
    def free(self):
        """What the limit leaves the group's processes: the free memory inside the group."""
        return max(self.limit - self.usage, 0)


class MemoryGroup:
    def __init__(self, limit, prefix="trimbolt-test-"):
        self.limit = limit
        self.prefix = prefix
        self.path = None
        self.cache_file = None

    def __enter__(self):
        why = unavailable()
        if why:
            raise RuntimeError(why)
        self.top, self.files = find_hierarchy()
        self.path = tempfile.mkdtemp(prefix=f"{self.prefix}{os.getpid()}-", dir=self.top)
        try:
            self._write(self.files["limit"], str(self.limit))
            # Where the machine swaps, the limit could also push anonymous memory out; with
            # swapping off for the group, only its cache gives way.
            name, value = self.files["no_swap"]
            if os.path.exists(os.path.join(self.path, name)):
                self._write(name, value)
        except BaseException:
            self.__exit__(None, None, None)
            raise
        return self

    def __exit__(self, *exc):
        if self.cache_file is not None:
            # Gone with the file: the cache it had in the group.
            try:
                os.unlink(self.cache_file)
            except FileNotFoundError:
                pass
            self.cache_file = None
        if self.path is not None:
            self._remove()
            self.path = None
        return False

    def _remove(self):
        deadline = time.monotonic() + 10
        while True:
            for pid in self.pids():
                try:
                    with open(os.path.join(self.top, "cgroup.procs"), "w") as procs:
                        procs.write(str(pid))
                except OSError:  # ended meanwhile
                    pass
            try:
                os.rmdir(self.path)
                return
            except OSError as error:
                # Busy while a process that was in it is still being torn down.
                if error.errno != errno.EBUSY or time.monotonic() > deadline:
                    raise
                time.sleep(0.05)

    def _write(self, name, value):
        with open(os.path.join(self.path, name), "w") as control:
            control.write(value)

    def _read(self, name):
        with open(os.path.join(self.path, name)) as control:
            return control.read()

    def pids(self):
        return [int(pid) for pid in self._read("cgroup.procs").split()]

    def wait_until_empty(self, timeout):
        """Waits for every process in the group to end; returns those still there after
        `timeout` seconds."""
        deadline = time.monotonic() + timeout
        while self.pids() and time.monotonic() < deadline:
            time.sleep(0.02)
        return self.pids()

    def launcher(self):
        """The words to put before a command so that it runs inside the group: a shell that
        moves itself in and then becomes the command, so that everything the command allocates,
        from its first page on, is charged here."""
        return ["sh", "-c", 'echo $$ > "$0" && exec "$@"', os.path.join(self.path, "cgroup.procs")]

    def snapshot(self):
        stat = {}
        for line in self._read("memory.stat").splitlines():
            key, value = line.split()
            stat[key] = int(value)
        return Snapshot(self.limit, int(self._read(self.files["usage"])),
                        stat[self.files["cache"]], stat[self.files["anon"]])

    def fill_with_cache(self, folder, size=None):
        """Fills the group with page cache: reads a sparse file as large as the limit (or `size`)
        from inside the group. The file stays, keeping its cache, until the group is left."""
        handle, self.cache_file = tempfile.mkstemp(prefix=f"{self.prefix}{os.getpid()}-",
                                                   suffix=".sparse", dir=folder)
        os.ftruncate(handle, self.limit if size is None else size)
        os.close(handle)
        subprocess.run([*self.launcher(), "cat", self.cache_file], check=True,
                       stdout=subprocess.DEVNULL)

    def forced_reclaim(self):
        """The privileged way to free the group's memory: the kernel's own forced reclaim of the
        group (force_empty on v1, memory.reclaim of all it holds on v2)."""
        value = "0" if self.files is V1 else str(self.snapshot().usage)
        try:
            self._write(self.files["reclaim"], value)
        except OSError as error:
            # v2 says EAGAIN when it could not reclaim the whole amount asked for.
            if error.errno != errno.EAGAIN:
                raise
