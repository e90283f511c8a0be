#include "application/outputs/led_controller.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

#include <boost/algorithm/string/predicate.hpp>
#include <boost/filesystem.hpp>

#include <gtest/gtest.h>

#include "support/launcher.h"
#include "support/log_capture.h"
#include "support/polling.h"
#include "support/processes.h"
#include "support/service_process.h"

namespace {

namespace fs = boost::filesystem;
using testing_support::IsAlive;
using testing_support::WaitUntil;

std::string ReadFile(const std::string& path)
{
    std::ifstream file(path);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

Alarm MakeAlarm(AlarmType type)
{
    Alarm alarm;
    alarm.type = type;
    alarm.object_id = 1;
    return alarm;
}

// Temporary shell scripts standing in for the LED utility; each call leaves files named
// "<kind>.<pid>" in the directory.
class LedControllerTest : public ::testing::Test {
protected:
    // Records its argument vector, standard streams and environment.
    std::string RecordingUtility()
    {
        return Script("recorder.sh",
                      "if [ -e /proc/$$/fd/0 ]; then in=open; else in=closed; fi\n"
                      "out=$(/usr/bin/readlink /proc/$$/fd/1)\n"
                      "err=$(/usr/bin/readlink /proc/$$/fd/2)\n"
                      "{ printf 'argv'; printf ' [%s]' \"$0\" \"$@\"; printf '\\n';\n"
                      "  printf 'stdin %s\\nstdout %s\\nstderr %s\\n' \"$in\" \"$out\" \"$err\";\n"
                      "  /usr/bin/env; } > \"$dir/tmp.$$\"\n"
                      "/bin/mv \"$dir/tmp.$$\" \"$dir/call.$$\"\n");
    }

    // Starts, then runs until the test creates "release" (or 1.8 s pass, within the run bound), then ends.
    std::string BlockingUtility()
    {
        return Script("blocking.sh",
                      ": > \"$dir/started.$$\"\n"
                      "i=0\n"
                      "while [ ! -e \"$dir/release\" ] && [ $i -lt 180 ]; do /bin/sleep 0.01; i=$((i+1)); done\n"
                      ": > \"$dir/finished.$$\"\n");
    }

    // Numbers its calls 1, 2, ... (each creates the first free "number.<n>", with builtins only: a
    // failed redirection of `true`, unlike one of `:`, does not end the shell) and records when each
    // started, in seconds since the epoch, in "start.<n>". A call for which `hangs` (a shell
    // condition on $n) holds then never ends on its own: it starts a child that sleeps, records
    // both process ids in "hung.<n>", and waits.
    std::string CountingUtility(const std::string& hangs, bool ignores_sigterm)
    {
        return Script("counting.sh",
                      "n=1\n"
                      "while ! { set -C; true > \"$dir/number.$n\"; } 2>/dev/null; do n=$((n+1)); done\n"
                      "set +C\n"
                      "/bin/date +%s.%N > \"$dir/tmp.$n\"; /bin/mv \"$dir/tmp.$n\" \"$dir/start.$n\"\n"
                      "if " + hangs + "; then\n" + (ignores_sigterm ? "  trap '' TERM\n" : "") +
                          "  /bin/sleep 1000 &\n"
                          "  echo \"$$ $!\" > \"$dir/tmp.$n\"; /bin/mv \"$dir/tmp.$n\" \"$dir/hung.$n\"\n"
                          "  wait\n"
                          "fi\n");
    }

    std::string Script(const std::string& name, const std::string& body)
    {
        const std::string path = m_dir.Path(name);
        std::ofstream(path) << "#!/bin/sh\ndir='" << m_dir.Path() << "'\n" << body;
        chmod(path.c_str(), 0755);
        return path;
    }

    std::vector<std::string> Files(const std::string& kind) const
    {
        std::vector<std::string> files;
        for (const auto& entry : fs::directory_iterator(m_dir.Path()))
            if (boost::algorithm::starts_with(entry.path().filename().string(), kind + "."))
                files.push_back(entry.path().string());
        return files;
    }

    bool WaitForFiles(const std::string& kind, std::size_t count)
    {
        return WaitUntil([&] { return Files(kind).size() >= count; });
    }

    void Release() { std::ofstream(m_dir.Path("release")); }

    void RunPassesWithHangs(const std::string& utility, int passes, int expected_hangs);

    testing_support::TempDir m_dir;
};

TEST_F(LedControllerTest, RunsUtilityWithModeArgumentsOnly)
{
    const std::string utility = RecordingUtility();
    setenv("FLOWTALLY_LED_PROBE", "inherited", 1);
    LedController leds(utility);

    leds.EventIn();
    ASSERT_TRUE(WaitForFiles("call", 1));
    const std::string call = ReadFile(Files("call").at(0));
    EXPECT_TRUE(boost::algorithm::starts_with(call, "argv [" + utility +
                                                        "] [--mode] [pass_in_event]\n"
                                                        "stdin closed\nstdout /dev/null\nstderr /dev/null\n"))
        << call;
    // Nothing of the service's environment reaches the utility.
    EXPECT_EQ(call.find("FLOWTALLY_LED_PROBE"), std::string::npos) << call;
    EXPECT_EQ(call.find("\nPATH="), std::string::npos) << call;
    EXPECT_EQ(call.find("\nHOME="), std::string::npos) << call;
    unsetenv("FLOWTALLY_LED_PROBE");

    fs::remove(Files("call").at(0));
    leds.EventOut();
    ASSERT_TRUE(WaitForFiles("call", 1));
    EXPECT_TRUE(boost::algorithm::starts_with(ReadFile(Files("call").at(0)),
                                              "argv [" + utility + "] [--mode] [pass_out_event]\n"));
}

TEST_F(LedControllerTest, AlarmsOfPassesRunUtilityAndMovedOutRunsNothing)
{
    LedController leds(RecordingUtility());
    leds.ProcessAlarm(MakeAlarm(kMovedOut));
    leds.ProcessAlarm(MakeAlarm(kIncoming));
    leds.ProcessAlarm(MakeAlarm(kMovedOut));
    leds.ProcessAlarm(MakeAlarm(kOutgoing));

    ASSERT_TRUE(WaitForFiles("call", 2));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    const std::vector<std::string> calls = Files("call");
    ASSERT_EQ(calls.size(), 2u);
    std::string modes;
    for (const auto& call : calls) modes += ReadFile(call).substr(0, ReadFile(call).find('\n'));
    EXPECT_NE(modes.find("[pass_in_event]"), std::string::npos);
    EXPECT_NE(modes.find("[pass_out_event]"), std::string::npos);
}

// At the stop a utility may finish its work; one that does not is ended, and reaped, with what it
// started; what a utility left running when it exited is ended too.
TEST_F(LedControllerTest, UtilitiesFinishAtStopWithinTheGraceAndNothingOfTheirGroupsOutlivesIt)
{
    struct Case {
        const char* name;
        const char* body;   // writes "pids.$$" with the utility's and its child's process ids
        bool leader_exits;  // the utility itself ends at once, its child stays
        bool finishes;      // it writes "finished.$$" within the grace
    };
    const char* const kRecordPids = "echo \"$$ $!\" > \"$dir/tmp.$$\"; /bin/mv \"$dir/tmp.$$\" \"$dir/pids.$$\"\n";
    const Case cases[] = {
        {"finishes its one-second run", "/bin/sleep 1 &\n", false, true},
        {"hangs, ends on SIGTERM", "/bin/sleep 1000 &\n", false, false},
        {"hangs, ignores SIGTERM", "trap '' TERM\n/bin/sleep 1000 &\n", false, false},
        {"exits leaving a child behind", "/bin/sleep 1000 &\n", true, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        for (const char* kind : {"pids", "finished"}) {
            for (const auto& file : Files(kind)) fs::remove(file);
        }
        const std::string ending = c.leader_exits ? "exit 0\n"
                                   : c.finishes   ? "wait\n: > \"$dir/finished.$$\"\n"
                                                  : "while true; do wait; done\n";
        auto leds = std::make_unique<LedController>(Script("utility.sh", std::string(c.body) + kRecordPids + ending));
        leds->EventIn();
        leds->EventOut();
        // Both run side by side while the caller has long returned.
        ASSERT_TRUE(WaitForFiles("pids", 2));
        std::vector<std::string> pids;
        for (const auto& file : Files("pids")) {
            std::ifstream text(file);
            for (std::string pid; text >> pid;) pids.push_back(pid);
        }
        ASSERT_EQ(pids.size(), 4u);
        if (c.leader_exits) {
            ASSERT_TRUE(WaitUntil([&] { return !IsAlive(pids[0]) && !IsAlive(pids[2]); }));
        }

        const auto before = std::chrono::steady_clock::now();
        leds->Stop();
        EXPECT_LT(std::chrono::steady_clock::now() - before,
                  LedController::kStopGrace + LedController::kTermGrace + std::chrono::seconds(3));
        EXPECT_EQ(Files("finished").size(), c.finishes ? 2u : 0u);
        // The utilities are reaped by the controller; their children are gone as well.
        for (const auto& pid : pids)
            EXPECT_TRUE(WaitUntil([&] { return !IsAlive(pid); }, std::chrono::seconds(2))) << pid;
        leds.reset();
    }
}

// The caller never waits for a worker: with every worker waiting for its utility, further calls
// still return (counted while none of the utilities has finished). No more utilities than
// kMaxRunning run at once, and the events held back run once workers are free.
TEST_F(LedControllerTest, CallsReturnWhileEveryWorkerIsBusyAndRunningUtilitiesAreBounded)
{
    LedController leds(BlockingUtility());
    for (unsigned i = 0; i < LedController::kMaxRunning; ++i) leds.EventIn();
    ASSERT_TRUE(WaitForFiles("started", LedController::kMaxRunning));

    const unsigned held_back = LedController::kMaxRunning;  // run in one round once released
    std::atomic<unsigned> returned{0};
    std::thread caller([&] {
        for (unsigned i = 0; i < held_back; ++i) {
            leds.EventIn();
            ++returned;
        }
    });
    const bool all_returned = WaitUntil([&] { return returned == held_back; }, std::chrono::seconds(1));
    const std::size_t finished_meanwhile = Files("finished").size();
    caller.join();  // bounded: the utilities end by themselves within 1.8 s, or by the run bound
    EXPECT_TRUE(all_returned) << returned << " of " << held_back << " calls returned";
    EXPECT_EQ(finished_meanwhile, 0u);

    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_EQ(Files("started").size(), LedController::kMaxRunning);
    Release();
    EXPECT_TRUE(WaitForFiles("finished", LedController::kMaxRunning + held_back));
}

// The tests of the run bound and of stale events measure when utilities start and end, which says
// nothing under the emulator; there, too, dozens of utilities started from eight threads at once
// now and then leave a child stuck inside the emulator, holding the test's output open.
const char kTimedOnlyNatively[] = "timed against the run bound: runs natively only";

std::string HungLine(const std::string& utility)
{
    return "[led, warning] LED utility " + utility + " still running after " +
           std::to_string(LedController::kRunBound.count()) + " ms, ending it";
}

double SecondsSinceEpoch(std::chrono::system_clock::time_point time)
{
    return std::chrono::duration<double>(time.time_since_epoch()).count();
}

// Passes come twice a second for a while, to a utility of which some calls hang (`hangs`, a shell
// condition on the call's number). Every pass still runs the utility within the run bound plus a
// second (a hang must not keep a worker), each hung run is ended with its processes by the run
// bound plus the term grace plus a second, and each is named in one warning.
void LedControllerTest::RunPassesWithHangs(const std::string& utility, int passes, int expected_hangs)
{
    if (testing_support::UnderEmulator())
        GTEST_SKIP() << kTimedOnlyNatively;
    using namespace std::chrono;
    const double run_bound = duration<double>(LedController::kRunBound).count();
    const double ended_within = duration<double>(LedController::kRunBound + LedController::kTermGrace).count() + 1.0;
    testing_support::LogCapture log;
    LedController leds(utility);
    std::vector<double> passed;
    std::map<std::string, std::vector<std::string>> hung;  // "hung.<n>" -> its process ids
    const auto read_starts = [&] {
        std::vector<double> starts;
        for (const auto& file : Files("start")) starts.push_back(std::stod(ReadFile(file)));
        std::sort(starts.begin(), starts.end());
        return starts;
    };
    const auto load_hung = [&] {
        for (const auto& file : Files("hung")) {
            auto& pids = hung[file];
            if (pids.empty()) {
                std::istringstream text(ReadFile(file));
                for (std::string pid; text >> pid;) pids.push_back(pid);
            }
        }
    };
    // The processes of each hung run that should have been ended by now (each run named once).
    std::map<std::string, bool> failed;
    const auto check_hung_ended = [&](double now) {
        load_hung();
        for (const auto& [file, pids] : hung) {
            const std::string start = file.substr(0, file.rfind("hung.")) + "start" + file.substr(file.rfind('.'));
            const double age = now - std::stod(ReadFile(start));
            if (age > ended_within && !failed[file] && std::any_of(pids.begin(), pids.end(), IsAlive)) {
                ADD_FAILURE() << file << " still runs " << age << " s after its start";
                failed[file] = true;
            }
        }
    };

    const auto first = steady_clock::now();
    for (int i = 0; i < passes; ++i) {
        std::this_thread::sleep_until(first + i * milliseconds(500));
        passed.push_back(SecondsSinceEpoch(system_clock::now()));
        leds.EventIn();
        check_hung_ended(SecondsSinceEpoch(system_clock::now()));
    }
    // Every pass started a utility, the k-th start at most the bound plus a second after the k-th pass.
    EXPECT_TRUE(WaitUntil([&] { return read_starts().size() >= passed.size(); },
                          duration_cast<milliseconds>(LedController::kRunBound) + seconds(2)));
    const std::vector<double> starts = read_starts();
    ASSERT_EQ(starts.size(), passed.size());
    for (std::size_t k = 0; k < passed.size(); ++k) EXPECT_LT(starts[k] - passed[k], run_bound + 1.0) << "pass " << k;

    // Every hung run is ended, its processes gone, while the controller goes on.
    const auto ended = [&] {
        load_hung();
        return log.Count(HungLine(utility)) == static_cast<int>(hung.size()) &&
               std::none_of(hung.begin(), hung.end(),
                            [](const auto& run) { return std::any_of(run.second.begin(), run.second.end(), IsAlive); });
    };
    check_hung_ended(SecondsSinceEpoch(system_clock::now()));
    EXPECT_TRUE(WaitUntil(
        ended, duration_cast<milliseconds>(seconds(1) + LedController::kRunBound + LedController::kTermGrace)));
    check_hung_ended(SecondsSinceEpoch(system_clock::now()));
    EXPECT_EQ(static_cast<int>(Files("hung").size()), expected_hangs);
    EXPECT_EQ(log.Count(HungLine(utility)), expected_hangs);
}

// A utility that hangs on every call (and ignores SIGTERM, so each needs SIGKILL): the workers,
// each freed after the bound and the term grace, still serve a busy door. (With too few workers
// the events wait longer at every cycle, and within twelve seconds some go stale.)
TEST_F(LedControllerTest, UtilityHangingOnEveryCallStillRunsForEveryPass)
{
    RunPassesWithHangs(CountingUtility("true", true), 24, 24);
}

// A utility that hangs on one call in ten (and ends on SIGTERM).
TEST_F(LedControllerTest, UtilityHangingOnOneCallInTenStillRunsForEveryPass)
{
    RunPassesWithHangs(CountingUtility("[ $((n % 10)) -eq 3 ]", false), 20, 2);
}

// Events that waited longer than kStaleAfter for a worker are dropped, not run; the drops are
// reported as one warning with their number, at most once per kStaleReportInterval, the rest at
// Stop. Passes that come after them run at once.
TEST_F(LedControllerTest, StaleEventsAreDroppedWithOneWarningAndLaterPassesRun)
{
    if (testing_support::UnderEmulator())
        GTEST_SKIP() << kTimedOnlyNatively;
    using namespace std::chrono;
    testing_support::LogCapture log;
    // Calls 1 to W and 2W + 1 to 3W hang (W = kMaxRunning), ignoring SIGTERM: they hold every
    // worker for the run bound plus the whole term grace, longer than kStaleAfter.
    const unsigned workers = LedController::kMaxRunning;
    const std::string w = std::to_string(workers);
    const std::string utility =
        CountingUtility("[ $n -le " + w + " ] || { [ $n -gt $((2 * " + w + ")) ] && [ $n -le $((3 * " + w + ")) ]; }", true);
    static_assert(LedController::kRunBound + LedController::kTermGrace > LedController::kStaleAfter,
                  "the events queued behind hung runs must go stale");
    LedController leds(utility);
    const std::string stale_line = "[led, warning] LED events dropped, they waited longer than " +
                                   std::to_string(LedController::kStaleAfter.count()) + " ms for a worker: ";
    const auto stale_lines = [&] {
        std::vector<std::string> lines;
        for (const auto& line : log.Lines())
            if (boost::algorithm::starts_with(line, stale_line))
                lines.push_back(line.substr(stale_line.size()));
        return lines;
    };
    // Generous: on a busy machine starting the utilities alone may take a second or two.
    const milliseconds hung_runs_end = duration_cast<milliseconds>(LedController::kRunBound + LedController::kTermGrace +
                                                                   seconds(4));
    const unsigned queued = 25;

    // Every worker hangs; the events queued behind them go stale.
    for (unsigned i = 0; i < workers + queued; ++i) leds.EventIn();
    ASSERT_TRUE(WaitUntil([&] { return !stale_lines().empty(); }, hung_runs_end));
    // Passes after them run (calls W + 1 to 2W, which end at once) as soon as the hung runs are ended.
    ASSERT_TRUE(WaitUntil([&] { return log.Count(HungLine(utility)) == static_cast<int>(workers); }, hung_runs_end));
    for (unsigned i = 0; i < workers; ++i) leds.EventIn();
    EXPECT_TRUE(WaitForFiles("start", 2 * workers));

    // The same again within kStaleReportInterval: counted, not logged until Stop.
    for (unsigned i = 0; i < workers + queued; ++i) leds.EventIn();
    ASSERT_TRUE(WaitUntil([&] { return log.Count(HungLine(utility)) == static_cast<int>(2 * workers); },
                          hung_runs_end))
        << log.Count(HungLine(utility));
    leds.EventIn();  // call 3W + 1, which ends at once
    EXPECT_TRUE(WaitForFiles("start", 3 * workers + 1));
    EXPECT_EQ(stale_lines().size(), 1u);
    leds.Stop();
    // Every stale event is counted once, in the one line of the interval or in the one at Stop.
    // (Where starting the utilities is slow, as under an emulator, the first batch's events go
    // stale over a while: some are in the first line, the others in the one at Stop.)
    const std::vector<std::string> lines = stale_lines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(std::stoul(lines[0]) + std::stoul(lines[1]), 2 * queued) << lines[0] << " + " << lines[1];
    EXPECT_GE(std::stoul(lines[1]), queued);
    // The stale events never ran the utility.
    EXPECT_EQ(Files("start").size(), 3 * workers + 1);
}

// Processes whose parent is this one, ended or not.
int Children()
{
    int children = 0;
    for (const auto& entry : fs::directory_iterator("/proc")) {
        std::ifstream stat((entry.path() / "stat").string());
        std::string line;
        std::getline(stat, line);
        const auto name_end = line.rfind(')');
        std::istringstream fields(name_end == std::string::npos ? "" : line.substr(name_end + 1));
        std::string state;
        long parent = 0;
        children += fields >> state >> parent && parent == getpid();
    }
    return children;
}

// Every pass with a missing utility is logged with its path, and the child that failed to run it
// is reaped at once: none is left while the controller goes on.
TEST_F(LedControllerTest, MissingUtilityIsNamedForEveryPassAndLeavesNoChild)
{
    testing_support::LogCapture log;
    const std::string missing = m_dir.Path("no_such_utility");
    LedController leds(missing);
    const std::string line = "[led, error] Can not run LED utility " + missing + ": execve failed: ";
    const auto named = [&] {
        const auto lines = log.Lines();
        return std::count_if(lines.begin(), lines.end(),
                             [&](const auto& l) { return boost::algorithm::starts_with(l, line); });
    };
    // In rounds that the workers take at once, so that none waits until it is stale on a busy machine.
    const int round = static_cast<int>(LedController::kMaxRunning);
    const int passes = 5 * round;
    for (int i = 0; i < passes; ++i) {
        leds.EventIn();
        if ((i + 1) % round == 0) {
            ASSERT_TRUE(WaitUntil([&] { return named() == i + 1; })) << named() << ::testing::PrintToString(log.Lines());
        }
    }
    EXPECT_EQ(Children(), 0);
}

}  // namespace
