#!/usr/bin/env python3
"""Generates a Vendrak site (master data and request rows) as SQL for psql.

    gen_site.py [--seed N] [--terminals N] [--badges N] [--key KEY] [--key-badges N]
                [--without-values PERCENT] [--summary] [--indexes all|source|none]
                [--indexes-only]
                | psql -v ON_ERROR_STOP=1 -q

The output empties every table of schema qvsystem and loads, in one
transaction, a site of the given size: sites, terminals of several models and
application codes with their entries (booking classes per reader), badges with
validity, site, PIN, name, code and own balance table, their booking classes,
balance tables with display lines of every value type (1 to 17, 21 to 30) and
the selection-list texts of their labels, balance values (all badges but
--without-values percent of them, 10 by default), and request rows under one
download key.

The badges listed under the key are new: they become valid tomorrow, so a
full rebuild leaves them out and they have no download rows yet. The system
makes them valid on the day they are issued; to run the key, do the same:

    UPDATE qvsystem.qvs301asw SET aswgvo = CURRENT_DATE WHERE aswnum IN
        (SELECT rtrim(dnlasw) FROM qvsystem.qvsaswdnl WHERE dnlkey = 'KEY');

A key run for a badge that has access rows already inserts them again, which
a unique key on AswBklDnl refuses; new badges avoid that.

The same arguments give the same output, byte for byte. Dates are written as
day offsets from the day the SQL is loaded, so a site looks alike whatever day
it is loaded on. Bulk rows go in with COPY, so large sites load quickly: the
rows of TrmAswDnl that a full rebuild writes grow with terminals x badges
(about half of the pairs qualify); the exact numbers, before and after the
key run, are printed in the header comments ("expected TrmAswDnl rows") and,
with --summary, on standard error.

The site gets the indexes that the program's lookups need (--indexes all);
--indexes source leaves out those on the download tables (the schema before
TrmAswDnl was indexed by badge), --indexes none leaves out every one, and
--indexes-only writes just the statements that create or drop them, for a
site that is loaded already.
Uses the Python standard library only.
"""

import argparse
import os
import random
import sys

SITES = [("S01", "HQ"), ("S02", "LAG"), ("S03", "WRK"), ("S04", "NRD"), ("S05", "SUD"),
         ("S06", "EXT")]
UNKNOWN_SITE = "S99"  # badges of this site get no rows: it is not in QVS113STO

# Data keys (TRMLIZ/MSTLIZ/MSDLIZ and TRMMND/MSTMND/MSDMND).
LIZ = "L0001"
MANDATORS = ["M0001", "M0002"]

# Terminal application codes: list A (their badges' balance values also go to
# SalAswDnl2 when the terminal has a balance table), and others.
LIST_A_CODES = ["4917-301", "5820-301", "5820-311", "5820-314", "5820-315", "5820-351",
                "5820-352", "5820-354", "5820-355"]
OTHER_CODES = ["5820-300", "4917-200", "5830-101"]

TIME_CLASSES = ["K01", "K02", "K03", "K04"]  # time recording (M35BCH = 1)
ACCESS_CLASSES = ["Z%02d" % n for n in range(1, 13)]  # access (M35BCH = 0)

