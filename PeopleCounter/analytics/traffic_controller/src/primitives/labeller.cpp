#include "PeopleCounter/analytics/traffic_controller/src/primitives/labeller.h"

#include <algorithm>

namespace {

kiv::SRECT CutToImage(const kiv::SRECT& rect, int width, int height)
{
    return kiv::SRECT{std::max(rect.left, 0), std::max(rect.top, 0), std::min(rect.right, width - 1),
                      std::min(rect.bottom, height - 1)};
}

}  // namespace

CLabeller::CLabeller(int seed, const kiv::SRECT& search, const kiv::SRECT& fill, int min_area)
    : m_seed(seed), m_search(search), m_fill(fill), m_min_area(min_area)
{
}

void CLabeller::CreateRegions(LabelImageAndRegions& result)
{
    result.regions.clear();
    CGrayImage<int>& image = result.image;
    if (image.width <= 0 || image.height <= 0 ||
        image.pixels.size() < static_cast<std::size_t>(image.width) * static_cast<std::size_t>(image.height))
        return;
    m_search = CutToImage(m_search, image.width, image.height);
    m_fill = CutToImage(m_fill, image.width, image.height);
    for (int y = m_search.top; y <= m_search.bottom; ++y) {
        const int* row = image.Row(y);
        for (int x = m_search.left; x <= m_search.right; ++x) {
            if (row[x] != m_seed)
                continue;
            // A label equal to the seed would be found again and again.
            if (m_next_label == m_seed)
                ++m_next_label;
            CRegion region;
            region.label = m_next_label;
            FillRegion(region, image, m_next_label, x, y);
            ++m_next_label;
            if (region.area >= m_min_area && region.area > 0) {
                region.cx = static_cast<int>(region.sum_x / region.area);
                region.cy = static_cast<int>(region.sum_y / region.area);
                result.regions.push_back(region);
            }
        }
    }
}

void CLabeller::IntervalScan(CGrayImage<int>& image, int x, int y, int label, int& first, int& last) const
{
    int* row = image.Row(y);
    row[x] = label;
    first = x;
    while (first > m_fill.left && row[first - 1] == m_seed) row[--first] = label;
    last = x;
    while (last < m_fill.right && row[last + 1] == m_seed) row[++last] = label;
}

void CLabeller::StartNewScans(CGrayImage<int>& image, const SegmentLine& run, int y, int label,
                              std::vector<SegmentLine>& stack) const
{
    const int* row = image.Row(y);
    for (int x = run.first; x <= run.last; ++x) {
        if (row[x] != m_seed)
            continue;
        SegmentLine found{0, 0, y};
        IntervalScan(image, x, y, label, found.first, found.last);
        stack.push_back(found);
        x = found.last;
    }
}

void CLabeller::FillRegion(CRegion& region, CGrayImage<int>& image, int label, int x, int y)
{
    m_fill = CutToImage(m_fill, image.width, image.height);
    if (x < m_fill.left || x > m_fill.right || y < m_fill.top || y > m_fill.bottom)
        return;
    m_stack.clear();
    SegmentLine start{0, 0, y};
    IntervalScan(image, x, y, label, start.first, start.last);
    m_stack.push_back(start);
    while (!m_stack.empty()) {
        const SegmentLine run = m_stack.back();
        m_stack.pop_back();
        const int length = run.last - run.first + 1;
        region.left = std::min(region.left, run.first);
        region.right = std::max(region.right, run.last);
        region.top = std::min(region.top, run.row);
        region.bottom = std::max(region.bottom, run.row);
        region.sum_x += static_cast<int64_t>(run.first + run.last) * length / 2;
        region.sum_y += static_cast<int64_t>(run.row) * length;
        region.area += length;
        if (run.row - 1 >= m_fill.top)
            StartNewScans(image, run, run.row - 1, label, m_stack);
        if (run.row + 1 <= m_fill.bottom)
            StartNewScans(image, run, run.row + 1, label, m_stack);
    }
}
