#include "PeopleCounter/analytics/traffic_controller/src/traffic_controller.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <opencv2/core.hpp>
#include <sstream>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "CommonUtilities/algorithm_support/kernel_path.h"
#include "CommonUtilities/algorithm_support/kiv_exception.h"
#include "PeopleCounter/analytics/traffic_controller/traffic_controller_harness.h"

namespace {

constexpr int kW = 160;
constexpr int kH = 120;
constexpr long long kTicksPerMs = 10000;

std::vector<unsigned char> Constant(int value, int w = kW, int h = kH)
{
    return std::vector<unsigned char>(static_cast<std::size_t>(w) * h, static_cast<unsigned char>(value));
}

std::string Section(const std::string& keys)
{
    return "[MonoPeopleCounter]\n" + keys;
}

TEST(CTrafficControllerTest, DefaultSetUpAt160x120)
{
    struct Case {
        const char* gauss_type;
        int window;
    };
    for (const Case& c :
         {Case{"kGaussBox2", 24}, Case{"kGaussFloat", 1600}, Case{"kGaussFixed", 1600}, Case{"kGauss2DBox3", 24}}) {
        ControllerHarness h(Section(std::string("gauss_type=") + c.gauss_type + "\n"));
        h->InitImage(GreyFormat(kW, kH));
        EXPECT_TRUE(h->IsInitialised());
        EXPECT_FLOAT_EQ(h->GetTargetRadius(), 23.999998f);
        EXPECT_EQ(h->GetKeypointRadius(), 16);
        EXPECT_EQ(h->GetGaussWindow(), c.window) << c.gauss_type;
        ASSERT_EQ(h->GetLines().size(), 1u);
        const LineInfo& line = h->GetLines()[0];
        EXPECT_EQ(line.id, 1);
        EXPECT_EQ(line.type, LineInfo::kBothDirections);
        ASSERT_EQ(line.points.size(), 6u);
        EXPECT_EQ(line.points[0], (kiv::SPOINT{29, 0}));
        EXPECT_TRUE(h->IsPerspectiveUniform());
        EXPECT_TRUE(h.Logged("Perspective transform detected to be uniform (noop): true"));
        EXPECT_TRUE(h.Logged("Video format w = 160, h = 120, bpp = 1, bpl = 160"));
        EXPECT_TRUE(h.Logged("gaussWindowsDim = " + std::to_string(c.window)));
        EXPECT_TRUE(h.Logged("MonoPeopleCounter--Tracker_"));
    }
    // Children in their order.
    ControllerHarness h("");
    std::vector<std::string> names;
    h->ForEachAlgoEntityChild(
        [&](BlockEntities::IAlgoEntityBase* child) { names.push_back(child->GetContext().cached); });
    EXPECT_EQ(names, (std::vector<std::string>{"MonoPeopleCounter--Tracker", "MonoPeopleCounter--OpticFlow",
                                               "MonoPeopleCounter--BrightnessWarnings"}));
}

TEST(CTrafficControllerTest, CountingLinesAreNumberedFromOneAndWhatIsNotCountedIsSaid)
{
    const auto lines = [](int count, const std::string& extra = "") {
        std::string text = "lines=[";
        for (int k = 0; k < count; ++k) text += std::string(k ? "," : "") + "[[0.0,0.5],[1.0,0.5]]";
        return text + extra + "]\n";
    };
    const struct {
        const char* name;
        std::string ini;
        std::size_t kept;
        const char* warning;  // null: none
    } cases[] = {
        {"one line", Section(lines(1)), 1, nullptr},
        {"no lines in the file", "", 1,
         "No counting lines in the parameter file (MonoPeopleCounter_lines): the built-in line "
         "[[[0.181818,0.00347222],"},
        {"33 lines", Section(lines(33)), 32,
         "Only 32 counting lines are counted (MonoPeopleCounter_lines): the lines 33 are ignored"},
        {"34 lines", Section(lines(34)), 32, "the lines 33, 34 are ignored"},
        {"a line of one point", Section(lines(1, ",[[0.5,0.5]]")), 2,
         "Counting line 2 (MonoPeopleCounter_lines) can count nothing: it has 1 point"},
        {"no lines", Section("lines=[]\n"), 0, "No counting line in MonoPeopleCounter_lines"},
    };
    for (const auto& c : cases) {
        const auto h = std::make_unique<ControllerHarness>(c.ini);
        (*h)->InitImage(GreyFormat(kW, kH));
        ASSERT_EQ((*h)->GetLines().size(), c.kept) << c.name;
        for (std::size_t k = 0; k < c.kept; ++k) EXPECT_EQ((*h)->GetLines()[k].id, static_cast<int>(k) + 1);
        std::vector<std::string> warnings;
        for (const auto& line : h->log->lines)
            if (line.level == kKivLogWarning)
                warnings.push_back(line.text);
        if (!c.warning) {
            EXPECT_TRUE(warnings.empty()) << c.name << ": " << warnings.front();
            continue;
        }
        ASSERT_EQ(warnings.size(), 1u) << c.name;
        EXPECT_NE(warnings[0].find(c.warning), std::string::npos) << c.name << ": " << warnings[0];
    }
}

TEST(CTrafficControllerTest, UnusableSetUpIsRefusedAtInitImage)
{
    struct Case {
        const char* name;
        std::string ini;
        kiv::VideoFormat format;
        const char* reason;
    };
    const Case cases[] = {
        {"zero radius", Section("target_circle=[[0.5,0.5],[0.5,0.5]]\n"), GreyFormat(kW, kH), "target_circle"},
        {"radius of one pixel", Section("target_circle=[[0.5,0.5],[0.5,0.49]]\n"), GreyFormat(kW, kH), "target_circle"},
        {"optic-flow window of 1", Section("target_circle=[[0.5,0.5],[0.5,0.46]]\n"), GreyFormat(kW, kH),
         "window_radius_multiplier"},
        {"zoom 0",
         Section("perspective_filter=preview=1;top_factor=1;bottom_factor=1;shift_x=0;shift_y=0;"
                 "translation=0;zoom=0\n"),
         GreyFormat(kW, kH), "zoom"},
        {"negative zoom",
         Section("perspective_filter=preview=1;top_factor=1;bottom_factor=1;shift_x=0;shift_y=0;"
                 "translation=0;zoom=-1\n"),
         GreyFormat(kW, kH), "zoom"},
        {"perspective out of range",
         Section("perspective_filter=preview=1;top_factor=1e8;bottom_factor=1;shift_x=0;shift_y=0;translation=0;"
                 "zoom=1\n"),
         GreyFormat(kW, kH), "must keep the picture within 16777216 pixels"},
        {"zero width", "", GreyFormat(0, kH), "video size"},
        {"zero bytes per pixel", "", kiv::VideoFormat{kW, kH, 0, kW, 0, 1}, "bytes per pixel"},
        {"colour with one byte per pixel", "", kiv::VideoFormat{kW, kH, 1, kW, 0, 0}, "bytes per pixel"},
        {"short lines", "", kiv::VideoFormat{kW, kH, 1, kW - 1, 0, 1}, "bytes per line"},
    };
    const std::vector<unsigned char> frame = Constant(100);
    ControllerHarness fresh("");  // before InitImage
    EXPECT_THROW(fresh->ProcessImage(frame.data(), 0), exc::KIVException);
    EXPECT_EQ(fresh->GetBlur(), nullptr);
    ControllerHarness ready("");
    ready->InitImage(GreyFormat(kW, kH));
    EXPECT_THROW(ready->ProcessImage(nullptr, 0), exc::KIVException);
    for (const Case& c : cases) {
        ControllerHarness h(c.ini);
        try {
            h->InitImage(c.format);
            ADD_FAILURE() << c.name << ": accepted";
        } catch (const std::runtime_error& error) {
            const std::string text = error.what();
            EXPECT_EQ(text.rfind("Failed to initialize CTrafficController", 0), 0u) << c.name << ": " << text;
            EXPECT_NE(text.find(c.reason), std::string::npos) << c.name << ": " << text;
        }
        EXPECT_FALSE(h->IsInitialised()) << c.name;
        EXPECT_THROW(h->ProcessImage(frame.data(), 0), exc::KIVException) << c.name;
    }
}

TEST(CTrafficControllerTest, GreyConversionFollowsRowOrderAndPixelFormat)
{
    // Two rows of two pixels, three bytes each, four bytes apart, rows eight bytes apart.
    const unsigned char source[16] = {10, 20, 30, 0, 40, 50, 60, 0, 70, 80, 90, 0, 200, 100, 0, 0};
    avector<unsigned char> grey;
    CTrafficController::RgbToGrayCustom({2, 2, 4, 8, 1, 1}, source, grey);
    EXPECT_EQ(grey, (avector<unsigned char>{10, 40, 70, 200}));
    CTrafficController::RgbToGrayCustom({2, 2, 4, 8, 0, 1}, source, grey);
    EXPECT_EQ(grey, (avector<unsigned char>{70, 200, 10, 40}));
    CTrafficController::RgbToGrayCustom({2, 2, 4, 8, 1, 0}, source, grey);
    const auto bgr = [](int b, int g, int r) { return (117 * b + 601 * g + 306 * r + 512) >> 10; };
    EXPECT_EQ(grey, (avector<unsigned char>{
                        static_cast<unsigned char>(bgr(10, 20, 30)), static_cast<unsigned char>(bgr(40, 50, 60)),
                        static_cast<unsigned char>(bgr(70, 80, 90)), static_cast<unsigned char>(bgr(200, 100, 0))}));
}

TEST(CTrafficControllerTest, BrightnessWarningsAreLoggedWhenTheStateChangesNotEveryFrame)
{
    // Frames of constant grey levels at 25 frames per second: {level, frames}; the expected lines.
    struct Run {
        int level;
        int frames;
    };
    // Frames alternating between two levels, `pairs` times, then a steady run.
    const auto Flicker = [](int a, int b, int pairs, Run then = {0, 0}) {
        std::vector<Run> runs;
        for (int i = 0; i < pairs; ++i) runs.insert(runs.end(), {{a, 1}, {b, 1}});
        runs.push_back(then);
        return runs;
    };
    const struct {
        const char* name;
        std::vector<Run> runs;
        std::vector<std::string> lines;
    } cases[] = {
        {"a drop, then light again",
         {{100, 2}, {10, 2}, {100, 30}},
         {"Frame brightness: Too_Low (10).", "Frame brightness: Too_FastDecrease (10 now).",
          "Frame brightness: not_Too_Low (100)."}},
        {"too bright",
         {{100, 30}, {250, 3}},
         {"Frame brightness: Too_High (250).", "Frame brightness: Too_FastIncrease (250 now)."}},
        {"a light flickering for four seconds",
         Flicker(100, 200, 50),
         {"Frame brightness: Too_FastIncrease (200 now)."}},
        {"a light flickering about the upper limit",
         Flicker(230, 250, 10, {200, 40}),
         {"Frame brightness: Too_High (250).", "Frame brightness: not_Too_High (200)."}},
    };
    for (const auto& c : cases) {
        ControllerHarness h("");
        h->InitImage(GreyFormat(kW, kH));
        long long time = 0;
        for (const Run& run : c.runs) {
            const std::vector<unsigned char> frame = Constant(run.level);
            for (int i = 0; i < run.frames; ++i, time += 40 * kTicksPerMs) h->ProcessImage(frame.data(), time);
        }
        std::vector<std::string> lines;
        for (const auto& line : h.log->lines)
            if (line.text.rfind("Frame brightness: ", 0) == 0) {
                EXPECT_EQ(line.level, kKivLogWarning) << c.name;
                lines.push_back(line.text);
            }
        EXPECT_EQ(lines, c.lines) << c.name;
    }
}

TEST(CTrafficControllerTest, ChangedPixelsCountFromADifferenceOf15AndTheCallbackSeesEachChange)
{
    std::vector<std::pair<long long, float>> calls;
    ControllerHarness h(Section("pre_smooth=false\nbackground_subtractor_alpha=0\n"),
                        [&calls](long long changed, float percent) { calls.emplace_back(changed, percent); });
    h->InitImage(GreyFormat(kW, kH));
    std::vector<unsigned char> frame = Constant(100);
    h->ProcessImage(frame.data(), 0);
    EXPECT_EQ(h->GetChangedPixelsPercent(), 0.f);     // the first frame is the background
    h->ProcessImage(frame.data(), 40 * kTicksPerMs);  // unchanged: no call
    // 40 rows of +15 (changed), 40 rows of -14 (not), 40 rows of +16 (changed)
    for (int y = 0; y < kH; ++y)
        for (int x = 0; x < kW; ++x) frame[y * kW + x] = y < 40 ? 115 : y < 80 ? 86 : 116;
    h->ProcessImage(frame.data(), 80 * kTicksPerMs);
    h->ProcessImage(frame.data(), 120 * kTicksPerMs);  // unchanged: no call
    const float percent = 80 * kW * 100.f / (kW * kH);
    EXPECT_FLOAT_EQ(h->GetChangedPixelsPercent(), percent);
    for (auto& pixel : frame) pixel = 86;
    h->ProcessImage(frame.data(), 160 * kTicksPerMs);
    EXPECT_EQ(h->GetChangedPixelsPercent(), 0.f);
    ASSERT_EQ(calls.size(), 3u);
    EXPECT_EQ(calls[0].first, 0);
    EXPECT_EQ(calls[1].first, 80 * kW);
    EXPECT_FLOAT_EQ(calls[1].second, percent);
    EXPECT_EQ(calls[2].first, 0);
    // A new, smaller format starts a new background from its first frame.
    h->InitImage(GreyFormat(80, 60));
    const std::vector<unsigned char> small = Constant(200, 80, 60);
    h->ProcessImage(small.data(), 200 * kTicksPerMs);
    EXPECT_EQ(h->GetChangedPixelsPercent(), 0.f);
}

TEST(CTrafficControllerTest, PreSmoothedFramesHaveABorderOfZeros)
{
    // Against a background of 0 borders, only the inner pixels of a brighter frame change.
    ControllerHarness h(Section("background_subtractor_alpha=0\ngenerate_debug_info=true\n"));
    h->InitImage(GreyFormat(kW, kH));
    const std::vector<unsigned char> frames[] = {Constant(100), Constant(160), Constant(220)};
    for (int f = 0; f < 3; ++f) {
        h->ProcessImage(frames[f].data(), f * 40 * kTicksPerMs);
        const avector<unsigned char>& difference = h->GetDebugInfo().difference;
        for (int y = 0; y < kH; ++y) {
            for (int x = 0; x < kW; ++x) {
                const bool border = x == 0 || y == 0 || x == kW - 1 || y == kH - 1;
                ASSERT_EQ(difference[static_cast<std::size_t>(y * kW + x)], border ? 0 : 60 * f)
                    << "frame " << f << " at " << x << ", " << y;
            }
        }
    }
    EXPECT_FLOAT_EQ(h->GetChangedPixelsPercent(), (kW - 2) * (kH - 2) * 100.f / (kW * kH));
}

TEST(CTrafficControllerTest, NeighboursOfEqualMarkWithinTheRadiusUnite)
{
    struct Case {
        const char* name;
        avector<KPoint> in;
        std::vector<std::pair<int, int>> out;
    };
    const int r = 16;
    const std::vector<Case> cases = {
        {"r apart, level", {{10, 20, 1.f, 7}, {26, 20, 1.f, 7}}, {{18, 20}}},
        {"r + 1 apart", {{10, 20, 1.f, 7}, {27, 20, 1.f, 7}}, {{10, 20}, {27, 20}}},
        {"different marks", {{10, 20, 1.f, 7}, {12, 20, 1.f, 8}}, {{10, 20}, {12, 20}}},
        {"r apart in y", {{10, 20, 1.f, 7}, {10, 36, 1.f, 7}}, {{10, 28}}},
        // The moved point is compared with the later ones: 10 and 26 give 18, which then takes 34.
        {"chain", {{10, 20, 1.f, 7}, {26, 20, 1.f, 7}, {34, 20, 1.f, 7}, {60, 20, 1.f, 7}}, {{26, 20}, {60, 20}}},
    };
    for (const Case& c : cases) {
        avector<KPoint> points = c.in;
        CTrafficController::UniteNeighbours(points, r);
        std::vector<std::pair<int, int>> out;
        for (const KPoint& p : points) out.emplace_back(p.x, p.y);
        EXPECT_EQ(out, c.out) << c.name;
    }
}

TEST(CTrafficControllerTest, StructureSumsPass32Bits)
{
    // Columns alternating 0 and 255: both diagonal differences are +-255 everywhere.
    const int w = 600, h = 600, r = 250;
    avector<unsigned char> image(static_cast<std::size_t>(w) * h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) image[y * w + x] = (x & 1) ? 255 : 0;
    avector<int64_t> a, b, c;
    CTrafficController::CalcGradientAroundPoints(image, w, h, a, b, c, r, {{300, 300}, {0, 0}});
    const int64_t full = int64_t{501} * 501 * 65025;  // rows and columns 50 .. 550
    EXPECT_EQ(a[300 * w + 300], full);
    EXPECT_EQ(c[300 * w + 300], full);
    EXPECT_EQ(b[300 * w + 300], -full);
    const int64_t corner = int64_t{251} * 251 * 65025;  // rows and columns 0 .. 250
    EXPECT_EQ(a[0], corner);
    // A line structure has no smaller eigenvalue; an isotropic one has half its trace.
    EXPECT_FLOAT_EQ(CTrafficController::Lambda(full, -full, full, r), 0.f);
    const float n2 = 501.f * 501.f;
    EXPECT_NEAR(CTrafficController::Lambda(full, 0, full, r), static_cast<float>(full) / n2 / 2,
                1e-3f * static_cast<float>(full) / n2);
}

TEST(CTrafficControllerTest, BackgroundDifferenceIsTheSameOnBothPaths)
{
    cv::RNG rng(20261209);
    for (const std::size_t n : {std::size_t{0}, std::size_t{1}, std::size_t{15}, std::size_t{16}, std::size_t{17},
                                std::size_t{63}, std::size_t{19203}}) {
        std::vector<uint32_t> background(n);
        avector<unsigned char> image(n);
        for (std::size_t i = 0; i < n; ++i) {
            // Levels 0 .. 255 with fraction bits, and a few around the threshold of 15.
            background[i] = static_cast<uint32_t>(rng.uniform(0, 256 << 11));
            image[i] = i % 5 == 0
                           ? static_cast<unsigned char>(std::min<std::size_t>(255, (background[i] >> 11) + 14 + i % 3))
                           : static_cast<unsigned char>(rng.uniform(0, 256));
        }
        avector<unsigned char> scalar = image, vector = image;
        const auto subtract = [&](AlgoLibrary::KernelPath path, avector<unsigned char>& out) {
            const AlgoLibrary::ScopedKernelPath scoped(path);
            return CTrafficController::SubtractBackgroundPixels(background.data(), out.data(), n);
        };
        const long long scalar_count = subtract(AlgoLibrary::KernelPath::kScalar, scalar),
                        vector_count = subtract(AlgoLibrary::KernelPath::kVector, vector);
        EXPECT_EQ(vector, scalar) << n;
        EXPECT_EQ(vector_count, scalar_count) << n;
        long long expected = 0;
        for (std::size_t i = 0; i < n; ++i) {
            const int difference = std::abs(image[i] - static_cast<int>(background[i] >> 11));
            EXPECT_EQ(scalar[i], difference);
            expected += difference >= 15;
        }
        EXPECT_EQ(scalar_count, expected) << n;
    }
}

// A floor of fine texture with a dark disc; the disc moves by `shift` pixels.
std::vector<unsigned char> FloorWithDisc(int cx, int cy, int radius)
{
    std::vector<unsigned char> frame(kW * kH);
    for (int y = 0; y < kH; ++y)
        for (int x = 0; x < kW; ++x) {
            const bool inside = (x - cx) * (x - cx) + (y - cy) * (y - cy) <= radius * radius;
            frame[y * kW + x] = static_cast<unsigned char>(inside ? 30 + ((x * 7 + y * 3) % 20) : 150 + ((x + y) % 7));
        }
    return frame;
}

TEST(CTrafficControllerTest, WithoutLambdaThresholdEveryRegionPointIsAKeyPoint)
{
    ControllerHarness h(Section("lambda_thr=0\ngenerate_debug_info=true\n"));
    h->InitImage(GreyFormat(kW, kH));
    const std::vector<unsigned char> floor = FloorWithDisc(-100, -100, 0);
    h->ProcessImage(floor.data(), 0);
    for (const unsigned char value : h->GetDebugInfo().difference) ASSERT_EQ(value, 0);
    const std::vector<unsigned char> disc = FloorWithDisc(80, 60, 18);
    h->ProcessImage(disc.data(), 40 * kTicksPerMs);
    const CTrafficController::DebugInfo& debug = h->GetDebugInfo();
    ASSERT_FALSE(debug.keypoints.empty());
    for (const KPoint& k : debug.keypoints) {
        EXPECT_EQ(k.lambda, 1.f);
        EXPECT_EQ(k.mark, kMarkLocalMaximum);
        EXPECT_EQ(k.mark, debug.extremums.At(k.x, k.y));
    }
    // The disc's single maximum, near its centre (the working image holds the rows bottom up).
    ASSERT_EQ(debug.keypoints.size(), 1u);
    EXPECT_NEAR(debug.keypoints[0].x, 80, 2);
    EXPECT_NEAR(debug.keypoints[0].y, kH - 1 - 60, 2);
    EXPECT_EQ(debug.labels.regions.size(), 1u);
    EXPECT_GT(h->GetChangedPixelsPercent(), 5.f);
}

TEST(CTrafficControllerTest, StatisticsComeUnderTheirNamesInPipelineOrder)
{
    ControllerHarness h("");
    h->InitImage(GreyFormat(kW, kH));
    const std::vector<unsigned char> frame = FloorWithDisc(80, 60, 18);
    h->ProcessImage(frame.data(), 0);
    h.stats->items.clear();
    h->ProcessImage(frame.data(), 40 * kTicksPerMs);
    std::vector<std::string> names;
    for (const auto& item : h.stats->items)
        if (item.kind != BlockEntities::Stats::kTimerElapsed)
            names.push_back(item.name);
    std::vector<std::string> expected;
    std::istringstream list(
        "image_time,total_frame,delete_unused_objects,object count without new,rgb_to_custom_gray,"
        "pre_smooth,compute_brightness,grey intensity mean,perspective_filter,subtract_background,"
        "gaussian_blur,mark_extremums,fill_regions,region count,fill_keypoints,keypoint count,"
        "unite_neighbours,unite-kp count,tracking_points,make_objects,features count,"
        "alive-next features count,m_last_info_id,m_objects_info.size,not-erased features count,"
        "object count including new,optic_flow,update_intersections");
    for (std::string name; std::getline(list, name, ',');) expected.push_back(name);
    std::vector<std::string> ours;
    for (const std::string& name : names)
        if (std::find(expected.begin(), expected.end(), name) != expected.end())
            ours.push_back(name);
    EXPECT_EQ(ours, expected);
}

TEST(CTrafficControllerTest, PerspectiveOtherThanUniformIsAppliedWithItsOwnScratchImage)
{
    // Two controllers of different sizes: each transforms its frames with its own scratch image.
    const std::string ini = Section(
        "perspective_filter=preview=1;top_factor=0.8;bottom_factor=1;shift_x=0;"
        "shift_y=0;translation=0;zoom=0.9\n");
    ControllerHarness small(ini), large(ini);
    small->InitImage(GreyFormat(80, 60));
    large->InitImage(GreyFormat(320, 240));
    EXPECT_FALSE(small->IsPerspectiveUniform());
    EXPECT_TRUE(small.Logged("Perspective transform detected to be uniform (noop): false"));
    EXPECT_EQ(small->GetKeypointRadius(), 7);  // R = 12, r = 12 x 2/3 x 0.9 rounded
    const std::vector<unsigned char> big = Constant(120, 320, 240), little = Constant(120, 80, 60);
    for (int i = 0; i < 3; ++i) {
        // The smaller one first: an image shared by both would be too small for the later one.
        small->ProcessImage(little.data(), i * 40 * kTicksPerMs);
        large->ProcessImage(big.data(), i * 40 * kTicksPerMs);
    }
    EXPECT_EQ(small->GetWorkingImage().size(), 80u * 60u);
    EXPECT_EQ(large->GetWorkingImage().size(), 320u * 240u);
    // The transform is symmetric about the middle column; the corners of the processed image lie
    // outside the narrowed top of the input.
    const kiv::SPOINT centre = large->MapToInput(160, 120);
    EXPECT_NEAR(centre.x, 160, 2);
    EXPECT_GT(centre.y, 100);
    EXPECT_LT(centre.y, 140);
}

}  // namespace
