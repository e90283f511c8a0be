#pragma once

#include <cmath>
#include <random>
#include <vector>

// A 160 x 120 grey scene: a dim, faintly textured floor with a bright textured disc (radius 14)
// whose texture moves with it. Rows top to bottom, the stride equal to the width.
class TexturedBlobScene {
public:
    static constexpr int kWidth = 160;
    static constexpr int kHeight = 120;
    static constexpr int kRadius = 14;

    explicit TexturedBlobScene(unsigned seed = 5)
    {
        std::mt19937 random(seed);
        std::uniform_int_distribution<int> grey(0, 255);
        for (int& v : m_texture) v = grey(random);
    }

    // The picture with the disc centred on (cx, cy) (image row cy).
    template <typename Bytes>
    void Render(int cx, int cy, Bytes& out) const
    {
        out.assign(static_cast<std::size_t>(kWidth * kHeight), 0);
        for (int y = 0; y < kHeight; ++y) {
            for (int x = 0; x < kWidth; ++x) {
                int value = 40 + ((x * 7 + y * 13) % 11);
                const int dx = x - cx;
                const int dy = y - cy;
                if (dx * dx + dy * dy <= kRadius * kRadius)
                    value = 120 + Texture(dx, dy) / 2;
                out[static_cast<std::size_t>(y * kWidth + x)] = static_cast<unsigned char>(value);
            }
        }
    }

private:
    // A blocky random texture (3 x 3 pixel cells) smooth enough to survive a 5 x 5 mean.
    int Texture(int dx, int dy) const
    {
        const int cx = (dx + 30) / 3;
        const int cy = (dy + 30) / 3;
        return m_texture[static_cast<std::size_t>((cy % 20) * 20 + cx % 20)];
    }

    int m_texture[400];
};
