#include "download/balance_value_list.h"

#include <cstdio>
#include <cstring>

#include "db/session.h"
#include "db/statement.h"
#include "download/build_steps.h"
#include "download/content_digest.h"
#include "download/rows_written.h"
#include "log/runlog.h"
#include "platform/text.h"

namespace {

#define SAL_ASW_DNL2_NAMES "DnlSal, DnlLiz, DnlMnd, DnlSpr, DnlAsw,   DnlWrt, DnlVal"
const char* const kWriteSalAswDnl2 = "INSERT INTO Qvsystem.SalAswDnl2  (" SAL_ASW_DNL2_NAMES
                                     " ) VALUES  ('%s', '%s', '%s',  %ld, '%s',   '%ld', '%s') ";
// The proof's read-back of the rows, in the insert's column order.
const char* const kReadBackSalAswDnl2 = "SELECT " SAL_ASW_DNL2_NAMES " FROM Qvsystem.SalAswDnl2";
#undef SAL_ASW_DNL2_NAMES

// One row as read back; the value type arrives as the text it was sent as.
struct SalAswDnl2Row {
    SalAswRow keys;
    char DnlWrt[12];
    char DnlVal[kLineTextWidth];
};

// The value type hashes as its decimal text, as it reads back.
uint64_t salAswDnl2Hash(const SalAswRow& row, SqlValue valueType, const char* value) {
    return rowHash({sqlText(row.DnlSal), sqlText(row.DnlLiz), sqlText(row.DnlMnd),
                    sqlInt(row.DnlSpr), sqlText(row.DnlAsw), valueType, sqlText(value)});
}

// Signed list values are right-aligned to this many characters behind "$".
constexpr std::size_t kAlignedLength = 8;

}  // namespace

void AlignDollar(char (&value)[kLineTextWidth]) {
    const std::size_t length = std::strlen(value);
    if (length >= kAlignedLength)
        return;
    char aligned[kLineTextWidth];
    std::snprintf(aligned, sizeof aligned, "$%*s", static_cast<int>(kAlignedLength - 1), value);
    copyField(value, aligned);
}

bool FormatSalAswDnl2Value(int32_t type, const SaldoWerte& values, char (&value)[kLineTextWidth]) {
    std::memset(value, 0, sizeof value);
    if (type == kDateValueType) {
        formatBalanceDate(values.TSWW[0], value);
        return true;
    }
    if (type >= kFirstSignedValueType && type <= kLastSignedValueType) {
        const SignedValue signedValue = readSignedValue(signedColumn(values, type));
        std::snprintf(value, sizeof value, "%s%s", signedValue.digits,
                      signedValue.negative ? "-" : "$");
        AlignDollar(value);
        return true;
    }
    if (type >= kFirstFormattedValueType && type <= kLastFormattedValueType) {
        formatPreformattedValue(values, type, value);
        return true;
    }
    return false;
}

int SQLWriteSalAswDnl2(const SalAswRow& row, int32_t valueType, const char* value) {
    const int rc =
        execNonQuery(kWriteSalAswDnl2,
                     {sqlText(row.DnlSal), sqlText(row.DnlLiz), sqlText(row.DnlMnd),
                      sqlInt(row.DnlSpr), sqlText(row.DnlAsw), sqlInt(valueType), sqlText(value)},
                     FailureMapping::Native);
    if (rc == kResultOk && UnitDigest.on)
        unitDigestTakeRow(DownloadTable::SalAswDnl2, salAswDnl2Hash(row, sqlInt(valueType), value));
    return rc;
}

int SQLReadBackSalAswDnl2(TableContent& content) {
    content = {0, 0};
    SalAswDnl2Row row = {};
    SalAswRow& keys = row.keys;
    return readBackRows(kReadBackSalAswDnl2, {}, row,
                        {textColumn(keys.DnlSal), textColumn(keys.DnlLiz), textColumn(keys.DnlMnd),
                         intColumn(keys.DnlSpr), textColumn(keys.DnlAsw), textColumn(row.DnlWrt),
                         textColumn(row.DnlVal)},
                        [&]() {
                            content.digest += salAswDnl2Hash(keys, sqlText(row.DnlWrt), row.DnlVal);
                            ++content.rows;
                        });
}

int BuildSalAswDnl2(const SaldoTexte& texts, const SalAswRow& row) {
    SaldoWerte values = {};
    int rc = ReadSaldoWerte(row.DnlAsw, values);
    if (rc != 0) {
        logFailure(LastDiag,
                   "Fehler SQLWriteSalAswDnl2() ReadSaldoWerte:%s Ausweis:%s! Errcode: %ld",
                   row.DnlSal, row.DnlAsw, static_cast<long>(rc));
        if (rc != DbErrorCodes.NotFound)
            return 0;
    }
    for (const SaldoTextLine& line : texts.lines) {
        char value[kLineTextWidth];
        if (!FormatSalAswDnl2Value(line.WrtWhl, values, value))
            continue;
        if (!countInsert(DownloadTable::SalAswDnl2, SQLWriteSalAswDnl2(row, line.WrtWhl, value),
                         "Fehler SQLWriteSalAswDnl2() Saldotabelle:%s Ausweis:%s!", row.DnlSal,
                         row.DnlAsw))
            return 0;
    }
    return 1;
}
