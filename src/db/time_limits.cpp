#include "db/time_limits.h"

#include <sql.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "log/console.h"
#include "platform/stop_signal.h"
#include "platform/text.h"

DbTimeLimitTable DbTimeLimits = {kDefaultLoginTimeoutSeconds, kDefaultStatementTimeoutSeconds};

namespace {

// The limit that `variable` gives, or `fallback` when it gives none.
long limitFromEnvironment(const char* variable, long fallback) {
    const char* text = std::getenv(variable);
    if (text == nullptr || isEmptyText(text))
        return fallback;
    long seconds = fallback;
    if (!parseTimeoutSeconds(text, &seconds)) {
        consoleLine("%s='%s' is not a number of seconds from 0 to %ld; using %ld", variable, text,
                    kLongestTimeoutSeconds, fallback);
    }
    return seconds;
}

}  // namespace

bool parseTimeoutSeconds(const char* text, long* seconds) {
    long value = 0;
    if (isEmptyText(text))
        return false;
    for (const char* p = text; *p != '\0'; ++p) {
        if (*p < '0' || *p > '9')
            return false;
        value = value * 10 + (*p - '0');
        if (value > kLongestTimeoutSeconds)
            return false;
    }
    *seconds = value;
    return true;
}

void dbReadTimeLimits() {
    DbTimeLimits.loginSeconds =
        limitFromEnvironment(kLoginTimeoutVariable, kDefaultLoginTimeoutSeconds);
    DbTimeLimits.statementSeconds =
        limitFromEnvironment(kStatementTimeoutVariable, kDefaultStatementTimeoutSeconds);
}

bool describeTimeout(short handleType, const char* sqlState, char* out, std::size_t outSize) {
    if (outSize == 0)
        return false;
    out[0] = '\0';
    bool odbcTimeout = std::strcmp(sqlState, "HYT00") == 0 || std::strcmp(sqlState, "HYT01") == 0;
    bool serverCancel = std::strcmp(sqlState, "57014") == 0 && platformStopSignal() == 0;
    if (!odbcTimeout && !serverCancel)
        return false;
    if (handleType == SQL_HANDLE_DBC) {
        std::snprintf(out, outSize, "timed out (login time-out of %ld s)",
                      DbTimeLimits.loginSeconds);
    } else {
        std::snprintf(out, outSize, "timed out (statement time-out of %ld s)",
                      DbTimeLimits.statementSeconds);
    }
    return true;
}
