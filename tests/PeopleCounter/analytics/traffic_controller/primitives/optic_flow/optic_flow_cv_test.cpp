#include "PeopleCounter/analytics/traffic_controller/src/primitives/optic_flow/optic_flow_cv.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "CommonUtilities/DebugInterfaces/recording_log.h"
#include "CommonUtilities/ParameterAccess/load_parameters.h"
#include "CommonUtilities/ParameterAccess/temp_ini_dir.h"
#include "CommonUtilities/algorithm_support/block_traverse.h"
#include "CommonUtilities/algorithm_support/kiv_exception.h"
#include "PeopleCounter/analytics/traffic_controller/primitives/textured_blob.h"

namespace {

constexpr int kW = TexturedBlobScene::kWidth;
constexpr int kH = TexturedBlobScene::kHeight;

// Yields the objects once each and then null, from the start again after the null.
COpticFlowCV::Objects Yield(const std::vector<PointWithId>& objects)
{
    auto next = std::make_shared<std::size_t>(0);
    return [objects, next]() -> const PointWithId* {
        if (*next < objects.size())
            return &objects[(*next)++];
        *next = 0;
        return nullptr;
    };
}

class OpticFlowCVTest : public ::testing::Test {
protected:
    void Load(const std::string& section)
    {
        flow.GetModifiableContext().SetName("OpticFlow");
        BlockEntities::TraverseSetContexts(&flow);
        flow.SetDebugInterfaces(BlockEntities::DebugInterfaces(log, nullptr, nullptr));
        ParamsLib::load_parameters(dir.Write("algo.ini", "[OpticFlow]\n" + section).c_str(), 0, &flow, log);
    }

    // The object's centre with y counted from the bottom row.
    static PointWithId Object(int64_t id, int cx, int cy) { return PointWithId{id, cx, kH - 1 - cy}; }

