#!/usr/bin/env python3
"""Writes the benchmark's report from the files bench/run.sh left in its work folder.

    report.py --work DIR --sizes 10000,100000 --smallest 10000

Reads per size and run mode the program's event log (NAME.events, written by
the test interposer), the time files (NAME.time: wall, user and system
seconds, peak resident KiB, from /usr/bin/time), the baseline's phase marks
(NAME.marks), the site files (site-SIZE.txt), the checks (checks.txt) and
callgrind's output of the smallest site and the load averages (load.txt).
Each round gives two ratios of the program over the baseline of the same round:
of their wall times, and of the CPU time each run cost on both ends (the
client's user and system time and the server's CPU time during the run,
NAME.server). A size's ratio of either kind is the median of its rounds'
ratios (of an even count the lower middle one); its other figures are those
of the round of the median wall ratio. The interleaved pairs
(NAME-interleaved-roundN.active: the active seconds of the program and of the
baseline, run in turns by bench/interleave.py) give a third ratio, their
median likewise.

The figures of every size measured so far are kept in bench/results.json:
the sizes of this run replace their earlier figures, the others stay, so a
run of some sizes does not drop the rest from the report. From the merged
figures it writes bench/RESULTS.md, bench/time-vs-rows.png (gnuplot) and the
benchmark section of README.md between its markers. When bench/atomic.md
exists, its text becomes a section of RESULTS.md. Uses the Python standard
library only.
"""

import argparse
import datetime
import json
import os
import platform
import re
import statistics
import subprocess
import sys

BENCH = os.path.dirname(os.path.abspath(__file__))
TOP = os.path.dirname(BENCH)
RESULTS = os.path.join(BENCH, "RESULTS.md")
PLOT = os.path.join(BENCH, "time-vs-rows.png")
README = os.path.join(TOP, "README.md")
ATOMIC = os.path.join(BENCH, "atomic.md")
STORE = os.path.join(BENCH, "results.json")
BEGIN = "<!-- benchmark: begin (written by bench/run.sh) -->"
END = "<!-- benchmark: end -->"

# The phases of each run mode, by the text that starts them; what runs
# before the first is the start (settings, log, connection).
PHASES = {
    "full": [("terminal authorisations", "DELETE FROM QVSYSTEM.TRMASWDNL"),
             ("balance values", "DELETE FROM QVSYSTEM.SALASWDNL"),
             ("access authorisations", "DELETE FROM QVSYSTEM.ASWBKLDNL")],
    "key": [("key run", "SELECT DnlKey")],
}
MODE_NAMES = {"full": "full rebuild", "key": "key run"}

TARGET_RATIO = 1.10
TARGET_OWN_SHARE = 5.0
TARGET_RSS_GROWTH = 1.2
# The key run's statements per second as a share of the full rebuild's.
TARGET_KEY_PACE = 0.8


class Segment:
    """One phase of a run: wall and CPU seconds, statements."""

    def __init__(self, name):
        self.name = name
        self.wall = self.user = self.system = 0.0
        self.statements = 0

    def to_list(self):
        return [self.name, self.wall, self.user, self.system, self.statements]

    @staticmethod
    def from_list(values):
        s = Segment(values[0])
        s.wall, s.user, s.system, s.statements = values[1:]
        return s


def round_names(work, name):
    """The runs NAME, NAME-round2, ... that exist, in the order of the rounds."""
    if read_time(work, name) is None:
        return []
    return [name] + ["%s-round%d" % (name, n) for n in range(2, 100)
                     if os.path.exists(os.path.join(work, "%s-round%d.time" % (name, n)))]


def median_round(work, name):
    """The rounds of the program (NAME-program...) and the baseline
    (NAME-baseline...): (program run, baseline run, each round's wall ratio,
    the median wall ratio, each round's CPU ratio, rounds). The median is that
    of the rounds' ratios (of an even count the lower middle one), and the
    runs returned are those of the median wall ratio's round; without a
    baseline, the program's round of the median wall time. The CPU ratios are
    empty when a run's server time was not noted."""
    programs = round_names(work, name + "-program")
    baselines = round_names(work, name + "-baseline")
    paired = list(zip(programs, baselines))
    if not paired:
        middle = statistics.median_low(read_time(work, p)[0] for p in programs)
        program = next(p for p in programs if read_time(work, p)[0] == middle)
        return program, None, [], None, [], len(programs)
    ratios = [read_time(work, p)[0] / read_time(work, b)[0] for p, b in paired]
    costs = [(cpu_cost(work, p), cpu_cost(work, b)) for p, b in paired]
    cpu_ratios = [p / b for p, b in costs] if all(p and b for p, b in costs) else []
    middle = statistics.median_low(ratios)
    program, baseline = paired[ratios.index(middle)]
    return program, baseline, ratios, middle, cpu_ratios, len(programs)


def interleaved_pairs(work, name):
    """(program, baseline) active seconds of the interleaved pairs of NAME."""
    pairs = []
    for n in range(1, 100):
        path = os.path.join(work, "%s-interleaved-round%d.active" % (name, n))
        if not os.path.exists(path):
            break
        with open(path) as f:
            program, baseline = (float(v) for v in f.read().split())
        pairs.append((program, baseline))
    return pairs


