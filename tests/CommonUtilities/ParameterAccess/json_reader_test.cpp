#include "CommonUtilities/ParameterAccess/json_reader.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

namespace {

using ParamsLib::JSON::ReadFullObjectOrThrowException;

template <typename T>
std::string FailureOf(const std::string& text)
{
    T value{};
    try {
        ReadFullObjectOrThrowException(text, value);
    } catch (const std::exception& e) {
        return e.what();
    }
    return "no failure";
}

TEST(JsonReaderTest, NumbersMustFillTheWholeText)
{
    int value = 0;
    ReadFullObjectOrThrowException(" 42 ", value);
    EXPECT_EQ(value, 42);
    EXPECT_EQ(FailureOf<int>("12abc"),
              "Deserialization failed.    parsed string with error position denoted by ||: '12||abc'");
    const std::string empty = FailureOf<int>("");
    EXPECT_EQ(empty.rfind("Deserialization failed.    io exception:", 0), 0u) << empty;
    EXPECT_NE(empty.find("    parsed string with error position denoted by ||: '||'"), std::string::npos) << empty;
    bool flag = false;
    ReadFullObjectOrThrowException("true", flag);
    EXPECT_TRUE(flag);
    EXPECT_NE(FailureOf<bool>("1").find("io exception"), std::string::npos);
}

TEST(JsonReaderTest, PointNeedsItsComma)
{
    ParameterSPOINTType point;
    ReadFullObjectOrThrowException("[1,2]", point);
    EXPECT_EQ(point.x, 1.f);
    EXPECT_EQ(point.y, 2.f);
    const std::string failure = FailureOf<ParameterSPOINTType>("[1 2]");
    EXPECT_NE(failure.find("Bad input: got'2' instead of ','"), std::string::npos) << failure;
    EXPECT_NE(failure.find("'[1 ||2]'"), std::string::npos) << failure;
}

TEST(JsonReaderTest, TrailingTextAfterACircleIsMarked)
{
    RelativeCircle circle;
    ReadFullObjectOrThrowException("[[0.5,0.5],[0.6,0.5]]", circle);
    EXPECT_EQ(circle.second.x, 0.6f);
    EXPECT_EQ(FailureOf<RelativeCircle>("[[0.5,0.5],[0.6,0.5]] x"),
              "Deserialization failed.    parsed string with error position denoted by ||: "
              "'[[0.5,0.5],[0.6,0.5]] ||x'");
}

TEST(JsonReaderTest, ListsAndMatrices)
{
    std::vector<std::vector<double>> matrix;
    ReadFullObjectOrThrowException("[ [1., 0., 0], [0, 1.5] ]", matrix);
    ASSERT_EQ(matrix.size(), 2u);
    EXPECT_EQ(matrix[0].size(), 3u);
    EXPECT_EQ(matrix[1][1], 1.5);

    std::vector<int> list{7};
    ReadFullObjectOrThrowException("[]", list);
    EXPECT_TRUE(list.empty());
    EXPECT_NE(FailureOf<std::vector<int>>("").find("io exception"), std::string::npos);
    EXPECT_NE(FailureOf<std::vector<int>>("[1,2,]").find("Deserialization failed."), std::string::npos);
    EXPECT_NE(FailureOf<std::vector<int>>("[1 2]").find("Bad input: got'2' instead of ','"), std::string::npos);

    std::vector<std::vector<ParameterSPOINTType>> polylines;
    ReadFullObjectOrThrowException("[[[0,0],[1,0]],[[0,1],[1,1]]]", polylines);
    ASSERT_EQ(polylines.size(), 2u);
    EXPECT_EQ(polylines[1][0].y, 1.f);
}

TEST(JsonReaderTest, CountingLinesReadTheirDirectionWords)
{
    std::vector<ParamsLib::InputLineFormat> lines;
    ReadFullObjectOrThrowException("[[0, \"TwoDirections\", [[0.1,0.5],[0.9,0.5]]], [4, \"In coming\", [[0,0]]]]",
                                   lines);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0].id, 0);
    EXPECT_EQ(lines[0].direction, 3);
    ASSERT_EQ(lines[0].points.size(), 2u);
    EXPECT_EQ(lines[0].points[1].x, 0.9f);
    EXPECT_EQ(lines[1].id, 4);
    EXPECT_EQ(lines[1].direction, 1);

    EXPECT_NE(FailureOf<std::vector<ParamsLib::InputLineFormat>>("[[0, Incoming, [[0,0]]], [1, \"Outcoming\", []]]")
                  .find("GetIntersectionTypeFromName: wrong input"),
              std::string::npos);
    EXPECT_NE(FailureOf<std::vector<ParamsLib::InputLineFormat>>("[[0, Incoming, [[0,0]]]]").find("io exception"),
              std::string::npos);
}

TEST(JsonReaderTest, QuotedTexts)
{
    std::string text;
    ReadFullObjectOrThrowException("\"a \\\"b\\\" \\\\ c\"", text);
    EXPECT_EQ(text, "a \"b\" \\ c");
    EXPECT_NE(FailureOf<std::string>("\"a\\n\"").find("unknown escaped character in string:'n'"), std::string::npos);
    EXPECT_NE(FailureOf<std::string>("\"abc\\").find("unfinished string"), std::string::npos);
    EXPECT_NE(FailureOf<std::string>("\"abc").find("io exception"), std::string::npos);
}

TEST(JsonReaderTest, PerspectiveFilterKeyValueText)
{
    PerspectiveFilterParams params;
    ReadFullObjectOrThrowException(
        "preview=1;top_factor=1.000000000000000;bottom_factor=0.5;shift_x=0.000000000000000;"
        "shift_y=0.25;translation=0.000000000000000;zoom=2.000000000000000",
        params);
    EXPECT_EQ(params.zoom, 2.f);
    EXPECT_EQ(params.bottom_factor, 0.5f);
    EXPECT_EQ(params.shift_y, 0.25f);

    PerspectiveFilterParams reordered;
    ReadFullObjectOrThrowException(" zoom = 2 ; translation=0;shift_y= 0.25;shift_x=0 ;bottom_factor=0.5;top_factor=1 ",
                                   reordered);
    EXPECT_EQ(reordered.zoom, params.zoom);
    EXPECT_EQ(reordered.shift_y, params.shift_y);
    EXPECT_EQ(reordered.bottom_factor, params.bottom_factor);

    const std::string missing =
        FailureOf<PerspectiveFilterParams>("zoom=1;top_factor=1;bottom_factor=1;shift_x=0;shift_y=0");
    EXPECT_NE(missing.find("Deserialization failed."), std::string::npos);
    EXPECT_NE(missing.find("Input parameter data doesn't contain key translation"), std::string::npos) << missing;

    const std::string bad_value =
        FailureOf<PerspectiveFilterParams>("zoom=x1;top_factor=1;bottom_factor=1;shift_x=0;shift_y=0;translation=0");
    EXPECT_NE(bad_value.find("Deserialization from dict value failed.    dict key = zoom    error = "),
              std::string::npos)
        << bad_value;

    // Pairs without a key are dropped, wherever they stand; the pairs after them are read.
    PerspectiveFilterParams keyless;
    ReadFullObjectOrThrowException("=3;zoom=1.5;top_factor=1;=7;bottom_factor=0.5;shift_x=0;shift_y=0;translation=0;=",
                                   keyless);
    EXPECT_EQ(keyless.zoom, 1.5f);
    EXPECT_EQ(keyless.bottom_factor, 0.5f);
}

}  // namespace
