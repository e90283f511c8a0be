#include "StereoAnalyzer/StereoPeopleCounter/convex_shell.h"

#include <cstdlib>

namespace AlgoLibrary {
namespace convex_shell_helpers {

int FindNextPoint(const std::vector<cv::Point>& points, const cv::Point& current, const cv::Point& direction,
                  int previous)
{
    int best = -1;
    long long best_c = 0, best_t = 0;
    for (int i = 0; i < static_cast<int>(points.size()); ++i) {
        if (i == previous || points[i] == current)
            continue;
        const long long ox = points[i].x - current.x, oy = points[i].y - current.y;
        const long long c = static_cast<long long>(direction.x) * oy - static_cast<long long>(direction.y) * ox;
        const long long t = static_cast<long long>(direction.x) * ox + static_cast<long long>(direction.y) * oy;
        if (c == 0 && t < 0)
            continue;  // straight behind
        if (best < 0) {
            best = i, best_c = c, best_t = t;
            continue;
        }
        // Candidate i turns less than the best when |c|·t_best < t·|c_best|; of equal turns the
        // nearer one wins (smaller |t|, or smaller |c| at right angles).
        const long long lhs = std::llabs(c) * best_t, rhs = t * std::llabs(best_c);
        bool better = lhs < rhs;
        if (lhs == rhs)
            better = t != 0 || best_t != 0 ? std::llabs(t) < std::llabs(best_t) : std::llabs(c) < std::llabs(best_c);
        if (better)
            best = i, best_c = c, best_t = t;
    }
    return best;
}

bool GetConvexShellImpl(const std::vector<cv::Point>& points, std::vector<cv::Point>& shell)
{
    shell.clear();
    if (points.size() < 4) {
        shell = points;
        return false;
    }
    int start = 0;
    for (int i = 1; i < static_cast<int>(points.size()); ++i)
        if (points[i].y > points[start].y || (points[i].y == points[start].y && points[i].x < points[start].x))
            start = i;
    shell.push_back(points[start]);
    int current = start, previous = -1;
    cv::Point direction(1, 0);
    // Each step adds one point; a shell has at most as many points as the input.
    for (size_t step = 0; step <= points.size(); ++step) {
        const int next = FindNextPoint(points, points[current], direction, previous);
        if (next < 0)
            return false;
        if (points[next] == points[start])
            return true;
        direction = points[next] - points[current];
        previous = current;
        current = next;
        shell.push_back(points[current]);
    }
    return false;
}

}  // namespace convex_shell_helpers
}  // namespace AlgoLibrary