def read_server(work, name):
    """The server's CPU seconds during the run NAME, or None."""
    path = os.path.join(work, name + ".server")
    if not os.path.exists(path):
        return None
    with open(path) as f:
        return float(f.read())


def cpu_cost(work, name):
    """CPU seconds of the run NAME on both ends (client user and system time
    and the server's), or None without the server's."""
    server = read_server(work, name)
    if server is None:
        return None
    _, user, system, _ = read_time(work, name)
    return user + system + server


def load_range(work, size, mode):
    """Lowest and highest load average of the last minute before the
    measured runs of SIZE and MODE (work/load.txt), or None."""
    path = os.path.join(work, "load.txt")
    if not os.path.exists(path):
        return None
    prefix = "%s-%d-" % (mode, size)
    with open(path) as f:
        loads = [float(line.split()[1]) for line in f if line.startswith(prefix)]
    return [min(loads), max(loads)] if loads else None


def read_time(work, name):
    """wall, user, system seconds and peak RSS in KiB, or None."""
    path = os.path.join(work, name + ".time")
    if not os.path.exists(path):
        return None
    with open(path) as f:
        fields = f.read().split()[-4:]
    return float(fields[0]), float(fields[1]), float(fields[2]), int(fields[3])


def program_phases(work, name, mode):
    """Phases of the program's run from its event log: start, then each phase
    from its first statement to the next phase's (the last to the end)."""
    marks = PHASES[mode]
    boundaries = []  # (phase index, time, user, system, statements before)
    statements = 0
    start = end = None
    with open(os.path.join(work, name + ".events"), encoding="utf-8", errors="replace") as f:
        for line in f:
            kind = line[0]
            if kind == "E":
                fields = line.split(" ", 6)
                text = fields[6]
                index = len(boundaries)
                if index < len(marks) and text.startswith(marks[index][1]):
                    boundaries.append((int(fields[2]) / 1e9, int(fields[3]) / 1e6,
                                       int(fields[4]) / 1e6, statements))
                statements += 1
            elif kind in "SQ":
                fields = line.split()
                point = (int(fields[1]) / 1e9, int(fields[2]) / 1e6, int(fields[3]) / 1e6,
                         statements)
                if kind == "S":
                    start = point
                else:
                    end = point
    return segments(start, boundaries, end, marks)


def baseline_phases(work, name, mode):
    marks = PHASES[mode]
    boundaries = []
    end = None
    with open(os.path.join(work, name + ".marks")) as f:
        for line in f:
            fields = line.split()
            if fields[0] == "mark":
                boundaries.append(tuple(float(v) for v in fields[2:5]) + (int(fields[5]),))
            elif fields[0] == "end":
                end = tuple(float(v) for v in fields[1:4]) + (int(fields[4]),)
    return segments((0.0, 0.0, 0.0, 0), boundaries, end, marks)


def segments(start, boundaries, end, marks):
    if start is None or end is None or len(boundaries) != len(marks):
        sys.exit("report.py: a run's phases are incomplete")
    points = [start] + boundaries + [end]
    names = ["start"] + [name for name, _ in marks]
    result = []
    for name, a, b in zip(names, points, points[1:]):
        s = Segment(name)
        s.wall, s.user, s.system, s.statements = b[0] - a[0], b[1] - a[1], b[2] - a[2], b[3] - a[3]
        result.append(s)
    return result


def odbc_call_cost(path, program):
    """Instructions spent inside the calls that the program's own functions
    make into the driver manager (and through it the driver and libpq), read
    from callgrind's file: the driver manager's symbols are stripped, so its
    entry points are known only as the calls that cross into it."""
    names = {}

    def name(value):
        m = re.match(r"\((\d+)\)(?: (.*))?$", value)
        if not m:
            return value
        if m.group(2) is not None:
            names[m.group(1)] = m.group(2)
        return names.get(m.group(1), "")

    cost = 0
    caller = callee = None
    in_call = False
    with open(path) as f:
        for line in f:
            line = line.rstrip("\n")
            if line.startswith("ob="):
                caller = name(line[3:])
            elif line.startswith("cob="):
                callee = name(line[4:])
            elif line.startswith("calls="):
                in_call = True
            elif in_call:
                # The line after "calls=" holds the call's inclusive cost; a
                # callee object given by "cob=" holds for that call only.
                target = callee if callee is not None else caller
                if (os.path.realpath(caller or "") == program and "libodbc.so" in target):
                    cost += int(line.split()[1])
                in_call = False
                callee = None
    return cost


def callgrind_shares(work):
    """Instructions in total, in the program's own functions, outside the
    ODBC calls (the program's code with the C library work it asks for) and
    inside them."""
    out = os.path.join(work, "callgrind.out")
    if not os.path.exists(out):
        return None

    def annotate(inclusive):
        text = subprocess.run(["callgrind_annotate", "--inclusive=" + inclusive, "--threshold=100",
                               out], capture_output=True, text=True, check=True).stdout
        rows = []
        for line in text.splitlines():
            m = re.match(r"^\s*([\d,]+)\s+(?:\([^)]*\)\s+)?(\S.*?)\s+\[(.*)\]\s*$", line)
            if m:
                rows.append((int(m.group(1).replace(",", "")), m.group(2), m.group(3)))
        total = re.search(r"^\s*([\d,]+)\s+(?:\([^)]*\)\s+)?PROGRAM TOTALS", text, re.M)
        return int(total.group(1).replace(",", "")), rows

    binary = os.path.realpath(os.path.join(TOP, "build", "vendrak"))
    total, self_rows = annotate("no")
    _, inclusive_rows = annotate("yes")
    own = sum(ir for ir, _, obj in self_rows if os.path.realpath(obj) == binary)
    main = max((ir for ir, fn, obj in inclusive_rows
                if fn.endswith(":main") and os.path.realpath(obj) == binary), default=0)
    odbc = odbc_call_cost(out, binary)
    return total, own, main - odbc, odbc


