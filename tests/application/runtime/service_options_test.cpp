#include "application/runtime/service_options.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <boost/filesystem.hpp>
#include <gtest/gtest.h>

#include "application/runtime/log_channels.h"
#include "application/runtime/unique_fd.h"
#include "support/log_capture.h"
#include "support/service_process.h"

namespace {

namespace fs = boost::filesystem;
namespace po = boost::program_options;

// The text of the std::runtime_error the call throws; empty when it throws none.
std::string RuntimeErrorOf(const std::function<void()>& call)
{
    try {
        call();
    } catch (const std::runtime_error& error) {
        return error.what();
    }
    return std::string();
}

// Opens the write end of a FIFO as soon as a reader has opened it, and closes it again: a reader
// that waits in open for a writer goes on. Until destroyed, which joins its thread.
class FifoWriter {
public:
    explicit FifoWriter(const std::string& path)
        : m_thread([this, path] {
              while (!m_done.load()) {
                  const util::UniqueFd end(::open(path.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC));
                  if (end.isValid())
                      return;
                  std::this_thread::sleep_for(std::chrono::milliseconds(1));
              }
          })
    {
    }
    ~FifoWriter()
    {
        m_done = true;
        m_thread.join();
    }
    FifoWriter(const FifoWriter&) = delete;
    FifoWriter& operator=(const FifoWriter&) = delete;

private:
    std::atomic<bool> m_done{false};
    std::thread m_thread;
};

class ServiceOptionsTest : public ::testing::Test {
protected:
    ServiceOptionsParser::Outcome Parse(std::vector<std::string> args)
    {
        args.insert(args.begin(), "flowtally");
        std::vector<const char*> argv;
        for (const auto& a : args)
            argv.push_back(a.c_str());
        return m_parser.ParseCommandLine(static_cast<int>(argv.size()), argv.data());
    }

    // A new file in the test's directory each time.
    std::string WriteConfig(const std::string& text)
    {
        const std::string path = m_dir.Path("flowtally-" + std::to_string(++m_configs) + ".conf");
        std::ofstream(path, std::ios::binary) << text;
        return path;
    }

