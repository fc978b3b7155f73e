#!/usr/bin/env python3
"""Runs two commands at the same time but never together: in turns of a fixed slice.

    interleave.py SLICE OUT -- DIR1 COMMAND1... -- DIR2 COMMAND2...

Each command starts stopped, in its own process group, in its folder DIR.
Then they take turns: one runs for SLICE seconds while the other is stopped
(SIGSTOP to its whole group), until one has ended; the other then runs on to
its end. OUT gets each command's active time: the seconds of the slices it
ran, up to its exit.

What this is for: on a machine shared with other work, two runs one after
the other meet different load, and a load that lasts through one of them
moves their ratio. In turns of half a second both meet every load that lasts
longer than a few slices alike, so their ratio of active times stays what it
is on an idle machine. A stopped client's server may still finish the
statement in flight during the other's slice; that costs both sides alike.

Exit code 0 when both commands ended with 0, else 1. Standard library only.
"""

import os
import select
import signal
import subprocess
import sys
import time

# Stops itself before running the command, so that no instruction of it runs
# before its first turn.
START_STOPPED = 'kill -STOP $$; cd "$1" && shift && exec "$@"'


def commands(words):
    """The two commands of ARGV after the first "--": (folder, command) each."""
    groups, current = [], None
    for word in words:
        if word == "--":
            current = []
            groups.append(current)
        elif current is None:
            sys.exit("interleave.py: the commands begin with --")
        else:
            current.append(word)
    if len(groups) != 2 or any(len(g) < 2 for g in groups):
        sys.exit("interleave.py: needs -- DIR COMMAND... -- DIR COMMAND...")
    return [(g[0], g[1:]) for g in groups]


def start(folder, command):
    process = subprocess.Popen(["sh", "-c", START_STOPPED, "sh", folder] + command,
                               start_new_session=True, stdout=subprocess.DEVNULL)
    # Wait until it has stopped itself.
    os.waitid(os.P_PID, process.pid, os.WSTOPPED | os.WNOWAIT)
    return process


def run_turn(process, pidfd, seconds):
    """Lets PROCESS run for SECONDS (None: to its end). Returns the seconds it
    ran and whether it ended."""
    began = time.monotonic()
    os.killpg(process.pid, signal.SIGCONT)
    poller = select.poll()
    poller.register(pidfd, select.POLLIN)
    ended = bool(poller.poll(None if seconds is None else int(seconds * 1000)))
    if not ended:
        os.killpg(process.pid, signal.SIGSTOP)
    return time.monotonic() - began, ended


def main():
    if len(sys.argv) < 4:
        sys.exit(__doc__.split("\n\n")[1])
    slice_seconds = float(sys.argv[1])
    out = sys.argv[2]
    processes = [start(folder, command) for folder, command in commands(sys.argv[3:])]
    pidfds = [os.pidfd_open(p.pid) for p in processes]
    active = [0.0, 0.0]
    running = [True, True]
    turn = 0
    while any(running):
        if not running[turn]:
            turn = 1 - turn
        alone = not running[1 - turn]
        seconds, ended = run_turn(processes[turn], pidfds[turn],
                                  None if alone else slice_seconds)
        active[turn] += seconds
        if ended:
            running[turn] = False
        turn = 1 - turn
    codes = [p.wait() for p in processes]
    with open(out, "w") as f:
        f.write("%.3f %.3f\n" % tuple(active))
    print("active seconds %.2f and %.2f, exit codes %d and %d" % tuple(active + codes))
    return 0 if codes == [0, 0] else 1


if __name__ == "__main__":
    sys.exit(main())
