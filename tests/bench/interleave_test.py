#!/usr/bin/env python3
"""bench/interleave.py runs two commands in turns, never together, and counts
each one's active seconds; a failed command fails it.

    interleave_test.py PATH/TO/interleave.py
"""

import os
import subprocess
import sys
import tempfile
import time

# Spins until it has run for PROGRESS seconds of its own, and writes every
# stretch it ran without a break of 5 ms or more as "start end" (monotonic).
TICKER = """
import sys, time
out, progress = open(sys.argv[1], "w"), float(sys.argv[2])
start = last = time.monotonic()
done = 0.0
while done < progress:
    now = time.monotonic()
    if now - last >= 0.005:
        out.write("%f %f\\n" % (start, last))
        done += last - start
        start = now
    last = now
out.write("%f %f\\n" % (start, last))
"""


def stretches(path):
    with open(path) as f:
        return [tuple(float(v) for v in line.split()) for line in f]


def main():
    interleave = sys.argv[1]
    with tempfile.TemporaryDirectory() as work:
        ticks = [os.path.join(work, name) for name in ("a", "b")]
        out = os.path.join(work, "active")
        began = time.monotonic()
        subprocess.run([sys.executable, interleave, "0.2", out,
                        "--", work, sys.executable, "-c", TICKER, ticks[0], "0.6",
                        "--", work, sys.executable, "-c", TICKER, ticks[1], "0.4"], check=True)
        wall = time.monotonic() - began
        with open(out) as f:
            active = [float(v) for v in f.read().split()]
        a, b = stretches(ticks[0]), stretches(ticks[1])
        # Never together: a stretch of one may overlap the other's by no more
        # than the few milliseconds a stop signal takes.
        overlap = sum(max(0.0, min(e1, e2) - max(s1, s2)) for s1, e1 in a for s2, e2 in b)
        assert overlap < 0.02, "the commands ran together for %.3f s" % overlap
        assert len(a) > 1 and len(b) > 1, "no turns were taken"
        # Each ran at least its own progress, and the turns fill the run.
        assert active[0] >= 0.6 and active[1] >= 0.4, active
        assert 0.6 * wall <= sum(active) <= wall, (active, wall)
        failed = subprocess.run([sys.executable, interleave, "0.2", out,
                                 "--", work, "true", "--", work, "sh", "-c", "exit 3"],
                                stdout=subprocess.DEVNULL)
        assert failed.returncode == 1, failed.returncode
    print("interleave: turns taken, never together, active %.2f s and %.2f s" % tuple(active))


if __name__ == "__main__":
    main()
