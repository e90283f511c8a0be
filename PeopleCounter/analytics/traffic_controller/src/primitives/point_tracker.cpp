#include "PeopleCounter/analytics/traffic_controller/src/primitives/point_tracker.h"

#include <algorithm>
#include <cassert>
#include <climits>
#include <cmath>
#include <stdexcept>

#include "CommonUtilities/algorithm_support/kiv_exception.h"
#include "CommonUtilities/algorithm_support/rounding.h"
#include "PeopleCounter/analytics/traffic_controller/src/primitives/point_correlation.h"
#include "PeopleCounter/analytics/traffic_controller/src/primitives/window_means.h"

namespace {

// Candidates and paths are looked up by 20 x 20 pixel cells, so that a path only meets the
// candidates of the nine cells around it.
constexpr int kSectorSide = 20;

// The cost matrix of the joining: an entry of kNoLink forbids the link; a link costs its
// correlation score (0 for equal shapes, 2 at most for the sum-normalised difference) times
// kScoreToCost, and a score above 2 is no link either. The bipartite matching wants integer costs.
constexpr int kNoLink = 10000;
constexpr int kMaxLinkCost = 2000;
constexpr float kScoreToCost = 1000.f;

// Gates before any image comparison. Without the prediction gate a candidate must lie closer than
// 40 pixels to the path's predicted position (40^2 squared pixels), a generous bound on a person's
// step between two frames; with it, its squared Mahalanobis distance under the prediction's
// covariance must stay below 4, that is within two standard deviations.
constexpr float kMaxSquaredDistanceToPrediction = 1600.f;
constexpr float kMaxSquaredMahalanobisDistance = 4.f;
// With a distance map, a path moves at most a quarter of the local object radius per frame
// (city-block pixels), and never less than 2 pixels, so that small radii still allow jitter.
constexpr int kJumpRadiusDivisor = 4;
constexpr int kMinJumpLimit = 2;

// The greedy replacement of the matching links only scores below this.
constexpr float kFallbackScoreLimit = 9.0f;
constexpr int kOutputDiameterPositions = 200;

// The path counter is reported as a series whose increments are of interest.
constexpr AlgoLibrary::StatUtils::SubjectOfInterest::Enum kPathIdStatistic =
    AlgoLibrary::StatUtils::SubjectOfInterest::Increment;

std::pair<int, int> SectorOf(const AlgoLibrary::TPoint<int>& p)
{
    return {p.x / kSectorSide, p.y / kSectorSide};
}

// min(value / minimum, 1): how much of a minimal age or speed a track has reached. A minimum of 0
// (or below) is reached by any track, so that such a setting in a device's parameter file counts
// the track fully instead of dividing by 0.
float ShareOfMinimum(float value, float minimum)
{
    return value >= minimum ? 1.f : value / minimum;
}

}  // namespace

CPointTracker::CPointTracker(AlgoLibrary::MemManager::MemoryManager& manager)
    : m_manager(manager),
      m_detector(std::make_unique<DetectorParameters>()),
      m_prev_image(avector<unsigned char>::allocator_type(manager)),
      m_cur_image(avector<unsigned char>::allocator_type(manager)),
      m_cost(avector<int>::allocator_type(manager))
{
    m_input_points.reserve(kMaxCandidates);
    m_input_order.reserve(kMaxCandidates);
    m_input_removed.reserve(kMaxCandidates);
}

CPointTracker::~CPointTracker() = default;