    COpticFlowCV flow;
    std::shared_ptr<RecordingLog> log = std::make_shared<RecordingLog>();
    TempIniDir dir;
    TexturedBlobScene scene;
    std::vector<unsigned char> frame;
};

TEST_F(OpticFlowCVTest, ParametersAndSetUp)
{
    Load("");
    std::vector<std::string> defaults;
    flow.ForEachParameter(
        [&defaults](ParamsLib::BaseParameter& p) { defaults.push_back(p.GetName() + "=" + p.GetDefaultText()); });
    EXPECT_EQ(defaults,
              (std::vector<std::string>{"fixed_point=true", "cv_term_iter=20", "cv_term_eps=0.02",
                                        "object_radius_multiplier=0.416667", "point_step_factor=2",
                                        "window_radius_multiplier=0.208333", "min_point_shift_multiplier=0.020833"}));
    try {
        flow.Process(nullptr, Yield({}));
        ADD_FAILURE() << "processed before set-up";
    } catch (const std::logic_error& e) {
        EXPECT_STREQ(e.what(), "COpticFlow is not initialized.");
    }

    flow.Init(kW, kH, 24.f);
    EXPECT_EQ(flow.GetObjectRadius(), 10);
    EXPECT_EQ(flow.GetWindowRadius(), 5);
    EXPECT_NEAR(flow.GetMinPointShift(), 0.5f, 1e-4f);
    ASSERT_EQ(log->lines.size(), 1u);
    EXPECT_EQ(log->lines[0].level, kKivLogInfo);
    EXPECT_EQ(log->lines[0].text, "\nobject_radius = 10\nwindow_radius = 5\nmin_point_shift = 0.499992");

    Load("point_step_factor=0\n");
    EXPECT_THROW(flow.Init(kW, kH, 24.f), exc::KIVException);
    Load("point_step_factor=30\n");
    EXPECT_NO_THROW(flow.Init(kW, kH, 24.f)) << "R below the factor gives a step of 1";
}

TEST_F(OpticFlowCVTest, MovingBlobHasAGoodFlowFromItsThirdFrameAndNotWhenStill)
{
    struct Case {
        const char* fixed;
        int width;  // 157: rows that are not a multiple of 4 bytes
    };
    for (const Case c : {Case{"true", kW}, Case{"false", kW}, Case{"true", 157}}) {
        Load(std::string("fixed_point=") + c.fixed + "\n");
        flow.Init(c.width, kH, 24.f);
        int cx = 40;
        const int cy = 60;
        std::vector<unsigned char> cropped(static_cast<std::size_t>(c.width * kH));
        for (int n = 1; n <= 20; ++n) {
            if (n <= 12)
                cx += 3;
            scene.Render(cx, cy, frame);
            for (int y = 0; y < kH; ++y) std::copy_n(frame.begin() + y * kW, c.width, cropped.begin() + y * c.width);
            flow.Process(cropped.data(), Yield({Object(7, cx, cy)}));
            ASSERT_EQ(flow.m_good_flow.size(), 1u);
            // The flow of frames 12 -> 13 is the first without motion; it is judged at frame 14.
            const bool expected = n >= 3 && n <= 13;
            EXPECT_EQ(flow.m_good_flow.at(7), expected)
                << "fixed_point=" << c.fixed << " width " << c.width << " frame " << n;
        }
    }
}

TEST_F(OpticFlowCVTest, ObjectsWithoutPointsOrWithSpreadingFlowAreNotGood)
{
    Load("");
    flow.Init(kW, kH, 24.f);
    // Texture everywhere (3 x 3 cells of random grey), so that every seed can be followed.
    std::mt19937 random(11);
    std::uniform_int_distribution<int> grey(20, 235);
    std::vector<int> cells((kW / 3 + 1) * (kH / 3 + 1));
    for (int& c : cells) c = grey(random);
    frame.resize(kW * kH);
    for (int y = 0; y < kH; ++y)
        for (int x = 0; x < kW; ++x)
            frame[static_cast<std::size_t>(y * kW + x)] =
                static_cast<unsigned char>(cells[static_cast<std::size_t>((y / 3) * (kW / 3 + 1) + x / 3)]);
    // No objects: an empty result, and the frame still becomes the previous one.
    flow.Process(frame.data(), Yield({}));
    EXPECT_TRUE(flow.m_good_flow.empty());
    EXPECT_EQ(flow.GetPointCount(), 0);

    // A still scene: every seed of a 5 x 5 grid (step 5) is followed.
    flow.Process(frame.data(), Yield({Object(1, 80, 60)}));
    EXPECT_FALSE(flow.m_good_flow.at(1)) << "a new object";
    EXPECT_EQ(flow.GetPointCount(), 25);

    // Near the border only the grid points at least W = 5 inside are seeded: columns 7 and 12 of
    // a centre at x = 2; rows 109 and 114 of a centre on the bottom row (y = 0).
    flow.Process(frame.data(), Yield({Object(2, 2, 60), PointWithId{3, 80, 0}}));
    EXPECT_EQ(flow.m_good_flow.count(1), 0u) << "object 1 is gone";
    EXPECT_FALSE(flow.m_good_flow.at(2));
    EXPECT_EQ(flow.GetPointCount(), 2 * 5 + 5 * 2);

    // A zoom about the centre: the points move apart, their sum cancels out.
    std::vector<unsigned char> zoomed(frame.size());
    for (int y = 0; y < kH; ++y)
        for (int x = 0; x < kW; ++x) {
            const int sx = 80 + (x - 80) * 4 / 5;
            const int sy = 60 + (y - 60) * 4 / 5;
            zoomed[static_cast<std::size_t>(y * kW + x)] = frame[static_cast<std::size_t>(sy * kW + sx)];
        }
    flow.Process(frame.data(), Yield({Object(4, 80, 60)}));
    flow.Process(zoomed.data(), Yield({Object(4, 80, 60)}));
    flow.Process(zoomed.data(), Yield({Object(4, 80, 60)}));
    EXPECT_FALSE(flow.m_good_flow.at(4));
}

}  // namespace
