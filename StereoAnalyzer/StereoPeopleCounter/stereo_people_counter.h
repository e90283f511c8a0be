#pragma once

#include <tbb/task_arena.h>

#include <array>
#include <deque>
#include <map>
#include <memory>
#include <opencv2/core.hpp>
#include <opencv2/videoio.hpp>
#include <string>
#include <vector>

#include "CommonUtilities/algorithm_support/block_light.h"
#include "CommonUtilities/algorithm_support/value_monitor.h"
#include "StereoAnalyzer/StereoMatchers/left_or_right_view.h"
#include "StereoAnalyzer/StereoMatchers/stereo_matcher_bm.h"
#include "StereoAnalyzer/StereoMatchers/stereo_matcher_sgbm.h"
#include "StereoAnalyzer/StereoPeopleCounter/connected_components_segmentator.h"
#include "StereoAnalyzer/StereoPeopleCounter/crossings/crossings_counter.h"
#include "StereoAnalyzer/StereoPeopleCounter/depth_map_interpolator.h"
#include "StereoAnalyzer/StereoPeopleCounter/fuzzy_background_subtractor.h"
#include "StereoAnalyzer/StereoPeopleCounter/gradient_calculator.h"
#include "StereoAnalyzer/StereoPeopleCounter/i_scene_3d_reconstructor.h"
#include "StereoAnalyzer/StereoPeopleCounter/i_stereo_people_counter.h"
#include "StereoAnalyzer/StereoPeopleCounter/id_generator.h"
#include "StereoAnalyzer/StereoPeopleCounter/maximums_finder.h"
#include "StereoAnalyzer/StereoPeopleCounter/morphology.h"
#include "StereoAnalyzer/StereoPeopleCounter/objects_filter_by_motion.h"
#include "StereoAnalyzer/StereoPeopleCounter/polygons_around_objects.h"
#include "StereoAnalyzer/StereoPeopleCounter/scene_params.h"
#include "StereoAnalyzer/StereoPeopleCounter/tracker/lukas_kanade_tracker.h"

namespace stereo {

class StereoPeopleCounterVisualiser;

// The stereo analyser: rectifies each pair, computes both views' disparities, turns them into
// height maps over the floor weighted by a foreground model, filters them, finds the heads as
// height maxima, tracks them and decides which counting lines each track crossed.
//
// Runs on the algorithm thread; the per-view stages run the two views in a task arena of two threads
// (the caller and one TBB worker), each writing only its own view's buffers.
//
// Where each stage lives:
// - stereo_people_counter.cpp: parameters and their checks, initialisation for an input size (sizes,
//   buffers, reconstructor, valid pixels mask, matcher, tracker), the rescaling of the filters by the
//   head size scale;
// - stereo_people_counter_frame.cpp: the frame pipeline, from the input pair through rectification,
//   disparities, left-right check, interpolation, foreground, heights maps and their filters to the
//   head search, the tracker and the heights of the objects;
// - stereo_people_counter_output.cpp: the objects handed out (fallen people, coordinates back in the
//   input views), the maps and debug bitmaps the caller reads, the counting lines;
// - stereo_people_counter_video.cpp: the debug, marking and input videos;
// - stereo_people_counter_visualiser.cpp: the debug pictures drawn from the counter's state.
//
// The state is grouped by who writes it: the found objects (Detections), the filters' derived sizes
// (FilterSettings), the mount (SceneSetup), the current pair (FrameState), the resolutions (Sizes),
// the per-view buffers (ViewBuffers), the heights picture's filter chain (HeightMapBuffers), debug
// pictures and videos (DebugVideoState) and the parameters (Parameters).
class StereoPeopleCounter : public BlockHighlevel::LightBlock<IStereoPeopleCounter> {
public:
    using Views = std::array<cv::Mat, kViewsNum>;

    StereoPeopleCounter();
    ~StereoPeopleCounter() override;