void CPointTracker::InitializeDefaultParameters()
{
    DetectorParameters& p = *m_detector;
    InitValueParameterStringDefault(p.lambda_low_thr, "", "", "lambda_low_thr",
                                    "minimal lambda to be feature point in Harris detector", "", "20");
    InitValueParameterStringDefault(p.lambda_high_thr, "", "", "lambda_high_thr",
                                    "minimal lambda for feature point for beginning new path in Harris detector", "",
                                    "20");
    InitValueParameterStringDefault(p.nsmooth_img, "", "", "nsmooth_img",
                                    "smoothig radius in pixels for image in Harris detector", "", "5");
    InitValueParameterStringDefault(p.min_any_track_age, "", "", "min_any_track_age",
                                    "Minimal age in seconds for typical track. Faster events would be treated as "
                                    "non-motion but something else (light changing)",
                                    "", "0.1");
    p.min_any_track_age.SetLimits(0.f, 1000000000.f);
    InitValueParameterStringDefault(
        p.min_track_diameter, "", "", "min_track_diameter",
        "Minimal track diameter considered by tracker as movement (related to externally-specified minimal typical "
        "track). Smaller tracks would be entirely counted as movement only after additional checks",
        "", "1");
    InitValueParameterStringDefault(p.min_fast_track_age, "", "", "min_fast_track_age",
                                    "Minimal age in seconds when fast small track is treated as movement entirely. "
                                    "Fast tracks with shorter time would have only part of them treated as movement",
                                    "", "0.5");
    InitValueParameterStringDefault(
        p.min_fast_track_speed, "", "", "min_fast_track_speed",
        "Minimal speed (in externally-specified minimal typical track/second) when fast small track is treated as "
        "movement entirely. Slower tracks would have only part of them treated as movement",
        "", "1.5");
    InitValueParameterStringDefault(p.min_slow_track_age, "", "", "min_slow_track_age",
                                    "Minimal age in seconds when slow small track is treated as movement entirely. "
                                    "Slow tracks with shorter time would have only part of them treated as movement",
                                    "", "5");
    InitValueParameterStringDefault(
        p.min_slow_track_speed, "", "", "min_slow_track_speed",
        "Minimal speed (in externally-specified minimal typical track/second) when slow small track is treated as "
        "movement entirely. Slower tracks would have only part of them treated as movement",
        "", "0.5");
}

PathPrediction CPointTracker::Predict(const Sample* history, int count, int64_t now)
{
    return ::Predict(history, count, now);
}

// Set-up for one image size. Paths of an earlier size would point outside the new images, so a
// new set-up starts from no paths.
void CPointTracker::Init(int width, int height, const TrackingParameters& parameters, IDistanceMap* distance_map)
{
    KIV_CHECK(width > 0 && height > 0 && static_cast<long long>(width) * height <= INT_MAX,
              "PointTrackerSize_151012_101005")
        << "CPointTracker: bad image size" << width << height;
    // The median comparison divides by the correlation scale, which stays 0.
    KIV_CHECK(parameters.comparison_mode != 0, "PointTrackerMode_151012_101006")
        << "CPointTracker: comparison mode 0 needs a positive correlation scale, and the tracker's is 0";
    m_width = width;
    m_height = height;
    m_parameters = parameters;
    m_distance_map = distance_map;
    m_time = 0;
    m_path_counter = 0;
    m_correlation_scale = 0.f;
    m_work_mask = nullptr;
    m_cur_image.assign(static_cast<std::size_t>(width) * static_cast<std::size_t>(height), 0);
    // Paths and a previous image of an earlier set-up belong to another image size.
    m_paths.clear();
    m_input_points.clear();
    m_input_order.clear();
    m_input_removed.clear();
    m_prev_image.clear();
    m_output.clear();
    m_initialized = true;
}

// One frame: take the image and the key points, join the key points to the paths, keep the image.
void CPointTracker::TrackingPoints(const avector<unsigned char>& image, int64_t time, const avector<KPoint>& points)
{
    BeginFrame(image, time, points);
    ConnectNewPointsWithExistingPaths();
    EndFrame();
}

// The smoothed image of this frame is what the next frame's windows are compared with.
void CPointTracker::EndFrame()
{
    std::swap(m_prev_image, m_cur_image);
}

