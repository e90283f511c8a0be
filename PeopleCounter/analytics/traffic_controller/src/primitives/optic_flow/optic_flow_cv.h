#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <opencv2/core.hpp>
#include <vector>

#include "CommonUtilities/ParameterAccess/parameters.h"
#include "CommonUtilities/algorithm_support/block_light.h"

// An object's centre in pixels, y counted from the bottom image row.
struct PointWithId {
    int64_t id;
    int x;
    int y;
};

struct OpticFlowParams {
    ParamsLib::BlnValueParam<ParamsLib::TrivialContainer<bool>> fixed_point;
    ParamsLib::IntValueParam<ParamsLib::TrivialContainer<int>> cv_term_iter;
    ParamsLib::NumericParameter<double, ParamsLib::TrivialContainer<double>> cv_term_eps;
    ParamsLib::FltValueParam<ParamsLib::TrivialContainer<float>> object_radius_multiplier;
    ParamsLib::IntValueParam<ParamsLib::TrivialContainer<int>> point_step_factor;
    ParamsLib::FltValueParam<ParamsLib::TrivialContainer<float>> window_radius_multiplier;
    ParamsLib::FltValueParam<ParamsLib::TrivialContainer<float>> min_point_shift_multiplier;
};

// Tells for every object whether it moved with a good optic flow between the last two frames:
// a grid of points seeded around each object's centre is followed into the next frame, and on the
// frame after the object is judged by the shifts of its points. Runs on the algorithm thread.
class COpticFlowCV : public BlockHighlevel::LightBlock<BlockEntities::IAlgoEntityBase> {
public:
    using Objects = std::function<const PointWithId*()>;
    static constexpr int kMaxPoints = 10000;

    COpticFlowCV();
    ~COpticFlowCV() override;

    void InitializeDefaultParameters() override;

    // Sizes the block for width x height frames and a target radius in pixels. Call after the
    // parameters are loaded; a later call sets the block up afresh.
    void Init(int width, int height, float target_radius);
    // One frame (width x height bytes, rows top to bottom). `objects` yields the objects and then
    // null; it is read twice. Afterwards m_good_flow holds one entry per object.
    void Process(const unsigned char* image, Objects objects);
    // The tracking step of Process: follows the seeded points from the previous frame into the new
    // one, keeps the followed ones and makes the new frame the previous one. The flag is unused.
    void CalcOpticalFlow(bool unused, Objects objects);

    int GetObjectRadius() const { return m_object_radius; }
    int GetWindowRadius() const { return m_window_radius; }
    float GetMinPointShift() const { return m_min_point_shift; }
    int GetPointCount() const { return m_point_count; }
    const OpticFlowParams& GetParams() const { return m_params; }

    // Result of the last Process: object id -> moved with a good flow. Read by the traffic controller.
    std::map<int64_t, bool> m_good_flow;

private:
    int m_window_radius = 0;
    int m_object_radius = 0;
    float m_min_point_shift = 0.f;
    int m_point_step = 1;
    OpticFlowParams m_params;
    bool m_initialized = false;
    cv::Mat m_frame, m_prev_frame;
    cv::Mat m_pyramid, m_prev_pyramid;
    std::vector<cv::Point2f> m_prev_points, m_next_points;
    std::vector<int64_t> m_point_ids;
    std::vector<char> m_status;
    int m_point_count = 0;
    int m_flags = 0;
    cv::Size m_size;
};
