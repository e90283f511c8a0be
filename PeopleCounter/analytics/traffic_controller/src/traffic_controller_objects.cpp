// The objects of the traffic controller: tracked points become InfoPoints, InfoPoints become
// objects, and the points' settlings across the counting lines become the objects' crossings.
#include <algorithm>
#include <cmath>

#include "PeopleCounter/analytics/traffic_controller/src/primitives/crossing_perimeter.h"
#include "PeopleCounter/analytics/traffic_controller/src/traffic_controller.h"

namespace {

// An object of the container for change. The identifier, the container's only key, is never
// changed, so the element keeps its place.
ObjectData& Mutable(const ObjectData& object)
{
    return const_cast<ObjectData&>(object);
}

InfoPoint* InfoOf(const IPoint& point)
{
    return point.attached_object ? static_cast<InfoPoint*>(*point.attached_object) : nullptr;
}

}  // namespace

kiv::SPOINT CTrafficController::MapToInput(int x, int y) const
{
    if (!m_perspective.IsForwardValid())
        return {x, y};
    const int h = m_h;
    if (h != 0)
        y = h - 1 - y;
    const std::vector<int>& table = m_perspective.ForwardTable();
    const int table_width = m_perspective.TableWidth();
    const int stride = m_perspective.TableStride();
    bool mapped = false;
    if (!table.empty() && x >= 0 && y >= 0 && x < table_width && stride > 0) {
        const std::size_t index = static_cast<std::size_t>(x) + static_cast<std::size_t>(y) * table_width;
        if (index < table.size() && table[index] != -1) {
            x = table[index] % stride;
            y = table[index] / stride;
            mapped = true;
        }
    }
    if (!mapped) {
        const float* t = m_perspective.Forward();
        const float fx = static_cast<float>(x);
        const float fy = static_cast<float>(y);
        const float d = t[6] * fx + t[7] * fy + 1.f;
        const float u = (t[0] * fx + t[1] * fy + t[2]) / d;
        const float v = (t[3] * fx + t[4] * fy + t[5]) / d;
        // Outside the int range (or not a number) the point lies far outside the image.
        const auto to_int = [](float value) {
            return (value > -1e9f && value < 1e9f) ? static_cast<int>(value) : -1000000000;
        };
        x = to_int(u);
        y = to_int(v);
    }
    if (h != 0)
        y = h - 1 - y;
    return {x, y};
}

// Objects that no record matched in the last frame were handed out once more, without a record;
// they leave the list now, and the counter front turns the leaving of an alarmed one into its
// "MovedOut".
void CTrafficController::DeleteUnusedObjects()
{
    for (auto it = m_objects.begin(); it != m_objects.end();) {
        if (!it->seen)
            it = m_objects.erase(it);
        else
            ++it;
    }
}

namespace {

// Removes the InfoPoints that satisfy `remove` and clears the slots of the points that held them.
template <typename TRemove>
void DeleteInfoPoints(InfoPointList& list, std::vector<IPoint>& points, TRemove remove)
{
    for (IPoint& point : points) {
        InfoPoint* info = InfoOf(point);
        if (info && remove(*info))
            *point.attached_object = nullptr;
    }
    list.remove_if(remove);
}

}  // namespace

void CTrafficController::DeleteInfoPointsByNext(std::vector<IPoint>& points)
{
    DeleteInfoPoints(m_info_points, points, [](const InfoPoint& info) { return info.end_mark != 0; });
}

void CTrafficController::DeleteInfoPointsByErase(std::vector<IPoint>& points)
{
    DeleteInfoPoints(m_info_points, points, [](const InfoPoint& info) { return info.erase_mark != 0; });
}

// Every point is assumed gone until a tracked path refers to it again in this frame.
void CTrafficController::ReinitInfoPoints()
{
    for (InfoPoint& info : m_info_points) {
        info.erase_mark = 1;
        info.assigned = 0;
        info.crossing_mask = 0;
    }
}

