// The proof before the commit of an atomic unit of work: the database must
// hold what the unit wrote. A driver or a setting may end the transaction
// without a word (a silent rollback part-way, a batch fetch that the driver
// does not protect), and the statements after it then succeed on their own;
// only the tables can tell. Before every commit the unit counts the
// download tables it wrote, then reads their rows back and compares their
// digest (download/content_digest.h) with that of what it wrote:
// - the full rebuild: each table holds the rows this rebuild inserted into
//   it (each phase empties its tables first, in the same transaction);
// - one badge of a key run: its rows in TrmAswDnl and AswBklDnl are those it
//   had when its unit began plus those the unit inserted; in content, those
//   it wrote or updated in place as written, the others as they were.
// On top of that, the shrink guard refuses a full rebuild that would leave
// TrmAswDnl or AswBklDnl far smaller than it was (an emptied or cut master
// table), and the dry run rolls back what it proved instead of committing.
// Without transactions nothing is counted or read back.
#pragma once

#include <cstdio>

#include "download/rows_written.h"

constexpr const char* kMaxShrinkVariable = "VENDRAK_MAX_SHRINK";
constexpr long kNoShrinkLimit = -1;

struct CommitProofRecord {
    long maxShrinkPercent;  // VENDRAK_MAX_SHRINK, kNoShrinkLimit when unset
    bool dryRun;            // --dry-run: prove, then roll back instead of committing
    const char* badge;      // the unit's badge in a key run, nullptr for the full rebuild
    long before[static_cast<int>(DownloadTable::Count)];  // rows when the unit began
    long held[static_cast<int>(DownloadTable::Count)];    // rows at the proof
    bool shrinkRefused;  // the shrink guard refused the rebuild: no further attempt
};
extern CommitProofRecord CommitProof;

// The start of an attempt of the full rebuild: counts the four tables,
// which the shrink guard and the dry run compare with, and starts counting
// the attempt's inserts. 1, or 0 after a failed count (logged). Without
// transactions 1 at once.
int beginRebuildUnit();

// The start of one badge's unit of a key run: counts the badge's rows in
// TrmAswDnl and AswBklDnl, starts counting its inserts and reads the rows
// for their digest. 1, or 0 after a failed count or read (logged). Without
// transactions 1 at once.
int beginBadgeUnit(const char* badge);

// Right before the commit: true when every table holds what the unit wrote,
// in number and content, and the shrink guard lets it pass. A difference, a
// failed count or read, or a refusal is logged (the refusal also on
// standard error and in CommitProof.shrinkRefused); the caller then rolls
// the unit back.
bool unitHoldsWhatItWrote();

// The dry run's standard output after a rebuild that passed its proof: one
// line per download table, "<table> <rows now> -> <rows after>".
void printDryRunTables(std::FILE* out);

// The rows of `table` now, counted as the unit's begin counted them (the
// badge's rows in a key run). False, after the failure line, when the count
// failed.
bool countUnitTable(DownloadTable table, long& rows);
