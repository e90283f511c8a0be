#pragma once

#include <opencv2/core.hpp>
#include <string>
#include <vector>

#include "tools/scene_renderer/scene.h"
#include "tools/support/parameter_file.h"

namespace sweep {

// A candidate setting of the stereo counter's two medians; 0 keeps a radius at its default.
struct Setting {
    int double_median_rad = 0;  // "Stereo_double_median_rad", default 25
    int med_rad = 0;            // "Stereo_med_rad", default 16
};

// "defaults (rad 25, med 16)", "rad 10", "rad 10, med 8".
std::string SettingName(const Setting& setting);
// The setting's lines of section [StereoPeopleCounter], each ending in a newline.
std::string SettingLines(const Setting& setting);
// The setting's values, in section [StereoPeopleCounter].
std::vector<tools::IniValue> SettingValues(const Setting& setting);

// The parameter file a count reads: the scene's own, as the renderer writes it, with `values` set.
std::string ParameterFile(const scene::Scene& s, const std::vector<tools::IniValue>& values);

// A scene's frames as the counter gets them from the service: both views side by side, scaled to
// the working size of 160x120 per view.
std::vector<cv::Mat> WorkingFrames(const scene::Scene& s);

// One pass the counter reported: the frame and the direction.
struct Counted {
    int frame = 0;
    bool incoming = true;
};

// Counts working frames with the stereo counter as the algorithm thread runs it, with the
// ParameterFile of the scene and `values`, written into `dir` under `name`; the camera's tilt is
// the rig's. Throws std::runtime_error when the counter refuses the file.
std::vector<Counted> Count(const scene::Scene& s, const std::vector<cv::Mat>& frames,
                           const std::vector<tools::IniValue>& values, const std::string& dir, const std::string& name);

// How the counted passes meet the truth. A pass is counted by the first unused report of its
// direction from kEarliest frames before to kLatest frames after the head crossed the line;
// passes without one are missed, reports without a pass are false counts.
struct Outcome {
    static constexpr int kEarliest = 10, kLatest = 25;
    int passes = 0;
    int missed = 0;
    int false_counts = 0;
    std::vector<int> lateness;                      // frames after the crossing, of every counted pass
    std::vector<int> pass_heights, missed_heights;  // cm, of every pass and of the missed ones
};
Outcome Score(const std::vector<scene::Crossing>& truth, const std::vector<Counted>& counted);

// Phantom passes (in and out) that `frames` frames of noise give: every pixel of both views drawn
// uniformly at random in every frame (fixed draws), at the working size, with the ParameterFile of
// the camera and `values`, written into `dir` under `name`.
int PhantomPasses(const scene::Scene& camera, int frames, const std::vector<tools::IniValue>& values,
                  const std::string& dir, const std::string& name);

// "3 passes, 2 missed, 1 false, late +0,+3" and back; std::runtime_error for a text that is not one.
std::string OutcomeText(const Outcome& outcome);
Outcome ParseOutcome(const std::string& text);

}  // namespace sweep
