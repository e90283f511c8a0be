#include "application/devices/hid_device.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "application/devices/scripted_hid_api.h"

namespace {

using std::chrono::milliseconds;

std::string ErrorOf(const std::function<void()>& action)
{
    try {
        action();
    } catch (const std::runtime_error& error) {
        return error.what();
    }
    return "no error";
}

class HidDeviceTest : public ::testing::Test {
protected:
    HidDeviceTest() { m_api->AddDevice(kBoard); }

    static constexpr ScriptedHidApi::Id kBoard{0x0483, 0x5711};
    std::shared_ptr<ScriptedHidApi> m_api = std::make_shared<ScriptedHidApi>();
};

TEST_F(HidDeviceTest, CensusCubeTriesMakerIdentityFirstAndReleasesWhatItOpened)
{
    {
        CensusCubeHidDevice device(m_api);
    }
    EXPECT_EQ(m_api->OpenAttempts(),
              (std::vector<ScriptedHidApi::Id>{{CensusCubeHidDevice::kMakerVendorId, 0}, kBoard}));
    EXPECT_EQ(m_api->Unreleased(), 0);

    m_api->AddDevice({CensusCubeHidDevice::kMakerVendorId, 0});
    {
        CensusCubeHidDevice device(m_api);
    }
    EXPECT_EQ(m_api->OpenAttempts().size(), 3u);
}

TEST_F(HidDeviceTest, MissingDeviceThrowsCannotOpenAndHoldsNothing)
{
    auto absent = std::make_shared<ScriptedHidApi>();
    EXPECT_EQ(ErrorOf([&] { CensusCubeHidDevice device(absent); }), "HID Device error: Cannot open HID device");
    EXPECT_EQ(ErrorOf([&] { HidDevice device({}, absent); }), "HID Device error: Cannot open HID device");
    EXPECT_EQ(absent->OpenAttempts().size(), 2u);
    EXPECT_EQ(absent->Unreleased(), 0);
}

TEST_F(HidDeviceTest, GetReportSkipsOtherIdsAndInterruptionsAndCopiesThePayload)
{
    m_api->Queue({{3, 9, 9, 9}});
    m_api->Queue({{}, EINTR});
    m_api->Queue({{4, 1, 2, 3}});
    HidDevice device(kBoard.first, kBoard.second, m_api);

    unsigned char payload[3] = {};
    device.GetReport(payload, 3, 4, 2000);
    EXPECT_EQ(std::vector<unsigned char>(payload, payload + 3), (std::vector<unsigned char>{1, 2, 3}));
}

TEST_F(HidDeviceTest, GetReportRefusesLateMissingAndShortReports)
{
    HidDevice device(kBoard.first, kBoard.second, m_api);
    unsigned char payload[3] = {};

    // The wanted report comes only after the allowance is spent.
    m_api->Queue({{4, 1, 2, 3}, 0, milliseconds(60)});
    EXPECT_EQ(ErrorOf([&] { device.GetReport(payload, 3, 4, 50); }), "HID read timeout");

    m_api->Queue({});
    EXPECT_EQ(ErrorOf([&] { device.GetReport(payload, 3, 4, 2000); }), "HID read timeout");

    m_api->Queue({{4, 1, 2}});
    EXPECT_EQ(ErrorOf([&] { device.GetReport(payload, 3, 4, 2000); }), "Incorrect number of bytes read for HID report");

    m_api->Queue({{}, EIO});
    EXPECT_EQ(ErrorOf([&] { device.GetReport(payload, 3, 4, 2000); }), "HID Device error: device unplugged");

    // The device stays usable after each failure.
    m_api->Queue({{4, 7, 8, 9}});
    device.GetReport(payload, 3, 4, 2000);
    EXPECT_EQ(payload[2], 9);
}

}  // namespace