# Balance tables: name -> (model of the table, lines). A line is (number,
# own label, display code, value type, creator). The label shown is the own
# label, or when that is empty the standard label of the display code (list
# 220001); a line without a display code in that list has no label. Together
# the tables use every value type 1 to 17 and 21 to 30; SAL-KOMP is in
# value-only layout (type 17 on line 3); SAL-60A and SAL-60B are of model
# 5830-060, the badge tables that 5830-020 terminals show instead of their
# own; the lines of SAL-60B are marked VORMANT and so belong to every pair of
# data keys.
BALANCE_TABLES = {
    "SAL-STD": ("5830-020", [
        (1, "Stand vom", 5, 1, ""), (2, "", 1, 2, ""), (3, "Urlaub Rest", 5, 3, ""),
        (4, "Urlaub geplant", 5, 4, ""), (5, "", 2, 5, ""), (6, "Ueberstunden", 5, 6, ""),
        (7, "Gleitzeit Woche", 1, 7, ""), (8, "Gleitzeit Monat", 1, 8, "")]),
    "SAL-ERW": ("5830-020", [
        (1, "Krank Tage", 5, 9, ""), (2, "Schicht Zulage", 5, 10, ""),
        (3, "", 3, 11, ""), (4, "Bereitschaft", 5, 12, ""), (5, "Dienstreise", 5, 13, ""),
        (6, "Freizeitausgleich lang", 5, 14, ""), (7, "Sonderurlaub", 5, 15, ""),
        (8, "", 4, 16, "")]),
    "SAL-FLEX": ("5830-020", [
        (1, "Info 1", 5, 21, ""), (2, "Info 2", 5, 22, ""), (3, "Info 3", 5, 23, ""),
        (4, "Info 4", 5, 24, ""), (5, "Info 5", 5, 25, ""), (6, "Info 6", 5, 26, ""),
        (7, "Info 7", 5, 27, ""), (8, "Info 8", 5, 28, "")]),
    "SAL-KOMP": ("5830-020", [
        (1, "", 1, 2, ""), (2, "", 5, 9, ""), (3, "Konto", 5, 17, ""),
        (4, "", 0, 0, ""), (5, "Info 9", 5, 29, ""), (6, "Info 10", 5, 30, "")]),
    "SAL-60A": ("5830-060", [
        (1, "Stand vom", 5, 1, ""), (2, "", 1, 2, ""), (3, "Urlaub Rest", 5, 3, ""),
        (4, "Konto", 5, 17, ""), (5, "Urlaub geplant", 5, 4, ""), (6, "Info 1", 5, 21, ""),
        (7, "Info 9", 5, 29, ""), (8, "Info 10", 5, 30, "")]),
    "SAL-60B": ("5830-060", [
        (1, "", 1, 2, "VORMANT"), (2, "", 2, 5, "VORMANT"), (3, "Woche", 5, 7, "VORMANT"),
        (4, "Monat", 5, 8, "VORMANT"), (5, "Info 6", 5, 26, "VORMANT"),
        (6, "Info 7", 5, 27, "VORMANT")]),
}
TERMINAL_TABLES = ["SAL-STD", "SAL-ERW", "SAL-FLEX", "SAL-KOMP"]
# A badge's own balance table; SAL-STD is of model 5830-020, so it replaces
# nothing.
BADGE_TABLES = [("", 70), ("SAL-60A", 15), ("SAL-60B", 8), ("SAL-STD", 7)]

# Selection lists: 220001 standard labels of the display codes by language,
# 220002 names of the value types.
DISPLAY_LABELS = {1: ("Gleitzeitsaldo", "Flexitime"), 2: ("Saldo Vormonat", "Last month"),
                  3: ("Nachtarbeit", "Night work"), 4: ("Resturlaub Vorjahr", "Leave last year"),
                  5: ("Zeitkonto", "Time account")}
LANGUAGES = [1, 2]

SURNAMES = ["Muster", "Schmidt", "Meyer", "Weber", "Wagner", "Becker", "Hoffmann", "Koch",
            "Richter", "Klein", "Wolf", "Neumann", "Schwarz", "Braun", "O'Brien", "Lange"]
FIRST_NAMES = ["Erika", "Max", "Anna", "Jonas", "Lea", "Paul", "Mia", "Felix", "Emma", "Lukas",
               "Sean", "Sofia"]
FUNCTION_BADGES = ["Pforte Nord", "Reinigung", "Wartung Aufzug", "Feuerwehr"]
BADGE_KINDS = ["Mitarbeiter", "Fremdfirma", "Besucher"]
FREE_TEXTS = ["Resturlaub 12 Tage", "Gleitzeit +3,5 h", "Schicht B", "Zeitkonto gesperrt",
              "Antrag offen", "Sollzeit 7,8 h/Tag", "Kernzeit 9-15 Uhr", "Info fuer Mitarbeiter"]


def weighted(rng, choices):
    """One value of (value, weight) pairs."""
    total = sum(weight for _, weight in choices)
    point = rng.randrange(total)
    for value, weight in choices:
        if point < weight:
            return value
        point -= weight
    raise AssertionError("unreachable")