    void InitializeDefaultParameters() override;
    void InitFromParams() override;
    void SetTiltAngle(double tilt_angle) override;
    void ReinitCountingLines() override;
    void ProcessStereoPair(const cv::Mat& left, const cv::Mat& right, bool debug, long long time) override;
    const std::vector<std::string>& GetDebugBitmapList() override;
    cv::Mat* GetDebugBitmap(const std::string& name) override;
    void GetObjects(std::vector<StereoCountingObjData>& objects) const override;
    void GetDisparityMapLeft(cv::Mat& map) override;
    void GetDisparityMapRight(cv::Mat& map) override;
    void GetHeightMapLeft(cv::Mat& map) override;
    void GetHeightMapRight(cv::Mat& map) override;
    void GetDepthMapLeft(cv::Mat& map) override;
    void GetDepthMapRight(cv::Mat& map) override;
    int GenerateNextObjectID() override { return m_id_generator.GenerateNextObjectID(); }

    std::shared_ptr<BlockEntities::DebugDraw::IVisualizer> ThisClassVisualizer() override;

    // The matcher a name selects ("bm" or "sgbm", any case).
    StereoMatcherAdapter* SelectStereoMatcher(const std::string& name);
    // The head size scale of the scene: 1 for the reference mount and lens.
    double CalculateObjectSizeScale() const;

    // What the visualiser and the video output read.
    cv::Size InputSize() const { return m_sizes.input; }
    cv::Size ProcessingSize() const { return m_sizes.processing; }
    cv::Size HeightsSize() const { return m_sizes.heights; }
    const SceneParams& Scene() const { return m_scene.params; }
    bool IsDebugFrame() const { return m_frame.debug_output; }
    long long FrameCounter() const { return m_frame.counter; }

private:
    friend class StereoPeopleCounterVisualiser;

    // Initialisation for a new input size.
    void InitAll(const cv::Size& input_size);
    // Refuses a calibration that the parameter files did not give.
    void CheckCalibrationRead();
    // Empty when the analyser's own numeric parameters can work; otherwise the first refusal.
    std::string CheckParameterRanges();
    // Refuses radii and sigmas that the head size scale makes larger than the heights picture.
    void CheckDerivedSizes(double scale) const;
    void InitFrameSize(const cv::Size& input_size);
    cv::Size ReducedResolution(const cv::Size& size, int area, const char* name);
    void EnsureBuffersAllocated();
    void InitScene3DReconstructor();
    void InitValidPixelsMask();
    void InitStereoMatcher();
    void RescaleParameters();
    void InitTracker();

    // The frame pipeline.
    void ProcessStereoPairImpl();
    void FilterDisparityUsingLeftRightCheck();
    void KeepNonInterpolatedDisparity();
    void DisparityInterpolation();
    void ForegroundEstimation();
    void CalculateHeightMaps();
    void FilterLeftHeightMapUsingRightHeightMap();
    void FindObjectsCoords(std::deque<cv::Point>& points, std::deque<int>& heights);
    void ProcessFallingPeople();
    void UnrectifyObjectsCoordinates();
    void AssignObjectHeights();

    // Debug, marking and input videos.
    void InitOutput();
    void StartNewInputVideo();
    void WriteVideoOutput();
    void EndOutput();
    void WriteInputVideo();
    void EndOutputOfInput();
    bool OpenVideo(cv::VideoWriter& writer, const std::string& file, int fourcc, const cv::Size& size, const char* kind,
                   bool& failed);

    void CheckInitialized(const char* id) const;
    void DisparityTo8Bit(const cv::Mat& disparity, cv::Mat& buffer, cv::Mat& map) const;

    // The object id source; the tracker keeps a reference, so it comes first.
    IDGenerator m_id_generator;

