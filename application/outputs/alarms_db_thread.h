#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <ctime>
#include <functional>
#include <mutex>
#include <string>

#include <soci/soci.h>

#include "application/runtime/base_thread.h"
#include "application/runtime/bounded_buffer.h"

class ThreadManager;

// Owns the SQLite alarms database and executes, one at a time and in arrival order, the
// statements other threads queue for it. Apart from the start-up sequence (before alarms flow)
// no other thread touches the database.
//
// A database that refuses writes for its own state (read-only, disk full, table missing, file
// replaced, locked) keeps the statement and those behind it queued and is tried again, reopened,
// after a pause that grows up to a few seconds; the "db_error" marker stands meanwhile. A
// statement refused for its own content is logged with its row and dropped. At stop the queue is
// stored first; what cannot be stored is logged with its row, so no pass exists nowhere.
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
        std::tm local_time{};                // when the alarm came; all zero: when the statement runs
        int object_height = 0;               // inserts only
    };

    static constexpr std::size_t kQueueCapacity = 100;

    static const char kInsertCmd[];
    static const char kUpdateCmd[];
    static const char kMaxObjectIdQry[];
    static const char kAlarmsCountQry[];
    static const char kIncomingStr[];
    static const char kOutgoingStr[];

    // Receives the incoming and outgoing counts asked for with RequestTotals.
    using TotalsCallback = std::function<void(long long incoming, long long outgoing)>;

    // Opens the database and reads the object-id base. Throws soci::soci_error on failure, except
    // for a database locked by another connection: the thread then reads it again until it is
    // free (IsReady), keeping the statements queued meanwhile.
    AlarmsDbThread(const std::string& database_path, const std::string& name, int max_page_count,
                   ThreadManager& manager);

    // Each queues one statement and returns true, or returns false, queuing nothing, while the
    // queue is full or once the thread has ended (see CanTakeStatements). Callable from any thread.
    bool Insert(long long object_id, PassType pass_type, const std::tm& local_time, int object_height);
    // The update is stamped with the local time of this call.
    bool Update(long long object_id);
    bool InsertOrUpdate(const Statement& statement);
    // False once the thread has ended, or while the service stops and the database refuses
    // writes: a statement waiting for room would then never be stored. Any thread.
    bool CanTakeStatements();
    // Logs a statement that will never be stored with its whole row ("not stored: ..."). Any thread.
    void ReportNotStored(const Statement& statement);

    // The number of objects recorded as having left the scene in that direction at or after the
    // start ("%Y-%m-%d", "%H:%M:%S"). For start-up, before alarms flow; runs on the caller's thread.
    long long GetAlarmsCount(PassType pass_type, const std::string& start_date, const std::string& start_time);
    // The largest object id stored, 0 for an empty table.
    long long GetMaxObjectId();

    // The start-up reads are done and statements are executed. Any thread.
    bool IsReady() const { return m_ready.load(); }
    // For a database that was locked at start: the thread counts as GetAlarmsCount does once the
    // database is free and hands both counts to `on_totals`, on its own thread. Any thread.
    void RequestTotals(const std::string& start_date, const std::string& start_time, TotalsCallback on_totals);

    // Another connection holds the lock: not a fault of the database itself.
    static bool IsLockedError(const soci::soci_error& error);

    static const char* PassTypeToString(PassType pass_type);

    // Logs the error and raises the "db_error" marker where due; true when the statement may
    // simply be dropped (the database has reached its page limit).
    bool HandleDatabaseError(const soci::soci_error& error);

protected:
    void ThreadFunc() override;

private:
    enum class Outcome {
        kDone,      // stored, or dropped for good (and reported)
        kBusy,      // another connection holds the lock: try again soon
        kRefused,   // the database refuses writes for its state: try again after a growing pause
    };

    // Runs one statement and decides what its failure means.
    Outcome Execute(const Statement& statement);
    void ExecuteInsert(const Statement& statement, long long object_id);
    void ExecuteUpdate(const Statement& statement, long long object_id);
    // A write succeeded: the episodes of refused writes are over.
    void OnWriteAccepted(bool insert);
    // Opens the database anew (after the file was replaced or made writable again).
    void Reconnect();
    // SQLite waits for a lock held by another connection in short steps: up to its time-out while
    // the thread runs, briefly once it is stopping.
    void WaitForLocksInSteps();
    static int OnBusy(void* context, int attempt);
    // Executes what is still queued at stop, within a time limit, and logs what is left.
    void Drain(Statement& statement, bool pending);
    // The statement as the row it would store (or the update it would make).
    std::string RowText(const Statement& statement) const;
    // The start-up reads; false while another connection holds the lock.
    bool ReadStartState();
    // Finishes what a lock put off at start (the start-up reads, the requested totals); false
    // while the database is still locked or once it has been given up.
    bool CompleteStart();
    bool IsAtPageLimit();

    const std::string m_database_path;
    soci::session m_session;
    util::bounded_buffer<Statement> m_statements;
    int m_max_page_count;
    long long m_object_id_base = 0;

    std::atomic<bool> m_ready{false};
    std::atomic<bool> m_given_up{false};  // a put-off start failed for good: statements are dropped

    std::mutex m_totals_mutex;  // guards the totals request
    bool m_totals_requested = false;
    std::string m_totals_date;
    std::string m_totals_time;
    TotalsCallback m_on_totals;

    std::mutex m_push_mutex;  // makes the room test and the push of producers one step
    bool m_closed = false;    // the thread has ended: nothing is queued any more (under m_push_mutex)
    std::atomic<bool> m_refusing{false};  // the last write was refused for the database's state

    // Used on this thread only.
    bool m_full_episode = false;     // the page limit has been met and reported; ended by an insert
    bool m_busy_episode = false;     // a busy database has been reported; ended by a success
    bool m_refused_episode = false;  // writes are refused for the file's state; ended by a success
    std::string m_refusal_reported;  // the last refusal's message, logged once
    bool m_marker_raised = false;    // "db_error" stands for one of the episodes above
};
