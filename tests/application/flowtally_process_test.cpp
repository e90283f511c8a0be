// The whole service as a user starts it: the built binary on a test-pattern camera.
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include <boost/filesystem.hpp>
#include <gtest/gtest.h>
#include <opencv2/imgcodecs.hpp>

#include "application/runtime/unique_fd.h"
#include "application/streaming/bin.h"
#include "support/alarms_database.h"
#include "support/crossing_scene.h"
#include "support/polling.h"
#include "support/processes.h"
#include "support/ports.h"
#include "support/service_process.h"
#include "support/stream_client.h"
#include "support/stream_reader.h"

namespace {

using namespace std::chrono_literals;
using testing_support::ServiceProcess;
using testing_support::TempDir;

std::vector<std::string> CommonArguments(const TempDir& dir)
{
    return {"--inclinometer=false",
            "--pipeline=videotestsrc is-live=true ! capsfilter caps=\"video/x-raw,format=GRAY8,"
            "width={camera_width},height={camera_height},framerate=25/1\" name=tail",
            // A second for the pipeline to start before the algorithms wait for frames, as the
            // default skip gives it on the device: under an emulator on a busy machine starting it
            // takes longer than their one-second wait for a frame.
            "--camera_width=160", "--camera_height=120", "--skip_ms=1000",
            "--error_file_directory=" + dir.Path("errors"), "--angle_file_path=" + dir.Path("camera_angle"),
            "--alarms=" + dir.Path("alarms.sqlite"), "--algo_config=" + dir.Path("absent.ini"),
            "--set_leds=/bin/true"};
}

bool WaitUntilListening(int port)
{
    return testing_support::WaitUntil([port] { return !testing_support::PortIsFree(port); }, 20s);
}

TEST(FlowtallyProcessTest, StereoServiceStreamsServesLeftViewJpegAndStopsInOrder)
{
    streaming::InitGstreamer();
    TempDir dir;
    const int ports = testing_support::FreePortRange(2);
    const int image_port = ports;
    const int stream_port = ports + 1;
    std::ofstream(dir.Path("camera_angle")) << "stale\n";
    ASSERT_TRUE(testing_support::CreateAlarmsDatabase(dir.Path("alarms.sqlite")));
    auto args = CommonArguments(dir);
    args.push_back("--stream_port=" + std::to_string(stream_port));
    args.push_back("--image_port=" + std::to_string(image_port));
    args.push_back("--stereo=true");
    ServiceProcess service(args);

    ASSERT_TRUE(service.WaitForOutput("[algo] Received first frame", 30s)) << service.Output();
    EXPECT_FALSE(boost::filesystem::exists(dir.Path("camera_angle"))) << "deleted at start";
    ASSERT_TRUE(WaitUntilListening(stream_port));
    ASSERT_TRUE(WaitUntilListening(image_port));
    std::this_thread::sleep_for(500ms);

    testing_support::StreamReader stream(stream_port);
    EXPECT_EQ(stream.FirstFrameFormat(), "GRAY8 320x120");

    StreamClient client(static_cast<unsigned short>(image_port));
    const auto jpeg = client.Read(static_cast<std::size_t>(-1), 10s);
    EXPECT_TRUE(jpeg.closed_by_server);
    const cv::Mat picture =
        cv::imdecode(std::vector<unsigned char>(jpeg.bytes.begin(), jpeg.bytes.end()), cv::IMREAD_UNCHANGED);
    EXPECT_EQ(picture.cols, 160) << "only the left view";
    EXPECT_EQ(picture.rows, 120);

    service.Signal(SIGTERM);
    ASSERT_TRUE(service.WaitForExit(30s)) << service.Output();
    EXPECT_EQ(service.ExitCode(), 0) << service.Output();
    const std::string out = service.Output();
    const auto caught = out.find("[main] Caught signal 15\n");
    ASSERT_NE(caught, std::string::npos) << out;
    EXPECT_LT(caught, out.find("[main] Thread is going to be terminated.\n"));
    for (const char* thread : {"alarms", "indicator", "image", "algo", "th_video_capture"})
        EXPECT_NE(out.find(std::string("[") + thread + "] Thread terminated"), std::string::npos) << thread;
    EXPECT_LT(out.find("[algo] Thread terminated"), out.find("[main] Thread is terminated."));
    EXPECT_FALSE(boost::filesystem::exists(dir.Path("camera_angle")));
}

TEST(FlowtallyProcessTest, DisabledOutputsAndAlgorithmsDoNotExist)
{
    TempDir dir;
    auto args = CommonArguments(dir);
    for (const char* option : {"--algo_enabled=false", "--stream_port=0", "--image_port=0"})
        args.push_back(option);
    ServiceProcess service(args);
    // Nothing takes the camera's frames, so the capture pipeline fails at its first frame: the
    // service stops in order and reports the failure with exit code 1.
    ASSERT_TRUE(service.WaitForExit(30s)) << service.Output();
    EXPECT_EQ(service.ExitCode(), 1) << service.Output();
    const std::string out = service.Output();
    EXPECT_NE(out.find("[video_capture] Setting pipeline to PLAYING..."), std::string::npos) << out;
    EXPECT_NE(out.find("[main] Thread is terminated."), std::string::npos) << out;
    for (const char* channel : {"[algo", "[image", "[jpeg", "[main_streamer", "[inclinometer"})
        EXPECT_EQ(out.find(channel), std::string::npos) << channel << " in\n" << out;
}

// A single camera watching one person cross the counting line, a pass every 3 s: the scene is
// rendered into `dir` and played in a loop at 25 frames a second. The LED utility lists the
// descriptors it started with (its first call only) and leaves a process behind at every call,
// writing "<its pid> <the pid left>" to "left".
class LedUtilityOfTheServiceTest : public ::testing::Test {
protected:
    LedUtilityOfTheServiceTest()
    {
        streaming::InitGstreamer();
        std::ofstream(m_dir.Path("algo.ini")) << testing_support::RenderOnePersonCrossing(m_dir.Path());
        std::ofstream(m_utility) << "#!/bin/sh\n"
                                    "dir='" << m_dir.Path() << "'\n"
                                    "if { set -C; true > \"$dir/listed\"; } 2>/dev/null; then\n"
                                    "  ( find /proc/$$/fd -mindepth 1 -printf '%f -> %l\\n' > \"$dir/tmp.$$\" )\n"
                                    "  /bin/mv \"$dir/tmp.$$\" \"$dir/descriptors\"\n"
                                    "fi\n"
                                    "/bin/sleep 30 &\n"
                                    "echo \"$$ $!\" >> \"$dir/left\"\n";
        chmod(m_utility.c_str(), 0755);
        EXPECT_TRUE(testing_support::CreateAlarmsDatabase(m_dir.Path("alarms.sqlite")));
    }