def measured_runs(work, size):
    """The figures of both run modes at SIZE from the files of this run."""
    with open(os.path.join(work, "site-%d.txt" % size)) as f:
        _, rows, terminals, badges, key_badges = (int(v) for v in f.read().split())
    runs = []
    for mode in ("full", "key"):
        name = "%s-%d" % (mode, size)
        program, baseline, ratios, ratio, cpu_ratios, rounds = median_round(work, name)
        run = {"size": size, "rows": rows, "terminals": terminals, "badges": badges,
               "key_badges": key_badges, "mode": mode, "rounds": rounds,
               "measured": datetime.date.today().isoformat(),
               "load": load_range(work, size, mode),
               "program": read_time(work, program),
               "baseline": read_time(work, baseline) if baseline else None,
               "round_ratios": ratios, "ratio": ratio,
               "cpu_round_ratios": cpu_ratios,
               "cpu_ratio": statistics.median_low(cpu_ratios) if cpu_ratios else None,
               "interleaved": interleaved_pairs(work, name),
               "program_server": read_server(work, program),
               "baseline_server": read_server(work, baseline) if baseline else None,
               "unrecorded": read_time(work, name + "-unrecorded"),
               "unbatched": read_time(work, name + "-unbatched"),
               "program_phases": program_phases(work, program, mode),
               "baseline_phases": (baseline_phases(work, baseline, mode) if baseline
                                   else None)}
        ratios = [p / b for p, b in run["interleaved"]]
        run["interleaved_ratio"] = statistics.median_low(ratios) if ratios else None
        run["statements"] = sum(s.statements for s in run["program_phases"])
        run["rate"] = run["statements"] / run["program"][0]
        if mode == "key":
            run["kinds"] = statement_kinds(work, program)
        # The key run without the index of TrmAswDnl by badge, program only.
        before = read_time(work, name + "-before")
        if mode == "key" and before:
            phases = program_phases(work, name + "-before", mode)
            run["before"] = before
            run["before_rate"] = sum(p.statements for p in phases) / before[0]
            run["before_kinds"] = statement_kinds(work, name + "-before")
        runs.append(run)
    return runs


def stored(run):
    """A run as bench/results.json keeps it."""
    copy = dict(run)
    for key in ("program_phases", "baseline_phases"):
        if copy[key] is not None:
            copy[key] = [s.to_list() for s in copy[key]]
    return copy


def restored(run):
    """A run read back from bench/results.json."""
    for key in ("program_phases", "baseline_phases"):
        if run[key] is not None:
            run[key] = [Segment.from_list(v) for v in run[key]]
    return run


def merge(measured, checks, shares):
    """The runs, checks (by size) and callgrind shares of this run merged into
    those of bench/results.json: a size measured now replaces its earlier
    figures, the other sizes keep theirs."""
    sizes = {r["size"] for r in measured}
    store = {"runs": [], "checks": {}, "callgrind": None}
    if os.path.exists(STORE):
        with open(STORE) as f:
            store = json.load(f)
    runs = [restored(r) for r in store["runs"] if r["size"] not in sizes] + measured
    runs.sort(key=lambda r: (r["size"], r["mode"]))
    merged = {size: lines for size, lines in store["checks"].items() if int(size) not in sizes}
    for line in checks:
        size = re.match(r"(?:full|key)-(\d+)-", line).group(1)
        merged.setdefault(size, []).append(line)
    return runs, merged, shares or store["callgrind"]


def tool_versions():
    def run(command):
        try:
            return subprocess.run(command, capture_output=True, text=True).stdout.strip()
        except OSError:
            return "?"

    def package(name):
        return run(["dpkg-query", "-W", "-f=${Version}", name]) or "?"

    cpu = "?"
    try:
        with open("/proc/cpuinfo") as f:
            cpu = next(line.split(":", 1)[1].strip() for line in f if line.startswith("model name"))
    except (OSError, StopIteration):
        pass
    return ("%s, %d cores; PostgreSQL %s, psqlODBC %s, unixODBC %s; %s (RelWithDebInfo)"
            % (cpu, os.cpu_count() or 0, package("postgresql-15"), package("odbc-postgresql"),
               package("unixodbc"), run([os.path.join(TOP, "build", "vendrak"), "--version"])))


def fmt(value, digits=2):
    return "%.*f" % (digits, value)


