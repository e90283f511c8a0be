#include "tools/height_sweep/counting.h"

#include <algorithm>
#include <cmath>
#include <fstream>
#include <iostream>
#include <memory>
#include <mutex>
#include <opencv2/imgproc.hpp>
#include <sstream>
#include <stdexcept>

#include "PeopleCounter/universal/i_universal_people_counter.h"
#include "tools/scene_renderer/renderer.h"
#include "tools/scene_renderer/scene_files.h"
#include "tools/support/error_log.h"

namespace sweep {

namespace {

constexpr long long kFrameNs = 40'000'000;  // 25 frames per second
constexpr int kWorkWidth = 160, kWorkHeight = 120;

}  // namespace

std::string SettingName(const Setting& setting)
{
    if (setting.double_median_rad == 0 && setting.med_rad == 0)
        return "defaults (rad 25, med 16)";
    std::string name = "rad " + std::to_string(setting.double_median_rad ? setting.double_median_rad : 25);
    if (setting.med_rad)
        name += ", med " + std::to_string(setting.med_rad);
    return name;
}

std::string SettingLines(const Setting& setting)
{
    std::string lines;
    for (const tools::IniValue& value : SettingValues(setting)) lines += value.key + "=" + value.value + "\n";
    return lines;
}

std::vector<tools::IniValue> SettingValues(const Setting& setting)
{
    std::vector<tools::IniValue> values;
    if (setting.double_median_rad)
        values.push_back(
            {"StereoPeopleCounter", "Stereo_double_median_rad", std::to_string(setting.double_median_rad)});
    if (setting.med_rad)
        values.push_back({"StereoPeopleCounter", "Stereo_med_rad", std::to_string(setting.med_rad)});
    return values;
}

std::string ParameterFile(const scene::Scene& s, const std::vector<tools::IniValue>& values)
{
    return tools::WithIniValues(scene::AlgoIni(s), values);
}

std::vector<cv::Mat> WorkingFrames(const scene::Scene& s)
{
    const scene::Renderer renderer(s);
    std::vector<cv::Mat> frames;
    for (int frame = 0; frame < s.frames; ++frame) {
        cv::Mat scaled;
        cv::resize(renderer.RenderFrame(frame), scaled, cv::Size(2 * kWorkWidth, kWorkHeight), 0, 0, cv::INTER_LINEAR);
        frames.push_back(scaled);
    }
    return frames;
}

namespace {

// Runs the stereo counter over frames that `next` hands out until it returns an empty one.
template <typename Next>
std::vector<Counted> CountWith(const scene::Scene& s, Next&& next, const std::vector<tools::IniValue>& values,
                               const std::string& dir, const std::string& name)
{
    const std::string ini = dir + "/" + name;
    {
        std::ofstream file(ini);
        file << ParameterFile(s, values);
        if (!file)
            throw std::runtime_error("Can not write " + ini);
    }
    std::unique_ptr<IUniversalPeopleCounter, AlgoLibrary::ReleaseDeleter> counter(
        IUniversalPeopleCounter::CreateInstance<kCounterStereo>(ini, std::make_shared<tools::ErrorLog>(), s.rig.tilt));
    if (!counter)
        throw std::runtime_error("The stereo counter refused " + ini);
    counter->InitImage({kWorkWidth, kWorkHeight, 1, 2 * kWorkWidth, 0, 0});
    AlarmVector alarms;
    std::vector<Counted> counted;
    for (long long frame = 0;; ++frame) {
        const cv::Mat image = next(frame);
        if (image.empty())
            break;
        counter->ProcessImage(image, AlgoTimePoint(AlgoTimePoint::duration(frame * kFrameNs)));
        counter->GetAlarms(alarms);
        for (const Alarm& alarm : alarms)
            if (alarm.type == kIncoming || alarm.type == kOutgoing)
                counted.push_back({static_cast<int>(frame), alarm.type == kIncoming});
    }
    return counted;
}

}  // namespace

std::vector<Counted> Count(const scene::Scene& s, const std::vector<cv::Mat>& frames,
                           const std::vector<tools::IniValue>& values, const std::string& dir, const std::string& name)
{
    return CountWith(
        s, [&](long long frame) { return frame < static_cast<long long>(frames.size()) ? frames[frame] : cv::Mat(); },
        values, dir, name);
}

int PhantomPasses(const scene::Scene& camera, int frames, const std::vector<tools::IniValue>& values,
                  const std::string& dir, const std::string& name)
{
    cv::RNG draws(0x5eed);
    cv::Mat noise(camera.rig.height, 2 * camera.rig.width, CV_8UC1);
    const auto counted = CountWith(
        camera,
        [&](long long frame) {
            if (frame >= frames)
                return cv::Mat();
            draws.fill(noise, cv::RNG::UNIFORM, 0, 256);
            cv::Mat scaled;
            cv::resize(noise, scaled, cv::Size(2 * kWorkWidth, kWorkHeight), 0, 0, cv::INTER_LINEAR);
            return scaled;
        },
        values, dir, name);
    return static_cast<int>(counted.size());
}

Outcome Score(const std::vector<scene::Crossing>& truth, const std::vector<Counted>& counted)
{
    Outcome outcome;
    std::vector<bool> used(counted.size(), false);
    for (const scene::Crossing& crossing : truth) {
        ++outcome.passes;
        bool found = false;
        for (size_t i = 0; i < counted.size() && !found; ++i) {
            const int late = counted[i].frame - crossing.frame;
            if (used[i] || counted[i].incoming != crossing.incoming || late < -Outcome::kEarliest ||
                late > Outcome::kLatest)
                continue;
            used[i] = true;
            found = true;
            outcome.lateness.push_back(late);
        }
        const int height = static_cast<int>(std::lround(crossing.height));
        outcome.pass_heights.push_back(height);
        if (!found) {
            ++outcome.missed;
            outcome.missed_heights.push_back(height);
        }
    }
    outcome.false_counts = static_cast<int>(std::count(used.begin(), used.end(), false));
    return outcome;
}

std::string OutcomeText(const Outcome& outcome)
{
    std::ostringstream out;
    out << outcome.passes << " passes, " << outcome.missed << " missed, " << outcome.false_counts << " false, late";
    for (size_t i = 0; i < outcome.lateness.size(); ++i) out << (i ? "," : " ") << std::showpos << outcome.lateness[i];
    if (outcome.lateness.empty())
        out << " -";
    return out.str();
}

Outcome ParseOutcome(const std::string& text)
{
    Outcome outcome;
    std::istringstream in(text);
    std::string passes, missed, is_false, late, lateness;
    in >> outcome.passes >> passes >> outcome.missed >> missed >> outcome.false_counts >> is_false >> late >> lateness;
    if (!in || passes != "passes," || missed != "missed," || is_false != "false," || late != "late")
        throw std::runtime_error("Not an outcome: " + text);
    if (lateness != "-") {
        std::istringstream fields(lateness);
        std::string field;
        while (std::getline(fields, field, ',')) outcome.lateness.push_back(std::stoi(field));
    }
    return outcome;
}

}  // namespace sweep
