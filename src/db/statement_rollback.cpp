#include "db/statement_rollback.h"

#include <odbcinst.h>
#include <strings.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "db/session.h"
#include "platform/text.h"

namespace {

// psqlODBC names itself by its library's file name: psqlodbca.so (ANSI),
// psqlodbcw.so (Unicode).
constexpr const char* kPsqlOdbcPrefix = "psqlodbc";
constexpr std::size_t kDriverNameWidth = 256;

// The one rollback level at which psqlODBC rolls back a failed statement
// alone (its default when Protocol names none).
constexpr long kStatementLevelRollback = 2;

bool driverIsPsqlOdbc() {
    char name[kDriverNameWidth] = {};
    SQLSMALLINT length = 0;
    if (!SQL_SUCCEEDED(SQLGetInfo(dbConnection, SQL_DRIVER_NAME, name, sizeof name, &length)))
        return false;
    const char* fileName = std::strrchr(name, '/');
    fileName = fileName != nullptr ? fileName + 1 : name;
    return strncasecmp(fileName, kPsqlOdbcPrefix, std::strlen(kPsqlOdbcPrefix)) == 0;
}

// The value of `key` in `section` of `file` ("odbc.ini" or "odbcinst.ini",
// found where unixODBC and the driver find them). False when it is not set.
// `cut` tells that the value fills the buffer: it may go on beyond it, and
// its cut start says nothing of what the driver reads ("000...01").
template <std::size_t N>
bool readProfileValue(const char* section, const char* key, const char* file, char (&value)[N],
                      bool& cut) {
    std::memset(value, 0, N);
    int length = SQLGetPrivateProfileString(section, key, "", value, static_cast<int>(N), file);
    value[N - 1] = '\0';
    cut = std::strlen(value) >= N - 1;
    return length > 0 && !isEmptyText(value);
}

// Fills `found` with `key` as psqlODBC takes it for `dataSource`: from the
// data source's section, else (`driverDefault`) from the section of its
// driver in odbcinst.ini. False when neither sets it.
bool findSetting(const char* dataSource, const char* key, bool driverDefault,
                 RollbackSetting& found) {
    std::memset(&found, 0, sizeof found);
    found.remedy = "";
    copyField(found.key, key);
    if (readProfileValue(dataSource, key, "odbc.ini", found.value, found.cut)) {
        std::snprintf(found.place, sizeof found.place, "odbc.ini [%s]", dataSource);
        return true;
    }
    char driver[kRollbackSettingPlaceWidth / 2];
    bool driverCut = false;
    if (!driverDefault || !readProfileValue(dataSource, "Driver", "odbc.ini", driver, driverCut) ||
        !readProfileValue(driver, key, "odbcinst.ini", found.value, found.cut))
        return false;
    std::snprintf(found.place, sizeof found.place, "odbcinst.ini [%s]", driver);
    return true;
}

// Numbers as psqlODBC reads them: leading digits (after blanks and a sign),
// 0 without any.
long leadingNumber(const char* text) {
    return std::strtol(text, nullptr, 10);
}

bool declareFetchOn(const char* dataSource, RollbackSetting& found) {
    if (!findSetting(dataSource, "UseDeclareFetch", true, found))
        return false;
    found.remedy = "set UseDeclareFetch=0 there";
    return found.cut || leadingNumber(found.value) != 0;
}

// Protocol is "<version>" or "<version>-<rollback level>"; psqlODBC takes
// the level from the text after the first '-'.
bool rollbackLevelChanged(const char* dataSource, RollbackSetting& found) {
    if (!findSetting(dataSource, "Protocol", false, found))
        return false;
    found.remedy = "drop the rollback level (\"-N\") from Protocol there";
    const char* level = std::strchr(found.value, '-');
    if (found.cut)
        return true;
    return level != nullptr && leadingNumber(level + 1) != kStatementLevelRollback;
}

}  // namespace

int dbFindUnsafeRollbackSetting(const char* dataSource, RollbackSetting& found) {
    std::memset(&found, 0, sizeof found);
    found.remedy = "";
    if (!driverIsPsqlOdbc())
        return kStatementRollbackSafe;
    if (declareFetchOn(dataSource, found) || rollbackLevelChanged(dataSource, found))
        return kStatementRollbackUnsafe;
    return kStatementRollbackSafe;
}
