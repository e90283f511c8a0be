// How the service binary stops: after a signal, after a failing thread, and at start-up.
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include <boost/filesystem.hpp>
#include <gtest/gtest.h>

#include "support/service_process.h"

namespace {

using namespace std::chrono_literals;
using testing_support::ServiceProcess;
using testing_support::TempDir;

std::vector<std::string> Arguments(const TempDir& dir, const std::string& pipeline)
{
    return {"--inclinometer=false", "--stream_port=0", "--image_port=0", "--stereo=true",
            "--pipeline=" + pipeline, "--camera_width=64", "--camera_height=48",
            "--algo_width=64", "--algo_height=48",
            "--error_file_directory=" + dir.Path("errors"), "--angle_file_path=" + dir.Path("camera_angle"),
            "--alarms=" + dir.Path("alarms.sqlite"), "--algo_config=" + dir.Path("absent.ini"),
            "--set_leds=/bin/true"};
}

const char kLiveCamera[] =
    "videotestsrc is-live=true ! capsfilter caps=video/x-raw,format=GRAY8,width=128,height=48,framerate=25/1 "
    "name=tail";
const char kEndingCamera[] =
    "videotestsrc is-live=true num-buffers=5 ! capsfilter "
    "caps=video/x-raw,format=GRAY8,width=128,height=48,framerate=25/1 name=tail";

// The main thread's shutdown lines, in order (other threads' lines may come between them).
void ExpectOrderedStop(const std::string& out)
{
    const auto terminating = out.find("[main] Thread is going to be terminated.\n");
    const auto terminated = out.find("[main] Thread is terminated.\n");
    ASSERT_NE(terminating, std::string::npos) << out;
    ASSERT_NE(terminated, std::string::npos) << out;
    EXPECT_LT(terminating, terminated) << out;
}

// Waits until the process has left the test's fork for a program of the tree and blocks SIGTERM,
// at most `patience` in all. The starter blocks it as its first act and the service unblocks it
// once its handlers are set, after loading its libraries: a signal sent then comes in the middle
// of the start. A signal sent before the block would end the process at once, as the design has
// it, so the wait is for the block itself, however long a loaded machine takes to get there.
void WaitForStartAndBlockedSigterm(pid_t pid, std::chrono::milliseconds patience)
{
    const std::string proc = "/proc/" + std::to_string(pid);
    const auto deadline = std::chrono::steady_clock::now() + patience;
    char exe[PATH_MAX] = {};
    while (std::string(exe).find("/flowtally") == std::string::npos && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(100us);
        exe[std::max<ssize_t>(readlink((proc + "/exe").c_str(), exe, sizeof(exe) - 1), 0)] = '\0';
    }
    while (std::chrono::steady_clock::now() < deadline) {
        std::ifstream status(proc + "/status");
        for (std::string line; std::getline(status, line);)
            if (line.rfind("SigBlk:", 0) == 0 && (std::stoull(line.substr(7), nullptr, 16) >> (SIGTERM - 1) & 1))
                return;
    }
    ADD_FAILURE() << "the service did not block SIGTERM within " << patience.count() << " ms";
}

TEST(ServiceStopTest, SignalsStopAtOnceInTheSkipWithExitCodeZero)
{
    struct Case {
        int signal_number;
        const char* skip;
        bool at_start;  // sent as soon as the program runs, while the service's libraries are loaded
    };
    // The default skip of 5 s and one far longer than any bound below.
    const Case cases[] = {{SIGTERM, "--skip_ms=5000", false},
                          {SIGINT, "--skip_ms=60000", false},
                          {SIGHUP, "--skip_ms=60000", false},
                          {SIGTERM, "--skip_ms=60000", true}};
    const char* emulator = std::getenv("FLOWTALLY_TEST_LAUNCHER");
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.signal_number) + " " + c.skip + (c.at_start ? " at start" : ""));
        if (c.at_start && emulator && *emulator)
            continue;  // the emulator starts the service itself
        TempDir dir;
        auto args = Arguments(dir, kLiveCamera);
        args.push_back(c.skip);
        ServiceProcess service(args);
        if (c.at_start)
            WaitForStartAndBlockedSigterm(service.Pid(), 30s);
        else
            ASSERT_TRUE(service.WaitForOutput("[algo] Received first frame", 30s)) << service.Output();

        const auto signalled = std::chrono::steady_clock::now();
        service.Signal(c.signal_number);
        ASSERT_TRUE(service.WaitForExit(30s)) << service.Output();
        const auto stop_time = std::chrono::steady_clock::now() - signalled;
        // Generous for a loaded machine running sanitizers; the skip alone would take far longer.
        EXPECT_LT(stop_time, c.at_start ? 30s : 3s) << service.Output();
        RecordProperty("stop_ms_" + std::to_string(c.signal_number),
                       std::to_string(std::chrono::duration_cast<std::chrono::milliseconds>(stop_time).count()));

        EXPECT_EQ(service.ExitCode(), 0) << service.Output();
        const std::string out = service.Output();
        EXPECT_NE(out.find("[main] Caught signal " + std::to_string(c.signal_number) + "\n"), std::string::npos)
            << out;
        ExpectOrderedStop(out);
        EXPECT_NE(out.find("[algo] Thread terminated"), std::string::npos) << out;
    }
}

