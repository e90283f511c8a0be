#include "application/outputs/alarms_db_thread.h"

#include <ctime>
#include <stdexcept>
#include <thread>

// Also brings the SQLite result codes (SQLITE_BUSY, SQLITE_FULL).
#include <soci/sqlite3/soci-sqlite3.h>

#include "application/runtime/file_error_handler.h"
#include "application/runtime/util.h"

namespace {

// How long SQLite itself waits for a lock held by another connection, in milliseconds.
constexpr int kConnectionTimeoutMs = 5000;
constexpr auto kStatementWait = std::chrono::milliseconds(50);
// Pause before a statement refused by a busy database is tried again.
constexpr auto kBusyRetryPause = std::chrono::milliseconds(50);
// How long statements still queued at stop may take to be stored.
constexpr auto kDrainTimeout = std::chrono::seconds(5);

const char kDbErrorMarker[] = "db_error";

// The SQLite result code carried by the error, or -1 when it does not come from SQLite.
int ResultCode(const soci::soci_error& error)
{
    const auto* sqlite_error = dynamic_cast<const soci::sqlite3_soci_error*>(&error);
    return sqlite_error ? (sqlite_error->result() & 0xFF) : -1;
}

bool IsBusy(const soci::soci_error& error)
{
    return ResultCode(error) == SQLITE_BUSY;
}

// The database file has no room left (it may have reached its page limit).
bool IsFull(const soci::soci_error& error)
{
    return ResultCode(error) == SQLITE_FULL ||
           error.get_error_message().find("database or disk is full") != std::string::npos;
}


std::string FormatTm(const std::tm& time, const char* format)
{
    char buffer[15] = {};
    std::strftime(buffer, sizeof(buffer), format, &time);
    return buffer;
}

std::string ConnectionText(const std::string& database_path)
{
    // The back end splits its parameters at blanks; a path containing one is quoted.
    const std::string db = database_path.find(' ') == std::string::npos ? database_path : "\"" + database_path + "\"";
    // The back end takes the time-out in whole seconds.
    return "db=" + db + " timeout=" + std::to_string(kConnectionTimeoutMs / 1000);
}

// Prepares and executes one statement with its bindings; true when a row was read. (Built on
// soci::statement rather than the session's stream syntax, whose helper classes keep their
// run-time type information inside the SOCI library, out of reach of the type sanitizer.)
template <typename... Exchanges>
bool RunStatement(soci::session& session, const std::string& query, const Exchanges&... exchanges)
{
    soci::statement statement(session);
    (statement.exchange(exchanges), ...);
    statement.alloc();
    statement.prepare(query, soci::details::st_one_time_query);
    statement.define_and_bind();
    return statement.execute(true);
}

}  // namespace

const char AlarmsDbThread::kInsertCmd[] =
    "INSERT INTO Alarms (Object_id,Alarm_type,Alarm_date,Alarm_time,Object_height)"
    "VALUES (:id, :type, :date, :time, :object_height)";

const char AlarmsDbThread::kUpdateCmd[] =
    "UPDATE Alarms SET Object_attributes=coalesce(Object_attributes,'') || '\"1\",' ,"
    "\tAlarm_date = :date, Alarm_time = :time,"
    "\tPass_type = ("
    "\t\tSELECT"
    "\t\t\tmin(1,max(-1,ObjState))"
    "\t\t\t* (Alarms.Alarm_id = Max_alarm_id)"
    "\t\tFROM("
    "\t\t\tSELECT"
    "\t\t\t\tMAX(A2.Alarm_id) AS Max_alarm_id,"
    "\t\t\t\tSUM(CASE WHEN A2.Alarm_type='Incoming' THEN 1 ELSE -1 END) AS ObjState"
    "\t\t\tFROM Alarms AS A2"
    "\t\t\tWHERE A2.Object_id == Alarms.Object_id"
    "\t\t)"
    "\t)"
    "\tWHERE Object_id = :id";

const char AlarmsDbThread::kMaxObjectIdQry[] = "SELECT MAX(Object_id) FROM Alarms";

const char AlarmsDbThread::kAlarmsCountQry[] =
    "SELECT COUNT() FROM Alarms WHERE (Pass_type = :type) AND "
    "(Alarm_date > :date OR (Alarm_date = :date AND Alarm_time >= :time))";

const char AlarmsDbThread::kIncomingStr[] = "Incoming";
const char AlarmsDbThread::kOutgoingStr[] = "Outgoing";

