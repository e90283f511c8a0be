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
    void RunPipeline();
    // Handles bus messages until the wait described by the arguments is over (true) or a stop
    // was requested (false). Errors and the end of the stream are thrown.
    bool EventLoop(bool blocking, bool do_progress, Gst::State target_state);

    Bin& m_bin;  // owned by the start-up code, outlives this thread
    bool m_is_live = false;
};

}  // namespace streaming
