// The height sweep's scoring, its stored measurement (tests/tools/height_sweep_table.md and
// height_sweep_checks.txt, written by scripts/height-sweep.sh) and what README and the scripts
// make of it.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "CommonUtilities/ParameterAccess/temp_ini_dir.h"
#include "tools/height_sweep/checks.h"
#include "tools/height_sweep/counting.h"
#include "tools/height_sweep/variety.h"
#include "tools/scene_renderer/scene_files.h"
#include "tools/support/parameter_file.h"

namespace {

std::string SourceFile(const std::string& name)
{
    const char* root = std::getenv("FLOWTALLY_SOURCE_DIR");
    std::ifstream in(std::string(root ? root : ".") + "/" + name);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// The lines of [StereoPeopleCounter] that a text sets after a given start, in order.
std::vector<std::string> SectionLines(const std::string& text, size_t from)
{
    std::vector<std::string> lines;
    if (from == std::string::npos)
        return lines;
    const std::regex setting(R"(^\s*(Stereo_\w+=\d+)\s*$)");
    std::istringstream in(text.substr(from));
    std::smatch match;
    for (std::string line; std::getline(in, line) && (lines.empty() || std::regex_match(line, match, setting));)
        if (std::regex_match(line, match, setting))
            lines.push_back(match[1]);
    return lines;
}

TEST(HeightSweepTest, ReportsCountThePassesOfTheirDirectionWithinTheWindow)
{
    using sweep::Counted;
    const std::vector<scene::Crossing> truth = {{0, 40, true, 1, 150.0}, {1, 40, false, 1, 170.0}};
    const struct {
        std::vector<Counted> counted;
        int missed, false_counts;
        std::vector<int> lateness;
    } cases[] = {
        {{{42, true}, {40, false}}, 0, 0, {2, 0}},
        {{{30, true}, {65, false}}, 0, 0, {-10, 25}},            // the window's ends
        {{{29, true}, {66, false}}, 2, 2, {}},                   // just outside it
        {{{41, false}, {41, false}, {43, true}}, 0, 1, {3, 1}},  // a second report of one pass is false
        {{{40, true}}, 1, 0, {0}},                               // the missed one is the 170 cm person
    };
    for (const auto& c : cases) {
        const sweep::Outcome outcome = sweep::Score(truth, c.counted);
        EXPECT_EQ(outcome.passes, 2);
        EXPECT_EQ(outcome.missed, c.missed);
        EXPECT_EQ(outcome.false_counts, c.false_counts);
        EXPECT_EQ(outcome.lateness, c.lateness);
        const sweep::Outcome read = sweep::ParseOutcome(sweep::OutcomeText(outcome));
        EXPECT_EQ(read.lateness, outcome.lateness) << sweep::OutcomeText(outcome);
        EXPECT_EQ(read.false_counts, outcome.false_counts) << sweep::OutcomeText(outcome);
    }
    EXPECT_EQ(sweep::Score(truth, {{40, true}}).missed_heights, std::vector<int>{170});
}

// Every walk of the sweep brings its people in from outside the picture and out again, through the
// line the way it says, on upright and tilted cameras; a cell always gives the same scene.
TEST(HeightSweepTest, EveryWalkCrossesTheLineAsItSays)
{
    for (const sweep::Camera camera : {sweep::Camera{260, 15, 0.0}, sweep::Camera{300, 25, 0.15}})
        for (const sweep::Walk walk : sweep::kWalks)
            for (const int height : {150, 200})
                for (int draw = 1; draw <= 3; ++draw) {
                    const sweep::Cell cell{camera, walk, height, draw};
                    const scene::Scene s = sweep::MakeScene(cell);
                    const auto truth = scene::GroundTruth(s);
                    const bool pair = walk == sweep::Walk::kSideBySide || walk == sweep::Walk::kPassing;
                    ASSERT_EQ(truth.size(), pair ? 2u : 1u) << sweep::CellName(cell);
                    EXPECT_TRUE(truth[0].height == height || truth.back().height == height) << sweep::CellName(cell);
                    if (pair) {
                        EXPECT_EQ(truth[0].incoming == truth[1].incoming, walk == sweep::Walk::kSideBySide)
                            << sweep::CellName(cell);
                        EXPECT_LE(truth[1].frame - truth[0].frame, 10) << sweep::CellName(cell);
                    }
                    for (const scene::Person& person : s.people)
                        for (const int frame : {person.start_frame, person.LastFrame()}) {
                            double x = 0.0, y = 0.0, col = 0.0, row = 0.0;
                            ASSERT_TRUE(person.PositionAt(frame, x, y));
                            ASSERT_TRUE(scene::ProjectToView(s.rig, 0, x, y, person.height, col, row));
                            EXPECT_TRUE(col < 0 || col >= s.rig.width || row < 0 || row >= s.rig.height)
                                << sweep::CellName(cell) << ": the head is in the picture at frame " << frame;
                        }
                    EXPECT_EQ(sweep::MakeScene(cell).people[0].build.lean, s.people[0].build.lean);
                    EXPECT_EQ(sweep::MakeScene(cell).seed, s.seed);
                }
}

// The recommendation is the setting with the fewest misses and false counts, then the fewest late
// passes; a pass counts at its own height's row; the stored check is the first lone walk whose
// outcome the recommendation changes.
TEST(HeightSweepTest, ReportRecommendsTheFewestErrorsAndPlacesPassesByTheirHeight)
{
    auto outcome = [](int missed, int false_counts, std::vector<int> lateness) {
        sweep::Outcome o;
        o.passes = 2;
        o.missed = missed;
        o.false_counts = false_counts;
        o.lateness = std::move(lateness);
        o.pass_heights = {150, 173};
        o.missed_heights.assign(missed, 173);
        return o;
    };
    const std::vector<sweep::Setting> settings = {{0, 0}, {10, 0}, {8, 0}, {10, 8}};
    sweep::Variety variety;
    variety.cameras = {{260, 15, 0.0}};
    variety.walks = {sweep::Walk::kAlone, sweep::Walk::kPassing};
    variety.height_from = 150;
    variety.height_to = 175;
    variety.draws = 1;
    const std::vector<sweep::CellResult> results = {
        {{{260, 15, 0.0}, sweep::Walk::kPassing, 150, 1},
         {outcome(1, 0, {0}), outcome(0, 1, {0, 5}), outcome(0, 0, {0, 0}), outcome(0, 1, {0, 0})}},
        {{{260, 15, 0.0}, sweep::Walk::kAlone, 150, 1},
         {outcome(1, 0, {0}), outcome(0, 0, {0, 0}), outcome(0, 1, {0, 0}), outcome(0, 1, {0, 0})}},
    };
    // Errors 2, 1, 1, 2: rad 10 and rad 8 tie, and rad 10 counted a pass 5 frames late.
    EXPECT_EQ(sweep::Recommended(settings, results), 2u);
    const std::string report = sweep::Report(variety, settings, results, {}, 0, "");
    // The 173 cm person's misses are in the 175 cm row, the false counts in the 150 cm one.
    EXPECT_NE(report.find("| 175 cm | 2 | 2 / 0 | 0 / 0 | 0 / 0 | 0 / 0 |"), std::string::npos) << report;
    EXPECT_NE(report.find("| 150 cm | 2 | 0 / 0 | 0 / 1 | 0 / 1 | 0 / 2 |"), std::string::npos) << report;
    EXPECT_NE(report.find("Fewest errors: rad 8.\n\n    [StereoPeopleCounter]\n    Stereo_double_median_rad=8\n"),
              std::string::npos)
        << report;
    const std::vector<sweep::Check> checks = sweep::ParseChecks(sweep::ChecksText(settings, results));
    ASSERT_EQ(checks.size(), 2u);
    EXPECT_EQ(checks[0].cell.walk, sweep::Walk::kAlone);
    EXPECT_EQ(checks[1].setting.double_median_rad, 8);
    EXPECT_TRUE(checks[1].recommended);
    EXPECT_EQ(checks[1].outcome.false_counts, 1);
}

// README's "Counting short people" shows the stored report, and the setting it recommends is the
// one with the fewest errors in its own table.
TEST(HeightSweepTest, ReadmeShowsTheMeasurementAndRecommendsTheSettingWithFewestErrors)
{
    const std::string report = SourceFile("tests/tools/height_sweep_table.md");
    ASSERT_FALSE(report.empty());
    const std::string readme = SourceFile("README.md");
    const std::string begin = "<!-- height-sweep begin -->\n", end = "<!-- height-sweep end -->";
    const size_t from = readme.find(begin), to = readme.find(end);
    ASSERT_NE(from, std::string::npos);
    ASSERT_NE(to, std::string::npos);
    EXPECT_EQ(readme.substr(from + begin.size(), to - from - begin.size()), report)
        << "README's \"Counting short people\" must show tests/tools/height_sweep_table.md "
           "(./scripts/height-sweep.sh writes both)";

    // | setting | missed (%) | false counts (%) | errors (%) | late | latest |
    const std::regex row(
        R"(^\| ([^|]+) \| (\d+) \([\d.]+ %\) \| (\d+) \([\d.]+ %\) \| (\d+) \([\d.]+ %\) \| (\d+) \|.*)");
    std::istringstream lines(report);
    std::string fewest;
    int fewest_errors = -1, fewest_late = 0, rows = 0;
    for (std::string line; std::getline(lines, line);) {
        std::smatch m;
        if (!std::regex_match(line, m, row))
            continue;
        ++rows;
        const int errors = std::stoi(m[4]), late = std::stoi(m[5]);
        EXPECT_EQ(errors, std::stoi(m[2]) + std::stoi(m[3])) << line;
        if (fewest_errors < 0 || errors < fewest_errors || (errors == fewest_errors && late < fewest_late)) {
            fewest = m[1];
            fewest_errors = errors;
            fewest_late = late;
        }
    }
    ASSERT_GE(rows, 2);
    EXPECT_NE(report.find("Fewest errors: " + fewest + "."), std::string::npos) << fewest;
}

// The stored outcomes of a scene under the defaults and the recommended setting are what the
// counter gives now, or better; the scripts' scenes count with the recommended setting.
TEST(HeightSweepTest, RecommendedSettingCountsItsCheckedSceneAsMeasured)
{
    const std::vector<sweep::Check> checks = sweep::ParseChecks(SourceFile("tests/tools/height_sweep_checks.txt"));
    ASSERT_FALSE(checks.empty());
    const scene::Scene s = sweep::MakeScene(checks[0].cell);
    const std::vector<cv::Mat> frames = sweep::WorkingFrames(s);
    const TempIniDir dir;
    for (const sweep::Check& check : checks) {
        const sweep::Outcome now =
            sweep::Score(scene::GroundTruth(s),
                         sweep::Count(s, frames, sweep::SettingValues(check.setting), dir.PathOf(""), "algo.ini"));
        const std::string what = sweep::CellName(check.cell) + ", " + sweep::SettingName(check.setting) + ": " +
                                 sweep::OutcomeText(now) + ", stored " + sweep::OutcomeText(check.outcome);
        EXPECT_EQ(now.passes, check.outcome.passes) << what;
        EXPECT_LE(now.missed, check.outcome.missed) << what;
        EXPECT_LE(now.false_counts, check.outcome.false_counts) << what;
        for (size_t i = 0; i < now.lateness.size() && now.missed == check.outcome.missed; ++i)
            EXPECT_LE(now.lateness[i], check.outcome.lateness[i] + 1) << what;

        if (!check.recommended)
            continue;
        std::vector<std::string> expected;
        std::istringstream lines(sweep::SettingLines(check.setting));
        for (std::string line; std::getline(lines, line);) expected.push_back(line);
        for (const char* script :
             {"scripts/count-rendered-scene.sh", "scripts/run-demo.sh", "scripts/count-swapped-views.sh"}) {
            const std::string text = SourceFile(script);
            EXPECT_EQ(SectionLines(text, text.find("[StereoPeopleCounter]")), expected)
                << script << " must count with the recommended setting, " << sweep::SettingName(check.setting);
        }
    }
}

// A --set value goes into the section of the renderer's file that holds it, added there or
// replacing the key, or into a section of its own; the counter takes every such file and counts.
TEST(HeightSweepTest, SetValuesGoIntoTheSectionsTheFileHoldsAndTheCounterCounts)
{
    const scene::Scene s = sweep::MakeScene({{260, 20, 0.0}, sweep::Walk::kAlone, 175, 1});
    const std::vector<cv::Mat> frames = sweep::WorkingFrames(s);
    const TempIniDir dir;
    for (const char* option : {"StereoPeopleCounter--3DReconstructor:obj_h_min_param=130",
                               "StereoPeopleCounter:Stereo_double_median_rad=10",  // replaces the column's 8
                               "StereoPeopleCounter--Tracker:Stereo_max_dropped_frames=25"}) {
        std::vector<tools::IniValue> values = sweep::SettingValues({8, 0});
        values.push_back(tools::ParseIniValue("set", option));
        const std::string ini = sweep::ParameterFile(s, values), header = "[" + values.back().section + "]\n";
        const size_t at = ini.find(header);
        ASSERT_NE(at, std::string::npos) << ini;
        EXPECT_EQ(ini.find(header, at + 1), std::string::npos) << ini;
        const std::string section = ini.substr(at, ini.find("\n[", at) - at) + "\n";
        EXPECT_NE(section.find("\n" + values.back().key + "=" + values.back().value + "\n"), std::string::npos) << ini;
        EXPECT_EQ(ini.find("\n" + values.back().key + "=", ini.find("\n" + values.back().key + "=") + 1),
                  std::string::npos)
            << ini;
        const sweep::Outcome outcome =
            sweep::Score(scene::GroundTruth(s), sweep::Count(s, frames, values, dir.PathOf(""), "algo.ini"));
        EXPECT_EQ(outcome.missed, 0) << option << ": " << sweep::OutcomeText(outcome);
    }
}

}  // namespace
