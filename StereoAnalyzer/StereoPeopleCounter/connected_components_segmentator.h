#pragma once

#include <deque>
#include <functional>
#include <opencv2/core.hpp>

namespace segmentator {

// Labels connected sets of equal pixels by region growing on an explicit stack, and removes sets
// smaller than a minimal size. Buffers are kept between calls and re-made for a new picture size.
class ConnectedComponentsSegmentator {
public:
    enum Connectivity { kFour = 0, kEight = 1 };

    void Init(cv::Size size);

    // Every connected set of pixels equal to `value` with fewer than min_size pixels is overwritten
    // with the complement 255 - value.
    template <typename T>
    void DeleteSmallStructures(cv::Mat_<T>& img, T value, Connectivity connectivity, int min_size);

    // Labelling of a picture by the caller: binds the picture (sharing its pixels) and the label storage,
    // clears labels and visited marks.
    void Start(const cv::Mat& image, cv::Mat_<int>& labels, Connectivity connectivity, int min_size);
    // Labels the segment of pixels equal to `value` that holds `seed` (unless already taken), and deletes
    // its labels again when it is smaller than the minimal size.
    template <typename T, typename Eq = std::equal_to<T>>
    void PickOutOneSegment(const cv::Point& seed, T value, Eq eq = Eq());

    int LastLabel() const { return m_last_label; }

private:
    template <typename T, typename Eq>
    void GrowRegion4(T value, Eq eq, int label, const cv::Point& p);
    template <typename T, typename Eq>
    void GrowRegion8(T value, Eq eq, int label, const cv::Point& p);
    void DeleteRegion4(int label, const cv::Point& p);
    void DeleteRegion8(int label, const cv::Point& p);
    template <typename T, typename Eq>
    void TryGrow(T value, Eq eq, int label, int x, int y);
    void TryDelete(int label, int x, int y);

    cv::Mat m_image;  // the picture being labelled; shares the caller's pixels
    cv::Mat_<int> m_labels;
    cv::Mat_<uchar> m_visited;
    cv::Mat_<int> m_labels_buffer;
    int m_last_label = 0;
    std::deque<cv::Point> m_stack;
    int m_min_size = 0;
    Connectivity m_connectivity = kFour;
    bool m_initialized = false;
};

template <typename T, typename Eq>
void ConnectedComponentsSegmentator::TryGrow(T value, Eq eq, int label, int x, int y)
{
    if (x < 0 || y < 0 || x >= m_image.cols || y >= m_image.rows)
        return;
    if (!eq(m_image.at<T>(y, x), value) || m_visited(y, x))
        return;
    m_labels(y, x) = label;
    m_visited(y, x) = 255;
    m_stack.emplace_back(x, y);
}

template <typename T, typename Eq>
void ConnectedComponentsSegmentator::GrowRegion4(T value, Eq eq, int label, const cv::Point& p)
{
    m_labels(p) = label;
    TryGrow(value, eq, label, p.x - 1, p.y);
    TryGrow(value, eq, label, p.x + 1, p.y);
    TryGrow(value, eq, label, p.x, p.y - 1);
    TryGrow(value, eq, label, p.x, p.y + 1);
}

template <typename T, typename Eq>
void ConnectedComponentsSegmentator::GrowRegion8(T value, Eq eq, int label, const cv::Point& p)
{
    m_labels(p) = label;
    for (int dx = -1; dx <= 1; ++dx)
        for (int dy = -1; dy <= 1; ++dy)
            if (dx || dy)
                TryGrow(value, eq, label, p.x + dx, p.y + dy);
}

template <typename T, typename Eq>
void ConnectedComponentsSegmentator::PickOutOneSegment(const cv::Point& seed, T value, Eq eq)
{
    if (m_visited(seed))
        return;
    const int label = ++m_last_label;
    m_labels(seed) = label;
    m_visited(seed) = 255;
    m_stack.clear();
    m_stack.push_back(seed);
    int count = 0;
    while (!m_stack.empty()) {
        const cv::Point q = m_stack.back();
        m_stack.pop_back();
        ++count;
        if (m_connectivity == kFour)
            GrowRegion4(value, eq, label, q);
        else
            GrowRegion8(value, eq, label, q);
    }
    if (count >= m_min_size)
        return;
    m_labels(seed) = 0;
    m_stack.push_back(seed);
    while (!m_stack.empty()) {
        const cv::Point q = m_stack.back();
        m_stack.pop_back();
        if (m_connectivity == kFour)
            DeleteRegion4(label, q);
        else
            DeleteRegion8(label, q);
    }
    --m_last_label;
}

template <typename T>
void ConnectedComponentsSegmentator::DeleteSmallStructures(cv::Mat_<T>& img, T value, Connectivity connectivity,
                                                           int min_size)
{
    if (m_labels_buffer.size() != img.size() || !m_initialized)
        Init(img.size());
    Start(img, m_labels_buffer, connectivity, min_size);
    for (int y = 0; y < img.rows; ++y) {
        const T* row = img[y];
        for (int x = 0; x < img.cols; ++x)
            if (row[x] == value)
                PickOutOneSegment<T>(cv::Point(x, y), value);
    }
    m_last_label = 0;
    const T complement = static_cast<T>(~value);
    for (int y = 0; y < img.rows; ++y) {
        T* row = img[y];
        const int* labels = m_labels[y];
        for (int x = 0; x < img.cols; ++x)
            if (row[x] == value && labels[x] == 0)
                row[x] = complement;
    }
}

}  // namespace segmentator
