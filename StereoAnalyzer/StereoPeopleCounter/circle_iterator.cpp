#include "StereoAnalyzer/StereoPeopleCounter/circle_iterator.h"

#include <algorithm>
#include <cassert>

namespace stereo {

CircleIterator::CircleIterator(const cv::Point& centre, int radius, const cv::Size& size)
    : m_cx(centre.x),
      m_cy(centre.y),
      m_radius(radius),
      m_x_left(std::max(centre.x - radius, 0)),
      m_x_right(std::min(centre.x + radius, size.width - 1)),
      m_y_top(std::max(centre.y - radius, 0)),
      m_y_bottom(std::min(centre.y + radius, size.height - 1))
{
    m_pos = cv::Point(m_x_left - 1, m_y_top);
    MoveToNextPosition();
}

bool CircleIterator::Inside(int x, int y) const
{
    const double dx = x - m_cx;
    const double dy = y - m_cy;
    const double r = m_radius + 0.5;
    return dx * dx + dy * dy <= r * r;
}

const cv::Point& CircleIterator::MoveToNextPosition()
{
    m_prev = m_pos;
    if (m_pos.y > m_y_bottom)
        return m_pos;
    for (int y = m_pos.y, x = m_pos.x + 1; y <= m_y_bottom; ++y, x = m_x_left) {
        for (; x <= m_x_right; ++x) {
            if (Inside(x, y)) {
                assert(y >= m_y_top && "new_pos.y >= m_y_top");
                assert(x >= m_x_left && "new_pos.x >= m_x_left");
                m_pos = cv::Point(x, y);
                return m_pos;
            }
        }
    }
    return m_pos;
}

}  // namespace stereo
