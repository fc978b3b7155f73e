#!/usr/bin/env python3
"""Writes the results of bench/atomic.sh into bench/atomic.md.

Usage: atomic_report.py WORK ROUNDS ROWS DIFFERENT OUT

Each site size gets a subsection of its own; a later run of the same size
replaces it, the other sizes' subsections stay.
"""
import pathlib
import sys

work, rounds, rows, different = (pathlib.Path(sys.argv[1]), int(sys.argv[2]), sys.argv[3],
                                 sys.argv[4])
out = pathlib.Path(sys.argv[5])


def times(name):
    wall, user, system, rss = (work / f"{name}.time").read_text().split()
    return float(wall), float(user), float(system), int(rss) / 1024


def proof_seconds(events):
    """From the proof's first count (the last count of TrmAswDnl) to the end
    of the run, and the whole run, in seconds, from an interposer event log."""
    start = first = end = None
    for line in events.read_text().splitlines():
        fields = line.split(" ", 6)
        if fields[0] == "S":
            first = int(fields[1])
        elif fields[0] == "E" and fields[6].startswith("SELECT COUNT(*) FROM QVSYSTEM.TRMASWDNL"):
            start = int(fields[2])
        elif fields[0] == "Q":
            end = int(fields[1])
    return (end - start) / 1e9, (end - first) / 1e9


def median(values):
    ordered = sorted(values)
    middle = len(ordered) // 2
    return ordered[middle] if len(ordered) % 2 else (ordered[middle - 1] + ordered[middle]) / 2


runs = {mode: [times(f"full-{mode}-{r}") for r in range(1, rounds + 1)]
        for mode in ("default", "atomic")}
ratios = [a[0] / d[0] for d, a in zip(runs["default"], runs["atomic"])]
lines = [f"### {rows} TrmAswDnl rows", "",
         "| mode | wall s per round | wall s median | user s median | system s median "
         "| peak RSS MiB |",
         "|---|---|---:|---:|---:|---:|"]
for mode, label in (("default", "default (each statement commits)"),
                    ("atomic", "VENDRAK_REBUILD=atomic, with the proof")):
    walls = [t[0] for t in runs[mode]]
    lines.append(f"| {label} | {', '.join(f'{w:.2f}' for w in walls)} | {median(walls):.2f} | "
                 f"{median([t[1] for t in runs[mode]]):.2f} | "
                 f"{median([t[2] for t in runs[mode]]):.2f} | "
                 f"{max(t[3] for t in runs[mode]):.1f} |")
lines += ["", "ratio atomic / default, per round: " + ", ".join(f"{r:.3f}" for r in ratios) +
          f"; median {median(ratios):.3f} (spread {min(ratios):.3f} to {max(ratios):.3f}).", ""]
events = work / "full-atomic-events.events"
if events.exists():
    proof, whole = proof_seconds(events)
    wall, _, _, rss = times("full-atomic-events")
    lines += [f"The proof, timed in one more atomic rebuild with the interposer's event log "
              f"(from its first count to the end of the run, the commit included): {proof:.2f} s "
              f"of the run's {whole:.2f} s ({100 * proof / whole:.1f}%); peak RSS of that run "
              f"{rss:.1f} MiB.", ""]
lines.append("Table contents: " + (
    "the same after every run of both modes, and after a key run of 100 badges in each mode."
    if different == "0" else "DIFFERENT, see below."))
checks = (work / "checks.txt").read_text().strip().splitlines()
lines += ["", "```", *checks, "```", ""]
section = "\n".join(lines)

intro = ("## Atomic rebuild\n\n"
         "Written by `bench/atomic.sh` (`scripts/gen_site.py --seed 1`, 40 terminals; the real "
         "`vendrak` as deployed, without the interposer, through a data source with "
         "`UseDeclareFetch=0`: the atomic rebuild refuses a psqlODBC data source with batched "
         "fetching, on which psqlODBC 13.02 rolls back the whole transaction when a statement "
         "right after a batch fetch fails. Each full rebuild starts from the tables of a previous "
         "one (a site's daily case); in each round the two modes ran one after the other, the "
         "order turning from round to round, and the ratio is taken per round.\n")
kept = []
if out.exists():
    for block in out.read_text().split("\n### ")[1:]:
        if not block.startswith(f"{rows} TrmAswDnl rows"):
            kept.append("### " + block.strip() + "\n")
blocks = sorted(kept + [section], key=lambda b: -int(b.split()[1]))
out.write_text(intro + "\n" + "\n".join(blocks))
