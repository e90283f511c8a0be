// The stereo service with debugging on serves the analyser's first debug pictures as streams.
#include <gst/gst.h>
#include <gtest/gtest.h>
#include <signal.h>

#include <boost/filesystem.hpp>
#include <boost/process.hpp>
#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "support/alarms_database.h"
#include "support/launcher.h"
#include "support/ports.h"
#include "support/service_process.h"
#include "support/stream_reader.h"

namespace {

using namespace std::chrono_literals;
namespace fs = boost::filesystem;

// The scene renderer built beside the service binary.
fs::path RendererBinary()
{
    for (fs::path dir = fs::path(std::getenv("FLOWTALLY_BINARY")).parent_path(); !dir.empty(); dir = dir.parent_path())
        if (fs::exists(dir / "tools" / "flowtally_render"))
            return dir / "tools" / "flowtally_render";
    return {};
}

TEST(StereoDebugStreamsTest, RenderedPassIsServedAsTracksDisparityAndRectifiedPairStreams)
{
    gst_init(nullptr, nullptr);
    testing_support::TempDir dir;
    const fs::path renderer = RendererBinary();
    ASSERT_FALSE(renderer.empty()) << "flowtally_render is not built";
    const std::vector<std::string> render = testing_support::LaunchCommand(
        {renderer.string(), "--out", dir.Path("scene"), "--width", "144", "--height", "108", "--focal", "90", "--frames",
         "40", "--person", "0,-150,0,150,5,180,0"});
    boost::process::child rendering(boost::process::exe = render.front(),
                                    boost::process::args = std::vector<std::string>(render.begin() + 1, render.end()),
                                    boost::process::std_out > boost::process::null);
    // Rendering takes a few seconds, also under the emulator, where a fork now and then sticks
    // before its exec: such a renderer is ended and the test fails, rather than waiting for ever.
    const auto rendering_deadline = std::chrono::steady_clock::now() + 120s;
    while (rendering.running() && std::chrono::steady_clock::now() < rendering_deadline)
        std::this_thread::sleep_for(50ms);
    if (rendering.running()) {
        rendering.terminate();
        FAIL() << "the renderer did not end within 120 s";
    }
    ASSERT_EQ(rendering.exit_code(), 0);
    ASSERT_TRUE(testing_support::CreateAlarmsDatabase(dir.Path("alarms.sqlite")));
    const int stream_port = testing_support::FreePortRange(4);
    // Five pairs a second leave a slow reader several seconds before the service drops it.
    testing_support::ServiceProcess service(
        {"--inclinometer=false", "--stereo=true", "--debug=true", "--image_port=0",
         "--stream_port=" + std::to_string(stream_port), "--camera_width=144", "--camera_height=108",
         "--algo_width=144", "--algo_height=108", "--skip_ms=0",
         "--pipeline=multifilesrc location=" + dir.Path("scene/frame_%05d.png") +
             " loop=true caps=image/png,framerate=5/1 ! pngdec ! videoconvert ! identity sync=true ! "
             "capsfilter caps=\"video/x-raw,format=GRAY8,width={camera_width},height={camera_height}\" name=tail",
         "--algo_config=" + dir.Path("scene/algo.ini"), "--error_file_directory=" + dir.Path("errors"),
         "--angle_file_path=" + dir.Path("camera_angle"), "--alarms=" + dir.Path("alarms.sqlite"),
         "--set_leds=/bin/true"});

    const char* expected[] = {"BGR 144x108", "GRAY8 144x108", "GRAY8 288x108"};
    for (int i = 0; i < 3; ++i) {
        // A client that connects before the stream's first frame gets its header twice: connect after.
        ASSERT_TRUE(service.WaitForOutput("[dbg" + std::to_string(i) + "] Setting max-bytes", 60s)) << service.Output();
        testing_support::StreamReader stream(stream_port + 1 + i);
        EXPECT_EQ(stream.FirstFrameFormat(), expected[i]) << i << "\n" << service.Output();
    }

    service.Signal(SIGTERM);
    ASSERT_TRUE(service.WaitForExit(30s)) << service.Output();
    EXPECT_EQ(service.ExitCode(), 0) << service.Output();
}

}  // namespace
