#pragma once

#include <sqlite3.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

// A file that includes SOCI's SQLite back end first has the SQLite C interface inside the
// namespace sqlite_api (the back end wraps <sqlite3.h>); elsewhere it is at global scope.
#ifdef SOCI_SQLITE3_H_INCLUDED
namespace testing_support {
using namespace sqlite_api;
}
#endif

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

using Rows = std::vector<std::vector<std::string>>;

// A second connection to the database file, as another program would open it.
class Connection {
public:
    explicit Connection(const std::string& path)
    {
        if (sqlite3_open(path.c_str(), &m_db) != SQLITE_OK)
            throw std::runtime_error("cannot open " + path);
        sqlite3_busy_timeout(m_db, 5000);
    }
    ~Connection() { sqlite3_close(m_db); }
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    void Exec(const std::string& sql)
    {
        char* message = nullptr;
        if (sqlite3_exec(m_db, sql.c_str(), nullptr, nullptr, &message) != SQLITE_OK) {
            const std::string text = message ? message : "unknown error";
            sqlite3_free(message);
            throw std::runtime_error(sql + ": " + text);
        }
    }

    // Every value as text, "NULL" for a null.
    Rows Query(const std::string& sql)
    {
        Rows rows;
        sqlite3_stmt* statement = nullptr;
        if (sqlite3_prepare_v2(m_db, sql.c_str(), -1, &statement, nullptr) != SQLITE_OK)
            throw std::runtime_error(sql + ": " + sqlite3_errmsg(m_db));
        int result;
        while ((result = sqlite3_step(statement)) == SQLITE_ROW) {
            std::vector<std::string> row;
            for (int column = 0; column < sqlite3_column_count(statement); ++column) {
                const unsigned char* value = sqlite3_column_text(statement, column);
                row.push_back(value ? reinterpret_cast<const char*>(value) : "NULL");
            }
            rows.push_back(row);
        }
        sqlite3_finalize(statement);
        if (result != SQLITE_DONE)
            throw std::runtime_error(sql + ": " + sqlite3_errmsg(m_db));
        return rows;
    }

    long long Count(const std::string& where = "1")
    {
        return std::stoll(Query("SELECT COUNT(*) FROM Alarms WHERE " + where).at(0).at(0));
    }

private:
    sqlite3* m_db = nullptr;
};

}  // namespace testing_support
