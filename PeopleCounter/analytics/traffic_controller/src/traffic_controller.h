#pragma once

#include <cstddef>
#include <cstdint>
#include <list>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "CommonUtilities/ParameterAccess/parameters.h"
#include "CommonUtilities/algorithm_support/block_light.h"
#include "CommonUtilities/algorithm_support/mem_manager.h"
#include "CommonUtilities/algorithm_support/value_monitor.h"
#include "PeopleCounter/analytics/traffic_controller/src/i_traffic_controller.h"
#include "PeopleCounter/analytics/traffic_controller/src/primitives/background_subtractor.h"
#include "PeopleCounter/analytics/traffic_controller/src/primitives/gaussian_blur.h"
#include "PeopleCounter/analytics/traffic_controller/src/primitives/gray_image.h"
#include "PeopleCounter/analytics/traffic_controller/src/primitives/kiv_types.h"
#include "PeopleCounter/analytics/traffic_controller/src/primitives/labeller.h"
#include "PeopleCounter/analytics/traffic_controller/src/primitives/mark_extremums.h"
#include "PeopleCounter/analytics/traffic_controller/src/primitives/optic_flow/optic_flow_cv.h"
#include "PeopleCounter/analytics/traffic_controller/src/primitives/perspective_filter.h"
#include "PeopleCounter/analytics/traffic_controller/src/primitives/point_tracker.h"
#include "PeopleCounter/analytics/traffic_controller/src/traffic_objects.h"

// The parameters of the traffic controller's own block.
struct TrafficControllerAlgoParams {
    ParamsLib::CompoundValueParam<RelativeCircle> target_circle;
    VectorOfRelativePolyLineParam lines;
    PerspectiveFilterValueParam perspective_filter;
    ParamsLib::FltValueParam<> gauss_radius_multiplier;
    ParamsLib::FltValueParam<> keypoint_ops_radius_multiplier;
    ParamsLib::FltValueParam<> lambda_thr;
    ParamsLib::FltValueParam<> background_subtractor_alpha;
    ParamsLib::BlnValueParam<> optic_flow_shift_filter_enabled;
    ParamsLib::BlnValueParam<> pre_smooth;
    ParamsLib::BlnValueParam<> generate_debug_info;
    ParamsLib::BlnValueParam<> mark_extremums_running;
    ParamsLib::EnumValueParam<GaussBlurType> gauss_type;
};

// The single-camera analyser. Per frame: grey conversion, brightness watch, perspective,
// background subtraction, blur, extremum marking, regions, key points, tracking, objects with
// their counting-line crossings, and the optic-flow check of the crossings. Children: "Tracker",
// "OpticFlow", "BrightnessWarnings". Runs on the algorithm thread only.
class CTrafficController : public BlockHighlevel::ChildBlock<BlockHighlevel::LightBlock<ITrafficController>> {
public:
    // The intermediate results of the last frame, kept when generate_debug_info is set (the key
    // points always).
    struct DebugInfo {
        explicit DebugInfo(const AlgoLibrary::MemManager::MemoryManager& manager);

        avector<unsigned char> grey;
        avector<unsigned char> difference;
        avector<unsigned char> blurred;
        CGrayImage<int> extremums;
        LabelImageAndRegions labels;
        avector<KPoint> keypoints;
        ObjectContainer objects;
    };

    explicit CTrafficController(const TrafficControllerInitParams& params);
    ~CTrafficController() override;

    void ProcessImage(const unsigned char* frame, long long time) override;
    void GetObjects(std::vector<PeopleCountingPODObjData>& objects) override;
    void InitImage(const kiv::VideoFormat& format) override;
    float GetChangedPixelsPercent() const override { return m_changed_percent; }
    float GetMaximalPathInObjectRadius() const override;
    std::shared_ptr<BlockEntities::DebugDraw::IVisualizer> ThisClassVisualizer() override { return nullptr; }
    void InitializeDefaultParameters() override;

    const std::vector<LineInfo>& GetLines() const { return m_lines; }
    const DebugInfo& GetDebugInfo() const { return m_debug; }
    const ObjectContainer& GetObjectList() const { return m_objects; }
    int64_t GenerateInfoID() { return ++m_last_info_id; }

    // Set-up results.
    bool IsInitialised() const { return m_initialised; }
    bool IsPerspectiveUniform() const { return m_uniform; }
    float GetTargetRadius() const { return m_target_radius; }
    int GetKeypointRadius() const { return m_keypoint_radius; }
    int GetGaussWindow() const { return m_gauss_window; }
    const events_detector_utils::IGaussianBlur* GetBlur() const { return m_blur.get(); }
    const CPointTracker& GetTracker() const { return m_tracker; }
    const COpticFlowCV& GetOpticFlow() const { return m_optic_flow; }
    const AlgoLibrary::FilterPerspective& GetPerspectiveFilter() const { return m_perspective; }
    // The working image after the last frame's blur (processed-image rows).
    const avector<unsigned char>& GetWorkingImage() const { return m_work; }