// The frame's image is smoothed by window means, so that the window comparison sees shapes rather
// than pixel noise; the first frame is compared with itself. Each key point becomes a candidate,
// filed by its 20 x 20 cell so that a path only looks at the candidates around it.
void CPointTracker::BeginFrame(const avector<unsigned char>& image, int64_t time, const avector<KPoint>& points)
{
    if (!m_initialized)
        throw std::logic_error("Using of uninitialized class CPointTracker.");
    KIV_CHECK(image.size() == m_cur_image.size(), "PointTrackerImage_151012_101007")
        << "CPointTracker: the image holds" << static_cast<double>(image.size()) << "bytes instead of"
        << static_cast<double>(m_cur_image.size());

    std::copy(image.begin(), image.end(), m_cur_image.begin());
    if (m_prev_image.empty())
        m_prev_image = m_cur_image;
    const AlgoLibrary::FastUintDividerSmoothingPixelFunction pixel_function;
    AlgoLibrary::CalcWindowMeans(m_cur_image.data(), m_cur_image.data(), pixel_function, m_width, m_height,
                                 m_detector->nsmooth_img(), m_smooth_buffer);

    m_time = time;
    m_input_points.clear();
    const float lambda_low = static_cast<float>(m_detector->lambda_low_thr());
    for (const KPoint& k : points) {
        if (static_cast<int>(m_input_points.size()) >= kMaxCandidates)
            break;
        PointPath candidate;
        candidate.position = {k.x, k.y};
        candidate.sector = SectorOf(candidate.position);
        candidate.strength = k.lambda + lambda_low;
        candidate.first_averager.sum = candidate.position;
        candidate.first_averager.count = 1;
        candidate.second_averager.sum = candidate.position;
        candidate.second_averager.count = 1;
        candidate.mark = k.mark;
        m_input_points.push_back(candidate);
    }
    m_input_removed.assign(m_input_points.size(), 0);
    m_input_order.resize(m_input_points.size());
    for (std::size_t i = 0; i < m_input_order.size(); ++i) m_input_order[i] = static_cast<int>(i);
    std::sort(m_input_order.begin(), m_input_order.end(), [this](int a, int b) {
        const std::pair<int, int>& sa = m_input_points[static_cast<std::size_t>(a)].sector;
        const std::pair<int, int>& sb = m_input_points[static_cast<std::size_t>(b)].sector;
        return sa != sb ? sa < sb : a < b;
    });
}

std::pair<std::vector<int>::const_iterator, std::vector<int>::const_iterator> CPointTracker::CandidatesIn(
    std::pair<int, int> sector) const
{
    const auto low = std::lower_bound(m_input_order.begin(), m_input_order.end(), sector,
                                      [this](int i, const std::pair<int, int>& key) {
                                          return m_input_points[static_cast<std::size_t>(i)].sector < key;
                                      });
    const auto high = std::upper_bound(low, m_input_order.end(), sector, [this](const std::pair<int, int>& key, int i) {
        return key < m_input_points[static_cast<std::size_t>(i)].sector;
    });
    return {low, high};
}

// A joined candidate moves its path: the travelled length and the history feed the movement
// measure and the forecast; the two averagers tell whether the path stands still.
void CPointTracker::UpdatePath(PathContainer::iterator path, const PointPath& candidate)
{
    const int64_t time = m_time;
    m_paths.modify(path, [&candidate, time](PointPath& p) {
        const int64_t dx = static_cast<int64_t>(p.position.x) - candidate.position.x;
        const int64_t dy = static_cast<int64_t>(p.position.y) - candidate.position.y;
        p.length += std::sqrt(static_cast<float>(dx * dx + dy * dy));
        p.position = candidate.position;
        p.sector = candidate.sector;
        p.strength = candidate.strength;
        assert(p.points);
        p.points->push_back(p.position);
        p.first_averager.update(p.position);
        p.second_averager.update(p.position);
        if (static_cast<int>(p.points->size()) > kMaxPositions)
            p.points->pop_front();
        p.updated = true;
        for (int i = PointPath::kHistorySize - 1; i > 0; --i) p.history[i] = p.history[i - 1];
        p.history[0] = Sample{p.position, time};
        if (p.history_count <= PointPath::kHistorySize - 1)
            ++p.history_count;
        p.lives = std::min(p.lives + 1, 5);
    });
}

