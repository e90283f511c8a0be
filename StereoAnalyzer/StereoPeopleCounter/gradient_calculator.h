#pragma once

#include <opencv2/core.hpp>
#include <vector>

namespace stereo {

// min(255, round(sqrt(gx² + gy²))) for gx, gy in [-255, 255], looked up instead of computed.
class GradientNormTable {
public:
    static constexpr int kSide = 511;

    void CreateTable();
    unsigned char Norm(int gx, int gy) const { return m_table[(gx + 255) * kSide + (gy + 255)]; }

private:
    std::vector<unsigned char> m_table;
};

// The 8-bit gradient magnitude of a grey picture (3x3 Sobel), alone or beside the halved grey level.
class GradientCalculator {
public:
    GradientCalculator();

    // Leaves dst as it is when src has no pixels.
    void CalcGradientNorm(const cv::Mat_<uchar>& src, cv::Mat_<uchar>& dst);
    // Channel 0: src >> 1; channel 1: the gradient norm.
    void CalcGradientNormAndIntensity(const cv::Mat_<uchar>& src, cv::Mat_<cv::Vec2b>& dst);

private:
    void CalcDXAndDYGrad(const cv::Mat_<uchar>& src);
    void WriteNorm(cv::Mat_<uchar>& dst) const;
    void WriteNormAndIntensity(const cv::Mat_<uchar>& src, cv::Mat_<cv::Vec2b>& dst) const;
    unsigned char NormAt(int row, int col) const;

    GradientNormTable m_table;
    cv::Mat_<short> m_dx;
    cv::Mat_<short> m_dy;
};

}  // namespace stereo
