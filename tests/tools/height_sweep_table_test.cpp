// The measured height sweep (tests/tools/height_sweep_table.md, written by scripts/height-sweep.sh)
// and what README and the scripts say about it.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

std::string SourceFile(const std::string& name)
{
    const char* root = std::getenv("FLOWTALLY_SOURCE_DIR");
    std::ifstream in(std::string(root ? root : ".") + "/" + name);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::vector<std::string> Cells(const std::string& row)
{
    std::vector<std::string> cells;
    std::istringstream in(row);
    std::string cell;
    std::getline(in, cell, '|');  // before the first bar
    while (std::getline(in, cell, '|')) cells.push_back(cell.substr(1, cell.size() - 2));
    return cells;
}

TEST(HeightSweepTableTest, ReadmeShowsTheMeasuredTableAndItsSettingCountsEveryHeight)
{
    const std::string table = SourceFile("tests/tools/height_sweep_table.md");
    ASSERT_FALSE(table.empty());
    EXPECT_NE(SourceFile("README.md").find("\n" + table + "\n"), std::string::npos)
        << "README's \"Counting short people\" must show tests/tools/height_sweep_table.md:\n"
        << table;

    // The recommended column counts every walk once, at both mounts, from 150 to 200 cm.
    std::istringstream rows(table);
    std::string row;
    std::getline(rows, row);
    const std::vector<std::string> header = Cells(row);
    ASSERT_FALSE(header.empty());
    EXPECT_EQ(header.back(), "rad 10, med 8");
    std::getline(rows, row);  // the rule
    int walks = 0;
    while (std::getline(rows, row)) {
        const std::vector<std::string> cells = Cells(row);
        ASSERT_EQ(cells.size(), header.size()) << row;
        EXPECT_EQ(cells.back().rfind('+', 0), 0u) << row;
        ++walks;
    }
    EXPECT_EQ(walks, 22);
}

TEST(HeightSweepTableTest, RecommendedSettingIsWhatTheRenderedScenesCountWith)
{
    const struct {
        const char* file;
        const char* indent;
    } files[] = {{"README.md", "    "}, {"scripts/count-rendered-scene.sh", ""}, {"scripts/run-demo.sh", ""}};
    for (const auto& f : files) {
        const std::string indent = f.indent;
        const std::string setting = indent + "[StereoPeopleCounter]\n" + indent + "Stereo_double_median_rad=10\n" +
                                    indent + "Stereo_med_rad=8\n";
        EXPECT_NE(SourceFile(f.file).find(setting), std::string::npos) << f.file;
    }
}

}  // namespace
