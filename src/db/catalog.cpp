#include "db/catalog.h"

#include <sql.h>
#include <sqlext.h>

#include <cstdio>

#include "db/results.h"
#include "db/session.h"
#include "db/statement.h"
#include "db/statement_handle.h"

namespace {

constexpr std::size_t kProbeTextSize = 8192;

SQLCHAR* catalogText(const char* text) {
    return reinterpret_cast<SQLCHAR*>(const_cast<char*>(text));
}

// Fetches the next statistics row into `row`; false at the end, on a failed
// fetch and after a stop.
bool fetchStatisticsRow(SQLHSTMT stmt, IndexStatisticsRow& row) {
    SQLSMALLINT position = 0;
    SQLLEN indexNameLength = 0;
    SQLLEN positionLength = 0;
    SQLLEN columnNameLength = 0;
    SQLBindCol(stmt, 6, SQL_C_CHAR, row.indexName, sizeof row.indexName, &indexNameLength);
    SQLBindCol(stmt, 8, SQL_C_SSHORT, &position, 0, &positionLength);
    SQLBindCol(stmt, 9, SQL_C_CHAR, row.columnName, sizeof row.columnName, &columnNameLength);
    dbClearDiag();
    CallInFlight call(stmt);
    if (!call.admitted() || !SQL_SUCCEEDED(SQLFetch(stmt)))
        return false;
    row.position = position;
    row.described = indexNameLength != SQL_NULL_DATA && columnNameLength != SQL_NULL_DATA &&
                    positionLength != SQL_NULL_DATA;
    return true;
}

}  // namespace

bool dbProbe(const char* schema, const char* table, const char* columns) {
    char text[kProbeTextSize];
    int length = std::snprintf(text, sizeof text, "SELECT %s FROM %s.%s WHERE 1 = 0", columns,
                               schema, table);
    if (length < 0 || static_cast<std::size_t>(length) >= sizeof text)
        return false;
    ExecOutcome outcome = execStatement(text, SqlValues(nullptr, 0));
    return outcome.sent && !outcome.failed;
}

bool dbReadIndexStatistics(const char* schema, const char* table, IndexStatisticsSink sink,
                           void* context) {
    StatementHandle stmt;
    if (!stmt.allocated()) {
        dbGetDiag(SQL_HANDLE_DBC, dbConnection);
        return false;
    }
    SQLRETURN rc = SQL_ERROR;
    dbClearDiag();
    {
        CallInFlight call(stmt.get());
        if (call.admitted())
            rc = SQLStatistics(stmt.get(), nullptr, 0, catalogText(schema), SQL_NTS,
                               catalogText(table), SQL_NTS, SQL_INDEX_ALL, SQL_QUICK);
    }
    if (!SQL_SUCCEEDED(rc)) {
        dbGetDiag(SQL_HANDLE_STMT, stmt.get());
        return false;
    }
    for (IndexStatisticsRow row = {}; fetchStatisticsRow(stmt.get(), row); row = {})
        sink(row, context);
    return true;
}
