#pragma once

#include <opencv2/core.hpp>

namespace stereo {

// out[i] := pred(in) ? 255 : 0 over an iterator range.
template <typename InIt, typename OutIt, typename Pred>
void BinarizeCycle(InIt first, InIt last, OutIt out, Pred pred)
{
    for (; first != last; ++first, ++out) *out = pred(*first) ? static_cast<uchar>(255) : static_cast<uchar>(0);
}

// dst (re)created 8-bit of src's size: 255 where the predicate holds for the source pixel of type T.
template <typename T, typename Pred>
void BinarizeGeneral(const cv::Mat& src, Pred pred, cv::Mat& dst)
{
    CV_Assert(src.channels() == 1 && src.elemSize() == sizeof(T));
    dst.create(src.size(), CV_8UC1);
    if (src.isContinuous() && dst.isContinuous()) {
        const T* in = src.ptr<T>();
        BinarizeCycle(in, in + src.total(), dst.ptr<uchar>(), pred);
        return;
    }
    BinarizeCycle(src.begin<T>(), src.end<T>(), dst.begin<uchar>(), pred);
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

}  // namespace stereo
