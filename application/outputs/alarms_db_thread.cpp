#include "application/outputs/alarms_db_thread.h"

#include <algorithm>
#include <ctime>
#include <filesystem>
#include <sstream>
#include <stdexcept>
#include <system_error>
#include <thread>

// Also brings the SQLite result codes (SQLITE_BUSY, SQLITE_FULL).
#include <soci/sqlite3/soci-sqlite3.h>

#include "application/runtime/file_error_handler.h"
#include "application/runtime/logger.h"
#include "application/runtime/thread_manager.h"
#include "application/runtime/util.h"

namespace {

// How long SQLite itself waits for a lock held by another connection, in milliseconds.
constexpr int kConnectionTimeoutMs = 5000;
constexpr auto kStatementWait = std::chrono::milliseconds(50);
// Pause before a statement refused by a busy database is tried again.
constexpr auto kBusyRetryPause = std::chrono::milliseconds(50);
// Pauses before a statement refused for the database's state is tried again: doubled after each
// refusal up to the longest.
constexpr auto kFirstRefusalPause = std::chrono::milliseconds(100);
constexpr auto kLongestRefusalPause = std::chrono::milliseconds(3200);
// How long statements still queued at stop may take to be stored.
constexpr auto kDrainTimeout = std::chrono::seconds(2);
// SQLite's own wait for a lock held by another connection while the queue is stored at stop.
constexpr int kDrainBusyTimeoutMs = 250;
// The steps of that wait, so that a stop does not wait out the whole time-out.
constexpr int kLockPollMs = 10;

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

// Refused for the statement's own content (a constraint of the table, a value of the wrong kind):
// trying it again cannot help.
bool IsContentError(const soci::soci_error& error)
{
    const int code = ResultCode(error);
    return code == SQLITE_CONSTRAINT || code == SQLITE_MISMATCH || code == SQLITE_TOOBIG;
}

// A statement built without a time is stamped when it runs.
bool HasTime(const std::tm& time)
{
    return time.tm_mday != 0;
}

// Ends a log line about the database with the file it concerns.
std::string NamedFile(const std::string& database_path)
{
    return " (alarms database '" + LoggedValue(database_path) + "')";
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
    : AlarmsDbThread(database_path, name, max_page_count, kQueueLimit, manager)
{
}

AlarmsDbThread::AlarmsDbThread(const std::string& database_path, const std::string& name, int max_page_count,
                               std::size_t queue_limit, ThreadManager& manager)
    : BaseThread(name, manager),
      m_database_path(database_path),
      m_max_page_count(max_page_count),
      m_queue_limit(queue_limit)
{
    try {
        m_session.open(soci::sqlite3, ConnectionText(database_path));
    } catch (const soci::soci_error& error) {
        HandleDatabaseError(error);
        throw;
    }
    WaitForLocksInSteps();
    if (!ReadStartState())
        LOG(GetLogger(), warning) << "Alarms database is locked, it is read again when it is free"
                                  << NamedFile(m_database_path);
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
        LOG(GetLogger(), error) << "Alarms database '" << LoggedValue(m_database_path)
                                << "' unavailable, passes will not be stored: " << error.what();
        m_given_up.store(true);
        Statement statement;
        while (TakeStatement(statement, std::chrono::milliseconds(0))) ReportNotStored(statement);
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
    statement.local_time = util::localtime();
    return InsertOrUpdate(statement);
}

bool AlarmsDbThread::InsertOrUpdate(const Statement& statement)
{
    bool closed = m_given_up.load();
    if (!closed) {
        std::lock_guard<std::mutex> lock(m_queue_mutex);
        closed = m_closed;
        if (!closed) {
            if (m_statements.size() + (m_taken ? 1 : 0) >= m_queue_limit)
                return false;
            m_statements.push_back(statement);
            m_most_waiting = std::max(m_most_waiting, m_statements.size());
        }
    }
    if (closed) {
        ReportNotStored(statement);
        return true;
    }
    m_queue_changed.notify_one();
    return true;
}

std::size_t AlarmsDbThread::WaitingStatements()
{
    std::lock_guard<std::mutex> lock(m_queue_mutex);
    return m_statements.size() + (m_taken ? 1 : 0);
}

bool AlarmsDbThread::TakeStatement(Statement& statement, std::chrono::milliseconds timeout)
{
    std::unique_lock<std::mutex> lock(m_queue_mutex);
    if (!m_queue_changed.wait_for(lock, timeout, [this] { return !m_statements.empty(); }))
        return false;
    statement = m_statements.front();
    m_statements.pop_front();
    m_taken = true;
    return true;
}

void AlarmsDbThread::FinishStatement()
{
    bool return_memory = false;
    {
        std::deque<Statement> emptied;  // freed once the lock is let go
        std::lock_guard<std::mutex> lock(m_queue_mutex);
        m_taken = false;
        if (m_statements.empty()) {
            return_memory = m_most_waiting >= kReturnMemoryAfter;
            if (return_memory)
                emptied.swap(m_statements);  // its blocks and its map of them as well
            m_most_waiting = 0;
        }
    }
    if (return_memory)
        util::ReturnFreeHeapMemory();
}

void AlarmsDbThread::CloseQueue()
{
    std::deque<Statement> left;
    {
        std::lock_guard<std::mutex> lock(m_queue_mutex);
        m_closed = true;
        m_taken = false;
        left.swap(m_statements);
    }
    for (const Statement& statement : left) ReportNotStored(statement);
}

std::string AlarmsDbThread::RowText(const Statement& statement, const long long* object_id_base)
{
    std::ostringstream text;
    if (!statement.is_insert)
        text << "MovedOut";
    else if (statement.pass_type == kIncomingPass || statement.pass_type == kOutgoingPass)
        text << PassTypeToString(statement.pass_type);
    else
        text << "pass type " << static_cast<int>(statement.pass_type);
    if (object_id_base)
        text << " Object_id=" << statement.object_id + *object_id_base;
    else
        text << " object " << statement.object_id << " (object-id base not read)";
    if (HasTime(statement.local_time))
        text << " Alarm_date=" << FormatTm(statement.local_time, "%Y-%m-%d")
             << " Alarm_time=" << FormatTm(statement.local_time, "%H:%M:%S");
    if (statement.is_insert)
        text << " Object_height=" << statement.object_height;
    return text.str();
}

void AlarmsDbThread::ReportNotStored(const Statement& statement)
{
    LOG(GetLogger(), error) << "not stored: " << RowText(statement, m_ready.load() ? &m_object_id_base : nullptr);
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
        LOG(GetLogger(), error) << "Failed to check pages count: " << error.what() << NamedFile(m_database_path);
        return false;
    }
}

bool AlarmsDbThread::HandleDatabaseError(const soci::soci_error& error)
{
    LOG(GetLogger(), error) << "Database error: " << error.what() << NamedFile(m_database_path);
    if (IsFull(error) && IsAtPageLimit())
        return true;
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

// The rows are stamped with the time the object left, which an update kept queued while the
// database refused writes carries from when it was queued.
void AlarmsDbThread::ExecuteUpdate(const Statement& statement, long long object_id)
{
    const std::tm local = HasTime(statement.local_time) ? statement.local_time : util::localtime();
    const std::string date = FormatTm(local, "%Y-%m-%d");
    const std::string time = FormatTm(local, "%H:%M:%S");
    RunStatement(m_session, kUpdateCmd, soci::use(object_id, "id"), soci::use(date, "date"), soci::use(time, "time"));
}

AlarmsDbThread::Outcome AlarmsDbThread::Execute(const Statement& statement)
{
    const long long object_id = statement.object_id + m_object_id_base;
    try {
        if (statement.is_insert)
            ExecuteInsert(statement, object_id);
        else
            ExecuteUpdate(statement, object_id);
    } catch (const soci::soci_error& error) {
        if (IsBusy(error)) {
            // Another connection holds the lock: keep the statement and try again.
            if (!m_busy_episode)
                LOG(GetLogger(), warning) << "Database error: " << error.what() << NamedFile(m_database_path);
            m_busy_episode = true;
            return Outcome::kBusy;
        }
        if (IsFull(error) && IsAtPageLimit()) {
            // The file has reached its configured size: while it stays there every insert is
            // dropped. The error is reported once, each pass it costs by its row; the size is the
            // one asked for, so no marker.
            if (!m_full_episode) {
                LOG(GetLogger(), error) << "Database error: " << error.what() << NamedFile(m_database_path);
                m_full_episode = true;
            }
            ReportNotStored(statement);
            return Outcome::kDone;
        }
        // Every other failed write raises the marker, again at each one: a marker removed from
        // outside while the database still fails comes back. The service never removes it.
        FileErrorHandler::SetError(kDbErrorMarker);
        if (IsContentError(error)) {
            LOG(GetLogger(), error) << "Database error: " << error.what() << NamedFile(m_database_path);
            ReportNotStored(statement);
            return Outcome::kDone;
        }
        // The file itself refuses (read-only, disk full, table missing, file replaced or damaged):
        // the statement and those behind it wait until it takes writes again.
        if (m_refusal_reported != error.what()) {
            LOG(GetLogger(), error) << "Database error: " << error.what() << NamedFile(m_database_path);
            m_refusal_reported = error.what();
        }
        if (!m_refused_episode)
            LOG(GetLogger(), warning) << "Alarms database refuses writes, statements are kept and tried again"
                                      << NamedFile(m_database_path);
        m_refused_episode = true;
        return Outcome::kRefused;
    }
    OnWriteAccepted(statement.is_insert);
    return Outcome::kDone;
}

void AlarmsDbThread::OnWriteAccepted(bool insert)
{
    m_busy_episode = false;
    if (m_refused_episode) {
        LOG(GetLogger(), info) << "Alarms database accepts writes again";
        m_refused_episode = false;
        m_refusal_reported.clear();
    }
    // Updates touch rows already stored; only an insert shows that the file has room again.
    if (insert)
        m_full_episode = false;
}

// The back end's type information stays inside the SOCI library, out of reach of the type
// sanitizer's check of this cast.
__attribute__((no_sanitize("vptr"))) void AlarmsDbThread::WaitForLocksInSteps()
{
    auto* backend = static_cast<soci::sqlite3_session_backend*>(m_session.get_backend());
    if (backend && backend->conn_)
        sqlite_api::sqlite3_busy_handler(backend->conn_, &AlarmsDbThread::OnBusy, this);
}

int AlarmsDbThread::OnBusy(void* context, int attempt)
{
    auto* self = static_cast<AlarmsDbThread*>(context);
    const int limit_ms = self->IsTerminated() ? kDrainBusyTimeoutMs : kConnectionTimeoutMs;
    if (attempt * kLockPollMs >= limit_ms)
        return 0;
    std::this_thread::sleep_for(std::chrono::milliseconds(kLockPollMs));
    return 1;
}

void AlarmsDbThread::Reconnect()
{
    // A missing file is not created anew (it would lack the table): it stays refused until it is back.
    std::error_code error;
    if (!std::filesystem::exists(m_database_path, error))
        return;
    try {
        m_session.close();
        m_session.open(soci::sqlite3, ConnectionText(m_database_path));
        WaitForLocksInSteps();
        RunStatement(m_session, "PRAGMA max_page_count = " + std::to_string(m_max_page_count));
    } catch (const soci::soci_error&) {
        // The next try of the statement meets the same refusal and reports it.
    }
}

bool AlarmsDbThread::Pause(std::chrono::steady_clock::duration duration)
{
    return IsTerminated() ? WaitForProducers(duration) : WaitFor(duration);
}

// After the stop request the thread goes on storing what the producers hand over while they stop;
// once they have ended it stores what is left, within a time limit.
void AlarmsDbThread::ThreadFunc()
{
    try {
        StoreStatements();
    } catch (...) {
        // The thread fails (and with it the service): what waits is named, and nothing more queued.
        CloseQueue();
        throw;
    }
}

void AlarmsDbThread::StoreStatements()
{
    Statement statement;
    bool pending = false;  // `statement` was refused and waits to be tried again
    auto refusal_pause = std::chrono::steady_clock::duration(kFirstRefusalPause);
    while (!(IsTerminated() && HaveProducersEnded())) {
        // While a lock at start is in the way the statements stay queued.
        if (!CompleteStart()) {
            Pause(kBusyRetryPause);
            continue;
        }
        if (!pending && !TakeStatement(statement, kStatementWait))
            continue;
        const Outcome outcome = Execute(statement);
        pending = outcome != Outcome::kDone;
        if (!pending)
            FinishStatement();
        if (outcome == Outcome::kRefused) {
            if (Pause(refusal_pause))
                Reconnect();
            refusal_pause = std::min<std::chrono::steady_clock::duration>(refusal_pause * 2, kLongestRefusalPause);
            continue;
        }
        refusal_pause = kFirstRefusalPause;
        if (outcome == Outcome::kBusy)
            Pause(kBusyRetryPause);
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
    // A database that refused writes gets one more try, opened anew.
    if (started && m_refused_episode)
        Reconnect();
    while (started && std::chrono::steady_clock::now() < deadline) {
        if (!pending && !TakeStatement(statement, std::chrono::milliseconds(0)))
            break;
        const Outcome outcome = Execute(statement);
        pending = outcome != Outcome::kDone;
        if (!pending)
            FinishStatement();
        if (outcome == Outcome::kRefused)
            break;
        if (outcome == Outcome::kBusy)
            std::this_thread::sleep_for(kBusyRetryPause);
    }
    // From here on nothing is queued any more: a statement that comes later is reported at once.
    if (pending)
        ReportNotStored(statement);
    CloseQueue();
}
