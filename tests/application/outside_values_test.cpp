// Values from outside the service (options, the configuration and parameter files, GStreamer's
// messages about them) in the lines that name them: the built service is started once per value,
// and the value tries to start a line of its own, to write a terminal's control sequence and to
// print whole, ten kilobytes long.
#include <signal.h>

#include <chrono>
#include <fstream>
#include <functional>
#include <ostream>
#include <sstream>
#include <string>
#include <vector>

#include <boost/filesystem.hpp>
#include <gtest/gtest.h>

#include "application/runtime/logger.h"
#include "support/crossing_scene.h"
#include "support/service_process.h"

namespace {

using namespace std::chrono_literals;
using testing_support::ServiceProcess;
using testing_support::TempDir;

const std::string kForged = "FORGED line";
const std::string kEndMarker = "END-OF-VALUE";
// How the log shows the start of every value below, after its line break.
const std::string kQuotedStart = kForged + " \\x1b[31m";

// A line break, the forged line with a terminal's colour sequence, 10 kB and the end marker.
std::string Hostile(const std::string& line_break = "\n")
{
    return line_break + kForged + " \x1b[31m" + std::string(10240, 'x') + kEndMarker;
}

// A line of a parameter file ends at its line break: a carriage return comes in its place.
std::string HostileIniValue()
{
    return "a" + Hostile("\r");
}

// A line quotes at most an exception's text of 4 x the limit and a value, with its own words:
// far from the 10 kB of the value.
constexpr std::size_t kLongestLine = 8 * kLoggedValueLimit;

enum class Ending {
    kAborts,  // at start-up: the fatal line, then SIGABRT
    kOther,   // the service goes on, or stops in order by itself; it is stopped after the line
};

struct Row {
    const char* name;
    // Text of the line that names the value.
    const char* line;
    Ending ending;
    // Writes what the row needs into the directory; the service's arguments.
    std::function<std::vector<std::string>(const TempDir&)> arguments;
};

std::string Write(const TempDir& dir, const std::string& name, const std::string& content)
{
    std::ofstream(dir.Path(name)) << content;
    return dir.Path(name);
}

// A single-camera service counting on a test pattern, with no stream or image port: it runs until
// it is stopped.
std::vector<std::string> Service(const TempDir& dir)
{
    const std::string algo_ini = Write(dir, "algo.ini", "[MonoPeopleCounter]\nlines=[[[0.0,0.5],[1.0,0.5]]]\n");
    return {"--inclinometer=false", "--stereo=false", "--camera_width=160", "--camera_height=120",
            "--algo_width=160", "--algo_height=120", "--skip_ms=0", "--stream_port=0", "--image_port=0",
            "--pipeline=videotestsrc is-live=true ! capsfilter "
            "caps=video/x-raw,format=GRAY8,width=160,height=120,framerate=25/1 name=tail",
            "--error_file_directory=" + dir.Path("errors"), "--angle_file_path=" + dir.Path("camera_angle"),
            "--alarms=" + dir.Path("alarms.sqlite"), "--algo_config=" + algo_ini, "--set_leds=/bin/true"};
}

// The arguments with `option` ("--name") given `value` instead (an option may be given once).
std::vector<std::string> With(std::vector<std::string> arguments, const std::string& option, const std::string& value)
{
    const std::string prefix = option + "=";
    bool replaced = false;
    for (auto& argument : arguments) {
        if (argument.rfind(prefix, 0) == 0) {
            argument = prefix + value;
            replaced = true;
        }
    }
    if (!replaced)
        arguments.push_back(prefix + value);
    return arguments;
}

// One person crossing the counting line every 3.2 s, played in a loop: the counter reports passes.
std::vector<std::string> Scene(const TempDir& dir)
{
    const std::string parameters = testing_support::RenderOnePersonCrossing(dir.Path());
    auto arguments = With(Service(dir), "--algo_config", Write(dir, "scene.ini", parameters));
    return With(arguments, "--pipeline",
                "multifilesrc location=" + dir.Path("frame_%05d.png") +
                    " loop=true caps=image/png,framerate=25/1 ! pngdec ! videoconvert ! identity sync=true ! "
                    "capsfilter caps=\"video/x-raw,format=GRAY8,width=160,height=120,framerate=25/1\" name=tail");
}

// A parameter file that does not parse, at a path of about 3 kB (files have no longer paths) that
// begins with the forged line and ends with the marker.
std::string BrokenIniAtHostilePath(const TempDir& dir)
{
    boost::filesystem::path path = boost::filesystem::path(dir.Path()) / ("\n" + kForged + " \x1b[31m");
    for (int level = 0; level < 15; ++level) path /= std::string(200, 'x');
    boost::filesystem::create_directories(path);
    path /= kEndMarker + ".ini";
    std::ofstream(path.string()) << "[MonoPeopleCounter\nlines=[[[0.0,0.5],[1.0,0.5]]]\n";
    return path.string();
}

const Row kRows[] = {
    {"StreamPort", "Uncaught exception during initialization", Ending::kAborts,
     [](const TempDir&) { return std::vector<std::string>{"--stream_port=1" + Hostile()}; }},
    {"ConfigurationFile", "Can not open configuration file '", Ending::kAborts,
     [](const TempDir& dir) { return With(Service(dir), "--config", dir.Path("absent") + Hostile()); }},
    {"PipelineThatDoesNotParse", "Error parsing pipeline: ", Ending::kAborts,
     [](const TempDir& dir) {
         return With(Service(dir), "--pipeline",
                     "videotestsrc pattern=\"" + Hostile() + "\" ! capsfilter caps=video/x-raw,format=GRAY8 name=tail");
     }},
    {"GStreamerErrorNamingALocation", "GStreamer error: Error while reading from file", Ending::kOther,
     [](const TempDir& dir) {
         return With(Service(dir), "--pipeline",
                     "multifilesrc location=\"" + dir.Path("absent") + Hostile() + "\" name=tail");
     }},
    {"LedUtility", "Can not run LED utility ", Ending::kOther,
     [](const TempDir& dir) { return With(Scene(dir), "--set_leds", dir.Path("absent") + Hostile()); }},
    {"AngleFile", "Can not write the angle file ", Ending::kOther,
     [](const TempDir& dir) {
         return With(With(Service(dir), "--debug", "true"), "--angle_file_path", dir.Path("absent") + Hostile());
     }},
    {"ErrorFileDirectory", "Error marker db_error can not be changed: ", Ending::kOther,
     [](const TempDir& dir) {
         // A database that can not be opened sets its error marker at start.
         return With(With(Service(dir), "--alarms", dir.Path("absent/alarms.sqlite")), "--error_file_directory",
                     dir.Path("absent") + Hostile());
     }},
    {"BoardDevice", "Exception: Unable to open serial port ", Ending::kOther,
     [](const TempDir& dir) { return With(Service(dir), "--board_device", dir.Path("absent") + Hostile()); }},
    {"ParameterFilePath", "CIniDBBridge error parsing ini file ", Ending::kOther,
     [](const TempDir& dir) { return With(Service(dir), "--algo_config", BrokenIniAtHostilePath(dir)); }},
    {"ParameterValueInTheProfile", "_input_video_prefix\"", Ending::kOther,
     [](const TempDir& dir) {
         auto arguments = With(With(Service(dir), "--stereo", "true"), "--pipeline",
                               "videotestsrc is-live=true ! capsfilter "
                               "caps=video/x-raw,format=GRAY8,width=320,height=120,framerate=25/1 name=tail");
         return With(arguments, "--algo_config",
                     Write(dir, "hostile.ini", "[StereoPeopleCounter]\ninput_video_prefix=" + HostileIniValue() + "\n"));
     }},
    {"ParameterValueThatDoesNotRead", "unknown enum value '", Ending::kOther,
     [](const TempDir& dir) {
         return With(Service(dir), "--algo_config",
                     Write(dir, "hostile.ini", "[MonoPeopleCounter]\ngauss_type=" + HostileIniValue() + "\n"));
     }},
};

std::vector<std::string> Lines(const std::string& text)
{
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

// A row is named by its name alone.
void PrintTo(const Row& row, std::ostream* out)
{
    *out << row.name;
}

class OutsideValuesTest : public ::testing::TestWithParam<Row> {};

TEST_P(OutsideValuesTest, IsQuotedInTheLineThatNamesIt)
{
    const Row& row = GetParam();
    TempDir dir;
    ServiceProcess service(row.arguments(dir));
    if (row.ending == Ending::kAborts) {
        ASSERT_TRUE(service.WaitForExit(60s)) << service.Output();
        EXPECT_EQ(service.TermSignal(), SIGABRT) << service.Output();
    } else {
        ASSERT_TRUE(service.WaitForOutput(row.line, 60s)) << service.Output();
        service.Signal(SIGTERM);
        ASSERT_TRUE(service.WaitForExit(45s)) << service.Output();
    }
    // Standard output (the log) and standard error together.
    const std::string out = service.Output();

    bool named = false;
    int forged = 0;
    int too_long = 0;
    for (const std::string& line : Lines(out)) {
        named |= line.find(row.line) != std::string::npos && line.find(kQuotedStart) != std::string::npos;
        forged += line.rfind(kForged, 0) == 0;
        too_long += line.size() > kLongestLine;
    }
    EXPECT_TRUE(named) << "no line \"" << row.line << "\" that quotes the value in\n" << out;
    EXPECT_EQ(forged, 0) << "lines of their own in\n" << out;
    EXPECT_EQ(too_long, 0) << "lines longer than " << kLongestLine << " bytes";
    EXPECT_EQ(out.find(kEndMarker), std::string::npos) << "the value printed whole";
    int control = 0;
    for (const char c : out) {
        const unsigned char byte = static_cast<unsigned char>(c);
        control += (byte < 0x20 && c != '\n' && c != '\t') || byte == 0x7F;
    }
    EXPECT_EQ(control, 0) << "control characters in\n" << out;
}

INSTANTIATE_TEST_SUITE_P(Values, OutsideValuesTest, ::testing::ValuesIn(kRows),
                         [](const ::testing::TestParamInfo<Row>& row) { return std::string(row.param.name); });

}  // namespace
