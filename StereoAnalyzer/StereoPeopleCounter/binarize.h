#pragma once

#include <opencv2/core.hpp>
#include <type_traits>

#include "StereoAnalyzer/StereoPeopleCounter/mask_rows_simd.h"

namespace stereo {

// out[i] := pred(in) ? 255 : 0 over an iterator range.
template <typename InIt, typename OutIt, typename Pred>
void BinarizeCycle(InIt first, InIt last, OutIt out, Pred pred)
{
    for (; first != last; ++first, ++out) *out = pred(*first) ? static_cast<uchar>(255) : static_cast<uchar>(0);
}

// Predicates bound to a threshold.
template <typename T>
struct GreaterOrEqualTo {
    T v;
    bool operator()(T x) const { return x >= v; }
};
template <typename T>
struct LessOrEqualTo {
    T v;
    bool operator()(T x) const { return x <= v; }
};

// The vectorised head of a flat array for the predicates that have a row kernel; returns how many
// leading elements it wrote.
template <typename T, typename Pred>
int BinarizeVectorisedHead(const T* src, Pred pred, uchar* dst, int n)
{
    if constexpr (std::is_same_v<T, uchar> && std::is_same_v<Pred, GreaterOrEqualTo<uchar>>)
        return mask_rows_simd::BinarizeGreaterOrEqualRow(src, pred.v, dst, n);
    else if constexpr (std::is_same_v<T, uchar> && std::is_same_v<Pred, LessOrEqualTo<uchar>>)
        return mask_rows_simd::BinarizeLessOrEqualRow(src, pred.v, dst, n);
    else if constexpr (std::is_same_v<T, short> && std::is_same_v<Pred, LessOrEqualTo<short>>)
        return mask_rows_simd::BinarizeLessOrEqualRow(src, pred.v, dst, n);
    else
        return 0;
}

// dst (re)created 8-bit of src's size: 255 where the predicate holds for the source pixel of type T.
template <typename T, typename Pred>
void BinarizeGeneral(const cv::Mat& src, Pred pred, cv::Mat& dst)
{
    CV_Assert(src.channels() == 1 && src.elemSize() == sizeof(T));
    dst.create(src.size(), CV_8UC1);
    if (src.isContinuous() && dst.isContinuous()) {
        const T* in = src.ptr<T>();
        const int n = static_cast<int>(src.total());
        uchar* out = dst.ptr<uchar>();
        const int head = BinarizeVectorisedHead<T>(in, pred, out, n);
        BinarizeCycle(in + head, in + n, out + head, pred);
        return;
    }
    BinarizeCycle(src.begin<T>(), src.end<T>(), dst.begin<uchar>(), pred);
}

}  // namespace stereo
