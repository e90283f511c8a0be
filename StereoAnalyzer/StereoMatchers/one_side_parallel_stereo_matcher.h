#pragma once

#include "StereoAnalyzer/StereoMatchers/stereo_matcher_adapter.h"

namespace stereo {

// A matcher whose two views are matched concurrently, one task per view; the call returns when
// both are done. An exception of either view reaches the caller.
class OneSideParallelStereoMatcher : public StereoMatcherAdapter {
protected:
    void CalcDispTwoSidesAlgoRun() override;
};

}  // namespace stereo
