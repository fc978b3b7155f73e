// The records the balance build passes between its steps (the line
// definitions of a balance table, one badge row with its eight display lines,
// one badge's balance values), the read of the balance values and the
// formatting of the display lines.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr int kBalanceLineCount = 8;

// Field widths, terminator included.
constexpr std::size_t kBalanceTableWidth = 11;
constexpr std::size_t kDataKeyWidth = 6;
constexpr std::size_t kBalanceBadgeWidth = 51;
constexpr std::size_t kLineTextWidth = 21;  // label, type name, value, display text

// The display text of a line is exactly this long; values are at most this long.
constexpr std::size_t kLineChars = kLineTextWidth - 1;

// One line definition of a balance table.
struct SaldoTextLine {
    char Text[kLineTextWidth];  // label
    char Wert[kLineTextWidth];  // name of the value type; carried, written nowhere
    int32_t WrtWhl;             // value type; 0 when the line is not defined
};

// The line definitions of one balance table, data keys and language.
struct SaldoTexte {
    char DnlSal[kBalanceTableWidth];
    char DnlLiz[kDataKeyWidth];
    char DnlMnd[kDataKeyWidth];
    int32_t DnlSpr;
    SaldoTextLine lines[kBalanceLineCount];
};

// One display line of a badge: value (DnlWr1..8) and display text (DnlSa1..8).
struct SalAswLine {
    char DnlWr[kLineTextWidth];
    char DnlSa[kLineTextWidth];
};

// One badge row of the balance cursor, completed to one SalAswDnl row.
struct SalAswRow {
    char DnlSal[kBalanceTableWidth];
    char DnlLiz[kDataKeyWidth];
    char DnlMnd[kDataKeyWidth];
    int32_t DnlSpr;
    char DnlAsw[kBalanceBadgeWidth];
    SalAswLine lines[kBalanceLineCount];
};

// Balance value columns of O2002TSW, widths with terminator. TSWW01 holds a
// date (yyyymmdd), TSWW02 to TSWW16 signed values (sign, then digits), TSWF01
// to TSWF10 preformatted texts of differing widths.
constexpr int kTswwCount = 16;
constexpr std::size_t kTswwWidth = 21;
constexpr std::size_t kTswf01Width = 21;
constexpr std::size_t kTswf02Width = 22;
constexpr std::size_t kTswf03Width = 23;
constexpr std::size_t kTswf04Width = 24;
constexpr std::size_t kTswf05Width = 25;
constexpr std::size_t kTswf06Width = 21;
constexpr std::size_t kTswf07Width = 22;
constexpr std::size_t kTswf08Width = 23;
constexpr std::size_t kTswf09Width = 24;
constexpr std::size_t kTswf10Width = 25;

// The balance values of one badge; a NULL column or a missing row leaves a
// field empty.
struct SaldoWerte {
    char TSWW[kTswwCount][kTswwWidth];  // TSWW[0] is TSWW01
    char TSWF01[kTswf01Width];
    char TSWF02[kTswf02Width];
    char TSWF03[kTswf03Width];
    char TSWF04[kTswf04Width];
    char TSWF05[kTswf05Width];
    char TSWF06[kTswf06Width];
    char TSWF07[kTswf07Width];
    char TSWF08[kTswf08Width];
    char TSWF09[kTswf09Width];
    char TSWF10[kTswf10Width];
};

// Value types with a meaning of their own: 1 TSWW01 as a date (dd.mm.yy);
// 2 to 16 the TSWW column of the same number; 17 TSWW07 and TSWW08 without
// their last three digits; 21 to 30 the TSWF column of the type minus 20.
constexpr int32_t kDateValueType = 1;
constexpr int32_t kFirstSignedValueType = 2;
constexpr int32_t kLastSignedValueType = 16;
constexpr int32_t kPairValueType = 17;
constexpr int32_t kFirstFormattedValueType = 21;
constexpr int32_t kLastFormattedValueType = 30;

// Reads the badge's row of O2002TSW into `values` (written only when a row
// arrives). 0, 100 without a row, -1 without a handle, otherwise the native
// error number of the failed execution or fetch.
int ReadSaldoWerte(const char* badgeNumber, SaldoWerte& values);

// The text from its first character that is not a blank, tab or line feed;
// the text itself when it is empty or made only of those.
const char* SkipBlanks(const char* text);

// A signed balance value: "-" in the first position means negative, anything
// else (also an empty field) positive; the digits are the rest of the field
// after SkipBlanks.
struct SignedValue {
    bool negative;
    const char* digits;
};
SignedValue readSignedValue(const char* field);

// The signed column of value type `type` (2..16).
const char* signedColumn(const SaldoWerte& values, int32_t type);

// TSWW01 (yyyymmdd) as dd.mm.yy into `out`; it ends where TSWW01 ends, so a
// short date gives a partial or empty value.
void formatBalanceDate(const char* date, char (&out)[kLineTextWidth]);

// The TSWF column of value type `type` (21..30) right-aligned in 20
// characters into `out`; longer values keep their first 20 characters.
void formatPreformattedValue(const SaldoWerte& values, int32_t type, char (&out)[kLineTextWidth]);

// Fills the eight lines of `row` (cleared first) from the line definitions
// and the badge's values. Pure: reads nothing else.
void FormatSalAswLines(const SaldoTexte& texts, const SaldoWerte& values, SalAswRow& row);

// Reads the badge's values and formats the row's eight lines from them (from
// empty values when the read gave no row or failed). Returns the result of
// ReadSaldoWerte, so that the caller can tell a badge without balance values
// (100) from a failed read.
int FormatSalAswDnl(const SaldoTexte& texts, SalAswRow& row);