AlarmsDbThread::AlarmsDbThread(const std::string& database_path, const std::string& name, int max_page_count,
                               ThreadManager& manager)
    : BaseThread(name, manager), m_statements(kQueueCapacity), m_max_page_count(max_page_count)
{
    try {
        m_session.open(soci::sqlite3, ConnectionText(database_path));
    } catch (const soci::soci_error& error) {
        HandleDatabaseError(error);
        throw;
    }
    if (!ReadStartState())
        LOG(GetLogger(), warning) << "Alarms database is locked, it is read again when it is free";
}

bool AlarmsDbThread::IsLockedError(const soci::soci_error& error)
{
    return IsBusy(error) || error.get_error_message() == "database is locked";
}

bool AlarmsDbThread::ReadStartState()
{
    try {
        RunStatement(m_session, "PRAGMA max_page_count = " + std::to_string(m_max_page_count));
        m_object_id_base = GetMaxObjectId();
    } catch (const soci::soci_error& error) {
        if (IsLockedError(error))
            return false;
        HandleDatabaseError(error);
        throw;
    }
    m_ready.store(true);
    return true;
}

void AlarmsDbThread::RequestTotals(const std::string& start_date, const std::string& start_time,
                                   TotalsCallback on_totals)
{
    std::lock_guard<std::mutex> lock(m_totals_mutex);
    m_totals_requested = true;
    m_totals_date = start_date;
    m_totals_time = start_time;
    m_on_totals = std::move(on_totals);
}

bool AlarmsDbThread::CompleteStart()
{
    if (m_given_up.load())
        return false;
    try {
        if (!m_ready.load() && !ReadStartState())
            return false;
        std::string date;
        std::string time;
        TotalsCallback on_totals;
        {
            std::lock_guard<std::mutex> lock(m_totals_mutex);
            if (!m_totals_requested)
                return true;
            date = m_totals_date;
            time = m_totals_time;
            on_totals = m_on_totals;
        }
        const long long incoming = GetAlarmsCount(kIncomingPass, date, time);
        const long long outgoing = GetAlarmsCount(kOutgoingPass, date, time);
        {
            std::lock_guard<std::mutex> lock(m_totals_mutex);
            m_totals_requested = false;
            m_on_totals = nullptr;
        }
        if (on_totals)
            on_totals(incoming, outgoing);
        LOG(GetLogger(), info) << "Alarms database is free again";
        return true;
    } catch (const soci::soci_error& error) {
        if (IsLockedError(error))
            return false;
        // The database cannot be used (e.g. it has no table): count on without storing.
        LOG(GetLogger(), error) << "Alarms database unavailable, passes will not be stored: " << error.what();
        m_given_up.store(true);
        m_statements.clear();
        return false;
    }
}

bool AlarmsDbThread::Insert(long long object_id, PassType pass_type, const std::tm& local_time, int object_height)
{
    Statement statement;
    statement.is_insert = true;
    statement.object_id = object_id;
    statement.pass_type = pass_type;
    statement.local_time = local_time;
    statement.object_height = object_height;
    return InsertOrUpdate(statement);
}

bool AlarmsDbThread::Update(long long object_id)
{
    Statement statement;
    statement.object_id = object_id;
    return InsertOrUpdate(statement);
}

bool AlarmsDbThread::InsertOrUpdate(const Statement& statement)
{
    // A full queue would overwrite its oldest statement: refuse instead. Only this thread removes
    // statements, so the room found here is still there at the push.
    // A database given up takes the statement and stores nothing, so no caller waits for it.
    if (m_given_up.load())
        return true;
    std::lock_guard<std::mutex> lock(m_push_mutex);
    if (m_statements.is_full())
        return false;
    m_statements.push_back(statement);
    return true;
}

long long AlarmsDbThread::GetAlarmsCount(PassType pass_type, const std::string& start_date,
                                         const std::string& start_time)
{
    try {
        int type = pass_type == kIncomingPass ? 1 : -1;
        long long count = 0;
        RunStatement(m_session, kAlarmsCountQry, soci::use(type, "type"), soci::use(start_date, "date"),
                     soci::use(start_time, "time"), soci::into(count));
        return count;
    } catch (const soci::soci_error& error) {
        HandleDatabaseError(error);
        throw;
    }
}

long long AlarmsDbThread::GetMaxObjectId()
{
    try {
        long long value = 0;
        soci::indicator indicator = soci::i_null;
        if (!RunStatement(m_session, kMaxObjectIdQry, soci::into(value, indicator)) || indicator == soci::i_null)
            return 0;
        return value;
    } catch (const soci::soci_error& error) {
        HandleDatabaseError(error);
        throw;
    }
}

const char* AlarmsDbThread::PassTypeToString(PassType pass_type)
{
    switch (pass_type) {
        case kIncomingPass:
            return kIncomingStr;
        case kOutgoingPass:
            return kOutgoingStr;
    }
    throw std::runtime_error("Wrong PassType!");
}