float CPointTracker::BestCorrelation(const AlgoLibrary::TPoint<int>& first, const AlgoLibrary::TPoint<int>& second,
                                     bool first_is_fixed) const
{
    const AlgoLibrary::TPoint<int>& fixed = first_is_fixed ? first : second;
    const AlgoLibrary::TPoint<int>& searched = first_is_fixed ? second : first;
    return Correlation::BestCorrelation(m_width, m_prev_image, m_cur_image, m_correlation_scale, fixed, searched,
                                        m_parameters.comparison_mode);
}

// The joining of one frame: the candidates that can continue each path are scored, and the best
// overall assignment (not the best per path) decides, so that two people passing close by keep
// their own paths. Missed paths lose a life and die when none is left; strong candidates left
// over start paths.
void CPointTracker::ConnectNewPointsWithExistingPaths()
{
    StatValueInt("input points", static_cast<long long>(m_input_points.size()));
    StatValueInt("original paths", static_cast<long long>(m_paths.size()));

    const int path_count = static_cast<int>(m_paths.size());
    const int candidate_count = static_cast<int>(m_input_points.size());
    // One spare row and column: the matching wants a square matrix with room for "no partner".
    const int n = std::max(path_count, candidate_count) + 1;
    NumberPathsAndCandidates();
    FillCostMatrix(n);

    if (m_matcher.Solve(m_cost, n, m_pairs) < 0)
        DefaultCorrespondenceSolver();
    else
        ApplyAssignment(n, path_count, candidate_count);

    long long visible = 0, not_visible = 0, trusted = 0, not_trusted = 0;
    for (auto it = m_paths.begin(); it != m_paths.end();) {
        if (it->updated)
            ++visible;
        else
            ++not_visible;
        if (it->lives <= 0) {
            ++not_trusted;
            it = m_paths.erase(it);
        } else {
            ++trusted;
            ++it;
        }
    }

    StartNewPaths();

    StatValueInt("visible_paths", visible);
    StatValueInt("not_visible_paths", not_visible);
    StatValueInt("trusted_paths", trusted);
    StatValueInt("not_trusted_paths", not_trusted);
    StatValueInt("trusted and new paths", static_cast<long long>(m_paths.size()));
    StatSpecialValueInt("point Id", m_path_counter, kPathIdStatistic);

    if (static_cast<int>(m_paths.size()) > kMaxPaths) {
        Log(kKivLogWarning) << "m_paths.size() too big: " << m_paths.size();
        TruncatePathToMaxLimit();
    }
}

// Paths become the rows and candidates, in cell order, the columns of the cost matrix.
void CPointTracker::NumberPathsAndCandidates()
{
    m_rows.clear();
    for (auto it = m_paths.begin(); it != m_paths.end(); ++it) {
        const int row = static_cast<int>(m_rows.size());
        m_paths.modify(it, [row](PointPath& p) { p.index = row; });
        m_rows.push_back(it);
    }
    for (std::size_t column = 0; column < m_input_order.size(); ++column)
        m_input_points[static_cast<std::size_t>(m_input_order[column])].index = static_cast<int>(column);
}

// Each path is forecast, then scored against the candidates of the nine cells around it that pass
// the gates; the gates are cheap and spare most image comparisons.
void CPointTracker::FillCostMatrix(int n)
{
    m_cost.assign(static_cast<std::size_t>(n) * static_cast<std::size_t>(n), kNoLink);
    for (std::size_t row = 0; row < m_rows.size(); ++row) {
        const PathContainer::iterator path = m_rows[row];
        PredictPath(path);
        const int jump_limit = JumpLimit(*path);
        for (int sy = -1; sy <= 1; ++sy) {
            for (int sx = -1; sx <= 1; ++sx) {
                const auto range = CandidatesIn(std::make_pair(path->sector.first + sx, path->sector.second + sy));
                for (auto i = range.first; i != range.second; ++i) {
                    const PointPath& candidate = m_input_points[static_cast<std::size_t>(*i)];
                    if (PassesGates(*path, jump_limit, candidate))
                        m_cost[row * static_cast<std::size_t>(n) + static_cast<std::size_t>(candidate.index)] =
                            LinkCost(*path, candidate);
                }
            }
        }
    }
}

