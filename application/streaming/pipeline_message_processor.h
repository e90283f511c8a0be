#pragma once

#include <gstreamermm/element.h>

#include "application/runtime/base_thread.h"
#include "application/streaming/bin.h"

namespace streaming {

// The thread "th_" + bin name that runs one top-level bin's pipeline: PAUSED, preroll, PLAYING,
// then it watches the bus until it is told to stop. An error message or the end of the stream
// ends the thread with a BinException; the pipeline is set to NULL whenever the thread ends.
class PipelineMessageProcessor : public BaseThread {
public:
    // Refuses a bin whose pipeline has been added into another bin.
    PipelineMessageProcessor(Bin& bin, ThreadManager& manager);

protected:
    void ThreadFunc() override;

private:
    // What one wait on the bus is waiting for, and what it has seen so far.
    struct BusWait {
        bool blocking;             // wait for messages; a progress report switches it on
        bool do_progress;          // an open progress report keeps the wait going
        Gst::State target_state;   // PAUSED while prerolling, PLAYING afterwards
        bool prerolled;            // the pipeline reached PAUSED (always true unless prerolling)
        bool in_progress = false;  // a progress report is open
        bool buffering = false;    // a buffering report below 100 percent is open
    };

    void RunPipeline();
    // Handles bus messages until the wait described by the arguments is over (true) or a stop
    // was requested (false). Errors and the end of the stream are thrown.
    bool EventLoop(bool blocking, bool do_progress, Gst::State target_state);
    // One message; true when it ends the wait. Each kind has its own handler below.
    bool HandleMessage(GstMessage* message, BusWait& wait);
    bool OnBuffering(GstMessage* message, BusWait& wait);
    bool OnStateChanged(GstMessage* message, BusWait& wait);
    bool OnProgress(GstMessage* message, BusWait& wait);
    void OnRequestState(GstMessage* message);
    void OnClockLost();
    // After a refused PAUSED: throws the first error the bus carries, waiting a moment for one
    // that is posted late, else `fallback`.
    [[noreturn]] void ThrowFirstBusError(const std::string& fallback);

    Bin& m_bin;  // owned by the start-up code, outlives this thread
    bool m_is_live = false;
};

}  // namespace streaming