def mib(kib):
    return "%.1f" % (kib / 1024.0)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--work", required=True)
    parser.add_argument("--sizes", required=True)
    parser.add_argument("--smallest", required=True)
    args = parser.parse_args()
    work = args.work
    sizes = [int(s) for s in args.sizes.split(",")]

    measured = [run for size in sizes for run in measured_runs(work, size)]
    with open(os.path.join(work, "checks.txt")) as f:
        checks = [line.rstrip("\n") for line in f]
    shares = callgrind_shares(work)
    if shares:
        shares = dict(zip(("total", "own", "outside", "odbc"), shares), size=int(args.smallest))
    runs, checks, shares = merge(measured, checks, shares)
    with open(STORE, "w") as f:
        json.dump({"runs": [stored(r) for r in runs], "checks": checks, "callgrind": shares},
                  f, indent=1)
        f.write("\n")
    checks = [line for size in sorted(checks, key=int) for line in checks[size]]
    sizes = sorted({r["size"] for r in runs})
    smallest = shares["size"] if shares else min(sizes)
    shares = (shares["total"], shares["own"], shares["outside"], shares["odbc"]) if shares else None
    largest = max(sizes)

    out = []
    w = out.append
    w("# Benchmark results")
    w("")
    # The run's files are written from the start of the measurements on.
    # bench/run.sh notes when it started; a resumed run keeps that time.
    started_file = os.path.join(work, "started")
    if os.path.exists(started_file):
        with open(started_file) as f:
            started = int(f.read())
    else:
        started = os.path.getmtime(os.path.join(work, "odbc.ini"))
    minutes = (datetime.datetime.now().timestamp() - started) / 60.0
    w("The latest run, `bench/run.sh --sizes %s` on %s, took %.0f minutes; the sizes it did "
      "not measure keep their earlier figures (bench/results.json; the table below says when "
      "each was measured). Machine and software: %s."
      % (args.sizes, datetime.date.today().isoformat(), minutes, tool_versions()))
    w("")
    w("Each site comes from `scripts/gen_site.py --seed 1` with %d terminals; \"rows\" are the "
      "TrmAswDnl rows of its full rebuild. The key run updates the %d badges listed under one "
      "key after the full rebuild. *program* is the real `vendrak` as deployed, through a data "
      "source with `UseDeclareFetch=1`, `Fetch=1000`; *baseline* replays the same driver calls "
      "(recorded by the test interposer) with a minimal ODBC client, the limit for this "
      "statement sequence on this driver. Both start from the same table contents. The "
      "program's figures are those of its recorded run (the interposer's cost stays in them, "
      "see below)." % (runs[0]["terminals"], runs[0]["key_badges"]))
    w("")
    w("Each round runs the program and the baseline right after each other (the program first "
      "in odd rounds, second in even ones) and gives one ratio = program wall time / baseline "
      "wall time. *ratio* is the median of the rounds' ratios (of an even count the lower "
      "middle one), *round ratios* lists them all and *spread* is the highest less the lowest; "
      "the other figures of a row are those of the median round. The machine is shared with "
      "builds and tests of other work: the load averages of the last minute before each "
      "measured run are noted below. Load that comes and goes then falls within one round on "
      "both sides, or on one round of several, which the median leaves out; a load that stays "
      "through one side of a round still moves that round's ratio.")
    w("")
    w("| size | rows | mode | rounds | statements | program s | baseline s | ratio | "
      "round ratios | spread | statements/s | user s | system s | peak RSS MiB | "
      "baseline user s | baseline system s | baseline peak RSS MiB |")
    w("|---:|---:|---|---:|---:|---:|---:|---:|---|---:|---:|---:|---:|---:|---:|---:|---:|")
    for r in runs:
        p, b, ratios = r["program"], r["baseline"], r["round_ratios"]
        w("| %d | %d | %s | %d | %d | %s | %s | %s | %s | %s | %.0f | %s | %s | %s | %s | %s | "
          "%s |"
          % (r["size"], r["rows"], MODE_NAMES[r["mode"]], r["rounds"], r["statements"],
             fmt(p[0]), fmt(b[0]) if b else "-", fmt(r["ratio"], 3) if b else "-",
             ", ".join(fmt(q, 3) for q in ratios) if ratios else "-",
             fmt(max(ratios) - min(ratios), 3) if ratios else "-",
             r["statements"] / p[0], fmt(p[1]), fmt(p[2]), mib(p[3]),
             fmt(b[1]) if b else "-", fmt(b[2]) if b else "-", mib(b[3]) if b else "-"))
    w("")
    w("| size | mode | measured on | load average before the runs (1 minute), lowest-highest |")
    w("|---:|---|---|---|")
    for r in runs:
        w("| %d | %s | %s | %s |"
          % (r["size"], MODE_NAMES[r["mode"]], r["measured"],
             "%.2f-%.2f" % tuple(r["load"]) if r["load"] else "not noted"))
    w("")
    interleaved_section(w, runs)
    cpu_section(w, runs)
    w("## Per phase")
    w("")
    w("Wall and CPU time per phase of the median round, from the program's event log (clock "
      "and getrusage at every statement) and from the baseline's marks at the same "
      "statements; \"start\" is process start, settings and connection up to the first "
      "statement.")
    w("")
    w("| size | mode | phase | statements | program s | baseline s | ratio | statements/s | "
      "user s | system s |")
    w("|---:|---|---|---:|---:|---:|---:|---:|---:|---:|")
    for r in runs:
        for p, b in zip(r["program_phases"], r["baseline_phases"] or
                        [None] * len(r["program_phases"])):
            ratio = fmt(p.wall / b.wall, 3) if b and b.wall > 0 else "-"
            rate = "%.0f" % (p.statements / p.wall) if p.wall > 0 else "-"
            w("| %d | %s | %s | %d | %s | %s | %s | %s | %s | %s |"
              % (r["size"], MODE_NAMES[r["mode"]], p.name, p.statements, fmt(p.wall, 3),
                 fmt(b.wall, 3) if b else "-", ratio, rate, fmt(p.user), fmt(p.system)))
    w("")

    key_pace(w, runs)
    key_statements(w, runs)
    growth_section(w, runs)

    w("## Targets")
    w("")
    ratio_target(w, runs, "interleaved_ratio", "active time of the interleaved pairs")
    ratio_target(w, runs, "ratio", "wall time")
    ratio_target(w, runs, "cpu_ratio", "CPU time on both ends")
    if shares:
        total, own, outside, odbc = shares
        w("- The program's own code under %.0f%% of the instructions (callgrind, full rebuild of "
          "the %d-row site, %s instructions in all): the program's own functions %.2f%%; "
          "everything outside the ODBC calls, with the C library work the program asks for and "
          "excluding the dynamic loader, %.2f%%; inside the ODBC calls (driver manager, driver, "
          "libpq) %.2f%%: %s."
          % (TARGET_OWN_SHARE, next(r["rows"] for r in runs if r["size"] == smallest),
             format(total, ","), 100.0 * own / total, 100.0 * outside / total,
             100.0 * odbc / total,
             "met" if 100.0 * outside / total < TARGET_OWN_SHARE else "MISSED"))
    for size in sizes:
        full, key = (next(r for r in runs if r["size"] == size and r["mode"] == m)
                     for m in ("full", "key"))
        pace = key["rate"] / full["rate"]
        w("- Key run at %.1f of the full rebuild's statements per second or more, %d rows: %s "
          "(%s without the index of TrmAswDnl by badge): %s."
          % (TARGET_KEY_PACE, full["rows"], fmt(pace), fmt(key["before_rate"] / full["rate"])
             if "before_rate" in key else "not measured",
             "met" if pace >= TARGET_KEY_PACE else "MISSED"))
    for mode in ("full", "key"):
        small = next(r for r in runs if r["size"] == smallest and r["mode"] == mode)
        large = next(r for r in runs if r["size"] == largest and r["mode"] == mode)
        growth = large["program"][3] / small["program"][3]
        w("- Peak RSS flat in the site's size, %s: %s MiB at %d rows, %s MiB at %d rows, "
          "%sx (target %.1fx): %s."
          % (MODE_NAMES[mode], mib(small["program"][3]), small["rows"], mib(large["program"][3]),
             large["rows"], fmt(growth), TARGET_RSS_GROWTH,
             "met" if growth <= TARGET_RSS_GROWTH else "MISSED"))
    same = all("DIFFERENT" not in c for c in checks)
    w("- The same table contents with and without `UseDeclareFetch` on the %d-row site, and "
      "after every replay and every further run: %s (checks below)."
      % (next(r["rows"] for r in runs if r["size"] == smallest), "met" if same else "MISSED"))
    w("")
    w("## The recording's cost and the driver's batching")
    w("")
    w("On the smallest site the program also ran without the interposer, and through a data "
      "source without `UseDeclareFetch` (psqlODBC then reads every result whole):")
    w("")
    w("| mode | run | wall s | user s | system s | peak RSS MiB |")
    w("|---|---|---:|---:|---:|---:|")
    for r in runs:
        if r["size"] != smallest:
            continue
        for label, key in (("recorded (interposer)", "program"), ("unrecorded", "unrecorded"),
                           ("without UseDeclareFetch", "unbatched"), ("baseline", "baseline")):
            t = r[key]
            if t:
                w("| %s | %s | %s | %s | %s | %s |" % (MODE_NAMES[r["mode"]], label, fmt(t[0]),
                                                     fmt(t[1]), fmt(t[2]), mib(t[3])))
    w("")
    w("## Checks")
    w("")
    w("The table contents (all four download tables, row count and checksum) after each run, "
      "against the recorded program run of the same size and mode:")
    w("")
    w("```")
    out.extend(checks)
    w("```")
    w("")
    w("![Wall time against TrmAswDnl rows](time-vs-rows.png)")
    w("")
    if os.path.exists(ATOMIC):
        with open(ATOMIC) as f:
            atomic = f.read().strip("\n")
        # Its headings become subheadings of this file's sections.
        out.extend(["## " + line[2:] if line.startswith("# ") else line
                    for line in atomic.split("\n")])
        w("")
    with open(RESULTS, "w") as f:
        f.write("\n".join(out))

    plot(work, runs)
    update_readme(runs, shares)
    print("wrote %s, %s and the README's benchmark section" % (RESULTS, PLOT))


