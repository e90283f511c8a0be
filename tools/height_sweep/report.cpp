#include "tools/height_sweep/report.h"

#include <algorithm>
#include <cmath>
#include <functional>
#include <iomanip>
#include <map>
#include <sstream>

namespace sweep {

namespace {

struct Totals {
    int passes = 0, missed = 0, false_counts = 0, late = 0, latest = 0;
    void Add(const Outcome& outcome)
    {
        passes += outcome.passes;
        missed += outcome.missed;
        false_counts += outcome.false_counts;
        for (const int lateness : outcome.lateness) {
            late += lateness >= kLate;
            latest = std::max(latest, lateness);
        }
    }
    int Errors() const { return missed + false_counts; }
};

std::vector<Totals> TotalsOf(size_t settings, const std::vector<CellResult>& results,
                             const std::function<bool(const CellResult&)>& take)
{
    std::vector<Totals> totals(settings);
    for (const CellResult& result : results)
        if (take(result))
            for (size_t i = 0; i < settings; ++i) totals[i].Add(result.outcomes[i]);
    return totals;
}

std::string Share(int count, int of)
{
    std::ostringstream out;
    out << count << " (" << std::fixed << std::setprecision(1) << (of ? 100.0 * count / of : 0.0) << " %)";
    return out.str();
}

std::string List(const std::vector<std::string>& items)
{
    std::string text;
    for (size_t i = 0; i < items.size(); ++i) text += (i == 0 ? "" : i + 1 == items.size() ? " and " : ", ") + items[i];
    return text;
}

// A table whose rows are groups of scenes and whose columns are the settings, each cell "missed / false".
void GroupTable(std::ostringstream& out, const std::string& first, const std::vector<Setting>& settings,
                const std::vector<std::pair<std::string, std::function<bool(const CellResult&)>>>& groups,
                const std::vector<CellResult>& results)
{
    out << "| " << first << " | passes |";
    for (const Setting& setting : settings) out << " " << SettingName(setting) << " |";
    out << "\n|---|---|";
    for (size_t i = 0; i < settings.size(); ++i) out << "---|";
    out << "\n";
    for (const auto& [name, take] : groups) {
        const std::vector<Totals> totals = TotalsOf(settings.size(), results, take);
        out << "| " << name << " | " << totals[0].passes << " |";
        for (const Totals& t : totals) out << " " << t.missed << " / " << t.false_counts << " |";
        out << "\n";
    }
}

}  // namespace

std::string WrapText(const std::string& paragraph, size_t width)
{
    std::istringstream words(paragraph);
    std::string text, line;
    for (std::string word; words >> word;) {
        if (!line.empty() && line.size() + 1 + word.size() > width) {
            text += line + "\n";
            line.clear();
        }
        line += (line.empty() ? "" : " ") + word;
    }
    return text + line + "\n";
}

size_t Recommended(const std::vector<Setting>& settings, const std::vector<CellResult>& results)
{
    const std::vector<Totals> totals = TotalsOf(settings.size(), results, [](const CellResult&) { return true; });
    size_t best = 0;
    for (size_t i = 1; i < totals.size(); ++i)
        if (std::make_pair(totals[i].Errors(), totals[i].late) <
            std::make_pair(totals[best].Errors(), totals[best].late))
            best = i;
    return best;
}

std::string Report(const Variety& variety, const std::vector<Setting>& settings, const std::vector<CellResult>& results,
                   const std::vector<NoiseResult>& noise, int noise_frames, const std::string& extra_settings)
{
    std::ostringstream out;
    const std::vector<Totals> totals = TotalsOf(settings.size(), results, [](const CellResult&) { return true; });
    std::vector<std::string> mounts, baselines, tilted, walks;
    auto add_once = [](std::vector<std::string>& list, const std::string& item) {
        if (std::find(list.begin(), list.end(), item) == list.end())
            list.push_back(item);
    };
    for (const Camera& camera : variety.cameras) {
        if (camera.tilt == 0.0) {
            add_once(mounts, std::to_string(camera.mount));
            add_once(baselines, std::to_string(camera.baseline));
            continue;
        }
        // Tilted cameras by tilt and baseline: "tilted 0.15 rad at 260 and 300 cm with a 20 cm baseline".
        std::ostringstream group;
        group << "tilted " << std::fixed << std::setprecision(2) << camera.tilt << " rad at ";
        std::vector<std::string> at;
        for (const Camera& other : variety.cameras)
            if (other.tilt == camera.tilt && other.baseline == camera.baseline)
                add_once(at, std::to_string(other.mount));
        group << List(at) << " cm with a " << camera.baseline << " cm baseline";
        add_once(tilted, group.str());
    }
    for (const Walk walk : variety.walks) walks.push_back(WalkName(walk));
    if (!extra_settings.empty())
        out << WrapText("Every setting with " + extra_settings + ".") << "\n";
    std::ostringstream intro;
    intro << results.size() << " rendered scenes, " << (totals.empty() ? 0 : totals[0].passes) << " passes: people of "
          << variety.height_from << " to " << variety.height_to << " cm (in 5 cm steps, " << variety.draws
          << " random draws of each) walking through the line " << List(walks) << ", under "
          << "cameras mounted at " << List(mounts) << " cm with baselines of " << List(baselines) << " cm";
    if (!tilted.empty())
        intro << ", and " << List(tilted);
    intro << ". " << DrawsText() << " The renderer's picture (320x240 per view, focal length 200 pixels) is scaled "
          << "to the working size, 160x120 per view. A pass is counted by a report of its direction from "
          << Outcome::kEarliest << " frames before to " << Outcome::kLatest << " frames after the head crossed the "
          << "line; other reports are false counts. Errors are passes missed and false counts.";
    out << WrapText(intro.str()) << "\n";
    out << "| setting | missed | false counts | errors | counted " << kLate << "+ frames late | latest |\n"
        << "|---|---|---|---|---|---|\n";
    for (size_t i = 0; i < settings.size(); ++i) {
        const Totals& t = totals[i];
        out << "| " << SettingName(settings[i]) << " | " << Share(t.missed, t.passes) << " | "
            << Share(t.false_counts, t.passes) << " | " << Share(t.Errors(), t.passes) << " | " << t.late << " | +"
            << t.latest << " |\n";
    }

    out << "\n"
        << WrapText(
               "Missed passes / false counts by height (passes at the height of the person who walks, "
               "false counts at the height of the scene's first person):")
        << "\n| height | passes |";
    for (const Setting& setting : settings) out << " " << SettingName(setting) << " |";
    out << "\n|---|---|";
    for (size_t i = 0; i < settings.size(); ++i) out << "---|";
    out << "\n";
    // Heights in 5 cm rows: a second person of 173 cm belongs to the row of 175 cm.
    const auto row_of = [](int height) { return static_cast<int>(std::floor((height + 2.5) / 5.0)) * 5; };
    for (int height = variety.height_from; height <= variety.height_to; height += 5) {
        int passes = 0;
        std::vector<int> missed(settings.size(), 0), false_counts(settings.size(), 0);
        for (const CellResult& result : results)
            for (size_t i = 0; i < settings.size(); ++i) {
                const Outcome& outcome = result.outcomes[i];
                if (i == 0)
                    passes += static_cast<int>(std::count_if(outcome.pass_heights.begin(), outcome.pass_heights.end(),
                                                             [&](int h) { return row_of(h) == height; }));
                missed[i] +=
                    static_cast<int>(std::count_if(outcome.missed_heights.begin(), outcome.missed_heights.end(),
                                                   [&](int h) { return row_of(h) == height; }));
                if (result.cell.height == height)
                    false_counts[i] += outcome.false_counts;
            }
        out << "| " << height << " cm | " << passes << " |";
        for (size_t i = 0; i < settings.size(); ++i) out << " " << missed[i] << " / " << false_counts[i] << " |";
        out << "\n";
    }

    out << "\nMissed passes / false counts by camera and walk:\n\n";
    std::vector<std::pair<std::string, std::function<bool(const CellResult&)>>> groups;
    for (const Camera& camera : variety.cameras)
        groups.emplace_back(CameraName(camera), [camera](const CellResult& r) {
            return r.cell.camera.mount == camera.mount && r.cell.camera.baseline == camera.baseline &&
                   r.cell.camera.tilt == camera.tilt;
        });
    for (const Walk walk : variety.walks)
        groups.emplace_back(WalkName(walk), [walk](const CellResult& r) { return r.cell.walk == walk; });
    GroupTable(out, "scenes", settings, groups, results);

    const size_t best = Recommended(settings, results);
    out << "\nFewest errors: " << SettingName(settings[best]) << ".";
    if (!SettingLines(settings[best]).empty()) {
        out << "\n\n    [StereoPeopleCounter]\n";
        std::istringstream lines(SettingLines(settings[best]));
        for (std::string line; std::getline(lines, line);) out << "    " << line << "\n";
    } else {
        out << "\n";
    }

    if (!noise.empty()) {
        out << "\n"
            << WrapText("Phantom passes (in and out) in " + std::to_string(noise_frames / 25) +
                        " seconds of noise (every pixel of both views random in every frame):")
            << "\n| camera |";
        for (const Setting& setting : settings) out << " " << SettingName(setting) << " |";
        out << "\n|---|";
        for (size_t i = 0; i < settings.size(); ++i) out << "---|";
        out << "\n";
        for (const NoiseResult& result : noise) {
            out << "| " << CameraName(result.camera) << " |";
            for (const int phantoms : result.phantoms) out << " " << phantoms << " |";
            out << "\n";
        }
    }
    return out.str();
}

}  // namespace sweep
