#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <ctime>
#include <deque>
#include <functional>
#include <mutex>
#include <string>

#include <soci/soci.h>

#include "application/runtime/base_thread.h"

class ThreadManager;

// Owns the SQLite alarms database and executes, one at a time and in arrival order, the
// statements other threads queue for it. Apart from the start-up sequence (before alarms flow)
// no other thread touches the database.
//
// Nobody waits for the database: statements wait in memory, in arrival order, up to a bound that
// holds a day of passes at a busy door (see kQueueLimit). A database that refuses writes for its
// own state (read-only, disk full, table missing, file replaced, locked) keeps the statement and
// those behind it queued and is tried again, reopened, after a pause that grows up to a few
// seconds. Each failed database operation raises the "db_error" marker anew, but for a lock held
// by another connection and for the page limit; the service never removes the marker (whoever
// handles it does). Every statement that is not stored is logged with its row ("not stored:
// ..."): one refused for its own content, one refused at the page limit, and, at the stop, those
// still queued once the producers have ended and the database still refuses them. So each pass
// is either stored or named in the log.
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

    // The statements that may wait for the database. A busy door, taken as one pass every second
    // around the clock, gives 86,400 passes a day, each an insert and, when its object leaves, at
    // most one update: 172,800 statements. A statement takes sizeof(Statement) bytes (88 on
    // x86-64, 72 on 32-bit ARM) in the queue's blocks: about 16 MB or 13 MB when full. Once many
    // have waited, the memory is handed back to the system as soon as the queue is empty again.
    static constexpr std::size_t kQueueLimit = 180000;
    // Once this many statements have waited (a quarter of an hour's outage at a busy door), the
    // memory is handed back to the system when the queue is empty again: the C library would keep
    // it for later use, up to the 16 MB of a full queue.
    static constexpr std::size_t kReturnMemoryAfter = 1000;

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
    // free (IsReady), keeping the statements queued meanwhile. `queue_limit`: see kQueueLimit.
    AlarmsDbThread(const std::string& database_path, const std::string& name, int max_page_count,
                   std::size_t queue_limit, ThreadManager& manager);
    AlarmsDbThread(const std::string& database_path, const std::string& name, int max_page_count,
                   ThreadManager& manager);

    // Each takes one statement without waiting and returns true: it is queued, or, when it can
    // never be stored (the thread has ended, or the database was given up at start), logged as
    // "not stored" at once. False only while the queue holds its limit: nothing is queued or
    // logged, and the caller names the pass. Callable from any thread.
    bool Insert(long long object_id, PassType pass_type, const std::tm& local_time, int object_height);
    // The update is stamped with the local time of this call.
    bool Update(long long object_id);
    bool InsertOrUpdate(const Statement& statement);
    // Logs a statement that will never be stored with its whole row ("not stored: ..."). Any thread.
    void ReportNotStored(const Statement& statement);
    // The row a statement stores (or the update it makes) as the "not stored" line gives it; the
    // object id with the base when it is known (null: not read).
    static std::string RowText(const Statement& statement, const long long* object_id_base);

    // The number of objects recorded as having left the scene in that direction at or after the
    // start ("%Y-%m-%d", "%H:%M:%S"). For start-up, before alarms flow; runs on the caller's thread.
    long long GetAlarmsCount(PassType pass_type, const std::string& start_date, const std::string& start_time);
    // The largest object id stored, 0 for an empty table.
    long long GetMaxObjectId();

    // The start-up reads are done and statements are executed. Any thread.
    bool IsReady() const { return m_ready.load(); }
    // The statements queued and not yet stored, the one being executed among them. Any thread.
    std::size_t WaitingStatements();
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

    // The thread body without its failure handling.
    void StoreStatements();
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
    // Waits up to `timeout` for the oldest statement and takes it. The statement keeps its place
    // in the queue's limit until FinishStatement: a refused statement being tried again makes no
    // room for a newer one.
    bool TakeStatement(Statement& statement, std::chrono::milliseconds timeout);
    // Once many statements have waited and none is left, hands the queue's memory back.
    void FinishStatement();
    // A pause between tries: until the stop request, then until the producers have ended. False
    // when the pause was cut short that way.
    bool Pause(std::chrono::steady_clock::duration duration);
    // Executes what is still queued at stop, within a time limit, and logs what is left.
    void Drain(Statement& statement, bool pending);
    // Takes no statement any more and logs those still queued.
    void CloseQueue();
    // The start-up reads; false while another connection holds the lock.
    bool ReadStartState();
    // Finishes what a lock put off at start (the start-up reads, the requested totals); false
    // while the database is still locked or once it has been given up.
    bool CompleteStart();
    bool IsAtPageLimit();

    const std::string m_database_path;
    soci::session m_session;
    int m_max_page_count;
    long long m_object_id_base = 0;

    std::atomic<bool> m_ready{false};
    std::atomic<bool> m_given_up{false};  // a put-off start failed for good: statements are dropped

    std::mutex m_totals_mutex;  // guards the totals request
    bool m_totals_requested = false;
    std::string m_totals_date;
    std::string m_totals_time;
    TotalsCallback m_on_totals;

    const std::size_t m_queue_limit;
    std::mutex m_queue_mutex;  // guards the statements and m_closed
    std::condition_variable m_queue_changed;
    std::deque<Statement> m_statements;
    std::size_t m_most_waiting = 0;  // the most statements queued since the queue was last empty
    bool m_taken = false;   // a statement taken from the queue is being executed
    bool m_closed = false;  // nothing is queued any more: the thread ends or has ended

    // Used on this thread only.
    bool m_full_episode = false;     // the page limit has been met and reported; ended by an insert
    bool m_busy_episode = false;     // a busy database has been reported; ended by a success
    bool m_refused_episode = false;  // writes are refused for the file's state; ended by a success
    std::string m_refusal_reported;  // the last refusal's message, logged once
};
