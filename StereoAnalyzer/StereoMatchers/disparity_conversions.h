#pragma once

#include <climits>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <opencv2/core.hpp>
#include <type_traits>

#include "CommonUtilities/algorithm_support/kernel_path.h"
#include "CommonUtilities/algorithm_support/kiv_exception.h"
#include "StereoAnalyzer/StereoMatchers/array_to_array.h"
#include "StereoAnalyzer/StereoMatchers/disparity_conversions_simd.h"

// Conversions between the one-channel matrix types of the disparity code (CV_16SC1, CV_32SC1,
// CV_32FC1, CV_64FC1). The destination must already have the source's size; its type chooses the
// output type; nothing is ever allocated. Source and destination may be the same matrix.
namespace stereo {

// Each element converted plainly (truncation toward zero into an integral type).
void CopyDisparity(const cv::Mat& src, cv::Mat& dst);
// Each element rounded half away from zero.
void RoundDisparity(const cv::Mat& src, cv::Mat& dst);
// Each element multiplied by 1 / divisor; the divisor must be finite and greater than 0.
void DivideDisparity(const cv::Mat& src, double divisor, cv::Mat& dst);
// Disparities in units of 1/from pixel into units of 1/to pixel: each element multiplied by
// to / from and rounded half away from zero; a plain conversion when from = to. Both scales must lie
// in 1..INT_MAX.
void RescaleDisparityInt(const cv::Mat& src, unsigned int from, unsigned int to, cv::Mat& dst);

namespace conversion_detail {

// A floating value as a 32-bit integer: truncated toward zero, saturated at the 32-bit limits, NaN
// as 0.
inline int TruncateToInt(double value)
{
    if (!(value == value))
        return 0;
    if (value >= 2147483647.0)
        return INT_MAX;
    if (value <= -2147483648.0)
        return INT_MIN;
    return static_cast<int>(value);
}

// An intermediate double into the destination element type: integral types take the truncated
// 32-bit value (a short keeps its low 16 bits), floating types the nearest value.
template <typename D>
inline D FromDouble(double value)
{
    if constexpr (std::is_same_v<D, int>) {
        return TruncateToInt(value);
    } else if constexpr (std::is_same_v<D, short>) {
        return static_cast<short>(static_cast<uint16_t>(static_cast<uint32_t>(TruncateToInt(value))));
    } else {
        return static_cast<D>(value);
    }
}

// value + 0.5 when value > 0, otherwise value - 0.5 (zero and NaN take the second side).
inline double AddHalfAwayFromZero(double value)
{
    return value > 0 ? value + 0.5 : value - 0.5;
}

// A value already moved half away from zero, truncated: a whole value in any destination type.
template <typename D>
inline D TruncatedToDestination(double value)
{
    if constexpr (std::is_floating_point_v<D>)
        return static_cast<D>(std::trunc(value));
    else
        return FromDouble<D>(value);
}

}  // namespace conversion_detail

// --- Element operations: S is the source element type, D the destination one ---

template <typename S, typename D>
struct StaticCaster {
    D operator()(S value) const { return conversion_detail::FromDouble<D>(static_cast<double>(value)); }
};

template <typename S, typename D>
struct Rounder {
    Rounder() = default;
    template <typename S2, typename D2>
    explicit Rounder(const Rounder<S2, D2>&)
    {
    }
    D operator()(S value) const
    {
        return conversion_detail::TruncatedToDestination<D>(
            conversion_detail::AddHalfAwayFromZero(static_cast<double>(value)));
    }
};

template <typename S, typename D>
class Divider {
public:
    // The divisor must be finite and greater than 0, and its reciprocal finite.
    explicit Divider(double divisor);
    template <typename S2, typename D2>
    explicit Divider(const Divider<S2, D2>& other) : m_reciprocal(other.GetReciprocal())
    {
    }