    testing_support::TempDir m_dir;
    int m_configs = 0;
    ServiceOptions m_options;
    ServiceOptionsParser m_parser{m_options};
    LogSource m_logger = Logger::GetLogSource("main");
};

TEST_F(ServiceOptionsTest, DefaultsExpandStereoPipeline)
{
    ASSERT_EQ(Parse({}), ServiceOptionsParser::Outcome::kRun);
    m_parser.Finalize(m_logger);
    EXPECT_EQ(m_options.pipeline,
              "v4l2src device=/dev/video0 ! capsfilter "
              "caps=\"video/x-raw,width=640,height=240,framerate=25/1\" name=tail");
    EXPECT_EQ(m_options.image_port, 11009);
    EXPECT_EQ(m_options.stream_port, 11010);
    EXPECT_EQ(m_options.skip_ms, 5000u);
    EXPECT_DOUBLE_EQ(m_options.max_valid_angle, 0.4363323129985824);
    EXPECT_EQ(m_options.motion_subject, kMotionOnlyPeople);
    EXPECT_TRUE(m_options.inclinometer);
    EXPECT_TRUE(m_options.algo_may_drop);
}

TEST_F(ServiceOptionsTest, MonoCameraKeepsWidthAndEveryMacroIsReplaced)
{
    EXPECT_EQ(ExpandPipelineMacros("{camera_width}x{camera_height} {camera_width} {other}", 320, 240, false),
              "320x240 320 {other}");
    EXPECT_EQ(ExpandPipelineMacros("{camera_width}", 320, 240, true), "640");
}

TEST_F(ServiceOptionsTest, HelpWinsOverVersion)
{
    EXPECT_EQ(Parse({"--help", "--version"}), ServiceOptionsParser::Outcome::kHelp);
}

TEST_F(ServiceOptionsTest, ShortVersionSwitch)
{
    EXPECT_EQ(Parse({"-v"}), ServiceOptionsParser::Outcome::kVersion);
}

TEST_F(ServiceOptionsTest, HelpListsGroupsDefaultsAndTexts)
{
    std::ostringstream out;
    m_parser.PrintHelp(out);
    const std::string help = out.str();
    EXPECT_NE(help.find("Generic options:"), std::string::npos);
    EXPECT_NE(help.find("Configuration:"), std::string::npos);
    EXPECT_NE(help.find("only_people"), std::string::npos);
    EXPECT_NE(help.find("Alarms db name"), std::string::npos);
    EXPECT_LT(help.find("--inclinometer"), help.find("--algo_may_drop"));

    // The log_filter example names only channels the service logs on (the help breaks a long word
    // at the line's end, without a blank before the break).
    const std::string flat = std::regex_replace(help, std::regex("\n +"), "");
    std::smatch example;
    ASSERT_TRUE(std::regex_search(flat, example, std::regex("E\\.g\\., '([^']*)'"))) << help;
    const std::set<std::string> channels = {"*", channel::kMain, channel::kCapture, channel::kAlgo};
    std::istringstream items(example[1].str());
    for (std::string item; std::getline(items, item, ';');)
        EXPECT_EQ(channels.count(item.substr(0, item.find(':'))), 1u) << item;
    EXPECT_NE(flat.find("'" + std::string(channel::kCapture) + "' source"), std::string::npos) << flat;
}

TEST_F(ServiceOptionsTest, BoolOptionWithoutValueMeansTrue)
{
    Parse({"--debug", "--stereo=false"});
    EXPECT_TRUE(m_options.debug);
    EXPECT_FALSE(m_options.stereo);
}

// A refused text is named, quoted, with the choices, on the command line and in the file alike.
TEST_F(ServiceOptionsTest, MotionSubjectIsCaseSensitiveAndARefusalNamesTheValueAndTheChoices)
{
    Parse({"--motion_subject=anything"});
    EXPECT_EQ(m_options.motion_subject, kMotionAnything);

    const auto refusal = [](const std::string& logged) {
        return "Option motion_subject '" + logged + "' is neither 'only_people' nor 'anything'";
    };
    const std::pair<std::string, std::string> values[] = {{"Anything", "Anything"},
                                                          {"cats\n[main] forged", "cats\\n[main] forged"}};
    for (const auto& [value, logged] : values) {
        SCOPED_TRACE(value);
        ServiceOptions options;
        ServiceOptionsParser parser(options);
        const std::string argument = "--motion_subject=" + value;
        const char* argv[] = {"flowtally", argument.c_str()};
        try {
            parser.ParseCommandLine(2, argv);
            ADD_FAILURE() << "accepted";
        } catch (const po::validation_error& error) {
            EXPECT_EQ(error.kind(), po::validation_error::invalid_option_value);
            EXPECT_EQ(error.what(), refusal(logged));
        }
    }
    ServiceOptions options;
    ServiceOptionsParser parser(options);
    const std::string path = WriteConfig("motion_subject=cats\n");
    const char* argv[] = {"flowtally", "--config", path.c_str()};
    parser.ParseCommandLine(3, argv);
    try {
        parser.ReadConfigFile(m_logger);
        ADD_FAILURE() << "accepted";
    } catch (const po::validation_error& error) {
        EXPECT_EQ(error.what(), refusal("cats"));
    }
}

TEST_F(ServiceOptionsTest, CommandLineWinsOverFileAndUnknownKeysAreIgnored)
{
    const std::string path =
        WriteConfig("stream_port=1234\nimage_port=4321\nunknown_key=1\nversion=1\nlog_filter=*:fatal\n");
    Parse({"--config", path, "--stream_port=5555"});
    m_parser.ReadConfigFile(m_logger);
    EXPECT_EQ(m_options.stream_port, 5555);
    EXPECT_EQ(m_options.image_port, 4321);
    EXPECT_EQ(m_options.log_filter, "*:fatal");  // stored, though only the command line's filter is applied
}

TEST_F(ServiceOptionsTest, MissingConfigurationFileIsRefused)
{
    Parse({"--config", "/nonexistent/flowtally.conf"});
    EXPECT_EQ(RuntimeErrorOf([&] { m_parser.ReadConfigFile(m_logger); }),
              "Can not open configuration file '/nonexistent/flowtally.conf'");
}

// A file that opens and fails on read (as failing flash does) is not an empty configuration.
TEST_F(ServiceOptionsTest, ConfigurationFileThatFailsOnReadIsRefusedWithTheReason)
{
    const char* path = "/proc/self/mem";  // offset 0 is never mapped: reading it fails
    const util::UniqueFd probe(::open(path, O_RDONLY | O_CLOEXEC));
    char byte = 0;
    if (!probe.isValid() || ::read(probe.get(), &byte, 1) >= 0)
        GTEST_SKIP() << path << " does not fail on read here";
    const std::string reason = std::generic_category().message(errno);
    Parse({"--config", path});
    EXPECT_EQ(RuntimeErrorOf([&] { m_parser.ReadConfigFile(m_logger); }),
              "Can not read configuration file '/proc/self/mem': " + reason);
}

// Only a regular file is read, a symbolic link to one included. A FIFO without a writer is
// refused at once: should it be opened to read, the writer opened here lets it go on (and the
// test fail) rather than hang.
TEST_F(ServiceOptionsTest, ConfigurationThatIsNotARegularFileIsRefusedAtOnce)
{
    const std::string fifo = m_dir.Path("fifo.conf");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const std::string link = m_dir.Path("link.conf");
    fs::create_symlink(WriteConfig("stream_port=1234\n"), link);

    for (const std::string& path : {m_dir.Path(), fifo, std::string("/dev/null")}) {
        SCOPED_TRACE(path);
        ServiceOptions options;
        ServiceOptionsParser parser(options);
        const char* argv[] = {"flowtally", "--config", path.c_str()};
        parser.ParseCommandLine(3, argv);
        std::string error;
        {
            const FifoWriter writer(fifo);
            error = RuntimeErrorOf([&] { parser.ReadConfigFile(m_logger); });
        }
        EXPECT_EQ(error, "Configuration file '" + path + "' is not a regular file");
        EXPECT_EQ(options.stream_port, ServiceOptions().stream_port);
    }
    Parse({"--config", link});
    m_parser.ReadConfigFile(m_logger);
    EXPECT_EQ(m_options.stream_port, 1234);
}

// Values are handed on as C strings: one cut at a NUL byte would run something else than written.
TEST_F(ServiceOptionsTest, ValueHoldingANulByteIsRefusedNamingItsKey)
{
    for (const char* key : {"set_leds", "pipeline", "stream_port"}) {
        SCOPED_TRACE(key);
        const std::string path =
            WriteConfig("image_port=4321\n" + std::string(key) + "=1" + std::string(1, '\0') + " --forged\n");
        ServiceOptions options;
        ServiceOptionsParser parser(options);
        const char* argv[] = {"flowtally", "--config", path.c_str()};
        parser.ParseCommandLine(3, argv);
        EXPECT_EQ(RuntimeErrorOf([&] { parser.ReadConfigFile(m_logger); }),
                  "Option '" + std::string(key) + "' in configuration file '" + path + "' holds a NUL byte");
        EXPECT_EQ(options.image_port, ServiceOptions().image_port) << "stored before the refusal";
    }
    // Unknown keys are ignored, whatever they hold.
    Parse({"--config", WriteConfig(std::string("unknown=a\0b\nimage_port=4321\n", 28))});
    m_parser.ReadConfigFile(m_logger);
    EXPECT_EQ(m_options.image_port, 4321);
}

TEST_F(ServiceOptionsTest, SkipIsIgnoredWhenFramesMayNotBeDropped)
{
    testing_support::LogCapture log;
    Parse({"--algo_may_drop=false"});
    m_parser.Finalize(m_logger);
    EXPECT_EQ(m_options.skip_ms, 0u);
    EXPECT_EQ(log.Count("[main, warning] algo_may_drop is set to false, non-zero skip_ms parameter value is ignored."),
              1);
}

TEST_F(ServiceOptionsTest, ZeroSkipGivesNoWarning)
{
    testing_support::LogCapture log;
    Parse({"--algo_may_drop=false", "--skip_ms=0"});
    m_parser.Finalize(m_logger);
    EXPECT_TRUE(log.Lines().empty());
}

// The board's start is compared as text with the stored "%Y-%m-%d" and "%H:%M:%S": only real days and
// times of day are written in that form; anything else is kept as written, with an error.
TEST_F(ServiceOptionsTest, BoardStartIsWrittenAsStoredOnlyForRealDaysAndTimes)
{
    struct Case {
        const char* option;
        const char* value;
        const char* used;            // null: reported as an error and kept
        const char* logged = nullptr;  // the value as the line quotes it, where it is not the value
    };
    // A value's control characters are escaped, so that it cannot start a line of its own, and a
    // very long one is cut.
    const std::string forged = "2026-08-01\n[main, info] Thread is terminated.";
    const std::string long_value(10240, '7');
    const std::string long_logged = std::string(kLoggedValueLimit, '7') + "... [cut, 10240 bytes]";
    const Case cases[] = {
        {"board_counter_start_date", forged.c_str(), nullptr, "2026-08-01\\n[main, info] Thread is terminated."},
        {"board_counter_start_time", long_value.c_str(), nullptr, long_logged.c_str()},
        {"board_counter_start_time", "\t8:0:0", nullptr, "\\t8:0:0"},
        {"board_counter_start_date", "2024-2-29", "2024-02-29"},  {"board_counter_start_date", "2000-02-29", "2000-02-29"},
        {"board_counter_start_date", "2023-02-29", nullptr},      {"board_counter_start_date", "2100-02-29", nullptr},
        {"board_counter_start_date", "2026-04-31", nullptr},      {"board_counter_start_date", "26-08-01", nullptr},
        {"board_counter_start_date", "2026-08-01 ", nullptr},     {"board_counter_start_date", "2026/08/01", nullptr},
        {"board_counter_start_time", "23:59:59", "23:59:59"},     {"board_counter_start_time", "7:5:3", "07:05:03"},
        {"board_counter_start_time", "24:00:00", nullptr},        {"board_counter_start_time", "08:00", nullptr},
        {"board_counter_start_time", "08:00:00:00", nullptr},     {"board_counter_start_time", "-1:00:00", nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.option) + "=" + c.value);
        ServiceOptions options;
        ServiceOptionsParser parser(options);
        const std::string option = std::string("--") + c.option;
        const char* argv[] = {"flowtally", option.c_str(), c.value};
        parser.ParseCommandLine(3, argv);
        testing_support::LogCapture log;
        parser.Finalize(m_logger);
        const std::string& value = std::string(c.option) == "board_counter_start_date"
                                       ? options.board_counter_start_date
                                       : options.board_counter_start_time;
        EXPECT_EQ(value, c.used ? c.used : c.value);
        const std::string prefix = std::string(c.used ? "[main, warning] " : "[main, error] ") + "Option " + c.option +
                                   " '" + (c.logged ? c.logged : c.value) + "' ";
        const std::size_t lines = c.used && std::string(c.used) == c.value ? 0 : 1;
        ASSERT_EQ(log.Lines().size(), lines) << ::testing::PrintToString(log.Lines());
        if (lines) {
            EXPECT_EQ(log.Lines()[0].rfind(prefix, 0), 0u) << log.Lines()[0];
        }
    }
}

