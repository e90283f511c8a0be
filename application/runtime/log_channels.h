#pragma once

// Every log channel of the service, in one place. A thread logs on its own name and a bin on
// its bin name, so the names of the threads and bins that start-up creates are channels too.
namespace channel {

// Start-up, the main wait and the shutdown.
constexpr const char* kMain = "main";
// The image port's socket server.
constexpr const char* kTcpServer = "tcpserver";
// The LED utility's launcher.
constexpr const char* kLed = "led";
// The error marker files.
constexpr const char* kErrorFiles = "error_files";

// Threads.
constexpr const char* kAlarms = "alarms";
constexpr const char* kIndicator = "indicator";
constexpr const char* kImage = "image";
constexpr const char* kFrameBuffer = "hdmi";
constexpr const char* kInclinometer = "inclinometer";
constexpr const char* kAlgo = "algo";

// Bins; each top-level bin's pipeline runs on a thread named kPipelineThreadPrefix + its name.
constexpr const char* kCapture = "video_capture";
constexpr const char* kMainStreamer = "main_streamer";
constexpr const char* kJpeg = "jpeg";
constexpr const char* kDebugStreamPrefix = "dbg";
constexpr const char* kPipelineThreadPrefix = "th_";

}  // namespace channel