void CPointTracker::PredictPath(PathContainer::iterator path)
{
    const PathPrediction prediction = Predict(path->history, path->history_count, m_time);
    m_paths.modify(path, [&prediction](PointPath& p) {
        p.prediction = prediction;
        assert(p.predictions);
        p.predictions->push_back(
            {AlgoLibrary::RoundHalfAwayFromZero(prediction.x), AlgoLibrary::RoundHalfAwayFromZero(prediction.y)});
        if (static_cast<int>(p.predictions->size()) > kMaxPositions)
            p.predictions->pop_front();
    });
}

int CPointTracker::JumpLimit(const PointPath& path) const
{
    if (!m_distance_map)
        return -1;
    const int radius = m_distance_map->GetRadius(path.position.x, m_height - 1 - path.position.y, m_width, m_height);
    return std::max(radius / kJumpRadiusDivisor, kMinJumpLimit);
}

bool CPointTracker::PassesGates(const PointPath& path, int jump_limit, const PointPath& candidate) const
{
    // Points of another region belong to another object.
    if (candidate.mark != path.mark)
        return false;
    const long long jump = std::abs(static_cast<long long>(path.position.x) - candidate.position.x) +
                           std::abs(static_cast<long long>(path.position.y) - candidate.position.y);
    if (jump_limit >= 0 && jump > jump_limit)
        return false;
    const PathPrediction& prediction = path.prediction;
    const float dx = static_cast<float>(candidate.position.x) - prediction.x;
    const float dy = static_cast<float>(candidate.position.y) - prediction.y;
    if (m_parameters.prediction_gate)
        return prediction.xx * dx * dx + 2 * prediction.xy * dx * dy + prediction.yy * dy * dy <
               kMaxSquaredMahalanobisDistance;
    return dx * dx + dy * dy < kMaxSquaredDistanceToPrediction;
}

int CPointTracker::LinkCost(const PointPath& path, const PointPath& candidate) const
{
    const float score = Correlation::BestCorrelation(m_width, m_prev_image, m_cur_image, m_correlation_scale,
                                                     path.position, candidate.position, m_parameters.comparison_mode);
    const float cost = score * kScoreToCost;
    return cost <= static_cast<float>(kMaxLinkCost) ? static_cast<int>(cost) : kNoLink;
}

// The assignment's pairs: a path paired with a candidate it may link to is continued by it; a path
// left without one, or paired across a forbidden link, is missed.
void CPointTracker::ApplyAssignment(int n, int path_count, int candidate_count)
{
    for (const auto& [row, column] : m_pairs) {
        if (row < 0 || row >= path_count)
            continue;
        const PathContainer::iterator path = m_rows[static_cast<std::size_t>(row)];
        const bool linked = column >= 0 && column < candidate_count &&
                            m_cost[static_cast<std::size_t>(row) * n + static_cast<std::size_t>(column)] < kNoLink;
        if (!linked) {
            m_paths.modify(path, [](PointPath& p) {
                p.lives -= 1;
                p.updated = false;
            });
            continue;
        }
        PointPath& candidate =
            m_input_points[static_cast<std::size_t>(m_input_order[static_cast<std::size_t>(column)])];
        UpdatePath(path, candidate);
        candidate.strength = 0.f;  // a joined candidate starts no path
    }
}

