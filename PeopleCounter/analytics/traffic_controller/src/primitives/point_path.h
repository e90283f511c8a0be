#pragma once

#include <cstdint>
#include <list>

#include "CommonUtilities/ParameterAccess/parameter_value_types.h"
#include "CommonUtilities/algorithm_support/mem_manager.h"

// Numeric descriptions of a point path of the point tracker: the forecast of its position, the
// block averages that tell whether it stands still, and its extent.

// A path's positions, oldest first, in the algorithms' memory pool.
using PositionList = std::list<AlgoLibrary::TPoint<int>, AlgoLibrary::MemManager::Allocator<AlgoLibrary::TPoint<int>>>;

// One past position of a path with its time (100-ns ticks).
struct Sample {
    AlgoLibrary::TPoint<int> point;
    int64_t time;
};

// The forecast of a path's position: where it is now, and the inverse covariance of that guess
// (the squared distance of (x, y) from it is xx dx dx + 2 xy dx dy + yy dy dy).
struct PathPrediction {
    float x;
    float y;
    float xx;
    float yy;
    float xy;
};

// Least-squares line through the history (newest first, 1 to 7 entries) against the entries' ages,
// evaluated at age 0. Throws std::logic_error "Wrong history size" for another count.
PathPrediction Predict(const Sample* history, int count, int64_t now);
PathPrediction Predict(const Sample* history, int count, uint32_t now);

// A position averaged in blocks of N samples that detects standing still: once an average exists,
// `near_stop` samples within R of it stop the averaging, and `far_resume` samples beyond R resume it.
struct AVG_POINT {
    AVG_POINT(int n, int r, int far_reset_count, int near_stop_count, int far_resume_count, int near_reset_count)
        : N(n),
          R(r),
          far_reset(far_reset_count),
          near_stop(near_stop_count),
          far_resume(far_resume_count),
          near_reset(near_reset_count)
    {
    }

    void update(AlgoLibrary::TPoint<int> p);

    int N;
    int R;
    int far_reset;
    int near_stop;
    int far_resume;
    int near_reset;
    AlgoLibrary::TPoint<int> average{0, 0};
    AlgoLibrary::TPoint<int> sum{0, 0};
    int count = 0;
    bool has_average = false;
    int near_count = 0;
    int far_count = 0;
    bool stopped = false;
    bool last_near = false;
};

// Extent, in pixels, of the newest min(size, limit) positions along their main axis; 0 for fewer
// than two positions.
float GetPathDiameter(const PositionList& positions, int limit);
