#pragma once

#include <opencv2/core.hpp>
#include <vector>

namespace AlgoLibrary {
namespace convex_shell_helpers {

// One step of the gift wrapping: the index of the point that turns least from `direction` as seen
// from `current` (the nearest of equal turns), skipping the previous shell point, points at the
// current position and points straight behind it; -1 when there is none.
int FindNextPoint(const std::vector<cv::Point>& points, const cv::Point& current, const cv::Point& direction,
                  int previous);

// The convex shell of the points by gift wrapping, from the lowest point (largest y, then smallest
// x) towards the right as seen on the picture; points on an edge are kept in order along it. With
// fewer than 4 points the shell is the input as it is, and the result is false; false also when
// the walk cannot close.
bool GetConvexShellImpl(const std::vector<cv::Point>& points, std::vector<cv::Point>& shell);

}  // namespace convex_shell_helpers
}  // namespace AlgoLibrary
