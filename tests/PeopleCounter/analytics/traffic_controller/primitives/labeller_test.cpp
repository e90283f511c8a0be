#include "PeopleCounter/analytics/traffic_controller/src/primitives/labeller.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#include <string>
#include <tuple>
#include <vector>

namespace {

constexpr int kSeed = 0x100011;

// An image from rows of text: '#' is the seed value, anything else 0.
LabelImageAndRegions FromText(const std::vector<std::string>& rows)
{
    LabelImageAndRegions result;
    result.image.Resize(static_cast<int>(rows[0].size()), static_cast<int>(rows.size()), 0);
    for (int y = 0; y < result.image.height; ++y)
        for (int x = 0; x < result.image.width; ++x) result.image.At(x, y) = rows[y][x] == '#' ? kSeed : 0;
    return result;
}

using Box = std::tuple<int, int, int, int, int>;  // left, top, right, bottom, area

TEST(CLabellerTest, RegionsEqualOpenCvFourConnectedComponents)
{
    cv::RNG rng(73);
    for (const double density : {0.3, 0.5, 0.7}) {
        cv::Mat binary(90, 130, CV_8UC1);
        rng.fill(binary, cv::RNG::UNIFORM, 0, 1000);
        binary = binary < density * 1000;
        LabelImageAndRegions result;
        result.image.Resize(binary.cols, binary.rows, 0);
        for (int i = 0; i < binary.cols * binary.rows; ++i) result.image.pixels[i] = binary.data[i] ? kSeed : 0;
        const kiv::SRECT whole{0, 0, binary.cols - 1, binary.rows - 1};
        CLabeller(kSeed, whole, whole, 0).CreateRegions(result);

        cv::Mat labels, stats, centroids;
        const int count = cv::connectedComponentsWithStats(binary, labels, stats, centroids, 4) - 1;
        ASSERT_EQ(static_cast<int>(result.regions.size()), count) << "density " << density;
        std::vector<Box> ours, theirs;
        for (const CRegion& r : result.regions) {
            ours.emplace_back(r.left, r.top, r.right, r.bottom, r.area);
            EXPECT_EQ(r.cx, static_cast<int>(r.sum_x / r.area));
        }
        for (int i = 1; i <= count; ++i) {
            const int* s = stats.ptr<int>(i);
            theirs.emplace_back(s[cv::CC_STAT_LEFT], s[cv::CC_STAT_TOP], s[cv::CC_STAT_LEFT] + s[cv::CC_STAT_WIDTH] - 1,
                                s[cv::CC_STAT_TOP] + s[cv::CC_STAT_HEIGHT] - 1, s[cv::CC_STAT_AREA]);
        }
        std::sort(ours.begin(), ours.end());
        std::sort(theirs.begin(), theirs.end());
        EXPECT_EQ(ours, theirs) << "density " << density;
        for (int i = 0; i < binary.cols * binary.rows; ++i) ASSERT_EQ(result.image.pixels[i] != 0, binary.data[i] != 0);
    }
}

TEST(CLabellerTest, CornersSmallRegionsAndTheFillRectangle)
{
    LabelImageAndRegions image = FromText({
        "##....",  //
        "##....",  //
        "..#...",  // touches the first only at a corner
        "....##",  //
        "....##",  //
    });
    const kiv::SRECT whole{0, 0, 5, 4};
    CLabeller(kSeed, whole, whole, 2).CreateRegions(image);
    ASSERT_EQ(image.regions.size(), 2u);
    EXPECT_EQ(image.regions.front().label, 1);
    EXPECT_EQ(image.regions.front().area, 4);
    EXPECT_EQ(image.regions.back().label, 3);  // label 2 went to the single pixel, below the minimum
    EXPECT_EQ(image.image.At(2, 2), 2);
    EXPECT_EQ(image.regions.back().cx, 4);  // (4 + 5 + 4 + 5) / 4, truncated
    EXPECT_EQ(image.regions.back().cy, 3);

    // A fill rectangle cuts a region; seeds outside it stay.
    LabelImageAndRegions bar = FromText({"######"});
    const kiv::SRECT fill{1, 0, 3, 0};
    const kiv::SRECT search{2, 0, 2, 0};
    CLabeller(kSeed, search, fill, 0).CreateRegions(bar);
    ASSERT_EQ(bar.regions.size(), 1u);
    EXPECT_EQ(bar.regions.front().area, 3);
    EXPECT_EQ(bar.image.At(0, 0), kSeed);
    EXPECT_EQ(bar.image.At(4, 0), kSeed);

    // Without seeds the list is empty; rectangles beyond the image are cut to it.
    LabelImageAndRegions empty = FromText({"....", "...."});
    const kiv::SRECT beyond{-5, -5, 50, 50};
    CLabeller(kSeed, beyond, beyond, 0).CreateRegions(empty);
    EXPECT_TRUE(empty.regions.empty());
}

TEST(CLabellerTest, ALabelEqualToTheSeedIsSkipped)
{
    LabelImageAndRegions image = FromText({"#.#.#"});
    for (int& pixel : image.image.pixels) pixel = pixel ? 2 : 0;  // seed value 2: the second region would get label 2
    const kiv::SRECT whole{0, 0, 4, 0};
    CLabeller labeller(2, whole, whole, 0);
    labeller.CreateRegions(image);
    ASSERT_EQ(image.regions.size(), 3u);
    EXPECT_EQ(image.image.At(0, 0), 1);
    EXPECT_EQ(image.image.At(2, 0), 3);
    EXPECT_EQ(image.image.At(4, 0), 4);
}

}  // namespace
