// The DB systems the program connects to ("ORACLE", "MSSQL", "MYSQL", in
// capitals, compared exactly) and the native error numbers of each.
#pragma once

#include <cstdint>

struct DbErrorCodeTable {
    int32_t NotFound;
    int32_t DuplicateKey;
    int32_t InvalidColumn;
    int32_t TableNotFound;
    int32_t Reserved;
};
// Native numbers the callers compare results with; set by dbConnect.
extern DbErrorCodeTable DbErrorCodes;

// The error numbers of the DB system `name`; nullptr for any other name.
const DbErrorCodeTable* dbSystemCodes(const char* name);

// True when `name` is one of the DB systems.
inline bool dbSystemKnown(const char* name) {
    return dbSystemCodes(name) != nullptr;
}

// The configured DB system (Settings.dbSystem) is `name`.
bool dbSystemIs(const char* name);