def key_pace(w, runs):
    """The key run's pace against the full rebuild's at each size, with the
    index of TrmAswDnl by badge (the measured key run) and without it."""
    w("## The key run's pace")
    w("")
    w("Statements per second of the key run as a share of the full rebuild's at the same size "
      "(target: at least %.1f). *before* is one further key run of the program alone, on the "
      "same tables without the index of TrmAswDnl by badge (`gen_site.py --indexes source`, the "
      "schema of the earlier benchmark); the full rebuild it is compared with is the measured "
      "one, with every index." % TARGET_KEY_PACE)
    w("")
    w("| size | rows | full rebuild statements/s | key run statements/s | share | "
      "before: key run s | before: statements/s | before: share |")
    w("|---:|---:|---:|---:|---:|---:|---:|---:|")
    for r in runs:
        if r["mode"] != "key":
            continue
        full = next(f for f in runs if f["size"] == r["size"] and f["mode"] == "full")
        before = ("| %s | %.0f | %s |" % (fmt(r["before"][0]), r["before_rate"],
                                          fmt(r["before_rate"] / full["rate"]))
                  if "before" in r else "| - | - | - |")
        w("| %d | %d | %.0f | %.0f | %s %s"
          % (r["size"], r["rows"], full["rate"], r["rate"], fmt(r["rate"] / full["rate"]),
             before))
    w("")


