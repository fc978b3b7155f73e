#include "download/balance_record.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "db/statement.h"
#include "platform/text.h"

namespace {

const char* const kReadSaldoWerte =
    "SELECT TSWW01, TSWW02, TSWW03, TSWW04, TSWW05,        TSWW06, TSWW07, TSWW08, TSWW09, "
    "TSWW10,        TSWW11, TSWW12, TSWW13, TSWW14, TSWW15, TSWW16,        TSWF01, TSWF02, "
    "TSWF03, TSWF04, TSWF05,        TSWF06, TSWF07, TSWF08, TSWF09, TSWF10 FROM   "
    "QVSYSTEM.O2002TSW WHERE  TSWIDN = '%s' ";

// The line whose value type decides the layout, and the columns that value
// type 17 shows.
constexpr int kLayoutLine = 2;  // line 3
constexpr int kPairFirstColumn = 7;
constexpr int kPairSecondColumn = 8;
// Value type 17 drops this many trailing digits.
constexpr std::size_t kPairDroppedDigits = 3;

// A balance table whose line 3 has value type 17 shows some values without
// their labels (value-only layout).
enum class Layout { Normal, ValueOnly };

const char* signText(const SignedValue& value, const char* positive) {
    return value.negative ? "-" : positive;
}

// `label`, cut to at most `labelChars` bytes, left-aligned and padded with
// blanks to exactly 20 characters. A cut never ends inside a character; the
// bytes it frees are blanks like the rest of the padding.
void padLabel(const char* label, std::size_t labelChars, char (&out)[kLineTextWidth]) {
    std::memset(out, ' ', kLineChars);
    out[kLineChars] = '\0';
    std::memcpy(out, label, textCutLength(label, labelChars));
}

void padLabel(const char* label, char (&out)[kLineTextWidth]) {
    padLabel(label, kLineChars, out);
}

// The padded label with the value written over its last positions, so that
// the value stays whole and right-aligned and a long label loses its end.
// The label is cut before the value's first position rather than overwritten,
// so that its last character stays whole.
void overlay(const char* label, const char* value, char (&out)[kLineTextWidth]) {
    const std::size_t length = textCutLength(value, kLineChars);
    padLabel(label, kLineChars - length, out);
    std::memcpy(out + kLineChars - length, value, length);
}

void setLine(SalAswLine& line, const char* value, const char* display) {
    copyField(line.DnlWr, value);
    copyField(line.DnlSa, display);
}

// In value-only layout, value types 2 and 9 to 16 show the bare signed value;
// 3 to 8 keep their labels.
bool shownWithoutLabel(int32_t type) {
    return type == kFirstSignedValueType || type >= 9;
}

void formatSignedLine(const SaldoTextLine& definition, const SaldoWerte& values, Layout layout,
                      SalAswLine& line) {
    const SignedValue value = readSignedValue(signedColumn(values, definition.WrtWhl));
    if (layout == Layout::ValueOnly && shownWithoutLabel(definition.WrtWhl)) {
        std::snprintf(line.DnlWr, sizeof line.DnlWr, "%1s%6s", signText(value, "+"), value.digits);
        copyField(line.DnlSa, line.DnlWr);
        return;
    }
    std::snprintf(line.DnlWr, sizeof line.DnlWr, "%s%s", value.digits, signText(value, " "));
    overlay(definition.Text, line.DnlWr, line.DnlSa);
}

// Builds one line of any value type except 17 into a cleared line.
void formatLine(const SaldoTextLine& definition, const SaldoWerte& values, Layout layout,
                SalAswLine& line) {
    const int32_t type = definition.WrtWhl;
    if (type == kDateValueType) {
        formatBalanceDate(values.TSWW[0], line.DnlWr);
        overlay(definition.Text, line.DnlWr, line.DnlSa);
    } else if (type >= kFirstSignedValueType && type <= kLastSignedValueType) {
        formatSignedLine(definition, values, layout, line);
    } else if (type >= kFirstFormattedValueType && type <= kLastFormattedValueType) {
        formatPreformattedValue(values, type, line.DnlSa);
    } else {
        padLabel(definition.Text, line.DnlSa);
    }
}

// One half of value type 17: the digits of a signed column without their
// last three (`kept`, no sign), and the sign followed by them right-aligned
// in at least 2 characters (`shown`). The digits of a 20-character field
// have at most 19 characters, so `kept` leaves room for the sign.
struct PairPart {
    char kept[kLineTextWidth - 1];
    char shown[kLineTextWidth];
};

// The bytes of the first `count` characters of `text` (all of it when it
// has fewer).
std::size_t leadingCharacterBytes(const char* text, std::size_t count) {
    std::size_t bytes = 0;
    for (std::size_t step = 0; count > 0 && (step = characterBytesAt(text, bytes)) > 0; --count)
        bytes += step;
    return bytes;
}

std::size_t characterCount(const char* text) {
    std::size_t count = 0;
    for (std::size_t at = 0, step = 0; (step = characterBytesAt(text, at)) > 0; at += step)
        ++count;
    return count;
}

PairPart pairPart(const char* field) {
    PairPart part = {};
    const SignedValue value = readSignedValue(field);
    // The digits are dropped by character, so that a multi-byte character
    // among them is kept or dropped whole.
    const std::size_t length = characterCount(value.digits);
    const std::size_t keep = length > kPairDroppedDigits ? length - kPairDroppedDigits : 0;
    copyText(part.kept, std::min(leadingCharacterBytes(value.digits, keep) + 1, sizeof part.kept),
             value.digits);
    std::snprintf(part.shown, sizeof part.shown, "%1s%2s", signText(value, "+"), part.kept);
    return part;
}

// Value type 17 on line `n`: TSWW07 on line n and TSWW08 on line n + 1. In
// value-only layout that ends the lines (false: the rest stay empty); in
// normal layout line n shows TSWW08 instead, and line n + 1 is formatted
// again by its own type.
bool formatPair(const SaldoWerte& values, Layout layout, int n, SalAswRow& row) {
    const PairPart first = pairPart(values.TSWW[kPairFirstColumn - 1]);
    const PairPart second = pairPart(values.TSWW[kPairSecondColumn - 1]);
    setLine(row.lines[n], first.shown, first.shown);
    // Line 8 has no following line; its TSWW08 result is dropped.
    if (n + 1 < kBalanceLineCount)
        setLine(row.lines[n + 1], second.shown, second.shown);
    if (layout == Layout::ValueOnly)
        return false;
    setLine(row.lines[n], second.kept, second.shown);
    return true;
}

// Types 1 to 9 of the formatted range read TSWF01 to TSWF09; every other
// type reads TSWF10 (one below the range wraps round to a large index).
const char* formattedColumn(const SaldoWerte& values, int32_t type) {
    const char* const columns[] = {values.TSWF01, values.TSWF02, values.TSWF03, values.TSWF04,
                                   values.TSWF05, values.TSWF06, values.TSWF07, values.TSWF08,
                                   values.TSWF09, values.TSWF10};
    const auto index = static_cast<std::size_t>(type - kFirstFormattedValueType);
    return columns[index < 9 ? index : 9];
}

}  // namespace

