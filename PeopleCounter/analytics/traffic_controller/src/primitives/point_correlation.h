#pragma once

#include <cstdint>

#include "CommonUtilities/algorithm_support/kernel_path.h"
#include "CommonUtilities/algorithm_support/mem_manager.h"
#include "PeopleCounter/analytics/traffic_controller/src/primitives/point_path.h"

// Likeness of the image around a point of one frame and around a point of the next: smaller is
// more alike; kNoMatch when the points cannot be compared. Images are width-byte rows.
namespace Correlation {

constexpr float kNoMatch = 3.4028235e38f;

// Mode 0: the trimmed-median difference at b itself. Any other mode: a local search of up to three
// steps around b for the smallest sum-normalised difference.
float BestCorrelation(int width, const avector<unsigned char>& A, const avector<unsigned char>& B, float scale,
                      const AlgoLibrary::TPoint<int>& a, AlgoLibrary::TPoint<int> b, int mode);

// Sum-normalised absolute difference of the 15 x 15 windows around a in A and b in B, from 0
// (equal shapes, whatever the brightness) to 2. The scale is not used.
float CorrelatePoints(int width, const avector<unsigned char>& A, const avector<unsigned char>& B, float scale,
                      const AlgoLibrary::TPoint<int>& a, const AlgoLibrary::TPoint<int>& b);

// ((mean of the 180 smallest of the 225 absolute differences) / scale) squared. Throws
// exc::KIVException for a scale that is not positive.
float CorrelatePointsByMedian(int width, const avector<unsigned char>& A, const avector<unsigned char>& B, float scale,
                              const AlgoLibrary::TPoint<int>& a, const AlgoLibrary::TPoint<int>& b);

namespace detail {

// Sums of the two 15 x 15 windows (rows `width` bytes apart) and the sum of |a x SB - b x SA| over
// them; false when a window is black. Reads nothing outside the two windows.
bool WindowDifference(const unsigned char* wa, const unsigned char* wb, int width, AlgoLibrary::KernelPath path,
                      int64_t& sa, int64_t& sb, int64_t& difference);

}  // namespace detail

}  // namespace Correlation
