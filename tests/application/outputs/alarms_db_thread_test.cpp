#include "application/outputs/alarms_db_thread.h"

#include <fcntl.h>
#include <malloc.h>
#include <unistd.h>

#include <atomic>
#include <boost/filesystem.hpp>
#include <chrono>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <functional>
#include <iostream>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

// Also declares the SQLite C interface, inside the namespace sqlite_api.
#include <gtest/gtest.h>
#include <soci/sqlite3/soci-sqlite3.h>

#include "application/runtime/file_error_handler.h"
#include "application/runtime/thread_manager.h"
#include "application/runtime/util.h"
#include "support/alarms_database.h"
#include "support/log_capture.h"
#include "support/polling.h"
#include "support/service_process.h"

namespace {

using namespace sqlite_api;
using testing_support::Connection;
using testing_support::Rows;
using testing_support::WaitUntil;
using testing_support::WaitWhileAdvancing;

// The schema shipped in the source tree (found from this file when CTest does not say where).
std::string ReadSchema()
{
    const char* source_dir = std::getenv("FLOWTALLY_SOURCE_DIR");
    const boost::filesystem::path root =
        source_dir ? boost::filesystem::path(source_dir) : boost::filesystem::path(__FILE__).parent_path() / "../..";
    const std::string path = (root / "schema/alarms.sql").string();
    std::ifstream file(path);
    if (!file)
        throw std::runtime_error("cannot read " + path);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

std::tm Tm(int year, int month, int day, int hour, int minute, int second)
{
    std::tm time{};
    time.tm_year = year - 1900;
    time.tm_mon = month - 1;
    time.tm_mday = day;
    time.tm_hour = hour;
    time.tm_min = minute;
    time.tm_sec = second;
    return time;
}

// How a log line about the database ends: with the file it concerns.
std::string NamingFile(const std::string& path)
{
    return " (alarms database '" + path + "')";
}

bool EndsWith(const std::string& text, const std::string& end)
{
    return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

// AddressSanitizer's allocator keeps what is freed in quarantine, does not hand it back on
// malloc_trim and has its own heap figures: what the C library does with freed memory cannot be seen.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool kAddressSanitizer = true;
#else
constexpr bool kAddressSanitizer = false;
#endif

// The process's memory as the kernel and the C library count it.
struct Memory {
    long long resident = 0;     // resident bytes (/proc/self/statm)
    long long heap_in_use = 0;  // bytes handed out by malloc and not freed, less SQLite's own
    long long sqlite = 0;       // bytes SQLite has in use (all connections)
};

Memory MeasureMemory()
{
    Memory memory;
    std::ifstream statm("/proc/self/statm");
    long long size_pages = 0;
    long long resident_pages = 0;
    statm >> size_pages >> resident_pages;
    memory.resident = resident_pages * ::sysconf(_SC_PAGESIZE);
    memory.sqlite = sqlite3_memory_used();
    const struct mallinfo2 heap = ::mallinfo2();  // glibc counts what the threads' caches hold as well
    memory.heap_in_use = static_cast<long long>(heap.uordblks + heap.hblkhd) - memory.sqlite;
    return memory;
}

// The local time now, in the database's date and time forms joined by a blank.
std::string LocalStamp()
{
    const std::tm now = util::localtime();
    char text[32];
    std::strftime(text, sizeof(text), "%Y-%m-%d %H:%M:%S", &now);
    return text;
}

class AlarmsDbThreadTest : public ::testing::Test {
protected:
    AlarmsDbThreadTest() : m_path(m_dir.Path("alarms.sqlite"))
    {
        FileErrorHandler::SetErrorFileDirectory(m_dir.Path("errors"));
        m_manager.m_exception_callback = [this](std::shared_ptr<BaseThread>, const std::exception*) {
            m_thread_failed = true;
        };
        Connection(m_path).Exec(ReadSchema());
    }

    ~AlarmsDbThreadTest() override { m_manager.Terminate(); }

    std::shared_ptr<AlarmsDbThread> Start(int max_page_count = 250000,
                                          std::size_t queue_limit = AlarmsDbThread::kQueueLimit)
    {
        return m_manager.CreateThread<AlarmsDbThread>(m_path, "alarms", max_page_count, queue_limit);
    }

    bool MarkerRaised() const { return boost::filesystem::exists(m_dir.Path("errors/db_error")); }

    testing_support::TempDir m_dir;
    std::string m_path;
    ThreadManager m_manager;
    std::atomic<bool> m_thread_failed{false};
};

TEST_F(AlarmsDbThreadTest, StoresPassesAndClosesMovedOutObjectsUnderObjectIdBase)
{
    Connection check(m_path);
    check.Exec(
        "INSERT INTO Alarms (Object_id, Alarm_type, Alarm_date, Alarm_time, Object_height, Pass_type) "
        "VALUES (41, 'Incoming', '2015-05-01', '10:00:00', 150, 1)");
    auto db = Start();

    const std::tm time = Tm(2015, 6, 1, 8, 30, 5);
    ASSERT_TRUE(db->Insert(3, AlarmsDbThread::kIncomingPass, time, 181));
    ASSERT_TRUE(db->Insert(3, AlarmsDbThread::kIncomingPass, time, 182));
    ASSERT_TRUE(db->Insert(3, AlarmsDbThread::kOutgoingPass, time, 183));
    ASSERT_TRUE(db->Insert(5, AlarmsDbThread::kOutgoingPass, time, 160));
    ASSERT_TRUE(db->Insert(6, AlarmsDbThread::kIncomingPass, time, 161));
    ASSERT_TRUE(db->Insert(6, AlarmsDbThread::kOutgoingPass, time, 162));

    // Before the objects leave the scene their rows carry the alarm's time and no pass type.
    ASSERT_TRUE(WaitUntil([&] { return check.Count() == 7; }));
    EXPECT_EQ(check.Query("SELECT Object_id, Alarm_type, Alarm_date, Alarm_time, Object_height, Pass_type, "
                          "Object_attributes FROM Alarms WHERE Object_id = 44 ORDER BY Alarm_id"),
              (Rows{{"44", "Incoming", "2015-06-01", "08:30:05", "181", "NULL", "NULL"},
                    {"44", "Incoming", "2015-06-01", "08:30:05", "182", "NULL", "NULL"},
                    {"44", "Outgoing", "2015-06-01", "08:30:05", "183", "NULL", "NULL"}}));

    const std::string before = LocalStamp();
    ASSERT_TRUE(db->Update(3));
    ASSERT_TRUE(db->Update(5));
    ASSERT_TRUE(db->Update(6));
    ASSERT_TRUE(WaitUntil([&] { return check.Count("Pass_type IS NULL") == 0; }));
    const std::string after = LocalStamp();

    EXPECT_EQ(check.Query("SELECT Object_id, Pass_type, Object_attributes FROM Alarms ORDER BY Alarm_id"),
              (Rows{{"41", "1", "NULL"},
                    {"44", "0", "\"1\","},
                    {"44", "0", "\"1\","},
                    {"44", "1", "\"1\","},
                    {"46", "-1", "\"1\","},
                    {"47", "0", "\"1\","},
                    {"47", "0", "\"1\","}}));
    // The update stamps the rows with the time the object left, in the same text forms. The three
    // updates may fall into different seconds.
    const Rows stamps = check.Query("SELECT DISTINCT Alarm_date || ' ' || Alarm_time FROM Alarms WHERE Object_id > 41");
    ASSERT_FALSE(stamps.empty());
    for (const auto& stamp : stamps) {
        EXPECT_EQ(stamp[0].size(), before.size()) << stamp[0];
        EXPECT_LE(before, stamp[0]);
        EXPECT_LE(stamp[0], after);
    }
    EXPECT_FALSE(MarkerRaised());
}

TEST_F(AlarmsDbThreadTest, EmptyTableGivesObjectIdBaseZeroAndPathMayContainBlank)
{
    m_path = m_dir.Path("alarms with blank.sqlite");
    Connection(m_path).Exec(ReadSchema());
    auto db = Start();
    ASSERT_EQ(db->GetMaxObjectId(), 0);
    ASSERT_TRUE(db->Insert(7, AlarmsDbThread::kOutgoingPass, Tm(2016, 1, 2, 3, 4, 5), 0));

    Connection check(m_path);
    ASSERT_TRUE(WaitUntil([&] { return check.Count() == 1; }));
    EXPECT_EQ(check.Query("SELECT Object_id, Alarm_type, Alarm_date, Alarm_time FROM Alarms"),
              (Rows{{"7", "Outgoing", "2016-01-02", "03:04:05"}}));
}

TEST_F(AlarmsDbThreadTest, CountsObjectsThatLeftInEachDirectionSinceStart)
{
    Connection(m_path).Exec(
        "INSERT INTO Alarms (Object_id, Alarm_type, Alarm_date, Alarm_time, Pass_type) VALUES "
        "(1, 'Incoming', '2015-05-31', '23:59:59', 1),"     // before the start day
        "(2, 'Incoming', '2015-06-01', '07:59:59', 1),"     // on the start day, before the start time
        "(3, 'Incoming', '2015-06-01', '08:00:00', 1),"     // exactly at the start
        "(4, 'Incoming', '2015-06-02', '00:00:00', 1),"     // a later day
        "(5, 'Incoming', '2015-06-02', '01:00:00', 0),"     // an earlier row of an object
        "(6, 'Incoming', '2015-06-03', '01:00:00', NULL),"  // still in the scene
        "(7, 'Outgoing', '2015-06-01', '09:00:00', -1),"
        "(8, 'Outgoing', '2015-05-01', '09:00:00', -1)");
    auto db = Start();

    EXPECT_EQ(db->GetAlarmsCount(AlarmsDbThread::kIncomingPass, "2015-06-01", "08:00:00"), 2);
    EXPECT_EQ(db->GetAlarmsCount(AlarmsDbThread::kOutgoingPass, "2015-06-01", "08:00:00"), 1);
    EXPECT_EQ(db->GetAlarmsCount(AlarmsDbThread::kOutgoingPass, "2015-01-01", "00:00:00"), 2);
    EXPECT_EQ(db->GetMaxObjectId(), 8);
}

TEST_F(AlarmsDbThreadTest, MissingTableFailsToOpenWithMarker)
{
    m_path = m_dir.Path("empty.sqlite");
    EXPECT_THROW(Start(), soci::soci_error);
    EXPECT_TRUE(MarkerRaised());
}

TEST_F(AlarmsDbThreadTest, StatementsWaitUpToTheLimitWhileTheDatabaseIsLockedAndAreStoredInOrder)
{
    const std::size_t limit = 5;
    auto db = Start(250000, limit);
    Connection lock(m_path);
    lock.Exec("BEGIN EXCLUSIVE");  // the thread blocks on its first statement

    const std::tm time = Tm(2015, 6, 1, 8, 0, 0);
    int accepted = 0;
    // The thread takes the first of them and blocks on the lock. The statement it keeps trying
    // holds its place in the limit: topping the queue up for a while never gets past the limit.
    WaitUntil(
        [&] {
            while (accepted < 20 && db->Insert(accepted + 1, AlarmsDbThread::kIncomingPass, time, 0)) ++accepted;
            return accepted > static_cast<int>(limit);
        },
        std::chrono::seconds(2));
    EXPECT_EQ(accepted, static_cast<int>(limit));
    EXPECT_FALSE(db->Update(1));

    lock.Exec("COMMIT");
    EXPECT_TRUE(WaitUntil([&] { return db->Insert(500, AlarmsDbThread::kOutgoingPass, time, 0); }));
    Connection check(m_path);
    ASSERT_TRUE(WaitUntil([&] { return check.Count() == accepted + 1; }));
    std::string expected_order;
    for (int id = 1; id <= accepted; ++id) expected_order += std::to_string(id) + ",";
    EXPECT_EQ(check.Query("SELECT group_concat(Object_id) || ',' FROM "
                          "(SELECT Object_id FROM Alarms WHERE Alarm_type = 'Incoming' ORDER BY Alarm_id)"),
              (Rows{{expected_order}}));
}

// The page limit is the size asked for: reaching it raises no marker.
TEST_F(AlarmsDbThreadTest, FullDatabaseIsReportedOnceEachRefusedPassByItsRowAndThreadGoesOn)
{
    const int pages = std::stoi(Connection(m_path).Query("PRAGMA page_count").at(0).at(0));
    testing_support::LogCapture log;
    auto db = Start(pages);

    // Far more rows than the pages hold: the thread must keep taking statements after the
    // database is full. The updates of objects that leave still succeed in a full file, and do
    // not make the next refused insert a new report.
    const int alarms = 400;
    const std::tm time = Tm(2015, 6, 1, 8, 0, 0);
    for (int i = 1; i <= alarms; ++i) {
        ASSERT_TRUE(db->Insert(i, AlarmsDbThread::kIncomingPass, time, 170)) << i;
        ASSERT_TRUE(db->Update(i)) << i;
    }
    const std::string last_pass = "[alarms, error] not stored: Incoming Object_id=" + std::to_string(alarms) + " ";
    ASSERT_TRUE(WaitUntil(
        [&] {
            for (const auto& line : log.Lines())
                if (line.rfind(last_pass, 0) == 0)
                    return true;
            return false;
        },
        std::chrono::seconds(30)));
    m_manager.Terminate();

    EXPECT_FALSE(m_thread_failed);
    const long long stored = Connection(m_path).Count();
    EXPECT_GT(stored, 0);
    EXPECT_LT(stored, alarms);
    int reports = 0;
    int not_stored = 0;
    for (const auto& line : log.Lines()) {
        reports += line.rfind("[alarms, error] Database error: ", 0) == 0 && EndsWith(line, NamingFile(m_path));
        not_stored += line.rfind("[alarms, error] not stored: Incoming Object_id=", 0) == 0 &&
                      line.find(" Alarm_date=2015-06-01 Alarm_time=08:00:00 Object_height=170") != std::string::npos;
    }
    EXPECT_EQ(reports, 1);
    EXPECT_EQ(not_stored, alarms - stored);
    EXPECT_FALSE(MarkerRaised());
}

TEST_F(AlarmsDbThreadTest, StatementsQueuedUntilTheProducersHaveEndedAreStored)
{
    auto db = Start();
    {
        Connection lock(m_path);
        lock.Exec("BEGIN EXCLUSIVE");
        for (int i = 1; i <= 20; ++i)
            ASSERT_TRUE(db->Insert(i, AlarmsDbThread::kIncomingPass, Tm(2015, 6, 1, 8, 0, 0), 0));
        db->Terminate(false);
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        lock.Exec("COMMIT");
    }
    // A producer still stopping hands over one more, well after the stop request.
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    ASSERT_TRUE(db->Insert(21, AlarmsDbThread::kOutgoingPass, Tm(2015, 6, 1, 8, 0, 1), 0));
    EXPECT_TRUE(WaitUntil([&] { return Connection(m_path).Count() == 21; }));
    m_manager.Terminate();

    EXPECT_FALSE(m_thread_failed);
    EXPECT_EQ(Connection(m_path).Count(), 21);
}

// Errors raised outside the SQLite back end are recognised by their message alone.
TEST_F(AlarmsDbThreadTest, ErrorMessagesDecideMarkerAndPageLimit)
{
    const int pages = std::stoi(Connection(m_path).Query("PRAGMA page_count").at(0).at(0));
    auto db = Start(pages);
    const std::string marker = m_dir.Path("errors/db_error");

    EXPECT_FALSE(db->HandleDatabaseError(soci::soci_error("database is locked")));
    EXPECT_FALSE(MarkerRaised());
    EXPECT_FALSE(db->HandleDatabaseError(soci::soci_error("the database is locked by a backup")));
    EXPECT_TRUE(MarkerRaised());
    boost::filesystem::remove(marker);

    // At its page limit with no free page: the statement may be dropped, and no marker.
    EXPECT_TRUE(db->HandleDatabaseError(soci::soci_error("insert: database or disk is full")));
    EXPECT_FALSE(MarkerRaised());
}

TEST_F(AlarmsDbThreadTest, FailedPageCheckIsLoggedAfterTheErrorAndRaisesMarker)
{
    const int pages = std::stoi(Connection(m_path).Query("PRAGMA page_count").at(0).at(0));
    auto db = Start(pages);
    {
        // Wreck the file header so that reading the page counts fails.
        std::fstream file(m_path, std::ios::in | std::ios::out | std::ios::binary);
        file << std::string(100, 'x');
    }
    testing_support::LogCapture log;
    EXPECT_FALSE(db->HandleDatabaseError(soci::sqlite3_soci_error("database or disk is full", SQLITE_FULL)));

    std::vector<std::string> lines;
    for (const auto& line : log.Lines())
        if (line.rfind("[alarms", 0) == 0)
            lines.push_back(line);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], "[alarms, error] Database error: database or disk is full" + NamingFile(m_path));
    EXPECT_EQ(lines[1].rfind("[alarms, error] Failed to check pages count: ", 0), 0u) << lines[1];
    EXPECT_TRUE(EndsWith(lines[1], NamingFile(m_path))) << lines[1];
    EXPECT_TRUE(MarkerRaised());
}

// Holds the write lock longer than SQLite's own wait (5 s), so the thread meets the busy error.
TEST_F(AlarmsDbThreadTest, LockedDatabaseDelaysStatementsButLosesNone)
{
    testing_support::LogCapture log;
    auto db = Start();
    Connection lock(m_path);
    lock.Exec("BEGIN EXCLUSIVE");
    // Enough for the queue's memory to be handed back once they are stored.
    const int waiting = static_cast<int>(AlarmsDbThread::kReturnMemoryAfter) + 1;
    for (int i = 1; i <= waiting; ++i)
        ASSERT_TRUE(db->Insert(i, AlarmsDbThread::kOutgoingPass, Tm(2015, 6, 1, 8, 0, 0), 0));
    ASSERT_TRUE(WaitUntil(
        [&] {
            for (const auto& line : log.Lines())
                if (line.rfind("[alarms, warning] Database error: ", 0) == 0 && EndsWith(line, NamingFile(m_path)))
                    return true;
            return false;
        },
        std::chrono::seconds(8)));
    lock.Exec("COMMIT");

    Connection check(m_path);
    const auto stored = [&](int rows) {
        return WaitWhileAdvancing(
            [&] {
                try {
                    return check.Count() == rows;
                } catch (const std::runtime_error&) {  // locked by the writes meanwhile
                    return false;
                }
            },
            [&] { return db->WaitingStatements(); });
    };
    EXPECT_TRUE(stored(waiting));
    // The queue goes on after that.
    ASSERT_TRUE(db->Insert(waiting + 1, AlarmsDbThread::kOutgoingPass, Tm(2015, 6, 1, 8, 0, 0), 0));
    EXPECT_TRUE(stored(waiting + 1));
    EXPECT_FALSE(m_thread_failed);
    EXPECT_FALSE(MarkerRaised());
    m_manager.Terminate();  // before the log capture goes
}

// Once many statements have waited, their memory goes back to the system when the last is stored:
// the freed blocks, which the C library would keep resident, and the queue's map of its blocks (a
// pointer for each 512 bytes of statements), which stays in use in a queue that is only emptied.
// Figures of this process, taken after an earlier outage of the same kind, so that the threads'
// caches in the C library are filled already.
TEST_F(AlarmsDbThreadTest, MemoryOfStatementsThatWaitedGoesBackOnceTheyAreStored)
{
    if (kAddressSanitizer)
        GTEST_SKIP() << "AddressSanitizer's allocator keeps freed memory: this test runs in builds without it";
    // In memory where there is /dev/shm, in WAL mode: storing waits neither for a disk nor for a reader.
    std::unique_ptr<testing_support::TempDir> shm;
    if (::access("/dev/shm", W_OK) == 0) {
        shm = std::make_unique<testing_support::TempDir>("/dev/shm");
        m_path = shm->Path("alarms.sqlite");
        Connection(m_path).Exec(ReadSchema());
    }
    Connection other(m_path);
    other.Exec("PRAGMA journal_mode = WAL");
    auto db = Start();

    // Updates of objects without a row here: each needs the write lock, as every statement does,
    // and leaves the file, and so SQLite's memory, as it was. An insert ends each outage: its row
    // shows that all are stored. They are queued from another thread, as the alarm slot does.
    long long object = 0;
    const auto outage = [&](long long statements) {
        other.Exec("BEGIN EXCLUSIVE");
        bool queued = true;
        std::thread slot([&] {
            for (long long i = 1; i < statements && queued; ++i) queued = db->Update(1000000 + ++object);
            queued = queued && db->Insert(++object, AlarmsDbThread::kIncomingPass, Tm(2015, 6, 1, 8, 0, 0), 170);
        });
        slot.join();
        const Memory waiting = MeasureMemory();
        other.Exec("COMMIT");
        const std::string last = "Object_id = " + std::to_string(object);
        // However slowly the machine stores them (an emulator on a busy machine takes minutes),
        // as long as the queue keeps shrinking.
        EXPECT_TRUE(queued && WaitWhileAdvancing([&] { return other.Count(last) == 1; },
                                                 [&] { return db->WaitingStatements(); }));
        return waiting;
    };
    const long long statements = 100000;
    outage(statements / 4);
    ASSERT_FALSE(HasFailure());
    const Memory start = MeasureMemory();
    const Memory waiting = outage(statements);
    ASSERT_FALSE(HasFailure());

    const long long size = sizeof(AlarmsDbThread::Statement);
    const long long map = statements / std::max(1LL, 512 / size) * static_cast<long long>(sizeof(void*));
    const auto resident_kept = [&](const Memory& now) {
        return now.resident - start.resident - (now.sqlite - start.sqlite);
    };
    const auto heap_kept = [&](const Memory& now) { return now.heap_in_use - start.heap_in_use; };
    // The statements waited: both figures grew by them.
    ASSERT_GT(waiting.resident - start.resident, statements * size / 2);
    ASSERT_GT(heap_kept(waiting), statements * size);
    // The last row is in the file a moment before the memory is handed back, which takes a while
    // itself: waited for until well below the bounds below.
    Memory stored;
    WaitUntil(
        [&] {
            stored = MeasureMemory();
            return resident_kept(stored) < (waiting.resident - start.resident) / 4 && heap_kept(stored) < map / 4;
        },
        std::chrono::seconds(5));
    std::cout << statements << " statements waited: resident memory +" << (waiting.resident - start.resident) / 1024
              << " kB, heap in use +" << heap_kept(waiting) / 1024 << " kB; once stored: resident memory +"
              << resident_kept(stored) / 1024 << " kB besides SQLite's +" << (stored.sqlite - start.sqlite) / 1024
              << " kB, heap in use +" << heap_kept(stored) << " bytes (the queue's map: at least " << map
              << " bytes)\n";
    // Most of what waited is no longer resident ...
    EXPECT_LT(resident_kept(stored), (waiting.resident - start.resident) / 2);
    // ... and the queue's map has gone with its blocks.
    EXPECT_LT(heap_kept(stored), map / 2);
    m_manager.Terminate();  // before the file goes
    EXPECT_FALSE(m_thread_failed);
}

// The lock is held through the whole start (longer than SQLite's own wait of 5 s).
TEST_F(AlarmsDbThreadTest, DatabaseLockedAtStartIsReadWhenFreeAndKeepsItsStatements)
{
    Connection setup(m_path);
    setup.Exec(
        "INSERT INTO Alarms (Object_id, Alarm_type, Alarm_date, Alarm_time, Object_height, Pass_type) "
        "VALUES (41, 'Incoming', '2015-05-01', '10:00:00', 150, 1)");
    Connection lock(m_path);
    lock.Exec("BEGIN EXCLUSIVE");
    testing_support::LogCapture log;
    auto db = Start();
    EXPECT_FALSE(db->IsReady());
    EXPECT_TRUE(log.Contains("[alarms, warning] Alarms database is locked, it is read again when it is free" +
                             NamingFile(m_path)));

    ASSERT_TRUE(db->Insert(3, AlarmsDbThread::kOutgoingPass, Tm(2015, 6, 1, 8, 0, 0), 170));
    std::atomic<long long> incoming{-1};
    std::atomic<long long> outgoing{-1};
    db->RequestTotals("2013-08-01", "00:00:00", [&](long long in, long long out) {
        outgoing = out;
        incoming = in;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_EQ(incoming.load(), -1) << "counted while locked";
    lock.Exec("COMMIT");

    ASSERT_TRUE(WaitUntil([&] { return incoming.load() != -1; }, std::chrono::seconds(10)));
    EXPECT_EQ(incoming.load(), 1);
    EXPECT_EQ(outgoing.load(), 0);
    EXPECT_TRUE(db->IsReady());
    Connection check(m_path);
    // The queued statement is stored under the object-id base read after the lock.
    EXPECT_TRUE(WaitUntil([&] { return check.Count("Object_id = 44 AND Alarm_type = 'Outgoing'") == 1; }));
    EXPECT_FALSE(m_thread_failed);
    EXPECT_FALSE(MarkerRaised());
    m_manager.Terminate();  // before the log capture goes
}

// Faults of the database file while the service runs, and their repair.
struct WriteFault {
    const char* name;
    std::function<bool(const std::string& path)> apply;  // false: cannot be made here (skipped)
    std::function<void(const std::string& path)> repair;
};

bool Shell(const std::string& command)
{
    return std::system((command + " 2>/dev/null").c_str()) == 0;
}

// Makes the file immutable where that also refuses writes through a descriptor opened before
// (ext4 does; tmpfs, where the emulated tests run, lets such a descriptor go on writing).
bool MakeImmutable(const std::string& path)
{
    const int fd = ::open(path.c_str(), O_RDWR);
    if (fd < 0)
        return false;
    char first = 0;
    bool refused = false;
    if (::pread(fd, &first, 1, 0) == 1 && Shell("chattr +i '" + path + "'")) {
        refused = ::pwrite(fd, &first, 1, 0) < 0;
        if (!refused)
            Shell("chattr -i '" + path + "'");
    }
    ::close(fd);
    return refused;
}

TEST_F(AlarmsDbThreadTest, WritesRefusedForTheFilesStateAreKeptAndStoredInOrderOnceAccepted)
{
    const WriteFault faults[] = {
        {"table dropped",
         [](const std::string& path) {
             Connection(path).Exec("DROP TABLE Alarms");
             return true;
         },
         [](const std::string& path) { Connection(path).Exec(ReadSchema()); }},
        {"file moved away, then a new one put in its place",
         [](const std::string& path) {
             boost::filesystem::rename(path, path + ".old");
             return true;
         },
         [](const std::string& path) { Connection(path).Exec(ReadSchema()); }},
        // Needs the right to make a file immutable (a read-only file does not stop root).
        {"file made immutable", MakeImmutable, [](const std::string& path) { Shell("chattr -i '" + path + "'"); }},
    };
    for (const WriteFault& fault : faults) {
        SCOPED_TRACE(fault.name);
        testing_support::TempDir dir;
        const std::string path = dir.Path("alarms.sqlite");
        Connection(path).Exec(ReadSchema());
        FileErrorHandler::SetErrorFileDirectory(dir.Path("errors"));
        testing_support::LogCapture log;
        ThreadManager manager;
        std::atomic<bool> failed{false};
        manager.m_exception_callback = [&](std::shared_ptr<BaseThread>, const std::exception*) { failed = true; };
        auto db = manager.CreateThread<AlarmsDbThread>(path, "alarms", 250000);
        ASSERT_TRUE(db->Insert(1, AlarmsDbThread::kIncomingPass, Tm(2015, 6, 1, 8, 0, 0), 170));
        ASSERT_TRUE(WaitUntil([&] { return Connection(path).Count() == 1; }));
        if (!fault.apply(path)) {
            std::cout << "skipped: " << fault.name << " cannot be made here\n";
            continue;
        }

        for (int id = 2; id <= 4; ++id)
            ASSERT_TRUE(db->Insert(id, AlarmsDbThread::kOutgoingPass, Tm(2015, 6, 1, 9, 0, id), 160 + id));
        // The update keeps the time the object left, however late it is stored.
        AlarmsDbThread::Statement update;
        update.object_id = 2;
        update.local_time = Tm(2015, 6, 1, 9, 0, 9);
        ASSERT_TRUE(db->InsertOrUpdate(update));
        ASSERT_TRUE(
            log.WaitFor("[alarms, warning] Alarms database refuses writes, statements are kept and tried again" +
                        NamingFile(path)));
        const std::string marker = dir.Path("errors/db_error");
        EXPECT_TRUE(boost::filesystem::exists(marker));
        // Removed from outside while the database still refuses: the next refused try raises it again.
        boost::filesystem::remove(marker);
        EXPECT_TRUE(WaitUntil([&] { return boost::filesystem::exists(marker); }, std::chrono::seconds(20)));
        fault.repair(path);

        ASSERT_TRUE(log.WaitFor("[alarms] Alarms database accepts writes again", std::chrono::seconds(10)));
        Connection check(path);
        ASSERT_TRUE(WaitUntil([&] { return check.Count("Pass_type IS NOT NULL") == 1; }));
        EXPECT_EQ(
            check.Query("SELECT Object_id, Alarm_time, Object_height, Pass_type FROM Alarms "
                        "WHERE Object_id > 1 ORDER BY Alarm_id"),
            (Rows{{"2", "09:00:09", "162", "-1"}, {"3", "09:00:03", "163", "NULL"}, {"4", "09:00:04", "164", "NULL"}}));
        // The database took writes again, and the marker stands: only whoever handles it removes it.
        EXPECT_TRUE(boost::filesystem::exists(marker));
        manager.Terminate();
        EXPECT_FALSE(failed);
    }
}

TEST_F(AlarmsDbThreadTest, StatementRefusedForItsContentIsLoggedWithItsRowAndDropped)
{
    Connection(m_path).Exec(
        "CREATE TRIGGER refuse_giants BEFORE INSERT ON Alarms WHEN NEW.Object_height > 300 "
        "BEGIN SELECT RAISE(ABORT, 'no giants'); END");
    testing_support::LogCapture log;
    auto db = Start();
    const std::tm time = Tm(2015, 6, 1, 8, 0, 0);
    ASSERT_TRUE(db->Insert(1, AlarmsDbThread::kIncomingPass, time, 170));
    ASSERT_TRUE(db->Insert(2, AlarmsDbThread::kIncomingPass, time, 999));
    ASSERT_TRUE(db->Insert(3, AlarmsDbThread::kOutgoingPass, time, 171));

    Connection check(m_path);
    ASSERT_TRUE(WaitUntil([&] { return check.Count() == 2; }));
    EXPECT_EQ(check.Query("SELECT Object_id FROM Alarms ORDER BY Alarm_id"), (Rows{{"1"}, {"3"}}));
    EXPECT_TRUE(
        log.WaitFor("[alarms, error] not stored: Incoming Object_id=2 Alarm_date=2015-06-01 Alarm_time=08:00:00 "
                    "Object_height=999"));
    m_manager.Terminate();
    EXPECT_FALSE(m_thread_failed);
    // A row refused is a database error like any other, though the thread goes on.
    EXPECT_TRUE(MarkerRaised());
}

TEST_F(AlarmsDbThreadTest, StatementsTheDatabaseStillRefusesAtStopAreLoggedWithTheirRows)
{
    testing_support::LogCapture log;
    auto db = Start();
    Connection(m_path).Exec("DROP TABLE Alarms");
    ASSERT_TRUE(db->Insert(5, AlarmsDbThread::kOutgoingPass, Tm(2015, 6, 1, 8, 0, 0), 150));
    AlarmsDbThread::Statement update;
    update.object_id = 5;
    update.local_time = Tm(2015, 6, 1, 8, 0, 9);
    ASSERT_TRUE(db->InsertOrUpdate(update));
    ASSERT_TRUE(log.WaitFor("[alarms, warning] Alarms database refuses writes, statements are kept and tried again" +
                            NamingFile(m_path)));

    const auto before = std::chrono::steady_clock::now();
    m_manager.Terminate();
    EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::seconds(3));
    EXPECT_FALSE(m_thread_failed);
    EXPECT_TRUE(
        log.Contains("[alarms, error] not stored: Outgoing Object_id=5 Alarm_date=2015-06-01 Alarm_time=08:00:00 "
                     "Object_height=150"));
    EXPECT_TRUE(
        log.Contains("[alarms, error] not stored: MovedOut Object_id=5 Alarm_date=2015-06-01 Alarm_time=08:00:09"));
    // Nothing is queued once the thread has ended: a late statement is named at once.
    EXPECT_TRUE(db->Insert(6, AlarmsDbThread::kOutgoingPass, Tm(2015, 6, 1, 8, 0, 0), 150));
    EXPECT_TRUE(
        log.Contains("[alarms, error] not stored: Outgoing Object_id=6 Alarm_date=2015-06-01 Alarm_time=08:00:00 "
                     "Object_height=150"));
}

}  // namespace
