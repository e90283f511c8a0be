// The directions in which our libraries may include each other, checked on the source tree:
// the analysers and the algorithm framework never reach into the service, the service's runtime
// core stands on nothing else of ours, and the quoting of outside texts stands below them all.
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace {

namespace fs = std::filesystem;

// Folders of the tree and the library each belongs to; the longest matching prefix wins.
const std::vector<std::pair<std::string, std::string>> kLibraries = {
    {"application/runtime/", "runtime"},
    {"application/streaming/", "streaming"},
    {"application/devices/", "devices"},
    {"application/outputs/", "outputs"},
    {"application/", "application"},
    {"CommonUtilities/logged_text/", "logged_text"},
    {"CommonUtilities/", "common_utilities"},
    {"PeopleCounter/universal/", "universal"},
    {"PeopleCounter/analytics/traffic_controller/", "traffic_controller"},
    {"PeopleCounter/", "analysers"},
    {"StereoAnalyzer/StereoMatchers/", "stereo_matchers"},
    {"StereoAnalyzer/StereoPeopleCounter/", "stereo_people_counter"},
    {"StereoAnalyzer/", "analysers"},
};

const std::set<std::string> kAnalysers = {"universal", "traffic_controller", "stereo_matchers",
                                          "stereo_people_counter", "analysers"};

// The library of a path relative to the root; empty for files outside the libraries (tests,
// benchmarks, tools).
std::string LibraryOf(const std::string& path)
{
    std::string best;
    std::size_t best_length = 0;
    for (const auto& [prefix, library] : kLibraries) {
        if (path.rfind(prefix, 0) == 0 && prefix.size() > best_length) {
            best = library;
            best_length = prefix.size();
        }
    }
    return best;
}

bool MayInclude(const std::string& from, const std::string& to)
{
    if (from == to)
        return true;
    // The one quoting of outside texts: every library may use it, and it uses nothing of ours.
    if (from == "logged_text")
        return false;
    if (to == "logged_text")
        return true;
    if (from == "runtime" || from == "common_utilities")
        return false;
    if (from == "streaming" || from == "devices")
        return to == "runtime";
    if (from == "outputs")
        return to == "runtime" || to == "devices" || to == "universal";
    if (from == "application")
        return true;
    if (kAnalysers.count(from))
        return to == "common_utilities" || kAnalysers.count(to) > 0;
    return true;
}

struct Violation {
    std::string file;
    std::string included;
};

// Every include of our own headers under `root` that goes against the rules. Includes spelled
// from the root and includes relative to the including file are both resolved.
std::vector<Violation> FindViolations(const fs::path& root)
{
    static const std::regex include_line(R"(^\s*#\s*include\s*["<]([^">]+)[">])");
    std::vector<Violation> violations;
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
        const std::string extension = entry.path().extension().string();
        if (!entry.is_regular_file() || (extension != ".h" && extension != ".hpp" && extension != ".cpp"))
            continue;
        const std::string file = fs::relative(entry.path(), root).generic_string();
        const std::string from = LibraryOf(file);
        if (from.empty())
            continue;
        std::ifstream stream(entry.path());
        std::string line;
        std::smatch match;
        while (std::getline(stream, line)) {
            if (!std::regex_search(line, match, include_line))
                continue;
            std::string included = match[1].str();
            std::string to = LibraryOf(included);
            if (to.empty()) {
                const fs::path beside = entry.path().parent_path() / included;
                if (!fs::exists(beside))
                    continue;  // a system or third-party header
                included = fs::relative(fs::weakly_canonical(beside), fs::weakly_canonical(root)).generic_string();
                to = LibraryOf(included);
            }
            if (!to.empty() && !MayInclude(from, to))
                violations.push_back({file, included});
        }
    }
    return violations;
}

std::string Describe(const std::vector<Violation>& violations)
{
    std::string text;
    for (const Violation& v : violations)
        text += v.file + " includes " + v.included + "\n";
    return text;
}

fs::path SourceRoot()
{
    const char* root = std::getenv("FLOWTALLY_SOURCE_DIR");
    return root ? fs::path(root) : fs::path();
}

