#include "StereoAnalyzer/StereoPeopleCounter/left_right_check.h"

#include <gtest/gtest.h>

#include "CommonUtilities/algorithm_support/kiv_exception.h"

namespace {

TEST(LeftRightCheckTest, MarksDisparitiesTheOtherViewDoesNotConfirm)
{
    // One row of 20: the left pixel at x = 10 has disparity d, its match at 10 - d holds `right_value`.
    struct Case {
        short d;
        short right_value;
        int thresh;
        bool with_invalid;
        uchar expected;
    };
    const short invalid = -1;
    const Case cases[] = {
        {4, -4, 0, true, 0},        {4, -6, 1, true, 255},   {4, -6, 2, true, 0},
        {4, -2, 2, true, 0},        {12, -12, 5, true, 255},  // 10 - 12 < 0: outside the row
        {-1, 1, 5, true, 255},                                // own disparity is the invalid marker
        {-1, 1, 0, false, 0},                                 // without the marker it takes part: 11 - 1 = 10
        {4, invalid, 5, true, 255},                           // the match holds the marker
        {4, -15, 30, true, 255},                              // the match points outside the row
    };
    for (const Case& c : cases) {
        cv::Mat left(1, 20, CV_16SC1, cv::Scalar(0)), right(1, 20, CV_16SC1, cv::Scalar(0)), mask;
        left.at<short>(0, 10) = c.d;
        const int j = 10 - c.d;
        if (j >= 0 && j < 20)
            right.at<short>(0, j) = c.right_value;
        if (c.with_invalid)
            stereo::LeftRightCheck(left, right, c.thresh, invalid, mask);
        else
            stereo::LeftRightCheck(left, right, c.thresh, mask);
        ASSERT_EQ(mask.type(), CV_8UC1);
        EXPECT_EQ(mask.at<uchar>(0, 10), c.expected)
            << "d " << c.d << " right " << c.right_value << " thresh " << c.thresh;
    }
}

TEST(LeftRightCheckTest, ContinuousAndStridedMapsGiveTheSameMask)
{
    cv::Mat left(30, 40, CV_16SC1), right(30, 40, CV_16SC1);
    cv::randu(left, 0, 8);
    cv::randu(right, -8, 1);
    cv::Mat continuous, strided_mask_storage(30, 50, CV_8UC1);
    stereo::LeftRightCheck(left, right, 1, -1, continuous);
    cv::Mat big_left(30, 50, CV_16SC1), big_right(30, 50, CV_16SC1);
    left.copyTo(big_left.colRange(5, 45));
    right.copyTo(big_right.colRange(5, 45));
    cv::Mat strided_mask = strided_mask_storage.colRange(5, 45);
    stereo::LeftRightCheck(big_left.colRange(5, 45), big_right.colRange(5, 45), 1, -1, strided_mask);
    EXPECT_EQ(cv::norm(continuous, strided_mask, cv::NORM_INF), 0.0);
    EXPECT_GT(cv::countNonZero(continuous), 0);
    EXPECT_LT(cv::countNonZero(continuous), 30 * 40);
}

TEST(LeftRightCheckTest, RefusesBadArguments)
{
    const cv::Mat a(4, 4, CV_16SC1, cv::Scalar(0));
    cv::Mat mask;
    EXPECT_THROW(stereo::LeftRightCheck(a, cv::Mat(4, 5, CV_16SC1), 0, mask), exc::KIVException);
    EXPECT_THROW(stereo::LeftRightCheck(cv::Mat(4, 4, CV_32SC1), a, 0, mask), exc::KIVException);
    EXPECT_THROW(stereo::LeftRightCheck(a, cv::Mat(4, 4, CV_16SC2), 0, mask), exc::KIVException);
    EXPECT_THROW(stereo::LeftRightCheck(a, a, -1, mask), exc::KIVException);
}

TEST(SetToMaskedWithFindUnmaskedMeanTest, FillsMaskedPixelsAndAveragesTheOthers)
{
    cv::Mat_<uchar> image(2, 3);
    image << 10, 20, 30, 40, 50, 60;
    cv::Mat_<uchar> mask(2, 3, uchar(0));
    mask(0, 0) = 255;
    mask(1, 2) = 1;
    EXPECT_DOUBLE_EQ(stereo::SetToMaskedWithFindUnmaskedMean(mask, 7, image), 35.0);
    EXPECT_EQ(image(0, 0), 7);
    EXPECT_EQ(image(1, 2), 7);
    EXPECT_EQ(image(0, 1), 20);

    cv::Mat_<uchar> all(2, 3, uchar(255));
    EXPECT_DOUBLE_EQ(stereo::SetToMaskedWithFindUnmaskedMean(all, 3, image), 0.0);
    EXPECT_EQ(cv::countNonZero(image != 3), 0);
    cv::Mat_<uchar> other(3, 3, uchar(0));
    EXPECT_THROW(stereo::SetToMaskedWithFindUnmaskedMean(other, 0, image), exc::KIVException);
}

}  // namespace