// Each valid path moves its point, in input-image coordinates so that the counting lines of the
// parameter file apply unchanged. A point settles on a side of a line only after a full step across
// it (a count of +-2); that hysteresis keeps a point jittering on the line from counting twice.
void CTrafficController::ProcessFeaturePoints(std::vector<IPoint>& points)
{
    const int r = m_keypoint_radius;
    for (IPoint& point : points) {
        InfoPoint* info = InfoOf(point);
        if (info) {
            info->erase_mark = 0;
            info->crossing_mask = 0;
        }
        if (!point.valid)
            continue;
        const kiv::SPOINT position = MapToInput(point.x, point.y);
        if (position.x < 0 || position.x >= m_w || position.y < 0 || position.y >= m_h) {
            point.valid = false;
            continue;
        }
        if (!info) {
            m_info_points.emplace_back();
            info = &m_info_points.back();
            info->position = position;
            info->previous_position = position;
            info->id = GenerateInfoID();
            if (point.attached_object)
                *point.attached_object = info;
        } else {
            info->position = position;
        }
        info->stationary = static_cast<uint8_t>(point.stationary_flags & 1);
        info->processed_position = {point.x, point.y};
        info->path_diameter = point.diameter;
        const kiv::SPOINT above = MapToInput(point.x, std::max(point.y - r, 0));
        const kiv::SPOINT below = MapToInput(point.x, std::min(point.y + r, m_h - 1));
        const float d1 = GetDistance(position, above);
        const float d2 = GetDistance(position, below);
        info->radius = static_cast<int>(d1 + d2) / 2;

        for (std::size_t i = 0; i < m_lines.size(); ++i) {
            LineInfo& line = m_lines[i];
            const int c = CCrossingPerimeterDetector::CheckCrossingPerimeter(info->position, info->previous_position,
                                                                             line.points, false);
            const int old_state = info->line_states[i];
            const int new_state = std::max(-2, std::min(2, old_state + c));
            info->line_states[i] = static_cast<int8_t>(new_state);
            line.positive_points += (new_state > 0) - (old_state > 0);
            line.negative_points += (new_state < 0) - (old_state < 0);
            if (std::abs(old_state) != 2 && std::abs(new_state) == 2 &&
                (line.type == LineInfo::kBothDirections || 2 * static_cast<int>(line.type) == new_state))
                info->crossing_mask |= 1u << i;
        }
        info->previous_position = info->position;
    }
}

// One record per point; an invalid path still gives a skip record, which keeps its object alive
// without moving it.
void CTrafficController::CompileObjects(const std::vector<IPoint>& points)
{
    m_objects_info.clear();
    for (const IPoint& point : points) {
        InfoPoint* info = InfoOf(point);
        if (!info)
            continue;
        m_objects_info.emplace_back();
        ObjectInfo& record = m_objects_info.back();
        record.add(info);
        record.id = info->id;
        if (point.valid && !info->assigned) {
            info->assigned = 1;
            record.skip = 0;
            for (int k = 0; k < record.count; ++k) {
                const InfoPoint& member = *record.points[k];
                for (std::size_t i = 0; i < m_lines.size(); ++i) {
                    if (member.line_states[i] == 2)
                        record.positive_mask |= 1u << i;
                    else if (member.line_states[i] == -2)
                        record.negative_mask |= 1u << i;
                }
                record.crossed_mask |= member.crossing_mask;
            }
            for (std::size_t i = 0; i < m_lines.size(); ++i)
                if (record.crossed_mask & (1u << i))
                    ++m_lines[i].crossings;
            record.box[0] = std::max(record.box[0], 0);
            record.box[1] = std::max(record.box[1], 0);
            record.box[2] = std::min(record.box[2], m_w - 1);
            record.box[3] = std::min(record.box[3], m_h - 1);
        } else {
            record.skip = 1;
        }
    }
}

