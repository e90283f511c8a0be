#include "application/outputs/image_output.h"

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>
#include <string>
#include <thread>
#include <vector>

#include "application/runtime/thread_manager.h"
#include "support/stream_client.h"

namespace {

std::string EncodeJpeg(const cv::Scalar& colour)
{
    std::vector<unsigned char> bytes;
    cv::imencode(".jpg", cv::Mat(48, 64, CV_8UC3, colour), bytes);
    return std::string(bytes.begin(), bytes.end());
}

class ImageOutputTest : public ::testing::Test {
protected:
    ThreadManager m_manager;
    const unsigned short m_port = FreeLoopbackPort();
    const std::shared_ptr<ImageOutput> m_output = m_manager.CreateThread<ImageOutput>(m_port, "image");
};

TEST_F(ImageOutputTest, EachClientReceivesTheWholeNewestJpegAndThenEndOfFile)
{
    const std::string first = EncodeJpeg(cv::Scalar(0, 0, 255));
    const std::string second = EncodeJpeg(cv::Scalar(255, 0, 0));
    m_output->SendFrame(MakeBuffer(first));
    for (const std::string& expected : {first, first}) {
        StreamClient client(m_port);
        const auto received = client.Read();
        EXPECT_EQ(received.bytes, expected);
        EXPECT_TRUE(received.closed_by_server);
    }

    m_output->SendFrame(MakeBuffer(second));
    EXPECT_EQ(StreamClient(m_port).Read().bytes, second);
}

TEST_F(ImageOutputTest, ClientsThatComeBeforeTheFirstImageReceiveIt)
{
    StreamClient early(m_port);
    StreamClient later(m_port);
    // Give the service time to accept both; each then waits for an image.
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    const std::string jpeg = EncodeJpeg(cv::Scalar(0, 255, 0));
    m_output->SendFrame(MakeBuffer(jpeg));

    for (StreamClient* client : {&early, &later}) {
        const auto received = client->Read();
        EXPECT_EQ(received.bytes, jpeg);
        EXPECT_TRUE(received.closed_by_server);
    }
}

}  // namespace
