#pragma once

#include <opencv2/core.hpp>

namespace stereo {

// Visits the pixels of the disc of radius r + 0.5 around a centre, clipped to the picture, in raster
// order. The first position is ready after construction; iteration ends when MoveToNextPosition()
// leaves the position unchanged (IsFinished()).
class CircleIterator {
public:
    CircleIterator(const cv::Point& centre, int radius, const cv::Size& size);

    const cv::Point& MoveToNextPosition();
    const cv::Point& Position() const { return m_pos; }
    bool IsFinished() const { return m_pos == m_prev; }

private:
    bool Inside(int x, int y) const;

    int m_cx;
    int m_cy;
    int m_radius;
    cv::Point m_pos;
    cv::Point m_prev{-1, -1};
    int m_x_left;
    int m_x_right;
    int m_y_top;
    int m_y_bottom;
};

}  // namespace stereo