int ReadSaldoWerte(const char* badgeNumber, SaldoWerte& values) {
    SaldoWerte local = {};
    char(&w)[kTswwCount][kTswwWidth] = local.TSWW;
    int rc = queryRow(kReadSaldoWerte, {sqlText(badgeNumber)}, FailureMapping::Native,
                      {textColumn(w[0]),         textColumn(w[1]),         textColumn(w[2]),
                       textColumn(w[3]),         textColumn(w[4]),         textColumn(w[5]),
                       textColumn(w[6]),         textColumn(w[7]),         textColumn(w[8]),
                       textColumn(w[9]),         textColumn(w[10]),        textColumn(w[11]),
                       textColumn(w[12]),        textColumn(w[13]),        textColumn(w[14]),
                       textColumn(w[15]),        textColumn(local.TSWF01), textColumn(local.TSWF02),
                       textColumn(local.TSWF03), textColumn(local.TSWF04), textColumn(local.TSWF05),
                       textColumn(local.TSWF06), textColumn(local.TSWF07), textColumn(local.TSWF08),
                       textColumn(local.TSWF09), textColumn(local.TSWF10)});
    if (rc == 0)
        values = local;
    return rc;
}

const char* SkipBlanks(const char* text) {
    const char* p = text;
    while (*p == ' ' || *p == '\t' || *p == '\n')
        ++p;
    return *p == '\0' ? text : p;
}