// When the assignment fails, a path and a candidate are joined only when each is the other's best
// match: slower and greedier, but it never joins a candidate to two paths.
void CPointTracker::DefaultCorrespondenceSolver()
{
    // The walk follows a snapshot of the IDs, so that a path that moves to another sector while it
    // is updated is visited exactly once.
    std::vector<int64_t> ids;
    ids.reserve(m_paths.size());
    for (const PointPath& p : m_paths) ids.push_back(p.ID);

    auto& by_id = m_paths.get<points_by_id>();
    for (const int64_t id : ids) {
        const auto found = by_id.find(id);
        if (found == by_id.end())
            continue;
        const PathContainer::iterator path = m_paths.project<0>(found);
        const AlgoLibrary::TPoint<int> origin = path->position;

        int best_candidate = -1;
        float best = kFallbackScoreLimit;
        const std::pair<int, int> cell = SectorOf(origin);
        for (int sy = -1; sy <= 1; ++sy) {
            for (int sx = -1; sx <= 1; ++sx) {
                const auto range = CandidatesIn(std::make_pair(cell.first + sx, cell.second + sy));
                for (auto i = range.first; i != range.second; ++i) {
                    if (m_input_removed[static_cast<std::size_t>(*i)])
                        continue;
                    const float score =
                        BestCorrelation(origin, m_input_points[static_cast<std::size_t>(*i)].position, true);
                    if (score < best) {
                        best = score;
                        best_candidate = *i;
                    }
                }
            }
        }

        bool joined = false;
        if (best_candidate >= 0) {
            const PointPath& candidate = m_input_points[static_cast<std::size_t>(best_candidate)];
            const AlgoLibrary::TPoint<int> target = candidate.position;
            const std::pair<int, int> target_cell = SectorOf(target);
            const PointPath* best_path = nullptr;
            float best_back = kFallbackScoreLimit;
            for (int sy = -1; sy <= 1; ++sy) {
                for (int sx = -1; sx <= 1; ++sx) {
                    const auto range =
                        m_paths.equal_range(std::make_pair(target_cell.first + sx, target_cell.second + sy));
                    for (auto other = range.first; other != range.second; ++other) {
                        const float score = BestCorrelation(other->position, target, true);
                        if (score < best_back) {
                            best_back = score;
                            best_path = &*other;
                        }
                    }
                }
            }
            if (best_path && best_path->position == origin) {
                UpdatePath(path, candidate);
                m_input_removed[static_cast<std::size_t>(best_candidate)] = 1;
                joined = true;
            }
        }
        if (!joined) {
            if (path->lives <= 0) {
                m_paths.erase(path);
            } else {
                m_paths.modify(path, [](PointPath& p) {
                    p.lives -= 1;
                    p.updated = false;
                });
            }
        }
    }
}

// Candidates that no path took start paths, unless they are weak (a weak corner is soon lost) or the
// work mask excludes their place.
void CPointTracker::StartNewPaths()
{
    const float lambda_high = static_cast<float>(m_detector->lambda_high_thr());
    for (const int i : m_input_order) {
        if (m_input_removed[static_cast<std::size_t>(i)])
            continue;
        const PointPath& candidate = m_input_points[static_cast<std::size_t>(i)];
        if (m_work_mask) {
            const AlgoLibrary::TPoint<int>& p = candidate.position;
            if (p.x < 0 || p.y < 0 || p.x >= m_width || p.y >= m_height ||
                m_work_mask[static_cast<std::size_t>(p.y) * static_cast<std::size_t>(m_width) +
                            static_cast<std::size_t>(p.x)] == 0)
                continue;
        }
        if (!(candidate.strength > lambda_high))
            continue;
        PointPath path = candidate;
        path.ID = ++m_path_counter;
        const AlgoLibrary::MemManager::Allocator<PointPath::Positions> pool(m_manager);
        path.points = std::allocate_shared<PointPath::Positions>(pool, 1, candidate.position,
                                                                 PointPath::Positions::allocator_type(m_manager));
        path.predictions = std::allocate_shared<PointPath::Positions>(pool, 1, candidate.position,
                                                                      PointPath::Positions::allocator_type(m_manager));
        path.history[0] = Sample{candidate.position, m_time};
        path.history_count = 1;
        path.updated = true;
        path.start_time = m_time;
        m_paths.insert(std::move(path));
    }
    m_input_points.clear();
    m_input_order.clear();
    m_input_removed.clear();
}

