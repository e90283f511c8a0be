#include "StereoAnalyzer/StereoMatchers/one_side_parallel_stereo_matcher.h"

#include <tbb/blocked_range.h>
#include <tbb/parallel_for.h>
#include <tbb/partitioner.h>

namespace stereo {

void OneSideParallelStereoMatcher::CalcDispTwoSidesAlgoRun()
{
    tbb::parallel_for(
        tbb::blocked_range<int>(0, kViewsNum, 1),
        [this](const tbb::blocked_range<int>& range) {
            for (int view = range.begin(); view != range.end(); ++view)
                CalcDispOneSideAlgoRun(static_cast<eLeftOrRightView>(view));
        },
        tbb::auto_partitioner());
}

}  // namespace stereo
