#include "StereoAnalyzer/StereoPeopleCounter/gradient_calculator.h"

#include <algorithm>
#include <cmath>
#include <opencv2/imgproc.hpp>

namespace stereo {

void GradientNormTable::CreateTable()
{
    m_table.resize(static_cast<size_t>(kSide) * kSide);
    for (int gx = -255; gx <= 255; ++gx)
        for (int gy = -255; gy <= 255; ++gy) {
            const double norm = std::sqrt(static_cast<double>(gx * gx + gy * gy));
            m_table[(gx + 255) * kSide + (gy + 255)] =
                static_cast<unsigned char>(std::min(255.0, std::floor(norm + 0.5)));
        }
}

GradientCalculator::GradientCalculator()
{
    m_table.CreateTable();
}

void GradientCalculator::CalcDXAndDYGrad(const cv::Mat_<uchar>& src)
{
    cv::Sobel(src, m_dx, CV_16S, 1, 0, 3, 1, 0, cv::BORDER_REFLECT_101);
    cv::Sobel(src, m_dy, CV_16S, 0, 1, 3, 1, 0, cv::BORDER_REFLECT_101);
}

unsigned char GradientCalculator::NormAt(int row, int col) const
{
    const int gx = std::clamp<int>(m_dx(row, col), -255, 255);
    const int gy = std::clamp<int>(m_dy(row, col), -255, 255);
    return m_table.Norm(gx, gy);
}

void GradientCalculator::WriteNorm(cv::Mat_<uchar>& dst) const
{
    dst.create(m_dx.size());
    for (int row = 0; row < dst.rows; ++row) {
        uchar* out = dst[row];
        for (int col = 0; col < dst.cols; ++col) out[col] = NormAt(row, col);
    }
}

void GradientCalculator::WriteNormAndIntensity(const cv::Mat_<uchar>& src, cv::Mat_<cv::Vec2b>& dst) const
{
    dst.create(src.size());
    for (int row = 0; row < dst.rows; ++row) {
        const uchar* in = src[row];
        cv::Vec2b* out = dst[row];
        for (int col = 0; col < dst.cols; ++col) out[col] = cv::Vec2b(in[col] >> 1, NormAt(row, col));
    }
}

void GradientCalculator::CalcGradientNorm(const cv::Mat_<uchar>& src, cv::Mat_<uchar>& dst)
{
    if (src.empty())
        return;
    CalcDXAndDYGrad(src);
    WriteNorm(dst);
}

void GradientCalculator::CalcGradientNormAndIntensity(const cv::Mat_<uchar>& src, cv::Mat_<cv::Vec2b>& dst)
{
    if (src.empty())
        return;
    CalcDXAndDYGrad(src);
    WriteNormAndIntensity(src, dst);
}

}  // namespace stereo
