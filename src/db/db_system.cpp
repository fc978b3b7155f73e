#include "db/db_system.h"

#include <cstring>

#include "settings/settings.h"

DbErrorCodeTable DbErrorCodes = {100, -1, -1, -1, -1};

namespace {

struct DbSystemCodes {
    const char* name;
    DbErrorCodeTable codes;
};

constexpr DbSystemCodes kDbSystems[] = {
    {"ORACLE", {100, 1, 904, 942, 10001}},
    {"MSSQL", {100, 2627, 207, 208, -1}},
    {"MYSQL", {100, -1, -1, -1, -1}},
};

}  // namespace

const DbErrorCodeTable* dbSystemCodes(const char* name) {
    for (const DbSystemCodes& system : kDbSystems) {
        if (std::strcmp(system.name, name) == 0)
            return &system.codes;
    }
    return nullptr;
}

bool dbSystemIs(const char* name) {
    return std::strcmp(Settings.dbSystem, name) == 0;
}