    // Stages of the pipeline, public so that they can be checked on their own.
    static void RgbToGrayCustom(const kiv::VideoFormat& format, const unsigned char* source,
                                avector<unsigned char>& destination);
    // Mean of the pixels at rows and columns 1, 4, 7, ...
    static int BrightnessMean(const avector<unsigned char>& image, int width, int height);
    // Key points of equal mark at most r apart in x and y merged into their midpoint.
    static void UniteNeighbours(avector<KPoint>& keypoints, int r);
    // The three sums of squared and multiplied diagonal differences within r of every point,
    // stored at the point's index (64-bit sums).
    static void CalcGradientAroundPoints(const avector<unsigned char>& image, int width, int height,
                                         avector<int64_t>& a, avector<int64_t>& b, avector<int64_t>& c, int r,
                                         const std::vector<kiv::SPOINT>& points);
    // Replaces each pixel by its absolute difference from the background level (values with 11
    // fraction bits) and returns the number of differences of 15 or more.
    static long long SubtractBackgroundPixels(const uint32_t* background, unsigned char* image, std::size_t n);
    // The smaller eigenvalue measure of the structure sums over a (2r + 1)^2 window.
    static float Lambda(int64_t a, int64_t b, int64_t c, int r);

    // The steps of the objects, in their per-frame order.
    void DeleteUnusedObjects();
    void DeleteInfoPointsByNext(std::vector<IPoint>& points);
    void ReinitInfoPoints();
    void ProcessFeaturePoints(std::vector<IPoint>& points);
    void CompileObjects(const std::vector<IPoint>& points);
    void DeleteInfoPointsByErase(std::vector<IPoint>& points);
    void UpdateObjectsInContainer();
    void ApplyOpticFlow(const std::map<int64_t, bool>& good_flow);
    void UpdateIntersections();

    // A processed-image point (y measured upward) in input-image pixels.
    kiv::SPOINT MapToInput(int x, int y) const;

private:
    // Empty when every numeric parameter of the controller and its children can work on the image
    // set up by InitImage; otherwise the refusal of the first that cannot.
    std::string CheckParameterRanges(const PerspectiveFilterParams& perspective) const;
    void InitPerspectiveFilter(const PerspectiveFilterParams& p);
    void ApplyPerspectiveFilter(avector<unsigned char>& image);
    void SubtractBackground(avector<unsigned char>& image);
    void MarkExtremums(const avector<unsigned char>& image, CGrayImage<int>& marks);
    void FillKeypoints(const std::list<CRegion>& regions, const avector<unsigned char>& image,
                       const CGrayImage<int>& marks, avector<KPoint>& keypoints);
    void WatchBrightness(int mean, long long time);
    void RequireInitialised() const;

    TrafficControllerInitParams m_init;
    AlgoLibrary::MemManager::MemoryManager m_manager;
    TrafficControllerAlgoParams m_params;

    BlockHighlevel::ChildBlock<CPointTracker> m_tracker;
    BlockHighlevel::ChildBlock<COpticFlowCV> m_optic_flow;
    BlockHighlevel::ChildBlock<AlgoBlocks::BrightnessStability> m_brightness;

    bool m_initialised = false;
    bool m_uniform = false;
    kiv::VideoFormat m_format{0, 0, 0, 0, 0, 0};
    int m_w = 0;
    int m_h = 0;
    float m_target_radius = 0.f;
    int m_keypoint_radius = 0;
    int m_gauss_window = 0;
    bool m_optic_flow_enabled = false;
    bool m_pre_smooth = true;
    bool m_debug_enabled = false;
    bool m_mark_running = true;
    float m_lambda_thr = 0.f;
    double m_alpha = 0.0;

    std::unique_ptr<events_detector_utils::IGaussianBlur> m_blur;
    AlgoLibrary::FilterPerspective m_perspective;
    AlgoLibrary::PerspectiveRegion m_perspective_region;
    CSimpleBackgroundSubtractor m_background;
    CMarkExtremums m_mark_extremums;
    kiv::SRECT m_label_rect{0, 0, 0, 0};

    // Images of w x h bytes.
    avector<unsigned char> m_work;
    avector<unsigned char> m_source_grey;
    avector<unsigned char> m_tracking;
    avector<unsigned char> m_scratch;
    avector<unsigned char> m_perspective_scratch;  // this controller's own, sized at InitImage
    CGrayImage<int> m_extremums;
    LabelImageAndRegions m_labels;
    avector<KPoint> m_keypoints;
    std::vector<kiv::SPOINT> m_region_points;
    avector<int64_t> m_sum_a;
    avector<int64_t> m_sum_b;
    avector<int64_t> m_sum_c;
    float m_changed_percent = 0.f;
    long long m_changed_pixels = -1;

    // The brightness warnings as logged: too high, too low, too fast a change.
    struct BrightnessReport {
        bool reported = false;
        long long last_seen = 0;  // 100-ns ticks of the last frame that raised it
    };
    static constexpr int kBrightnessKinds = 3;
    // How long a logged warning must stay off before its end is logged: one second.
    static constexpr long long kBrightnessRecoveryTicks = 10000000;
    BrightnessReport m_brightness_reports[kBrightnessKinds];

    // Objects and lines.
    std::vector<LineInfo> m_lines;
    CommonInfoForObjectData m_common;
    int64_t m_last_info_id = 0;
    InfoPointList m_info_points;
    std::vector<ObjectInfo> m_objects_info;
    ObjectContainer m_objects;
    std::vector<IPoint> m_points;

    DebugInfo m_debug;
};