// Too many paths (a flickering scene) would slow every frame down: paths are removed, those with the
// most lives first and in cell order, until 999 remain.
void CPointTracker::TruncatePathToMaxLimit()
{
    constexpr int kKeep = kMaxPaths - 1;
    int most_lives = 0;
    for (const PointPath& p : m_paths) most_lives = std::max(most_lives, p.lives);
    // Paths with more than k lives go first; once k reaches the most lives any path has, nothing
    // more can be removed.
    for (int k = 1; k <= 10000 && k < most_lives; ++k) {
        for (auto it = m_paths.begin(); it != m_paths.end();) {
            if (static_cast<int>(m_paths.size()) <= kKeep)
                return;
            if (it->lives > k)
                it = m_paths.erase(it);
            else
                ++it;
        }
    }
}

// The paths as the traffic controller reads them, y measured upward. A path counts as valid only
// when it was joined in this frame and, when asked, has moved far and long enough: short-lived or
// standing points should not make objects.
const std::vector<IPoint>& CPointTracker::GetPoints()
{
    m_output.clear();
    const bool check = m_parameters.min_diameter != 0 || m_parameters.min_length != 0;
    for (const PointPath& p : m_paths) {
        int diameter = 0;
        bool valid = p.updated;
        if (check) {
            assert(p.points);
            const float d = GetPathDiameter(*p.points, kOutputDiameterPositions);
            diameter = d < static_cast<float>(INT_MAX) ? static_cast<int>(d) : INT_MAX;
            valid = p.updated && diameter >= m_parameters.min_diameter &&
                    static_cast<long long>(p.points->size()) >= m_parameters.min_length;
        }
        const int flags = ((p.first_averager.stopped && p.first_averager.last_near) ? 1 : 0) |
                          ((p.second_averager.stopped && p.second_averager.last_near) ? 2 : 0);
        m_output.push_back(
            IPoint{p.position.x, m_height - 1 - p.position.y, p.ID, valid, diameter, &p.attached_object, flags});
    }
    return m_output;
}

const PointPath::Positions* CPointTracker::GetPath(int64_t id) const
{
    const auto& by_id = m_paths.get<points_by_id>();
    const auto found = by_id.find(id);
    return found == by_id.end() ? nullptr : found->points.get();
}

// The "people move" measure: the largest extent of a path in object radii. A young path counts
// nothing (flicker, light); a path that is small but old or fast enough counts in part, in
// proportion to how much of the minimal age and speed it has reached.
float CPointTracker::EstimateMaxDiameterToMinTypicalTrackLength(float r) const
{
    if (m_paths.empty())
        return 0.f;
    KIV_CHECK(r > 0.f, "PointTrackerRadius_151012_101008")
        << "CPointTracker: the typical object radius must be positive, got" << static_cast<double>(r);
    const DetectorParameters& d = *m_detector;
    const float min_any_age = d.min_any_track_age();
    const float min_diameter = d.min_track_diameter();
    const float fast_age = d.min_fast_track_age();
    const float fast_speed = d.min_fast_track_speed();
    const float slow_age = d.min_slow_track_age();
    const float slow_speed = d.min_slow_track_speed();

    bool first = true;
    float result = 0.f;
    for (const PointPath& p : m_paths) {
        float value = 0.f;
        const float age = static_cast<float>(m_time - p.start_time) / 10000000.f;
        if (age > min_any_age) {
            const float diameter = GetPathDiameter(*p.points, INT_MAX) / r;
            if (diameter > min_diameter) {
                value = diameter;
            } else {
                const float speed = p.length / (age * r);
                const float fast = ShareOfMinimum(age, fast_age) * diameter * ShareOfMinimum(speed, fast_speed);
                const float slow = ShareOfMinimum(age, slow_age) * diameter * ShareOfMinimum(speed, slow_speed);
                value = slow > fast ? slow : fast;
            }
        }
        if (first || value > result)
            result = value;
        first = false;
    }
    return result;
}
