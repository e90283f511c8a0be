#include "application/streaming/source.h"

#include <atomic>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <gst/gst.h>

#include "application/runtime/mat_utils.h"
#include "application/streaming/pipeline_message_processor.h"
#include "application/streaming/streaming_test_support.h"

namespace {

using streaming_test::LogCapture;
using streaming_test::RunUntilFailure;
using streaming_test::WaitUntil;

constexpr int kFrames = 10;

std::string FiniteCapture(int frames, int width = 320, int height = 240)
{
    return "videotestsrc num-buffers=" + std::to_string(frames) +
           " ! capsfilter caps=\"video/x-raw,format=I420,width=" + std::to_string(width) +
           ",height=" + std::to_string(height) + ",framerate=25/1\" name=tail";
}

std::string CapsFormat(const Glib::RefPtr<Gst::Sample>& sample)
{
    GstCaps* caps = gst_sample_get_caps(sample->gobj());
    const gchar* format = gst_structure_get_string(gst_caps_get_structure(caps, 0), "format");
    return format ? format : "";
}

class SourceTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(streaming::InitGstreamer()); }
};

TEST_F(SourceTest, SubscribersOfOneFormatShareOneBranchAndSeeEveryFrameInOrder)
{
    streaming::Source source("cap", FiniteCapture(kFrames));
    std::mutex mutex;
    std::vector<std::string> calls;
    source.DoOnFrame(
        [&](Glib::RefPtr<Gst::Sample> sample, unsigned long long) {
            std::lock_guard<std::mutex> lock(mutex);
            calls.push_back("first " + CapsFormat(sample));
        },
        "GRAY8");
    source.DoOnFrame(
        [&](Glib::RefPtr<Gst::Sample>, unsigned long long) {
            std::lock_guard<std::mutex> lock(mutex);
            calls.push_back("second");
        },
        "GRAY8");

    auto pipeline = source.GetPipeline();
    EXPECT_TRUE(pipeline->get_element("Src_GRAY8cap"));
    EXPECT_TRUE(pipeline->get_element("GRAY8cap"));
    EXPECT_EQ(GST_BIN_NUMCHILDREN(GST_BIN(pipeline->gobj())), 3) << "source, tail and one branch, no tee";

    EXPECT_EQ(RunUntilFailure(source), "Bin [cap]: Got EOS");
    ASSERT_EQ(calls.size(), 2u * kFrames);
    for (int i = 0; i < kFrames; ++i) {
        EXPECT_EQ(calls[2 * i], "first GRAY8");
        EXPECT_EQ(calls[2 * i + 1], "second");
    }
}

}  // namespace

