#pragma once

#include <exception>
#include <thread>

#if !defined(FLOWTALLY_VIEWS_ON_PLAIN_THREADS)
#include <tbb/blocked_range.h>
#include <tbb/parallel_for.h>
#include <tbb/partitioner.h>
#endif

#include "StereoAnalyzer/StereoMatchers/left_or_right_view.h"

namespace stereo {

// Calls body(view) for the left and the right view concurrently and returns when both are done;
// an exception of either view reaches the caller (the left view's when both fail).
//
// The views run as two TBB tasks. In the ThreadSanitizer build (FLOWTALLY_VIEWS_ON_PLAIN_THREADS)
// the right view runs on a plain thread of its own instead: TBB's pool is not instrumented, so its
// hand-overs between threads would show up as false data races.
template <typename Body>
void RunBothViewsInParallel(const Body& body)
{
#if defined(FLOWTALLY_VIEWS_ON_PLAIN_THREADS)
    std::exception_ptr failure[kViewsNum];
    auto run = [&](eLeftOrRightView view) {
        try {
            body(view);
        } catch (...) {
            failure[view] = std::current_exception();
        }
    };
    std::thread right(run, kRightView);
    run(kLeftView);
    right.join();
    for (const std::exception_ptr& e : failure) {
        if (e)
            std::rethrow_exception(e);
    }
#else
    tbb::parallel_for(
        tbb::blocked_range<int>(0, kViewsNum, 1),
        [&body](const tbb::blocked_range<int>& range) {
            for (int view = range.begin(); view != range.end(); ++view) body(static_cast<eLeftOrRightView>(view));
        },
        tbb::auto_partitioner());
#endif
}

}  // namespace stereo
