#pragma once

namespace kiv {

// An integer image point, x then y.
struct SPOINT {
    int x;
    int y;

    bool operator==(const SPOINT& other) const { return x == other.x && y == other.y; }
    bool operator!=(const SPOINT& other) const { return !(*this == other); }
};

// An integer rectangle. Whether right and bottom are inclusive is stated by each user.
struct SRECT {
    int left;
    int top;
    int right;
    int bottom;
};

}  // namespace kiv
