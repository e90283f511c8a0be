#include "StereoAnalyzer/StereoMatchers/modified_opencv_stereo_matchers/stereo_bm_without_stripes.h"

#include <algorithm>
#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <opencv2/calib3d.hpp>
#include <opencv2/core/hal/intrin.hpp>
#include <opencv2/core/utility.hpp>
#include <type_traits>

#include "CommonUtilities/algorithm_support/kernel_path.h"

namespace stereo {

namespace {

using AlgoLibrary::KernelPath;

constexpr const char* kFunctionName = "findStereoCorrespondenceBM";
constexpr int kStripes = 4;
constexpr int kSobelTableOffset = 1024;
constexpr int kSobelTableSize = 2304;

void RaiseError(int code, const char* message, int line)
{
    cv::error(code, message, kFunctionName, __FILE__, line);
}

// Sizes and offsets of one call. The image pixel (y, x) lies at padded row T + y, padded column L + x.
struct Geometry {
    int width = 0;
    int height = 0;
    int wsz = 0;    // window side
    int w2 = 0;     // half window
    int T = 0;      // top and bottom margin
    int minD = 0;   // smallest disparity
    int ndisp = 0;  // number of disparities
    int maxD = 0;   // largest disparity
    int L = 0;      // left margin
    int R = 0;      // right margin
    int paddedCols = 0;
    int paddedRows = 0;
    short filtered = 0;  // the invalid disparity
};

// The right margin holds the farthest right sample of the last column's window: column
// L + W - 1 - minD + w2 must lie inside the padded row.
Geometry MakeGeometry(const CvStereoBMState& state, cv::Size size)
{
    Geometry g;
    g.width = size.width;
    g.height = size.height;
    g.wsz = state.SADWindowSize;
    g.w2 = g.wsz / 2;
    g.T = g.w2 + 1;
    g.minD = state.minDisparity;
    g.ndisp = state.numberOfDisparities;

    const int64_t maxD = static_cast<int64_t>(g.minD) + g.ndisp - 1;
    const int64_t left = std::max<int64_t>({maxD, g.T, 0});
    const int64_t right = std::max<int64_t>(g.T, static_cast<int64_t>(g.T) - g.minD);
    const int64_t cols = left + g.width + right;
    const int64_t rows = static_cast<int64_t>(g.height) + 2 * g.T;
    // Every work size below stays inside int when the padded image does with room to spare.
    if (maxD > INT_MAX / 2 || cols * rows > INT_MAX / 16 || cols * g.ndisp > INT_MAX / 16)
        RaiseError(cv::Error::StsOutOfRange, "disparity range is too large for the image buffers", __LINE__);

    g.maxD = static_cast<int>(maxD);
    g.L = static_cast<int>(left);
    g.R = static_cast<int>(right);
    g.paddedCols = static_cast<int>(cols);
    g.paddedRows = static_cast<int>(rows);
    g.filtered = static_cast<short>((static_cast<int64_t>(g.minD) - 1) * 16);
    return g;
}

// The stripes of one call: each recomputes wsz - 1 rows of its neighbour's window sums, so a stripe
// is worth it only with a thread to run it and at least 8 windows of rows to share the overlap.
int StripeCount(const Geometry& g)
{
    const int byRows = g.height / (8 * g.wsz);
    return std::max(1, std::min({kStripes, cv::getNumThreads(), byRows}));
}

// Signed 16-bit sums are exact when the largest possible window sum fits them.
bool ShortSumsSuffice(const CvStereoBMState& state)
{
    const int64_t largest = static_cast<int64_t>(state.SADWindowSize) * state.SADWindowSize * 2 * state.preFilterCap;
    return largest < std::numeric_limits<short>::max() && state.numberOfDisparities < std::numeric_limits<short>::max();
}

// The vector search keeps the window sums in registers when they fit 16 bits and at most 8 vectors.
bool SumsFitRegisters(const CvStereoBMState& state)
{
    return ShortSumsSuffice(state) && state.numberOfDisparities <= 64;
}

// Work area of one stripe, in bytes: the window sums, the per-row sums and texture sums, five
// values per output row of the column in work, each 16-byte aligned, and, for the search with its
// sums in registers, the window sums of every output row and the absolute differences of the last
// wsz columns (one byte per row and index).
size_t StripeBufferSize(const Geometry& g, const CvStereoBMState& state)
{
    const size_t rows = static_cast<size_t>(g.paddedRows) + g.wsz + 2;
    const size_t ndisp = static_cast<size_t>(g.ndisp);
    const size_t registers =
        SumsFitRegisters(state) ? rows * ndisp * sizeof(short) + static_cast<size_t>(g.wsz) * rows * ndisp : 0;
    return (ndisp + 2) * sizeof(int) + rows * ndisp * sizeof(int) + 6 * rows * sizeof(int) + registers + 256;
}

// a / k truncated toward zero, for k > 0 and |a| <= 256 k (the sub-pixel step). A float quotient is
// within one of the true one, and one exact correction makes it exact: cheaper than an integer
// division, which 32-bit ARM cores without a divider call as a library routine.
inline int DivideTruncated(int a, int k)
{
    const int64_t magnitude = std::llabs(static_cast<int64_t>(a));
    int64_t q = static_cast<int64_t>(static_cast<float>(magnitude) / static_cast<float>(k));
    const int64_t rest = magnitude - q * k;
    if (rest < 0)
        --q;
    else if (rest >= k)
        ++q;
    return static_cast<int>(a < 0 ? -q : q);
}

// Copies the value of padded column `from` into columns [begin, end) of one padded row.
void FillColumns(uchar* row, int begin, int end, int from)
{
    if (begin < end)
        std::memset(row + begin, row[from], static_cast<size_t>(end - begin));
}

// Copies the padded rows `first` to `last` into every row above and below them.
void FillRowsAround(cv::Mat& dst, int first, int last)
{
    for (int y = 0; y < first; ++y) dst.row(first).copyTo(dst.row(y));
    for (int y = last + 1; y < dst.rows; ++y) dst.row(last).copyTo(dst.row(y));
}

}  // namespace

cv::Ptr<CvStereoBMState> cvCreateStereoBMState(int /*preset*/, int numberOfDisparities)
{
    cv::Ptr<CvStereoBMState> state = cv::makePtr<CvStereoBMState>();
    state->numberOfDisparities = numberOfDisparities > 0 ? numberOfDisparities : 64;
    return state;
}

int FindEquivalentInIntegersModN(int a, int n)
{
    if (n == 0)
        return 0;
    const int64_t modulus = std::llabs(static_cast<int64_t>(n));
    int64_t r = static_cast<int64_t>(a) % modulus;
    if (r < 0)
        r += modulus;
    return static_cast<int>(r);
}

void prefilterXSobel(const cv::Mat& src, cv::Mat& dst, int colOffset, int rowOffset, int ftzero)
{
    const int width = src.cols;
    const int height = src.rows;
    if (width < 3 || height < 2) {
        dst.setTo(cv::Scalar::all(ftzero));
        return;
    }
    uchar tab[kSobelTableSize];
    for (int i = 0; i < kSobelTableSize; ++i) {
        const int v = i - kSobelTableOffset;
        tab[i] = static_cast<uchar>(v < -ftzero ? 0 : v > ftzero ? 2 * ftzero : v + ftzero);
    }
    const uchar* lut = tab + kSobelTableOffset;
    const int lastCol = dst.cols;
    [[maybe_unused]] const KernelPath path = AlgoLibrary::ActiveKernelPath();

    int lastRow = rowOffset;
    for (int y = 0; y + 1 < height; y += 2) {
        const uchar* s0 = src.ptr<uchar>(y > 0 ? y - 1 : 1);
        const uchar* s1 = src.ptr<uchar>(y);
        const uchar* s2 = src.ptr<uchar>(y + 1);
        const uchar* s3 = src.ptr<uchar>(y + 2 < height ? y + 2 : y);
        uchar* d0 = dst.ptr<uchar>(rowOffset + y) + colOffset;
        uchar* d1 = dst.ptr<uchar>(rowOffset + y + 1) + colOffset;
        int x = 1;
#if CV_SIMD128
        if (path == KernelPath::kVector) {
            // Eight columns at a time in 16 bits (|g0 + 2 g1 + g2| <= 1020), clipped as the table does.
            const cv::v_int16x8 cap = cv::v_setall_s16(static_cast<short>(ftzero));
            const cv::v_int16x8 negativeCap = cv::v_setall_s16(static_cast<short>(-ftzero));
            auto gradient = [](const uchar* row, int at) {
                return cv::v_reinterpret_as_s16(cv::v_load_expand(row + at + 1)) -
                       cv::v_reinterpret_as_s16(cv::v_load_expand(row + at - 1));
            };
            auto clip = [&](const cv::v_int16x8& v) { return cv::v_min(cv::v_max(v, negativeCap), cap) + cap; };
            for (; x + 8 <= width - 1; x += 8) {
                const cv::v_int16x8 g0 = gradient(s0, x), g1 = gradient(s1, x), g2 = gradient(s2, x),
                                    g3 = gradient(s3, x);
                cv::v_pack_u_store(d0 + x, clip(g0 + g1 + g1 + g2));
                cv::v_pack_u_store(d1 + x, clip(g1 + g2 + g2 + g3));
            }
        }
#endif
        for (; x < width - 1; ++x) {
            const int g0 = s0[x + 1] - s0[x - 1];
            const int g1 = s1[x + 1] - s1[x - 1];
            const int g2 = s2[x + 1] - s2[x - 1];
            const int g3 = s3[x + 1] - s3[x - 1];
            d0[x] = lut[g0 + 2 * g1 + g2];
            d1[x] = lut[g1 + 2 * g2 + g3];
        }
        for (uchar* row : {d0 - colOffset, d1 - colOffset}) {
            FillColumns(row, 0, colOffset + 1, colOffset + 1);
            FillColumns(row, colOffset + width - 1, lastCol, colOffset + width - 2);
        }
        lastRow = rowOffset + y + 1;
    }
    FillRowsAround(dst, rowOffset, lastRow);
}

namespace {

// Normalised-response prefilter: for each pixel the centre-weighted local brightness minus the
// window mean, clipped to [-ftzero, ftzero] and shifted by ftzero. `dst` has the size of `src`;
// `buf` holds at least (width + winsize + 2) ints plus 256 bytes.
void prefilterNorm(const cv::Mat& src, cv::Mat& dst, int winsize, int ftzero, unsigned char* buf)
{
    const int width = src.cols;
    const int height = src.rows;
    const int r = winsize / 2;
    const int64_t area = static_cast<int64_t>(winsize) * winsize;
    int* colsum = cv::alignPtr(reinterpret_cast<int*>(buf), 16);
    auto rowAt = [&](int y) { return src.ptr<uchar>(std::min(std::max(y, 0), height - 1)); };

    // Column sums over the rows y - r .. y + r, the rows beyond the image repeating the edge rows.
    std::fill(colsum, colsum + width, 0);
    for (int y = -r; y <= r; ++y) {
        const uchar* s = rowAt(y);
        for (int x = 0; x < width; ++x) colsum[x] += s[x];
    }
    for (int y = 0; y < height; ++y) {
        if (y > 0) {
            const uchar* add = rowAt(y + r);
            const uchar* sub = rowAt(y - r - 1);
            for (int x = 0; x < width; ++x) colsum[x] += add[x] - sub[x];
        }
        const uchar* prev = rowAt(y - 1);
        const uchar* curr = rowAt(y);
        const uchar* next = rowAt(y + 1);
        uchar* out = dst.ptr<uchar>(y);
        auto colAt = [&](int x) { return std::min(std::max(x, 0), width - 1); };
        int64_t box = 0;
        for (int x = -r; x <= r; ++x) box += colsum[colAt(x)];
        for (int x = 0; x < width; ++x) {
            if (x > 0)
                box += colsum[colAt(x + r)] - colsum[colAt(x - r - 1)];
            const int centre = 4 * curr[x] + curr[colAt(x - 1)] + curr[colAt(x + 1)] + prev[x] + next[x];
            const int64_t value = (centre * area - 8 * box) / (8 * area);
            out[x] = static_cast<uchar>(std::min<int64_t>(std::max<int64_t>(value, -ftzero), ftzero) + ftzero);
        }
    }
}

template <typename CostT>
void ValidateRows(cv::Mat& disp, const cv::Mat& cost, int minDisparity, int numberOfDisparities, int disp12MaxDiff)
{
    const int width = disp.cols;
    const short invalid = static_cast<short>((static_cast<int64_t>(minDisparity) - 1) * 16);
    const int64_t tolerance = static_cast<int64_t>(disp12MaxDiff) * 16;
    const int64_t upper =
        static_cast<int64_t>(width) + std::min<int64_t>(static_cast<int64_t>(minDisparity) + numberOfDisparities, 0);
    const int xBegin = static_cast<int>(std::min<int64_t>(std::max(minDisparity, 0), width));
    const int xEnd = static_cast<int>(std::max<int64_t>(upper, 0));

    cv::AutoBuffer<int, 1032> buffer(static_cast<size_t>(width) * 2);
    int* disp2 = buffer.data();
    int* cost2 = disp2 + width;

    for (int y = 0; y < disp.rows; ++y) {
        short* d = disp.ptr<short>(y);
        const CostT* c = cost.ptr<CostT>(y);
        std::fill(disp2, disp2 + width, static_cast<int>(invalid));
        std::fill(cost2, cost2 + width, INT_MAX);

        // The view seen from the other side: per column the disparity with the lowest cost.
        for (int x = xBegin; x < xEnd; ++x) {
            const int value = d[x];
            if (value == invalid)
                continue;
            const int x2 = x - ((value + 8) >> 4);
            if (x2 >= 0 && x2 < width && c[x] < cost2[x2]) {
                cost2[x2] = c[x];
                disp2[x2] = value;
            }
        }
        auto contradicts = [&](int column, int value) {
            return column >= 0 && column < width && disp2[column] > invalid &&
                   std::llabs(static_cast<int64_t>(disp2[column]) - value) > tolerance;
        };
        for (int x = xBegin; x < xEnd; ++x) {
            const int value = d[x];
            if (value == invalid)
                continue;
            const int x0 = x - (value >> 4);
            const int x1 = x - ((value + 15) >> 4);
            if (contradicts(x0, value) && contradicts(x1, value))
                d[x] = invalid;
        }
    }
}

}  // namespace

void ValidateDisparityAllRow(cv::OutputArray _disp, cv::InputArray _cost, int minDisparity, int numberOfDisparities,
                             int disp12MaxDiff)
{
    cv::Mat disp = _disp.getMat();
    const cv::Mat cost = _cost.getMat();
    const int costType = cost.type();
    CV_Assert(numberOfDisparities > 0 && disp.type() == CV_16S && (costType == CV_16S || costType == CV_32S) &&
              disp.size() == cost.size());
    if (costType == CV_16S)
        ValidateRows<short>(disp, cost, minDisparity, numberOfDisparities, disp12MaxDiff);
    else
        ValidateRows<int>(disp, cost, minDisparity, numberOfDisparities, disp12MaxDiff);
}

namespace {

#if CV_SIMD128
// The vector operations of the search for each type of sums; 16-bit sums wrap.
template <typename S>
struct SumVector;

template <>
struct SumVector<short> {
    using V = cv::v_int16x8;
    static constexpr int kLanes = 8;
    static V Load(const short* p) { return cv::v_load_aligned(p); }
    static void Store(short* p, const V& v) { cv::v_store_aligned(p, v); }
    static V All(int value) { return cv::v_setall_s16(static_cast<short>(value)); }
    static V Iota() { return V(0, 1, 2, 3, 4, 5, 6, 7); }
    static V Add(const V& a, const V& b) { return cv::v_add_wrap(a, b); }
    static V Sub(const V& a, const V& b) { return cv::v_sub_wrap(a, b); }
    // Adds the absolute differences of one chunk of 16 and removes the old ones.
    static void Update(short* hs, const cv::v_uint8x16& diff, const cv::v_uint8x16& old)
    {
        // Prefiltered values lie in 0..126, so the change of a sum fits 8 signed bits.
        V delta0, delta1;
        cv::v_expand(cv::v_reinterpret_as_s8(diff) - cv::v_reinterpret_as_s8(old), delta0, delta1);
        Store(hs, Add(Load(hs), delta0));
        Store(hs + 8, Add(Load(hs + 8), delta1));
    }
};

template <>
struct SumVector<int> {
    using V = cv::v_int32x4;
    static constexpr int kLanes = 4;
    static V Load(const int* p) { return cv::v_load_aligned(p); }
    static void Store(int* p, const V& v) { cv::v_store_aligned(p, v); }
    static V All(int value) { return cv::v_setall_s32(value); }
    static V Iota() { return V(0, 1, 2, 3); }
    static V Add(const V& a, const V& b) { return a + b; }
    static V Sub(const V& a, const V& b) { return a - b; }
    static void Update(int* hs, const cv::v_uint8x16& diff, const cv::v_uint8x16& old)
    {
        cv::v_int16x8 delta0, delta1;
        cv::v_expand(cv::v_reinterpret_as_s8(diff) - cv::v_reinterpret_as_s8(old), delta0, delta1);
        cv::v_int32x4 e0, e1, e2, e3;
        cv::v_expand(delta0, e0, e1);
        cv::v_expand(delta1, e2, e3);
        Store(hs, Load(hs) + e0);
        Store(hs + 4, Load(hs + 4) + e1);
        Store(hs + 8, Load(hs + 8) + e2);
        Store(hs + 12, Load(hs + 12) + e3);
    }
};
#endif

// The sliding-window search of one stripe. S is the type of the sums: int, or short where the
// largest window sum fits 15 bits (the 16-bit sums are then exact, wrapping in between).
template <typename S>
class StereoCorrespondenceBMFinder {
public:
    StereoCorrespondenceBMFinder(const cv::Mat& left, const cv::Mat& right, int r0, int r1, cv::Mat& disp,
                                 cv::Mat& cost, const CvStereoBMState& state, const Geometry& geometry, uchar* work,
                                 KernelPath path);

