#include "StereoAnalyzer/StereoPeopleCounter/mask_rows_simd.h"

#include <opencv2/core.hpp>
#include <opencv2/core/hal/intrin.hpp>

#include "CommonUtilities/algorithm_support/kernel_path.h"

namespace mask_rows_simd {

#if CV_SIMD
namespace {

// Whether the kernels below run; on the scalar path they handle nothing and the callers' loops
// do the whole row.
bool VectorPathChosen()
{
    return AlgoLibrary::ActiveKernelPath() == AlgoLibrary::KernelPath::kVector;
}

}  // namespace
#endif

// Each function handles the longest prefix of a row that whole vectors cover and returns its length;
// where no SIMD backend exists that is none of it, and the parameters go unused.

int BinarizeGreaterOrEqualRow([[maybe_unused]] const uchar* src, [[maybe_unused]] uchar threshold,
                              [[maybe_unused]] uchar* dst, [[maybe_unused]] int cols)
{
    int x = 0;
#if CV_SIMD
    if (!VectorPathChosen())
        return x;
    const int w = cv::v_uint8::nlanes;
    const cv::v_uint8 t = cv::vx_setall_u8(threshold);
    for (; x <= cols - w; x += w) cv::v_store(dst + x, cv::vx_load(src + x) >= t);
#endif
    return x;
}

int BinarizeLessOrEqualRow([[maybe_unused]] const uchar* src, [[maybe_unused]] uchar threshold,
                           [[maybe_unused]] uchar* dst, [[maybe_unused]] int cols)
{
    int x = 0;
#if CV_SIMD
    if (!VectorPathChosen())
        return x;
    const int w = cv::v_uint8::nlanes;
    const cv::v_uint8 t = cv::vx_setall_u8(threshold);
    for (; x <= cols - w; x += w) cv::v_store(dst + x, cv::vx_load(src + x) <= t);
#endif
    return x;
}

int BinarizeLessOrEqualRow([[maybe_unused]] const short* src, [[maybe_unused]] short threshold,
                           [[maybe_unused]] uchar* dst, [[maybe_unused]] int cols)
{
    int x = 0;
#if CV_SIMD
    if (!VectorPathChosen())
        return x;
    const int w = cv::v_uint8::nlanes;
    const int half = cv::v_int16::nlanes;
    const cv::v_int16 t = cv::vx_setall_s16(threshold);
    for (; x <= cols - w; x += w) {
        // The all-ones masks (-1) stay -1 through the saturating pack: 0xFF.
        const cv::v_int16 lo = cv::vx_load(src + x) <= t;
        const cv::v_int16 hi = cv::vx_load(src + x + half) <= t;
        cv::v_store(dst + x, cv::v_reinterpret_as_u8(cv::v_pack(lo, hi)));
    }
#endif
    return x;
}

int SetMaskedRow([[maybe_unused]] const uchar* mask, [[maybe_unused]] uchar value, [[maybe_unused]] uchar* image,
                 [[maybe_unused]] int cols, [[maybe_unused]] uint64_t& sum, [[maybe_unused]] uint64_t& count)
{
    int x = 0;
#if CV_SIMD
    if (!VectorPathChosen())
        return x;
    const int w = cv::v_uint8::nlanes;
    const cv::v_uint8 fill = cv::vx_setall_u8(value);
    const cv::v_uint8 zero = cv::vx_setzero_u8();
    const cv::v_uint8 one = cv::vx_setall_u8(1);
    for (; x <= cols - w; x += w) {
        const cv::v_uint8 p = cv::vx_load(image + x);
        const cv::v_uint8 unmasked = cv::vx_load(mask + x) == zero;
        cv::v_store(image + x, cv::v_select(unmasked, p, fill));
        sum += cv::v_reduce_sum(p & unmasked);
        count += cv::v_reduce_sum(one & unmasked);
    }
#endif
    return x;
}

int KeepAgreeingHeightsRow([[maybe_unused]] const uchar* heights, [[maybe_unused]] const uchar* cleaned,
                           [[maybe_unused]] uchar* out, [[maybe_unused]] int cols)
{
    int x = 0;
#if CV_SIMD
    if (!VectorPathChosen())
        return x;
    const int w = cv::v_uint8::nlanes;
    const cv::v_uint8 one = cv::vx_setall_u8(1);
    for (; x <= cols - w; x += w) {
        const cv::v_uint8 agree = cv::vx_load(cleaned + x) == cv::vx_load(out + x);
        // The 8-bit addition saturates: 255 stays 255.
        cv::v_store(out + x, (cv::vx_load(heights + x) + one) & agree);
    }
#endif
    return x;
}

}  // namespace mask_rows_simd