    // Whatever the utilities left running ends with the test.
    ~LedUtilityOfTheServiceTest() override
    {
        std::ifstream left(m_dir.Path("left"));
        for (pid_t utility = 0, process = 0; left >> utility >> process;) {
            kill(-utility, SIGKILL);
            kill(process, SIGKILL);
        }
    }

    std::vector<std::string> Arguments() const
    {
        return {"--inclinometer=false", "--stereo=false", "--camera_width=160", "--camera_height=120",
                "--algo_width=160", "--algo_height=120", "--skip_ms=0",
                "--pipeline=multifilesrc location=" + m_dir.Path("frame_%05d.png") +
                    " loop=true caps=image/png,framerate=25/1 ! pngdec ! videoconvert ! identity sync=true ! "
                    "capsfilter caps=\"video/x-raw,format=GRAY8,width=160,height=120,framerate=25/1\" name=tail",
                "--algo_config=" + m_dir.Path("algo.ini"), "--error_file_directory=" + m_dir.Path("errors"),
                "--angle_file_path=" + m_dir.Path("camera_angle"), "--alarms=" + m_dir.Path("alarms.sqlite"),
                "--image_port=" + std::to_string(m_ports), "--stream_port=" + std::to_string(m_ports + 1),
                "--set_leds=" + m_utility};
    }

