// Runs the built service binary as a user would: options, configuration file, signals.
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>
#include <utility>

#include <boost/filesystem.hpp>
#include <gtest/gtest.h>

#include "support/ports.h"
#include "support/service_process.h"

namespace {

namespace fs = boost::filesystem;
using testing_support::ServiceProcess;

TEST(ServiceProcessTest, VersionPrintsTwoLinesAndExitsZero)
{
    ServiceProcess service({"--version"});
    ASSERT_TRUE(service.WaitForExit(std::chrono::seconds(60)));
    EXPECT_EQ(service.ExitCode(), 0);
    const std::string out = service.Output();
    EXPECT_EQ(out.rfind("flowtally 3.3\n", 0), 0u) << out;
    EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), 2);
}

TEST(ServiceProcessTest, HelpPrintsOptionGroupsAndExitsOne)
{
    ServiceProcess service({"--help"});
    ASSERT_TRUE(service.WaitForExit(std::chrono::seconds(60)));
    EXPECT_EQ(service.ExitCode(), 1);
    EXPECT_NE(service.Output().find("Generic options:"), std::string::npos);
    EXPECT_NE(service.Output().find("Configuration:"), std::string::npos);
}

// A configuration that can not be read ends the start with the fatal line naming it, at once: a
// FIFO without a writer holds nothing up (the process is killed when the wait runs out).
TEST(ServiceProcessTest, ConfigurationThatCanNotBeReadIsFatal)
{
    testing_support::TempDir dir;
    const std::string fifo = dir.Path("fifo.conf");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const std::pair<std::string, std::string> cases[] = {
        {"/nonexistent/flowtally.conf", "Can not open configuration file '/nonexistent/flowtally.conf'"},
        {"/proc/self/mem", "Can not read configuration file '/proc/self/mem': "},
        {fifo, "Configuration file '" + fifo + "' is not a regular file"},
    };
    for (const auto& [path, message] : cases) {
        SCOPED_TRACE(path);
        ServiceProcess service({"--config", path});
        ASSERT_TRUE(service.WaitForExit(std::chrono::seconds(60))) << service.Output();
        EXPECT_FALSE(service.ExitedNormally());
        EXPECT_NE(service.Output().find("Uncaught exception during initialization: class: St13runtime_error; "
                                        "message: " + message),
                  std::string::npos)
            << service.Output();
    }
}

// The library fills its texts' placeholders until none is left: a name or value holding one
// would spin the start for good (the process is killed when the wait runs out).
TEST(ServiceProcessTest, PlaceholderOfTheLibrarysTextsInAnOptionIsShownEscaped)
{
    testing_support::TempDir dir;
    const auto config = [&](const std::string& name, const std::string& text) {
        std::ofstream(dir.Path(name)) << text;
        return "--config=" + dir.Path(name);
    };
    const std::pair<std::string, std::string> cases[] = {
        {"--stream_port=%value%", "the argument ('\\x25value\\x25') for option '--stream_port' is invalid"},
        {"--%canonical_option%", "unrecognised option '--\\x25canonical_option\\x25'"},
        {config("value.conf", "stream_port=%value%\n"),
         "the argument ('\\x25value\\x25') for option 'stream_port' is invalid"},
        {config("line.conf", "%invalid_line%\n"),
         "the options configuration file contains an invalid line '\\x25invalid_line\\x25'"},
    };
    for (const auto& [argument, message] : cases) {
        SCOPED_TRACE(argument);
        ServiceProcess service({argument});
        ASSERT_TRUE(service.WaitForExit(std::chrono::seconds(60))) << service.Output();
        EXPECT_FALSE(service.ExitedNormally());
        const std::string out = service.Output();
        const auto fatal = out.find("Uncaught exception during initialization: class: ");
        ASSERT_NE(fatal, std::string::npos) << out;
        EXPECT_NE(out.find("; message: " + message + "\n", fatal), std::string::npos) << out;
    }
}

TEST(ServiceProcessTest, StopsInOrderOnSigterm)
{
    testing_support::TempDir dir;
    // The image port's branch takes the frames: a capture that feeds nothing fails at its first
    // frame, and that failure would race the signal.
    ServiceProcess service({"--algo_enabled=false", "--stereo=false", "--stream_port=0",
                            "--image_port=" + std::to_string(testing_support::FreePortRange(1)), "--inclinometer=false",
                            "--pipeline=videotestsrc is-live=true ! capsfilter "
                            "caps=video/x-raw,format=GRAY8,width=64,height=48,framerate=10/1 name=tail",
                            "--error_file_directory=" + dir.Path("errors"),
                            "--angle_file_path=" + dir.Path("angle"),
                            "--alarms=" + dir.Path("alarms.sqlite"), "--set_leds=/bin/true"});
    ASSERT_TRUE(service.WaitForOutput("[main] Initializing GStreamer...", std::chrono::seconds(30)))
        << service.Output();
    service.Signal(SIGTERM);
    ASSERT_TRUE(service.WaitForExit(std::chrono::seconds(60))) << service.Output();
    EXPECT_EQ(service.ExitCode(), 0) << service.Output();
    const std::string out = service.Output();
    // Other threads' lines may come between the main thread's.
    const auto caught = out.find("[main] Caught signal 15\n");
    const auto terminating = out.find("[main] Thread is going to be terminated.\n");
    const auto terminated = out.find("[main] Thread is terminated.\n");
    ASSERT_NE(caught, std::string::npos) << out;
    ASSERT_NE(terminating, std::string::npos) << out;
    ASSERT_NE(terminated, std::string::npos) << out;
    EXPECT_LT(caught, terminating);
    EXPECT_LT(terminating, terminated);
}

}  // namespace
