#include "application/outputs/led_controller.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <fstream>
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

#include "support/log_capture.h"
#include "support/polling.h"
#include "support/service_process.h"

namespace {

namespace fs = boost::filesystem;
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

    // Starts, then runs until the test creates "release" (or five seconds pass), then ends.
    std::string BlockingUtility()
    {
        return Script("blocking.sh",
                      ": > \"$dir/started.$$\"\n"
                      "i=0\n"
                      "while [ ! -e \"$dir/release\" ] && [ $i -lt 500 ]; do /bin/sleep 0.01; i=$((i+1)); done\n"
                      ": > \"$dir/finished.$$\"\n");
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

// A process that has ended (or is only a zombie waiting for another parent) is no longer alive.
bool IsAlive(const std::string& pid)
{
    std::ifstream stat("/proc/" + pid + "/stat");
    std::string skip;
    std::string name;
    std::string state;
    return stat >> skip >> name >> state && state != "Z";
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

TEST_F(LedControllerTest, NumberOfUtilitiesRunningAtOnceIsBounded)
{
    LedController leds(BlockingUtility());
    const unsigned events = LedController::kMaxRunning + 2;
    for (unsigned i = 0; i < events; ++i) leds.EventIn();

    ASSERT_TRUE(WaitForFiles("started", LedController::kMaxRunning));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_EQ(Files("started").size(), LedController::kMaxRunning);

    // The events held back run once workers are free.
    Release();
    EXPECT_TRUE(WaitForFiles("finished", events));
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
    const int passes = 40;
    for (int i = 0; i < passes; ++i) leds.EventIn();
    const std::string line = "[led, error] Can not run LED utility " + missing + ": execve failed: ";
    const auto named = [&] {
        const auto lines = log.Lines();
        return std::count_if(lines.begin(), lines.end(),
                             [&](const auto& l) { return boost::algorithm::starts_with(l, line); });
    };
    EXPECT_TRUE(WaitUntil([&] { return named() == passes; })) << named();
    EXPECT_EQ(Children(), 0);
}

}  // namespace
