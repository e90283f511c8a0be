#include "CommonUtilities/ParameterAccess/parameter_profile.h"

#include <gtest/gtest.h>

#include <boost/property_tree/ptree.hpp>
#include <boost/property_tree/xml_parser.hpp>
#include <cstdio>
#include <sstream>
#include <stdexcept>
#include <string>

#include "CommonUtilities/ParameterAccess/param_test_blocks.h"
#include "CommonUtilities/ParameterAccess/temp_ini_dir.h"
#include "support/shown_text.h"

namespace {

using param_test::MakeTree;

std::string Profile(BlockEntities::IAlgoEntityBase* root, ParameterSetKind::Enum kind)
{
    std::ostringstream out;
    GenerateProfile(out, root, kind);
    return out.str();
}

class ParameterProfileTest : public ::testing::Test {
protected:
    void Load(const std::string& content)
    {
        const std::string ini = dir.Write("algo.ini", content);
        ParamsLib::load_parameters(ini.c_str(), 0, root.get(), nullptr);
    }

    TempIniDir dir;
    std::unique_ptr<param_test::RootBlock> root = MakeTree();
};

TEST_F(ParameterProfileTest, ChangedAndAllProfilesParseAsXml)
{
    Load("[MonoPeopleCounter--Tracker]\nradius=42\nrate=0.5\n[MonoPeopleCounter]\nlabel=x\"<y>\n");
    const std::string changed = Profile(root.get(), ParameterSetKind::kDifferentFromDefault);
    const std::string all = Profile(root.get(), ParameterSetKind::kAll);

    EXPECT_EQ(changed,
              "<group name=\"Labels\">\n"
              "\t<param name=\"MonoPeopleCounter_label\" type=\"string\" description=\"a label\" "
              "value=\"x&quot;&lt;y&gt;\" default_value=\"none\" initializaion_state=\"Deserialized\"/>\n"
              "</group>\n"
              "<group name=\"MonoPeopleCounter--Tracker\">\n"
              "\t<param name=\"MonoPeopleCounter--Tracker_radius\" type=\"int\" description=\"search radius\" "
              "value=\"42\" default_value=\"10\" initializaion_state=\"Deserialized\" min=\"1\" max=\"100\"/>\n"
              "</group>\n");

    std::istringstream xml("<profile><current-different-from-default>\n" + changed +
                           "</current-different-from-default>\n\n<current-all>\n" + all + "</current-all></profile>");
    boost::property_tree::ptree tree;
    ASSERT_NO_THROW(boost::property_tree::read_xml(xml, tree));

    int all_params = 0;
    std::string groups;
    for (const auto& group : tree.get_child("profile.current-all")) {
        groups += group.second.get<std::string>("<xmlattr>.name") + ";";
        for (const auto& param : group.second) {
            if (param.first != "param")
                continue;
            ++all_params;
            EXPECT_TRUE(param.second.get_optional<std::string>("<xmlattr>.initializaion_state"));
        }
    }
    EXPECT_EQ(all_params, 7);
    EXPECT_EQ(groups, ";Labels;MonoPeopleCounter;MonoPeopleCounter--Tracker;");
    EXPECT_EQ(tree.get_child("profile.current-different-from-default").count("group"), 2u);
}

TEST_F(ParameterProfileTest, NothingLoadedGivesAnEmptyChangedProfile)
{
    Load("[other]\nk=1\n");
    EXPECT_EQ(Profile(root.get(), ParameterSetKind::kDifferentFromDefault), "");
    const std::string all = Profile(root.get(), ParameterSetKind::kAll);
    EXPECT_NE(all.find("\t<param name=\"angle\" type=\"double\" description=\"tilt\" value=\"0\" "
                       "initializaion_state=\"Default\"/>\n"),
              std::string::npos)
        << all;
    EXPECT_NE(all.find("description=\"rate &lt; 1 &amp; &gt; 0\""), std::string::npos) << all;
}

TEST_F(ParameterProfileTest, EnumerationListsItsNames)
{
    Load("[MonoPeopleCounter]\ngauss_type=kGaussFloat\n");
    const std::string changed = Profile(root.get(), ParameterSetKind::kDifferentFromDefault);
    EXPECT_EQ(
        changed,
        "<group name=\"MonoPeopleCounter\">\n"
        "\t<param name=\"MonoPeopleCounter_gauss_type\" type=\"GaussBlurType\" description=\"Gauss type\" "
        "value=\"kGaussFloat\" default_value=\"kGaussBox2\" initializaion_state=\"Deserialized\" kind=\"enum\">\n"
        "\t\t<enum value=\"kGaussFloat\"/>\n\t\t<enum value=\"kGaussFixed\"/>\n\t\t<enum value=\"kGaussBox1\"/>\n"
        "\t\t<enum value=\"kGaussBox2\"/>\n\t\t<enum value=\"kGauss2DBox1\"/>\n\t\t<enum value=\"kGauss2DBox2\"/>\n"
        "\t\t<enum value=\"kGauss2DBox3\"/>\n\t\t<enum value=\"kGaussExpApprox\"/>\n"
        "\t</param>\n"
        "</group>\n");
}

TEST_F(ParameterProfileTest, DeclaredDefaultsProfileShowsDefaultsAndLeavesOutMarkedParameters)
{
    Load("[main]\nangle=3\n");
    root->max_valid.ExcludeFromDefaultProfile();
    const std::string defaults = Profile(root.get(), ParameterSetKind::kDeclaredDefaults);
    EXPECT_NE(defaults.find("\t<param name=\"angle\" type=\"double\" description=\"tilt\" value=\"0\"/>\n"),
              std::string::npos)
        << defaults;
    EXPECT_EQ(defaults.find("max_valid"), std::string::npos);
    EXPECT_EQ(defaults.find("initializaion_state"), std::string::npos);
    EXPECT_NE(Profile(root.get(), ParameterSetKind::kAll).find("max_valid"), std::string::npos);
}

TEST_F(ParameterProfileTest, CompactListingAndWarnings)
{
    std::ostringstream unloaded;
    EXPECT_THROW(
        ParamsLib::TraverseParameters(root.get(), CompactParameterDescription<BlockEntities::Context>(unloaded)),
        std::logic_error);

    Load("[MonoPeopleCounter--Tracker]\nradius=42\n");
    std::ostringstream listing;
    ParamsLib::TraverseParameters(root.get(), CompactParameterDescription<BlockEntities::Context>(listing));
    const std::string text = listing.str();
    EXPECT_EQ(text.rfind("_angle=0; double, tilt\n_max_valid=25; int, limit\n", 0), 0u) << text;
    EXPECT_NE(text.find("MonoPeopleCounter--Tracker_radius=42; int, search radius\n"), std::string::npos);

    root->counter->tracker.rate.InitWithDefault("rate", "brief", "0.1234567");
    std::ostringstream warnings;
    GenerateOtherTextualParameterInfo(warnings, root.get());
    EXPECT_EQ(warnings.str(),
              "Parameter rate in MonoPeopleCounter--Tracker:\n\tUser supplied default value 0.1234567 was not "
              "allowed for this parameter type. The default value was limited/truncated to 0.123457\n");
}

// A root block with counting lines and a text, as the counters have them.
class LinesBlock : public BlockHighlevel::LightBlock<BlockEntities::IAlgoEntityBase> {
public:
    VectorOfRelativePolyLineParam lines;
    ParamsLib::StrValueParam<> label;

