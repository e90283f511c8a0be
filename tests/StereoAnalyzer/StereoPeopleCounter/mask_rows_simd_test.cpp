#include "StereoAnalyzer/StereoPeopleCounter/mask_rows_simd.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <utility>
#include <vector>

#include "CommonUtilities/algorithm_support/kernel_path.h"
#include "StereoAnalyzer/StereoPeopleCounter/binarize.h"
#include "StereoAnalyzer/StereoPeopleCounter/left_right_check.h"

namespace {

// Row lengths around the vector widths, so that every kernel also leaves a scalar tail.
const int kLengths[] = {1, 7, 15, 16, 17, 31, 32, 33, 64, 100, 257};

template <typename T>
std::vector<T> RandomRow(int n, int lo, int hi, int seed)
{
    cv::RNG rng(seed);
    std::vector<T> row(static_cast<std::size_t>(n));
    for (T& v : row) v = static_cast<T>(rng.uniform(lo, hi));
    return row;
}

TEST(MaskRowsSimdTest, BinarisationsEqualTheScalarPredicates)
{
    for (const int n : kLengths) {
        const std::vector<uchar> bytes = RandomRow<uchar>(n, 0, 256, n);
        const std::vector<short> shorts = RandomRow<short>(n, -40, 40, n + 1);
        for (const int t : {0, 1, 128, 254, 255}) {
            std::vector<uchar> ge(bytes.size()), le(bytes.size());
            int x = mask_rows_simd::BinarizeGreaterOrEqualRow(bytes.data(), static_cast<uchar>(t), ge.data(), n);
            EXPECT_EQ(x % 16, 0);
            for (; x < n; ++x) ge[x] = bytes[x] >= t ? 255 : 0;
            x = mask_rows_simd::BinarizeLessOrEqualRow(bytes.data(), static_cast<uchar>(t), le.data(), n);
            for (; x < n; ++x) le[x] = bytes[x] <= t ? 255 : 0;
            for (int i = 0; i < n; ++i) {
                ASSERT_EQ(ge[i], bytes[i] >= t ? 255 : 0) << n << " " << t << " at " << i;
                ASSERT_EQ(le[i], bytes[i] <= t ? 255 : 0) << n << " " << t << " at " << i;
            }
        }
        for (const short t : {static_cast<short>(-32768), static_cast<short>(-1), static_cast<short>(0),
                              static_cast<short>(7), static_cast<short>(32767)}) {
            std::vector<uchar> le(shorts.size());
            int x = mask_rows_simd::BinarizeLessOrEqualRow(shorts.data(), t, le.data(), n);
            for (; x < n; ++x) le[x] = shorts[x] <= t ? 255 : 0;
            for (int i = 0; i < n; ++i) ASSERT_EQ(le[i], shorts[i] <= t ? 255 : 0) << n << " " << t << " at " << i;
        }
    }
}

TEST(MaskRowsSimdTest, MaskedFillAndSumEqualTheScalarLoop)
{
    for (const int n : kLengths) {
        const std::vector<uchar> image = RandomRow<uchar>(n, 0, 256, 3 * n);
        std::vector<uchar> mask = RandomRow<uchar>(n, 0, 3, 5 * n);
        for (uchar& m : mask) m = m == 0 ? 0 : (m == 1 ? 1 : 255);
        std::vector<uchar> vectorised = image;
        uint64_t sum = 0, count = 0;
        int x = mask_rows_simd::SetMaskedRow(mask.data(), 9, vectorised.data(), n, sum, count);
        for (; x < n; ++x) {
            if (mask[x]) {
                vectorised[x] = 9;
            } else {
                sum += vectorised[x];
                ++count;
            }
        }
        uint64_t expected_sum = 0, expected_count = 0;
        for (int i = 0; i < n; ++i) {
            ASSERT_EQ(vectorised[i], mask[i] ? 9 : image[i]) << n << " at " << i;
            if (!mask[i]) {
                expected_sum += image[i];
                ++expected_count;
            }
        }
        EXPECT_EQ(sum, expected_sum) << n;
        EXPECT_EQ(count, expected_count) << n;
    }
}

TEST(MaskRowsSimdTest, AgreeingHeightsEqualTheScalarRule)
{
    for (const int n : kLengths) {
        std::vector<uchar> heights = RandomRow<uchar>(n, 0, 256, 7 * n);
        heights[0] = 255;
        std::vector<uchar> cleaned_mask = RandomRow<uchar>(n, 0, 2, 11 * n);
        std::vector<uchar> raw = RandomRow<uchar>(n, 0, 2, 13 * n);
        for (uchar& m : raw) m = m ? 255 : 0;
        for (uchar& m : cleaned_mask) m = m ? 255 : 0;
        std::vector<uchar> out = raw;
        int x = mask_rows_simd::KeepAgreeingHeightsRow(heights.data(), cleaned_mask.data(), out.data(), n);
        for (; x < n; ++x) out[x] = cleaned_mask[x] == out[x] ? static_cast<uchar>(std::min(255, heights[x] + 1)) : 0;
        for (int i = 0; i < n; ++i)
            ASSERT_EQ(out[i], cleaned_mask[i] == raw[i] ? std::min(255, heights[i] + 1) : 0) << n << " at " << i;
    }
}

// The routines built on the kernels give OpenCV's values on both kernel paths, also where a row's
// length leaves a scalar tail.
TEST(MaskRowsSimdTest, RoutinesGiveOpenCVsValuesOnBothKernelPaths)
{
    for (const cv::Size size : {cv::Size(37, 5), cv::Size(257, 1)}) {
        cv::Mat bytes(size, CV_8UC1), shorts(size, CV_16SC1), mask(size, CV_8UC1);
        cv::RNG rng(size.width);
        rng.fill(bytes, cv::RNG::UNIFORM, 0, 256);
        rng.fill(shorts, cv::RNG::UNIFORM, -40, 40);
        rng.fill(mask, cv::RNG::UNIFORM, 0, 3);
        mask.setTo(255, mask == 2);
        cv::Mat masked = bytes.clone();
        masked.setTo(9, mask);
        for (const AlgoLibrary::KernelPath path :
             {AlgoLibrary::KernelPath::kVector, AlgoLibrary::KernelPath::kScalar}) {
            const AlgoLibrary::ScopedKernelPath scoped(path);
            cv::Mat ge, le, le_short;
            stereo::BinarizeGeneral<uchar>(bytes, stereo::GreaterOrEqualTo<uchar>{128}, ge);
            stereo::BinarizeGeneral<uchar>(bytes, stereo::LessOrEqualTo<uchar>{128}, le);
            stereo::BinarizeGeneral<short>(shorts, stereo::LessOrEqualTo<short>{7}, le_short);
            cv::Mat_<uchar> image = bytes.clone();
            const double mean = stereo::SetToMaskedWithFindUnmaskedMean(mask, 9, image);
            const std::pair<cv::Mat, cv::Mat> results[] = {
                {ge, bytes >= 128}, {le, bytes <= 128}, {le_short, shorts <= 7}, {image, masked}};
            for (const auto& [ours, theirs] : results)
                EXPECT_EQ(cv::countNonZero(ours != theirs), 0) << size << " " << AlgoLibrary::KernelPathName(path);
            EXPECT_NEAR(mean, cv::mean(bytes, mask == 0)[0], 1e-9) << size << " " << AlgoLibrary::KernelPathName(path);
        }
    }
}

}  // namespace
