#include <gtest/gtest.h>

#include <exception>
#include <memory>
#include <opencv2/core.hpp>
#include <string>
#include <vector>

#include "CommonUtilities/DebugInterfaces/recording_log.h"
#include "CommonUtilities/ParameterAccess/temp_ini_dir.h"
#include "PeopleCounter/universal/i_universal_people_counter.h"
#include "tools/scene_renderer/renderer.h"
#include "tools/scene_renderer/scene_files.h"

namespace {

using CounterPtr = std::unique_ptr<IUniversalPeopleCounter, AlgoLibrary::ReleaseDeleter>;

constexpr long long kFrameNs = 40'000'000;  // 25 frames per second

// A rendered scene of one person walking down across the middle of the picture.
struct Footage {
    scene::Scene scene;
    std::vector<cv::Mat> frames;
};

Footage Film(bool stereo, int width, int frames, const char* person)
{
    Footage footage;
    scene::Rig& rig = footage.scene.rig;
    rig.stereo = stereo;
    rig.width = width;
    rig.height = width * 3 / 4;
    rig.focal = (stereo ? 90.0 / 144 : 100.0 / 160) * width;
    footage.scene.frames = frames;
    footage.scene.people.push_back(scene::ParsePerson(person));
    const scene::Renderer renderer(footage.scene);
    for (int frame = 0; frame < frames; ++frame) footage.frames.push_back(renderer.RenderFrame(frame));
    return footage;
}

struct Outcome {
    std::string refusal;  // the error that refused the counter or a frame; "" when every frame ran
    std::vector<Alarm> alarms;
    std::vector<std::string> warnings;
};

// Builds a counter as the service does, on the scene's parameter file followed in the list by a
// second file with the given lines (the later file wins), announces the format and counts the
// first frames of the footage.
Outcome CountOn(const Footage& footage, int frames, const std::string& site_lines)
{
    const scene::Scene& s = footage.scene;
    const bool stereo = s.rig.stereo;
    const TempIniDir dir;
    const std::string list = dir.Write("algo.ini", scene::AlgoIni(s)) + "?" + dir.Write("site.ini", site_lines);
    const auto log = std::make_shared<RecordingLog>();
    Outcome outcome;
    CounterPtr counter(stereo ? IUniversalPeopleCounter::CreateInstance<kCounterStereo>(list, log, 0.0)
                              : IUniversalPeopleCounter::CreateInstance<kCounterMono>(list, log, 0.0));
    if (!counter) {
        outcome.refusal = log->lines.empty() ? "no counter and no error line" : log->lines.back().text;
    } else {
        try {
            counter->InitImage({s.rig.width, s.rig.height, 1, (stereo ? 2 : 1) * s.rig.width, 0, stereo ? 0 : 1});
            AlarmVector alarms;
            for (int frame = 0; frame < frames; ++frame) {
                counter->ProcessImage(footage.frames[frame], AlgoTimePoint(AlgoTimePoint::duration(frame * kFrameNs)));
                counter->GetAlarms(alarms);
                outcome.alarms.insert(outcome.alarms.end(), alarms.begin(), alarms.end());
            }
        } catch (const std::exception& error) {
            outcome.refusal = error.what();
        }
    }
    for (const RecordingLog::Line& line : log->lines)
        if (line.level == kKivLogWarning)
            outcome.warnings.push_back(line.text);
    return outcome;
}

// Every value the counters' parameters can hold whose working the counters define is accepted
// and runs on a rendered scene: the defaults, the values and edge cases that the counters'
// descriptions name and the ends of every declared range. A value outside a declared range is
// clamped with a warning naming the parameter, the value read and the value used. Only what
// cannot run (a hang, a crash, an overflow, every pixel a head) is refused, naming the parameter
// as the file names it, the value as written and the range that works.
TEST(ParameterValuesTest, ValuesWithAMeaningRunAndOnlyUnworkableOnesAreRefused)
{
    const char* const kMono = "MonoPeopleCounter";
    const char* const kTracker = "MonoPeopleCounter--Tracker";
    const char* const kMonoBrightness = "MonoPeopleCounter--BrightnessWarnings";
    const char* const kFlow = "MonoPeopleCounter--OpticFlow";
    const char* const kStereo = "StereoPeopleCounter";
    const char* const kStereoBrightness = "StereoPeopleCounter--BrightnessChecker";
    const char* const kFuzzy = "StereoPeopleCounter--FuzzyBackgroundSubtraction";
    const char* const kFuzzyGradient = "StereoPeopleCounter--FuzzyBackgroundSubtractionGradient";
    const char* const kMatcher = "StereoPeopleCounter--StereoMatcher";
    const char* const kCalibration = "StereoPeopleCounter--3DReconstructor";
    const struct {
        bool stereo;
        const char* section;
        const char* lines;
        const char* refusal;  // null: accepted; otherwise a part of the refusal
        const char* warning;  // null: no warning about the value; otherwise a part of one
        bool small = false;   // a single camera of 80x60
    } rows[] = {
        // The single camera at 160x120, the target radius about 20 pixels.
        {false, kMono, "", nullptr, nullptr},
        {false, kMono, "gauss_type=kGaussFloat", nullptr, nullptr},
        {false, kMono, "gauss_type=kGaussFixed", nullptr, nullptr},
        {false, kMono, "gauss_type=kGaussBox1", nullptr, nullptr},
        {false, kMono, "gauss_type=kGauss2DBox1", nullptr, nullptr},
        {false, kMono, "gauss_type=kGauss2DBox2", nullptr, nullptr},
        {false, kMono, "gauss_type=kGauss2DBox3", nullptr, nullptr},
        {false, kMono, "gauss_type=kGaussExpApprox", nullptr, nullptr},
        // A window of 0 or less is not filtered; windows beyond the picture blur it whole.
        {false, kMono, "gauss_radius_multiplier=0", nullptr, nullptr},
        {false, kMono, "gauss_radius_multiplier=0.01", nullptr, nullptr},
        {false, kMono, "gauss_radius_multiplier=-1", nullptr, nullptr},
        {false, kMono, "gauss_radius_multiplier=7", nullptr, nullptr},
        {false, kMono, "gauss_radius_multiplier=200", nullptr, nullptr},  // the triangle's radius 3965
        {false, kMono, "gauss_type=kGaussFixed\ngauss_radius_multiplier=7", nullptr, nullptr},
        {false, kMono, "gauss_type=kGauss2DBox3\ngauss_radius_multiplier=1e9", nullptr, nullptr},
        {false, kMono, "gauss_type=kGaussFixed\ngauss_radius_multiplier=1e9", nullptr, nullptr},
        {false, kMono, "gauss_type=kGaussFloat\ngauss_radius_multiplier=1e9", nullptr, nullptr},
        {false, kMono, "gauss_radius_multiplier=1e9",
         "MonoPeopleCounter_gauss_radius_multiplier = 1e9 cannot work: it must lie in (-inf, ", nullptr},
        {false, kMono, "lambda_thr=0\n", nullptr, nullptr},
        {false, kMono, "lambda_thr=-0.5\n", nullptr, nullptr},
        {false, kMono, "lambda_thr=1e9\n", nullptr, nullptr},
        {false, kMono, "keypoint_ops_radius_multiplier=0",
         "MonoPeopleCounter_keypoint_ops_radius_multiplier = 0 cannot work: it must lie in [", nullptr},
        {false, kMono, "background_subtractor_alpha=1\n", nullptr, nullptr},
        {false, kMono, "background_subtractor_alpha=2",
         "MonoPeopleCounter_background_subtractor_alpha = 2 cannot work: it must lie in [0, 1]", nullptr},
        // The zoom is named, not the multipliers it scales.
        {false, kMono, "perspective_filter=top_factor=1;bottom_factor=1;shift_x=0;shift_y=0;translation=0;zoom=1e9",
         "MonoPeopleCounter_perspective_filter.zoom = 1000000000 (MonoPeopleCounter_perspective_filter = top_factor=1;",
         nullptr},
        {false, kMono, "perspective_filter=top_factor=0;bottom_factor=1;shift_x=0;shift_y=0;translation=0;zoom=1",
         "MonoPeopleCounter_perspective_filter.top_factor = 0 (", nullptr},
        // A refusal quotes the text as read, as a log line quotes it.
        {false, kMono,
         "perspective_filter=top_factor=0;bottom_factor=1;shift_x=0;shift_y=0;translation=0;zoom=1;\r\x1b[31m=1;",
         "(MonoPeopleCounter_perspective_filter = top_factor=0;bottom_factor=1;shift_x=0;shift_y=0;translation=0;"
         "zoom=1;\\r\\x1b[31m=1;)",
         nullptr},
        // The smoothing window's side: 3 .. 64 smooth, larger ones smooth with 64, others do not.
        {false, kTracker, "nsmooth_img=0", nullptr, nullptr},
        {false, kTracker, "nsmooth_img=-1", nullptr, nullptr},
        {false, kTracker, "nsmooth_img=3", nullptr, nullptr},
        {false, kTracker, "nsmooth_img=61", nullptr, nullptr},
        {false, kTracker, "nsmooth_img=64", nullptr, nullptr},
        {false, kTracker, "nsmooth_img=101", nullptr, nullptr},
        {false, kTracker, "nsmooth_img=2147483647", nullptr, nullptr},
        {false, kTracker, "nsmooth_img=40", nullptr, nullptr, true},
        {false, kTracker, "lambda_low_thr=0\nlambda_high_thr=0", nullptr, nullptr},
        {false, kTracker, "lambda_low_thr=-20\nlambda_high_thr=-20", nullptr, nullptr},
        {false, kTracker, "lambda_low_thr=2147483647\nlambda_high_thr=2147483647", nullptr, nullptr},
        {false, kTracker,
         "min_any_track_age=0\nmin_track_diameter=0\nmin_fast_track_age=0\nmin_fast_track_speed=0\n"
         "min_slow_track_age=0\nmin_slow_track_speed=0",
         nullptr, nullptr},
        {false, kTracker,
         "min_any_track_age=1000000000\nmin_track_diameter=-1\nmin_fast_track_age=-1\nmin_fast_track_speed=-1\n"
         "min_slow_track_age=-1\nmin_slow_track_speed=-1",
         nullptr, nullptr},
        {false, kTracker, "min_any_track_age=-1", nullptr,
         "MonoPeopleCounter--Tracker_min_any_track_age = -1 lies outside its limits [0, 1e+09]: 0 is used"},
        // Limits every frame reaches warn on every frame; the single camera counts on meanwhile.
        {false, kMonoBrightness, "too_high=0", nullptr, nullptr},
        {false, kMonoBrightness, "too_low=255", nullptr, nullptr},
        {false, kMonoBrightness, "too_high=0\ntoo_low=0", nullptr, nullptr},
        {false, kMonoBrightness, "too_high=255\ntoo_low=255", nullptr, nullptr},
        {false, kMonoBrightness, "too_high_change_in_period=0", nullptr, nullptr},
        {false, kMonoBrightness, "too_high_change_in_period=-1\nperiod_for_measure_change_ms=0", nullptr, nullptr},
        {false, kMonoBrightness, "period_for_measure_change_ms=3600000", nullptr, nullptr},
        {false, kMonoBrightness, "too_high=40", nullptr, nullptr},
        {false, kMonoBrightness, "period_for_measure_change_ms=3600001",
         "MonoPeopleCounter--BrightnessWarnings_period_for_measure_change_ms = 3600001 cannot work: it must lie in "
         "[0, 3600000]",
         nullptr},
        {false, kMonoBrightness, "period_for_measure_change_ms=-1", nullptr,
         "MonoPeopleCounter--BrightnessWarnings_period_for_measure_change_ms = -1 lies outside its limits [0, "
         "2147483647]: 0 is used"},
        {false, kFlow, "object_radius_multiplier=1e9",
         "MonoPeopleCounter--OpticFlow_object_radius_multiplier = 1e9 cannot work: it must lie in [0, ", nullptr},
        {false, kFlow, "object_radius_multiplier=1e-300",
         "MonoPeopleCounter--OpticFlow_object_radius_multiplier = 1e-300 cannot work with ", nullptr},

        // The stereo camera at 96x72.
        {true, kStereo, "", nullptr, nullptr},
        {true, kStereo, "Stereo_matching_algorithm_name=SGBM\narea_max_grow_for_keep_ratio=99999999999999999999",
         nullptr, nullptr},
        {true, kStereo, "Stereo_matching_algorithm_name=Census", "wrong algorithm_name census", nullptr},
        {true, kStereo, "Stereo_matching_algorithm_name=Census\xc2\x9bK", "wrong algorithm_name census\\x9bk", nullptr},
        {true, kStereo, "Stereo_resolution=0",
         "StereoPeopleCounter_Stereo_resolution = 0 cannot work: it must lie in [1, inf)", nullptr},
        {true, kStereo, "area_max_grow_for_keep_ratio=1e-300",
         "StereoPeopleCounter_area_max_grow_for_keep_ratio = 1e-300 cannot work: it must lie in [1, inf)", nullptr},
        // The ends of the declared ranges.
        {true, kStereo,
         "area_max_grow_for_keep_ratio=1\nStereo_lrc_thresh=0\nStereo_max_height_error=0\n"
         "Stereo_height_map_processing_scale=0.1\ndebug_video_frames_num=0\ninput_video_frames_num=0\n"
         "marking_frames_num=0\nframes_num_to_display_fallen_object=1\noutput_fallen_objects=true",
         nullptr, nullptr},
        {true, kStereo,
         "Stereo_lrc_thresh=2147483647\nStereo_max_height_error=129\nStereo_height_map_processing_scale=1\n"
         "debug_video_frames_num=100000\ninput_video_frames_num=100000\nmarking_frames_num=100000\n"
         "frames_num_to_display_fallen_object=1000\noutput_fallen_objects=true",
         nullptr, nullptr},
        {true, kStereo,
         "Stereo_height_map_processing_scale=-1\nStereo_segm_threshold=1000000000\n"
         "Stereo_use_morphological_filtering=true",
         nullptr,
         "StereoPeopleCounter_Stereo_height_map_processing_scale = -1 lies outside its limits [0.1, 1]: 0.1 is used"},
        // Every filter size 0: a 1x1 element, the medians of the pixel alone.
        {true, kStereo,
         "Stereo_segm_threshold=0\nStereo_hole_threshold=0\nStereo_close_rad=0\nStereo_open_rad=0\n"
         "Stereo_median_fill_rad=0\nStereo_double_median_rad=0\nStereo_med_rad=0\n"
         "Stereo_use_morphological_filtering=true\nStereo_use_double_med_filling=true",
         nullptr, nullptr},
        {true, kStereo, "Stereo_double_median_rad=0", nullptr, nullptr},
        {true, kStereo, "Stereo_segm_threshold=-1",
         "StereoPeopleCounter_Stereo_segm_threshold = -1 cannot work: it must lie in [0, inf)", nullptr},
        {true, kStereo, "Stereo_median_fill_rad=-1",
         "StereoPeopleCounter_Stereo_median_fill_rad = -1 cannot work: it must lie in [0, inf)", nullptr},
        {true, kStereo, "Stereo_med_rad=100000", "StereoPeopleCounter_Stereo_med_rad = 100000 gives the radius ",
         nullptr},
        {true, kStereo, "Stereo_double_median_rad=100000\nStereo_use_double_med_filling=true",
         "StereoPeopleCounter_Stereo_double_median_rad = 100000 gives the radius ", nullptr},
        // Sigmas of 0 or less do not blur; multipliers of 0 or less weight every height away.
        {true, kStereo, "foregr_blur_gauss_sigma=0\nblurred_foreground_gradient_multiplier=0", nullptr, nullptr},
        {true, kStereo, "foregr_blur_gauss_sigma=-1\nblurred_foreground_gradient_multiplier=-1", nullptr, nullptr},
        {true, kStereo, "foregr_blur_gauss_sigma=1e-300\nblurred_foreground_gradient_multiplier=1e9", nullptr, nullptr},
        {true, kStereo, "foregr_blur_gauss_sigma=1e9",
         "StereoPeopleCounter_foregr_blur_gauss_sigma = 1e9 gives the sigma ", nullptr},
        {true, kStereo, "Stereo_max_height_error=150",
         "StereoPeopleCounter_Stereo_max_height_error = 150 cannot work: it must lie in [0, 150)", nullptr},
        {true, kStereoBrightness, "too_high=0\ntoo_low=0\ntoo_high_change_in_period=0", nullptr, nullptr},
        {true, kStereoBrightness,
         "too_high=255\ntoo_low=255\ntoo_high_change_in_period=-1\nperiod_for_measure_change_ms=0", nullptr, nullptr},
        {true, kStereoBrightness, "too_high=40",
         "Parameters StereoPeopleCounter--BrightnessChecker_too_high = 40 and "
         "StereoPeopleCounter--BrightnessChecker_too_low = 50 cannot work together",
         nullptr},
        // The background models: a rate up to 2 (255 times its 1/64 steps fit 16 bits), sigmas and
        // multipliers of 0 (a zero divisor saturates the foreground measure).
        {true, kFuzzy,
         "alpha=2\ninit_sigma=0\nmin_sigma=0\nmax_sigma=0\nbg_thresh_mult_sigma_param=0\n"
         "fuzzy_bg_thresh_mult_sigma=0\nnot_updated_ms_thresh=0",
         nullptr, nullptr},
        {true, kFuzzyGradient,
         "alpha=0\nmin_sigma=-5\nbg_thresh_mult_sigma_param=-65535\nfuzzy_bg_thresh_mult_sigma=65535\n"
         "not_updated_ms_thresh=2147483647",
         nullptr, nullptr},
        {true, kFuzzy, "alpha=2.02",
         "StereoPeopleCounter--FuzzyBackgroundSubtraction_alpha = 2.02 cannot work: it must lie in (-0.0078125, ",
         nullptr},
        {true, kFuzzyGradient, "alpha=99999999999999999999",
         "StereoPeopleCounter--FuzzyBackgroundSubtractionGradient_alpha = 99999999999999999999 cannot work", nullptr},
        {true, kFuzzy, "init_sigma=4",
         "StereoPeopleCounter--FuzzyBackgroundSubtraction_init_sigma = 4 cannot work: it must lie in [5, inf) (from "
         "StereoPeopleCounter--FuzzyBackgroundSubtraction_min_sigma = 5 to ",
         nullptr},
        {true, kFuzzy, "max_sigma=1e20",
         "StereoPeopleCounter--FuzzyBackgroundSubtraction_max_sigma = 1e20 cannot work: it must lie in [-4096, 4096]",
         nullptr},
        {true, kFuzzy, "fuzzy_bg_thresh_mult_sigma=65536",
         "StereoPeopleCounter--FuzzyBackgroundSubtraction_fuzzy_bg_thresh_mult_sigma = 65536 cannot work: it must lie "
         "in [-65535, 65535]",
         nullptr},
        // The semi-global matcher with every path of a window of 15 able to reach the 16-bit
        // ceiling, a uniqueness of 0 and the left-right tolerance's fallback.
        {true, kMatcher,
         "SGBM_SAD_window_size=15\nSGBM_un_ratio=0\nSGBM_disp12_max_diff=0\nSGBM_full_DP=true\n"
         "[StereoPeopleCounter]\nStereo_matching_algorithm_name=sgbm",
         nullptr, nullptr},
        {true, kCalibration, "dist_coeff_l=[ [1e6], [1e6], [0.], [0.], [0.], [0.], [0.], [0.] ]",
         "rectifies to the focal length", nullptr},
        {true, kCalibration, "camera_matrix_r=[ [1e9, 0., 72], [0., 1e9, 54], [0., 0., 1.] ]",
         "StereoPeopleCounter--3DReconstructor_camera_matrix_r: its focal lengths", nullptr},
        {true, kCalibration, "obj_h_max_param=1000000000",
         "Parameters StereoPeopleCounter--3DReconstructor_obj_h_max_param = 1000000000 and "
         "StereoPeopleCounter--3DReconstructor_h_camera_mount_param = 260 cannot work together",
         nullptr},
        {true, kCalibration, "h_camera_mount_param=1e9",
         "StereoPeopleCounter--3DReconstructor_h_camera_mount_param = 1e9 cannot work: it must lie in (210, ", nullptr},
    };
    const char* const kPerson = "0,-60,0,60,20,180,0";
    const Footage mono = Film(false, 160, 3, kPerson), small_mono = Film(false, 80, 3, kPerson);
    const Footage stereo = Film(true, 96, 2, kPerson);
    for (const auto& row : rows) {
        const std::string lines = row.lines;
        SCOPED_TRACE(std::string(row.section) + ": " + lines);
        const Footage& footage = row.stereo ? stereo : row.small ? small_mono : mono;
        const int frames = row.refusal ? 1 : static_cast<int>(footage.frames.size());
        const Outcome outcome = CountOn(footage, frames, "[" + std::string(row.section) + "]\n" + lines + "\n");
        if (row.refusal) {
            EXPECT_NE(outcome.refusal.find(row.refusal), std::string::npos) << outcome.refusal;
            continue;
        }
        EXPECT_EQ(outcome.refusal, "");
        int about_values = 0;
        for (const std::string& warning : outcome.warnings)
            about_values += warning.find("lies outside its limits") != std::string::npos;
        EXPECT_EQ(about_values, row.warning ? 1 : 0);
        if (row.warning) {
            bool found = false;
            for (const std::string& warning : outcome.warnings) found |= warning.find(row.warning) != std::string::npos;
            EXPECT_TRUE(found) << row.warning;
        }
    }
}

}  // namespace

