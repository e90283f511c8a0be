#include <gtest/gtest.h>

#include <exception>
#include <memory>
#include <string>

#include "CommonUtilities/DebugInterfaces/recording_log.h"
#include "CommonUtilities/ParameterAccess/temp_ini_dir.h"
#include "PeopleCounter/universal/i_universal_people_counter.h"
#include "tools/scene_renderer/renderer.h"
#include "tools/scene_renderer/scene_files.h"

namespace {

using CounterPtr = std::unique_ptr<IUniversalPeopleCounter, AlgoLibrary::ReleaseDeleter>;

scene::Scene SmallScene(bool stereo)
{
    scene::Scene s;
    s.rig.stereo = stereo;
    s.rig.width = stereo ? 144 : 160;
    s.rig.height = stereo ? 108 : 120;
    s.rig.focal = stereo ? 90.0 : 100.0;
    s.frames = 1;
    return s;
}

// Builds a counter as the service does, on the scene's parameter file followed in the list by a
// second file with the given lines (the later file wins), announces the format and hands it the
// first frame. Returns what refused it: the factory's error line, or the error of the set-up or of
// the first frame; "" when the counter ran.
std::string Refusal(bool stereo, const std::string& lines)
{
    const scene::Scene s = SmallScene(stereo);
    const TempIniDir dir;
    const std::string list = dir.Write("algo.ini", scene::AlgoIni(s)) + "?" + dir.Write("site.ini", lines);
    const auto log = std::make_shared<RecordingLog>();
    CounterPtr counter(stereo ? IUniversalPeopleCounter::CreateInstance<kCounterStereo>(list, log, 0.0)
                              : IUniversalPeopleCounter::CreateInstance<kCounterMono>(list, log, 0.0));
    if (!counter)
        return log->lines.empty() ? "no counter and no error line" : log->lines.back().text;
    try {
        counter->InitImage({s.rig.width, s.rig.height, 1, (stereo ? 2 : 1) * s.rig.width, 0, stereo ? 0 : 1});
        counter->ProcessImage(scene::Renderer(s).RenderFrame(0), AlgoTimePoint(AlgoTimePoint::duration(0)));
    } catch (const std::exception& error) {
        return error.what();
    }
    return "";
}

// Every numeric parameter value that cannot work is refused when the counter is set up (before
// any frame is counted), naming the parameter, its value and the range that works; a calibration
// that cannot give heights is refused naming what to check; the values next to them that work are
// kept.
TEST(HostileParametersTest, ValuesThatCannotWorkAreRefusedWithNameValueAndRange)
{
    const char* const mono = "[MonoPeopleCounter]\n";
    const char* const flow = "[MonoPeopleCounter--OpticFlow]\n";
    const char* const tracker = "[MonoPeopleCounter--Tracker]\n";
    const char* const light = "[MonoPeopleCounter--BrightnessWarnings]\n";
    const char* const stereo = "[StereoPeopleCounter]\n";
    const char* const stereo_light = "[StereoPeopleCounter--BrightnessChecker]\n";
    const char* const calibration = "[StereoPeopleCounter--3DReconstructor]\n";
    const auto in = [](const char* section, const char* line) { return std::string(section) + line + "\n"; };
    const struct {
        bool stereo;
        std::string lines;
        const char* refusal;  // the parameter's full name and value; null: the value works
    } cases[] = {
        // Single camera, at 160x120 with a target radius of about 12 pixels.
        {false, "", nullptr},
        {false, in(flow, "object_radius_multiplier=1e9"), "MonoPeopleCounter--OpticFlow_object_radius_multiplier = 1000000000"},
        {false, in(flow, "object_radius_multiplier=2147483648"),
         "MonoPeopleCounter--OpticFlow_object_radius_multiplier = 2147483648"},
        {false, in(flow, "object_radius_multiplier=0.8"), nullptr},
        {false, in(flow, "cv_term_iter=0"), "MonoPeopleCounter--OpticFlow_cv_term_iter = 0"},
        {false, in(flow, "cv_term_iter=1"), nullptr},
        {false, in(flow, "cv_term_eps=-1"), "MonoPeopleCounter--OpticFlow_cv_term_eps = -1"},
        {false, in(flow, "point_step_factor=0"), "MonoPeopleCounter--OpticFlow_point_step_factor = 0"},
        {false, in(flow, "window_radius_multiplier=10"), "MonoPeopleCounter--OpticFlow_window_radius_multiplier = 10"},
        {false, in(flow, "min_point_shift_multiplier=1e6"),
         "MonoPeopleCounter--OpticFlow_min_point_shift_multiplier = 1000000"},
        {false, in(flow, "min_point_shift_multiplier=-0.5"),
         "MonoPeopleCounter--OpticFlow_min_point_shift_multiplier = -0.5"},
        {false, in(mono, "gauss_radius_multiplier=0"), "MonoPeopleCounter_gauss_radius_multiplier = 0"},
        {false, in(mono, "gauss_radius_multiplier=-1"), "MonoPeopleCounter_gauss_radius_multiplier = -1"},
        {false, in(mono, "gauss_radius_multiplier=1e9"), "MonoPeopleCounter_gauss_radius_multiplier = 1000000000"},
        {false, in(mono, "gauss_radius_multiplier=2"), nullptr},
        {false, in(mono, "keypoint_ops_radius_multiplier=0"), "MonoPeopleCounter_keypoint_ops_radius_multiplier = 0"},
        {false, in(mono, "lambda_thr=-0.5"), "MonoPeopleCounter_lambda_thr = -0.5"},
        {false, in(mono, "lambda_thr=1e9"), "MonoPeopleCounter_lambda_thr = 1000000000"},
        {false, in(mono, "lambda_thr=0"), nullptr},
        {false, in(mono, "background_subtractor_alpha=-0.1"), "MonoPeopleCounter_background_subtractor_alpha = -0.1"},
        {false, in(mono, "background_subtractor_alpha=2"), "MonoPeopleCounter_background_subtractor_alpha = 2"},
        {false, in(mono, "perspective_filter=top_factor=0;bottom_factor=1;shift_x=0;shift_y=0;translation=0;zoom=1"),
         "MonoPeopleCounter_perspective_filter.top_factor = 0"},
        {false, in(mono, "perspective_filter=top_factor=1;bottom_factor=-1;shift_x=0;shift_y=0;translation=0;zoom=1"),
         "MonoPeopleCounter_perspective_filter.bottom_factor = -1"},
        {false, in(tracker, "lambda_low_thr=0"), "MonoPeopleCounter--Tracker_lambda_low_thr = 0"},
        {false, in(tracker, "lambda_high_thr=-5"), "MonoPeopleCounter--Tracker_lambda_high_thr = -5"},
        {false, in(tracker, "nsmooth_img=-1"), "MonoPeopleCounter--Tracker_nsmooth_img = -1"},
        {false, in(tracker, "nsmooth_img=1000"), "MonoPeopleCounter--Tracker_nsmooth_img = 1000"},
        {false, in(tracker, "min_track_diameter=-1"), "MonoPeopleCounter--Tracker_min_track_diameter = -1"},
        {false, in(tracker, "min_fast_track_age=0"), "MonoPeopleCounter--Tracker_min_fast_track_age = 0"},
        {false, in(tracker, "min_fast_track_speed=0"), "MonoPeopleCounter--Tracker_min_fast_track_speed = 0"},
        {false, in(tracker, "min_slow_track_age=-1"), "MonoPeopleCounter--Tracker_min_slow_track_age = -1"},
        {false, in(tracker, "min_slow_track_speed=0"), "MonoPeopleCounter--Tracker_min_slow_track_speed = 0"},
        {false, in(light, "too_high=0"), "MonoPeopleCounter--BrightnessWarnings_too_high = 0"},
        {false, in(light, "too_high=-3"), "MonoPeopleCounter--BrightnessWarnings_too_high = -3"},
        {false, in(light, "too_low=256"), "MonoPeopleCounter--BrightnessWarnings_too_low = 256"},
        {false, in(light, "too_low=0"), nullptr},
        {false, in(light, "too_high_change_in_period=0"),
         "MonoPeopleCounter--BrightnessWarnings_too_high_change_in_period = 0"},
        {false, in(light, "period_for_measure_change_ms=100000000"),
         "MonoPeopleCounter--BrightnessWarnings_period_for_measure_change_ms = 100000000"},
        // Stereo, at 144x108.
        {true, "", nullptr},
        {true, in(stereo, "Stereo_resolution=0"), "StereoPeopleCounter_Stereo_resolution = 0"},
        {true, in(stereo, "area_max_grow_for_keep_ratio=0.5"), "StereoPeopleCounter_area_max_grow_for_keep_ratio = 0.5"},
        {true, in(stereo, "foregr_blur_gauss_sigma=0"), "StereoPeopleCounter_foregr_blur_gauss_sigma = 0"},
        {true, in(stereo, "foregr_blur_gauss_sigma=1e9"), "StereoPeopleCounter_foregr_blur_gauss_sigma = 1000000000"},
        {true, in(stereo, "blurred_foreground_gradient_multiplier=0"),
         "StereoPeopleCounter_blurred_foreground_gradient_multiplier = 0"},
        {true, in(stereo, "Stereo_med_rad=100000"), "StereoPeopleCounter_Stereo_med_rad = 100000"},
        {true, in(stereo, "Stereo_double_median_rad=100000\nStereo_use_double_med_filling=true"),
         "StereoPeopleCounter_Stereo_double_median_rad = 100000"},
        {true, in(calibration, "dist_coeff_l=[ [1e6], [1e6], [0.], [0.], [0.], [0.], [0.], [0.] ]"),
         "rectifies to the focal length"},
        {true, in(calibration, "dist_coeff_r=[ [1e6], [0.], [0.], [0.], [0.], [0.], [0.], [0.] ]"),
         "rectifies to the focal length"},
        {true, in(calibration, "camera_matrix_l=[ [0., 0., 0.], [0., 0., 0.], [0., 0., 0.] ]"),
         "StereoPeopleCounter--3DReconstructor_camera_matrix_l: its focal lengths"},
        {true, in(calibration, "base_vect=[ [0.], [0.], [0.] ]"),
         "StereoPeopleCounter--3DReconstructor_base_vect must be three finite numbers, not all 0"},
        {true, in(calibration, "rotate_matrix_l_r=[ [0., 0., 0.], [0., 0., 0.], [0., 0., 0.] ]"),
         "StereoPeopleCounter--3DReconstructor_rotate_matrix_l_r must be a rotation"},
        {true, in(calibration, "camera_matrix_r=[ [1e9, 0., 72], [0., 1e9, 54], [0., 0., 1.] ]"),
         "StereoPeopleCounter--3DReconstructor_camera_matrix_r: its focal lengths"},
        {true, in(stereo, "Stereo_max_height_error=150"), "StereoPeopleCounter_Stereo_max_height_error = 150"},
        {true, in(stereo, "Stereo_max_height_error=100"), nullptr},
        {true, in(stereo, "Stereo_segm_threshold=1000000000\nStereo_use_morphological_filtering=true"),
         "StereoPeopleCounter_Stereo_segm_threshold = 1000000000"},
        {true, in(stereo, "Stereo_use_morphological_filtering=true"), nullptr},
        {true, in(stereo_light, "too_high=0"), "StereoPeopleCounter--BrightnessChecker_too_high = 0"},
        {true, in(stereo_light, "too_low=300"), "StereoPeopleCounter--BrightnessChecker_too_low = 300"},
        {true, in(stereo_light, "too_high_change_in_period=-1"),
         "StereoPeopleCounter--BrightnessChecker_too_high_change_in_period = -1"},
    };
    for (const auto& c : cases) {
        const std::string refusal = Refusal(c.stereo, c.lines);
        if (!c.refusal) {
            EXPECT_EQ(refusal, "") << c.lines;
            continue;
        }
        EXPECT_NE(refusal.find(c.refusal), std::string::npos) << c.lines << " gave: " << refusal;
        // A number is refused with the range that works.
        if (std::string(c.refusal).find(" = ") != std::string::npos) {
            EXPECT_NE(refusal.find("must lie in"), std::string::npos) << c.lines << " gave: " << refusal;
        }
    }
}

}  // namespace
