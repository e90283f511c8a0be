#include "application/buffer_wrapper.h"

#include <cstring>
#include <stdexcept>
#include <vector>

#include <gtest/gtest.h>

#include "application/streaming/bin.h"
#include "application/streaming/gst_sample_factory.h"

namespace {

using streaming_test::BufferWatch;
using streaming_test::MakeSample;

TEST(MatBufferWrapperTest, CoversTheWholeMatrix)
{
    auto gray = std::make_shared<cv::Mat>(120, 160, CV_8UC1);
    MatBufferWrapper gray_bytes(gray);
    EXPECT_EQ(gray_bytes.GetSize(), 19200u);
    EXPECT_EQ(gray_bytes.GetData(), gray->data);

    MatBufferWrapper bgr_bytes(std::make_shared<cv::Mat>(240, 320, CV_8UC3));
    EXPECT_EQ(bgr_bytes.GetSize(), 230400u);
}

TEST(GstreamerBufferWrapperTest, ReadsTheSampleInPlaceAndKeepsItsBuffer)
{
    ASSERT_TRUE(streaming::InitGstreamer());
    const std::vector<unsigned char> bytes{1, 2, 3, 4, 5};
    auto sample = MakeSample(bytes, "image/jpeg");
    BufferWatch watch(gst_sample_get_buffer(sample->gobj()));

    auto wrapper = std::make_unique<GstreamerBufferWrapper>(sample);
    sample.reset();
    EXPECT_FALSE(watch.Freed());
    ASSERT_EQ(wrapper->GetSize(), bytes.size());
    EXPECT_EQ(std::memcmp(wrapper->GetData(), bytes.data(), bytes.size()), 0);
    wrapper.reset();
    EXPECT_TRUE(watch.Freed());
}

TEST(GstreamerBufferWrapperTest, SampleWithoutBufferIsRefused)
{
    ASSERT_TRUE(streaming::InitGstreamer());
    auto empty = Glib::wrap(gst_sample_new(nullptr, nullptr, nullptr, nullptr), false);
    try {
        GstreamerBufferWrapper wrapper(empty);
        FAIL() << "no exception";
    } catch (const std::runtime_error& error) {
        EXPECT_STREQ(error.what(), "Unable to get sample buffer");
    }
}

TEST(DataBufferWrapperTest, OwnsItsBytes)
{
    DataBufferWrapper wrapper(std::vector<unsigned char>{7, 8, 9});
    wrapper.GetData()[0] = 6;
    const IBufferWrapper& view = wrapper;
    EXPECT_EQ(view.GetSize(), 3u);
    EXPECT_EQ(view.GetData()[0], 6);
}

}  // namespace