def make_terminals(rng, count):
    """Terminals as dicts; entries are (class, kind, reader, fir)."""
    terminals = []
    for number in range(1, count + 1):
        kind = ("time", "access", "combined")[number % 3]
        entries = []
        if kind in ("time", "combined"):
            for bkl in rng.sample(TIME_CLASSES, rng.randint(2, 4)):
                entries.append((bkl, 1, "01", "001"))
        if kind in ("access", "combined"):
            readers = rng.randint(1, 4) if kind == "combined" else rng.randint(1, 11)
            for reader in range(1, readers + 1):
                for bkl in rng.sample(ACCESS_CLASSES, rng.randint(1, 3)):
                    entries.append((bkl, 0, "%02d" % reader, "001" if rng.random() < 0.9 else "002"))
            if kind == "access" and number % 7 == 0:
                # Reader numbers above 11 have no slot in the download rows.
                entries.append((rng.choice(ACCESS_CLASSES), 0, "12", "001"))
        if kind == "access":
            model, table, app = "5830-010", None, rng.choice(OTHER_CODES)
        else:
            model = "5830-020" if kind == "time" else "5830-040"
            table = TERMINAL_TABLES[number % len(TERMINAL_TABLES)]
            app = rng.choice(LIST_A_CODES) if rng.random() < 0.5 else rng.choice(OTHER_CODES)
            if number % 5 == 0:
                app += "-V2"  # only the first eight characters decide list A
        terminals.append({
            "name": "TRM%04d-%s" % (number, {"time": "ZEIT", "access": "TUER",
                                             "combined": "KOMBI"}[kind]),
            "table": table, "language": 2 if rng.random() < 0.2 else 1,
            "mandator": MANDATORS[1] if number % 6 == 0 else MANDATORS[0],
            "model": model, "app": app, "entries": entries,
        })
    return terminals


def signed_value(rng):
    """A balance value: sign position, then the digits right-aligned in 9."""
    digits = "%d,%02d" % (rng.randint(0, 250), rng.choice([0, 25, 50, 75]))
    return ("-" if rng.random() < 0.3 else "+") + digits.rjust(9)


def make_badges(rng, count, without_values):
    badges = []
    for index in range(count):
        number = str(100001 + index)
        if rng.random() < 0.05:
            name = rng.choice(FUNCTION_BADGES)
        else:
            name = "%s, %s" % (rng.choice(SURNAMES), rng.choice(FIRST_NAMES))
        valid_from = -rng.randint(1, 2000) if rng.random() >= 0.08 else rng.randint(1, 30)
        valid_to = weighted(rng, [(None, 70), ("future", 20), ("past", 6), ("today", 4)])
        valid_to = {None: None, "future": rng.randint(1, 365), "past": -rng.randint(1, 90),
                    "today": 0}[valid_to]
        classes = []
        if rng.random() < 0.85:
            classes.append(rng.choice(TIME_CLASSES))
        classes += rng.sample(ACCESS_CLASSES, rng.randint(1, 3))
        badges.append({
            "number": number, "from": valid_from, "to": valid_to,
            "code": weighted(rng, [(None, 75), (0, 20), (8, 5)]),
            "site": UNKNOWN_SITE if rng.random() < 0.01 else rng.choice(SITES)[0],
            "name": name, "pin": "%04d" % rng.randrange(10000), "pnr": "%08d" % (index + 1),
            "type": rng.randint(1, 3), "kind": rng.choice(BADGE_KINDS),
            "table": weighted(rng, BADGE_TABLES), "classes": classes,
            "values": make_values(rng) if rng.random() < 1 - without_values / 100 else None,
        })
    return badges


def make_values(rng):
    """TSWW01 (a day offset), TSWW02 to TSWW16, TSWF01 to TSWF10."""
    signed = [signed_value(rng) for _ in range(15)]
    signed[5] = ("-" if rng.random() < 0.3 else "+") + str(rng.randint(0, 99999)).rjust(9)
    signed[6] = ("-" if rng.random() < 0.3 else "+") + str(rng.randint(0, 99999)).rjust(9)
    texts = [rng.choice(FREE_TEXTS) for _ in range(10)]
    return {"date": -rng.randint(0, 3), "signed": signed, "texts": texts}


def valid_today(badge, sites, activated=False):
    """Whether a full rebuild gives the badge rows; `activated` counts the
    badges listed under the key as valid from today."""
    valid_from = 0 if activated and badge.get("listed") else badge["from"]
    return (valid_from <= 0 and (badge["to"] is None or badge["to"] >= 0)
            and badge["code"] != 8 and badge["site"] in sites)


