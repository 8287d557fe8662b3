"""What a run of Trimbolt64.exe frees, under Wine: run inside a memory group that page cache has
filled to its limit, it must take the block from that cache and leave the block free after it.

Under Wine the block is ordinary memory of a Linux process. When the group's limit is reached,
the kernel reclaims the group's page cache to back the block's pages, as Windows takes pages
from its standby list; after the decommit those pages stay free.

The process that runs the exe starts inside the group, and so does Wine's desktop process
(explorer.exe /desktop), which the exe's first window starts and which ends on its own soon
after the exe. The session's wineserver and Wine's services were started before, outside the
group, and the Wine libraries they loaded stay charged where they were first read. So the group
holds the cache that the test read in and, during the run, the block and the private memory of
those two Wine processes (14 MiB here).
"""

import os
import sys
import unittest

sys.path.insert(0, os.path.dirname(__file__))
import memgroup  # noqa: E402
import winenv  # noqa: E402
from winenv import MIB, WineSession  # noqa: E402

PERCENT = "1"
# Room in the group beyond the block: the private memory of Wine's processes in the group
# (their heaps, stacks and the DLL pages they write: 14 MiB here) and cache that is left over
# after the run, so that the cache could have given more than it did. Kept within 2% of the
# machine altogether.
HEADROOM = 160 * MIB
# What the run may take beyond the block: Wine's own memory in the group and what the kernel's
# reclaim takes ahead of need, as it frees pages in batches. Measured here: 15 to 18 MiB.
WINE_ALLOWANCE = 64 * MIB


def group_limit(block):
    return min(block + HEADROOM, winenv.block_size(2))


class FreesTest(unittest.TestCase):
    def test_a_run_in_a_group_full_of_page_cache_takes_the_block_from_it_and_leaves_it_free(self):
        why = memgroup.unavailable()
        if why:
            self.fail(f"this test needs a memory group: {why}")
        block = winenv.block_size(int(PERCENT))
        limit = group_limit(block)
        self.assertGreaterEqual(limit - block, 48 * MIB, "the machine is too small for the group")
        scratch = memgroup.disk_backed(os.path.dirname(winenv.PREFIX), "/var/tmp")
        with WineSession(sound=True) as session, memgroup.MemoryGroup(limit) as group:
            group.fill_with_cache(scratch)
            before = group.snapshot()
            code, elapsed, samples, audio = winenv.run_sampled(
                session, PERCENT, session.pulse, launcher=group.launcher())
            # Wine's desktop process, started by the exe for its windows, ends on its own
            # within a second or so of the exe.
            left = group.wait_until_empty(10)
            after = group.snapshot()

        self.assertEqual(code, 0)
        self.assertEqual(left, [], "the run left processes in the group")
        mib = f"block {block / MIB:.1f} MiB, before: free {before.free / MIB:.1f} MiB, cache " \
              f"{before.cache / MIB:.1f} MiB; after: free {after.free / MIB:.1f} MiB, cache " \
              f"{after.cache / MIB:.1f} MiB"
        # The group starts full of cache, with too little free for the block and cache enough
        # for all of it: whatever is free afterwards, the run made free.
        self.assertLess(before.free, block / 8, mib)
        self.assertGreater(before.cache, block + WINE_ALLOWANCE, mib)
        # The block's pages could come only from the group's free memory and its cache: the
        # cache fell by at least the block less what was free, and by not much more than it.
        taken = before.cache - after.cache
        self.assertGreaterEqual(taken, block - before.free, mib)
        self.assertLessEqual(taken, block + WINE_ALLOWANCE, mib)
        # With the block decommitted and the process gone, what it held is free again, and
        # nothing has read the cache back in: at least the block is free.
        self.assertGreaterEqual(after.free, block, mib)
        # The order of the run is that of a run on free memory.
        self.assertEqual(winenv.order_faults(elapsed, samples, audio, block), [])


if __name__ == "__main__":
    unittest.main()
