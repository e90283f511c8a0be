#include "StereoAnalyzer/StereoMatchers/disparity_conversions_simd.h"

#include <opencv2/core/hal/intrin.hpp>

namespace stereo {
namespace conversion_simd {

#if CV_SIMD128

namespace {

// x / 2^shift rounded half away from zero on 32-bit lanes: the magnitude is rounded half up and
// the sign put back.
inline cv::v_int32x4 RoundedRightShift(const cv::v_int32x4& x, const cv::v_int32x4& half, int shift)
{
    const cv::v_int32x4 sign = x >> 31;
    const cv::v_int32x4 magnitude = (x ^ sign) - sign;
    const cv::v_int32x4 rounded = (magnitude + half) >> shift;
    return (rounded ^ sign) - sign;
}

}  // namespace

int RescaleRowByRightShift(const short* src, short* dst, int width, int shift)
{
    const cv::v_int32x4 half = cv::v_setall_s32(1 << (shift - 1));
    int x = 0;
    for (; x + 8 <= width; x += 8) {
        cv::v_int32x4 low, high;
        cv::v_expand(cv::v_load(src + x), low, high);
        // |result| <= 16384: the pack never saturates.
        cv::v_store(dst + x, cv::v_pack(RoundedRightShift(low, half, shift), RoundedRightShift(high, half, shift)));
    }
    return x;
}

int RescaleRowByRightShift(const short* src, int* dst, int width, int shift)
{
    const cv::v_int32x4 half = cv::v_setall_s32(1 << (shift - 1));
    int x = 0;
    for (; x + 8 <= width; x += 8) {
        cv::v_int32x4 low, high;
        cv::v_expand(cv::v_load(src + x), low, high);
        cv::v_store(dst + x, RoundedRightShift(low, half, shift));
        cv::v_store(dst + x + 4, RoundedRightShift(high, half, shift));
    }
    return x;
}

int ScaleRowToFloat(const short* src, float* dst, int width, float factor)
{
    const cv::v_float32x4 scale = cv::v_setall_f32(factor);
    int x = 0;
    for (; x + 8 <= width; x += 8) {
        cv::v_int32x4 low, high;
        cv::v_expand(cv::v_load(src + x), low, high);
        cv::v_store(dst + x, cv::v_cvt_f32(low) * scale);
        cv::v_store(dst + x + 4, cv::v_cvt_f32(high) * scale);
    }
    return x;
}

#else

int RescaleRowByRightShift(const short*, short*, int, int)
{
    return 0;
}
int RescaleRowByRightShift(const short*, int*, int, int)
{
    return 0;
}
int ScaleRowToFloat(const short*, float*, int, float)
{
    return 0;
}

#endif

}  // namespace conversion_simd
}  // namespace stereo