def expected_terminal_rows(terminals, badges, activated=False):
    """The TrmAswDnl rows a full rebuild writes: valid badges x terminals that
    accept at least one of their booking classes."""
    sites = {number for number, _ in SITES}
    by_classes = {}
    for badge in badges:
        if valid_today(badge, sites, activated):
            key = frozenset(badge["classes"])
            by_classes[key] = by_classes.get(key, 0) + 1
    accepted = [frozenset(entry[0] for entry in t["entries"]) for t in terminals]
    return sum(n for classes, n in by_classes.items() for a in accepted if classes & a)


def copy_field(value):
    if value is None:
        return "\\N"
    text = str(value)
    assert not any(c in text for c in "\t\n\\"), text
    return text


def emit_copy(out, table, columns, rows):
    out.write("COPY %s (%s) FROM stdin;\n" % (table, ", ".join(columns)))
    for row in rows:
        out.write("\t".join(copy_field(v) for v in row) + "\n")
    out.write("\\.\n")


def sql_text(value):
    return "'" + value.replace("'", "''") + "'"


# Indexes on the columns by which the statements look rows up, as a well-kept
# site has them: on the tables the program reads, and on TrmAswDnl by badge
# for the key run (the unique keys of the download tables come with the
# schema). Without them every lookup scans its table: a full rebuild grows
# with the square of the site, and a key run reads the whole TrmAswDnl for
# every badge it updates.
SOURCE_INDEXES = [("site_qvs1140trm_nam", "qvs1140trm", "trmnam"),
                  ("site_mgsst35p_trm", "mgsst35p", "m35trm, m35bch, m35bkl"),
                  ("site_qvs301asw_num", "qvs301asw", "aswnum"),
                  ("site_qvs301awb_asw", "qvs301awb", "awbasw, awbbkl"),
                  ("site_o2002tsw_idn", "o2002tsw", "tswidn"),
                  ("site_qvs119mst_nam", "qvs119mst", "mstnam, mstliz, mstmnd"),
                  ("site_qvs119msd_sal", "qvs119msd", "msdsal, msdlfd"),
                  ("site_qvs102whl_num", "qvs102whl", "ftxnumspr, ftxwhl, ftxspr"),
                  ("site_qvsaswdnl_key", "qvsaswdnl", "dnlkey, dnllfd")]
DOWNLOAD_INDEXES = [("site_trmaswdnl_asw", "trmaswdnl", "dnlasw")]
# --indexes: which of them the site gets; the others are dropped.
INDEX_CHOICES = {"all": SOURCE_INDEXES + DOWNLOAD_INDEXES, "source": SOURCE_INDEXES,
                 "none": []}


def emit_indexes(out, choice):
    kept = INDEX_CHOICES[choice]
    for name, table, columns in SOURCE_INDEXES + DOWNLOAD_INDEXES:
        if (name, table, columns) in kept:
            out.write("CREATE INDEX IF NOT EXISTS %s ON qvsystem.%s (%s);\n"
                      % (name, table, columns))
        else:
            out.write("DROP INDEX IF EXISTS qvsystem.%s;\n" % name)


