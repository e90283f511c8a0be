#include "CommonUtilities/ParameterAccess/parameters.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

namespace {

using ParamsLib::BaseParameter;
using ParamsLib::ParameterOption;
using ParamsLib::ParameterOptions;
using ParamsLib::ParameterState;

// A parameter list with one declaration function chosen by the test.
class Holder : public ParamsLib::ImplIHasParameters {
public:
    std::function<void(Holder&)> declare;
    int declarations = 0;

    void InitializeDefaultParameters() override
    {
        ++declarations;
        if (declare)
            declare(*this);
    }
    std::vector<BaseParameter*> Listed()
    {
        std::vector<BaseParameter*> listed;
        ForEachParameter([&](BaseParameter& parameter) { listed.push_back(&parameter); });
        return listed;
    }
};

template <typename P>
std::string DeclarationFailure(P& parameter, const std::string& default_text)
{
    try {
        parameter.InitWithDefault("p", "brief", default_text);
    } catch (const std::logic_error& e) {
        return e.what();
    }
    return "no failure";
}

ParameterOptions OptionsOf(const BaseParameter& parameter)
{
    ParameterOptions options;
    parameter.FillParameterOptions(options);
    return options;
}

TEST(ParametersTest, DeclarationIsListedOnceAndOnlyOnFirstUse)
{
    ParamsLib::IntValueParam<> radius;
    Holder holder;
    holder.declare = [&](Holder& h) {
        h.InitValueParameterStringDefault(radius, "", "", "radius", "target radius", "", "10");
        h.InitValueParameterStringDefault(radius, "", "", "radius", "target radius again", "", "12");
    };
    EXPECT_EQ(holder.Listed(), std::vector<BaseParameter*>{&radius});
    EXPECT_EQ(holder.Listed().size(), 1u);
    EXPECT_EQ(holder.declarations, 1);
    EXPECT_EQ(radius.GetDefaultText(), "12");
    EXPECT_EQ(radius.GetBrief(), "target radius again");
    EXPECT_EQ(radius.GetState(), ParameterState::kDeclared);
}

TEST(ParametersTest, CommentIsRefusedBeforeAnythingIsStored)
{
    ParamsLib::IntValueParam<> radius;
    Holder holder;
    holder.declare = [&](Holder& h) {
        h.InitValueParameterStringDefault(radius, "", "", "radius", "brief", "a comment", "10");
    };
    try {
        holder.Listed();
        FAIL() << "a comment must be refused";
    } catch (const std::logic_error& e) {
        EXPECT_STREQ(e.what(),
                     "field 'comment' is not supported in InitValueParameter and never should be used. Use brief.");
    }
    EXPECT_EQ(radius.GetState(), ParameterState::kNotDeclared);
    holder.declare = nullptr;
    EXPECT_TRUE(holder.Listed().empty());
}

TEST(ParametersTest, DefaultsAreCheckedAndKeptAsTheyReadBack)
{
    ParamsLib::IntValueParam<> number;
    EXPECT_EQ(DeclarationFailure(number, "12abc"),
              "Parameter p error: user supplied default value 12abc leads to deserialization error: "
              "Deserialization failed.    Name = p    Semantic type = int    error = Deserialization failed.    "
              "parsed string with error position denoted by ||: '12||abc'");

    number.InitWithDefault("p", "brief", "007");
    EXPECT_EQ(number.GetDefaultText(), "7");
    EXPECT_EQ(OptionsOf(number).at(ParameterOption::kDefaultLimitedWarning),
              "User supplied default value 007 was not allowed for this parameter type. The default value was "
              "limited/truncated to 7");

    ParamsLib::FltValueParam<> ratio;
    ratio.InitWithDefault("ratio", "brief", "0.1234567");
    EXPECT_EQ(ratio.GetDefaultText(), "0.123457");
    EXPECT_EQ(OptionsOf(ratio).count(ParameterOption::kDefaultLimitedWarning), 1u);
    ratio.DeserializeFromDefault();
    EXPECT_FLOAT_EQ(ratio(), 0.123457f);

    ParamsLib::NumericParameter<double> half;
    half.InitWithDefault("half", "brief", "0.5");
    EXPECT_EQ(OptionsOf(half).count(ParameterOption::kDefaultLimitedWarning), 0u);
    EXPECT_EQ(half.GetSemanticType(), "double");
    ParamsLib::NumericParameter<double> one;
    one.InitWithDefault("one", "brief", "1.0");
    EXPECT_EQ(one.GetDefaultText(), "1");

    ParamsLib::BlnValueParam<> flag;
    EXPECT_NE(DeclarationFailure(flag, "1").find("leads to deserialization error"), std::string::npos);
    flag.InitWithDefault("flag", "brief", "true");
    EXPECT_EQ(flag.GetSemanticType(), "bool");

    ParamsLib::StrValueParam<> text;
    text.InitWithDefault("text", "brief", "");
    EXPECT_EQ(text.GetState(), ParameterState::kDeclared);
    EXPECT_NE(DeclarationFailure(number, "").find("leads to deserialization error"), std::string::npos);
}

TEST(ParametersTest, ReadingBeforeLoadingIsRefused)
{
    ParamsLib::IntValueParam<> radius;
    radius.InitWithDefault("radius", "brief", "10");
    try {
        radius();
        FAIL() << "reading a declared-only parameter must throw";
    } catch (const std::logic_error& e) {
        EXPECT_STREQ(e.what(), "Accessing non-initialized parameter radius; Purpose:reading via operator()");
    }
    radius.DeserializeFromDefault();
    EXPECT_EQ(radius(), 10);
    EXPECT_EQ(radius.GetState(), ParameterState::kDefaultLoaded);
}

TEST(ParametersTest, LimitsClampAndKeepTheLimitsText)
{
    ParamsLib::IntValueParam<> radius;
    radius.InitWithDefault("radius", "brief", "10");
    radius.SetLimits(1, 100);
    radius.Deserialize("500");
    EXPECT_EQ(radius(), 100);
    EXPECT_EQ(radius.GetCurrentValueText("test"), "100");
    EXPECT_EQ(radius.GetState(), ParameterState::kDeserialized);
    radius.Deserialize("-3");
    EXPECT_EQ(radius(), 1);
    const ParameterOptions options = OptionsOf(radius);
    EXPECT_EQ(options.at(ParameterOption::kMinimum), "1");
    EXPECT_EQ(options.at(ParameterOption::kMaximum), "100");

    ParamsLib::FltValueParam<> rate;
    rate.InitWithDefault("rate", "brief", "0.3");
    rate.SetLimits(0.f, 0.8f);
    rate.Deserialize("0.95");
    EXPECT_FLOAT_EQ(rate(), 0.8f);
    EXPECT_EQ(rate.GetCurrentValueText("test"), "0.8");
}

TEST(ParametersTest, FailedValueFallsBackToTheDefault)
{
    stereo::MatrixParam matrix;
    matrix.InitWithDefault("matrix", "brief", "[[1, 0], [0, 1]]");
    EXPECT_EQ(matrix.GetSemanticType(), "MatrixParam");
    matrix.Deserialize("[[2]]");
    EXPECT_EQ(matrix().size(), 1u);
    try {
        matrix.Deserialize("[[3], [4");
        FAIL() << "a broken value must throw";
    } catch (const std::runtime_error& e) {
        EXPECT_EQ(
            std::string(e.what()).rfind("Deserialization failed.    Name = matrix    Semantic type = MatrixParam", 0),
            0u);
    }
    EXPECT_EQ(matrix.GetState(), ParameterState::kDefaultLoaded);
    EXPECT_EQ(matrix(), (std::vector<std::vector<double>>{{1, 0}, {0, 1}}));
    EXPECT_EQ(matrix.GetCurrentValueText("test"), "[[1, 0], [0, 1]]");

    ParamsLib::IntValueParam<> undeclared;
    EXPECT_THROW(undeclared.Deserialize("1"), std::logic_error);
}

TEST(ParametersTest, EnumerationNamesMatchWholeAndExact)
{
    ParamsLib::EnumValueParam<GaussBlurType> gauss;
    Holder holder;
    holder.declare = [&](Holder& h) {
        h.InitValueParameterDefault(gauss, "", "", "gauss_type", "Gauss type", "", kGaussBox2);
    };
    holder.Listed();
    EXPECT_EQ(gauss.GetDefaultText(), "kGaussBox2");
    EXPECT_EQ(gauss.GetSemanticType(), "GaussBlurType");
    EXPECT_EQ(OptionsOf(gauss).at(ParameterOption::kEnumNames),
              "kGaussFloat,kGaussFixed,kGaussBox1,kGaussBox2,kGauss2DBox1,kGauss2DBox2,kGauss2DBox3,kGaussExpApprox");

    gauss.Deserialize("kGaussFixed");
    EXPECT_EQ(gauss(), kGaussFixed);
    for (const char* text : {" kGaussFixed", "kgaussfixed", "kGaussFixed ", "kGauss"}) {
        try {
            gauss.Deserialize(text);
            FAIL() << "accepted '" << text << "'";
        } catch (const std::runtime_error& e) {
            EXPECT_EQ(std::string(e.what()),
                      std::string("Deserialization failed.    Name = gauss_type    Semantic type = GaussBlurType    "
                                  "possible values = kGaussFloat,kGaussFixed,kGaussBox1,kGaussBox2,kGauss2DBox1,"
                                  "kGauss2DBox2,kGauss2DBox3,kGaussExpApprox    unknown enum value '") +
                          text + "'");
        }
        EXPECT_EQ(gauss(), kGaussBox2);
    }
    EXPECT_THROW(gauss.Serialize(static_cast<GaussBlurType>(8)), std::runtime_error);
}

TEST(ParametersTest, CompoundParametersReadTheirTexts)
{
    PerspectiveFilterValueParam perspective;
    perspective.InitWithDefault("perspective_filter", "brief",
                                "preview=1;top_factor=1.000000000000000;bottom_factor=1.000000000000000;"
                                "shift_x=0.000000000000000;shift_y=0.000000000000000;"
                                "translation=0.000000000000000;zoom=1.000000000000000");
    perspective.DeserializeFromDefault();
    EXPECT_EQ(perspective.GetSemanticType(), "perspective");
    EXPECT_EQ(perspective().zoom, 1.f);

    VectorOfRelativePolyLineParam lines;
    lines.InitWithDefault("lines", "brief", "[[[0.181818,0.00347222],[0.198864,0.322917],[0.292614, 0.420139]]]");
    lines.DeserializeFromDefault();
    EXPECT_EQ(lines.GetSemanticType(), "VectorOfRelativePolyLine");
    ASSERT_EQ(lines().size(), 1u);
    EXPECT_EQ(lines()[0].size(), 3u);

    ParamsLib::CompoundValueParam<RelativeCircle> circle;
    circle.InitWithDefault("target_circle", "brief", "[[0.5,0.5],[0.5,0.3]]");
    EXPECT_EQ(circle.GetSemanticType(), "RelativeCircle");

    ParamsLib::VectOfRelPolyLineParam counting;
    EXPECT_NE(DeclarationFailure(counting, "").find("leads to deserialization error"), std::string::npos);
    counting.InitWithDefault("CountingLines", "brief", "[[1, \"Incoming\", [[0,0.5],[1,0.5]]]]");
    counting.DeserializeFromDefault();
    ASSERT_EQ(counting().size(), 1u);
    EXPECT_EQ(counting()[0].direction, ParamsLib::kIntersectionIncoming);
}

}  // namespace
