#include "StereoAnalyzer/StereoMatchers/disparity_conversions.h"

#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <cstring>
#include <functional>
#include <limits>
#include <string>
#include <utility>
#include <vector>

#include "CommonUtilities/algorithm_support/kernel_path.h"
#include "CommonUtilities/algorithm_support/kiv_exception.h"

namespace {

const std::vector<int> kTypes = {CV_16SC1, CV_32SC1, CV_32FC1, CV_64FC1};
const double kNaN = std::numeric_limits<double>::quiet_NaN();

using Convert = std::function<void(const cv::Mat&, cv::Mat&)>;
const Convert kCopy = [](const cv::Mat& s, cv::Mat& d) { stereo::CopyDisparity(s, d); };
const Convert kRound = [](const cv::Mat& s, cv::Mat& d) { stereo::RoundDisparity(s, d); };
Convert Divide(double divisor)
{
    return [divisor](const cv::Mat& s, cv::Mat& d) { stereo::DivideDisparity(s, divisor, d); };
}
Convert Rescale(unsigned int from, unsigned int to)
{
    return [from, to](const cv::Mat& s, cv::Mat& d) { stereo::RescaleDisparityInt(s, from, to, d); };
}

// A one-row matrix of the given type holding the values (integral values for integral types).
cv::Mat Row(int type, const std::vector<double>& values)
{
    cv::Mat typed;
    cv::Mat(values).reshape(1, 1).convertTo(typed, type);
    return typed;
}

std::vector<double> Values(const cv::Mat& m)
{
    cv::Mat as_double;
    m.convertTo(as_double, CV_64F);
    return std::vector<double>(as_double.begin<double>(), as_double.end<double>());
}

bool Identical(const cv::Mat& a, const cv::Mat& b)
{
    if (a.size() != b.size() || a.type() != b.type())
        return false;
    for (int r = 0; r < a.rows; ++r)
        if (std::memcmp(a.ptr(r), b.ptr(r), a.cols * a.elemSize()) != 0)
            return false;
    return true;
}

TEST(DisparityConversionsTest, RescaleRoundsHalfAwayFromZeroForEveryTypePair)
{
    struct Case {
        unsigned int from, to;
        std::vector<double> src, expected;
    };
    const Case cases[] = {
        {16, 1, {40, 8, -8, -40, 24, -16, 23, -17, 0, 7}, {3, 1, -1, -3, 2, -1, 1, -1, 0, 0}},
        {1, 16, {-112, -1, 0, 111}, {-1792, -16, 0, 1776}},
    };
    for (const Case& c : cases)
        for (int src_type : kTypes)
            for (int dst_type : kTypes) {
                SCOPED_TRACE(cv::typeToString(src_type) + " -> " + cv::typeToString(dst_type) + " from " +
                             std::to_string(c.from));
                cv::Mat dst(1, static_cast<int>(c.src.size()), dst_type, cv::Scalar(99));
                stereo::RescaleDisparityInt(Row(src_type, c.src), c.from, c.to, dst);
                EXPECT_EQ(Values(dst), c.expected);
            }
}

TEST(DisparityConversionsTest, ElementOperationsFollowTheirRules)
{
    struct Case {
        const char* what;
        Convert convert;
        int src_type;
        std::vector<double> src;
        int dst_type;
        std::vector<double> expected;
    };
    const std::vector<Case> cases = {
        {"int into short: low 16 bits", kCopy, CV_32SC1, {70000, -70000, 32768}, CV_16SC1, {4464, -4464, -32768}},
        {"float into int truncates", kCopy, CV_32FC1, {-3.7, 3.7, -0.5}, CV_32SC1, {-3, 3, 0}},
        {"double into int saturates, NaN is 0", kCopy, CV_64FC1, {1e12, -1e12, kNaN}, CV_32SC1, {INT_MAX, INT_MIN, 0}},
        {"double into short via saturated int", kCopy, CV_64FC1, {1e12, kNaN, 70000.9}, CV_16SC1, {-1, 0, 4464}},
        {"short widens into double", kCopy, CV_16SC1, {-32768, 32767}, CV_64FC1, {-32768, 32767}},
        {"rounding of floats", kRound, CV_32FC1, {2.5, -2.5, 2.4999, 0}, CV_32SC1, {3, -3, 2, 0}},
        {"rounding keeps integral values", kRound, CV_16SC1, {-7, 0, 9}, CV_32SC1, {-7, 0, 9}},
        {"rounding into double gives whole values", kRound, CV_64FC1, {2.5, -2.5, 2.4999}, CV_64FC1, {3, -3, 2}},
        {"division into short truncates", Divide(16), CV_16SC1, {-17, 17, 40}, CV_16SC1, {-1, 1, 2}},
        {"division into int truncates", Divide(16), CV_16SC1, {-17}, CV_32SC1, {-1}},
        {"division into float keeps fractions", Divide(16), CV_16SC1, {-17, 601}, CV_32FC1, {-1.0625, 37.5625}},
        {"division into double keeps fractions", Divide(16), CV_32SC1, {-17}, CV_64FC1, {-1.0625}},
        {"rescaled short beyond 32767 keeps its low 16 bits", Rescale(1, 2), CV_32SC1, {35000}, CV_16SC1, {4464}},
        {"rescaled double saturates", Rescale(1, 16), CV_64FC1, {1e15, -1e15, kNaN}, CV_32SC1, {INT_MAX, INT_MIN, 0}},
        {"equal scales convert plainly", Rescale(16, 16), CV_32FC1, {-3.7, 2.9}, CV_32SC1, {-3, 2}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        cv::Mat dst(1, static_cast<int>(c.src.size()), c.dst_type, cv::Scalar(0));
        c.convert(Row(c.src_type, c.src), dst);
        EXPECT_EQ(Values(dst), c.expected);
    }
}

TEST(DisparityConversionsTest, RefusalsLeaveTheDestinationUnchanged)
{
    const cv::Mat s16(3, 4, CV_16SC1, cv::Scalar(32));
    const auto dst = [](int type) { return cv::Mat(3, 4, type, cv::Scalar::all(5)); };
    struct Case {
        const char* what;
        cv::Mat src;
        cv::Mat dst;
        Convert convert;
        const char* text;  // expected in the message, may be empty
    };
    const std::vector<Case> cases = {
        {"divisor 0", s16, dst(CV_32FC1), Divide(0.0), ""},
        {"negative divisor", s16, dst(CV_32FC1), Divide(-16.0), ""},
        {"NaN divisor", s16, dst(CV_32FC1), Divide(kNaN), ""},
        {"infinite divisor", s16, dst(CV_32FC1), Divide(std::numeric_limits<double>::infinity()), ""},
        {"divisor 0 before the matrices", cv::Mat(1, 1, CV_8UC1), dst(CV_32FC1), Divide(0.0), "divisor"},
        {"rescale from 0", s16, dst(CV_16SC1), Rescale(0, 1), ""},
        {"rescale from 0 to 0", s16, dst(CV_16SC1), Rescale(0, 0), ""},
        {"rescale to 0", s16, dst(CV_16SC1), Rescale(16, 0), ""},
        {"rescale from beyond INT_MAX", s16, dst(CV_16SC1), Rescale(static_cast<unsigned int>(INT_MAX) + 1u, 1), ""},
        {"rescale to beyond INT_MAX", s16, dst(CV_16SC1), Rescale(16, UINT_MAX), ""},
        {"destination of another size", s16, cv::Mat(4, 3, CV_16SC1, cv::Scalar(5)), kCopy, ""},
        {"empty destination", s16, cv::Mat(), kCopy, ""},
        {"two-channel source", cv::Mat(3, 4, CV_16SC2, cv::Scalar(1, 2)), dst(CV_16SC1), kCopy, ""},
        {"three-channel destination", s16, dst(CV_32FC3), kCopy, ""},
        {"8-bit source", cv::Mat(3, 4, CV_8UC1, cv::Scalar(1)), dst(CV_16SC1), kCopy, "Type isn't supported yet"},
        {"16-bit unsigned destination", s16, dst(CV_16UC1), Rescale(16, 1), "Type isn't supported yet"},
        {"8-bit destination", s16, dst(CV_8UC1), Rescale(16, 1), "Type isn't supported yet"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        cv::Mat out = c.dst;
        const cv::Mat before = out.clone();
        const uchar* data = out.data;
        try {
            c.convert(c.src, out);
            ADD_FAILURE() << "no exception";
        } catch (const exc::KIVException& error) {
            EXPECT_NE(std::string(error.what()).find(c.text), std::string::npos) << error.what();
        }
        EXPECT_EQ(out.data, data);
        EXPECT_TRUE(Identical(out, before));
    }
}

// A region and its continuous copy convert alike, whatever the layout of either side, and a region
// rescales in place.
TEST(DisparityConversionsTest, RegionConvertsExactlyAsItsContinuousCopyInAllTraversalShapes)
{
    cv::RNG rng(7);
    const cv::Rect roi(3, 2, 13, 9), placed(5, 4, roi.width, roi.height);
    const std::pair<const char*, Convert> operations[] = {
        {"copy", kCopy}, {"round", kRound}, {"divide", Divide(16.0)}, {"rescale", Rescale(16, 3)}};
    for (int src_type : kTypes) {
        cv::Mat big(20, 24, src_type);
        rng.fill(big, cv::RNG::UNIFORM, -2000, 2000);
        const cv::Mat region = big(roi);
        const cv::Mat contiguous = region.clone();
        ASSERT_FALSE(region.isContinuous());
        for (int dst_type : kTypes) {
            for (const auto& [name, convert] : operations) {
                cv::Mat expected(roi.size(), dst_type, cv::Scalar(0));
                convert(contiguous, expected);
                for (int shape = 0; shape < 4; ++shape) {
                    SCOPED_TRACE(cv::typeToString(src_type) + " -> " + cv::typeToString(dst_type) + " " + name +
                                 " shape " + std::to_string(shape));
                    const bool src_continuous = (shape & 1) != 0;
                    const bool dst_continuous = (shape & 2) != 0;
                    cv::Mat dst_big(22, 30, dst_type, cv::Scalar(77));
                    const cv::Mat dst_big_before = dst_big.clone();
                    cv::Mat dst = dst_continuous ? cv::Mat(roi.size(), dst_type, cv::Scalar(77)) : dst_big(placed);
                    convert(src_continuous ? contiguous : region, dst);
                    EXPECT_TRUE(Identical(dst, expected));
                    if (!dst_continuous) {
                        // Nothing outside the destination region was touched.
                        cv::Mat outside = dst_big.clone();
                        dst_big_before(placed).copyTo(outside(placed));
                        EXPECT_TRUE(Identical(outside, dst_big_before));
                    }
                }
            }
        }
    }
    cv::Mat region = cv::Mat(6, 8, CV_16SC1, cv::Scalar(-32))(cv::Rect(1, 1, 5, 4));
    stereo::RescaleDisparityInt(region, 16, 1, region);
    EXPECT_EQ(cv::countNonZero(region != -2), 0);
}

TEST(DisparityConversionsTest, WalkerWritesRowsBottomUpOnRequest)
{
    const std::vector<int> src = {1, 2, 3, 4, 5, 6};  // three rows of two
    for (bool bottom_up : {false, true}) {
        std::vector<int> copied(6, 0);
        std::vector<double> transformed(6, 0);
        array_to_array::Copy2DArrayTo2DArray(bottom_up, src.data(), 2, 2, 3, 2, copied.data());
        array_to_array::Transform2DArrayTo2DArray(bottom_up, src.data(), 2, 2, 3, 2, transformed.data(),
                                                  [](int v) { return v * 0.5; });
        const std::vector<int> expected = bottom_up ? std::vector<int>{5, 6, 3, 4, 1, 2} : src;
        EXPECT_EQ(copied, expected);
        for (int i = 0; i < 6; ++i) EXPECT_EQ(transformed[i], expected[i] * 0.5);
    }
    std::vector<int> untouched(6, 9);
    array_to_array::Copy2DArrayTo2DArray(false, src.data(), 2, 2, 0, 2, untouched.data());
    EXPECT_EQ(untouched, std::vector<int>(6, 9));
}

// Every short value, in rows whose width leaves a scalar tail, converted element by element.
template <typename D, typename Op>
cv::Mat Scalar(const cv::Mat& src, int dst_type, Op op)
{
    cv::Mat dst(src.size(), dst_type);
    for (int r = 0; r < src.rows; ++r)
        for (int c = 0; c < src.cols; ++c) dst.at<D>(r, c) = op(src.at<short>(r, c));
    return dst;
}

// On the vector path (where it applies) and on the scalar one alike, every conversion gives the
// element operation's value for every short value.
TEST(DisparityConversionsTest, BothKernelPathsGiveTheElementOperationsValues)
{
    cv::Mat all(3, 21846, CV_16SC1);
    for (int i = 0; i < static_cast<int>(all.total()); ++i)
        all.at<short>(i / all.cols, i % all.cols) = static_cast<short>(-32768 + i % 65536);
    for (const AlgoLibrary::KernelPath path : {AlgoLibrary::KernelPath::kVector, AlgoLibrary::KernelPath::kScalar}) {
        SCOPED_TRACE(AlgoLibrary::KernelPathName(path));
        const AlgoLibrary::ScopedKernelPath scoped(path);
        for (unsigned int from : {2u, 16u, 1024u, 32768u, 48u}) {
            SCOPED_TRACE(from);
            cv::Mat to_short(all.size(), CV_16SC1), to_int(all.size(), CV_32SC1), in_place = all.clone();
            stereo::RescaleDisparityInt(all, from, 1, to_short);
            stereo::RescaleDisparityInt(all, from, 1, to_int);
            stereo::RescaleDisparityInt(in_place, from, 1, in_place);
            const int f = static_cast<int>(from);
            EXPECT_TRUE(Identical(to_short, Scalar<short>(all, CV_16SC1, stereo::Rescaler<short, short>(f, 1))));
            EXPECT_TRUE(Identical(to_int, Scalar<int>(all, CV_32SC1, stereo::Rescaler<short, int>(f, 1))));
            EXPECT_TRUE(Identical(in_place, to_short));
        }
        // Into thirds and other whole multiples of a power-of-two fraction (int only), and factors that are none.
        const std::pair<unsigned int, unsigned int> scales[] = {{16, 3},    {16, 5}, {1, 3},
                                                                {2, 32767}, {48, 3}, {16, 12}};
        for (const auto& [from, to] : scales) {
            SCOPED_TRACE(std::to_string(from) + " to " + std::to_string(to));
            cv::Mat to_int(all.size(), CV_32SC1);
            stereo::RescaleDisparityInt(all, from, to, to_int);
            const stereo::Rescaler<short, int> op(static_cast<int>(from), static_cast<int>(to));
            EXPECT_TRUE(Identical(to_int, Scalar<int>(all, CV_32SC1, op)));
        }
        for (double divisor : {16.0, 2.0, 0.25, 3.0}) {
            SCOPED_TRACE(divisor);
            cv::Mat to_float(all.size(), CV_32FC1);
            stereo::DivideDisparity(all, divisor, to_float);
            EXPECT_TRUE(Identical(to_float, Scalar<float>(all, CV_32FC1, stereo::Divider<short, float>(divisor))));
        }
    }
}

}  // namespace
