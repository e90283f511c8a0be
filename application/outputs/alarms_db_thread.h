#pragma once

#include <chrono>
#include <cstddef>
#include <ctime>
#include <mutex>
#include <string>

#include <soci/soci.h>

#include "application/runtime/base_thread.h"
#include "application/runtime/bounded_buffer.h"

class ThreadManager;

// Owns the SQLite alarms database and executes, one at a time and in arrival order, the
// statements other threads queue for it. Apart from the start-up sequence (before alarms flow)
// no other thread touches the database.
class AlarmsDbThread : public BaseThread {
public:
    enum PassType : int {
        kIncomingPass = 0,
        kOutgoingPass = 1,
    };

    struct Statement {
        bool is_insert = false;              // an alarm row to insert; else the update of an object's rows
        long long object_id = 0;             // without the object-id base
        PassType pass_type = kIncomingPass;  // inserts only
        std::tm local_time{};                // inserts only
        int object_height = 0;               // inserts only
    };

    static constexpr std::size_t kQueueCapacity = 100;

    static const char kInsertCmd[];
    static const char kUpdateCmd[];
    static const char kMaxObjectIdQry[];
    static const char kAlarmsCountQry[];
    static const char kIncomingStr[];
    static const char kOutgoingStr[];

    // Opens the database and reads the object-id base. Throws soci::soci_error on failure.
    AlarmsDbThread(const std::string& database_path, const std::string& name, int max_page_count,
                   ThreadManager& manager);

    // Each queues one statement and returns true, or returns false, queuing nothing, while the
    // queue is full. Callable from any thread.
    bool Insert(long long object_id, PassType pass_type, const std::tm& local_time, int object_height);
    bool Update(long long object_id);
    bool InsertOrUpdate(const Statement& statement);

    // The number of objects recorded as having left the scene in that direction at or after the
    // start ("%Y-%m-%d", "%H:%M:%S"). For start-up, before alarms flow; runs on the caller's thread.
    long long GetAlarmsCount(PassType pass_type, const std::string& start_date, const std::string& start_time);
    // The largest object id stored, 0 for an empty table.
    long long GetMaxObjectId();

    static const char* PassTypeToString(PassType pass_type);

    // Logs the error and raises the "db_error" marker where due; true when the statement may
    // simply be dropped (the database has reached its page limit).
    bool HandleDatabaseError(const soci::soci_error& error);

protected:
    void ThreadFunc() override;

private:
    // Runs one statement. False when the database is busy and the statement must be tried again;
    // throws on an error that is not excused.
    bool Execute(const Statement& statement);
    void ExecuteInsert(const Statement& statement, long long object_id);
    void ExecuteUpdate(long long object_id);
    // Executes what is still queued at stop, within a time limit.
    void Drain(Statement& statement, bool pending);
    bool IsAtPageLimit();

    soci::session m_session;
    util::bounded_buffer<Statement> m_statements;
    int m_max_page_count;
    long long m_object_id_base = 0;

    std::mutex m_push_mutex;      // makes the room test and the push of producers one step
    bool m_full_episode = false;  // the page limit has been met and reported; cleared by a success
    bool m_busy_episode = false;  // a busy database has been reported; cleared by a success
};