// The capture's side branch sleeps 3 s per buffer, so stopping the capture takes about as long;
// the algorithm thread waits for it instead of failing for want of frames.
TEST(ServiceStopTest, CaptureThatTakesLongToStopLetsTheAlgorithmThreadEndInOrder)
{
    TempDir dir;
    auto args = Arguments(dir,
                          "videotestsrc is-live=true ! capsfilter "
                          "caps=video/x-raw,format=GRAY8,width=128,height=48,framerate=25/1 ! tee name=t "
                          "t. ! queue leaky=downstream max-size-buffers=1 ! identity sleep-time=3000000 ! fakesink "
                          "sync=false t. ! queue ! identity name=tail");
    args.push_back("--skip_ms=5000");
    ServiceProcess service(args);
    // The first frame passes as the side branch ends its first sleep; 3.3 s later it has just
    // begun another.
    ASSERT_TRUE(service.WaitForOutput("[algo] Received first frame", 30s)) << service.Output();
    std::this_thread::sleep_for(3300ms);
    service.Signal(SIGTERM);
    ASSERT_TRUE(service.WaitForExit(30s)) << service.Output();
    EXPECT_EQ(service.ExitCode(), 0) << service.Output();
    const std::string out = service.Output();
    EXPECT_EQ(out.find("No frames for too long."), std::string::npos) << out;
    EXPECT_NE(out.find("[algo] Dropped frames due to slow algorithms: 0\n"), std::string::npos) << out;
    EXPECT_NE(out.find("[algo] Thread terminated"), std::string::npos) << out;
    ExpectOrderedStop(out);
}

TEST(ServiceStopTest, CameraThatEndsDuringALongSkipStopsAtOnceWithExitCodeOne)
{
    TempDir dir;
    auto args = Arguments(dir, kEndingCamera);
    args.push_back("--skip_ms=60000");
    ServiceProcess service(args);
    ASSERT_TRUE(service.WaitForExit(30s)) << service.Output();
    EXPECT_EQ(service.ExitCode(), 1) << service.Output();
    const std::string out = service.Output();
    EXPECT_NE(out.find("[th_video_capture, fatal] Uncaught exception!"), std::string::npos) << out;
    EXPECT_EQ(out.find("Caught signal"), std::string::npos) << out;
    ExpectOrderedStop(out);
    EXPECT_NE(out.find("[algo] Thread terminated"), std::string::npos) << out;
}

TEST(ServiceStopTest, UnparsablePipelineIsAStartUpFailure)
{
    TempDir dir;
    ServiceProcess service(Arguments(dir, "videotestsrc ! nonexistentelement"));
    ASSERT_TRUE(service.WaitForExit(30s)) << service.Output();
    EXPECT_FALSE(service.ExitedNormally() && service.ExitCode() == 0);
    EXPECT_NE(service.Output().find("Uncaught exception during initialization: class: "), std::string::npos)
        << service.Output();
    EXPECT_NE(service.Output().find("nonexistentelement"), std::string::npos) << service.Output();
}

TEST(ServiceStopTest, UnusableMarkerDirectoryWarnsOnceAndAnAngleDirectoryIsKept)
{
    TempDir dir;
    std::ofstream(dir.Path("plain")) << "not a directory";
    boost::filesystem::create_directories(dir.Path("camera_angle"));
    auto args = Arguments(dir, kLiveCamera);
    args.push_back("--skip_ms=0");
    for (std::string& arg : args) {
        if (arg.rfind("--error_file_directory=", 0) == 0)
            arg = "--error_file_directory=" + dir.Path("plain") + "/errors";
    }
    ServiceProcess service(args);
    ASSERT_TRUE(service.WaitForOutput("[algo] Received first frame", 30s)) << service.Output();
    // The algorithm thread goes on taking frames after the marker failed.
    ASSERT_TRUE(service.WaitForOutput("[error_files, warning] Error marker angle_error", 10s)) << service.Output();
    service.Signal(SIGTERM);
    ASSERT_TRUE(service.WaitForExit(30s)) << service.Output();
    EXPECT_EQ(service.ExitCode(), 0) << service.Output();
    const std::string out = service.Output();
    const auto first = out.find("Error marker angle_error");
    EXPECT_EQ(out.find("Error marker angle_error", first + 1), std::string::npos) << out;
    EXPECT_NE(out.find("[algo] Thread terminated"), std::string::npos) << out;
    EXPECT_TRUE(boost::filesystem::is_directory(dir.Path("camera_angle")));
}

}  // namespace