    void FindStereoCorrespondence();

private:
    // Adds column `addCol`'s absolute differences to every row's horizontal sums and, when
    // `subtract` is set, removes those of column `addCol - wsz` (computed again from the images,
    // which costs less than keeping them).
    void UpdateRowSums(int addCol, bool subtract);
    void UpdateRowSumsScalar(int addCol, bool subtract);
    void UpdateRowSumsVector(int addCol, bool subtract);
    // Sums the rows [0, rows) of the horizontal sums into the window sums.
    void SumRows(int rows);
    // Slides the window sums one row down (`sub` may be null) and finds the best index.
    void SlideAndFindMin(const S* add, const S* sub, int& mind, int64_t& minsad);
    // Whether an index outside mind - 1 .. mind + 1 has a sum within the uniqueness threshold.
    bool IsAmbiguous(const S* sad, int mind, int64_t minsad) const;
    // The column's disparities with the window sums slid in memory, after UpdateRowSums.
    void ComputeColumn(int col);
    // The same with the window sums in kVectors registers of 8 16-bit sums (S is short and
    // ndisp = 8 kVectors), each row's horizontal sums updated just before the window takes it in.
    // Without kChecks there is no texture or uniqueness test and no cost to keep.
    template <int kVectors, bool kChecks>
    void ComputeColumnInRegisters(int col);
    // For that search: row i's horizontal sums gain column addCol's absolute differences and, with
    // kSubtract, lose those of column addCol - wsz, kept in the ring of the last wsz columns; the
    // updated sums are left in h.
    struct ColumnInWork;
    template <int kVectors, bool kSubtract, bool kChecks>
    void UpdateRowInRegisters(const ColumnInWork& column, int i, void* h) const;
    ColumnInWork Column(int addCol) const;
    // Keeps output row y's choice (mind, its sum) for WriteColumn, or, with kChecks, marks the
    // pixel filtered when it fails the texture or uniqueness test and keeps its cost.
    template <bool kChecks>
    void Choose(int y, const S* sad, int mind, int64_t minsad, int64_t tsum, int* costptr);
    // Writes the column's disparities from the per-row values the column left.
    void WriteColumn(short* dptr) const;

