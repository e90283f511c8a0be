// The whole service as a user starts it: the built binary on a test-pattern camera.
#include <signal.h>

#include <chrono>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include <boost/filesystem.hpp>
#include <gtest/gtest.h>
#include <opencv2/imgcodecs.hpp>

#include "application/streaming/bin.h"
#include "support/alarms_database.h"
#include "support/polling.h"
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

}  // namespace
