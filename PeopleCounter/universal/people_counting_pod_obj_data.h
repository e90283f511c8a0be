#pragma once

#include <cstdint>

// One object of the single-camera analyser in one frame. The two list pointers point into the
// analyser's own object lists and stay valid only until its next frame.
struct PeopleCountingPODObjData {
    int64_t id;
    uint8_t in;
    uint8_t out;
    uint8_t stationary;
    int32_t box[4];  // left, top, right, bottom
    int32_t crossed_lines_count;
    const int32_t* crossed_lines;  // null when empty
    uint8_t alarmed;
    uint8_t seen;
    uint8_t active;
    int32_t alarmed_count;         // terminator included
    const int32_t* alarmed_lines;  // null when empty
    int32_t height;                // always 0: a single camera measures no height
};