    int LeftBase(int col) const { return std::min(std::max(m_g.L + col, 0), m_g.paddedCols - 1); }
    int RightBase(int col) const { return std::min(std::max(m_g.L + col - m_g.maxD, 0), m_g.paddedCols - 1); }

    const Geometry& m_g;
    const uchar* m_lptr0;  // padded left row of the stripe's first window row
    const uchar* m_rptr0;  // padded right row of the same
    size_t m_sstep;        // bytes per padded row
    short* m_dptr;         // output, first row of the stripe
    size_t m_dstep;        // shorts per output row
    int* m_costptr;        // cost of the chosen disparity, null without validation
    size_t m_coststep;     // ints per cost row
    int m_h;               // output rows of the stripe
    int m_nrows;           // window rows of the stripe: h + wsz - 1
    int m_textureThreshold;
    bool m_textured;  // a texture sum is never negative: without a positive threshold none is kept
    int m_uniquenessRatio;
    KernelPath m_path;

    S* m_sad;      // current window sums, ndisp
    S* m_hsad;     // per row, the sums over the window columns, nrows x ndisp; row -1 holds zeros
    int* m_htext;  // per row, the texture sums over the window columns; entry -1 holds 0
    // Per output row of the column in work: the chosen index (-1: the pixel is filtered), the sums
    // beside it (p at index + 1, n at index - 1, mirrored at the ends) and its own.
    int* m_index;
    int* m_p;
    int* m_n;
    int* m_best;
    uchar* m_diffs;     // ring of wsz columns, nrows x ndisp absolute differences each (sums in registers)
    S* m_rowSums;       // the window sums of every output row of the column, h x ndisp (sums in registers)
    int* m_rowTexture;  // the texture sum of every output row of the column (sums in registers)
    int m_tab[256];     // |v - preFilterCap|
};

template <typename S>
StereoCorrespondenceBMFinder<S>::StereoCorrespondenceBMFinder(const cv::Mat& left, const cv::Mat& right, int r0, int r1,
                                                              cv::Mat& disp, cv::Mat& cost,
                                                              const CvStereoBMState& state, const Geometry& geometry,
                                                              uchar* work, KernelPath path)
    : m_g(geometry),
      m_lptr0(left.ptr<uchar>(r0 + geometry.T - geometry.w2)),
      m_rptr0(right.ptr<uchar>(r0 + geometry.T - geometry.w2)),
      m_sstep(left.step[0]),
      m_dptr(disp.ptr<short>(r0)),
      m_dstep(disp.step[0] / sizeof(short)),
      m_costptr(cost.empty() ? nullptr : cost.ptr<int>(r0)),
      m_coststep(cost.empty() ? 0 : cost.step[0] / sizeof(int)),
      m_h(r1 - r0),
      m_nrows(r1 - r0 + geometry.wsz - 1),
      m_textureThreshold(state.textureThreshold),
      m_textured(state.textureThreshold > 0),
      m_uniquenessRatio(state.uniquenessRatio),
      m_path(path)
{
    const size_t ndisp = static_cast<size_t>(m_g.ndisp);
    uchar* p = work;
    m_sad = cv::alignPtr(reinterpret_cast<S*>(p), 16);
    // ndisp is a multiple of 16, so every row of sums stays 16-byte aligned.
    m_hsad = cv::alignPtr(m_sad + ndisp, 16) + ndisp;
    m_htext = cv::alignPtr(reinterpret_cast<int*>(m_hsad + ndisp * m_nrows), 16) + 4;
    m_index = cv::alignPtr(m_htext + m_nrows, 16);
    m_p = cv::alignPtr(m_index + m_h, 16);
    m_n = cv::alignPtr(m_p + m_h, 16);
    m_best = cv::alignPtr(m_n + m_h, 16);
    m_rowTexture = cv::alignPtr(m_best + m_h, 16);
    m_rowSums = cv::alignPtr(reinterpret_cast<S*>(m_rowTexture + m_h), 16);
    m_diffs = cv::alignPtr(reinterpret_cast<uchar*>(m_rowSums + ndisp * m_h), 16);
    for (int v = 0; v < 256; ++v) m_tab[v] = std::abs(v - state.preFilterCap);
}

template <typename S>
void StereoCorrespondenceBMFinder<S>::UpdateRowSumsScalar(int addCol, bool subtract)
{
    const int ndisp = m_g.ndisp;
    const int lb = LeftBase(addCol);
    const int rb = RightBase(addCol);
    const int lbOld = LeftBase(addCol - m_g.wsz);
    const int rbOld = RightBase(addCol - m_g.wsz);
    for (int i = 0; i < m_nrows; ++i) {
        const uchar* lrow = m_lptr0 + i * m_sstep;
        const uchar* rrow = m_rptr0 + i * m_sstep;
        const int lval = lrow[lb];
        const int lvalOld = lrow[lbOld];
        const uchar* r = rrow + rb;
        const uchar* ro = rrow + rbOld;
        S* hs = m_hsad + static_cast<size_t>(i) * ndisp;
        for (int d = 0; d < ndisp; ++d) {
            const int diff = std::abs(lval - r[d]);
            hs[d] = static_cast<S>(hs[d] + diff - (subtract ? std::abs(lvalOld - ro[d]) : 0));
        }
        if (m_textured)
            m_htext[i] += m_tab[lval] - (subtract ? m_tab[lvalOld] : 0);
    }
}

template <typename S>
void StereoCorrespondenceBMFinder<S>::UpdateRowSumsVector(int addCol, bool subtract)
{
#if CV_SIMD128
    const int ndisp = m_g.ndisp;
    const int lb = LeftBase(addCol);
    const int rb = RightBase(addCol);
    const int lbOld = LeftBase(addCol - m_g.wsz);
    const int rbOld = RightBase(addCol - m_g.wsz);
    const cv::v_uint8x16 zero = cv::v_setzero_u8();
    for (int i = 0; i < m_nrows; ++i) {
        const uchar* lrow = m_lptr0 + i * m_sstep;
        const uchar* rrow = m_rptr0 + i * m_sstep;
        const int lval = lrow[lb];
        const int lvalOld = lrow[lbOld];
        const cv::v_uint8x16 lv = cv::v_setall_u8(static_cast<uchar>(lval));
        const cv::v_uint8x16 lvOld = cv::v_setall_u8(static_cast<uchar>(lvalOld));
        const uchar* r = rrow + rb;
        const uchar* ro = rrow + rbOld;
        S* hs = m_hsad + static_cast<size_t>(i) * ndisp;
        if (subtract) {
            for (int d = 0; d < ndisp; d += 16)
                SumVector<S>::Update(hs + d, cv::v_absdiff(cv::v_load(r + d), lv),
                                     cv::v_absdiff(cv::v_load(ro + d), lvOld));
        } else {
            for (int d = 0; d < ndisp; d += 16)
                SumVector<S>::Update(hs + d, cv::v_absdiff(cv::v_load(r + d), lv), zero);
        }
        if (m_textured)
            m_htext[i] += m_tab[lval] - (subtract ? m_tab[lvalOld] : 0);
    }
#else
    UpdateRowSumsScalar(addCol, subtract);
#endif
}

template <typename S>
void StereoCorrespondenceBMFinder<S>::UpdateRowSums(int addCol, bool subtract)
{
    if (m_path == KernelPath::kVector)
        UpdateRowSumsVector(addCol, subtract);
    else
        UpdateRowSumsScalar(addCol, subtract);
}

template <typename S>
void StereoCorrespondenceBMFinder<S>::SumRows(int rows)
{
    const int ndisp = m_g.ndisp;
#if CV_SIMD128
    if (m_path == KernelPath::kVector) {
        using SV = SumVector<S>;
        for (int d = 0; d < ndisp; d += SV::kLanes) {
            typename SV::V sum = SV::All(0);
            for (int i = 0; i < rows; ++i) sum = SV::Add(sum, SV::Load(m_hsad + static_cast<size_t>(i) * ndisp + d));
            SV::Store(m_sad + d, sum);
        }
        return;
    }
#endif
    std::fill(m_sad, m_sad + ndisp, S(0));
    for (int i = 0; i < rows; ++i) {
        const S* hs = m_hsad + static_cast<size_t>(i) * ndisp;
        for (int d = 0; d < ndisp; ++d) m_sad[d] = static_cast<S>(m_sad[d] + hs[d]);
    }
}

template <typename S>
inline void StereoCorrespondenceBMFinder<S>::SlideAndFindMin(const S* add, const S* sub, int& mind, int64_t& minsad)
{
    const int ndisp = m_g.ndisp;
    S* sad = m_sad;
#if CV_SIMD128
    if (m_path == KernelPath::kVector) {
        // The smallest sum first (two independent groups of lanes), then the first index holding it.
        using SV = SumVector<S>;
        using V = typename SV::V;
        constexpr int kLanes = SV::kLanes;
        V minv0 = SV::All(std::numeric_limits<S>::max()), minv1 = minv0;
        for (int d = 0; d < ndisp; d += 2 * kLanes) {
            V s0 = SV::Add(SV::Load(sad + d), SV::Load(add + d));
            V s1 = SV::Add(SV::Load(sad + d + kLanes), SV::Load(add + d + kLanes));
            if (sub) {
                s0 = SV::Sub(s0, SV::Load(sub + d));
                s1 = SV::Sub(s1, SV::Load(sub + d + kLanes));
            }
            SV::Store(sad + d, s0);
            SV::Store(sad + d + kLanes, s1);
            minv0 = cv::v_min(minv0, s0);
            minv1 = cv::v_min(minv1, s1);
        }
        const S best = static_cast<S>(cv::v_reduce_min(cv::v_min(minv0, minv1)));
        const V bestv = SV::All(best);
        int d = 0;
        V found = SV::Load(sad) == bestv;
        while (!cv::v_check_any(found)) {
            d += kLanes;
            found = SV::Load(sad + d) == bestv;
        }
        mind = d + cv::v_scan_forward(found);
        minsad = best;
        return;
    }
#endif
    int best = INT_MAX;
    int bestIndex = 0;
    for (int d = 0; d < ndisp; ++d) {
        const S s = static_cast<S>(sad[d] + add[d] - (sub ? sub[d] : 0));
        sad[d] = s;
        if (s < best) {
            best = s;
            bestIndex = d;
        }
    }
    mind = bestIndex;
    minsad = best;
}

template <typename S>
bool StereoCorrespondenceBMFinder<S>::IsAmbiguous(const S* sad, int mind, int64_t minsad) const
{
    const int ndisp = m_g.ndisp;
    const int64_t thresh = minsad + minsad * m_uniquenessRatio / 100;
    // Every sum fits S, so a threshold beyond S's range admits all of them.
    if (thresh >= std::numeric_limits<S>::max())
        return true;
    auto admitted = [&](int d) { return d >= 0 && d < ndisp && sad[d] <= thresh; };
    const int near = admitted(mind - 1) + admitted(mind) + admitted(mind + 1);
#if CV_SIMD128
    if (m_path == KernelPath::kVector) {
        // Counts the admitted indices lane by lane (a true comparison is -1).
        using SV = SumVector<S>;
        using V = typename SV::V;
        const V threshv = SV::All(static_cast<int>(thresh));
        V count0 = SV::All(0), count1 = count0;
        for (int d = 0; d < ndisp; d += 2 * SV::kLanes) {
            count0 = SV::Sub(count0, SV::Load(sad + d) <= threshv);
            count1 = SV::Sub(count1, SV::Load(sad + d + SV::kLanes) <= threshv);
        }
        return cv::v_reduce_sum(SV::Add(count0, count1)) > near;
    }
#endif
    int count = 0;
    for (int d = 0; d < ndisp; ++d) count += sad[d] <= thresh;
    return count > near;
}

template <typename S>
template <bool kChecks>
inline void StereoCorrespondenceBMFinder<S>::Choose(int y, const S* sad, int mind, int64_t minsad, int64_t tsum,
                                                    int* costptr)
{
    if (kChecks &&
        ((m_textured && tsum < m_textureThreshold) || (m_uniquenessRatio > 0 && IsAmbiguous(sad, mind, minsad)))) {
        m_index[y] = -1;
        m_p[y] = m_n[y] = m_best[y] = 0;
        return;
    }
    const int ndisp = m_g.ndisp;
    m_index[y] = mind;
    m_p[y] = sad[mind + 1 < ndisp ? mind + 1 : ndisp - 2];
    m_n[y] = sad[mind > 0 ? mind - 1 : 1];
    m_best[y] = static_cast<int>(minsad);
    if (kChecks && costptr)
        costptr[y * m_coststep] = static_cast<int>(minsad);
}

template <typename S>
void StereoCorrespondenceBMFinder<S>::ComputeColumn(int col)
{
    const size_t rowStride = static_cast<size_t>(m_g.ndisp);
    const int wsz = m_g.wsz;

    // Window sums of output row 0 without its last row: rows 0 .. wsz - 2 of the stripe.
    SumRows(wsz - 1);
    int64_t tsum = 0;
    for (int i = 0; i < wsz - 1; ++i) tsum += m_htext[i];

    int* costptr = m_costptr ? m_costptr + col : nullptr;
    for (int y = 0; y < m_h; ++y) {
        const S* add = m_hsad + (y + wsz - 1) * rowStride;
        const S* sub = y > 0 ? m_hsad + (y - 1) * rowStride : nullptr;
        if (m_textured)
            tsum += m_htext[y + wsz - 1] - m_htext[y - 1];
        int mind = 0;
        int64_t minsad = 0;
        SlideAndFindMin(add, sub, mind, minsad);
        Choose<true>(y, m_sad, mind, minsad, tsum, costptr);
    }
    WriteColumn(m_dptr + col);
}

// What the update of one row needs of the column coming into the window (and of the one leaving it).
template <typename S>
struct StereoCorrespondenceBMFinder<S>::ColumnInWork {
    const uchar* left;   // padded left row 0 at the new column's base
    const uchar* right;  // padded right row 0 at the new column's base
    size_t step;         // bytes per padded row
    ptrdiff_t oldLeft;   // the leaving column's left base, from the new one's
    uchar* diffs;        // the ring's rows of the new column, which held the leaving column's
    S* hsad;
    int* htext;
    const int* tab;
    bool textured;
};

template <typename S>
typename StereoCorrespondenceBMFinder<S>::ColumnInWork StereoCorrespondenceBMFinder<S>::Column(int addCol) const
{
    const int lb = LeftBase(addCol);
    const size_t slot = static_cast<size_t>(FindEquivalentInIntegersModN(addCol, m_g.wsz));
    return {m_lptr0 + lb,
            m_rptr0 + RightBase(addCol),
            m_sstep,
            LeftBase(addCol - m_g.wsz) - lb,
            m_diffs + slot * m_nrows * m_g.ndisp,
            m_hsad,
            m_htext,
            m_tab,
            m_textured};
}

template <typename S>
template <int kVectors, bool kSubtract, bool kChecks>
inline void StereoCorrespondenceBMFinder<S>::UpdateRowInRegisters(const ColumnInWork& column, int i,
                                                                  void* registers) const
{
#if CV_SIMD128
    if constexpr (kVectors > 0 && std::is_same_v<S, short>) {
        constexpr int kStride = 8 * kVectors;  // = ndisp
        cv::v_int16x8* h = static_cast<cv::v_int16x8*>(registers);
        const uchar* l = column.left + i * column.step;
        const uchar* r = column.right + i * column.step;
        const int lval = *l;
        const cv::v_uint8x16 lv = cv::v_setall_u8(static_cast<uchar>(lval));
        uchar* kept = column.diffs + static_cast<size_t>(i) * kStride;
        short* hs = column.hsad + static_cast<size_t>(i) * kStride;
        for (int k = 0; k < kVectors; k += 2) {
            const cv::v_uint8x16 diff = cv::v_absdiff(cv::v_load(r + 8 * k), lv);
            cv::v_int16x8 delta0, delta1;
            if constexpr (kSubtract) {
                // Prefiltered values lie in 0..126, so the change of a sum fits 8 signed bits.
                const cv::v_uint8x16 old = cv::v_load_aligned(kept + 8 * k);
                cv::v_expand(cv::v_reinterpret_as_s8(diff) - cv::v_reinterpret_as_s8(old), delta0, delta1);
            } else {
                cv::v_uint16x8 wide0, wide1;
                cv::v_expand(diff, wide0, wide1);
                delta0 = cv::v_reinterpret_as_s16(wide0);
                delta1 = cv::v_reinterpret_as_s16(wide1);
            }
            cv::v_store_aligned(kept + 8 * k, diff);
            h[k] = cv::v_add_wrap(cv::v_load_aligned(hs + 8 * k), delta0);
            h[k + 1] = cv::v_add_wrap(cv::v_load_aligned(hs + 8 * k + 8), delta1);
            cv::v_store_aligned(hs + 8 * k, h[k]);
            cv::v_store_aligned(hs + 8 * k + 8, h[k + 1]);
        }
        if (kChecks && column.textured)
            column.htext[i] += column.tab[lval] - (kSubtract ? column.tab[l[column.oldLeft]] : 0);
        return;
    }
#endif
    (void)column, (void)i, (void)registers;
}

template <typename S>
template <int kVectors, bool kChecks>
void StereoCorrespondenceBMFinder<S>::ComputeColumnInRegisters(int col)
{
#if CV_SIMD128
    if constexpr (kVectors > 0 && std::is_same_v<S, short>) {
        static_assert(kVectors % 2 == 0 && kVectors <= 8, "two to eight vectors, in pairs");
        constexpr size_t kStride = 8 * kVectors;  // = ndisp
        const int wsz = m_g.wsz;
        const int addCol = col + m_g.w2;
        const ColumnInWork column = Column(addCol);
        const short* hsad = m_hsad;
        const int* htext = m_htext;
        const bool textured = kChecks && m_textured;
        cv::v_int16x8 h[kVectors];
        auto updateRow = [&](int i) { UpdateRowInRegisters<kVectors, true, kChecks>(column, i, h); };

        // Window sums of output row 0 without its last row: rows 0 .. wsz - 2 of the stripe.
        cv::v_int16x8 sums[kVectors];
        for (int k = 0; k < kVectors; ++k) sums[k] = cv::v_setzero_s16();
        int64_t tsum = 0;
        for (int i = 0; i < wsz - 1; ++i) {
            updateRow(i);
            for (int k = 0; k < kVectors; ++k) sums[k] = cv::v_add_wrap(sums[k], h[k]);
            tsum += htext[i];
        }

        // First the window sums of every row, which depend on the row above, then the choices,
        // which do not depend on one another.
        for (int y = 0; y < m_h; ++y) {
            // The window takes in row y + wsz - 1 and lets go of row y - 1 (row -1 is zeros).
            updateRow(y + wsz - 1);
            const short* sub = hsad + (y - 1) * static_cast<ptrdiff_t>(kStride);
            short* rowSums = m_rowSums + y * kStride;
            for (int k = 0; k < kVectors; ++k) {
                sums[k] = cv::v_sub_wrap(cv::v_add_wrap(sums[k], h[k]), cv::v_load_aligned(sub + 8 * k));
                cv::v_store_aligned(rowSums + 8 * k, sums[k]);
            }
            if (textured) {
                tsum += htext[y + wsz - 1] - htext[y - 1];
                m_rowTexture[y] = static_cast<int>(tsum);
            }
        }

        int* costptr = m_costptr ? m_costptr + col : nullptr;
        for (int y = 0; y < m_h; ++y) {
            const short* rowSums = m_rowSums + y * kStride;
            cv::v_int16x8 v[kVectors];
            for (int k = 0; k < kVectors; ++k) v[k] = cv::v_load_aligned(rowSums + 8 * k);
            // The smallest sum in every lane (the lanes folded onto the first two, which are then
            // spread and folded once more), and its first index from the bit mask of the lanes that
            // hold it.
            cv::v_int16x8 minv = cv::v_min(v[0], v[1]);
            for (int k = 2; k < kVectors; k += 2) minv = cv::v_min(minv, cv::v_min(v[k], v[k + 1]));
            minv = cv::v_min(minv, cv::v_rotate_right<4>(minv));
            minv = cv::v_min(minv, cv::v_rotate_right<2>(minv));
            const cv::v_uint32x4 firstTwo = cv::v_broadcast_element<0>(cv::v_reinterpret_as_u32(minv));
            const cv::v_int16x8 bestv =
                cv::v_min(cv::v_reinterpret_as_s16(firstTwo),
                          cv::v_reinterpret_as_s16(cv::v_shl<16>(firstTwo) | cv::v_shr<16>(firstTwo)));
            const short best = cv::v_extract_n<0>(bestv);
            // Lanes 0..31 and 32..63 in two words (a 64-bit count of trailing zeros is a library
            // call on 32-bit ARM); some lane holds the smallest sum.
            uint32_t lanes[2] = {0, 0};
            for (int k = 0; k < kVectors; k += 2) {
                const cv::v_int8x16 pair = cv::v_pack(v[k] == bestv, v[k + 1] == bestv);
                lanes[k / 4] |= static_cast<uint32_t>(static_cast<uint16_t>(cv::v_signmask(pair))) << (8 * (k % 4));
            }
            const int mind = lanes[0] != 0 ? __builtin_ctz(lanes[0]) : 32 + __builtin_ctz(lanes[1]);
            Choose<kChecks>(y, rowSums, mind, best, textured ? m_rowTexture[y] : 0, costptr);
        }
        WriteColumn(m_dptr + col);
        return;
    }
#endif
    (void)col;
    CV_Error(cv::Error::StsInternal, "the window sums fit no registers");
}

// The disparity is ((ndisp - 1 - index + minD) * 256 + q + 15) >> 4 with q = (p - n) * 256 / k
// truncated toward zero, k = p + n - 2 * best + |p - n| (q = 0 when k is 0), that is
// (ndisp - 1 - index + minD) * 16 + ((q + 15) >> 4), kept to 16 bits. A window sum is at most
// 255 * 255 * 126 < 2^23, so (p - n) * 256 and k fit 32 bits.
template <typename S>
void StereoCorrespondenceBMFinder<S>::WriteColumn(short* dptr) const
{
    const size_t dstep = m_dstep;
    const short filtered = m_g.filtered;
    // ndisp - 1 + minD is the largest disparity, which fits int.
    const int base = m_g.ndisp - 1 + m_g.minD;
    int y = 0;
#if CV_SIMD128
    if (m_path == KernelPath::kVector) {
        // Four quotients at once in float: each is within one of the true one (|q| <= 128), and one
        // exact correction in integers makes it exact.
        const cv::v_int32x4 zero = cv::v_setzero_s32();
        const cv::v_int32x4 one = cv::v_setall_s32(1);
        const cv::v_int32x4 fifteen = cv::v_setall_s32(15);
        const cv::v_int32x4 basev = cv::v_setall_s32(base);
        for (; y + 4 <= m_h; y += 4) {
            const cv::v_int32x4 index = cv::v_load_aligned(m_index + y);
            const cv::v_int32x4 p = cv::v_load_aligned(m_p + y);
            const cv::v_int32x4 n = cv::v_load_aligned(m_n + y);
            const cv::v_int32x4 diff = p - n;
            const cv::v_int32x4 sign = diff >> 31;
            const cv::v_int32x4 magnitude = (diff ^ sign) - sign;
            const cv::v_int32x4 den = p + n - (cv::v_load_aligned(m_best + y) << 1) + magnitude;
            const cv::v_int32x4 stepped = den > zero;
            const cv::v_int32x4 divisor = cv::v_select(stepped, den, one);
            const cv::v_int32x4 dividend = magnitude << 8;
            cv::v_int32x4 q = cv::v_trunc(cv::v_cvt_f32(dividend) / cv::v_cvt_f32(divisor));
            const cv::v_int32x4 rest = dividend - q * divisor;
            q = q + (rest < zero) - (rest >= divisor);
            q = ((q ^ sign) - sign) & stepped;
            const cv::v_int32x4 value = ((basev - index) << 4) + ((q + fifteen) >> 4);
            // The low 16 bits of each value are the even 16-bit lanes.
            const cv::v_int16x8 kept =
                cv::v_reinterpret_as_s16(cv::v_select(index < zero, cv::v_setall_s32(filtered), value));
            short* out = dptr + y * dstep;
            out[0] = cv::v_extract_n<0>(kept);
            out[dstep] = cv::v_extract_n<2>(kept);
            out[2 * dstep] = cv::v_extract_n<4>(kept);
            out[3 * dstep] = cv::v_extract_n<6>(kept);
        }
    }
#endif
    for (; y < m_h; ++y) {
        const int index = m_index[y];
        if (index < 0) {
            dptr[y * dstep] = filtered;
            continue;
        }
        const int p = m_p[y], n = m_n[y];
        const int den = p + n - 2 * m_best[y] + std::abs(p - n);
        const int q = den != 0 ? DivideTruncated((p - n) * 256, den) : 0;
        const uint32_t whole = static_cast<uint32_t>(base - index) << 4;
        dptr[y * dstep] = static_cast<short>(whole + static_cast<uint32_t>((q + 15) >> 4));
    }
}

template <typename S>
void StereoCorrespondenceBMFinder<S>::FindStereoCorrespondence()
{
    const int ndisp = m_g.ndisp;
    std::fill(m_hsad - ndisp, m_hsad + static_cast<size_t>(ndisp) * m_nrows, S(0));
    std::fill(m_htext - 1, m_htext + m_nrows, 0);
    // Columns -w2 - 1 .. w2 - 1 first; each output column then adds column c + w2 and removes c - w2 - 1.
    auto inRegisters = [&](auto vectors) {
#if CV_SIMD128
        constexpr int kVectors = decltype(vectors)::value;
        for (int col = -m_g.w2 - 1; col < m_g.w2; ++col) {
            const ColumnInWork column = Column(col);
            cv::v_int16x8 h[kVectors];
            for (int i = 0; i < m_nrows; ++i) UpdateRowInRegisters<kVectors, false, true>(column, i, h);
        }
        if (m_textured || m_uniquenessRatio > 0 || m_costptr)
            for (int c = 0; c < m_g.width; ++c) ComputeColumnInRegisters<kVectors, true>(c);
        else
            for (int c = 0; c < m_g.width; ++c) ComputeColumnInRegisters<kVectors, false>(c);
#else
        (void)vectors;
#endif
    };
    const bool registers = CV_SIMD128 && m_path == KernelPath::kVector && std::is_same_v<S, short>;
    if (registers && ndisp == 16) {
        inRegisters(std::integral_constant<int, 2>());
    } else if (registers && ndisp == 32) {
        inRegisters(std::integral_constant<int, 4>());
    } else if (registers && ndisp == 48) {
        inRegisters(std::integral_constant<int, 6>());
    } else if (registers && ndisp == 64) {
        inRegisters(std::integral_constant<int, 8>());
    } else {
        for (int col = -m_g.w2 - 1; col < m_g.w2; ++col) UpdateRowSums(col, false);
        for (int c = 0; c < m_g.width; ++c) {
            UpdateRowSums(c + m_g.w2, true);
            ComputeColumn(c);
        }
    }
}

// Runs the search (and the left-right check) on each stripe of the range.
class FindStereoCorrespInvoker : public cv::ParallelLoopBody {
public:
    FindStereoCorrespInvoker(const cv::Mat& left, const cv::Mat& right, cv::Mat& disp, CvStereoBMState* state,
                             int nstripes, size_t stripeBufSize, const Geometry& geometry, KernelPath path)
        : m_left(&left),
          m_right(&right),
          m_disp(&disp),
          m_state(state),
          m_nstripes(nstripes),
          m_stripeBufSize(stripeBufSize),
          m_geometry(geometry),
          m_path(path)
    {
    }

