#include "PeopleCounter/analytics/traffic_controller/src/primitives/background_subtractor.h"

#include <cmath>

bool CSimpleBackgroundSubtractor::Init(const unsigned char* image, double alpha, int width, int height,
                                       int bytes_per_pixel, int stride, bool interleave, int step)
{
    if (!image || width <= 0 || height <= 0 || bytes_per_pixel <= 0 ||
        static_cast<long long>(stride) < static_cast<long long>(width) * bytes_per_pixel)
        return false;
    // Outside [0, 1] the fixed-point update overflows (above) or diverges (below).
    m_alpha = std::isnan(alpha) ? 0.0 : std::clamp(alpha, 0.0, 1.0);
    m_width = width;
    m_height = height;
    m_bytes_per_pixel = bytes_per_pixel;
    m_stride = stride;
    m_interleave = interleave;
    m_row_step = interleave ? std::max(step, 1) : 1;
    m_background.resize(static_cast<std::size_t>(width) * static_cast<std::size_t>(height) *
                        static_cast<std::size_t>(bytes_per_pixel));
    for (int y = 0; y < height; ++y) {
        const unsigned char* row = image + static_cast<std::ptrdiff_t>(y) * stride;
        uint32_t* out = m_background.data() + Index(0, y);
        for (int i = 0; i < width * bytes_per_pixel; ++i) out[i] = static_cast<uint32_t>(row[i]) << kFractionBits;
    }
    m_initialised = true;
    return true;
}

int CSimpleBackgroundSubtractor::StartPhase()
{
    if (m_interleave)
        m_phase = (m_phase + 1) % m_row_step;
    return m_phase;
}

void CSimpleBackgroundSubtractor::UpdateRow(const unsigned char* image, int y, int first, int last, int32_t factor)
{
    if (first > last)
        return;
    const unsigned char* in = image + static_cast<std::ptrdiff_t>(y) * m_stride + first * m_bytes_per_pixel;
    uint32_t* background = m_background.data() + Index(first, y);
    const int count = (last - first + 1) * m_bytes_per_pixel;
    for (int i = 0; i < count; ++i) {
        // |x * 2048 - B| < 2^19 and factor <= 2048: the product stays within 31 bits.
        const int32_t b = static_cast<int32_t>(background[i]);
        const int32_t difference = (static_cast<int32_t>(in[i]) << kFractionBits) - b;
        background[i] = static_cast<uint32_t>(b + ((factor * difference) >> kFractionBits));
    }
}

void CSimpleBackgroundSubtractor::Update(const unsigned char* image)
{
    if (!m_initialised || !image)
        return;
    const int phase = StartPhase();
    const int32_t factor = Factor();
    for (int y = phase; y < m_height; y += m_row_step) UpdateRow(image, y, 0, m_width - 1, factor);
}
