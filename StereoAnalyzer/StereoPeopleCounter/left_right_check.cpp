#include "StereoAnalyzer/StereoPeopleCounter/left_right_check.h"

#include <cstdint>
#include <cstdlib>

#include "CommonUtilities/algorithm_support/kiv_exception.h"
#include "StereoAnalyzer/StereoPeopleCounter/mask_rows_simd.h"

namespace stereo {

namespace {

uchar CheckOne(short d1, const short* second_row, int x, int width, int thresh, short invalid, bool use_invalid)
{
    if (use_invalid && d1 == invalid)
        return 255;
    const int j = x - d1;
    if (j < 0 || j >= width)
        return 255;
    const short d2 = second_row[j];
    if (use_invalid && d2 == invalid)
        return 255;
    const int k = j - d2;
    if (k < 0 || k >= width)
        return 255;
    return std::abs(k - x) <= thresh ? 0 : 255;
}

// One row through matrix iterators, for maps that are not continuous.
void LeftRightCheckForRow(const cv::Mat& first, const cv::Mat& second, int y, int thresh, short invalid,
                          bool use_invalid, cv::Mat& mask)
{
    const int width = first.cols;
    cv::MatConstIterator_<short> in = first.begin<short>() + static_cast<ptrdiff_t>(y) * width;
    cv::MatIterator_<uchar> out = mask.begin<uchar>() + static_cast<ptrdiff_t>(y) * width;
    const short* second_row = second.ptr<short>(y);
    for (int x = 0; x < width; ++x, ++in, ++out)
        *out = CheckOne(*in, second_row, x, width, thresh, invalid, use_invalid);
}

void LeftRightCheckImpl(const cv::Mat& first, const cv::Mat& second, int thresh, short invalid, bool use_invalid,
                        cv::Mat& mask)
{
    KIV_CHECK(first.size() == second.size(), "LeftRightCheckSize_140312_120001");
    KIV_CHECK(first.type() == CV_16SC1, "LeftRightCheckFirstType_140312_120002") << first.type();
    KIV_CHECK(second.type() == CV_16SC1, "LeftRightCheckSecondType_140312_120003") << second.type();
    KIV_CHECK(thresh >= 0, "LeftRightCheckThresh_140312_120004") << thresh;
    mask.create(first.size(), CV_8UC1);
    const int width = first.cols;
    if (first.isContinuous() && second.isContinuous() && mask.isContinuous()) {
        for (int y = 0; y < first.rows; ++y) {
            const short* in = first.ptr<short>(y);
            const short* second_row = second.ptr<short>(y);
            uchar* out = mask.ptr<uchar>(y);
            for (int x = 0; x < width; ++x)
                out[x] = CheckOne(in[x], second_row, x, width, thresh, invalid, use_invalid);
        }
        return;
    }
    for (int y = 0; y < first.rows; ++y) LeftRightCheckForRow(first, second, y, thresh, invalid, use_invalid, mask);
}

}  // namespace

void LeftRightCheck(const cv::Mat& first, const cv::Mat& second, int thresh, short invalid, cv::Mat& mask)
{
    LeftRightCheckImpl(first, second, thresh, invalid, true, mask);
}

void LeftRightCheck(const cv::Mat& first, const cv::Mat& second, int thresh, cv::Mat& mask)
{
    LeftRightCheckImpl(first, second, thresh, 0, false, mask);
}

double SetToMaskedWithFindUnmaskedMean(const cv::Mat_<uchar>& mask, uchar value, cv::Mat_<uchar>& image)
{
    KIV_CHECK(mask.size() == image.size(), "SetToMaskedMeanSize_140312_120005");
    uint64_t sum = 0;
    uint64_t count = 0;
    for (int y = 0; y < image.rows; ++y) {
        const uchar* m = mask[y];
        uchar* p = image[y];
        for (int x = mask_rows_simd::SetMaskedRow(m, value, p, image.cols, sum, count); x < image.cols; ++x) {
            if (m[x]) {
                p[x] = value;
            } else {
                sum += p[x];
                ++count;
            }
        }
    }
    return count ? static_cast<double>(sum) / static_cast<double>(count) : 0.0;
}

}  // namespace stereo