def emit_site(out, args, terminals, badges, request_rows):
    tables = ["qvs1140trm", "mgsst35p", "qvs301asw", "qvs301awb", "o2002tsw", "qvs119mst",
              "qvs119msd", "qvs102whl", "qvsaswdnl", "trmaswdnl", "salaswdnl", "salaswdnl2",
              "aswbkldnl"]
    out.write("SET client_min_messages = warning;\nBEGIN;\n")
    emit_indexes(out, args.indexes)
    out.write("TRUNCATE %s;\n" % ", ".join("qvsystem." + t for t in tables))
    # QVS113STO may be a view (the test database adds a column to it), so it
    # is emptied and filled row by row.
    out.write("DELETE FROM qvsystem.qvs113sto;\n")
    out.write("INSERT INTO qvsystem.qvs113sto (stonum, stoktx) VALUES %s;\n" %
              ", ".join("(%s, %s)" % (sql_text(n), sql_text(t)) for n, t in SITES))

    emit_copy(out, "qvsystem.qvs1140trm",
              ["trmnam", "trmsal", "trmspr", "trmliz", "trmmnd", "trmmod", "trmapp"],
              [(t["name"], t["table"], t["language"], LIZ, t["mandator"], t["model"], t["app"])
               for t in terminals])
    emit_copy(out, "qvsystem.mgsst35p", ["m35trm", "m35bkl", "m35bch", "m35les", "m35fir"],
              [(t["name"],) + e for t in terminals for e in t["entries"]])

    # Dates are day offsets, turned into dates of the loading day.
    out.write("CREATE TEMP TABLE gen_badge (aswnum text, gvo integer, gbi integer, "
              "aswatp integer, aswaan text, aswsal text, aswpin text, aswpnr text, "
              "aswnam text, aswcod integer, aswsto text) ON COMMIT DROP;\n")
    emit_copy(out, "gen_badge", ["aswnum", "gvo", "gbi", "aswatp", "aswaan", "aswsal", "aswpin",
                                 "aswpnr", "aswnam", "aswcod", "aswsto"],
              [(b["number"], b["from"], b["to"], b["type"], b["kind"], b["table"], b["pin"],
                b["pnr"], b["name"], b["code"], b["site"]) for b in badges])
    out.write("INSERT INTO qvsystem.qvs301asw (aswnum, aswgvo, aswgbi, aswatp, aswaan, aswsal, "
              "aswpin, aswpnr, aswnam, aswcod, aswsto) SELECT aswnum, CURRENT_DATE + gvo, "
              "CURRENT_DATE + gbi, aswatp, aswaan, aswsal, aswpin, aswpnr, aswnam, aswcod, "
              "aswsto FROM gen_badge;\n")
    emit_copy(out, "qvsystem.qvs301awb", ["awbasw", "awbbkl"],
              [(b["number"], c) for b in badges for c in b["classes"]])

    value_columns = (["tsww%02d" % n for n in range(2, 17)] +
                     ["tswf%02d" % n for n in range(1, 11)])
    out.write("CREATE TEMP TABLE gen_value (tswidn text, day integer, %s) ON COMMIT DROP;\n" %
              ", ".join(c + " text" for c in value_columns))
    emit_copy(out, "gen_value", ["tswidn", "day"] + value_columns,
              [(b["number"], b["values"]["date"]) + tuple(b["values"]["signed"]) +
               tuple(b["values"]["texts"]) for b in badges if b["values"]])
    out.write("INSERT INTO qvsystem.o2002tsw (tswidn, tsww01, %s) SELECT tswidn, "
              "to_char(CURRENT_DATE + day, 'YYYYMMDD'), %s FROM gen_value;\n" %
              (", ".join(value_columns), ", ".join(value_columns)))

    emit_copy(out, "qvsystem.qvs119mst", ["mstnam", "mstliz", "mstmnd", "mstttp"],
              [(name, LIZ, m, model) for name, (model, _) in BALANCE_TABLES.items()
               for m in MANDATORS])
    msd_rows = []
    for name, (_, lines) in BALANCE_TABLES.items():
        for number, label, code, value_type, creator in lines:
            if creator == "VORMANT":
                # One line for every pair of data keys.
                msd_rows.append((name, "", "", number, label, code, value_type, creator))
            else:
                msd_rows += [(name, LIZ, m, number, label, code, value_type, "DEMO")
                             for m in MANDATORS]
    emit_copy(out, "qvsystem.qvs119msd", ["msdsal", "msdliz", "msdmnd", "msdlfd", "msdtxt",
                                          "msdanz", "msdwrt", "msderf"], msd_rows)
    whl_rows = []
    for language in LANGUAGES:
        for code, labels in DISPLAY_LABELS.items():
            whl_rows.append((220001, code, language, None, labels[language - 1]))
        for value_type in list(range(1, 18)) + list(range(21, 31)):
            name = ("Typ %d" if language == 1 else "Type %d") % value_type
            whl_rows.append((220002, value_type, language, name, None))
    emit_copy(out, "qvsystem.qvs102whl", ["ftxnumspr", "ftxwhl", "ftxspr", "ftxt30", "ftxt50"],
              whl_rows)
    emit_copy(out, "qvsystem.qvsaswdnl", ["dnlkey", "dnllfd", "dnlmnd", "dnlliz", "dnlasw",
                                          "dnlkze", "dnlkzu", "dnlkmp", "dnlsta", "dnlerf"],
              request_rows)
    out.write("COMMIT;\n")
    out.write("ANALYZE %s;\n" % ", ".join("qvsystem." + t for t in tables))


