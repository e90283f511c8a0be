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
    const char* const kCalibration = "StereoPeopleCounter--3DReconstructor";
    // The single camera at 160x120 with a target radius of about 12 pixels, stereo at 144x108.
    // Refusal: "=" the parameter's full name and value as written, "= X" with X as the value shown,
    // another text follows the full name (a calibration refusal); null: the value works.
    const struct {
        bool stereo;
        const char* section;
        const char* line;
        const char* refusal;
    } cases[] = {
        {false, "MonoPeopleCounter", "", nullptr},
        {true, "StereoPeopleCounter", "", nullptr},
        {false, "MonoPeopleCounter--OpticFlow", "object_radius_multiplier=1e9", "= 1000000000"},
        {false, "MonoPeopleCounter--OpticFlow", "object_radius_multiplier=2147483648", "="},
        {false, "MonoPeopleCounter--OpticFlow", "object_radius_multiplier=0.8", nullptr},
        {false, "MonoPeopleCounter--OpticFlow", "cv_term_iter=0", "="},
        {false, "MonoPeopleCounter--OpticFlow", "cv_term_iter=1", nullptr},
        {false, "MonoPeopleCounter--OpticFlow", "cv_term_eps=-1", "="},
        {false, "MonoPeopleCounter--OpticFlow", "point_step_factor=0", "="},
        {false, "MonoPeopleCounter--OpticFlow", "window_radius_multiplier=10", "="},
        {false, "MonoPeopleCounter--OpticFlow", "min_point_shift_multiplier=1e6", "= 1000000"},
        {false, "MonoPeopleCounter--OpticFlow", "min_point_shift_multiplier=-0.5", "="},
        {false, "MonoPeopleCounter", "gauss_radius_multiplier=0", "="},
        {false, "MonoPeopleCounter", "gauss_radius_multiplier=-1", "="},
        {false, "MonoPeopleCounter", "gauss_radius_multiplier=1e9", "= 1000000000"},
        {false, "MonoPeopleCounter", "gauss_radius_multiplier=2", nullptr},
        {false, "MonoPeopleCounter", "keypoint_ops_radius_multiplier=0", "="},
        {false, "MonoPeopleCounter", "lambda_thr=-0.5", "="},
        {false, "MonoPeopleCounter", "lambda_thr=1e9", "= 1000000000"},
        {false, "MonoPeopleCounter", "lambda_thr=0", nullptr},
        {false, "MonoPeopleCounter", "background_subtractor_alpha=-0.1", "="},
        {false, "MonoPeopleCounter", "background_subtractor_alpha=2", "="},
        {false, "MonoPeopleCounter",
         "perspective_filter=top_factor=0;bottom_factor=1;shift_x=0;shift_y=0;translation=0;zoom=1",
         "perspective_filter.top_factor = 0"},
        {false, "MonoPeopleCounter",
         "perspective_filter=top_factor=1;bottom_factor=-1;shift_x=0;shift_y=0;translation=0;zoom=1",
         "perspective_filter.bottom_factor = -1"},
        {false, "MonoPeopleCounter--Tracker", "lambda_low_thr=0", "="},
        {false, "MonoPeopleCounter--Tracker", "lambda_high_thr=-5", "="},
        {false, "MonoPeopleCounter--Tracker", "nsmooth_img=-1", "="},
        {false, "MonoPeopleCounter--Tracker", "nsmooth_img=1000", "="},
        {false, "MonoPeopleCounter--Tracker", "min_track_diameter=-1", "="},
        {false, "MonoPeopleCounter--Tracker", "min_fast_track_age=-1", "="},
        {false, "MonoPeopleCounter--Tracker", "min_fast_track_speed=-0.5", "="},
        {false, "MonoPeopleCounter--Tracker", "min_slow_track_age=-1", "="},
        {false, "MonoPeopleCounter--Tracker", "min_slow_track_speed=-2", "="},
        {false, "MonoPeopleCounter--Tracker", "min_slow_track_age=0", nullptr},
        {false, "MonoPeopleCounter--BrightnessWarnings", "too_high=0", "="},
        {false, "MonoPeopleCounter--BrightnessWarnings", "too_high=-3", "="},
        {false, "MonoPeopleCounter--BrightnessWarnings", "too_low=256", "="},
        {false, "MonoPeopleCounter--BrightnessWarnings", "too_low=0", nullptr},
        {false, "MonoPeopleCounter--BrightnessWarnings", "too_high_change_in_period=0", "="},
        {false, "MonoPeopleCounter--BrightnessWarnings", "period_for_measure_change_ms=100000000", "="},
        {true, "StereoPeopleCounter", "Stereo_resolution=0", "="},
        {true, "StereoPeopleCounter", "area_max_grow_for_keep_ratio=0.5", "="},
        {true, "StereoPeopleCounter", "foregr_blur_gauss_sigma=0", "="},
        {true, "StereoPeopleCounter", "foregr_blur_gauss_sigma=1e9", "= 1000000000"},
        {true, "StereoPeopleCounter", "blurred_foreground_gradient_multiplier=0", "="},
        {true, "StereoPeopleCounter", "Stereo_med_rad=100000", "="},
        {true, "StereoPeopleCounter", "Stereo_double_median_rad=100000\nStereo_use_double_med_filling=true",
         "= 100000"},
        {true, "StereoPeopleCounter", "Stereo_max_height_error=150", "="},
        {true, "StereoPeopleCounter", "Stereo_max_height_error=100", nullptr},
        {true, "StereoPeopleCounter", "Stereo_segm_threshold=1000000000\nStereo_use_morphological_filtering=true",
         "= 1000000000"},
        {true, "StereoPeopleCounter", "Stereo_use_morphological_filtering=true", nullptr},
        {true, "StereoPeopleCounter--BrightnessChecker", "too_high=0", "="},
        {true, "StereoPeopleCounter--BrightnessChecker", "too_low=300", "="},
        {true, "StereoPeopleCounter--BrightnessChecker", "too_high_change_in_period=-1", "="},
        {true, kCalibration, "dist_coeff_l=[ [1e6], [1e6], [0.], [0.], [0.], [0.], [0.], [0.] ]",
         "rectifies to the focal length"},
        {true, kCalibration, "dist_coeff_r=[ [1e6], [0.], [0.], [0.], [0.], [0.], [0.], [0.] ]",
         "rectifies to the focal length"},
        {true, kCalibration, "camera_matrix_l=[ [0., 0., 0.], [0., 0., 0.], [0., 0., 0.] ]", ": its focal lengths"},
        {true, kCalibration, "camera_matrix_r=[ [1e9, 0., 72], [0., 1e9, 54], [0., 0., 1.] ]", ": its focal lengths"},
        {true, kCalibration, "base_vect=[ [0.], [0.], [0.] ]", " must be three finite numbers, not all 0"},
        {true, kCalibration, "rotate_matrix_l_r=[ [0., 0., 0.], [0., 0., 0.], [0., 0., 0.] ]", " must be a rotation"},
    };
    for (const auto& c : cases) {
        const std::string line = c.line;
        const std::string refusal = Refusal(c.stereo, "[" + std::string(c.section) + "]\n" + line + "\n");
        if (!c.refusal) {
            EXPECT_EQ(refusal, "") << line;
            continue;
        }
        const std::string key = line.substr(0, line.find('='));
        const std::string shown = c.refusal;
        std::string expected = std::string(c.section) + "_" + key;
        if (shown == "=")
            expected += " = " + line.substr(key.size() + 1);
        else if (shown.rfind("= ", 0) == 0)
            expected += " " + shown;
        else if (shown.rfind("perspective_filter", 0) == 0)
            expected = std::string(c.section) + "_" + shown;
        else
            expected = shown[0] == ':' || shown[0] == ' ' ? expected + shown : shown;
        EXPECT_NE(refusal.find(expected), std::string::npos) << line << " gave: " << refusal;
        // A number is refused with the range that works.
        if (expected.find(" = ") != std::string::npos) {
            EXPECT_NE(refusal.find("must lie in"), std::string::npos) << line << " gave: " << refusal;
        }
    }
}

}  // namespace