    D operator()(S value) const { return conversion_detail::FromDouble<D>(static_cast<double>(value) * m_reciprocal); }
    double GetReciprocal() const { return m_reciprocal; }

private:
    double m_reciprocal;
};

template <typename S, typename D>
class Rescaler {
public:
    // Both scales must lie in 1..INT_MAX; factor = (1.0 / from) * to.
    Rescaler(int from, int to);
    template <typename S2, typename D2>
    explicit Rescaler(const Rescaler<S2, D2>& other)
        : m_from(other.GetFrom()), m_to(other.GetTo()), m_factor(other.GetFactor())
    {
    }

    D operator()(S value) const
    {
        return conversion_detail::TruncatedToDestination<D>(
            conversion_detail::AddHalfAwayFromZero(m_factor * static_cast<double>(value)));
    }
    int GetFrom() const { return m_from; }
    int GetTo() const { return m_to; }
    double GetFactor() const { return m_factor; }

private:
    int m_from;
    int m_to;
    double m_factor;
};

template <typename S, typename D>
Divider<S, D>::Divider(double divisor) : m_reciprocal(1.0 / divisor)
{
    KIV_CHECK(divisor > 0 && std::isfinite(divisor) && std::isfinite(m_reciprocal), "DispDivisor_091226_081502")
        << "the divisor must be finite and greater than 0:" << divisor;
}

template <typename S, typename D>
Rescaler<S, D>::Rescaler(int from, int to)
    : m_from(from), m_to(to), m_factor((1.0 / static_cast<double>(from)) * static_cast<double>(to))
{
    KIV_CHECK(from > 0, "DispRescaleFrom_091226_081510") << "the source scale must lie in 1..INT_MAX:" << from;
    KIV_CHECK(to > 0, "DispRescaleTo_091226_081511") << "the destination scale must lie in 1..INT_MAX:" << to;
}

namespace conversion_detail {

// m where factor is exactly 2^-m, or 0 when it is no such power of two.
inline int ExactRightShift(double factor)
{
    int exponent = 0;
    if (std::frexp(factor, &exponent) != 0.5)
        return 0;
    return 1 - exponent;  // factor = 0.5 * 2^exponent
}

// Whether factor is exactly multiplier * 2^-shift with multiplier in 2..32767 and shift in 1..15
// (the smallest such shift), so that factor * x for a short x is exact in double and in 32 bits.
inline bool ExactMultiplyShift(double factor, int& multiplier, int& shift)
{
    for (int s = 1; s <= 15; ++s) {
        const double scaled = std::ldexp(factor, s);
        if (scaled >= 2.0 && scaled <= 32767.0 && scaled == std::floor(scaled)) {
            multiplier = static_cast<int>(scaled);
            shift = s;
            return true;
        }
    }
    return false;
}

// The vectorised walk of two continuous matrices, for the operations the matchers run every frame
// and only where it gives the scalar operation's values exactly: a short map rescaled by 2^-m into
// short or int, or by k * 2^-m into int (16ths into thirds), and a short map divided by a power of two into float.
// False when it does not apply or when AlgoLibrary::ActiveKernelPath() is the scalar one.
template <typename S, typename D, typename State>
bool RunVectorised(const State& state, const S* src, int src_step, int cols, int rows, int dst_step, D* dst)
{
    if (AlgoLibrary::ActiveKernelPath() == AlgoLibrary::KernelPath::kScalar)
        return false;
    constexpr bool kShortToInteger = std::is_same_v<S, short> && (std::is_same_v<D, short> || std::is_same_v<D, int>);
    constexpr bool kShortToFloat = std::is_same_v<S, short> && std::is_same_v<D, float>;
    if constexpr (kShortToInteger && std::is_same_v<State, Rescaler<double, int>>) {
        // x * 2^-m is exact in double, so rounding it half away from zero is an integer shift.
        const Rescaler<S, D> op(state);
        int multiplier = 1;
        int scaledShift = 0;
        if constexpr (std::is_same_v<D, int>) {
            if (ExactMultiplyShift(state.GetFactor(), multiplier, scaledShift)) {
                for (int row = 0; row < rows; ++row) {
                    const S* s = src + static_cast<std::ptrdiff_t>(row) * src_step;
                    D* d = dst + static_cast<std::ptrdiff_t>(row) * dst_step;
                    int x = conversion_simd::RescaleRowByMultiplyShift(s, d, cols, multiplier, scaledShift);
                    for (; x < cols; ++x) d[x] = op(s[x]);
                }
                return true;
            }
        }
        const int shift = ExactRightShift(state.GetFactor());
        if (shift < 1 || shift > 15)
            return false;
        for (int row = 0; row < rows; ++row) {
            const S* s = src + static_cast<std::ptrdiff_t>(row) * src_step;
            D* d = dst + static_cast<std::ptrdiff_t>(row) * dst_step;
            for (int x = conversion_simd::RescaleRowByRightShift(s, d, cols, shift); x < cols; ++x) d[x] = op(s[x]);
        }
        return true;
    } else if constexpr (kShortToFloat && std::is_same_v<State, Divider<double, int>>) {
        // A power-of-two reciprocal makes every product exact in float as in double.
        int exponent = 0;
        const double reciprocal = state.GetReciprocal();
        if (std::frexp(reciprocal, &exponent) != 0.5 || exponent < -100 || exponent > 100)
            return false;
        const Divider<S, D> op(state);
        for (int row = 0; row < rows; ++row) {
            const S* s = src + static_cast<std::ptrdiff_t>(row) * src_step;
            D* d = dst + static_cast<std::ptrdiff_t>(row) * dst_step;
            const float factor = static_cast<float>(reciprocal);
            for (int x = conversion_simd::ScaleRowToFloat(s, d, cols, factor); x < cols; ++x) d[x] = op(s[x]);
        }
        return true;
    } else {
        (void)state, (void)src, (void)src_step, (void)cols, (void)rows, (void)dst_step, (void)dst;
        return false;
    }
}

}  // namespace conversion_detail

// --- Callers: how one (S, D) pair walks its rows ---

// Same type: each row copied unchanged; otherwise StaticCaster.
struct CopyCaller {
    template <typename S, typename D, typename SrcPos, typename DstPos>
    void Run(SrcPos src, int src_step, int cols, int rows, int dst_step, DstPos dst) const
    {
        if constexpr (std::is_same_v<S, D>)
            array_to_array::Copy2DArrayTo2DArray(false, src, src_step, cols, rows, dst_step, dst);
        else
            array_to_array::Transform2DArrayTo2DArray(false, src, src_step, cols, rows, dst_step, dst,
                                                      StaticCaster<S, D>());
    }
};

// The operation Op<S, D> made from the state the entry point built (as Op<double, int>).
template <template <typename, typename> class Op>
class TransformCaller {
public:
    using State = Op<double, int>;

