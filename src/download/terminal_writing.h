// The terminal authorisation record and its writing into TrmAswDnl: an insert
// that adapts to the three forms of the table, an update by terminal and
// badge, and update-else-insert.
#pragma once

#include <cstddef>
#include <cstdint>

#include "download/content_digest.h"

constexpr int kReaderSlotCount = 11;
constexpr std::size_t kTrmAswDnlColumns = 40;  // the table's widest form

struct ReaderSlot {
    char L[3];  // reader number "01" to "11", or empty
    char B[4];  // access booking class, or empty
};

// One terminal x badge row of TrmAswDnl, as read and as written.
struct TrmAswRow {
    char DnlTrm[256];
    char DnlAsw[51];
    char DnlGvo[9];
    char DnlGbi[9];
    char DnlStb[4];
    char DnlSto[9];
    int32_t DnlAtp;
    char DnlAan[51];
    int32_t DnlKze;
    int32_t DnlKzu;
    char DnlSal[11];
    char AswSal[11];  // the badge's own balance table; not written
    char TrmMod[9];   // the terminal's model code; not written
    int32_t DnlSpr;
    char DnlLiz[6];
    char DnlMnd[6];
    char DnlSa1[8];
    char DnlPin[33];
    char DnlPnr[9];
    char DnlNam[51];
    ReaderSlot slots[kReaderSlotCount];
};

// Which columns the insert tries first. Both start at 1, are lowered when an
// insert fails with the DB system's "unknown column" number, and are set back
// to 1 when even the narrowest insert fails with it.
extern int TrmAswDnlHasPnrNam;  // 1: try all 40 columns first
extern int TrmAswDnlHasPin;     // 1: the 38-column insert (with DnlPin) may be tried

// Inserts the row with the widest column set the flags allow. A variant that
// fails with the "unknown column" number moves on to the next narrower one
// within the call (40, 38, 37); any other failure ends the call with the flags
// unchanged. 0 when a variant inserted the row; -1 when no statement handle
// could be allocated or the failure came without a native number; otherwise
// the native error number of the last variant tried.
int SQLInsertTrmAswDnl(const TrmAswRow& row);

// Updates every non-key column of the row of DnlTrm and DnlAsw. 0 updated,
// 100 no such row, -1 no handle, otherwise the native error number (-1 when
// the failure has none).
int SQLUpdateTrmAswDnl(const TrmAswRow& row);

// Update, and insert when no row exists. 0 when written; otherwise the
// failing result, after logging it. `inserted`, when given, tells whether the
// row was new.
int WriteTrmAswDnl(const TrmAswRow& row, bool* inserted = nullptr);

// The hash terms of the row as its first `columns` values in insert order
// (40, 38 or 37 by the table's form) read back; the same for a row written.
TrmAswDnlHash trmAswDnlHash(const TrmAswRow& row, std::size_t columns);

// The proof's read-back: the rows of the badge, or with an empty badge
// number the whole table (in pages, at most about `maxRows`), in the form
// that the inserts learnt; each row's hash terms go to `take`, and `rows`
// counts them. 0 when every row was read, otherwise -1 (no handle, failed
// fetch) or the native error number of a failed execution.
int SQLReadBackTrmAswDnl(const char* badgeNumber, long maxRows, void (*take)(const TrmAswDnlHash&),
                         long& rows);