def make_request_rows(rng, args, badges):
    """Request rows: --key-badges badges under the key (sequence numbers in
    steps of 10, one badge number with trailing blanks as some writers leave
    them), and two rows of another key that a run with --key must not touch.
    The badges under the key are new ones: they become valid tomorrow."""
    sites = {number for number, _ in SITES}
    candidates = [b for b in badges if valid_today(b, sites)]
    chosen = rng.sample(candidates, min(args.key_badges, len(candidates)))
    rows = []
    for index, badge in enumerate(chosen):
        badge["from"] = 1
        badge["listed"] = True
        listed = badge["number"] + "   " if index == 1 else badge["number"]
        rows.append((args.key, 10 * (index + 1), MANDATORS[0], LIZ, listed, 1, 1, 0, 0,
                     "gen_site"))
    others = [b["number"] for b in badges if valid_today(b, sites)][:2]
    for index, number in enumerate(others):
        rows.append(("OTHER-KEY", index + 1, MANDATORS[0], LIZ, number, 1, 1, 0, 0, "gen_site"))
    return rows


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--seed", type=int, default=1, help="the same seed gives the same site")
    parser.add_argument("--terminals", type=int, default=36, help="number of terminals")
    parser.add_argument("--badges", type=int, default=300, help="number of badges")
    parser.add_argument("--key", default="DEMO0001", help="download key of the request rows")
    parser.add_argument("--key-badges", type=int, default=12,
                        help="badges listed under the key")
    parser.add_argument("--without-values", type=int, default=10, metavar="PERCENT",
                        help="share of the badges without balance values, in percent")
    parser.add_argument("--summary", action="store_true",
                        help="print the site's counts on standard error")
    parser.add_argument("--indexes", choices=sorted(INDEX_CHOICES), default="all",
                        help="the recommended indexes (all), those on the tables the program "
                        "reads only (source), or none; the others are dropped")
    parser.add_argument("--indexes-only", action="store_true",
                        help="write only the statements that set the indexes, not the site")
    args = parser.parse_args()
    if args.terminals < 1 or args.badges < 1 or args.key_badges < 0:
        parser.error("--terminals and --badges must be at least 1, --key-badges at least 0")
    if not 0 <= args.without_values <= 100:
        parser.error("--without-values: a percentage from 0 to 100")
    if len(args.key) > 14 or "'" in args.key or args.key.startswith("-"):
        parser.error("--key: at most 14 characters, no quote, not starting with '-'")

    if args.indexes_only:
        sys.stdout.write("SET client_min_messages = warning;\n")
        emit_indexes(sys.stdout, args.indexes)
        return
    rng = random.Random(args.seed)
    terminals = make_terminals(rng, args.terminals)
    badges = make_badges(rng, args.badges, args.without_values)
    request_rows = make_request_rows(rng, args, badges)
    expected = expected_terminal_rows(terminals, badges)
    expected_after_key = expected_terminal_rows(terminals, badges, activated=True)

    out = sys.stdout
    key_rows = sum(1 for row in request_rows if row[0] == args.key)
    out.write("-- Vendrak site: seed %d, %d terminals, %d badges, key %s with %d request rows\n"
              % (args.seed, args.terminals, args.badges, args.key, key_rows))
    out.write("-- expected TrmAswDnl rows: %d\n" % expected)
    out.write("-- expected TrmAswDnl rows after the key run: %d\n" % expected_after_key)
    emit_site(out, args, terminals, badges, request_rows)
    if args.summary:
        print("terminals %d, entries %d, badges %d, booking classes %d, balance values %d, "
              "request rows %d, expected TrmAswDnl rows %d (%d after the key run)" %
              (len(terminals), sum(len(t["entries"]) for t in terminals), len(badges),
               sum(len(b["classes"]) for b in badges), sum(1 for b in badges if b["values"]),
               len(request_rows), expected, expected_after_key), file=sys.stderr)


if __name__ == "__main__":
    try:
        main()
    except BrokenPipeError:
        # The reader stopped early (head, a failed psql): end quietly.
        os.dup2(os.open(os.devnull, os.O_WRONLY), sys.stdout.fileno())
        sys.exit(1)
