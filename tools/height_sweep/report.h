#pragma once

#include <string>
#include <vector>

#include "tools/height_sweep/counting.h"
#include "tools/height_sweep/variety.h"

namespace sweep {

// What the sweep covered: its cameras, walks, heights and draws per cell.
struct Variety {
    std::vector<Camera> cameras;
    std::vector<Walk> walks;
    int height_from = 150, height_to = 200;  // 5 cm steps
    int draws = 3;
};

// One scene's outcome under every candidate setting, in the order of the settings.
struct CellResult {
    Cell cell;
    std::vector<Outcome> outcomes;
};

// The phantom passes of noise under every candidate setting, at one camera.
struct NoiseResult {
    Camera camera;
    std::vector<int> phantoms;
};

// The setting with the fewest errors (passes missed plus false counts); among equals the one with
// fewer passes counted 3 or more frames late, then the first.
size_t Recommended(const std::vector<Setting>& settings, const std::vector<CellResult>& results);

// The measurement in Markdown, as README's "Counting short people" shows it: the variety, the
// errors of each setting in all and by height, camera and walk, the recommended setting, and the
// noise.
std::string Report(const Variety& variety, const std::vector<Setting>& settings, const std::vector<CellResult>& results,
                   const std::vector<NoiseResult>& noise, int noise_frames, const std::string& extra_settings);

// A paragraph broken into lines of at most `width` characters at its spaces (a longer word keeps
// its own line), each line ending in a newline.
std::string WrapText(const std::string& paragraph, size_t width = 100);

// A pass counted this many frames late or later counts as late.
constexpr int kLate = 3;

}  // namespace sweep