    bool FileWritten(const std::string& name, std::chrono::milliseconds timeout)
    {
        return testing_support::WaitUntil(
            [&] {
                boost::system::error_code missing;
                const auto size = boost::filesystem::file_size(m_dir.Path(name), missing);
                return !missing && size > 0;
            },
            timeout);
    }

    TempDir m_dir;
    const std::string m_utility = m_dir.Path("set_leds.sh");
    const int m_ports = testing_support::FreePortRange(2);
};

// The utility gets its standard streams and nothing else of the service: not its listening
// sockets, its database or the descriptors its other parts and libraries opened.
TEST_F(LedUtilityOfTheServiceTest, GetsNoDescriptorButItsStandardStreams)
{
    // One the service inherits without close-on-exec, at the lowest free number: 3 where whatever
    // runs the test leaves nothing there, the first the marking must cover.
    util::UniqueFd inherited(::open("/dev/null", O_RDONLY));
    ASSERT_TRUE(inherited.isValid()) << std::strerror(errno);
    ServiceProcess service(Arguments());
    ASSERT_TRUE(WaitUntilListening(m_ports)) << service.Output();
    ASSERT_TRUE(WaitUntilListening(m_ports + 1)) << service.Output();
    ASSERT_TRUE(FileWritten("descriptors", 60s)) << service.Output();

    // "<fd> -> <target>" per descriptor; the shell reads its script through one of its own.
    std::ifstream listing(m_dir.Path("descriptors"));
    std::string descriptors;
    for (std::string line; std::getline(listing, line);)
        if (line.find(" -> " + m_utility) == std::string::npos)
            descriptors += line + "\n";
    EXPECT_EQ(descriptors, "1 -> /dev/null\n2 -> /dev/null\n");

    service.Signal(SIGTERM);
    ASSERT_TRUE(service.WaitForExit(30s)) << service.Output();
    EXPECT_EQ(service.ExitCode(), 0) << service.Output();
}

// A supervisor restarts a service that was killed at once, while what its utility left behind
// still runs: the new service gets the image and stream ports.
TEST_F(LedUtilityOfTheServiceTest, ServiceStartedAfterAKillGetsItsPortsWhileWhatTheUtilityLeftRuns)
{
    {
        ServiceProcess killed(Arguments());
        ASSERT_TRUE(WaitUntilListening(m_ports)) << killed.Output();
        ASSERT_TRUE(WaitUntilListening(m_ports + 1)) << killed.Output();
        ASSERT_TRUE(FileWritten("left", 60s)) << killed.Output();
        killed.Signal(SIGKILL);
        ASSERT_TRUE(killed.WaitForExit(10s));
    }
    std::ifstream left(m_dir.Path("left"));
    pid_t utility = 0;
    pid_t process = 0;
    ASSERT_TRUE(left >> utility >> process);
    ASSERT_TRUE(testing_support::IsAlive(std::to_string(process)));

    ServiceProcess restarted(Arguments());
    ASSERT_TRUE(restarted.WaitForOutput("[algo] Received first frame", 30s)) << restarted.Output();
    testing_support::StreamReader stream(m_ports + 1);
    EXPECT_EQ(stream.FirstFrameFormat(), "GRAY8 160x120");
    StreamClient client(static_cast<unsigned short>(m_ports));
    EXPECT_FALSE(client.Read(static_cast<std::size_t>(-1), 10s).bytes.empty());
    restarted.Signal(SIGTERM);
    ASSERT_TRUE(restarted.WaitForExit(30s)) << restarted.Output();
    EXPECT_EQ(restarted.ExitCode(), 0) << restarted.Output();
}

}  // namespace
