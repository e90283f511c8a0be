#include "application/runtime/buffer_wrapper.h"

#include <cstring>
#include <stdexcept>
#include <vector>

#include <gstreamermm/init.h>
#include <gtest/gtest.h>

#include "application/runtime/gst_sample_factory.h"

namespace {

using streaming_test::BufferWatch;
using streaming_test::MakeSample;

TEST(GstreamerBufferWrapperTest, ReadsTheSampleInPlaceAndKeepsItsBuffer)
{
    ASSERT_TRUE(Gst::init_check());
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
    ASSERT_TRUE(Gst::init_check());
    auto empty = Glib::wrap(gst_sample_new(nullptr, nullptr, nullptr, nullptr), false);
    try {
        GstreamerBufferWrapper wrapper(empty);
        FAIL() << "no exception";
    } catch (const std::runtime_error& error) {
        EXPECT_STREQ(error.what(), "Unable to get sample buffer");
    }
}

}  // namespace
