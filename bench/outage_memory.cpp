// outage_memory: how much of the process's resident memory the statements take that wait for the
// alarms database, and how much of it stays once they are stored. A measurement, not a benchmark
// and not a test (scripts/measure-outage-memory.sh runs it).
//
//   outage_memory [--statements 180000] [--dir DIR]
//
// Creates a fresh alarms database (schema/alarms.sql, found from this file) in DIR (default the
// temporary directory), starts the database thread on it as the service does, and holds the
// file's write lock from a second connection, as another program would: every statement waits.
// Then it queues the statements from another thread as the alarm slot does, one object after
// the other (its pass, then its update when it leaves), releases the lock and waits until every
// row and update is stored. Prints the resident memory (VmRSS) at start, with every statement
// waiting, and 1 s after the last one was stored.

#include <sqlite3.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>

#include "application/outputs/alarms_db_thread.h"
#include "application/runtime/thread_manager.h"
#include "application/runtime/util.h"
#include "tests/support/alarms_database.h"

namespace {

using testing_support::Connection;

long ResidentKb()
{
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("VmRSS:", 0) == 0)
            return std::stol(line.substr(6));
    return 0;
}

std::string ReadFile(const std::filesystem::path& path)
{
    std::ifstream file(path);
    if (!file)
        throw std::runtime_error("Can not read " + path.string());
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

int Run(int argc, char** argv)
{
    long statements = 180000;
    std::filesystem::path dir = std::filesystem::temp_directory_path();
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string option = argv[i];
        if (option == "--statements")
            statements = std::stol(argv[i + 1]);
        else if (option == "--dir")
            dir = argv[i + 1];
        else
            throw std::runtime_error("Unknown option: " + option);
    }
    if (statements < 2 || statements > static_cast<long>(AlarmsDbThread::kQueueLimit))
        throw std::runtime_error("--statements must be 2.." + std::to_string(AlarmsDbThread::kQueueLimit));
    const long objects = statements / 2;
    const std::filesystem::path path = dir / ("outage_memory_" + std::to_string(::getpid()) + ".sqlite");
    std::filesystem::remove(path);
    Connection other(path.string());
    other.Exec(ReadFile(std::filesystem::path(__FILE__).parent_path() / "../schema/alarms.sql"));
    // The other program's page cache is not the service's memory: it is kept to a page.
    other.Exec("PRAGMA cache_size = 1");

    {
        ThreadManager manager;
        auto db = manager.CreateThread<AlarmsDbThread>(path.string(), "alarms", 250000);
        other.Exec("BEGIN EXCLUSIVE");
        const long at_start = ResidentKb();
        std::thread slot([&] {
            for (long object = 1; object <= objects; ++object) {
                const std::tm now = util::localtime();
                while (!db->Insert(object, AlarmsDbThread::kIncomingPass, now, 170) || !db->Update(object))
                    std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
        });
        slot.join();
        const long waiting = ResidentKb();
        const auto released = std::chrono::steady_clock::now();
        other.Exec("COMMIT");
        while (other.Count("Object_attributes IS NOT NULL") < objects)
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - released).count();
        std::this_thread::sleep_for(std::chrono::seconds(1));
        const long stored = ResidentKb();
        std::printf("%ld statements of %zu bytes (%.1f MB) stored in %.1f s\n", 2 * objects,
                    sizeof(AlarmsDbThread::Statement), 2.0 * objects * sizeof(AlarmsDbThread::Statement) / 1e6,
                    seconds);
        std::printf("resident memory: at start %ld kB, all waiting %ld kB (+%ld kB), stored %ld kB (+%ld kB)\n",
                    at_start, waiting, waiting - at_start, stored, stored - at_start);
    }
    std::filesystem::remove(path);
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    try {
        return Run(argc, argv);
    } catch (const std::exception& error) {
        std::cerr << "outage_memory: " << error.what() << "\n";
        return 2;
    }
}
