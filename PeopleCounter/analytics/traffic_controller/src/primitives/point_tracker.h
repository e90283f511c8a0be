#pragma once

#include <boost/multi_index/member.hpp>
#include <boost/multi_index/ordered_index.hpp>
#include <boost/multi_index/tag.hpp>
#include <boost/multi_index_container.hpp>
#include <cstdint>
#include <list>
#include <memory>
#include <utility>
#include <vector>

#include "CommonUtilities/ParameterAccess/parameters.h"
#include "CommonUtilities/algorithm_support/block_light.h"
#include "CommonUtilities/algorithm_support/mem_manager.h"
#include "PeopleCounter/analytics/traffic_controller/src/primitives/bipartite_weight_matching.h"
#include "PeopleCounter/analytics/traffic_controller/src/primitives/point_path.h"

// A key point found by the traffic controller.
struct KPoint {
    int x;
    int y;
    float lambda;  // corner strength
    int mark;      // number of the region the point lies in
};

// One path as the tracker reports it.
struct IPoint {
    int x;
    int y;  // measured upward: image height - 1 - row
    int64_t ID;
    bool valid;
    int diameter;
    void** attached_object;  // the path's slot for the caller's own record
    int stationary_flags;    // bit 0: the first averager stands still at its last sample; bit 1: the second
};

// The radius, in pixels, within which a path may move at an image position (y measured upward).
class IDistanceMap {
public:
    virtual int GetRadius(int x, int y, int width, int height) const = 0;
    virtual ~IDistanceMap() = default;
};

struct TrackingParameters {
    int comparison_mode = 0;  // 0: trimmed-median difference; otherwise the local search
    int min_diameter = 20;    // pixels, for a path to be reported valid
    int min_length = 15;      // positions, for a path to be reported valid
    int rectangle[4] = {0, 0, 0, 0};
    bool prediction_gate = false;  // candidates inside the prediction's ellipse, else within 40 pixels
};

// One path, or one candidate point of the current frame (ID -1) before it is joined.
struct PointPath {
    using Positions = PositionList;
    static constexpr int kHistorySize = 7;

    int64_t ID = -1;
    std::pair<int, int> sector{0, 0};  // (x / 20, y / 20)
    float length = 0.f;
    std::shared_ptr<Positions> points;
    std::shared_ptr<Positions> predictions;
    Sample history[kHistorySize] = {};
    int history_count = 0;
    AlgoLibrary::TPoint<int> position{0, 0};
    PathPrediction prediction{0.f, 0.f, 0.f, 0.f, 0.f};
    float strength = 0.f;
    int lives = 5;
    bool updated = true;
    int index = 0;
    // Filled and cleared by the traffic controller only, through IPoint::attached_object.
    mutable void* attached_object = nullptr;
    AVG_POINT first_averager{50, 5, 15, 35, 150, 350};
    AVG_POINT second_averager{20, 5, 15, 5, 150, 50};
    int mark = 0;
    int64_t start_time = 0;
};

struct points_by_id {};

// Follows key points from frame to frame as paths with identities, forecasts and extents.
// Runs on the algorithm thread only.
class CPointTracker : public BlockHighlevel::LightBlock<BlockEntities::IAlgoEntityBase> {
public:
    struct DetectorParameters {
        ParamsLib::IntValueParam<> lambda_low_thr;
        ParamsLib::IntValueParam<> lambda_high_thr;
        ParamsLib::IntValueParam<> nsmooth_img;
        ParamsLib::FltValueParam<> min_any_track_age;
        ParamsLib::FltValueParam<> min_track_diameter;
        ParamsLib::FltValueParam<> min_fast_track_age;
        ParamsLib::FltValueParam<> min_fast_track_speed;
        ParamsLib::FltValueParam<> min_slow_track_age;
        ParamsLib::FltValueParam<> min_slow_track_speed;
    };

    using PathContainer = boost::multi_index_container<
        PointPath,
        boost::multi_index::indexed_by<
            boost::multi_index::ordered_non_unique<
                boost::multi_index::member<PointPath, std::pair<int, int>, &PointPath::sector>>,
            boost::multi_index::ordered_unique<boost::multi_index::tag<points_by_id>,
                                               boost::multi_index::member<PointPath, int64_t, &PointPath::ID>>>>;
    static constexpr int kMaxCandidates = 1000;
    static constexpr int kMaxPaths = 1000;
    static constexpr int kMaxPositions = 1000;

    explicit CPointTracker(AlgoLibrary::MemManager::MemoryManager& manager);
    ~CPointTracker() override;

