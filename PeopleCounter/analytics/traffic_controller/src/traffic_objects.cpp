#include "PeopleCounter/analytics/traffic_controller/src/traffic_objects.h"

#include <algorithm>

bool ObjectInfo::add(InfoPoint* point)
{
    if (count >= kMaxPoints)
        return false;
    const int r = point->radius;
    box[0] = std::min(box[0], point->position.x - r);
    box[1] = std::min(box[1], point->position.y - r);
    box[2] = std::max(box[2], point->position.x + r);
    box[3] = std::max(box[3], point->position.y + r);
    centre = {(box[0] + box[2]) / 2, (box[1] + box[3]) / 2};
    path_diameter = std::max(path_diameter, point->path_diameter);
    points[count++] = point;
    return true;
}

ObjectData::ObjectData(int64_t object_id, const kiv::SPOINT& object_centre, const ObjectInfo* record,
                       const CommonInfoForObjectData* shared)
    : PointWithId{object_id, object_centre.x, object_centre.y},
      info(record),
      previous_centre(object_centre),
      common(shared)
{
    track.push_back(object_centre);
    alarmed_lines.reserve(20);
    alarmed_lines.push_back(-1);
}
