#include "StereoAnalyzer/StereoPeopleCounter/morphology.h"

#include <gtest/gtest.h>

#include <opencv2/imgproc.hpp>
#include <string>
#include <vector>

namespace {

stereo::MorphologyParams Defaults()
{
    stereo::MorphologyParams p;
    p.segm_threshold = 300;
    p.hole_threshold = 800;
    p.close_rad = 9;
    p.open_rad = 4;
    p.median_fill_rad = 9;
    p.double_median_rad = 25;
    p.med_rad = 16;
    return p;
}

TEST(MorphologyParamsTest, CheckReportsEachUnusableField)
{
    struct Case {
        const char* what;
        void (*change)(stereo::MorphologyParams&);
        std::string report;
    };
    const Case cases[] = {
        {"defaults", [](stereo::MorphologyParams&) {}, "Ok"},
        {"zero thresholds pass", [](stereo::MorphologyParams& p) { p.segm_threshold = p.hole_threshold = 0; }, "Ok"},
        {"open and med radius -1", [](stereo::MorphologyParams& p) { p.open_rad = p.med_rad = -1; },
         "CheckMorphologyParams: open_rad must be a positive integer number\n"
         "CheckMorphologyParams: med_rad must be a positive floating-point number\n"},
        {"negative threshold", [](stereo::MorphologyParams& p) { p.hole_threshold = -1; },
         "CheckMorphologyParams: hole_threshold must be a positive integer number\n"},
        {"double median radius -1", [](stereo::MorphologyParams& p) { p.double_median_rad = -1; },
         "CheckMorphologyParams: double_median_rad must be a positive integer number\n"},
        // 0 is a 1x1 element for the closing and opening, the pixel alone for the medians.
        {"every radius 0",
         [](stereo::MorphologyParams& p) {
             p.close_rad = p.open_rad = p.med_rad = p.median_fill_rad = p.double_median_rad = 0;
         },
         "Ok"},
    };
    for (const Case& c : cases) {
        stereo::MorphologyParams p = Defaults();
        c.change(p);
        std::string report;
        EXPECT_EQ(stereo::CheckMorphologyParams(report, p), c.report == "Ok") << c.what;
        EXPECT_EQ(report, c.report) << c.what;
    }
}

TEST(MorphologyParamsTest, RescaleKeepsPositiveRadiiAtLeastOneAndZeroRadiiZero)
{
    // segm_threshold, hole_threshold, close_rad, open_rad, median_fill_rad, double_median_rad, med_rad
    struct Case {
        double scale;
        bool zero_radii;  // every radius 0
        std::vector<int> expected;
    };
    const Case cases[] = {
        {0.5, false, {150, 400, 5, 2, 5, 13, 8}},  // 4.5 rounds away from zero
        {0.05, false, {15, 40, 1, 1, 1, 1, 1}},    // radii of 0.2 .. 0.8 would be 0
        {2.0, true, {600, 1600, 0, 0, 0, 0, 0}},
    };
    for (const Case& c : cases) {
        stereo::MorphologyParams p = Defaults();
        if (c.zero_radii)
            p.close_rad = p.open_rad = p.med_rad = p.median_fill_rad = p.double_median_rad = 0;
        stereo::RescaleMorphologyParams(c.scale, p);
        EXPECT_EQ((std::vector<int>{p.segm_threshold, p.hole_threshold, p.close_rad, p.open_rad, p.median_fill_rad,
                                    p.double_median_rad, p.med_rad}),
                  c.expected)
            << c.scale;
    }
}

TEST(ConnectedComponentsSegmentatorTest, DeletesStructuresBelowTheMinimalSize)
{
    // Blobs of 6 and 5 pixels and a diagonal pair, which is two 1-pixel blobs with four neighbours.
    cv::Mat_<uchar> img(6, 8, uchar(0));
    img(cv::Rect(0, 0, 3, 2)).setTo(255);
    img(cv::Rect(5, 0, 1, 5)).setTo(255);
    img(4, 1) = 255;
    img(5, 2) = 255;
    struct Case {
        int min_size;
        segmentator::ConnectedComponentsSegmentator::Connectivity connectivity;
        int remaining;
    };
    const Case cases[] = {
        {6, segmentator::ConnectedComponentsSegmentator::kFour, 6},
        {5, segmentator::ConnectedComponentsSegmentator::kFour, 11},
        {2, segmentator::ConnectedComponentsSegmentator::kFour, 11},
        {2, segmentator::ConnectedComponentsSegmentator::kEight, 13},
        {0, segmentator::ConnectedComponentsSegmentator::kFour, 13},
    };
    segmentator::ConnectedComponentsSegmentator segmentator;
    for (const Case& c : cases) {
        cv::Mat_<uchar> work = img.clone();
        segmentator.DeleteSmallStructures<uchar>(work, 255, c.connectivity, c.min_size);
        EXPECT_EQ(cv::countNonZero(work), c.remaining) << c.min_size << " " << c.connectivity;
    }
    // Holes: value 0 sets smaller than the size become 255.
    cv::Mat_<uchar> holes(5, 5, uchar(255));
    holes(2, 2) = 0;
    holes(0, 4) = 0;
    holes(1, 4) = 0;
    segmentator.DeleteSmallStructures<uchar>(holes, 0, segmentator::ConnectedComponentsSegmentator::kFour, 2);
    EXPECT_EQ(holes(2, 2), 255);
    EXPECT_EQ(holes(0, 4), 0);
}

TEST(ProcessWithMorphologyTest, KeepsHeightsOfTheCleanedMaskShiftedByOne)
{
    stereo::SceneParams scene;
    scene.obj_h_min = 150;
    scene.obj_h_max = 200;
    EXPECT_EQ(stereo::MorphologyHeightThreshold(scene), 128);  // 127.5 rounds up

    stereo::MorphologyParams p;
    p.segm_threshold = 20;
    p.hole_threshold = 10;
    p.close_rad = 1;
    p.open_rad = 1;
    p.median_fill_rad = p.double_median_rad = p.med_rad = 1;
    cv::Mat_<uchar> heights(30, 40, uchar(0));
    heights(cv::Rect(5, 5, 12, 12)).setTo(255);    // a head, saturated
    heights(cv::Rect(8, 8, 2, 2)).setTo(0);        // a small hole in it
    heights(cv::Rect(35, 26, 2, 2)).setTo(200);    // a small blob
    heights(cv::Rect(22, 5, 10, 10)).setTo(128);   // a head exactly at the threshold
    heights(cv::Rect(22, 15, 10, 10)).setTo(127);  // below it
    segmentator::ConnectedComponentsSegmentator segmentator;
    stereo::DepthMapInterpolator interpolator;
    interpolator.Init(heights.size());
    cv::Mat_<uchar> bin, tmp, out;
    stereo::ProcessWithMorphology(heights, p, scene, segmentator, interpolator, bin, tmp, out);

    EXPECT_EQ(out(10, 10), 255);  // saturated, not wrapped to 0
    EXPECT_EQ(out(8, 8), 0);      // the filled hole differs from the raw mask
    EXPECT_EQ(out(26, 35), 0);    // the small blob is removed
    EXPECT_EQ(out(9, 26), 129);   // unchanged pixels keep height + 1, those below the threshold too
    EXPECT_EQ(out(20, 26), 128);
    EXPECT_EQ(out(0, 0), 1);
    EXPECT_EQ(tmp(10, 10), 0);  // tmp ends as the complement of the cleaned mask
    EXPECT_EQ(tmp(0, 0), 255);
}

}  // namespace