    void InitializeDefaultParameters() override
    {
        InitValueParameterStringDefault(lines, "", "", "lines", "counting lines", "", "[[[0.0,0.5],[1.0,0.5]]]");
        InitValueParameterStringDefault(label, "", "", "label", "a label", "", "none");
    }
};

// The longest counting lines a user writes (32 lines of 64 points, six decimals) show whole in both
// profiles and in the listing; only a value beyond the profile's bound is cut, with its length.
// Every value is escaped, one parameter a line in the listing.
TEST(ParameterProfileBoundTest, CountingLinesShowWholeAndOnlyALongerValueIsCut)
{
    std::string lines = "[";
    for (int line = 0; line < 32; ++line) {
        lines += line ? ",[" : "[";
        for (int point = 0; point < 64; ++point) {
            char text[40];
            std::snprintf(text, sizeof(text), "%s[%.6f,%.6f]", point ? "," : "", point / 63.0, (line + 0.5) / 32.0);
            lines += text;
        }
        lines += "]";
    }
    lines += "]";
    ASSERT_GT(lines.size(), 40000u);
    ASSERT_LT(lines.size(), kProfileValueLimit);
    // A parameter file keeps a carriage return and any byte of a value.
    const std::string start = "a\rFORGED line \x1b[31m\xc2\x9b";
    const std::string label = start + std::string(kProfileValueLimit, 'x') + "END";
    const std::string shown_start = "a\\rFORGED line \\x1b[31m\\x9b";
    const std::string shown_label = shown_start + std::string(kProfileValueLimit - start.size(), 'x') + "... [cut, " +
                                    std::to_string(label.size()) + " bytes]";

    TempIniDir dir;
    LinesBlock root;
    BlockEntities::TraverseSetContexts(&root);
    const std::string ini = dir.Write("algo.ini", "[main]\nlines=" + lines + "\nlabel=" + label + "\n");
    ParamsLib::load_parameters(ini.c_str(), 0, &root, nullptr);
    ASSERT_EQ(root.label(), label);

    for (const ParameterSetKind::Enum kind : {ParameterSetKind::kAll, ParameterSetKind::kDifferentFromDefault}) {
        SCOPED_TRACE(kind);
        const std::string profile = Profile(&root, kind);
        EXPECT_NE(profile.find(" value=\"" + lines + "\" default_value="), std::string::npos);
        EXPECT_NE(profile.find(" value=\"" + shown_label + "\" default_value=\"none\""), std::string::npos);
        EXPECT_EQ(profile.find("END"), std::string::npos);
        EXPECT_TRUE(testing_support::ShowsSafely(profile, true));
    }

    std::ostringstream listing;
    ParamsLib::TraverseParameters(&root, CompactParameterDescription<BlockEntities::Context>(listing));
    EXPECT_EQ(listing.str(), "_lines=" + lines + "; VectorOfRelativePolyLine, counting lines\n_label=" + shown_label +
                                 "; string, a label\n");
}

}  // namespace