SignedValue readSignedValue(const char* field) {
    // An empty field has no second character to start the digits from.
    if (isEmptyText(field))
        return {false, field};
    // The sign position is the first character, taken whole: a multi-byte
    // one (a typographic minus, say) must not leave its tail to the digits,
    // which would then be no valid text for the database.
    return {field[0] == '-', SkipBlanks(field + characterBytesAt(field, 0))};
}

const char* signedColumn(const SaldoWerte& values, int32_t type) {
    return values.TSWW[type - 1];
}

void formatBalanceDate(const char* date, char (&out)[kLineTextWidth]) {
    // Character positions in yyyymmdd of dd, mm and yy; -1 stands for the
    // dot. Characters are moved whole, so that a date column holding other
    // than digits still gives a valid text; one that no longer fits ends
    // the value like the end of the date does.
    const int positions[] = {6, 7, -1, 4, 5, -1, 2, 3};
    constexpr std::size_t kDateChars = 8;
    std::size_t starts[kDateChars] = {};
    std::size_t sizes[kDateChars] = {};
    std::size_t at = 0;
    for (std::size_t c = 0; c < kDateChars; ++c) {
        starts[c] = at;
        sizes[c] = characterBytesAt(date, at);
        at += sizes[c];
    }
    std::size_t n = 0;
    for (int position : positions) {
        const char* piece = ".";
        std::size_t bytes = 1;
        if (position >= 0) {
            piece = date + starts[position];
            bytes = sizes[position];
        }
        if (bytes == 0 || n + bytes >= sizeof out)
            break;
        std::memcpy(out + n, piece, bytes);
        n += bytes;
    }
    out[n] = '\0';
}

void formatPreformattedValue(const SaldoWerte& values, int32_t type, char (&out)[kLineTextWidth]) {
    // TSWF02 to TSWF05 and TSWF07 to TSWF10 may be longer than the 20
    // characters of a display text or list value. They keep their first 20
    // characters: the same cut the driver applies to every over-long text the
    // program reads, and it gives the display line and the list one text.
    char kept[kLineTextWidth];
    copyText(kept, formattedColumn(values, type));
    std::snprintf(out, sizeof out, "%20s", kept);
}

void FormatSalAswLines(const SaldoTexte& texts, const SaldoWerte& values, SalAswRow& row) {
    for (SalAswLine& line : row.lines)
        line = {};
    const Layout layout =
        texts.lines[kLayoutLine].WrtWhl == kPairValueType ? Layout::ValueOnly : Layout::Normal;
    for (int n = 0; n < kBalanceLineCount; ++n) {
        const SaldoTextLine& definition = texts.lines[n];
        if (definition.WrtWhl == kPairValueType) {
            if (!formatPair(values, layout, n, row))
                return;
            continue;
        }
        // The line may hold the TSWW08 result of a type-17 line before it.
        row.lines[n] = {};
        formatLine(definition, values, layout, row.lines[n]);
    }
}

int FormatSalAswDnl(const SaldoTexte& texts, SalAswRow& row) {
    SaldoWerte values = {};
    int rc = ReadSaldoWerte(row.DnlAsw, values);
    FormatSalAswLines(texts, values, row);
    return rc;
}
