// The content of the download tables as one number per table, for the proof
// before the commit of an atomic unit: the rows that the unit wrote must
// read back as written, whatever their order.
//
// A row's hash covers its values in column order, each taken as a database
// gives it back: trailing blanks removed (CHAR columns pad), NULL and the
// empty text alike (ORACLE stores '' as NULL), an integer as its decimal
// text. A table's digest is the sum of its rows' hashes modulo 2^64, so the
// order of the rows does not matter and a row that is replaced in place can
// be taken out again by subtracting its old hash.
//
// TrmAswDnl splits its hash in two terms keyed by the row's terminal and
// badge: the booking classes DnlB01 to DnlB11, which the access phase sets
// in place, and everything else. A row without booking classes has 0 as
// its booking-class term, so a full rebuild, whose terminal phase writes
// every row without them, knows the term that the access phase replaces
// without keeping the rows. A key run's unit reads its badge's rows when it
// begins and keeps their two terms (three numbers per row of that badge),
// because it updates rows that it did not write.
#pragma once

#include <cstdint>
#include <unordered_map>

#include "db/statement.h"
#include "download/rows_written.h"

// The hash of one row from its values in column order.
uint64_t rowHash(SqlValues values);

// The two terms of a TrmAswDnl row, and the key they belong to.
struct TrmAswDnlHash {
    uint64_t key;             // terminal and badge
    uint64_t rest;            // every written column but the booking classes
    uint64_t bookingClasses;  // DnlB01 to DnlB11 with the key; 0 when all are empty
};

// The unit's expectation per table: the digest that its rows must read back
// as. `on` while atomic units run (the default mode digests nothing).
struct UnitDigestRecord {
    bool on;
    uint64_t expected[static_cast<int>(DownloadTable::Count)];
    bool keyed;                                             // a key run's unit: badgeRows are known
    std::unordered_map<uint64_t, TrmAswDnlHash> badgeRows;  // by key, as they stand
};
extern UnitDigestRecord UnitDigest;

// Starts a unit's expectation: empty tables for the full rebuild (each phase
// empties its tables in the unit's transaction), the rows that the unit
// reads next (unitDigestTakeRow) for a key run's badge.
void beginUnitDigest(bool keyed);

// A row that the unit found when it began, or that it inserted: added.
void unitDigestTakeRow(DownloadTable table, uint64_t hash);

// A TrmAswDnl row of a key run's badge found when its unit began.
void unitDigestTakeBadgeRow(const TrmAswDnlHash& row);

// A TrmAswDnl row written whole, by insert or by update: it replaces the
// row of its key that a key run's unit knows, or is added.
void unitDigestTrmAswDnlWritten(const TrmAswDnlHash& row);

// The booking classes of the TrmAswDnl row of `key` set in place to the
// term `bookingClasses`: the term they replace is that of the row as the
// unit knows it, or, in the full rebuild, 0 (written without them).
void unitDigestBookingClassesSet(uint64_t key, uint64_t bookingClasses);

// What a read-back found: the sum of its rows' hashes and their number.
struct TableContent {
    uint64_t digest;
    long rows;
};
