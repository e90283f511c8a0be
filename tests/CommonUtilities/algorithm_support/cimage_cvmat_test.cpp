#include "CommonUtilities/algorithm_support/cimage_cvmat.h"

#include <string>

#include <gtest/gtest.h>
#include <opencv2/imgproc.hpp>

#include "CommonUtilities/algorithm_support/kiv_exception.h"

namespace {

using cimage_cvmat::FindReduceResolution;
using cimage_cvmat::ReductionKind;

// The additional information of the exception `call` throws.
template <typename Call>
std::string KivInfo(Call call)
{
    try {
        call();
    } catch (const exc::KIVException& e) {
        return e.GetAdditionalInfo();
    }
    ADD_FAILURE() << "no KIVException";
    return {};
}

cv::Mat Pattern(int type)
{
    cv::Mat m(4, 5, type);
    cv::randu(m, 0, 256);
    return m;
}

bool Same(const cv::Mat& a, const cv::Mat& b)
{
    return a.size() == b.size() && a.type() == b.type() && cv::norm(a, b, cv::NORM_INF) == 0;
}

TEST(FindReduceResolutionTest, KeepsAspectWhenPossible)
{
    ReductionKind kind = cimage_cvmat::NoReduction;
    EXPECT_EQ(FindReduceResolution(cv::Size(640, 480), 40000, 100000, &kind), cv::Size(232, 174));
    EXPECT_EQ(kind, cimage_cvmat::ReductionKeepingAspect);
}

TEST(FindReduceResolutionTest, NeverEnlargesTheInput)
{
    ReductionKind kind = cimage_cvmat::ReductionChangingAspect;
    EXPECT_EQ(FindReduceResolution(cv::Size(320, 240), 100000, 200000, &kind), cv::Size(320, 240));
    EXPECT_EQ(kind, cimage_cvmat::NoReduction);
}

TEST(FindReduceResolutionTest, ChangesAspectWhenExactRatioIsTooLarge)
{
    ReductionKind kind = cimage_cvmat::NoReduction;
    EXPECT_EQ(FindReduceResolution(cv::Size(641, 480), 40000, 100000, &kind), cv::Size(232, 174));
    EXPECT_EQ(kind, cimage_cvmat::ReductionChangingAspect);
    // The kind is optional.
    EXPECT_EQ(FindReduceResolution(cv::Size(641, 480), 40000, 100000, nullptr), cv::Size(232, 174));
}

TEST(FindReduceResolutionTest, InputOfTheCandidateSizeIsNoReduction)
{
    ReductionKind kind = cimage_cvmat::ReductionChangingAspect;
    EXPECT_EQ(FindReduceResolution(cv::Size(232, 174), 40000, 100000, &kind), cv::Size(232, 174));
    EXPECT_EQ(kind, cimage_cvmat::NoReduction);
}

TEST(FindReduceResolutionTest, RefusesBadBounds)
{
    EXPECT_EQ(KivInfo([] { FindReduceResolution(cv::Size(640, 480), 50000, 40000, nullptr); }), " 50000 40000");
    EXPECT_EQ(KivInfo([] { FindReduceResolution(cv::Size(640, 480), 0, 40000, nullptr); }), " 0 0");
    EXPECT_EQ(KivInfo([] { FindReduceResolution(cv::Size(640, 480), -10, 40000, nullptr); }), " -10 0");
}

TEST(FindReduceResolutionTest, RefusesEmptyAndNegativeSizes)
{
    EXPECT_EQ(KivInfo([] { FindReduceResolution(cv::Size(0, 480), 100, 400, nullptr); }), " 0 0");
    EXPECT_EQ(KivInfo([] { FindReduceResolution(cv::Size(-640, 480), 100, 400, nullptr); }), " -307200 0");
    EXPECT_EQ(KivInfo([] { FindReduceResolution(cv::Size(-640, -480), 100, 400, nullptr); }), " 307200 0");
}

TEST(PutMatTo1ChannelMatTest, GreySourceIsSharedNotCopied)
{
    cv::Mat src = Pattern(CV_8UC1);
    cv::Mat dst;
    cimage_cvmat::PutMatTo1ChannelMat(src, dst);
    EXPECT_EQ(dst.data, src.data);
    dst.at<unsigned char>(1, 2) = 7;
    EXPECT_EQ(src.at<unsigned char>(1, 2), 7);
    cimage_cvmat::PutMatTo1ChannelMat(src, src);
    EXPECT_EQ(src.at<unsigned char>(1, 2), 7);
}

TEST(PutMatTo1ChannelMatTest, ColourSourcesAreConvertedToGrey)
{
    const cv::Mat bgr = Pattern(CV_8UC3);
    cv::Mat expected;
    cv::cvtColor(bgr, expected, cv::COLOR_BGR2GRAY);
    cv::Mat dst;
    cimage_cvmat::PutMatTo1ChannelMat(bgr, dst);
    EXPECT_TRUE(Same(dst, expected));

    const cv::Mat bgra = Pattern(CV_8UC4);
    cv::cvtColor(bgra, expected, cv::COLOR_BGRA2GRAY);
    cimage_cvmat::PutMatTo1ChannelMat(bgra, dst);
    EXPECT_TRUE(Same(dst, expected));
}

TEST(PutMatTo1ChannelMatTest, RefusesOtherTypes)
{
    const cv::Mat wide(4, 5, CV_16UC1, cv::Scalar(3));
    cv::Mat dst;
    EXPECT_EQ(KivInfo([&] { cimage_cvmat::PutMatTo1ChannelMat(wide, dst); }), " 2  matrix type is not supported");
    cv::Mat colour_dst(4, 5, CV_8UC3);
    EXPECT_EQ(KivInfo([&] { cimage_cvmat::PutMatTo1ChannelMat(Pattern(CV_8UC3), colour_dst); }), "");
}

TEST(CopyMatTo3ChannelMatTest, ConvertsEverySupportedSource)
{
    cv::Mat dst(1, 1, CV_8UC3);
    const cv::Mat bgr = Pattern(CV_8UC3);
    cimage_cvmat::CopyMatTo3ChannelMat(bgr, dst);
    EXPECT_TRUE(Same(dst, bgr));
    EXPECT_NE(dst.data, bgr.data);

    cv::Mat expected;
    const cv::Mat grey = Pattern(CV_8UC1);
    cv::cvtColor(grey, expected, cv::COLOR_GRAY2BGR);
    cimage_cvmat::CopyMatTo3ChannelMat(grey, dst);
    EXPECT_TRUE(Same(dst, expected));

    const cv::Mat bgra = Pattern(CV_8UC4);
    cv::cvtColor(bgra, expected, cv::COLOR_BGRA2BGR);
    cimage_cvmat::CopyMatTo3ChannelMat(bgra, dst);
    EXPECT_TRUE(Same(dst, expected));
}

TEST(CopyMatTo3ChannelMatTest, RefusesEmptyDestinationAndOtherSources)
{
    cv::Mat empty;
    EXPECT_EQ(KivInfo([&] { cimage_cvmat::CopyMatTo3ChannelMat(Pattern(CV_8UC3), empty); }), "");
    cv::Mat dst(4, 5, CV_8UC3);
    const cv::Mat floats(4, 5, CV_32FC1, cv::Scalar(1));
    EXPECT_EQ(KivInfo([&] { cimage_cvmat::CopyMatTo3ChannelMat(floats, dst); }), " 5  matrix type is not supported");
}

TEST(Copy3ChannelMatToMatTest, WritesInTheDestinationLayout)
{
    const cv::Mat bgr = Pattern(CV_8UC3);
    cv::Mat expected;

    cv::Mat bgra(4, 5, CV_8UC4);
    const unsigned char* kept = bgra.data;
    cimage_cvmat::Copy3ChannelMatToMat(bgr, bgra);
    cv::cvtColor(bgr, expected, cv::COLOR_BGR2BGRA);
    EXPECT_TRUE(Same(bgra, expected));
    EXPECT_EQ(bgra.data, kept);  // a fitting destination is written in place

    cv::Mat grey(2, 2, CV_8UC1);
    cimage_cvmat::Copy3ChannelMatToMat(bgr, grey);
    cv::cvtColor(bgr, expected, cv::COLOR_BGR2GRAY);
    EXPECT_TRUE(Same(grey, expected));

    cv::Mat copy(4, 5, CV_8UC3);
    cimage_cvmat::Copy3ChannelMatToMat(bgr, copy);
    EXPECT_TRUE(Same(copy, bgr));
}

TEST(Copy3ChannelMatToMatTest, RefusesOtherTypes)
{
    cv::Mat dst(4, 5, CV_8UC3);
    EXPECT_EQ(KivInfo([&] { cimage_cvmat::Copy3ChannelMatToMat(Pattern(CV_8UC1), dst); }), "");
    cv::Mat wide(4, 5, CV_16UC1);
    EXPECT_EQ(KivInfo([&] { cimage_cvmat::Copy3ChannelMatToMat(Pattern(CV_8UC3), wide); }),
              " 2  matrix type is not supported");
}

TEST(Copy1ChannelMatToMatTest, WritesInTheDestinationLayout)
{
    const cv::Mat grey = Pattern(CV_8UC1);
    cv::Mat expected;

    cv::Mat bgr(1, 1, CV_8UC3);
    cimage_cvmat::Copy1ChannelMatToMat(grey, bgr);
    cv::cvtColor(grey, expected, cv::COLOR_GRAY2BGR);
    EXPECT_TRUE(Same(bgr, expected));

    cv::Mat bgra;
    bgra.create(1, 1, CV_8UC4);
    cimage_cvmat::Copy1ChannelMatToMat(grey, bgra);
    cv::cvtColor(grey, expected, cv::COLOR_GRAY2BGRA);
    EXPECT_TRUE(Same(bgra, expected));

    cv::Mat copy;
    cimage_cvmat::Copy1ChannelMatToMat(grey, copy);
    EXPECT_TRUE(Same(copy, grey));
    EXPECT_NE(copy.data, grey.data);

    cv::Mat wide(4, 5, CV_16SC1);
    EXPECT_EQ(KivInfo([&] { cimage_cvmat::Copy1ChannelMatToMat(grey, wide); }), " 3  matrix type is not supported");
    EXPECT_EQ(KivInfo([&] { cimage_cvmat::Copy1ChannelMatToMat(Pattern(CV_8UC3), copy); }), "");
}

TEST(CreateZeroedTest, KeepsTheType)
{
    cv::Mat m(2, 2, CV_16SC3, cv::Scalar(5, 6, 7));
    cimage_cvmat::CreateZeroed(m, cv::Size(7, 3));
    EXPECT_EQ(m.size(), cv::Size(7, 3));
    EXPECT_EQ(m.type(), CV_16SC3);
    EXPECT_EQ(cv::countNonZero(m.reshape(1)), 0);
}

}  // namespace