def statement_kinds(work, name):
    """Wall time per kind of statement of a run, from its event log: each
    statement's time runs to the next one (the last to the end of the run),
    its fetches included. The kind is the text up to its first literal.
    Returns {kind: [statements, seconds]}."""
    kinds = {}
    previous = None
    with open(os.path.join(work, name + ".events"), encoding="utf-8", errors="replace") as f:
        for line in f:
            if line[0] not in "EQ":
                continue
            fields = line.split(" ", 6)
            clock = int(fields[2] if line[0] == "E" else fields[1]) / 1e9
            if previous is not None:
                count, seconds = kinds.get(previous[1], (0, 0.0))
                kinds[previous[1]] = (count + 1, seconds + clock - previous[0])
            if line[0] == "E":
                kind = " ".join(fields[6].split("'")[0].split())
                previous = (clock, kind[:60] + ("..." if len(kind) > 60 else ""))
    return kinds


def key_statements(w, runs):
    """Where a key run's time goes, per kind of statement and size, with the
    index of TrmAswDnl by badge and without it."""
    w("## The key run by statement")
    w("")
    w("Wall time of the key run per kind of statement (the text up to its first value), from "
      "the event logs of the program's median round and of its run without the index "
      "of TrmAswDnl by badge (*before*). A statement's time includes its fetches; ms = "
      "milliseconds per statement.")
    w("")
    w("| size | statement | count | s | ms | before: s | before: ms |")
    w("|---:|---|---:|---:|---:|---:|---:|")
    kinds_by_size = []
    for r in runs:
        if r["mode"] != "key":
            continue
        after = r["kinds"]
        before = r.get("before_kinds", {})
        for kind, (count, seconds) in sorted(after.items(), key=lambda item: -item[1][1]):
            b = before.get(kind)
            w("| %d | `%s` | %d | %.2f | %.2f | %s | %s |"
              % (r["size"], kind, count, seconds, 1000.0 * seconds / count,
                 "%.2f" % b[1] if b else "-", "%.2f" % (1000.0 * b[1] / b[0]) if b else "-"))
        kinds_by_size.append((r, after))
    w("")
    # The statement that costs the key run most at the largest size, and how
    # its cost per statement grew from the smallest.
    (small, first), (large, last) = kinds_by_size[0], kinds_by_size[-1]
    kind, (count, seconds) = max(last.items(), key=lambda item: item[1][1])
    if kind in first and small is not large:
        was = 1000.0 * first[kind][1] / first[kind][0]
        now = 1000.0 * seconds / count
        w("The most costly statement of the key run at %d rows is `%s`: %.0f%% of the run, "
          "%.1f ms each against %.1f ms at %d rows (%.1fx for %.1fx the rows)."
          % (large["rows"], kind, 100.0 * seconds / large["program"][0], now, was,
             small["rows"], now / was, large["rows"] / small["rows"]))
        w("")


def cpu(run):
    """User and system seconds of the program's median round."""
    return run["program"][1] + run["program"][2]