    void operator()(const cv::Range& range) const override
    {
        const int height = m_geometry.height;
        const bool validate = m_state->disp12MaxDiff >= 0;
        const bool shortSums = ShortSumsSuffice(*m_state);
        for (int k = range.start; k < range.end; ++k) {
            const int r0 = std::min(k * height / m_nstripes, height);
            const int r1 = std::min((k + 1) * height / m_nstripes, height);
            if (r0 >= r1)
                continue;
            uchar* work = m_state->slidingSumBuf.ptr<uchar>() + k * m_stripeBufSize;
            cv::Mat cost = validate ? m_state->cost : cv::Mat();
            if (shortSums)
                StereoCorrespondenceBMFinder<short>(*m_left, *m_right, r0, r1, *m_disp, cost, *m_state, m_geometry,
                                                    work, m_path)
                    .FindStereoCorrespondence();
            else
                StereoCorrespondenceBMFinder<int>(*m_left, *m_right, r0, r1, *m_disp, cost, *m_state, m_geometry, work,
                                                  m_path)
                    .FindStereoCorrespondence();
            if (validate) {
                cv::Mat dispStripe = m_disp->rowRange(r0, r1);
                const cv::Mat costStripe = cost.rowRange(r0, r1);
                ValidateDisparityAllRow(dispStripe, costStripe, m_state->minDisparity, m_state->numberOfDisparities,
                                        m_state->disp12MaxDiff);
            }
        }
    }

private:
    const cv::Mat* m_left;     // padded prefiltered left image, owned by the state
    const cv::Mat* m_right;    // padded prefiltered right image, owned by the state
    cv::Mat* m_disp;           // the caller's output (or the state's), image size
    CvStereoBMState* m_state;  // owned by the caller
    int m_nstripes;
    size_t m_stripeBufSize;
    Geometry m_geometry;
    KernelPath m_path;
};

}  // namespace

void findStereoCorrespondenceBM(const cv::Mat& left0, const cv::Mat& right0, cv::Mat& disp0, CvStereoBMState* state)
{
    if (left0.size() != right0.size() || disp0.size() != left0.size())
        RaiseError(cv::Error::StsUnmatchedSizes, "All the images must have the same size", __LINE__);
    if (left0.type() != CV_8UC1 || right0.type() != CV_8UC1)
        RaiseError(cv::Error::StsUnsupportedFormat, "Both input images must have CV_8UC1", __LINE__);
    if (disp0.type() != CV_16SC1 && disp0.type() != CV_32FC1)
        RaiseError(cv::Error::StsUnsupportedFormat, "Disparity image must have CV_16SC1 or CV_32FC1 format", __LINE__);
    if (!state)
        RaiseError(cv::Error::StsNullPtr, "Stereo BM state is NULL.", __LINE__);
    if (state->preFilterType != kStereoBMNormalizedResponse && state->preFilterType != kStereoBMXSobel)
        RaiseError(cv::Error::StsOutOfRange, "preFilterType must be = CV_STEREO_BM_NORMALIZED_RESPONSE", __LINE__);
    if (state->preFilterSize < 5 || state->preFilterSize > 255 || state->preFilterSize % 2 == 0)
        RaiseError(cv::Error::StsOutOfRange, "preFilterSize must be odd and be within 5..255", __LINE__);
    if (state->preFilterCap < 1 || state->preFilterCap > 63)
        RaiseError(cv::Error::StsOutOfRange, "preFilterCap must be within 1..63", __LINE__);
    if (state->SADWindowSize < 5 || state->SADWindowSize > 255 || state->SADWindowSize % 2 == 0 ||
        state->SADWindowSize >= std::min(left0.cols, left0.rows))
        RaiseError(cv::Error::StsOutOfRange,
                   "SADWindowSize must be odd, be within 5..255 and be not larger than image width or height",
                   __LINE__);
    if (state->numberOfDisparities <= 0 || state->numberOfDisparities % 16 != 0)
        RaiseError(cv::Error::StsOutOfRange, "numberOfDisparities must be positive and divisble by 16", __LINE__);
    if (state->textureThreshold < 0)
        RaiseError(cv::Error::StsOutOfRange, "texture threshold must be non-negative", __LINE__);
    if (state->uniquenessRatio < 0)
        RaiseError(cv::Error::StsOutOfRange, "uniqueness ratio must be non-negative", __LINE__);

    const Geometry g = MakeGeometry(*state, left0.size());
    const cv::Size padded(g.paddedCols, g.paddedRows);
    if (state->preFilteredImg0.empty() || state->preFilteredImg0.size() != padded) {
        state->preFilteredImg0.release();
        state->preFilteredImg1.release();
        state->preFilteredImg0.create(padded, CV_8UC1);
        state->preFilteredImg1.create(padded, CV_8UC1);
    }
    // The cost follows the image size, which can change while the padded size stays.
    if (state->cost.size() != left0.size() || state->cost.type() != CV_32SC1) {
        state->cost.release();
        state->cost.create(left0.size(), CV_32SC1);
    }

    cv::Mat* disp = &disp0;
    if (disp0.type() == CV_32FC1) {
        if (state->disp.empty() || state->disp.size() != disp0.size() || state->disp.type() != CV_16SC1)
            state->disp.create(disp0.size(), CV_16SC1);
        disp = &state->disp;
    }

    const bool speckles = state->speckleRange >= 0 && state->speckleWindowSize > 0;
    const size_t stripeBufSize = StripeBufferSize(g, *state);
    const size_t prefilterBufSize = (static_cast<size_t>(g.paddedCols) + state->preFilterSize + 2) * sizeof(int) + 256;
    const size_t speckleBufSize = speckles ? static_cast<size_t>(9) * g.paddedRows * g.paddedCols : 0;
    const int nstripes = StripeCount(g);
    const size_t total = std::max({nstripes * stripeBufSize, 2 * prefilterBufSize, speckleBufSize});
    if (total > static_cast<size_t>(INT_MAX))
        RaiseError(cv::Error::StsOutOfRange, "disparity range is too large for the image buffers", __LINE__);
    if (state->slidingSumBuf.empty() || static_cast<size_t>(state->slidingSumBuf.cols) < total)
        state->slidingSumBuf.create(1, static_cast<int>(total), CV_8UC1);

    if (state->preFilterType == kStereoBMXSobel) {
        prefilterXSobel(left0, state->preFilteredImg0, g.L, g.T, state->preFilterCap);
        prefilterXSobel(right0, state->preFilteredImg1, g.L, g.T, state->preFilterCap);
    } else {
        uchar* buf = state->slidingSumBuf.ptr<uchar>();
        const cv::Rect inside(g.L, g.T, g.width, g.height);
        cv::Mat* images[2] = {&state->preFilteredImg0, &state->preFilteredImg1};
        const cv::Mat* sources[2] = {&left0, &right0};
        for (int i = 0; i < 2; ++i) {
            cv::Mat roi = (*images[i])(inside);
            prefilterNorm(*sources[i], roi, state->preFilterSize, state->preFilterCap, buf + i * prefilterBufSize);
            for (int y = g.T; y < g.T + g.height; ++y) {
                uchar* row = images[i]->ptr<uchar>(y);
                FillColumns(row, 0, g.L, g.L);
                FillColumns(row, g.L + g.width, g.paddedCols, g.L + g.width - 1);
            }
            FillRowsAround(*images[i], g.T, g.T + g.height - 1);
        }
    }

    FindStereoCorrespInvoker invoker(state->preFilteredImg0, state->preFilteredImg1, *disp, state, nstripes,
                                     stripeBufSize, g, AlgoLibrary::ActiveKernelPath());
    if (nstripes == 1)
        invoker(cv::Range(0, 1));
    else
        cv::parallel_for_(cv::Range(0, nstripes), invoker, nstripes);

    if (speckles)
        cv::filterSpeckles(*disp, g.filtered, state->speckleWindowSize, state->speckleRange, state->slidingSumBuf);
    if (disp != &disp0)
        disp->convertTo(disp0, disp0.type(), 1.0 / 16);
}

StereoBMWithoutStripes::StereoBMWithoutStripes() : state(cvCreateStereoBMState(0, 0)) {}

StereoBMWithoutStripes::StereoBMWithoutStripes(int preset, int ndisparities, int SADWindowSize)
{
    init(preset, ndisparities, SADWindowSize);
}

void StereoBMWithoutStripes::init(int preset, int ndisparities, int SADWindowSize)
{
    state = cvCreateStereoBMState(preset, ndisparities);
    state->SADWindowSize = SADWindowSize;
}

void StereoBMWithoutStripes::operator()(cv::InputArray left, cv::InputArray right, cv::OutputArray disparity,
                                        int disptype)
{
    const cv::Mat left0 = left.getMat();
    const cv::Mat right0 = right.getMat();
    CV_Assert(disptype == CV_16S || disptype == CV_32F);
    disparity.create(left0.size(), disptype);
    cv::Mat disp0 = disparity.getMat();
    findStereoCorrespondenceBM(left0, right0, disp0, state);
}

}  // namespace stereo