namespace {

TEST_F(SourceTest, EachFormatGetsItsOwnBranchBehindATee)
{
    streaming::Source source("cap", FiniteCapture(kFrames));
    std::atomic<int> bgr{0};
    std::atomic<int> native{0};
    std::vector<unsigned long long> timestamps;
    source.DoOnFrame(
        [&](Glib::RefPtr<Gst::Sample> sample, unsigned long long timestamp) {
            bgr += CapsFormat(sample) == "BGR" ? 1 : 0;
            timestamps.push_back(timestamp);
        },
        "BGR");
    source.DoOnFrame(
        [&](Glib::RefPtr<Gst::Sample> sample, unsigned long long) { native += CapsFormat(sample) == "I420" ? 1 : 0; });

    auto pipeline = source.GetPipeline();
    auto converting = Glib::RefPtr<Gst::Bin>::cast_dynamic(pipeline->get_element("Src_BGRcap"));
    auto plain = Glib::RefPtr<Gst::Bin>::cast_dynamic(pipeline->get_element("Src_IDcap"));
    ASSERT_TRUE(converting);
    ASSERT_TRUE(plain);
    EXPECT_EQ(GST_BIN_NUMCHILDREN(GST_BIN(converting->gobj())), 3) << "videoconvert, capsfilter, appsink";
    EXPECT_EQ(GST_BIN_NUMCHILDREN(GST_BIN(plain->gobj())), 1) << "appsink alone";
    EXPECT_TRUE(pipeline->get_element("qu_Src_BGRcap"));
    EXPECT_TRUE(pipeline->get_element("qu_Src_IDcap"));

    EXPECT_EQ(RunUntilFailure(source), "Bin [cap]: Got EOS");
    EXPECT_EQ(bgr.load(), kFrames);
    EXPECT_EQ(native.load(), kFrames);
    ASSERT_GE(timestamps.size(), 2u);
    EXPECT_EQ(timestamps[1] - timestamps[0], 40000000u) << "25 frames per second";
}

TEST_F(SourceTest, ChildBinsBehindTheTeeReceiveEveryFrame)
{
    streaming::Source capture("cap", FiniteCapture(kFrames));
    auto first = std::make_shared<streaming::Source>("first", "videoconvert name=tail");
    auto second = std::make_shared<streaming::Source>("second", "identity name=tail");
    std::atomic<int> first_frames{0};
    std::atomic<int> second_frames{0};
    std::atomic<int> capture_frames{0};
    first->DoOnFrame([&](Glib::RefPtr<Gst::Sample>, unsigned long long) { ++first_frames; });
    second->DoOnFrame([&](Glib::RefPtr<Gst::Sample>, unsigned long long) { ++second_frames; });
    capture.AddBin(first);
    capture.AddBin(second);
    capture.DoOnFrame([&](Glib::RefPtr<Gst::Sample>, unsigned long long) { ++capture_frames; }, "GRAY8");

    EXPECT_EQ(RunUntilFailure(capture), "Bin [cap]: Got EOS");
    EXPECT_EQ(first_frames.load(), kFrames);
    EXPECT_EQ(second_frames.load(), kFrames);
    EXPECT_EQ(capture_frames.load(), kFrames);
}

// Frames of both raw formats come out with the right size and unsheared rows, whether or not
// their rows need padding.
class SourceFrameSizeTest : public SourceTest, public ::testing::WithParamInterface<int> {};

TEST_P(SourceFrameSizeTest, FramesKeepTheirSizeAndRowAlignment)
{
    const int width = GetParam();
    const int height = 120;
    // The upper two thirds of the SMPTE pattern are vertical bars: those rows are all equal.
    streaming::Source source("cap",
                             "videotestsrc num-buffers=3 pattern=smpte ! capsfilter caps=\"video/x-raw,"
                             "format=I420,width=" +
                                 std::to_string(width) + ",height=" + std::to_string(height) + "\" name=tail");
    std::mutex mutex;
    MatrixPtr gray;
    MatrixPtr bgr;
    source.DoOnFrame(
        [&](Glib::RefPtr<Gst::Sample> sample, unsigned long long) {
            auto mat = CreateMatrixFromGstBuffer(
                sample, [](int w, int h, unsigned char* data) { return cv::Mat(h, w, CV_8UC1, data, w); });
            std::lock_guard<std::mutex> lock(mutex);
            gray = mat;
        },
        "GRAY8");
    source.DoOnFrame(
        [&](Glib::RefPtr<Gst::Sample> sample, unsigned long long) {
            auto mat = CreateMatrixFromGstBuffer(
                sample, [](int w, int h, unsigned char* data) { return cv::Mat(h, w, CV_8UC3, data, 3 * w); });
            std::lock_guard<std::mutex> lock(mutex);
            bgr = mat;
        },
        "BGR");

    EXPECT_EQ(RunUntilFailure(source), "Bin [cap]: Got EOS");
    std::lock_guard<std::mutex> lock(mutex);
    ASSERT_TRUE(gray && bgr);
    EXPECT_EQ(gray->size(), cv::Size(width, height));
    EXPECT_EQ(bgr->size(), cv::Size(width, height));
    for (int row = 1; row < height / 2; ++row) {
        ASSERT_EQ(cv::countNonZero(gray->row(row) != gray->row(0)), 0) << "GRAY8 row " << row;
        cv::Mat bgr_diff;
        cv::absdiff(bgr->row(row), bgr->row(0), bgr_diff);
        ASSERT_EQ(cv::countNonZero(bgr_diff.reshape(1)), 0) << "BGR row " << row;
    }
}

INSTANTIATE_TEST_SUITE_P(Widths, SourceFrameSizeTest, ::testing::Values(320, 318, 161));

TEST_F(SourceTest, UnparsableFormatIsRefusedEachTime)
{
    streaming::Source source("cap", FiniteCapture(kFrames));
    auto subscribe = [&] {
        try {
            source.DoOnFrame([](Glib::RefPtr<Gst::Sample>, unsigned long long) {}, "GRAY 8");
        } catch (const streaming::BinException& error) {
            return std::string(error.what());
        }
        return std::string("no error");
    };
    EXPECT_EQ(subscribe(), "Bin [cap]: Unable to create capabilities for GRAY 8");
    EXPECT_EQ(subscribe(), "Bin [cap]: Unable to create capabilities for GRAY 8");
    EXPECT_FALSE(source.GetPipeline()->get_element("Src_GRAY 8cap"));
}

TEST_F(SourceTest, FailingSubscriberStopsThePipelineThroughItsErrorPath)
{
    LogCapture log;
    streaming::Source source("cap",
                             "videotestsrc is-live=true ! capsfilter caps=\"video/x-raw,width=64,height=48\" "
                             "name=tail");
    std::atomic<int> calls{0};
    source.DoOnFrame(
        [&](Glib::RefPtr<Gst::Sample>, unsigned long long) {
            ++calls;
            throw std::runtime_error("subscriber broke");
        },
        "GRAY8");

    const std::string failure = RunUntilFailure(source);
    EXPECT_EQ(failure.rfind("Bin [cap]: GStreamer error: ", 0), 0u) << failure;
    EXPECT_EQ(calls.load(), 1) << "no frame is delivered after the failure";
    EXPECT_EQ(log.Count("[cap] Frame delivery failed: subscriber broke"), 1u);
}

}  // namespace
