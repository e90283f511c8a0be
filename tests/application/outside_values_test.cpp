// Values from outside the service (options, the configuration and parameter files, GStreamer's
// messages about them) in the lines that name them: the built service is started once per value,
// and the value tries to start a line of its own, to write a terminal's control sequence (as C0,
// as C1, as a byte that is no character, or as a mark that turns the text right to left) and to
// print whole, ten kilobytes long. A parameter file's value shows whole in the parameter profile
// and listing, escaped; everywhere else it is cut.
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
#include "support/shown_text.h"
#include "tools/scene_renderer/scene_files.h"

namespace {

using namespace std::chrono_literals;
using testing_support::ServiceProcess;
using testing_support::TempDir;

const std::string kForged = "FORGED line";
const std::string kEndMarker = "END-OF-VALUE";

// A terminal's control sequence and how the log shows it.
struct Control {
    const char* raw;
    const char* shown;
};
const Control kEscape = {"\x1b[31m", "\\x1b[31m"};
// The control sequence introducer as a C1 control and as a byte alone (erasing the line, the screen).
const Control kC1Csi = {"\xc2\x9bK", "\\x9bK"};
const Control kRawCsi = {"\x9bJ", "\\x9bJ"};
const Control kRightToLeft = {"\xe2\x80\xae", "\\u202e"};
const Control kC1AndRightToLeft = {"\xc2\x9bK\xe2\x80\xae", "\\x9bK\\u202e"};

// A line break, the forged line with a terminal's control sequence, 10 kB and the end marker.
std::string Hostile(const std::string& line_break = "\n", const Control& control = kEscape)
{
    return line_break + kForged + " " + control.raw + std::string(10240, 'x') + kEndMarker;
}

// A line of a parameter file ends at its line break: a carriage return comes in its place.
std::string HostileIniValue(const Control& control = kEscape)
{
    return "a" + Hostile("\r", control);
}

// A line quotes at most an exception's text of 4 x the limit and a value, with its own words:
// far from the 10 kB of the value.
constexpr std::size_t kLongestLine = 8 * kLoggedValueLimit;

enum class Ending {
    kAborts,  // at start-up: the fatal line, then SIGABRT
    kOther,   // the service goes on, or stops in order by itself; it is stopped after the line
};

// How the log shows the value.
enum class Shown {
    kCut,             // cut in every line
    kCutButProfiled,  // a parameter file's: cut in the line that names it, whole in the profile
    kWhole,           // whole in the line that names it: the parameter profile or listing
};

struct Row {
    const char* name;
    // Text of the line that names the value.
    const char* line;
    Ending ending;
    // Writes what the row needs into the directory; the service's arguments.
    std::function<std::vector<std::string>(const TempDir&)> arguments;
    Shown shown = Shown::kCut;
    // The control sequence the value holds after the forged text.
    Control control = kEscape;
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

// A stereo service counting on a test pattern, with the calibration of a rendered camera and the
// given lines in the counter's own section: it runs until it is stopped.
std::vector<std::string> StereoService(const TempDir& dir, const std::string& section)
{
    scene::Scene scene;
    scene.rig = {144, 108, 90.0, 260.0, 15.0, 0.0, true};
    const std::string parameters = scene::AlgoIni(scene) + "\n[StereoPeopleCounter]\n" + section + "\n";
    auto arguments =
        With(With(Service(dir), "--stereo", "true"), "--algo_config", Write(dir, "stereo.ini", parameters));
    for (const char* option : {"--camera_width", "--algo_width"}) arguments = With(arguments, option, "144");
    for (const char* option : {"--camera_height", "--algo_height"}) arguments = With(arguments, option, "108");
    return With(arguments, "--pipeline",
                "videotestsrc is-live=true ! capsfilter "
                "caps=video/x-raw,format=GRAY8,width=288,height=108,framerate=25/1 name=tail");
}

// A folder at a path of about 3 kB (files have no longer paths) that begins with the forged line
// after a carriage return (a parameter file's value holds no line feed) and ends with the marker.
std::string HostileFolder(const TempDir& dir)
{
    boost::filesystem::path path = boost::filesystem::path(dir.Path()) / ("\r" + kForged + " \x1b[31m");
    for (int level = 0; level < 15; ++level) path /= std::string(200, 'x');
    path /= kEndMarker;
    boost::filesystem::create_directories(path);
    return path.string();
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
     [](const TempDir& dir) { return StereoService(dir, "input_video_prefix=" + HostileIniValue()); }, Shown::kWhole},
    {"ParameterValueThatDoesNotRead", "unknown enum value '", Ending::kOther,
     [](const TempDir& dir) {
         return With(Service(dir), "--algo_config",
                     Write(dir, "hostile.ini", "[MonoPeopleCounter]\ngauss_type=" + HostileIniValue() + "\n"));
     }},
    // The single camera's listing of its parameters, one a line; the filter keeps unknown keys.
    {"ParameterListing", "MonoPeopleCounter_perspective_filter=top_factor=1;", Ending::kOther,
     [](const TempDir& dir) {
         return With(Service(dir), "--algo_config",
                     Write(dir, "hostile.ini",
                           "[MonoPeopleCounter]\nlines=[[[0.0,0.5],[1.0,0.5]]]\nperspective_filter=top_factor=1;"
                           "bottom_factor=1;shift_x=0;shift_y=0;translation=0;zoom=1;" +
                               Hostile("\r") + "=1;\n"));
     },
     Shown::kWhole},
    {"DebugVideoThatCanNotBeOpened", "Can not open debug video ", Ending::kOther,
     [](const TempDir& dir) {
         return StereoService(dir, "write_debug_video=true\ndebug_video_folder=" + dir.Path("absent") + Hostile("\r"));
     },
     Shown::kCutButProfiled},
    {"DebugVideoCreated", "Creating debug video ", Ending::kOther,
     [](const TempDir& dir) {
         return StereoService(
             dir, "write_debug_video=true\ndebug_video_frames_num=2\ndebug_video_folder=" + HostileFolder(dir));
     },
     Shown::kCutButProfiled},
    // A C1 control sequence, a byte that is no character and a mark that turns the text right to left.
    {"ConfigurationFileWithC1Control", "Can not open configuration file '", Ending::kAborts,
     [](const TempDir& dir) { return With(Service(dir), "--config", dir.Path("absent") + Hostile("\n", kC1Csi)); },
     Shown::kCut, kC1Csi},
    {"AngleFileWithInvalidByte", "Can not write the angle file ", Ending::kOther,
     [](const TempDir& dir) {
         return With(With(Service(dir), "--debug", "true"), "--angle_file_path",
                     dir.Path("absent") + Hostile("\n", kRawCsi));
     },
     Shown::kCut, kRawCsi},
    {"BoardDeviceWithRightToLeftMark", "Exception: Unable to open serial port ", Ending::kOther,
     [](const TempDir& dir) {
         return With(Service(dir), "--board_device", dir.Path("absent") + Hostile("\n", kRightToLeft));
     },
     Shown::kCut, kRightToLeft},
    // (The parameter files' reader takes a value that is not UTF-8 as empty: no byte alone here.)
    {"ParameterValueInTheProfileWithC1AndRightToLeftMark", "_input_video_prefix\"", Ending::kOther,
     [](const TempDir& dir) { return StereoService(dir, "input_video_prefix=" + HostileIniValue(kC1AndRightToLeft)); },
     Shown::kWhole, kC1AndRightToLeft},
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
    const std::string quoted_start = kForged + " " + row.control.shown;
    const std::string quoted_whole = quoted_start + std::string(10240, 'x') + kEndMarker;