    BlockHighlevel::ChildBlockPtr<StereoMatcherBM> m_matcher_bm;
    BlockHighlevel::ChildBlockPtr<StereoMatcherSGBM> m_matcher_sgbm;
    BlockHighlevel::ChildBlockPtr<IScene3DReconstructor> m_reconstructor;
    segmentator::ConnectedComponentsSegmentator m_segmentator;
    BlockHighlevel::ChildBlock<tracker::LukasKanadeTracker> m_tracker;
    BlockHighlevel::ChildBlock<maximums_finder::MaximumsFinder> m_maximums_finder;
    BlockHighlevel::ChildBlock<DepthMapInterpolator> m_interpolator_left;
    BlockHighlevel::ChildBlock<DepthMapInterpolator> m_interpolator_right;
    BlockHighlevel::ChildBlock<DepthMapInterpolator> m_interpolator_low_res;
    BlockHighlevel::ChildBlock<crossings::CrossingsCounter> m_crossings_counter;
    BlockHighlevel::ChildBlock<ObjectsFilterByMotion> m_objects_filter;
    BlockHighlevel::ChildBlock<PolygonsAroundObjects> m_polygons_constructor;
    GradientCalculator m_gradient_calculator;
    BlockHighlevel::ChildBlock<FuzzyBackgroundSubtractor<2>> m_fuzzy_backgr;
    BlockHighlevel::ChildBlock<FuzzyBackgroundSubtractor<1>> m_fuzzy_backgr_gradient;
    BlockHighlevel::ChildBlock<AlgoBlocks::BrightnessStability> m_brightness_checker;

    StereoMatcherAdapter* m_stereo_matcher;  // one of the two matchers above

    // Every parallel loop of a pair (the two views, the medians' columns) runs here: the calling
    // thread and at most one worker, not the whole default pool for two views' work.
    tbb::task_arena m_arena{2};

    bool m_initialized = false;

    // What the head search found in the current pair, and the records handed out.
    struct Detections {
        std::deque<cv::Point> head_points;
        std::deque<int> head_heights;
        std::vector<StereoCountingObjData> objects;
        std::vector<StereoCountingObjData> fallen_objects;
        std::vector<StereoCountingObjData> previous_objects;  // the records of the previous pair
    };
    Detections m_found;

    // The filters' sizes derived from the parameters and the head size scale (RescaleParameters).
    struct FilterSettings {
        bool rescaled = false;
        MorphologyParams morph_unscaled;
        MorphologyParams morph;
        int circle_around_head_rad = 21;
        double foregr_blur_sigma_scaled = 0.0;
        cv::Mat foregr_blur_kernel;  // Gaussian kernel of the scaled sigma, CV_32F column
    };
    FilterSettings m_filter;

    // The camera's mount: the scene read from the parameters and a tilt given by the device.
    struct SceneSetup {
        SceneParams params;
        bool tilt_angle_set = false;
        double tilt_angle = 0.0;
    };
    SceneSetup m_scene;

    // The current pair: its number, its times and the input's brightness.
    struct FrameState {
        bool debug_output = false;
        long long counter = 0;
        long long previous_time = 0;
        long long time = 0;
        long long time_difference = 0;
        long long previous_ticks = 0;
        double mean_brightness = 0.0;
    };
    FrameState m_frame;

    // The input, the matching resolution and the heights pictures' resolution.
    struct Sizes {
        cv::Size input;
        cv::Size processing;
        cv::Size heights;
        double heights_to_processing = 1.0;
    };
    Sizes m_sizes;

    // Per-view buffers, indexed by eLeftOrRightView (see EnsureBuffersAllocated).
    struct ViewBuffers {
        Views input;
        Views gray_input;  // the input views in grey, when they come in colour
        Views resized;
        Views rectified;
        Views valid_mask;
        Views lrc_mask;
        Views disp8_debug_non_filled;
        Views disp8_accessor;
        Views disparity;
        Views height16;
        Views height16_scaled;
        Views depth;
        Views height_map;
    };
    ViewBuffers m_views;

