#include "PeopleCounter/analytics/traffic_controller/src/primitives/point_correlation.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>

#include "CommonUtilities/algorithm_support/kiv_exception.h"

namespace Correlation {

namespace {

constexpr int kHalf = 7;        // the windows are 15 x 15
constexpr int kMaxOffset = 21;  // points this far apart on an axis are never compared
constexpr int kKept = 180;      // differences summed by the trimmed median

int ImageHeight(int width, const avector<unsigned char>& A, const avector<unsigned char>& B)
{
    if (width <= 0)
        return 0;
    return static_cast<int>(std::min(A.size(), B.size()) / static_cast<std::size_t>(width));
}

// The 15 x 15 window around p lies inside the image.
bool WindowInside(const AlgoLibrary::TPoint<int>& p, int width, int height)
{
    return p.x >= kHalf && p.x < width - kHalf && p.y >= kHalf && p.y < height - kHalf;
}

bool Comparable(int width, int height, const AlgoLibrary::TPoint<int>& a, const AlgoLibrary::TPoint<int>& b)
{
    return std::abs(a.x - b.x) < kMaxOffset && std::abs(a.y - b.y) < kMaxOffset && WindowInside(a, width, height) &&
           WindowInside(b, width, height);
}

}  // namespace

float CorrelatePoints(int width, const avector<unsigned char>& A, const avector<unsigned char>& B, float scale,
                      const AlgoLibrary::TPoint<int>& a, const AlgoLibrary::TPoint<int>& b)
{
    (void)scale;
    const int height = ImageHeight(width, A, B);
    if (!Comparable(width, height, a, b))
        return kNoMatch;
    const unsigned char* wa = A.data() + static_cast<std::ptrdiff_t>(a.y - kHalf) * width + (a.x - kHalf);
    const unsigned char* wb = B.data() + static_cast<std::ptrdiff_t>(b.y - kHalf) * width + (b.x - kHalf);
    int64_t sa = 0, sb = 0;
    for (int y = 0; y < 2 * kHalf + 1; ++y) {
        const unsigned char* ra = wa + static_cast<std::ptrdiff_t>(y) * width;
        const unsigned char* rb = wb + static_cast<std::ptrdiff_t>(y) * width;
        for (int x = 0; x < 2 * kHalf + 1; ++x) {
            sa += ra[x];
            sb += rb[x];
        }
    }
    // A black window has no shape to compare.
    if (sa == 0 || sb == 0)
        return kNoMatch;
    int64_t difference = 0;
    for (int y = 0; y < 2 * kHalf + 1; ++y) {
        const unsigned char* ra = wa + static_cast<std::ptrdiff_t>(y) * width;
        const unsigned char* rb = wb + static_cast<std::ptrdiff_t>(y) * width;
        for (int x = 0; x < 2 * kHalf + 1; ++x) {
            const int64_t d = ra[x] * sb - rb[x] * sa;
            difference += d < 0 ? -d : d;
        }
    }
    return static_cast<float>(static_cast<double>(difference) / static_cast<double>(sa * sb));
}

float CorrelatePointsByMedian(int width, const avector<unsigned char>& A, const avector<unsigned char>& B, float scale,
                              const AlgoLibrary::TPoint<int>& a, const AlgoLibrary::TPoint<int>& b)
{
    KIV_CHECK(scale > 0.f, "CorrelationScale_151012_100420")
        << "the median correlation needs a positive scale, got" << static_cast<double>(scale);
    const int height = ImageHeight(width, A, B);
    if (!Comparable(width, height, a, b))
        return kNoMatch;
    int differences[(2 * kHalf + 1) * (2 * kHalf + 1)];
    int n = 0;
    for (int y = -kHalf; y <= kHalf; ++y) {
        const unsigned char* ra = A.data() + static_cast<std::ptrdiff_t>(a.y + y) * width + a.x;
        const unsigned char* rb = B.data() + static_cast<std::ptrdiff_t>(b.y + y) * width + b.x;
        for (int x = -kHalf; x <= kHalf; ++x) differences[n++] = std::abs(ra[x] - rb[x]);
    }
    std::nth_element(differences, differences + kKept, differences + n);
    int sum = 0;
    for (int i = 0; i < kKept; ++i) sum += differences[i];
    const float value = (static_cast<float>(sum) / kKept) / scale;
    return value * value;
}

float BestCorrelation(int width, const avector<unsigned char>& A, const avector<unsigned char>& B, float scale,
                      const AlgoLibrary::TPoint<int>& a, AlgoLibrary::TPoint<int> b, int mode)
{
    if (mode == 0)
        return CorrelatePointsByMedian(width, A, B, scale, a, b);
    const int height = ImageHeight(width, A, B);
    if (!WindowInside(a, width, height))
        return kNoMatch;

    // Offsets from the start already scored: three steps of one pixel stay within +-3.
    bool visited[7][7] = {};
    float best = kNoMatch;
    AlgoLibrary::TPoint<int> current = b;
    for (int pass = 0; pass < 3; ++pass) {
        int move_x = 0, move_y = 0;
        for (int dy = -1; dy <= 1; ++dy) {
            for (int dx = -1; dx <= 1; ++dx) {
                const AlgoLibrary::TPoint<int> p{current.x + dx, current.y + dy};
                bool& seen = visited[p.y - b.y + 3][p.x - b.x + 3];
                if (seen || !WindowInside(p, width, height))
                    continue;
                seen = true;
                const float score = CorrelatePoints(width, A, B, scale, a, p);
                if (score < best) {
                    best = score;
                    move_x = dx;
                    move_y = dy;
                }
            }
        }
        if (move_x == 0 && move_y == 0)
            return best;
        current.x += move_x;
        current.y += move_y;
    }
    return best;
}

}  // namespace Correlation
