// In the ThreadSanitizer build OpenCV's own parallel loops run on the calling thread: its pool is
// not instrumented, so its hand-overs between threads would show up as false data races. The two
// stereo views still run concurrently, on plain threads.
#include <gtest/gtest.h>

#include <opencv2/core.hpp>

#if defined(FLOWTALLY_VIEWS_ON_PLAIN_THREADS)
namespace {

class SerialOpenCVLoops : public ::testing::Environment {
public:
    void SetUp() override { cv::setNumThreads(0); }
};

const ::testing::Environment* const kSerialOpenCVLoops = ::testing::AddGlobalTestEnvironment(new SerialOpenCVLoops);

}  // namespace
#endif