TEST_F(ServiceOptionsTest, OutOfRangeValuesAreRefusedAndBoundsAccepted)
{
    struct Case {
        const char* argument;
        const char* error;  // empty: accepted
    };
    const Case cases[] = {
        {"--stream_port=70000", "Option stream_port is out of range 0..65535: 70000"},
        {"--image_port=-1", "Option image_port is out of range 0..65535: -1"},
        {"--skip_ms=-5", "Option skip_ms is out of range 0..2147483647: -5"},
        {"--skip_ms=2147483648", "Option skip_ms is out of range 0..2147483647: 2147483648"},
        {"--skip_ms=2147483647", ""},
        {"--skip_ms=0", ""},
    };
    for (const Case& c : cases) {
        ServiceOptions options;
        ServiceOptionsParser parser(options);
        const char* argv[] = {"flowtally", c.argument};
        parser.ParseCommandLine(2, argv);
        EXPECT_EQ(RuntimeErrorOf([&] { parser.Finalize(m_logger); }), c.error) << c.argument;
    }
}

TEST_F(ServiceOptionsTest, RepeatedSingleValueOptionIsAnError)
{
    EXPECT_THROW(Parse({"--stream_port=1", "--stream_port=2"}), po::error);
}

// The example configuration installed with the service: every key once, each at its default.
TEST_F(ServiceOptionsTest, ExampleConfigurationHoldsEveryKeyOnceAtItsDefault)
{
    const char* source = std::getenv("FLOWTALLY_SOURCE_DIR");
    ASSERT_NE(source, nullptr);
    const std::string example = std::string(source) + "/etc/flowtally.conf.example";
    std::ifstream file(example);
    ASSERT_TRUE(file) << example;

    // Each key is one the command line knows (an unknown one throws) and none comes twice.
    std::set<std::string> keys;
    std::string line;
    while (std::getline(file, line)) {
        if (line.empty() || line[0] == '#')
            continue;
        const std::string key = line.substr(0, line.find('='));
        EXPECT_TRUE(keys.insert(key).second) << key << " twice";
        ServiceOptions options;
        ServiceOptionsParser parser(options);
        // An empty value cannot follow "=" on the command line: it comes as the next argument.
        const bool empty = line.size() == key.size() + 1;
        const std::string argument = "--" + (empty ? key : line);
        const char* argv[] = {"flowtally", argument.c_str(), ""};
        EXPECT_NO_THROW(parser.ParseCommandLine(empty ? 3 : 2, argv)) << line;
    }
    EXPECT_EQ(keys.size(), 30u);

    Parse({"--config", example});
    m_parser.ReadConfigFile(m_logger);
    const ServiceOptions defaults;
    EXPECT_EQ(m_options.inclinometer, defaults.inclinometer);
    EXPECT_EQ(m_options.alarms, defaults.alarms);
    EXPECT_EQ(m_options.alarms_max_page_count, defaults.alarms_max_page_count);
    EXPECT_EQ(m_options.image_port, defaults.image_port);
    EXPECT_EQ(m_options.set_leds, defaults.set_leds);
    EXPECT_EQ(m_options.algo_config, defaults.algo_config);
    EXPECT_EQ(m_options.frame_buffer, defaults.frame_buffer);
    EXPECT_EQ(m_options.stream_port, defaults.stream_port);
    EXPECT_EQ(m_options.algo_width, defaults.algo_width);
    EXPECT_EQ(m_options.algo_height, defaults.algo_height);
    EXPECT_EQ(m_options.camera_width, defaults.camera_width);
    EXPECT_EQ(m_options.camera_height, defaults.camera_height);
    EXPECT_EQ(m_options.camera_angle, defaults.camera_angle);
    EXPECT_EQ(m_options.max_valid_angle, defaults.max_valid_angle);
    EXPECT_EQ(m_options.skip_ms, defaults.skip_ms);
    EXPECT_EQ(m_options.debug, defaults.debug);
    EXPECT_EQ(m_options.stereo, defaults.stereo);
    EXPECT_EQ(m_options.angle_file_path, defaults.angle_file_path);
    EXPECT_EQ(m_options.board_counter_start_date, defaults.board_counter_start_date);
    EXPECT_EQ(m_options.board_counter_start_time, defaults.board_counter_start_time);
    EXPECT_EQ(m_options.board_incoming_correction, defaults.board_incoming_correction);
    EXPECT_EQ(m_options.board_outgoing_correction, defaults.board_outgoing_correction);
    EXPECT_EQ(m_options.board_device, defaults.board_device);
    EXPECT_EQ(m_options.error_file_directory, defaults.error_file_directory);
    EXPECT_EQ(m_options.motion_sensitivity, defaults.motion_sensitivity);
    EXPECT_EQ(m_options.motion_subject, defaults.motion_subject);
    EXPECT_EQ(m_options.algo_enabled, defaults.algo_enabled);
    EXPECT_EQ(m_options.pipeline, defaults.pipeline);
    EXPECT_EQ(m_options.log_filter, defaults.log_filter);
    EXPECT_EQ(m_options.algo_may_drop, defaults.algo_may_drop);
}

}  // namespace
