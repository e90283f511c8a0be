#pragma once

namespace stereo {

// One view of a rectified stereo pair; indexes every two-element array of per-view objects.
enum eLeftOrRightView : int {
    kLeftView = 0,
    kRightView = 1,
};

constexpr int kViewsNum = 2;

}  // namespace stereo
