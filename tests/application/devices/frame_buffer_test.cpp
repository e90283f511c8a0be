#include "application/devices/frame_buffer.h"

#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <memory>
#include <opencv2/core.hpp>
#include <stdexcept>
#include <string>
#include <vector>

#include "application/runtime/thread_manager.h"
#include "support/log_capture.h"
#include "support/polling.h"

namespace {

// A frame-buffer driver with a 64x48 visible area panned to (8, 50) of an 80x100 virtual screen, 16 bytes
// of padding after every line, and 32 bits per pixel until told otherwise.
class FakeFrameBufferDriver : public IFrameBufferDriver {
public:
    static constexpr unsigned kPadding = 16;

    FakeFrameBufferDriver() : m_memory(LineLength(32) * 100, 0)
    {
        m_variable.xres = 64;
        m_variable.yres = 48;
        m_variable.xres_virtual = 80;
        m_variable.yres_virtual = 100;
        m_variable.xoffset = 8;
        m_variable.yoffset = 50;
        m_variable.bits_per_pixel = 32;
    }

    int GetFixedScreenInfo(int, fb_fix_screeninfo& info) override
    {
        if (m_fail_fixed_info)
            return -1;
        info = fb_fix_screeninfo{};
        info.smem_len = static_cast<std::uint32_t>(m_memory.size());
        info.line_length = LineLength(m_variable.bits_per_pixel);
        return 0;
    }
    int GetVariableScreenInfo(int, fb_var_screeninfo& info) override
    {
        info = m_variable;
        return 0;
    }
    int PutVariableScreenInfo(int, fb_var_screeninfo& info) override
    {
        if (m_accepts_16_bits)
            m_variable.bits_per_pixel = info.bits_per_pixel;
        return 0;
    }
    void* Map(int, std::size_t length) override
    {
        if (m_fail_map || length != m_memory.size())
            return MAP_FAILED;
        return m_memory.data();
    }
    int Unmap(void*, std::size_t) override
    {
        ++m_unmaps;
        return 0;
    }

    // The 16-bit pixel at (x, y) of the virtual screen.
    std::uint16_t Pixel(int x, int y) const
    {
        const std::size_t offset = LineLength(16) * y + x * 2;
        return static_cast<std::uint16_t>(m_memory[offset] | (m_memory[offset + 1] << 8));
    }

    bool m_accepts_16_bits = true;
    bool m_fail_fixed_info = false;
    bool m_fail_map = false;
    int m_unmaps = 0;

private:
    std::uint32_t LineLength(std::uint32_t bits_per_pixel) const { return 80 * bits_per_pixel / 8 + kPadding; }

    fb_var_screeninfo m_variable{};
    std::vector<unsigned char> m_memory;
};

constexpr std::uint16_t kRed565 = 0xF800;
constexpr std::uint16_t kBlue565 = 0x001F;
constexpr std::uint16_t kWhite565 = 0xFFFF;

std::shared_ptr<cv::Mat> Image(int rows, int cols, int type, const cv::Scalar& value)
{
    return std::make_shared<cv::Mat>(rows, cols, type, value);
}

class FrameBufferTest : public ::testing::Test {
protected:
    FrameBufferTest()
    {
        m_device_path = std::filesystem::temp_directory_path() / ("flowtally-fb-" + std::to_string(::getpid()));
        std::ofstream(m_device_path) << "";
        m_manager.m_exception_callback = [](std::shared_ptr<BaseThread>, const std::exception* error) {
            ADD_FAILURE() << "display thread failed: " << (error ? error->what() : "unknown exception");
        };
    }
    ~FrameBufferTest() override { std::filesystem::remove(m_device_path); }

    std::shared_ptr<FrameBuffer> Start()
    {
        return m_manager.CreateThread<FrameBuffer>(m_device_path.string(), "hdmi", m_driver);
    }

    std::string SetUpError()
    {
        try {
            Start();
        } catch (const std::runtime_error& error) {
            return error.what();
        }
        return "no error";
    }

    int SkippedFrames() const
    {
        int count = 0;
        for (const auto& line : m_log.Lines()) count += line.rfind("[hdmi, warning] Frame skipped: ", 0) == 0 ? 1 : 0;
        return count;
    }

    // Queues a picture that is always refused and waits for its warning, after those of the `refused`
    // pictures queued before it: everything queued before it has been drawn by then.
    void WaitUntilDrawn(FrameBuffer& frame_buffer, int refused = 0)
    {
        frame_buffer.DrawFrame(Image(1, 1, CV_16UC1, cv::Scalar(0)), cv::Point(0, 0), 1.0f);
        testing_support::WaitUntil([&] { return SkippedFrames() > refused; });
        ASSERT_EQ(SkippedFrames(), refused + 1);
    }