// Records are merged by identifier into the lasting objects: new identifiers become new objects,
// matched ones take the record's position and line state.
void CTrafficController::UpdateObjectsInContainer()
{
    for (const ObjectData& object : m_objects) Mutable(object).seen = 0;
    for (const ObjectInfo& record : m_objects_info) {
        auto found = m_objects.find(record.id);
        if (found == m_objects.end()) {
            ObjectData object(record.id, record.centre, &record, &m_common);
            std::copy(std::begin(record.box), std::end(record.box), std::begin(object.box));
            object.positive_mask = record.positive_mask;
            object.negative_mask = record.negative_mask;
            object.crossed_mask = record.crossed_mask;
            m_objects.insert(std::move(object));
            continue;
        }
        ObjectData& object = Mutable(*found);
        object.seen = 1;
        if (record.skip) {
            object.active = 0;
            continue;
        }
        if (object.active && object.alarmed)
            object.previous_centre = {object.x, object.y};
        std::copy(std::begin(record.box), std::end(record.box), std::begin(object.box));
        object.x = record.centre.x;
        object.y = record.centre.y;
        object.positive_mask = record.positive_mask;
        object.negative_mask = record.negative_mask;
        object.crossed_mask = record.crossed_mask;
        uint8_t stationary = 1;
        for (int k = 0; k < record.count; ++k) stationary &= record.points[k]->stationary;
        object.stationary = stationary;
        object.track.push_back(record.centre);
        if (object.track.size() > ObjectData::kMaxTrack)
            object.track.pop_front();
        object.info = &record;
        object.active = 1;
    }
    for (const ObjectData& object : m_objects)
        if (!object.seen)
            Mutable(object).info = nullptr;
}

// The optic flow's verdict per object; an object it did not judge has no good flow.
void CTrafficController::ApplyOpticFlow(const std::map<int64_t, bool>& good_flow)
{
    for (const ObjectData& object : m_objects) {
        const auto found = good_flow.find(object.id);
        Mutable(object).good_flow = found != good_flow.end() && found->second ? 1 : 0;
    }
}

// Crossings become the object's crossed lines and its in and out flags. A crossing waits while the
// object's flow is not good (a light change), and crossings in opposite directions cancel, so that
// a person who turns back is not counted.
void CTrafficController::UpdateIntersections()
{
    const std::size_t n = m_lines.size();
    for (const ObjectData& stored : m_objects) {
        ObjectData& object = Mutable(stored);
        if (n == 0) {
            object.crossed_lines.clear();
            object.in = object.out = 0;
            continue;
        }
        const bool accept = !m_optic_flow_enabled || object.good_flow;
        for (std::size_t i = 0; i < n; ++i) {
            const uint32_t bit = 1u << i;
            if (!(object.crossed_mask & bit))
                continue;
            if (accept) {
                object.alarmed = 1;
                object.pending_mask &= ~bit;
                object.alarmed_lines.insert(object.alarmed_lines.end() - 1, m_lines[i].id);
            } else {
                object.pending_mask |= bit;
            }
        }
        std::vector<int>& list = object.crossed_lines;
        list.clear();
        for (std::size_t i = 0; i < n; ++i) {
            const uint32_t bit = 1u << i;
            if (object.pending_mask & bit)
                continue;
            const int id = m_lines[i].id;
            if (object.positive_mask & bit) {
                if (list.empty() || list.back() >= 0)
                    list.push_back(id);
                else
                    list.pop_back();
            } else if (object.negative_mask & bit) {
                if (list.empty() || list.back() <= 0)
                    list.push_back(-id);
                else
                    list.pop_back();
            }
        }
        object.in = !list.empty() && list.front() > 0;
        object.out = !list.empty() && list.front() < 0;
    }
}

// The objects as flat records for the counter front, which compares them frame to frame.
void CTrafficController::GetObjects(std::vector<PeopleCountingPODObjData>& objects)
{
    objects.clear();
    objects.reserve(m_objects.size());
    for (const ObjectData& object : m_objects) {
        PeopleCountingPODObjData record{};
        record.id = object.id;
        record.in = object.in;
        record.out = object.out;
        record.stationary = object.stationary;
        std::copy(std::begin(object.box), std::end(object.box), std::begin(record.box));
        record.crossed_lines_count = static_cast<int32_t>(object.crossed_lines.size());
        record.crossed_lines = object.crossed_lines.empty() ? nullptr : object.crossed_lines.data();
        record.alarmed = object.alarmed;
        record.seen = object.seen;
        record.active = object.active;
        record.alarmed_count = static_cast<int32_t>(object.alarmed_lines.size());
        record.alarmed_lines = object.alarmed_lines.empty() ? nullptr : object.alarmed_lines.data();
        record.height = 0;
        objects.push_back(record);
    }
}
