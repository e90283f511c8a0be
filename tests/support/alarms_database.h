#pragma once

#include <sqlite3.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

namespace testing_support {

// Creates an alarms database from the schema shipped in the repository; false on any failure.
inline bool CreateAlarmsDatabase(const std::string& path)
{
    const char* source = std::getenv("FLOWTALLY_SOURCE_DIR");
    if (!source)
        return false;
    std::ifstream file(std::string(source) + "/schema/alarms.sql");
    std::stringstream schema;
    schema << file.rdbuf();
    if (schema.str().empty())
        return false;
    sqlite3* db = nullptr;
    bool created = sqlite3_open(path.c_str(), &db) == SQLITE_OK &&
                   sqlite3_exec(db, schema.str().c_str(), nullptr, nullptr, nullptr) == SQLITE_OK;
    sqlite3_close(db);
    return created;
}

}  // namespace testing_support
