#pragma once

#include <cstdint>
#include <vector>

// Value types of algorithm parameters, shared by the parameter library and the algorithms.

// The Gaussian blur variant of the mono analyser, read and written by name.
enum GaussBlurType : int {
    kGaussFloat = 0,
    kGaussFixed = 1,
    kGaussBox1 = 2,
    kGaussBox2 = 3,
    kGauss2DBox1 = 4,
    kGauss2DBox2 = 5,
    kGauss2DBox3 = 6,
    kGaussExpApprox = 7,
};

// A point relative to the picture, x then y.
struct ParameterSPOINTType {
    float x = 0.f;
    float y = 0.f;
};

// A circle given by its centre and a point on it, relative to the picture.
struct RelativeCircle {
    ParameterSPOINTType first;
    ParameterSPOINTType second;
};

// The perspective transform of the mono analyser.
struct PerspectiveFilterParams {
    float zoom = 0.f;
    float top_factor = 0.f;
    float bottom_factor = 0.f;
    float shift_x = 0.f;
    float shift_y = 0.f;
    float translation = 0.f;
};

namespace AlgoLibrary {

// A point, x then y.
template <typename T>
struct TPoint {
    TPoint() = default;
    TPoint(T px, T py) : x(px), y(py) {}

    bool operator==(const TPoint& other) const { return x == other.x && y == other.y; }
    bool operator!=(const TPoint& other) const { return !(*this == other); }

    T x{};
    T y{};
};

}  // namespace AlgoLibrary

namespace ParamsLib {

// Direction codes of a counting line.
enum IntersectionType : uint8_t {
    kIntersectionIncoming = 1,
    kIntersectionOutcoming = 2,
    kIntersectionTwoDirections = 3,
};

// One counting line as read from its text.
struct InputLineFormat {
    int32_t id = 0;
    uint8_t direction = 0;
    std::vector<AlgoLibrary::TPoint<float>> points;
};

}  // namespace ParamsLib