    TransformCaller() = default;
    explicit TransformCaller(const State& state) : m_state(state) {}

    template <typename S, typename D, typename SrcPos, typename DstPos>
    void Run(SrcPos src, int src_step, int cols, int rows, int dst_step, DstPos dst) const
    {
        if constexpr (std::is_pointer_v<SrcPos> && std::is_pointer_v<DstPos>) {
            if (conversion_detail::RunVectorised<S, D>(m_state, src, src_step, cols, rows, dst_step, dst))
                return;
        }
        array_to_array::Transform2DArrayTo2DArray(false, src, src_step, cols, rows, dst_step, dst, Op<S, D>(m_state));
    }

    const State& GetState() const { return m_state; }

private:
    State m_state;
};

// --- Dispatch ---

namespace conversion_detail {

// Equal sizes (two dimensions), one channel on each side. The identifiers differ per layer.
inline void CheckPair(const cv::Mat& src, const cv::Mat& dst, const char* size_id, const char* src_channels_id,
                      const char* dst_channels_id)
{
    KIV_CHECK(src.dims <= 2 && dst.dims <= 2 && src.cols == dst.cols && src.rows == dst.rows, size_id)
        << "source" << src.cols << "x" << src.rows << ", destination" << dst.cols << "x" << dst.rows;
    KIV_CHECK(src.channels() == 1, src_channels_id) << "source channels:" << src.channels();
    KIV_CHECK(dst.channels() == 1, dst_channels_id) << "destination channels:" << dst.channels();
}

}  // namespace conversion_detail

// Layer 3: one (S, D) pair: the checks again, then the walk chosen by the continuity of each side.
template <typename S, typename D, typename Caller>
void TransformOneChannelMatricesTwoTypesImpl(const cv::Mat& src, cv::Mat& dst, Caller caller)
{
    conversion_detail::CheckPair(src, dst, "DispConvPairSize_091226_081520", "DispConvPairSrcCn_091226_081521",
                                 "DispConvPairDstCn_091226_081522");
    const int cols = src.cols;
    const int rows = src.rows;
    const int src_step = static_cast<int>(src.step1());
    const int dst_step = static_cast<int>(dst.step1());
    // An iterator walks only its matrix's own elements, so its row step is the row width.
    if (src.isContinuous() && dst.isContinuous()) {
        caller.template Run<S, D>(src.ptr<S>(), src_step, cols, rows, dst_step, dst.ptr<D>());
    } else if (src.isContinuous()) {
        caller.template Run<S, D>(src.ptr<S>(), src_step, cols, rows, cols, dst.begin<D>());
    } else if (dst.isContinuous()) {
        caller.template Run<S, D>(src.begin<S>(), cols, cols, rows, dst_step, dst.ptr<D>());
    } else {
        caller.template Run<S, D>(src.begin<S>(), cols, cols, rows, cols, dst.begin<D>());
    }
}

// Layer 2: the destination's type chooses D.
template <typename S, typename Caller>
void TransformOneChannelMatricesOneTypeImpl(const cv::Mat& src, cv::Mat& dst, Caller caller)
{
    switch (dst.type()) {
        case CV_16SC1:
            TransformOneChannelMatricesTwoTypesImpl<S, short>(src, dst, caller);
            break;
        case CV_32SC1:
            TransformOneChannelMatricesTwoTypesImpl<S, int>(src, dst, caller);
            break;
        case CV_32FC1:
            TransformOneChannelMatricesTwoTypesImpl<S, float>(src, dst, caller);
            break;
        case CV_64FC1:
            TransformOneChannelMatricesTwoTypesImpl<S, double>(src, dst, caller);
            break;
        default:
            KIV_CHECK(false, "DispConvDstType_091226_081530") << "Type isn't supported yet";
    }
}

// Layer 1: the common checks, then the source's type chooses S.
template <typename Caller>
void TransformOneChannelMatricesImpl(const cv::Mat& src, cv::Mat& dst, Caller caller)
{
    conversion_detail::CheckPair(src, dst, "DispConvSize_091226_081540", "DispConvSrcCn_091226_081541",
                                 "DispConvDstCn_091226_081542");
    switch (src.type()) {
        case CV_16SC1:
            TransformOneChannelMatricesOneTypeImpl<short>(src, dst, caller);
            break;
        case CV_32SC1:
            TransformOneChannelMatricesOneTypeImpl<int>(src, dst, caller);
            break;
        case CV_32FC1:
            TransformOneChannelMatricesOneTypeImpl<float>(src, dst, caller);
            break;
        case CV_64FC1:
            TransformOneChannelMatricesOneTypeImpl<double>(src, dst, caller);
            break;
        default:
            KIV_CHECK(false, "DispConvSrcType_091226_081543") << "Type isn't supported yet";
    }
}

}  // namespace stereo