bool AlarmsDbThread::IsAtPageLimit()
{
    try {
        int page_count = 0;
        soci::indicator page_indicator = soci::i_null;
        if (!RunStatement(m_session, "PRAGMA page_count", soci::into(page_count, page_indicator)) ||
            page_indicator == soci::i_null || page_count < m_max_page_count)
            return false;
        int free_pages = 0;
        soci::indicator free_indicator = soci::i_null;
        return RunStatement(m_session, "PRAGMA freelist_count", soci::into(free_pages, free_indicator)) &&
               free_indicator != soci::i_null && free_pages == 0;
    } catch (const soci::soci_error& error) {
        LOG(GetLogger(), error) << "Failed to check pages count: " << error.what();
        return false;
    }
}

bool AlarmsDbThread::HandleDatabaseError(const soci::soci_error& error)
{
    const bool full = IsFull(error);
    // While the database stays at its page limit the error is reported once, not for every alarm.
    const bool reported = full && m_full_episode;
    if (!reported)
        LOG(GetLogger(), error) << "Database error: " << error.what();
    if (full && IsAtPageLimit()) {
        if (!m_full_episode) {
            FileErrorHandler::SetError(kDbErrorMarker);
            m_full_episode = true;
        }
        return true;
    }
    if (reported)
        LOG(GetLogger(), error) << "Database error: " << error.what();
    if (!IsLockedError(error))
        FileErrorHandler::SetError(kDbErrorMarker);
    return false;
}

void AlarmsDbThread::ExecuteInsert(const Statement& statement, long long object_id)
{
    const std::string type = PassTypeToString(statement.pass_type);
    const std::string date = FormatTm(statement.local_time, "%Y-%m-%d");
    const std::string time = FormatTm(statement.local_time, "%H:%M:%S");
    int height = statement.object_height;
    RunStatement(m_session, kInsertCmd, soci::use(object_id, "id"), soci::use(type, "type"),
                 soci::use(height, "object_height"), soci::use(date, "date"), soci::use(time, "time"));
}

void AlarmsDbThread::ExecuteUpdate(long long object_id)
{
    const std::tm local = util::localtime();
    const std::string date = FormatTm(local, "%Y-%m-%d");
    const std::string time = FormatTm(local, "%H:%M:%S");
    RunStatement(m_session, kUpdateCmd, soci::use(object_id, "id"), soci::use(date, "date"), soci::use(time, "time"));
}

bool AlarmsDbThread::Execute(const Statement& statement)
{
    long long object_id = statement.object_id + m_object_id_base;
    try {
        if (statement.is_insert)
            ExecuteInsert(statement, object_id);
        else
            ExecuteUpdate(object_id);
    } catch (const soci::soci_error& error) {
        if (IsBusy(error)) {
            // Another connection holds the lock: keep the statement and try again.
            if (!m_busy_episode)
                LOG(GetLogger(), warning) << "Database error: " << error.what();
            m_busy_episode = true;
            return false;
        }
        if (HandleDatabaseError(error))
            return true;
        throw;
    }
    m_full_episode = false;
    m_busy_episode = false;
    return true;
}

void AlarmsDbThread::ThreadFunc()
{
    Statement statement;
    bool pending = false;  // `statement` was refused by a busy database and waits for a retry
    while (!IsTerminated()) {
        // While a lock at start is in the way the statements stay queued.
        if (!CompleteStart()) {
            WaitFor(kBusyRetryPause);
            continue;
        }
        if (!pending && !m_statements.timed_front(statement, kStatementWait))
            continue;
        pending = !Execute(statement);
        if (pending)
            WaitFor(kBusyRetryPause);
    }
    Drain(statement, pending);
}

void AlarmsDbThread::Drain(Statement& statement, bool pending)
{
    const auto deadline = std::chrono::steady_clock::now() + kDrainTimeout;
    // Statements wait for the start-up reads a lock put off (their object ids depend on them).
    bool started = CompleteStart();
    while (!started && !m_given_up.load() && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(kBusyRetryPause);
        started = CompleteStart();
    }
    while (started && std::chrono::steady_clock::now() < deadline) {
        if (!pending && !m_statements.timed_front(statement, std::chrono::milliseconds(0)))
            return;
        pending = !Execute(statement);
        if (pending)
            std::this_thread::sleep_for(kBusyRetryPause);
    }
    const std::size_t lost = m_statements.size() + (pending ? 1 : 0);
    if (lost > 0)
        LOG(GetLogger(), error) << "Database statements not stored at stop: " << lost;
}
