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
    cv::Size InputSize() const { return m_input_size; }
    cv::Size ProcessingSize() const { return m_processing_size; }
    cv::Size HeightsSize() const { return m_heights_size; }
    const SceneParams& Scene() const { return m_scene_params; }
    bool IsDebugFrame() const { return m_debug_output; }
    long long FrameCounter() const { return m_frame_counter; }

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

    std::deque<cv::Point> m_head_points;
    std::deque<int> m_head_heights;
    std::vector<StereoCountingObjData> m_objects;
    std::vector<StereoCountingObjData> m_fallen_objects;
    std::vector<StereoCountingObjData> m_previous_objects;  // the records of the previous pair

    StereoMatcherAdapter* m_stereo_matcher;  // one of the two matchers above

    // Every parallel loop of a pair (the two views, the medians' columns) runs here: the calling
    // thread and at most one worker, not the whole default pool for two views' work.
    tbb::task_arena m_arena{2};

    // Working values.
    bool m_initialized = false;
    bool m_rescaled = false;
    bool m_debug_output = false;
    MorphologyParams m_morph_params_unscaled;
    MorphologyParams m_morph_params;
    int m_circle_around_head_rad = 21;
    double m_foregr_blur_sigma_scaled = 0.0;
    cv::Mat m_foregr_blur_kernel;  // Gaussian kernel of the scaled sigma, CV_32F column
    SceneParams m_scene_params;
    bool m_tilt_angle_set = false;
    double m_tilt_angle = 0.0;
    long long m_frame_counter = 0;
    long long m_previous_time = 0;
    long long m_time = 0;
    long long m_time_difference = 0;
    long long m_previous_ticks = 0;
    double m_mean_brightness = 0.0;

    // Sizes.
    cv::Size m_input_size;
    cv::Size m_processing_size;
    cv::Size m_heights_size;
    double m_heights_to_processing = 1.0;

    // Buffers (see EnsureBuffersAllocated).
    Views m_input_views;
    Views m_gray_input;  // the input views in grey, when they come in colour
    Views m_resized;
    Views m_rectified;
    Views m_valid_mask;
    Views m_lrc_mask;
    Views m_disp8_debug_non_filled;
    Views m_disp8_accessor;
    Views m_disparity;
    Views m_height16;
    Views m_height16_scaled;
    Views m_depth;
    Views m_height_map;
    cv::Mat_<uchar> m_all_median_filled_image_l;
    cv::Mat_<uchar> m_median_filled_image_r;
    cv::Mat_<uchar> m_median_filled_image_l;
    cv::Mat_<uchar> m_morphology_processed_image_l;
    cv::Mat_<uchar> m_morphology_bin;
    cv::Mat_<uchar> m_morphology_tmp;
    cv::Mat m_median_first_output;
    cv::Mat m_blurred_l;
    cv::Mat_<uchar> m_small_gray;
    cv::Mat_<cv::Vec2b> m_gradient_and_intensity;
    cv::Mat_<uchar> m_gradient;
    cv::Mat m_blurred_gradient_foreground;
    cv::Mat m_foreground_float;  // the foreground and its blur in float
    cv::Mat m_blurred_float;
    cv::Mat_<uchar> m_tracker_second_image;
    cv::Mat_<uchar> m_invalid_mask;
    cv::Mat m_rectified_uncropped_debug_pair;
    std::vector<uchar> m_height_samples;

    // Video output: one debug video per non-empty bitmap, the marking pair and the input pair. A
    // kind of video whose file cannot be opened is reported once and not written.
    std::map<std::string, cv::VideoWriter> m_debug_video_writers;
    std::string m_debug_video_base_name;
    cv::VideoWriter m_input_video_writer_l;
    cv::VideoWriter m_input_video_writer_r;
    cv::VideoWriter m_marking_video_writer_l;
    cv::VideoWriter m_marking_video_writer_r;
    cv::Mat m_video_frame;
    bool m_debug_video_failed = false;
    bool m_marking_video_failed = false;
    bool m_input_video_failed = false;

    std::shared_ptr<StereoPeopleCounterVisualiser> m_visualiser;

    // Parameters.
    ParamsLib::StrValueParam<> m_algorithm_name;
    ParamsLib::IntValueParam<> m_stereo_resolution;
    ParamsLib::FltValueParam<> m_area_max_grow_for_keep_ratio;
    ParamsLib::IntValueParam<> m_segm_threshold;
    ParamsLib::IntValueParam<> m_hole_threshold;
    ParamsLib::IntValueParam<> m_close_rad;
    ParamsLib::IntValueParam<> m_open_rad;
    ParamsLib::IntValueParam<> m_median_fill_rad;
    ParamsLib::IntValueParam<> m_double_median_rad;
    ParamsLib::IntValueParam<> m_med_rad;
    ParamsLib::IntValueParam<> m_lrc_thresh;
    ParamsLib::BlnValueParam<> m_use_left_right_check;
    ParamsLib::FltValueParam<> m_max_height_error;
    ParamsLib::FltValueParam<> m_height_map_processing_scale;
    ParamsLib::BlnValueParam<> m_use_height_map_processing_scale;
    ParamsLib::BlnValueParam<> m_obtain_height_directly_from_height_map;
    ParamsLib::BlnValueParam<> m_use_double_med_filling;
    ParamsLib::BlnValueParam<> m_use_morphological_filtering;
    ParamsLib::BlnValueParam<> m_use_median_0m_filtering;
    ParamsLib::BlnValueParam<> m_use_backg_subtr_for_height_map_filter;
    ParamsLib::FltValueParam<> m_foregr_blur_gauss_sigma;
    ParamsLib::FltValueParam<> m_blurred_foreground_gradient_multiplier;
    ParamsLib::BlnValueParam<> m_write_debug_video;
    ParamsLib::IntValueParam<> m_debug_video_frames_num;
    ParamsLib::StrValueParam<> m_debug_video_folder;
    ParamsLib::BlnValueParam<> m_write_input_video;
    ParamsLib::IntValueParam<> m_input_video_frames_num;
    ParamsLib::StrValueParam<> m_input_video_folder;
    ParamsLib::StrValueParam<> m_input_video_prefix;
    ParamsLib::BlnValueParam<> m_marking_mode;
    ParamsLib::IntValueParam<> m_marking_frames_num;
    ParamsLib::BlnValueParam<> m_output_fallen_objects;
    ParamsLib::BlnValueParam<> m_output_non_fallen_objects;
    ParamsLib::IntValueParam<> m_frames_num_to_display_fallen_object;
    ParamsLib::BlnValueParam<> m_use_backgr_subtr_only_grad;
};

}  // namespace stereo
