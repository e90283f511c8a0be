#include "CommonUtilities/algorithm_support/cimage_cvmat.h"

#include <climits>
#include <cmath>
#include <cstdlib>
#include <string>
#include <utility>

#include <opencv2/imgproc.hpp>

#include "CommonUtilities/algorithm_support/kiv_exception.h"

namespace cimage_cvmat {

namespace {

constexpr const char* kUnsupported = " matrix type is not supported";

// Recreates dst with src's size and dst's own type unless it already fits.
void Refit(const cv::Mat& src, cv::Mat& dst)
{
    const bool fits = dst.dims <= 2 && dst.rows == src.rows && dst.cols == src.cols && dst.data;
    if (!fits)
        dst.create(src.rows, src.cols, dst.type());
}

constexpr int kPlainCopy = -1;

// The conversion code (or kPlainCopy) for each 8-bit layout of the matrix that decides the case.
struct Conversions {
    int grey;
    int bgr;
    int bgra;
};

// Refits dst, then copies src into it by the layout `case_type` of one of the two.
void Convert(const cv::Mat& src, cv::Mat& dst, int case_type, const Conversions& conversions, const char* site)
{
    Refit(src, dst);
    int code;
    switch (case_type) {
        case CV_8UC1:
            code = conversions.grey;
            break;
        case CV_8UC3:
            code = conversions.bgr;
            break;
        case CV_8UC4:
            code = conversions.bgra;
            break;
        default:
            KIV_CHECK(false, site) << case_type << kUnsupported;
            return;
    }
    if (code == kPlainCopy)
        src.copyTo(dst);
    else
        cv::cvtColor(src, dst, code);
}

long long BinaryGcd(long long a, long long b)
{
    if (a == 0 || b == 0)
        return a + b;
    int shift = 0;
    while (((a | b) & 1) == 0) {
        a >>= 1;
        b >>= 1;
        ++shift;
    }
    while ((a & 1) == 0)
        a >>= 1;
    while (b != 0) {
        while ((b & 1) == 0)
            b >>= 1;
        if (a > b)
            std::swap(a, b);
        b -= a;
    }
    return a << shift;
}

long long CeilHalf(double value)
{
    return static_cast<long long>(std::ceil(value / 2.0));
}

}  // namespace

void PutMatTo1ChannelMat(const cv::Mat& src, cv::Mat& dst)
{
    KIV_CHECK(dst.type() == CV_8UC1, "PutMatGray_120415_101501");
    switch (src.type()) {
        case CV_8UC3:
            Refit(src, dst);
            cv::cvtColor(src, dst, cv::COLOR_BGR2GRAY);
            break;
        case CV_8UC4:
            Refit(src, dst);
            cv::cvtColor(src, dst, cv::COLOR_BGRA2GRAY);
            break;
        case CV_8UC1:
            if (&dst != &src)
                dst = src;
            break;
        default:
            KIV_CHECK(false, "PutMatGray_120415_101502") << src.type() << kUnsupported;
    }
}

void CopyMatTo3ChannelMat(const cv::Mat& src, cv::Mat& dst)
{
    KIV_CHECK(dst.type() == CV_8UC3, "CopyMatBgr_120415_101503");
    Convert(src, dst, src.type(), {cv::COLOR_GRAY2BGR, kPlainCopy, cv::COLOR_BGRA2BGR}, "CopyMatBgr_120415_101504");
}

void Copy3ChannelMatToMat(const cv::Mat& src, cv::Mat& dst)
{
    KIV_CHECK(src.type() == CV_8UC3, "CopyBgrMat_120415_101505");
    Convert(src, dst, dst.type(), {cv::COLOR_BGR2GRAY, kPlainCopy, cv::COLOR_BGR2BGRA}, "CopyBgrMat_120415_101506");
}

void Copy1ChannelMatToMat(const cv::Mat& src, cv::Mat& dst)
{
    KIV_CHECK(src.type() == CV_8UC1, "CopyGrayMat_120415_101507");
    Convert(src, dst, dst.type(), {kPlainCopy, cv::COLOR_GRAY2BGR, cv::COLOR_GRAY2BGRA}, "CopyGrayMat_120415_101508");
}

void CreateZeroed(cv::Mat& m, const cv::Size& size)
{
    m = cv::Mat::zeros(size, m.type());
}

cv::Size FindReduceResolution(const cv::Size& in, int minArea, int maxArea, ReductionKind* kind)
{
    const long long w = in.width;
    const long long h = in.height;
    const long long area = w * h;
    KIV_CHECK(maxArea >= minArea, "ReduceRes_120415_101509") << minArea << maxArea;
    KIV_CHECK(minArea > 0, "ReduceRes_120415_101510") << minArea << 0;
    // Negative sides are refused even when their product is positive.
    KIV_CHECK(w > 0 && h > 0, "ReduceRes_120415_101511") << std::to_string(area) << 0;

    const long long g = BinaryGcd(std::llabs(w), std::llabs(h));
    const long long rw = w / g;
    const long long rh = h / g;

    const double k = std::sqrt(static_cast<double>(minArea) / static_cast<double>(rw * rh));
    const long long c = CeilHalf(k);
    long long cw = 2 * c * rw;
    long long ch = 2 * c * rh;
    if (cw * ch > maxArea) {
        cw = 2 * CeilHalf(static_cast<double>(rw) * k);
        ch = 2 * CeilHalf(static_cast<double>(rh) * k);
    }

    cv::Size result = in;
    ReductionKind found = NoReduction;
    if (area >= cw * ch && cw <= INT_MAX && ch <= INT_MAX) {
        result = cv::Size(static_cast<int>(cw), static_cast<int>(ch));
        if (cw == w && ch == h)
            found = NoReduction;
        else if (w * ch == cw * h)
            found = ReductionKeepingAspect;
        else
            found = ReductionChangingAspect;
    }
    if (kind)
        *kind = found;

    const long long result_area = static_cast<long long>(result.width) * result.height;
    KIV_CHECK(result_area <= area, "ReduceRes_120415_101512")
        << std::to_string(result_area) << std::to_string(area);
    KIV_CHECK(found == NoReduction || (result_area >= minArea && result.width % 2 == 0 && result.height % 2 == 0),
              "ReduceRes_120415_101513");
    return result;
}

}  // namespace cimage_cvmat
