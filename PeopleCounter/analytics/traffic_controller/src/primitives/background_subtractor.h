#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

// A slowly adapting background image: an exponential running average in fixed point (11 fraction
// bits), updated on every row-step-th row per frame, alternating the rows from frame to frame.
class CSimpleBackgroundSubtractor {
public:
    static constexpr int kFractionBits = 11;

    // Takes the image as the background and stores the geometry. alpha is limited to [0, 1] (NaN
    // counts as 0); a step below 1 counts as 1. Refuses (false, nothing changed) a null image or
    // sizes that cannot describe it. The phase is kept.
    bool Init(const unsigned char* image, double alpha, int width, int height, int bytes_per_pixel, int stride,
              bool interleave, int step);

    // Moves the background toward the image on this frame's rows.
    void Update(const unsigned char* image);

    // The same, restricted to the rows of the region and, in each, to the row's span.
    template <typename TRegion>
    void Update(const unsigned char* image, const TRegion& region);

    bool IsInitialised() const { return m_initialised; }
    double Alpha() const { return m_alpha; }
    int Phase() const { return m_phase; }
    int Width() const { return m_width; }
    int Height() const { return m_height; }
    // The stored values (grey level x 2048), row after row without gaps.
    const std::vector<uint32_t>& Background() const { return m_background; }
    // The background grey level of a pixel and byte.
    int Level(int x, int y, int byte = 0) const
    {
        return static_cast<int>(m_background[Index(x, y) + static_cast<std::size_t>(byte)] >> kFractionBits);
    }

private:
    std::size_t Index(int x, int y) const
    {
        return (static_cast<std::size_t>(y) * static_cast<std::size_t>(m_width) + static_cast<std::size_t>(x)) *
               static_cast<std::size_t>(m_bytes_per_pixel);
    }
    int StartPhase();
    // Updates columns first .. last (inclusive) of row y.
    void UpdateRow(const unsigned char* image, int y, int first, int last, int32_t factor);
    int32_t Factor() const { return static_cast<int32_t>(m_alpha * (1 << kFractionBits)); }

    std::vector<uint32_t> m_background;
    double m_alpha = 0.0;
    int m_width = 0;
    int m_height = 0;
    int m_bytes_per_pixel = 1;
    int m_stride = 0;
    bool m_initialised = false;
    int m_phase = 0;
    int m_row_step = 1;
    bool m_interleave = false;
};

template <typename TRegion>
void CSimpleBackgroundSubtractor::Update(const unsigned char* image, const TRegion& region)
{
    if (!m_initialised || !image)
        return;
    const int phase = StartPhase();
    const int32_t factor = Factor();
    if (region.last_row() < 0)
        return;
    const int last_row = std::min(region.last_row(), std::min(region.height(), m_height) - 1);
    for (int y = region.first_row() + phase; y <= last_row; y += m_row_step) {
        const auto span = region.row_span(y);
        UpdateRow(image, y, std::max(span.first, 0), std::min(span.second, m_width - 1), factor);
    }
}
