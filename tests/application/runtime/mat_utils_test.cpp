#include "application/runtime/mat_utils.h"

#include <stdexcept>
#include <string>
#include <vector>

#include <gstreamermm/init.h>
#include <gtest/gtest.h>

#include <gst/gst.h>

#include "application/runtime/gst_sample_factory.h"

namespace {

using streaming_test::BufferWatch;
using streaming_test::MakeSample;

cv::Mat Gray8Header(int width, int height, unsigned char* data)
{
    return cv::Mat(height, width, CV_8UC1, data, width);
}

// Rows of `row_bytes` pixel bytes, each padded to `stride` with 0xEE.
std::vector<unsigned char> PaddedRows(int height, int row_bytes, int stride)
{
    std::vector<unsigned char> bytes(static_cast<std::size_t>(height * stride), 0xEE);
    for (int r = 0; r < height; ++r)
        for (int c = 0; c < row_bytes; ++c) bytes[r * stride + c] = static_cast<unsigned char>((r * 7 + c) % 200);
    return bytes;
}

std::string VideoCaps(const char* format, int width, int height)
{
    return std::string("video/x-raw,format=") + format + ",width=" + std::to_string(width) +
           ",height=" + std::to_string(height) + ",framerate=25/1";
}

const unsigned char* MappedData(const Glib::RefPtr<Gst::Sample>& sample)
{
    GstBuffer* buffer = gst_sample_get_buffer(sample->gobj());
    GstMapInfo info;
    gst_buffer_map(buffer, &info, GST_MAP_READ);
    const unsigned char* data = info.data;
    gst_buffer_unmap(buffer, &info);
    return data;
}

int RefCount(const Glib::RefPtr<Gst::Sample>& sample)
{
    return GST_MINI_OBJECT_REFCOUNT_VALUE(gst_sample_get_buffer(sample->gobj()));
}

std::string ErrorOf(const Glib::RefPtr<Gst::Sample>& sample)
{
    try {
        CreateMatrixFromGstBuffer(sample, &Gray8Header);
    } catch (const std::runtime_error& error) {
        return error.what();
    }
    return "no error";
}

class CreateMatrixFromGstBufferTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(Gst::init_check()); }
};

TEST_F(CreateMatrixFromGstBufferTest, PaddedGray8RowsAreNotSheared)
{
    // Raw video rows are padded to 4 bytes: 318 pixels take 320 bytes per row.
    auto sample = MakeSample(PaddedRows(6, 318, 320), VideoCaps("GRAY8", 318, 6));
    MatrixPtr mat = CreateMatrixFromGstBuffer(sample, &Gray8Header);

    ASSERT_EQ(mat->cols, 318);
    ASSERT_EQ(mat->rows, 6);
    EXPECT_EQ(mat->step[0], 320u);
    EXPECT_EQ(mat->data, MappedData(sample)) << "pixels are viewed in place";
    for (int r = 0; r < 6; ++r)
        for (int c = 0; c < 318; ++c) ASSERT_EQ(mat->at<unsigned char>(r, c), (r * 7 + c) % 200) << r << "," << c;
}

TEST_F(CreateMatrixFromGstBufferTest, UnpaddedFrameIsAContinuousViewOfTheBuffer)
{
    auto sample = MakeSample(PaddedRows(4, 320, 320), VideoCaps("GRAY8", 320, 4));
    MatrixPtr mat = CreateMatrixFromGstBuffer(sample, &Gray8Header);

    EXPECT_TRUE(mat->isContinuous());
    EXPECT_EQ(mat->data, MappedData(sample));
    EXPECT_EQ(mat->at<unsigned char>(3, 319), (3 * 7 + 319) % 200);
}

TEST_F(CreateMatrixFromGstBufferTest, BufferLivesUntilTheLastMatrixCopyIsGone)
{
    auto sample = MakeSample(PaddedRows(2, 8, 8), VideoCaps("GRAY8", 8, 2));
    BufferWatch watch(gst_sample_get_buffer(sample->gobj()));

    MatrixPtr first = CreateMatrixFromGstBuffer(sample, &Gray8Header);
    MatrixPtr second = first;
    sample.reset();
    first.reset();
    EXPECT_FALSE(watch.Freed());
    EXPECT_EQ(second->at<unsigned char>(1, 7), (7 + 7) % 200);
    second.reset();
    EXPECT_TRUE(watch.Freed());
}

TEST_F(CreateMatrixFromGstBufferTest, MalformedSamplesAreRefusedWithoutKeepingTheBuffer)
{
    auto no_height = MakeSample(PaddedRows(2, 8, 8), "video/x-raw,format=GRAY8,width=8");
    const int references = RefCount(no_height);
    EXPECT_EQ(ErrorOf(no_height), "Unable to get sample width or height");
    EXPECT_EQ(RefCount(no_height), references);

    auto too_short = MakeSample(PaddedRows(2, 320, 320), VideoCaps("GRAY8", 320, 240));
    EXPECT_EQ(ErrorOf(too_short), "Sample buffer is smaller than its caps describe");
    EXPECT_EQ(RefCount(too_short), references);

    EXPECT_EQ(ErrorOf(MakeSample(PaddedRows(2, 8, 8), "")), "Empty caps!");

    GstCaps* caps = gst_caps_from_string(VideoCaps("GRAY8", 8, 2).c_str());
    auto no_buffer = Glib::wrap(gst_sample_new(nullptr, caps, nullptr, nullptr), false);
    gst_caps_unref(caps);
    EXPECT_EQ(ErrorOf(no_buffer), "Unable to get sample buffer");
}

TEST(WrapMatrixTest, KeepsTheOwnerOfViewedMemoryAlive)
{
    auto owner = std::make_shared<cv::Mat>(4, 4, CV_8UC1, cv::Scalar(5));
    std::weak_ptr<cv::Mat> watch = owner;
    MatrixPtr view = WrapMatrix((*owner)(cv::Rect(1, 1, 2, 2)), owner);
    owner.reset();

    EXPECT_FALSE(watch.expired());
    EXPECT_EQ(view->at<unsigned char>(1, 1), 5);
    view.reset();
    EXPECT_TRUE(watch.expired());
}

}  // namespace
