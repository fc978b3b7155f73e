#include "db/results.h"

#include <cstring>

#include "db/db_system.h"
#include "db/time_limits.h"
#include "platform/text.h"

DiagRecord LastDiag;

int failureResult(int32_t native) {
    return native != 0 ? native : kResultFailed;
}

void dbClearDiag() {
    std::memset(&LastDiag, 0, sizeof LastDiag);
}

void dbGetDiag(SQLSMALLINT handleType, SQLHANDLE handle) {
    dbClearDiag();
    SQLINTEGER native = 0;
    SQLSMALLINT textLength = 0;
    SQLRETURN rc = SQLGetDiagRec(
        handleType, handle, 1, reinterpret_cast<SQLCHAR*>(LastDiag.SqlState), &native,
        reinterpret_cast<SQLCHAR*>(LastDiag.MessageText), sizeof LastDiag.MessageText, &textLength);
    if (!SQL_SUCCEEDED(rc)) {
        // Without a record the driver manager may still fill in "00000";
        // the record stays empty so that no stale state is reported.
        dbClearDiag();
    } else {
        LastDiag.NativeError = native;
        // Drivers terminate within the buffer, but a defensive terminator
        // keeps a misbehaving driver from leaving an unterminated text behind.
        LastDiag.SqlState[sizeof LastDiag.SqlState - 1] = '\0';
        LastDiag.MessageText[sizeof LastDiag.MessageText - 1] = '\0';
        describeTimeout(handleType, LastDiag.SqlState, LastDiag.TimeoutCause,
                        sizeof LastDiag.TimeoutCause);
    }
    LastDiag.Held = true;
}

bool isDuplicateKey(int result) {
    if (result == kResultFailed || result != DbErrorCodes.DuplicateKey)
        return false;
    // Some drivers give one native number to every server error (psqlODBC
    // reports 1, which is ORACLE's duplicate key, also for an encoding error
    // or a lock time-out); the SQLSTATE tells a key violation (class 23)
    // apart. LastDiag belongs to this failure only when it carries its number.
    if (LastDiag.NativeError != result)
        return false;
    return isEmptyText(LastDiag.SqlState) || std::strncmp(LastDiag.SqlState, "23", 2) == 0;
}
