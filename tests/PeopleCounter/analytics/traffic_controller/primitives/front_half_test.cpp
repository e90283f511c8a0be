// The image primitives chained as the single-camera analyser runs them before point tracking:
// background subtraction, blur, extremum marking and region labelling.

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <memory>
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#include <string>

#include "PeopleCounter/analytics/traffic_controller/src/primitives/background_subtractor.h"
#include "PeopleCounter/analytics/traffic_controller/src/primitives/gaussian_blur_fixed.h"
#include "PeopleCounter/analytics/traffic_controller/src/primitives/labeller.h"
#include "PeopleCounter/analytics/traffic_controller/src/primitives/mark_extremums.h"
#include "tests/PeopleCounter/analytics/traffic_controller/primitives/test_images.h"

namespace {

constexpr int kWidth = 160;
constexpr int kHeight = 120;
constexpr int kTargetRadius = 24;    // the default target circle at 160 x 120
constexpr int kKeypointRadius = 16;  // two thirds of it

struct FrontHalfCase {
    const char* name;
    std::function<std::unique_ptr<events_detector_utils::IGaussianBlur>()> make_blur;
    bool running_marks;
};

TEST(FrontHalfTest, DarkTexturedDiscOnStaticFloorGivesOneRegionAtItsCentre)
{
    // A textured floor in mid grey and a darker textured disc of the target's size on it.
    cv::Mat floor = RandomImage(kWidth, kHeight, 79, 1.0);
    floor.convertTo(floor, CV_8UC1, 0.35, 100);
    const cv::Point centre(97, 53);
    cv::Mat frame = floor.clone();
    cv::Mat disc_texture = RandomImage(kWidth, kHeight, 83, 1.0);
    disc_texture.convertTo(disc_texture, CV_8UC1, 0.15, 20);
    cv::Mat disc(kHeight, kWidth, CV_8UC1, cv::Scalar(0));
    cv::circle(disc, centre, 20, cv::Scalar(255), cv::FILLED);
    disc_texture.copyTo(frame, disc);

    const FrontHalfCase cases[] = {
        {"triangle, running marks",
         [] { return std::make_unique<GaussianFixed::GaussianBlurWith1DProcessor<GaussianFixed::LinearApprox1D>>(); },
         true},
        {"triangle, suppressing scan",
         [] { return std::make_unique<GaussianFixed::GaussianBlurWith1DProcessor<GaussianFixed::LinearApprox1D>>(); },
         false},
        {"three window means", [] { return std::make_unique<GaussianFixed::GaussianBlurWith2DWindowMeans>(3); }, true},
        {"exponential",
         [] { return std::make_unique<GaussianFixed::GaussianBlurWith1DProcessor<GaussianFixed::ExpApprox1D>>(); },
         true},
    };
    for (const FrontHalfCase& c : cases) {
        CSimpleBackgroundSubtractor background;
        ASSERT_TRUE(background.Init(floor.data, 0.005, kWidth, kHeight, 1, kWidth, true, 2));
        for (int i = 0; i < 3; ++i) background.Update(floor.data);
        background.Update(frame.data);

        avector<unsigned char> difference(kWidth * kHeight);
        for (int y = 0; y < kHeight; ++y)
            for (int x = 0; x < kWidth; ++x)
                difference[y * kWidth + x] =
                    static_cast<unsigned char>(std::abs(frame.at<uchar>(y, x) - background.Level(x, y)));

        auto blur = c.make_blur();
        ASSERT_TRUE(blur->InitProc(kTargetRadius, kTargetRadius));
        blur->ProcessGray(difference.data(), kWidth, kHeight);

        AlgoLibrary::MemManager::MemoryManager manager;
        LabelImageAndRegions labels(manager);
        labels.image.Resize(kWidth, kHeight, 0);
        if (c.running_marks) {
            CMarkExtremums marker(manager);
            marker.MarkExtremumsRunningWindowEntireImage(difference, kWidth, kHeight, labels.image, kKeypointRadius,
                                                         kKeypointRadius / 2);
        } else {
            const AlgoLibrary::RectangularFilterRegion<kiv::SRECT> whole{{0, 0, kWidth, kHeight}, kWidth, kHeight};
            MarkExtremumsEx<false, true>(difference, labels.image, whole, kKeypointRadius,
                                         std::max(kKeypointRadius, 10));
        }
        const kiv::SRECT rect{0, 0, kWidth - 1, kHeight - 1};
        CLabeller(kMarkLocalMaximum, rect, rect, 0).CreateRegions(labels);

        ASSERT_EQ(labels.regions.size(), 1u) << c.name;
        EXPECT_LE(std::abs(labels.regions.front().cx - centre.x), 2) << c.name;
        EXPECT_LE(std::abs(labels.regions.front().cy - centre.y), 2) << c.name;
    }
}

}  // namespace