    // The left heights picture's filter chain and the foreground it is weighted by.
    struct HeightMapBuffers {
        cv::Mat_<uchar> all_median_filled_image_l;
        cv::Mat_<uchar> median_filled_image_r;
        cv::Mat_<uchar> median_filled_image_l;
        cv::Mat_<uchar> morphology_processed_image_l;
        cv::Mat_<uchar> morphology_bin;
        cv::Mat_<uchar> morphology_tmp;
        cv::Mat median_first_output;
        cv::Mat blurred_l;
        cv::Mat_<uchar> small_gray;
        cv::Mat_<cv::Vec2b> gradient_and_intensity;
        cv::Mat_<uchar> gradient;
        cv::Mat blurred_gradient_foreground;
        cv::Mat foreground_float;  // the foreground and its blur in float
        cv::Mat blurred_float;
        cv::Mat_<uchar> tracker_second_image;
        cv::Mat_<uchar> invalid_mask;
        std::vector<uchar> height_samples;
    };
    HeightMapBuffers m_maps;

    // Debug pictures and video output: one debug video per non-empty bitmap, the marking pair and
    // the input pair. A kind of video whose file cannot be opened is reported once and not written.
    struct DebugVideoState {
        cv::Mat rectified_uncropped_debug_pair;
        std::map<std::string, cv::VideoWriter> debug_video_writers;
        std::string debug_video_base_name;
        cv::VideoWriter input_video_writer_l;
        cv::VideoWriter input_video_writer_r;
        cv::VideoWriter marking_video_writer_l;
        cv::VideoWriter marking_video_writer_r;
        cv::Mat video_frame;
        bool debug_video_failed = false;
        bool marking_video_failed = false;
        bool input_video_failed = false;
    };
    DebugVideoState m_debug;

    std::shared_ptr<StereoPeopleCounterVisualiser> m_visualiser;

    // The parameters, as read from the parameter file (InitializeDefaultParameters).
    struct Parameters {
        ParamsLib::StrValueParam<> algorithm_name;
        ParamsLib::IntValueParam<> stereo_resolution;
        ParamsLib::FltValueParam<> area_max_grow_for_keep_ratio;
        ParamsLib::IntValueParam<> segm_threshold;
        ParamsLib::IntValueParam<> hole_threshold;
        ParamsLib::IntValueParam<> close_rad;
        ParamsLib::IntValueParam<> open_rad;
        ParamsLib::IntValueParam<> median_fill_rad;
        ParamsLib::IntValueParam<> double_median_rad;
        ParamsLib::IntValueParam<> med_rad;
        ParamsLib::IntValueParam<> lrc_thresh;
        ParamsLib::BlnValueParam<> use_left_right_check;
        ParamsLib::FltValueParam<> max_height_error;
        ParamsLib::FltValueParam<> height_map_processing_scale;
        ParamsLib::BlnValueParam<> use_height_map_processing_scale;
        ParamsLib::BlnValueParam<> obtain_height_directly_from_height_map;
        ParamsLib::BlnValueParam<> use_double_med_filling;
        ParamsLib::BlnValueParam<> use_morphological_filtering;
        ParamsLib::BlnValueParam<> use_median_0m_filtering;
        ParamsLib::BlnValueParam<> use_backg_subtr_for_height_map_filter;
        ParamsLib::FltValueParam<> foregr_blur_gauss_sigma;
        ParamsLib::FltValueParam<> blurred_foreground_gradient_multiplier;
        ParamsLib::BlnValueParam<> write_debug_video;
        ParamsLib::IntValueParam<> debug_video_frames_num;
        ParamsLib::StrValueParam<> debug_video_folder;
        ParamsLib::BlnValueParam<> write_input_video;
        ParamsLib::IntValueParam<> input_video_frames_num;
        ParamsLib::StrValueParam<> input_video_folder;
        ParamsLib::StrValueParam<> input_video_prefix;
        ParamsLib::BlnValueParam<> marking_mode;
        ParamsLib::IntValueParam<> marking_frames_num;
        ParamsLib::BlnValueParam<> output_fallen_objects;
        ParamsLib::BlnValueParam<> output_non_fallen_objects;
        ParamsLib::IntValueParam<> frames_num_to_display_fallen_object;
        ParamsLib::BlnValueParam<> use_backgr_subtr_only_grad;
    };
    Parameters m_params;
};

}  // namespace stereo