    // Sizes the tracker for width x height images. A set-up after an earlier one also forgets the
    // paths and the previous image.
    void Init(int width, int height, const TrackingParameters& parameters, IDistanceMap* distance_map);
    // Where no path may start: width x height bytes, zero for "no". The caller keeps them alive.
    void SetWorkMask(const unsigned char* mask) { m_work_mask = mask; }
    // One frame: the grey image (width x height bytes), its time (100-ns ticks) and its key points.
    void TrackingPoints(const avector<unsigned char>& image, int64_t time, const avector<KPoint>& points);
    // One record per path in sector order; valid until the next call.
    const std::vector<IPoint>& GetPoints();
    // The positions of the path with that ID, or null.
    const PointPath::Positions* GetPath(int64_t id) const;
    // The largest movement of a path, in units of the typical object radius r (pixels).
    float EstimateMaxDiameterToMinTypicalTrackLength(float r) const;

    static PathPrediction Predict(const Sample* history, int count, int64_t now);

    // The joining of one frame's candidates to the paths, with removal, new paths and truncation;
    // and the greedy mutual-best joining that replaces the optimal assignment when it fails.
    void ConnectNewPointsWithExistingPaths();
    void DefaultCorrespondenceSolver();

    void InitializeDefaultParameters() override;
    std::shared_ptr<BlockEntities::DebugDraw::IVisualizer> ThisClassVisualizer() override { return nullptr; }

    const DetectorParameters& GetDetectorParameters() const { return *m_detector; }
    const PathContainer& GetPaths() const { return m_paths; }
    const avector<unsigned char>& GetPreviousImage() const { return m_prev_image; }

protected:
    // The steps of TrackingPoints around the joining: the images and the candidates of a frame,
    // then the smoothed image kept as the previous one.
    void BeginFrame(const avector<unsigned char>& image, int64_t time, const avector<KPoint>& points);
    void EndFrame();

private:
    void UpdatePath(PathContainer::iterator path, const PointPath& candidate);
    void StartNewPaths();
    void TruncatePathToMaxLimit();
    // The candidates of one sector, as a range of m_input_order.
    std::pair<std::vector<int>::const_iterator, std::vector<int>::const_iterator> CandidatesIn(
        std::pair<int, int> sector) const;
    float BestCorrelation(const AlgoLibrary::TPoint<int>& first, const AlgoLibrary::TPoint<int>& second,
                          bool first_is_fixed) const;

    // The steps of the joining: paths become the rows and candidates (in sector order) the columns
    // of the cost matrix; each path is predicted and scored against the candidates that pass the
    // gates; the assignment's pairs update the paths.
    void NumberPathsAndCandidates();
    void FillCostMatrix(int n);
    void PredictPath(PathContainer::iterator path);
    // The farthest a path may move in this frame (city-block pixels), or -1 without a distance map.
    int JumpLimit(const PointPath& path) const;
    // Whether a candidate may continue a path at all: same region, within the jump limit, and close
    // enough to the prediction.
    bool PassesGates(const PointPath& path, int jump_limit, const PointPath& candidate) const;
    // The cost of linking a path to a candidate, or kNoLink when their images differ too much.
    int LinkCost(const PointPath& path, const PointPath& candidate) const;
    void ApplyAssignment(int n, int path_count, int candidate_count);

    AlgoLibrary::MemManager::MemoryManager m_manager;
    int m_width = 0;
    int m_height = 0;
    IDistanceMap* m_distance_map = nullptr;  // owned by the caller of Init
    TrackingParameters m_parameters;
    std::unique_ptr<DetectorParameters> m_detector;
    int64_t m_time = 0;
    // The candidates of the frame in key point order, their indices in sector order (ties in key
    // point order) and whether each was taken out; sized once for the largest frame.
    std::vector<PointPath> m_input_points;
    std::vector<int> m_input_order;
    std::vector<char> m_input_removed;
    PathContainer m_paths;
    avector<unsigned char> m_prev_image;
    avector<unsigned char> m_cur_image;
    float m_correlation_scale = 0.f;
    std::vector<char> m_smooth_buffer;
    AlgoLibrary::Assignment::MyMethod::BipartiteWeightMatching m_matcher;
    std::vector<IPoint> m_output;
    int64_t m_path_counter = 0;
    const unsigned char* m_work_mask = nullptr;  // owned by the caller of SetWorkMask
    bool m_initialized = false;

    // Per-frame scratch, reused.
    avector<int> m_cost;
    std::vector<std::pair<int, int>> m_pairs;
    std::vector<PathContainer::iterator> m_rows;
    std::vector<int64_t> m_id_snapshot;
};
