#include "StereoAnalyzer/StereoPeopleCounter/connected_components_segmentator.h"

namespace segmentator {

void ConnectedComponentsSegmentator::Init(cv::Size size)
{
    m_labels_buffer.create(size);
    m_visited.create(size);
    m_initialized = true;
}

void ConnectedComponentsSegmentator::Start(const cv::Mat& image, cv::Mat_<int>& labels, Connectivity connectivity,
                                           int min_size)
{
    if (!m_initialized || m_visited.size() != image.size())
        Init(image.size());
    if (labels.size() != image.size())
        labels.create(image.size());
    m_image = image;
    m_labels = labels;
    m_connectivity = connectivity;
    m_min_size = min_size;
    m_visited.setTo(0);
    m_labels.setTo(0);
    m_last_label = 0;
}

void ConnectedComponentsSegmentator::TryDelete(int label, int x, int y)
{
    if (x < 0 || y < 0 || x >= m_labels.cols || y >= m_labels.rows || m_labels(y, x) != label)
        return;
    m_labels(y, x) = 0;
    m_stack.emplace_back(x, y);
}

void ConnectedComponentsSegmentator::DeleteRegion4(int label, const cv::Point& p)
{
    m_labels(p) = 0;
    TryDelete(label, p.x - 1, p.y);
    TryDelete(label, p.x + 1, p.y);
    TryDelete(label, p.x, p.y - 1);
    TryDelete(label, p.x, p.y + 1);
}

void ConnectedComponentsSegmentator::DeleteRegion8(int label, const cv::Point& p)
{
    m_labels(p) = 0;
    for (int dx = -1; dx <= 1; ++dx)
        for (int dy = -1; dy <= 1; ++dy)
            if (dx || dy)
                TryDelete(label, p.x + dx, p.y + dy);
}

}  // namespace segmentator