def growth_section(w, runs):
    """How run time and peak memory grow from each size to the next."""
    sizes = sorted({r["size"] for r in runs})
    if len(sizes) < 2:
        return
    w("## Growth with the size of the site")
    w("")
    w("Factors from each size to the next: rows of TrmAswDnl, wall time, CPU time (user and "
      "system) and peak RSS of the program (median round); the full rebuild's seconds per 1000 "
      "rows and the key run's seconds per 100 badges at the larger size. Other load on the "
      "machine lengthens wall times more than CPU times.")
    w("")
    w("| from rows | to rows | rows x | full rebuild wall x | full rebuild CPU x | "
      "full rebuild s per 1000 rows | full rebuild RSS x | key run wall x | key run CPU x | "
      "key run s per 100 badges | key run RSS x |")
    w("|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|")
    for a, b in zip(sizes, sizes[1:]):
        fa, fb, ka, kb = (next(r for r in runs if r["size"] == size and r["mode"] == mode)
                          for size, mode in ((a, "full"), (b, "full"), (a, "key"), (b, "key")))
        w("| %d | %d | %s | %s | %s | %s | %s | %s | %s | %s | %s |"
          % (fa["rows"], fb["rows"], fmt(fb["rows"] / fa["rows"]),
             fmt(fb["program"][0] / fa["program"][0]), fmt(cpu(fb) / cpu(fa)),
             fmt(1000.0 * fb["program"][0] / fb["rows"]),
             fmt(fb["program"][3] / fa["program"][3]), fmt(kb["program"][0] / ka["program"][0]),
             fmt(cpu(kb) / cpu(ka)), fmt(kb["program"][0] * 100.0 / kb["key_badges"]),
             fmt(kb["program"][3] / ka["program"][3])))
    w("")
    first = next(r for r in runs if r["size"] == sizes[0] and r["mode"] == "full")
    last = next(r for r in runs if r["size"] == sizes[-1] and r["mode"] == "full")
    key_first = next(r for r in runs if r["size"] == sizes[0] and r["mode"] == "key")
    key_last = next(r for r in runs if r["size"] == sizes[-1] and r["mode"] == "key")
    rows = last["rows"] / first["rows"]
    w("From %d to %d rows (%sx): the full rebuild's statements grow %sx, its wall time %sx "
      "and its CPU time %sx (per row: %s and %s, 1.00 = linear); the key run of the same 100 "
      "badges takes %sx the wall time and %sx the CPU time; peak RSS grows %sx (full rebuild) "
      "and %sx (key run)."
      % (first["rows"], last["rows"], fmt(rows), fmt(last["statements"] / first["statements"]),
         fmt(last["program"][0] / first["program"][0]), fmt(cpu(last) / cpu(first)),
         fmt((last["program"][0] / first["program"][0]) / rows),
         fmt((cpu(last) / cpu(first)) / rows),
         fmt(key_last["program"][0] / key_first["program"][0]),
         fmt(cpu(key_last) / cpu(key_first)),
         fmt(last["program"][3] / first["program"][3]),
         fmt(key_last["program"][3] / key_first["program"][3])))
    w("")


def plot(work, runs):
    data = os.path.join(work, "plot.dat")
    with open(data, "w") as f:
        for mode in ("full", "key"):
            f.write("# %s: rows program baseline\n" % mode)
            for r in runs:
                if r["mode"] == mode:
                    f.write("%d %.3f %s\n" % (r["rows"], r["program"][0], "%.3f" % r["baseline"][0]
                                               if r["baseline"] else "NaN"))
            f.write("\n\n")
        f.write("# key run without the index of TrmAswDnl by badge: rows program\n")
        for r in runs:
            if "before" in r:
                f.write("%d %.3f\n" % (r["rows"], r["before"][0]))
        f.write("\n\n")
    script = """
set terminal pngcairo size 900,560 noenhanced
set output '%s'
set title 'vendrak against the replay baseline (psqlODBC, PostgreSQL 15)'
set xlabel 'TrmAswDnl rows of the site'
set ylabel 'wall time (s)'
set logscale xy
set grid
set key top left
plot '%s' index 0 using 1:2 with linespoints lw 2 pt 7 title 'full rebuild: vendrak', \\
     '' index 0 using 1:3 with linespoints lw 2 pt 6 dt 2 title 'full rebuild: baseline', \\
     '' index 1 using 1:2 with linespoints lw 2 pt 5 title 'key run (100 badges): vendrak', \\
     '' index 1 using 1:3 with linespoints lw 2 pt 4 dt 2 title 'key run (100 badges): baseline', \\
     '' index 2 using 1:2 with linespoints lw 2 pt 9 title 'key run without the TrmAswDnl index by badge'
""" % (PLOT, data)
    subprocess.run(["gnuplot"], input=script, text=True, check=True)


def full_rate(runs, key_run):
    return next(r["rate"] for r in runs
                if r["size"] == key_run["size"] and r["mode"] == "full")


def ratio_cells(ratios, median):
    """Three table cells: the median ratio, every ratio and their spread."""
    return "%s | %s | %s" % (fmt(median, 3), ", ".join(fmt(q, 3) for q in ratios),
                             fmt(max(ratios) - min(ratios), 3))


def interleaved_section(w, runs):
    """The ratio of the interleaved pairs."""
    w("## The interleaved ratio")
    w("")
    w("A load that lasts through one run of a round moves that round's ratio, whether of wall "
      "or of CPU time (on a machine of two virtual processors other work slows a run's every "
      "instruction too, through shared cores and caches). The interleaved pairs take this "
      "out: the program as deployed (without the recording interposer) runs on one server "
      "while the baseline replays its recorded run on a second server with the same site, at "
      "the same time but never together: bench/interleave.py lets them run in turns of half a "
      "second, stopping the other's process group, and counts each one's active seconds. "
      "Every load that lasts longer than a few turns then meets both alike. *ratio* is the "
      "median of the pairs' ratios (program / baseline active seconds), the seconds those of "
      "its pair. In odd pairs the program runs on the first server and has the first turn, "
      "in even ones the baseline does. Both sides of every pair leave the reference "
      "contents.")
    w("")
    w("| size | rows | mode | pairs | program active s | baseline active s | ratio | "
      "pair ratios | spread |")
    w("|---:|---:|---|---:|---:|---:|---:|---|---:|")
    for r in runs:
        pairs = r.get("interleaved") or []
        if not pairs:
            continue
        ratios = [p / b for p, b in pairs]
        program, baseline = pairs[ratios.index(r["interleaved_ratio"])]
        w("| %d | %d | %s | %d | %s | %s | %s |"
          % (r["size"], r["rows"], MODE_NAMES[r["mode"]], len(pairs), fmt(program),
             fmt(baseline), ratio_cells(ratios, r["interleaved_ratio"])))
    w("")


