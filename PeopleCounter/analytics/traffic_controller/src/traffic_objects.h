#pragma once

#include <boost/multi_index/member.hpp>
#include <boost/multi_index/ordered_index.hpp>
#include <boost/multi_index_container.hpp>
#include <cstdint>
#include <list>
#include <vector>

#include "CommonUtilities/algorithm_support/mem_manager.h"
#include "PeopleCounter/analytics/traffic_controller/src/primitives/kiv_types.h"
#include "PeopleCounter/analytics/traffic_controller/src/primitives/optic_flow/optic_flow_cv.h"

// One counting line of the traffic controller, in input-image pixels.
struct LineInfo {
    // Which settlings of a point count as a crossing.
    enum TypeIntersection : int32_t { kNegativeOnly = -1, kBothDirections = 0, kPositiveOnly = 1 };

    int32_t id = 0;  // 1 for the first polyline of the parameter, 2 for the second, ...
    std::vector<kiv::SPOINT> points;
    TypeIntersection type = kBothDirections;
    int32_t crossings = 0;        // point crossings counted since start
    int32_t positive_points = 0;  // points settled on the positive side now
    int32_t negative_points = 0;  // points settled on the negative side now
};

constexpr int kMaxCountingLines = 32;

// What all objects of one controller share.
struct CommonInfoForObjectData {
    std::vector<int> line_ids;  // in line order
    bool optic_flow_shift_filter_enabled = false;
};

// The controller's record of one tracked point: where it is in input-image pixels and on which
// side of every counting line it has settled.
struct InfoPoint {
    uint8_t erase_mark = 0;  // not referenced by any tracked point this frame
    uint8_t assigned = 0;    // already taken by an ObjectInfo this frame
    uint8_t stationary = 0;
    kiv::SPOINT position{0, 0};
    kiv::SPOINT previous_position{0, 0};
    kiv::SPOINT processed_position{0, 0};  // processed-image coordinates, y measured upward
    int32_t radius = 0;
    int32_t path_diameter = 0;
    uint32_t crossing_mask = 0;                  // bit i: settled on a side of line i in this frame
    int8_t line_states[kMaxCountingLines] = {};  // accumulated side per line, -2 .. 2
    // Released at the start of the next frame when set; nothing sets it: a point keeps its object
    // for as long as its path lives.
    uint8_t end_mark = 0;
    int64_t id = 0;
};

using InfoPointList =
    std::list<InfoPoint, AlgoLibrary::MemManager::Allocator<InfoPoint, AlgoLibrary::MemManager::TMemoryManager<false>>>;

// The points of one object in one frame.
struct ObjectInfo {
    static constexpr int kMaxPoints = 10;

    // Widens the box by the square of half-side radius around the point; false when full.
    bool add(InfoPoint* point);

    int64_t id = 0;
    kiv::SPOINT centre{0, 0};
    int32_t box[4] = {100000, 100000, 0, 0};  // left, top, right, bottom
    int32_t path_diameter = 0;
    InfoPoint* points[kMaxPoints] = {};
    int32_t count = 0;
    uint32_t positive_mask = 0;
    uint32_t negative_mask = 0;
    uint32_t crossed_mask = 0;
    uint8_t skip = 0;  // the record must not update its object
};

// One object of the controller, from frame to frame. The centre is the base's x and y.
struct ObjectData : PointWithId {
    ObjectData(int64_t object_id, const kiv::SPOINT& object_centre, const ObjectInfo* record,
               const CommonInfoForObjectData* shared);

    uint8_t good_flow = 0;
    const ObjectInfo* info = nullptr;  // this frame's record, owned by the controller; null when unmatched
    kiv::SPOINT previous_centre{0, 0};
    int32_t box[4] = {0, 0, 0, 0};
    uint32_t pending_mask = 0;
    uint32_t positive_mask = 0;
    uint32_t negative_mask = 0;
    uint32_t crossed_mask = 0;
    uint8_t stationary = 0;
    std::list<kiv::SPOINT> track;  // centres, oldest first
    uint8_t seen = 1;
    uint8_t active = 0;
    const CommonInfoForObjectData* common = nullptr;  // owned by the controller
    std::vector<int> crossed_lines;
    uint8_t in = 0;
    uint8_t out = 0;
    uint8_t alarmed = 0;
    std::vector<int> alarmed_lines;  // ends with the terminator -1

    static constexpr std::size_t kMaxTrack = 1000;
};

using ObjectContainer =
    boost::multi_index_container<ObjectData, boost::multi_index::indexed_by<boost::multi_index::ordered_unique<
                                                 boost::multi_index::member<PointWithId, int64_t, &PointWithId::id>>>>;

// Yields the objects of a container in identifier order and then null; copies walk on their own.
class ConstNullEndIterator {
public:
    explicit ConstNullEndIterator(const ObjectContainer& objects) : m_next(objects.begin()), m_end(objects.end()) {}
    const PointWithId* operator()()
    {
        if (m_next == m_end)
            return nullptr;
        const PointWithId* object = &*m_next;
        ++m_next;
        return object;
    }

private:
    ObjectContainer::const_iterator m_next;
    ObjectContainer::const_iterator m_end;
};
