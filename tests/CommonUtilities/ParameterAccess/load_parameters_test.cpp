#include "CommonUtilities/ParameterAccess/load_parameters.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "CommonUtilities/ParameterAccess/param_test_blocks.h"
#include "CommonUtilities/ParameterAccess/temp_ini_dir.h"

namespace {

using param_test::MakeTree;
using ParamsLib::ParameterState;

class LoadParametersTest : public ::testing::Test {
protected:
    TempIniDir dir;
    std::shared_ptr<RecordingLog> log = std::make_shared<RecordingLog>();
};

TEST_F(LoadParametersTest, ReadsEachParameterUnderItsBlocksSection)
{
    const std::string ini = dir.Write("algo.ini",
                                      "[main]\nangle=0.25\n[max]\nvalid=30\n"
                                      "[MonoPeopleCounter]\ngauss_type=kGaussFixed\n"
                                      "[MonoPeopleCounter--Tracker]\nradius=42\nenabled=1\n");
    auto root = MakeTree();
    ParamsLib::load_parameters(ini.c_str(), 0, root.get(), log);

    EXPECT_EQ(root->angle(), 0.25);
    EXPECT_EQ(root->max_valid(), 30);
    EXPECT_EQ(root->counter->gauss(), kGaussFixed);
    EXPECT_EQ(root->counter->tracker.radius(), 42);
    EXPECT_EQ(root->counter->tracker.radius.GetState(), ParameterState::kDeserialized);
    EXPECT_TRUE(root->counter->tracker.enabled());
    EXPECT_EQ(root->counter->tracker.enabled.GetCurrentValueText("test"), "true");
    EXPECT_FLOAT_EQ(root->counter->tracker.rate(), 0.5f);
    EXPECT_EQ(root->counter->tracker.rate.GetState(), ParameterState::kDefaultLoaded);
    EXPECT_TRUE(log->lines.empty());
}

TEST_F(LoadParametersTest, LaterFileWinsAndBoolTextsConvert)
{
    const std::string a = dir.Write("a.ini", "[MonoPeopleCounter--Tracker]\nradius=5\nenabled=0\nrate=0.75\n");
    const std::string b = dir.Write("b.ini", "[MonoPeopleCounter--Tracker]\nradius=7\nenabled=true\n");
    auto root = MakeTree();
    ParamsLib::load_parameters((a + "?" + b).c_str(), 0, root.get(), log);
    EXPECT_EQ(root->counter->tracker.radius(), 7);
    EXPECT_TRUE(root->counter->tracker.enabled());
    EXPECT_FLOAT_EQ(root->counter->tracker.rate(), 0.75f);

    const std::string c = dir.Write("c.ini", "[MonoPeopleCounter--Tracker]\nenabled=0\n");
    auto other = MakeTree();
    ParamsLib::load_parameters(c.c_str(), 0, other.get(), log);
    EXPECT_FALSE(other->counter->tracker.enabled());
    EXPECT_EQ(other->counter->tracker.enabled.GetState(), ParameterState::kDeserialized);
}

TEST_F(LoadParametersTest, BadFileListFailsWithItsCode)
{
    const std::string list = dir.PathOf("a.ini") + "?";
    dir.Write("a.ini", "[main]\nangle=1\n");
    auto root = MakeTree();
    const std::string expected = "Failed to create CIniDBBridge. ErrCode=-1 iniFile='" + list + "'; ID=0";
    try {
        ParamsLib::load_parameters(list.c_str(), 0, root.get(), log);
        FAIL() << "an empty list entry must fail";
    } catch (const std::runtime_error& e) {
        EXPECT_EQ(e.what(), expected);
    }
    ASSERT_EQ(log->lines.size(), 1u);
    EXPECT_EQ(log->lines[0].level, kKivLogError);
    EXPECT_EQ(log->lines[0].text, expected);
    EXPECT_EQ(root->angle.GetState(), ParameterState::kNotDeclared);
}

TEST_F(LoadParametersTest, UnparsableValueStopsTheLoadAndKeepsTheDefault)
{
    const std::string ini = dir.Write("algo.ini", "[MonoPeopleCounter--Tracker]\nradius=12abc\nrate=0.1\n");
    auto root = MakeTree();
    try {
        ParamsLib::load_parameters(ini.c_str(), 0, root.get(), log);
        FAIL() << "a broken value must stop the load";
    } catch (const std::runtime_error& e) {
        EXPECT_EQ(std::string(e.what()),
                  "Exception Deserialization failed.    Name = radius    Semantic type = int    error = "
                  "Deserialization failed.    parsed string with error position denoted by ||: '12||abc'\n"
                  "while deserialization parameter MonoPeopleCounter--Tracker_radius.");
    }
    auto& tracker = root->counter->tracker;
    EXPECT_EQ(tracker.radius.GetState(), ParameterState::kDefaultLoaded);
    EXPECT_EQ(tracker.radius(), 10);
    EXPECT_EQ(tracker.rate.GetState(), ParameterState::kDeclared);

    const std::string bad_bool = dir.Write("bool.ini", "[MonoPeopleCounter--Tracker]\nenabled=2\n");
    auto other = MakeTree();
    EXPECT_THROW(ParamsLib::load_parameters(bad_bool.c_str(), 0, other.get(), log), std::runtime_error);
    EXPECT_FALSE(other->counter->tracker.enabled());
}

TEST_F(LoadParametersTest, MalformedFileIsLoggedAndDefaultsStay)
{
    const std::string ini = dir.Write("algo.ini", "[MonoPeopleCounter--Tracker\nradius=3\n");
    auto root = MakeTree();
    ParamsLib::load_parameters(ini.c_str(), 0, root.get(), log);
    EXPECT_EQ(root->counter->tracker.radius(), 10);
    EXPECT_EQ(root->counter->tracker.radius.GetState(), ParameterState::kDefaultLoaded);
    // The file is parsed once per load, so its error is reported once, not once per parameter.
    ASSERT_EQ(log->lines.size(), 1u);
    EXPECT_EQ(log->lines[0].level, kKivLogError);
    EXPECT_NE(
        log->lines[0].text.find("CIniDBBridge error parsing ini file " + std::filesystem::canonical(ini).string()),
        std::string::npos)
        << log->lines[0].text;
}

TEST_F(LoadParametersTest, RequiredParameterLeftUnsetIsReported)
{
    const std::string ini = dir.Write("algo.ini", "[main]\nangle=1\n");
    auto root = MakeTree();
    root->ForEachParameter([](ParamsLib::BaseParameter&) {});
    root->counter->tracker.ForEachParameter([](ParamsLib::BaseParameter&) {});
    root->counter->tracker.radius.MarkValueRequired();
    root->angle.MarkValueRequired();

    ParamsLib::load_parameters(ini.c_str(), 0, root.get(), log);
    ASSERT_EQ(log->lines.size(), 1u);
    EXPECT_EQ(log->lines[0].level, kKivLogError);
    EXPECT_EQ(log->lines[0].context, "MonoPeopleCounter--Tracker");
    EXPECT_EQ(log->lines[0].text,
              "Parameter MonoPeopleCounter--Tracker_radius must not be default-initialized. Please set its value.");

    auto quiet = MakeTree();
    EXPECT_NO_THROW(ParamsLib::load_parameters(ini.c_str(), 0, quiet.get(), nullptr));
    EXPECT_EQ(quiet->angle(), 1.0);
}

TEST_F(LoadParametersTest, SecondLoadKeepsValuesTheFilesNoLongerHold)
{
    const std::string first = dir.Write("first.ini", "[MonoPeopleCounter--Tracker]\nradius=33\n");
    const std::string second = dir.Write("second.ini", "[main]\nangle=2\n");
    auto root = MakeTree();
    ParamsLib::load_parameters(first.c_str(), 0, root.get(), log);
    ParamsLib::load_parameters(second.c_str(), 0, root.get(), log);
    EXPECT_EQ(root->counter->tracker.radius(), 33);
    EXPECT_EQ(root->angle(), 2.0);
}

TEST_F(LoadParametersTest, TraversalVisitsBlocksBreadthFirstInDeclarationOrder)
{
    auto root = MakeTree();
    std::vector<std::string> names;
    ParamsLib::TraverseParameters(root.get(),
                                  [&](ParamsLib::BaseParameter& parameter, const BlockEntities::Context& context) {
                                      names.push_back(GetFullParameterName(parameter.GetName(), context));
                                  });
    EXPECT_EQ(names,
              (std::vector<std::string>{"angle", "max_valid", "MonoPeopleCounter_gauss_type", "MonoPeopleCounter_label",
                                        "MonoPeopleCounter--Tracker_radius", "MonoPeopleCounter--Tracker_rate",
                                        "MonoPeopleCounter--Tracker_enabled"}));
}

}  // namespace