    bool named = false;
    int forged = 0;
    int too_long = 0;
    int printed_whole = 0;
    for (const std::string& line : Lines(out)) {
        const bool quoted = line.find(quoted_start) != std::string::npos;
        const bool whole = line.find(kEndMarker) != std::string::npos;
        if (line.find(row.line) != std::string::npos && quoted)
            named |= row.shown == Shown::kWhole ? line.find(quoted_whole) != std::string::npos : !whole;
        forged += line.rfind(kForged, 0) == 0;
        // A value shown whole stands, escaped, in the line of the profile or listing that quotes it.
        const bool shown_whole = row.shown != Shown::kCut && quoted;
        printed_whole += whole && !shown_whole;
        too_long += line.size() > (shown_whole ? kLongestLine + 2 * quoted_whole.size() : kLongestLine);
    }
    EXPECT_TRUE(named) << "no line \"" << row.line << "\" that quotes the value in\n" << out;
    EXPECT_EQ(forged, 0) << "lines of their own in\n" << out;
    EXPECT_EQ(too_long, 0) << "lines longer than " << kLongestLine << " bytes";
    EXPECT_EQ(printed_whole, 0) << "the value printed whole";
    // Valid UTF-8 without a C0 control (but the log's own line feeds and tabs), a C1 control or a
    // mark that reorders the text.
    EXPECT_TRUE(testing_support::ShowsSafely(out, true)) << "controls in\n" << out;
}

INSTANTIATE_TEST_SUITE_P(Values, OutsideValuesTest, ::testing::ValuesIn(kRows),
                         [](const ::testing::TestParamInfo<Row>& row) { return std::string(row.param.name); });

}  // namespace