TEST(IncludeDirectionsTest, RulesBetweenTheLibraries)
{
    struct Case {
        const char* from;
        const char* to;
        bool allowed;
    };
    const Case cases[] = {
        {"application/main.cpp", "application/outputs/led_controller.h", true},
        {"application/service.cpp", "PeopleCounter/universal/alarm.h", true},
        {"application/outputs/indicator_thread.h", "application/devices/serial_port.h", true},
        {"application/outputs/led_controller.h", "PeopleCounter/universal/alarm.h", true},
        {"application/streaming/bin.h", "application/runtime/logger.h", true},
        {"application/devices/frame_buffer.h", "application/runtime/bounded_buffer.h", true},
        {"application/runtime/base_thread.h", "application/runtime/logger.h", true},
        {"application/runtime/logger.h", "application/streaming/bin.h", false},
        {"application/runtime/util.cpp", "CommonUtilities/algorithm_support/context.h", false},
        {"application/devices/inclinometer.h", "application/outputs/tcp_server.h", false},
        {"application/streaming/sink.h", "application/algo_thread.h", false},
        {"CommonUtilities/DebugInterfaces/block_log.h", "CommonUtilities/algorithm_support/context.h", true},
        {"CommonUtilities/ParameterAccess/parameters.h", "application/runtime/logger.h", false},
        {"CommonUtilities/algorithm_support/mem_manager.h", "PeopleCounter/universal/alarm.h", false},
        {"StereoAnalyzer/StereoMatchers/matcher.cpp", "CommonUtilities/algorithm_support/block_entities.h", true},
        {"StereoAnalyzer/StereoPeopleCounter/tracker.h", "StereoAnalyzer/StereoMatchers/matcher.h", true},
        {"PeopleCounter/universal/universal_people_counter.cpp",
         "StereoAnalyzer/StereoPeopleCounter/i_stereo_people_counter.h", true},
        {"StereoAnalyzer/StereoMatchers/matcher.cpp", "application/runtime/logger.h", false},
        {"PeopleCounter/analytics/traffic_controller/src/flow.cpp", "application/algo_thread.h", false},
        {"PeopleCounter/universal/alarm.h", "application/outputs/led_controller.h", false},
        {"application/runtime/logger.h", "CommonUtilities/logged_text/logged_value.h", true},
        {"CommonUtilities/DebugInterfaces/block_log.h", "CommonUtilities/logged_text/logged_value.h", true},
        {"StereoAnalyzer/StereoPeopleCounter/video.cpp", "CommonUtilities/logged_text/logged_value.h", true},
        {"application/outputs/led_controller.cpp", "CommonUtilities/logged_text/logged_value.h", true},
        {"CommonUtilities/logged_text/logged_value.h", "CommonUtilities/algorithm_support/context.h", false},
        {"CommonUtilities/logged_text/logged_value.h", "application/runtime/logger.h", false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(MayInclude(LibraryOf(c.from), LibraryOf(c.to)), c.allowed) << c.from << " -> " << c.to;
}

TEST(IncludeDirectionsTest, FindsRootedAndRelativeIncludesAgainstTheRules)
{
    const fs::path root = fs::temp_directory_path() / ("flowtally-layout-" + std::to_string(::getpid()));
    fs::remove_all(root);
    const auto write = [&](const std::string& path, const std::string& text) {
        fs::create_directories((root / path).parent_path());
        std::ofstream(root / path) << text;
    };
    write("application/runtime/logger.h", "#pragma once\n#include <string>\n");
    write("application/outputs/tcp_server.h", "#pragma once\n#include \"application/runtime/logger.h\"\n");
    write("application/runtime/thread.h", "#include \"application/outputs/tcp_server.h\"\n");
    write("CommonUtilities/block.h", "#include \"../application/runtime/logger.h\"\n#include \"missing.h\"\n");
    write("tests/any_test.cpp", "#include \"application/outputs/tcp_server.h\"\n");

    const std::vector<Violation> violations = FindViolations(root);
    fs::remove_all(root);
    ASSERT_EQ(violations.size(), 2u) << Describe(violations);
    std::set<std::string> found;
    for (const Violation& v : violations)
        found.insert(v.file + " -> " + v.included);
    EXPECT_EQ(found, (std::set<std::string>{"application/runtime/thread.h -> application/outputs/tcp_server.h",
                                           "CommonUtilities/block.h -> application/runtime/logger.h"}));
}

TEST(IncludeDirectionsTest, EveryIncludeOfTheSourceTreeFollowsTheRules)
{
    const fs::path root = SourceRoot();
    ASSERT_TRUE(fs::is_directory(root / "application")) << "FLOWTALLY_SOURCE_DIR is not the source tree";
    const std::vector<Violation> violations = FindViolations(root);
    EXPECT_TRUE(violations.empty()) << Describe(violations);
}

// Every log line of the service names its severity through the one front end (LOG).
TEST(LoggingFrontEndTest, NoServiceLineLogsThroughBoostLogDirectly)
{
    const fs::path root = SourceRoot();
    ASSERT_TRUE(fs::is_directory(root / "application")) << "FLOWTALLY_SOURCE_DIR is not the source tree";
    static const std::regex direct(R"(\bBOOST_LOG(_SEV|_CHANNEL|_CHANNEL_SEV)?\s*\()");
    std::vector<std::string> offenders;
    for (const auto& entry : fs::recursive_directory_iterator(root / "application")) {
        if (!entry.is_regular_file() || entry.path() == root / "application/runtime/logger.h")
            continue;
        std::ifstream stream(entry.path());
        std::string line;
        for (int number = 1; std::getline(stream, line); ++number) {
            if (std::regex_search(line, direct))
                offenders.push_back(fs::relative(entry.path(), root).generic_string() + ":" + std::to_string(number));
        }
    }
    EXPECT_TRUE(offenders.empty()) << ::testing::PrintToString(offenders);
}

}  // namespace