    testing_support::LogCapture m_log;
    std::filesystem::path m_device_path;
    std::shared_ptr<FakeFrameBufferDriver> m_driver = std::make_shared<FakeFrameBufferDriver>();
    ThreadManager m_manager;
};

TEST_F(FrameBufferTest, DrawsRgb565PixelsAtThePannedOffsetsOfPaddedLines)
{
    auto frame_buffer = Start();
    // Two columns: blue, then red.
    auto picture = Image(3, 2, CV_8UC3, cv::Scalar(255, 0, 0));
    picture->col(1).setTo(cv::Scalar(0, 0, 255));
    frame_buffer->DrawFrame(picture, cv::Point(5, 7), 1.0f);
    // Grey, doubled, ending exactly at the right and bottom edges.
    frame_buffer->DrawFrame(Image(2, 2, CV_8UC1, cv::Scalar(255)), cv::Point(60, 44), 2.0f);
    WaitUntilDrawn(*frame_buffer);

    for (int row = 0; row < 3; ++row) {
        EXPECT_EQ(m_driver->Pixel(8 + 4, 50 + 7 + row), 0) << "row " << row;
        EXPECT_EQ(m_driver->Pixel(8 + 5, 50 + 7 + row), kBlue565) << "row " << row;
        EXPECT_EQ(m_driver->Pixel(8 + 6, 50 + 7 + row), kRed565) << "row " << row;
        EXPECT_EQ(m_driver->Pixel(8 + 7, 50 + 7 + row), 0) << "row " << row;
    }
    EXPECT_EQ(m_driver->Pixel(8 + 5, 50 + 6), 0);
    EXPECT_EQ(m_driver->Pixel(8 + 5, 50 + 10), 0);
    for (int y = 44; y < 48; ++y)
        for (int x = 60; x < 64; ++x) EXPECT_EQ(m_driver->Pixel(8 + x, 50 + y), kWhite565) << x << "," << y;
}

TEST_F(FrameBufferTest, PictureThatCannotBeDrawnIsSkippedAndDrawingGoesOn)
{
    auto frame_buffer = Start();
    const cv::Scalar red(0, 0, 255);
    frame_buffer->DrawFrame(Image(2, 5, CV_8UC3, red), cv::Point(60, 0), 1.0f);
    frame_buffer->DrawFrame(Image(5, 2, CV_8UC3, red), cv::Point(0, 44), 1.0f);
    frame_buffer->DrawFrame(Image(2, 2, CV_8UC3, red), cv::Point(-1, 0), 1.0f);
    frame_buffer->DrawFrame(Image(2, 2, CV_8UC4, red), cv::Point(0, 0), 1.0f);
    frame_buffer->DrawFrame(Image(2, 2, CV_8UC3, red), cv::Point(0, 0), 0.0f);
    frame_buffer->DrawFrame(Image(1, 1, CV_8UC3, red), cv::Point(1, 1), 1.0f);
    WaitUntilDrawn(*frame_buffer, 5);

    EXPECT_TRUE(m_log.Contains("[hdmi, warning] Frame skipped: x coordinate is too large."));
    EXPECT_TRUE(m_log.Contains("[hdmi, warning] Frame skipped: y coordinate is too large."));
    EXPECT_TRUE(m_log.Contains("[hdmi, warning] Frame skipped: Top-left coordinate is negative."));
    EXPECT_EQ(m_log.Count("[hdmi, warning] Frame skipped: Bad frame type."), 2);
    EXPECT_EQ(m_driver->Pixel(8 + 1, 50 + 1), kRed565);
    EXPECT_EQ(m_driver->Pixel(8 + 60, 50 + 0), 0);
}

TEST_F(FrameBufferTest, SetUpFailuresAreReportedAndTheMappingIsReleased)
{
    m_driver->m_accepts_16_bits = false;
    EXPECT_EQ(SetUpError(), "Framebuffer device does not accept 16 bits per pixel.");
    m_driver->m_accepts_16_bits = true;
    m_driver->m_fail_map = true;
    EXPECT_EQ(SetUpError(), "Failed to map framebuffer device to memory.");
    m_driver->m_fail_fixed_info = true;
    EXPECT_EQ(SetUpError(), "Error reading fixed information.");
    EXPECT_EQ(m_driver->m_unmaps, 0);

    m_driver->m_fail_fixed_info = m_driver->m_fail_map = false;
    Start()->Terminate(true);
    EXPECT_EQ(m_driver->m_unmaps, 1);

    std::filesystem::remove(m_device_path);
    EXPECT_EQ(SetUpError(), "Cannot open framebuffer device.");
}

TEST(FrameBufferScaleTest, IntegerQuotientOfTheWidthsAndAFittingScaleOnlyForWiderImages)
{
    struct Case {
        int slot_width;
        int image_width;
        float scale;
    };
    const Case cases[] = {
        {640, 640, 1.0f}, {640, 480, 1.0f}, {640, 320, 2.0f}, {640, 300, 2.0f}, {640, 160, 4.0f},
        {320, 160, 2.0f}, {320, 200, 1.0f}, {320, 640, 0.5f}, {320, 400, 0.8f}, {640, 1280, 0.5f},
        {640, 0, 1.0f},
    };
    for (const Case& c : cases)
        EXPECT_FLOAT_EQ(FrameBuffer::ScaleForSlot(c.slot_width, c.image_width), c.scale)
            << c.slot_width << " / " << c.image_width;
}

}  // namespace
