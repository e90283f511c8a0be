// What the stereo analyser hands out: object records, fallen people, debug pictures and maps.

#include <algorithm>
#include <cstring>
#include <opencv2/imgproc.hpp>

#include "CommonUtilities/algorithm_support/kiv_exception.h"
#include "StereoAnalyzer/StereoPeopleCounter/circle_iterator.h"
#include "StereoAnalyzer/StereoPeopleCounter/stereo_people_counter.h"
#include "StereoAnalyzer/StereoPeopleCounter/stereo_people_counter_visualiser.h"

namespace stereo {

namespace {

// floor(value * to / from) for integers of either sign.
int ScaleFloor(int value, int to, int from)
{
    const long long product = static_cast<long long>(value) * to;
    long long quotient = product / from;
    if (product % from != 0 && product < 0)
        --quotient;
    return static_cast<int>(quotient);
}

}  // namespace

void StereoPeopleCounter::GetObjects(std::vector<StereoCountingObjData>& objects) const
{
    objects.clear();
    if (m_params.output_non_fallen_objects())
        objects.insert(objects.end(), m_found.objects.begin(), m_found.objects.end());
    if (m_params.output_fallen_objects())
        objects.insert(objects.end(), m_found.fallen_objects.begin(), m_found.fallen_objects.end());
    const cv::Mat& input = m_views.input[kLeftView];
    const int wp = std::max(1, m_sizes.processing.width), hp = std::max(1, m_sizes.processing.height);
    const int wi = m_sizes.input.width, hi = m_sizes.input.height;
    const int max_x = std::max(0, input.cols - 1), max_y = std::max(0, input.rows - 1);
    for (StereoCountingObjData& object : objects) {
        object.box_x1 = std::clamp(ScaleFloor(object.box_x1, wi, wp), 0, max_x);
        object.box_x2 = std::clamp(ScaleFloor(object.box_x2, wi, wp), 0, max_x);
        object.box_y1 = std::clamp(ScaleFloor(object.box_y1, hi, hp), 0, max_y);
        object.box_y2 = std::clamp(ScaleFloor(object.box_y2, hi, hp), 0, max_y);
    }
}

void StereoPeopleCounter::UnrectifyObjectsCoordinates()
{
    const int r = m_filter.circle_around_head_rad;
    for (StereoCountingObjData& object : m_found.objects) {
        const int cx = (object.box_x1 + object.box_x2) / 2, cy = (object.box_y1 + object.box_y2) / 2;
        int ux = 0, uy = 0;
        m_reconstructor->UnrectifyPointCoord(cx, cy, kLeftView, ux, uy);
        object.box_x1 = ux - r;
        object.box_y1 = uy - r;
        object.box_x2 = ux + r;
        object.box_y2 = uy + r;
    }
}

void StereoPeopleCounter::ProcessFallingPeople()
{
    if (!m_params.output_fallen_objects())
        return;
    const int last_col = m_maps.invalid_mask.cols - 1, last_row = m_maps.invalid_mask.rows - 1;
    for (StereoCountingObjData& object : m_found.objects) {
        if (!object.track_ends)
            continue;
        const cv::Point centre((object.box_x1 + object.box_x2) / 2, (object.box_y1 + object.box_y2) / 2);
        bool fallen = true;
        for (CircleIterator it(centre, m_filter.circle_around_head_rad + 1, m_sizes.processing); !it.IsFinished();
             it.MoveToNextPosition()) {
            const cv::Point& p = it.Position();
            if (m_maps.invalid_mask(p) != 0 || p.x == 0 || p.y == 0 || p.x == last_col || p.y == last_row) {
                fallen = false;
                break;
            }
        }
        if (!fallen)
            continue;
        object.fallen = true;
        object.track_ends = false;
        object.fallen_frame = static_cast<int>(m_frame.counter & 0xffffffff);
        // The record keeps what the crossings said of this object in its last reported frame, so
        // the counters do not read a crossing back from the tracker's empty fields.
        const auto previous =
            std::find_if(m_found.previous_objects.begin(), m_found.previous_objects.end(),
                         [&](const StereoCountingObjData& o) { return o.object_id == object.object_id; });
        if (previous != m_found.previous_objects.end()) {
            object.in_flag = previous->in_flag;
            object.out_flag = previous->out_flag;
            object.spare_flag = previous->spare_flag;
            object.alarmed = previous->alarmed;
            object.crossed_lines_count = previous->crossed_lines_count;
            std::memcpy(object.crossed_lines, previous->crossed_lines, sizeof object.crossed_lines);
        }
    }
    for (const StereoCountingObjData& object : m_found.objects)
        if (object.fallen)
            m_found.fallen_objects.push_back(object);
    m_found.objects.erase(std::remove_if(m_found.objects.begin(), m_found.objects.end(),
                                         [](const StereoCountingObjData& o) { return o.fallen; }),
                          m_found.objects.end());
    const long long shown = m_params.frames_num_to_display_fallen_object();
    for (StereoCountingObjData& object : m_found.fallen_objects)
        if (m_frame.counter - object.fallen_frame == shown)
            object.track_ends = true;
    m_found.fallen_objects.erase(
        std::remove_if(m_found.fallen_objects.begin(), m_found.fallen_objects.end(),
                       [&](const StereoCountingObjData& o) { return m_frame.counter - o.fallen_frame > shown; }),
        m_found.fallen_objects.end());
}

void StereoPeopleCounter::ReinitCountingLines()
{
    m_crossings_counter.Reinit(m_sizes.processing);
}

const std::vector<std::string>& StereoPeopleCounter::GetDebugBitmapList()
{
    return m_visualiser->BitmapNames();
}

cv::Mat* StereoPeopleCounter::GetDebugBitmap(const std::string& name)
{
    CheckInitialized("StereoCounterDebugBitmap_200811_140301");
    return m_visualiser->GetDebugBitmap(name);
}

std::shared_ptr<BlockEntities::DebugDraw::IVisualizer> StereoPeopleCounter::ThisClassVisualizer()
{
    return CreateStereoPeopleCounterVisualiser(this);
}

void StereoPeopleCounter::DisparityTo8Bit(const cv::Mat& disparity, cv::Mat& buffer, cv::Mat& map) const
{
    // A range without positive disparities would divide by zero: scale as for one level then.
    const double m = std::max<short>(1, m_stereo_matcher->GetMaxDispVal(kLeftView));
    disparity.convertTo(buffer, CV_8U, 255.0 / m, 0.0);
    cv::resize(buffer, map, map.size(), 0, 0, cv::INTER_LINEAR);
}

void StereoPeopleCounter::GetDisparityMapLeft(cv::Mat& map)
{
    DisparityTo8Bit(m_views.disparity[kLeftView], m_views.disp8_accessor[kLeftView], map);
}

void StereoPeopleCounter::GetDisparityMapRight(cv::Mat& map)
{
    DisparityTo8Bit(m_views.disparity[kRightView], m_views.disp8_accessor[kRightView], map);
}

void StereoPeopleCounter::GetHeightMapLeft(cv::Mat& map)
{
    cv::resize(m_views.height_map[kLeftView], map, map.size(), 0, 0, cv::INTER_LINEAR);
}

void StereoPeopleCounter::GetHeightMapRight(cv::Mat& map)
{
    cv::resize(m_views.height_map[kRightView], map, map.size(), 0, 0, cv::INTER_LINEAR);
}

// The depth maps are looked up from the last pair's disparities only when asked for: no stage of the
// pipeline needs them.
void StereoPeopleCounter::GetDepthMapLeft(cv::Mat& map)
{
    m_reconstructor->CalculateDepthFromDisparity(m_views.disparity[kLeftView], kLeftView, m_views.depth[kLeftView]);
    cv::resize(m_views.depth[kLeftView], map, map.size(), 0, 0, cv::INTER_LINEAR);
}

void StereoPeopleCounter::GetDepthMapRight(cv::Mat& map)
{
    m_reconstructor->CalculateDepthFromDisparity(m_views.disparity[kRightView], kRightView, m_views.depth[kRightView]);
    cv::resize(m_views.depth[kRightView], map, map.size(), 0, 0, cv::INTER_LINEAR);
}

}  // namespace stereo
