#include "StereoAnalyzer/StereoPeopleCounter/crossings/crossings_counter.h"

#include <algorithm>
#include <cmath>
#include <opencv2/imgproc.hpp>

#include "CommonUtilities/ParameterAccess/load_parameters.h"
#include "CommonUtilities/algorithm_support/kiv_exception.h"
#include "StereoAnalyzer/StereoPeopleCounter/delete_spaces_in_array.h"

namespace crossings {

namespace {

const char kCountingLinesDescription[] =
    "lines for which intersections are counted. Value of parameter consists of sequence of polylines, where every "
    "polyline is represented as sequence of points. first number is id of the line, then goes intersection "
    "typeSingle point is represented by x and y coords relative to size of picture with values in [0.0; 1.0]. ";

const char kCountingLinesDefault[] =
    "[ [ 0, \"TwoDirections\" , [ [0.181818,0.00347222],[0.198864,0.322917],[0.292614, 0.420139],  [0.696023,  "
    "0.409722],[0.801136,0.309028],[0.860795,0.0243056] ] ] ]";

int Sign(float value)
{
    return value > 0.f ? 1 : (value < 0.f ? -1 : 0);
}

cv::Point2f BoxCentre(const stereo::StereoCountingObjData& record)
{
    const float x = static_cast<float>(static_cast<int64_t>(record.box_x1) + record.box_x2);
    const float y = static_cast<float>(static_cast<int64_t>(record.box_y1) + record.box_y2);
    return cv::Point2f(x * 0.5f, y * 0.5f);
}

// Nearest integer, ties to even, kept inside a range that drawing can handle.
int RoundForDrawing(float value)
{
    constexpr float kLimit = 1 << 29;
    if (std::isnan(value))
        return 0;
    return static_cast<int>(std::nearbyint(std::max(-kLimit, std::min(kLimit, value))));
}

}  // namespace

int CCrossingPerimeterDetector::CheckCrossingPerimeter(const cv::Point2f& a, const cv::Point2f& b,
                                                       const std::vector<cv::Point2f>& polyline)
{
    if ((a.x == b.x && a.y == b.y) || polyline.size() < 2)
        return 0;
    const auto side = [&](const cv::Point2f& p) {
        return (a.x - b.x) * p.y + (b.y - a.y) * p.x + (b.x * a.y - a.x * b.y);
    };
    int result = 0;
    for (std::size_t i = 0; i + 1 < polyline.size(); ++i) {
        const cv::Point2f& q0 = polyline[i];
        const cv::Point2f& q1 = polyline[i + 1];
        const int s1 = Sign(side(q1));
        if (s1 == 0 || Sign(side(q0)) == s1)
            continue;
        const auto e = [&](const cv::Point2f& p) {
            return (q0.x * q1.y - q1.x * q0.y) + p.y * (q1.x - q0.x) + p.x * (q0.y - q1.y);
        };
        result += Sign(e(a)) - Sign(e(b));
    }
    return result;
}

void CrossingsCounter::InitializeDefaultParameters()
{
    InitValueParameterStringDefault(m_counting_lines, "", "", "CountingLines", kCountingLinesDescription, "",
                                    kCountingLinesDefault);
}

void CrossingsCounter::Reinit(cv::Size frame_size)
{
    m_frame_size = frame_size;
    m_objects.clear();
    InitCrossingLines();
}

void CrossingsCounter::InitCrossingLines()
{
    KIV_CHECK(static_cast<int64_t>(m_frame_size.width) * m_frame_size.height > 0,
              "CrossingsCounter_InitCrossingLines_frame_size");
    const std::vector<ParamsLib::InputLineFormat>& lines = m_counting_lines();
    m_lines.clear();
    const float width = static_cast<float>(m_frame_size.width);
    const float height = static_cast<float>(m_frame_size.height);
    for (const ParamsLib::InputLineFormat& line : lines) {
        if (static_cast<int>(m_lines.size()) >= kMaxLines)
            break;
        PolyLineInfo info;
        info.id = static_cast<int>(line.id);
        info.type = line.direction;
        info.points.reserve(line.points.size());
        for (const auto& point : line.points) info.points.emplace_back(point.x * width, point.y * height);
        m_lines.push_back(std::move(info));
    }
    const std::string name = GetFullParameterName(m_counting_lines.GetName(), GetContext());
    if (m_counting_lines.GetState() != ParamsLib::ParameterState::kDeserialized)
        Log(kKivLogWarning) << "No counting lines in the parameter file (" << name << "): the built-in line "
                            << kCountingLinesDefault << " is used, which need not suit this camera";
    if (lines.size() > m_lines.size()) {
        std::string ignored;
        for (std::size_t k = m_lines.size(); k < lines.size(); ++k)
            ignored += (ignored.empty() ? "" : ", ") + std::to_string(lines[k].id);
        Log(kKivLogWarning) << "Only " << kMaxLines << " counting lines are counted (" << name << "): the lines "
                            << ignored << " are ignored";
    }
    // A line that can count nothing is kept (and counts nothing); the other lines count.
    if (lines.empty())
        Log(kKivLogWarning) << "No counting line in " << name << ": nothing is counted";
    for (std::size_t k = 0; k < m_lines.size(); ++k) {
        const std::string defect = ParamsLib::CountingLineDefect(lines[k].points);
        if (!defect.empty())
            Log(kKivLogWarning) << "Counting line " << m_lines[k].id << " (" << name
                                << ") can count nothing: " << defect;
    }
}

void CrossingsCounter::CalculateObjectsState(std::vector<stereo::StereoCountingObjData>& objects)
{
    UpdateInternalObjectsCoords(objects);
    CalculateCrossings();
    FillExternalObjectsState(objects);
}

ObjDataForIntersectCount* CrossingsCounter::FindObject(int64_t id)
{
    for (ObjDataForIntersectCount& object : m_objects) {
        if (object.object_id == id)
            return &object;
    }
    return nullptr;
}

void CrossingsCounter::UpdateInternalObjectsCoords(const std::vector<stereo::StereoCountingObjData>& objects)
{
    m_unseen_objects.assign(m_objects.size(), true);
    m_new_records.assign(objects.size(), true);
    for (std::size_t r = 0; r < objects.size(); ++r) {
        for (std::size_t i = 0; i < m_objects.size(); ++i) {
            ObjDataForIntersectCount& object = m_objects[i];
            if (object.object_id != objects[r].object_id)
                continue;
            object.previous_centre = object.current_centre;
            object.current_centre = BoxCentre(objects[r]);
            m_unseen_objects[i] = false;
            m_new_records[r] = false;
            break;
        }
    }
    stereo::DeleteSpacesInArray(m_objects, m_unseen_objects);
    for (std::size_t r = 0; r < objects.size(); ++r) {
        if (!m_new_records[r])
            continue;
        ObjDataForIntersectCount object;
        object.current_centre = BoxCentre(objects[r]);
        object.previous_centre = object.current_centre;
        object.object_id = objects[r].object_id;
        object.states.fill(kCrossingNone);
        m_objects.push_back(object);
    }
}

void CrossingsCounter::CalculateCrossings()
{
    for (ObjDataForIntersectCount& object : m_objects) {
        object.states.fill(kCrossingNone);
        for (std::size_t i = 0; i < m_lines.size(); ++i) {
            const int r = CCrossingPerimeterDetector::CheckCrossingPerimeter(object.current_centre,
                                                                             object.previous_centre, m_lines[i].points);
            int s = object.accumulators[i] + r;
            s = std::max(-2, std::min(2, s));
            object.accumulators[i] = static_cast<int8_t>(s);
            object.states[i] = s > 0 ? kCrossingPositive : (s < 0 ? kCrossingNegative : kCrossingNone);
            if (s == 2) {
                object.accumulators[i] = 0;
                object.in_flags[i] = !object.out_flags[i];
                object.out_flags[i] = false;
            } else if (s == -2) {
                object.accumulators[i] = 0;
                object.out_flags[i] = !object.in_flags[i];
                object.in_flags[i] = false;
            }
        }
    }
}

void CrossingsCounter::FillExternalObjectsState(std::vector<stereo::StereoCountingObjData>& objects)
{
    for (stereo::StereoCountingObjData& record : objects) {
        ObjDataForIntersectCount* object = FindObject(record.object_id);
        KIV_CHECK(object != nullptr, "CrossingsCounter_FillExternalObjectsState_unknown_object");
        FillCrossedLinesIds(*object, record);
        FillAlarms(*object, record);
        int net = 0;
        bool alarmed = false;
        for (int i = 0; i < kMaxLines; ++i) {
            net += object->in_flags[static_cast<std::size_t>(i)] ? 1 : 0;
            net -= object->out_flags[static_cast<std::size_t>(i)] ? 1 : 0;
            alarmed = alarmed || object->alarmed[static_cast<std::size_t>(i)];
        }
        record.in_flag = net > 0;
        record.out_flag = net < 0;
        record.spare_flag = false;
        record.alarmed = alarmed;
    }
}

void CrossingsCounter::FillCrossedLinesIds(const ObjDataForIntersectCount& internal,
                                           stereo::StereoCountingObjData& record) const
{
    int count = 0;
    for (std::size_t i = 0; i < m_lines.size(); ++i) {
        if (internal.in_flags[i])
            record.crossed_lines[count++] = m_lines[i].id;
        else if (internal.out_flags[i])
            record.crossed_lines[count++] = -m_lines[i].id;
    }
    record.crossed_lines_count = count;
}

void CrossingsCounter::FillAlarms(ObjDataForIntersectCount& internal, stereo::StereoCountingObjData& record) const
{
    int count = 0;
    for (std::size_t i = 0; i < m_lines.size(); ++i) {
        const int state = internal.states[i];
        if (internal.alarmed[i] || state == kCrossingNone)
            continue;
        if (m_lines[i].type == ParamsLib::kIntersectionTwoDirections || m_lines[i].type == state) {
            record.alarm_lines[count++] = m_lines[i].id;
            internal.alarmed[i] = 1;
        }
    }
    record.alarm_lines[count++] = -1;
    record.alarm_lines_count = count;
}

void CrossingsCounter::DrawLine(cv::Mat& image) const
{
    for (const PolyLineInfo& line : m_lines) {
        for (std::size_t i = 0; i + 1 < line.points.size(); ++i) {
            const cv::Point from(RoundForDrawing(line.points[i].x), RoundForDrawing(line.points[i].y));
            const cv::Point to(RoundForDrawing(line.points[i + 1].x), RoundForDrawing(line.points[i + 1].y));
            cv::line(image, from, to, cv::Scalar(255, 255, 0, 0), 1, cv::LINE_8, 0);
        }
    }
}

}  // namespace crossings
