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


lines = [f"### {rows} TrmAswDnl rows", "",
         "| mode | rounds | wall s fastest | wall s all rounds | ratio | user s | system s "
         "| peak RSS MiB |",
         "|---|---:|---:|---|---:|---:|---:|---:|"]
base = None
spreads = []
for mode, label in (("default", "default (each statement commits)"),
                    ("atomic", "VENDRAK_REBUILD=atomic")):
    runs = [times(f"full-{mode}-{r}") for r in range(1, rounds + 1)]
    wall, user, system, _ = min(runs, key=lambda t: t[0])
    walls = [t[0] for t in runs]
    spreads.append(max(walls) / min(walls))
    base = base or wall
    lines.append(f"| {label} | {rounds} | {wall:.2f} | {', '.join(f'{w:.2f}' for w in walls)} | "
                 f"{wall / base:.3f} | {user:.2f} | {system:.2f} | "
                 f"{max(t[3] for t in runs):.1f} |")
lines += ["", f"The slowest round of one mode took up to {max(spreads):.2f}x its fastest (other "
          "load on the machine); a ratio closer to 1 than that is within the noise.", ""]
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
         "one (a site's daily case); the two modes ran in turn, and the fastest round of each "
         "counts. ratio = wall time / the default mode's.\n")
kept = []
if out.exists():
    for block in out.read_text().split("\n### ")[1:]:
        if not block.startswith(f"{rows} TrmAswDnl rows"):
            kept.append("### " + block.strip() + "\n")
blocks = sorted(kept + [section], key=lambda b: -int(b.split()[1]))
out.write_text(intro + "\n" + "\n".join(blocks))
