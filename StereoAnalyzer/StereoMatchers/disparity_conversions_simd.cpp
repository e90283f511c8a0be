#include "StereoAnalyzer/StereoMatchers/disparity_conversions_simd.h"

#include <opencv2/core.hpp>
#include <opencv2/core/hal/intrin.hpp>

namespace stereo {
namespace conversion_simd {

#if CV_SIMD128

namespace {

// x / 2^shift rounded half away from zero, on 16-bit lanes: the magnitude (as unsigned, so that
// -32768 has one) is rounded half up without overflow as (a >> shift) + bit shift - 1 of a, and the
// sign is put back.
inline cv::v_int16x8 RoundedRightShift(const cv::v_int16x8& x, int shift)
{
    const cv::v_int16x8 sign = x >> 15;
    const cv::v_uint16x8 magnitude = cv::v_reinterpret_as_u16((x ^ sign) - sign);
    const cv::v_uint16x8 one = cv::v_setall_u16(1);
    const cv::v_uint16x8 rounded = (magnitude >> shift) + ((magnitude >> (shift - 1)) & one);
    return (cv::v_reinterpret_as_s16(rounded) ^ sign) - sign;
}

}  // namespace

int RescaleRowByRightShift(const short* src, short* dst, int width, int shift)
{
    int x = 0;
    for (; x + 16 <= width; x += 16) {
        const cv::v_int16x8 a = RoundedRightShift(cv::v_load(src + x), shift);
        const cv::v_int16x8 b = RoundedRightShift(cv::v_load(src + x + 8), shift);
        cv::v_store(dst + x, a);
        cv::v_store(dst + x + 8, b);
    }
    for (; x + 8 <= width; x += 8) cv::v_store(dst + x, RoundedRightShift(cv::v_load(src + x), shift));
    return x;
}

int RescaleRowByRightShift(const short* src, int* dst, int width, int shift)
{
    int x = 0;
    for (; x + 8 <= width; x += 8) {
        cv::v_int32x4 low, high;
        cv::v_expand(RoundedRightShift(cv::v_load(src + x), shift), low, high);
        cv::v_store(dst + x, low);
        cv::v_store(dst + x + 4, high);
    }
    return x;
}

int RescaleRowByMultiplyShift(const short* src, int* dst, int width, int multiplier, int shift)
{
    const cv::v_int16x8 factor = cv::v_setall_s16(static_cast<short>(multiplier));
    const cv::v_int32x4 half = cv::v_setall_s32(1 << (shift - 1));
    // n = x * multiplier fits 32 bits; n / 2^shift rounded half away from zero is
    // (n + half - 1) >> shift for a negative n and (n + half) >> shift otherwise.
    auto round = [&](const cv::v_int32x4& n) { return (n + half + (n >> 31)) >> shift; };
    int x = 0;
    for (; x + 8 <= width; x += 8) {
        cv::v_int32x4 low, high;
        cv::v_mul_expand(cv::v_load(src + x), factor, low, high);
        cv::v_store(dst + x, round(low));
        cv::v_store(dst + x + 4, round(high));
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
int RescaleRowByMultiplyShift(const short*, int*, int, int, int)
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