// A counting line that can count nothing (of no or one point, wholly outside the picture) is kept
// with one warning naming it, and the counter counts on its other lines; an empty list of lines is
// kept with one warning too. Both counters, on a person walking down across line 1.
TEST(CountingLinesTest, ALineThatCanCountNothingIsKeptWithOneWarningAndTheOtherLinesCount)
{
    const std::string mono_line = "[[0.0,0.5],[1.0,0.5]]";
    const std::string stereo_line = "[1, \"TwoDirections\", [[0.0,0.5],[1.0,0.5]]]";
    const struct {
        bool stereo;
        std::string lines;
        const char* warning;
        int counted_line;  // the id of the line the person is counted on; 0: not counted
    } cases[] = {
        {false, "lines=[" + mono_line + ",[[0.5,0.5]]]",
         "Counting line 2 (MonoPeopleCounter_lines) can count nothing: it has 1 point", 1},
        {false, "lines=[[]," + mono_line + "]",
         "Counting line 1 (MonoPeopleCounter_lines) can count nothing: it has 0 points", 2},
        {false, "lines=[" + mono_line + ",[[1.2,0.1],[1.5,0.9],[1.1,1.2]]]",
         "Counting line 2 (MonoPeopleCounter_lines) can count nothing: it lies wholly outside the picture", 1},
        {false, "lines=[]", "No counting line in MonoPeopleCounter_lines: nothing is counted", 0},
        {true, "CountingLines=[" + stereo_line + ", [7, \"Incoming\", [[0.5,0.5]]]]",
         "Counting line 7 (StereoPeopleCounter--CrossingsCounter_CountingLines) can count nothing: it has 1 point", 1},
        {true, "CountingLines=[[7, \"Incoming\", []], " + stereo_line + "]",
         "Counting line 7 (StereoPeopleCounter--CrossingsCounter_CountingLines) can count nothing: it has 0 points", 1},
        {true, "CountingLines=[" + stereo_line + ", [7, \"Incoming\", [[-0.5,-0.1],[0.5,-0.1],[1.5,-0.2]]]]",
         "Counting line 7 (StereoPeopleCounter--CrossingsCounter_CountingLines) can count nothing: it lies wholly "
         "outside the picture",
         1},
        {true, "CountingLines=[ ]",
         "No counting line in StereoPeopleCounter--CrossingsCounter_CountingLines: nothing is counted", 0},
    };
    const Footage mono = Film(false, 160, 24, "0,-110,0,110,10,180,0,1");
    const Footage stereo = Film(true, 96, 16, "0,-80,0,80,10,180,0");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.lines);
        const Footage& footage = c.stereo ? stereo : mono;
        const Outcome outcome =
            CountOn(footage, static_cast<int>(footage.frames.size()),
                    std::string(c.stereo ? "[StereoPeopleCounter--CrossingsCounter]\n" : "[MonoPeopleCounter]\n") +
                        c.lines + "\n");
        ASSERT_EQ(outcome.refusal, "");
        int nothing = 0;
        for (const std::string& warning : outcome.warnings)
            nothing += warning.find("can count nothing") != std::string::npos ||
                       warning.find("No counting line") != std::string::npos;
        EXPECT_EQ(nothing, 1);
        bool named = false;
        for (const std::string& warning : outcome.warnings) named |= warning.find(c.warning) != std::string::npos;
        EXPECT_TRUE(named);
        std::vector<int> passes;  // the line of each pass
        for (const Alarm& alarm : outcome.alarms)
            if (alarm.type != kMovedOut)
                passes.push_back(alarm.crossed_lines_count == 1 ? alarm.crossed_lines[0] : 0);
        EXPECT_EQ(passes, c.counted_line ? std::vector<int>{c.counted_line} : std::vector<int>{});
    }
}