def cpu_section(w, runs):
    """The ratio by CPU time: what each run cost the client and the server."""
    w("## The ratio by CPU time")
    w("")
    w("A run's wall time is its CPU time on both ends plus the time it waits: for the other "
      "end (client and server take turns), and for a processor while other work has it. Each "
      "round also gives the ratio of CPU time on both ends: the client's user and system time "
      "(/usr/bin/time) plus the server's CPU time during the run (all its processes, read from "
      "/proc before and after the run; the server has no other clients then). It shows where "
      "a run's time goes and leaves out the waits for a processor, but not all of other load: "
      "on a machine of two virtual processors a run's CPU time itself grows when other work "
      "runs beside it (shared cores and caches), so such load moves the CPU ratio nearly as "
      "much as the wall ratio. The figures are those of the median wall round; *CPU ratio* is "
      "the median of the rounds' CPU ratios.")
    w("")
    w("| size | rows | mode | program client CPU s | program server CPU s | baseline client "
      "CPU s | baseline server CPU s | CPU ratio | round CPU ratios | spread |")
    w("|---:|---:|---|---:|---:|---:|---:|---:|---|---:|")
    for r in runs:
        ratios = r.get("cpu_round_ratios") or []
        if not ratios:
            continue
        p, b = r["program"], r["baseline"]
        w("| %d | %d | %s | %s | %s | %s | %s | %s |"
          % (r["size"], r["rows"], MODE_NAMES[r["mode"]], fmt(p[1] + p[2]),
             fmt(r["program_server"]), fmt(b[1] + b[2]), fmt(r["baseline_server"]),
             ratio_cells(ratios, r["cpu_ratio"])))
    w("")


def ratio_target(w, runs, key, by):
    """The target line of the program against the baseline by ratio KEY."""
    replayed = [r for r in runs if r.get(key) is not None]
    missing = sorted({r["rows"] for r in runs if r.get(key) is None})
    if not replayed:
        return
    worst = max(replayed, key=lambda r: r[key])
    w("- Program within %.2fx the baseline at every size, by %s: worst ratio %s (%s, %d rows): "
      "%s%s."
      % (TARGET_RATIO, by, fmt(worst[key], 3), MODE_NAMES[worst["mode"]], worst["rows"],
         "met" if worst[key] <= TARGET_RATIO else "MISSED",
         " (not measured at %s rows)" % ", ".join(str(n) for n in missing) if missing else ""))


def update_readme(runs, shares):
    lines = [BEGIN, "", "| rows | mode | statements | vendrak s | baseline s | ratio | spread | "
             "interleaved ratio | interleaved spread | peak RSS MiB |",
             "|---:|---|---:|---:|---:|---:|---:|---:|---:|---:|"]
    for r in runs:
        ratios = r["round_ratios"]
        pairs = r.get("interleaved") or []
        paired = [p / b for p, b in pairs]
        lines.append("| %d | %s | %d | %s | %s | %s | %s | %s | %s | %s |"
                     % (r["rows"], MODE_NAMES[r["mode"]], r["statements"], fmt(r["program"][0]),
                        fmt(r["baseline"][0]) if r["baseline"] else "-",
                        fmt(r["ratio"], 3) if r["baseline"] else "-",
                        fmt(max(ratios) - min(ratios), 3) if ratios else "-",
                        fmt(r["interleaved_ratio"], 3) if paired else "-",
                        fmt(max(paired) - min(paired), 3) if paired else "-",
                        mib(r["program"][3])))
    lines.append("")
    lines.append("ratio: the median of the rounds' ratios (program / baseline wall time, the two "
                 "run in turn within each round); spread: their highest less their lowest. "
                 "Interleaved ratio: the same of the active seconds of the program and the "
                 "baseline run at the same time in turns of half a second, on two servers with "
                 "the same site, which load from other work meets alike (bench/RESULTS.md).")
    lines.append("")
    lines.append("The key run's statements per second as a share of the full rebuild's (target "
                 "%.1f): %s." % (TARGET_KEY_PACE, "; ".join(
                     "%d rows %s%s" % (r["rows"], fmt(r["rate"] / full_rate(runs, r)),
                                       " (%s without the index of TrmAswDnl by badge)"
                                       % fmt(r["before_rate"] / full_rate(runs, r))
                                       if "before_rate" in r else "")
                     for r in runs if r["mode"] == "key")))
    lines.append("")
    if shares:
        total, own, outside, _ = shares
        lines.append("Instructions of the full rebuild of the smallest site outside the ODBC "
                     "calls: %.2f%% (the program's own functions: %.2f%%)."
                     % (100.0 * outside / total, 100.0 * own / total))
        lines.append("")
    lines.append("![Wall time against TrmAswDnl rows](bench/time-vs-rows.png)")
    lines.append("")
    lines.append(END)
    with open(README) as f:
        text = f.read()
    if BEGIN in text and END in text:
        head, rest = text.split(BEGIN, 1)
        tail = rest.split(END, 1)[1]
        text = head + "\n".join(lines) + tail
    else:
        sys.exit("report.py: README.md has no benchmark markers")
    with open(README, "w") as f:
        f.write(text)


if __name__ == "__main__":
    main()
