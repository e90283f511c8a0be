// From disparities to head candidates: heights from the scene reconstructor, the double median of
// both views, the final median and the maxima, as the analyser chains them for one frame.
#include <gtest/gtest.h>

#include <cmath>
#include <deque>
#include <opencv2/imgproc.hpp>
#include <vector>

#include "CommonUtilities/algorithm_support/cimage_cvmat.h"
#include "StereoAnalyzer/StereoPeopleCounter/head_candidates.h"
#include "StereoAnalyzer/StereoPeopleCounter/maximums_finder.h"
#include "StereoAnalyzer/StereoPeopleCounter/median_filters_collection.h"
#include "StereoAnalyzer/StereoPeopleCounter/median_filters_opencv.h"
#include "StereoAnalyzer/StereoPeopleCounter/stereo_test_scene.h"

namespace {

constexpr int kWidth = 144;
constexpr int kHeight = 108;
constexpr double kFocalTimesBaseline = 1520.0;  // TestCalibration at 144x108
constexpr short kFloorDisparity = 6;            // the floor 253 cm from the camera
constexpr short kRightInvalid = 48;             // the right view's invalid marker, negated

// 8-bit height levels: 255 is the largest object (200 cm).
cv::Mat_<uchar> ToLevels(const cv::Mat& heights_cm, double obj_h_max)
{
    cv::Mat_<uchar> levels(heights_cm.size());
    for (int y = 0; y < heights_cm.rows; ++y)
        for (int x = 0; x < heights_cm.cols; ++x) {
            const double v = heights_cm.at<short>(y, x) * (255.0 / obj_h_max);
            levels(y, x) = cv::saturate_cast<uchar>(v > 0 ? std::floor(v + 0.5) : 0.0);
        }
    return levels;
}

struct Disc {
    cv::Point centre;
    int radius;
    int height_cm;
};

// The disparities of a floor and a disc: the left camera matched both, the right one only the disc (its
// floor carries the invalid marker, as the analyser hands it over after negating the map). The right
// map holds the disc shifted by its disparity.
void SyntheticDisparities(const Disc& disc, cv::Mat& left, cv::Mat& right)
{
    const double depth = 260.0 - disc.height_cm;
    const short d = static_cast<short>(std::lround(kFocalTimesBaseline / depth));
    left.create(kHeight, kWidth, CV_16SC1);
    right.create(kHeight, kWidth, CV_16SC1);
    left.setTo(kFloorDisparity);
    right.setTo(kRightInvalid);
    cv::circle(left, disc.centre, disc.radius, cv::Scalar(d), cv::FILLED);
    cv::circle(right, disc.centre - cv::Point(d, 0), disc.radius, cv::Scalar(d), cv::FILLED);
}

TEST(HeightChainTest, ADiscOverTheFloorGivesOneHeadAtItsCentreAndHeight)
{
    TestCalibration calibration;
    LoadedReconstructor loaded(calibration.Ini());
    stereo::Scene3DReconstructor& reconstructor = *loaded.reconstructor;
    reconstructor.Init(kWidth, kHeight);
    stereo::SceneParams scene;
    reconstructor.GetSceneParams(scene);

    // At the processing size the head is found within a pixel. Filtered at the smaller heights size,
    // the integer centroid and the conversion back both truncate: up to one more pixel.
    struct Case {
        Disc disc;
        bool use_scale;
        int tolerance;
    };
    const Case cases[] = {
        {{{72, 54}, 20, 180}, false, 1}, {{{84, 60}, 22, 190}, false, 1}, {{{60, 47}, 18, 175}, false, 1},
        {{{66, 58}, 16, 165}, false, 1}, {{{72, 54}, 20, 180}, true, 2},  {{{60, 47}, 18, 175}, true, 2},
    };
    for (const Case& c : cases) {
        cv::Mat disparity[2];
        SyntheticDisparities(c.disc, disparity[0], disparity[1]);
        cv::Mat heights_cm[2];
        for (const stereo::eLeftOrRightView view : {stereo::kLeftView, stereo::kRightView})
            reconstructor.CalculateHeightFromDisparity(disparity[view], view, heights_cm[view]);

        // The heights resolution: the processing area times 0.77 squared.
        cv::Size heights_size(kWidth, kHeight);
        if (c.use_scale) {
            const int area = static_cast<int>(std::lround(kWidth * kHeight * 0.77 * 0.77));
            heights_size = cimage_cvmat::FindReduceResolution(cv::Size(kWidth, kHeight), area,
                                                              static_cast<int>(std::lround(area * 1.37)), nullptr);
        }
        cv::Mat_<uchar> levels[2];
        for (const stereo::eLeftOrRightView view : {stereo::kLeftView, stereo::kRightView}) {
            cv::Mat resized = heights_cm[view];
            if (c.use_scale)
                cv::resize(heights_cm[view], resized, heights_size, 0, 0, cv::INTER_AREA);
            levels[view] = ToLevels(resized, scene.obj_h_max);
        }

        // Radii well inside a head: the defaults are sized for whole bodies, whose shoulders carry the
        // median.
        const int double_median_rad = c.use_scale ? 5 : 6;
        const int med_rad = c.use_scale ? 3 : 4;
        cv::Mat_<uchar> both(heights_size);
        stereo::DoubleMedianFilter(levels[1], levels[0], double_median_rad, both);
        cv::Mat bordered, blurred;
        stereo::MedianFilterOpenCV(both, med_rad, true, bordered, blurred);

        maximums_finder::MaximumsFinder finder;
        finder.Init(heights_size, static_cast<int>((scene.obj_h_min - 20.0) / scene.obj_h_max * 255.0));
        stereo::HeadCandidateSettings settings;
        settings.use_height_map_processing_scale = c.use_scale;
        settings.circle_around_head_rad = static_cast<int>(std::lround(21 * 0.968)) + 2;
        settings.obj_h_max = scene.obj_h_max;
        settings.processing_size = cv::Size(kWidth, kHeight);
        std::vector<uchar> samples;
        std::deque<cv::Point> points;
        std::deque<int> heights;
        stereo::FindObjectsCoords(finder, blurred, both, levels[0], settings, samples, points, heights);

        ASSERT_EQ(points.size(), 1u) << c.disc.centre << " scale " << c.use_scale;
        EXPECT_LE(std::abs(points[0].x - c.disc.centre.x), c.tolerance) << points[0] << " for " << c.disc.centre;
        EXPECT_LE(std::abs(points[0].y - c.disc.centre.y), c.tolerance) << points[0] << " for " << c.disc.centre;
        EXPECT_NEAR(heights[0], c.disc.height_cm, 5) << c.disc.centre;
    }
}

}  // namespace
