#include "StereoAnalyzer/StereoMatchers/one_side_parallel_stereo_matcher.h"

#include "StereoAnalyzer/StereoMatchers/views_in_parallel.h"

namespace stereo {

void OneSideParallelStereoMatcher::CalcDispTwoSidesAlgoRun()
{
    RunBothViewsInParallel([this](eLeftOrRightView view) { CalcDispOneSideAlgoRun(view); });
}

}  // namespace stereo
