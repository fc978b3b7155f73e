// The balance value list: one SalAswDnl2 row per line of a badge's balance
// table whose value type has a list value.
#pragma once

#include <cstdint>

#include "download/balance_record.h"
#include "download/content_digest.h"

// Right-aligns a value of fewer than 8 characters behind a "$" to exactly 8
// characters ("$", blanks, value); longer values stay as they are.
void AlignDollar(char (&value)[kLineTextWidth]);

// The list value of value type `type` into `value` (cleared first). False
// when the type has no list row (0, 17 to 20, below 0, above 30).
bool FormatSalAswDnl2Value(int32_t type, const SaldoWerte& values, char (&value)[kLineTextWidth]);

// Inserts one list row of the badge row: its keys, the value type (sent as a
// quoted text) and the value. 0, -1 without a handle, otherwise the native
// error number (0 counts as success).
int SQLWriteSalAswDnl2(const SalAswRow& row, int32_t valueType, const char* value);

// The proof's read-back of SalAswDnl2, into `content`. 0, otherwise -1 (no
// handle, failed fetch) or the native error number of a failed execution.
int SQLReadBackSalAswDnl2(TableContent& content);

// Reads the badge's values again and writes its list rows. A badge without
// balance values gets its list from empty values; a duplicate row is logged
// and skipped. 1 on success; 0 after a failed read or insert, which it has
// logged (the rows written before stay).
int BuildSalAswDnl2(const SaldoTexte& texts, const SalAswRow& row);
