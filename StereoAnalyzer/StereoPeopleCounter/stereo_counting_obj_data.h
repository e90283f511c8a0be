#pragma once

#include <cstdint>

namespace stereo {

// One tracked object of the stereo analyser in one frame, copied by value.
struct StereoCountingObjData {
    static constexpr int kMaxCrossedLines = 32;
    static constexpr int kMaxAlarmLines = kMaxCrossedLines + 1;  // the ids and the -1 terminator

    int64_t object_id;  // the track's 32-bit id, sign-extended
    bool in_flag;       // the net crossing of the counting lines so far is inward
    bool out_flag;      // ... outward; never set together with in_flag
    bool spare_flag;
    int box_x1;
    int box_y1;
    int box_x2;
    int box_y2;
    int point_x;
    int point_y;
    int crossed_lines_count;
    int crossed_lines[kMaxCrossedLines];  // +id crossed inward, -id outward
    bool alarmed;
    bool track_ends;
    bool moving;
    bool fallen;
    bool tracker_flag;
    int alarm_lines_count;            // terminator included
    int alarm_lines[kMaxAlarmLines];  // lines whose alarm is due with this frame, ended by -1
    int height;                       // centimetres
    int fallen_frame;
};

}  // namespace stereo
