#include "PeopleCounter/analytics/traffic_controller/src/primitives/mark_extremums.h"

#include <gtest/gtest.h>

#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#include <vector>

#include "CommonUtilities/algorithm_support/kernel_path.h"
#include "PeopleCounter/analytics/traffic_controller/src/primitives/perspective_filter.h"
#include "tests/PeopleCounter/analytics/traffic_controller/primitives/test_images.h"

namespace {

using Region = AlgoLibrary::RectangularFilterRegion<kiv::SRECT>;

std::vector<int> RunningMax(const std::vector<unsigned char>& line, int s)
{
    avector<int> queue;
    std::vector<unsigned char> out(line.size() + s - 1, 0);
    AlgoLibrary::RunningMaximum(line.data(), out.data(), static_cast<int>(line.size()), s, queue, 1, 1);
    return std::vector<int>(out.begin(), out.end());
}

TEST(CMarkExtremumsTest, RunningMaximumCoversEveryWindowPosition)
{
    EXPECT_EQ(RunningMax({3, 1, 2}, 2), (std::vector<int>{3, 3, 2, 2}));
    EXPECT_EQ(RunningMax({3, 1, 2}, 1), (std::vector<int>{3, 1, 2}));
    EXPECT_EQ(RunningMax({1, 5, 5, 2, 0}, 3), (std::vector<int>{1, 5, 5, 5, 5, 2, 0}));
    cv::RNG rng(61);
    for (int trial = 0; trial < 50; ++trial) {
        const int n = rng.uniform(1, 40);
        const int s = rng.uniform(1, 12);
        std::vector<unsigned char> line(n);
        for (auto& v : line) v = static_cast<unsigned char>(rng.uniform(0, 6));
        const std::vector<int> out = RunningMax(line, s);
        for (int j = 0; j < n + s - 1; ++j) {
            int expected = 0;
            for (int i = std::max(0, j - s + 1); i <= std::min(j, n - 1); ++i)
                expected = std::max<int>(expected, line[i]);
            ASSERT_EQ(out[j], expected) << "n " << n << " s " << s << " j " << j;
        }
    }
}

// Marks where OpenCV's dilation (windows clipped at the edges) equals a non-zero image, in
// rows and columns border .. size - border - 1.
cv::Mat DilationMaxima(const cv::Mat& image, int radius, int border)
{
    cv::Mat dilated;
    cv::dilate(image, dilated, cv::getStructuringElement(cv::MORPH_RECT, cv::Size(2 * radius + 1, 2 * radius + 1)));
    cv::Mat expected = (image == dilated) & (image != 0);
    cv::Mat inside(image.size(), CV_8UC1, cv::Scalar(0));
    if (image.cols > 2 * border && image.rows > 2 * border)
        inside(cv::Rect(border, border, image.cols - 2 * border, image.rows - 2 * border)).setTo(255);
    return expected & inside;
}

cv::Mat Maxima(const CGrayImage<int>& marks)
{
    cv::Mat out(marks.height, marks.width, CV_8UC1);
    for (int i = 0; i < marks.width * marks.height; ++i) out.data[i] = marks.pixels[i] == kMarkLocalMaximum ? 255 : 0;
    return out;
}

TEST(CMarkExtremumsTest, RunningWindowMarksWhereDilationEqualsTheImage)
{
    AlgoLibrary::MemManager::MemoryManager manager;
    CMarkExtremums marker(manager);
    const struct {
        int width, height, radius, border;
        double sigma;
    } cases[] = {{160, 120, 16, 8, 4.0}, {160, 120, 3, 3, 1.5}, {77, 51, 5, 0, 2.0},
                 {40, 30, 0, 0, 0.0},    {33, 20, 9, 12, 3.0},  {40, 30, 30, 2, 3.0}};
    for (const auto& c : cases)
        for (const AlgoLibrary::KernelPath path :
             {AlgoLibrary::KernelPath::kVector, AlgoLibrary::KernelPath::kScalar}) {
            const AlgoLibrary::ScopedKernelPath scoped(path);
            cv::Mat image = RandomImage(c.width, c.height, 67, c.sigma);
            image.setTo(0, image < 40);  // zero areas, whose plateaus must not be marked
            const auto pixels = ToVector<avector<unsigned char>>(image);
            CGrayImage<int> marks;
            marks.Resize(c.width, c.height, 0);
            marker.MarkExtremumsRunningWindowEntireImage(pixels, c.width, c.height, marks, c.radius, c.border);
            EXPECT_EQ(cv::countNonZero(Maxima(marks) != DilationMaxima(image, c.radius, c.border)), 0)
                << c.width << "x" << c.height << " r " << c.radius << " " << AlgoLibrary::KernelPathName(path);
            marks.Fill(0);
            marker.MarkExtremumsRunningWindow(pixels, c.width, c.height, marks, c.radius);
            EXPECT_EQ(cv::countNonZero(Maxima(marks) != DilationMaxima(image, c.radius, c.radius)), 0)
                << c.width << "x" << c.height << " r " << c.radius << " " << AlgoLibrary::KernelPathName(path);
        }
}

TEST(CMarkExtremumsTest, SuppressingScanMarksWhereDilationEqualsTheImage)
{
    for (const int radius : {1, 4, 10}) {
        cv::Mat image = RandomImage(90, 70, 71, 2.5);
        image.setTo(0, image < 50);
        const auto pixels = ToVector<avector<unsigned char>>(image);
        CGrayImage<int> marks;
        marks.Resize(90, 70, 0);
        const int border = std::max(radius, 10);
        const Region whole{{0, 0, 90, 70}, 90, 70};
        EXPECT_TRUE((MarkExtremumsEx<false, true>(pixels, marks, whole, radius, border)));
        EXPECT_EQ(cv::countNonZero(Maxima(marks) != DilationMaxima(image, radius, border)), 0) << "r " << radius;
    }
}

TEST(CMarkExtremumsTest, BlackImagesHaveNoMaximaAndOneBrightPixelHasOne)
{
    AlgoLibrary::MemManager::MemoryManager manager;
    CMarkExtremums marker(manager);
    for (const bool bright : {false, true}) {
        cv::Mat image(30, 40, CV_8UC1, cv::Scalar(0));
        if (bright)
            image.at<uchar>(12, 17) = 90;
        const auto pixels = ToVector<avector<unsigned char>>(image);
        for (int family = 0; family < 3; ++family) {
            CGrayImage<int> marks;
            marks.Resize(40, 30, 0);
            if (family == 0)
                marker.MarkExtremumsRunningWindowEntireImage(pixels, 40, 30, marks, 4, 2);
            else if (family == 1)
                marker.MarkExtremumsRunningWindow(pixels, 40, 30, marks, 4);
            else
                MarkExtremumsEx<false, true>(pixels, marks, Region{{0, 0, 40, 30}, 40, 30}, 4, 10);
            EXPECT_EQ(cv::countNonZero(Maxima(marks)), bright ? 1 : 0) << "family " << family;
            EXPECT_EQ(marks.At(17, 12), bright ? kMarkLocalMaximum : 0) << "family " << family;
        }
    }
}

TEST(CMarkExtremumsTest, SuppressingScanFlagsNeighboursAndKeepsProtectedMarks)
{
    // A rising run 3, 5, 7 and a protected pixel beside the peak.
    const std::vector<unsigned char> values = {0, 0, 0, 0, 0, 0,  //
                                               0, 3, 5, 7, 0, 0,  //
                                               0, 0, 0, 0, 1, 0,  //
                                               0, 0, 0, 0, 0, 0};
    const avector<unsigned char> image(values.begin(), values.end());
    CGrayImage<int> marks;
    marks.Resize(6, 4, 0);
    marks.At(4, 2) = 0x2;
    const Region whole{{0, 0, 6, 4}, 6, 4};
    MarkExtremumsEx<false, true>(image, marks, whole, 1, 1);
    EXPECT_EQ(marks.At(1, 1), kMarkSuppressed);                   // found 5 larger, then suppressed by it
    EXPECT_EQ(marks.At(2, 1), kMarkHasLarger | kMarkSuppressed);  // flagged by 3, suppressed by 7
    EXPECT_EQ(marks.At(3, 1), kMarkLocalMaximum);
    EXPECT_EQ(marks.At(4, 2), 0x2);  // protected: neither suppressed by 7 nor marked itself

    // Of a plateau away from anything larger, both pixels become maxima; radius -1 marks any
    // non-zero pixel.
    const std::vector<unsigned char> plateau = {0, 0, 0, 0, 0, 0, 5, 5, 0, 0, 0, 0, 0, 0, 0};
    CGrayImage<int> plateau_marks;
    plateau_marks.Resize(5, 3, 0);
    MarkExtremumsEx<false, true>(avector<unsigned char>(plateau.begin(), plateau.end()), plateau_marks,
                                 Region{{0, 0, 5, 3}, 5, 3}, 1, 1);
    EXPECT_EQ(plateau_marks.At(1, 1), kMarkLocalMaximum);
    EXPECT_EQ(plateau_marks.At(2, 1), kMarkLocalMaximum);
    // A border below the radius is raised to it: the window never leaves the image.
    plateau_marks.Fill(0);
    MarkExtremumsEx<false, true>(avector<unsigned char>(plateau.begin(), plateau.end()), plateau_marks,
                                 Region{{0, 0, 5, 3}, 5, 3}, 2, 0);
    EXPECT_EQ(cv::countNonZero(Maxima(plateau_marks)), 0);
}

TEST(CMarkExtremumsTest, SuppressingScanVisitsOnlyThePerspectiveRegion)
{
    cv::Mat image(40, 40, CV_8UC1, cv::Scalar(0));
    image.at<uchar>(15, 15) = 200;  // inside the region
    image.at<uchar>(30, 30) = 200;  // outside it
    AlgoLibrary::PerspectiveRegion region(AlgoLibrary::MemManager::MemoryManager{});
    region.set_resolution(40, 40);
    for (int y = 5; y < 25; ++y)
        for (int x = 5; x < 25; ++x) region.add(x, y);
    CGrayImage<int> marks;
    marks.Resize(40, 40, 0);
    MarkExtremumsEx<false, true>(ToVector<avector<unsigned char>>(image), marks, region, 2, 2);
    EXPECT_EQ(marks.At(15, 15), kMarkLocalMaximum);
    EXPECT_EQ(marks.At(30, 30), 0);
    EXPECT_EQ(cv::countNonZero(Maxima(marks)), 1);
}

}  // namespace
