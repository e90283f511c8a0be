#include "PeopleCounter/analytics/traffic_controller/src/primitives/gaussian_blur.h"

#include <algorithm>
#include <cmath>
#include <cstddef>

namespace events_detector_utils {

double DericheSigma(double x)
{
    const double q = std::fabs(2.0 * x + 1.0) + 1.0;
    return q / std::sqrt(11.082527090316852);
}

DericheCoefficients<double> FindDericheConstants(double x)
{
    const double sigma = DericheSigma(x);
    const double k = sigma * 2.5066152476995747;
    const double a0 = 1.6803 / k;
    const double a1 = 3.735 / k;
    const double c0 = -0.6803 / k;
    const double c1 = -0.2598 / k;
    const double b0 = 1.783;
    const double b1 = 1.723;
    const double w0 = 0.6318;
    const double w1 = 1.997;

    const double e0 = std::exp(-b0 / sigma);
    const double e1 = std::exp(-b1 / sigma);
    const double cos0 = std::cos(w0 / sigma);
    const double sin0 = std::sin(w0 / sigma);
    const double cos1 = std::cos(w1 / sigma);
    const double sin1 = std::sin(w1 / sigma);

    DericheCoefficients<double> c;
    c.n[0] = a0 + c0;
    c.n[1] = e1 * (c1 * sin1 - (c0 + 2.0 * a0) * cos1) + e0 * (a1 * sin0 - (2.0 * c0 + a0) * cos0);
    c.n[2] =
        2.0 * e0 * e1 * ((a0 + c0) * cos1 * cos0 - a1 * cos1 * sin0 - c1 * cos0 * sin1) + c0 * e0 * e0 + a0 * e1 * e1;
    c.n[3] = e1 * e0 * e0 * (c1 * sin1 - c0 * cos1) + e0 * e1 * e1 * (a1 * sin0 - a0 * cos0);
    c.n[4] = 0.0;
    c.d[0] = 0.0;
    c.d[1] = -2.0 * e1 * cos1 - 2.0 * e0 * cos0;
    c.d[2] = 4.0 * cos1 * cos0 * e0 * e1 + e1 * e1 + e0 * e0;
    c.d[3] = -2.0 * cos0 * e0 * e1 * e1 - 2.0 * cos1 * e1 * e0 * e0;
    c.d[4] = e0 * e0 * e1 * e1;
    c.m[0] = 0.0;
    for (int i = 1; i <= 4; ++i) c.m[i] = c.n[i] - c.d[i] * c.n[0];
    double sum_n = 0.0;
    double sum_m = 0.0;
    double sum_d = 0.0;
    for (int i = 0; i <= 4; ++i) {
        sum_n += c.n[i];
        sum_m += c.m[i];
        sum_d += c.d[i];
        c.d_anticausal[i] = c.d[i];
    }
    const double s_causal = sum_n / (1.0 + sum_d);
    const double s_anticausal = sum_m / (1.0 + sum_d);
    for (int i = 0; i <= 4; ++i) {
        c.bc[i] = c.d[i] * s_causal;
        c.ba[i] = c.d[i] * s_anticausal;
    }
    return c;
}

bool GaussianBlur::InitProc(int a, int b)
{
    m_data.a = a;
    m_data.b = b;
    BuildTables();
    m_initialised = true;
    return true;
}

void GaussianBlur::BuildTables()
{
    m_data.horizontal = FindDericheConstants(m_data.a / 100.0);
    m_data.vertical = FindDericheConstants(m_data.b / 100.0);
}

bool GaussianBlur::ProcessGray(unsigned char* image, int width, int height)
{
    if (m_initialised && image && width > 0 && height > 0)
        IIRGray_RunProc(image, width, height);
    return false;
}

// Filters m_line[0 .. length - 1] into m_causal (the sum of both passes).
void GaussianBlur::RunLine(const DericheCoefficients<double>& c, int length)
{
    const double* x = m_line.data();
    double* yc = m_causal.data();
    double* ya = m_anticausal.data();
    const double first = x[0];
    const double last = x[length - 1];
    // Near the ends the samples and outputs beyond the line come in through the border factors;
    // inside, the terms with n4 = d0 = 0 vanish exactly.
    const int head = std::min(length, 4);
    for (int i = 0; i < head; ++i) {
        double sum = 0.0;
        for (int k = 0; k <= i; ++k) sum += c.n[k] * x[i - k] - c.d[k] * yc[i - k];
        for (int k = i + 1; k <= 4; ++k) sum += (c.n[k] - c.bc[k]) * first;
        yc[i] = sum;
    }
    for (int i = head; i < length; ++i) {
        double sum = c.n[0] * x[i];
        sum += c.n[1] * x[i - 1] - c.d[1] * yc[i - 1];
        sum += c.n[2] * x[i - 2] - c.d[2] * yc[i - 2];
        sum += c.n[3] * x[i - 3] - c.d[3] * yc[i - 3];
        sum += -(c.d[4] * yc[i - 4]);
        yc[i] = sum;
    }
    const int tail = std::max(length - 4, 0);
    for (int j = length - 1; j >= tail; --j) {
        const int inside = length - 1 - j;
        double sum = 0.0;
        for (int k = 0; k <= inside; ++k) sum += c.m[k] * x[j + k] - c.d_anticausal[k] * ya[j + k];
        for (int k = inside + 1; k <= 4; ++k) sum += (c.m[k] - c.ba[k]) * last;
        ya[j] = sum;
    }
    for (int j = tail - 1; j >= 0; --j) {
        double sum = 0.0;
        sum += c.m[1] * x[j + 1] - c.d_anticausal[1] * ya[j + 1];
        sum += c.m[2] * x[j + 2] - c.d_anticausal[2] * ya[j + 2];
        sum += c.m[3] * x[j + 3] - c.d_anticausal[3] * ya[j + 3];
        sum += c.m[4] * x[j + 4] - c.d_anticausal[4] * ya[j + 4];
        ya[j] = sum;
    }
}

namespace {

unsigned char ToByte(double value)
{
    // Truncation toward zero, then the byte range; NaN becomes 0.
    if (!(value > 0.0))
        return 0;
    if (value >= 255.0)
        return 255;
    return static_cast<unsigned char>(static_cast<int>(value));
}

}  // namespace

void GaussianBlur::IIRGray_RunProc(unsigned char* image, int width, int height)
{
    const std::size_t longest = static_cast<std::size_t>(std::max(width, height));
    if (m_line.size() < longest) {
        m_line.resize(longest);
        m_causal.resize(longest);
        m_anticausal.resize(longest);
    }
    if (m_data.b >= 1 && width >= 1) {
        for (int x = 0; x < width; ++x) {
            for (int y = 0; y < height; ++y) m_line[y] = image[static_cast<std::size_t>(y) * width + x];
            RunLine(m_data.vertical, height);
            for (int y = 0; y < height; ++y)
                image[static_cast<std::size_t>(y) * width + x] = ToByte(m_causal[y] + m_anticausal[y]);
        }
    }
    if (m_data.a >= 1 && height >= 1) {
        for (int y = 0; y < height; ++y) {
            unsigned char* row = image + static_cast<std::size_t>(y) * width;
            for (int x = 0; x < width; ++x) m_line[x] = row[x];
            RunLine(m_data.horizontal, width);
            for (int x = 0; x < width; ++x) row[x] = ToByte(m_causal[x] + m_anticausal[x]);
        }
    }
}

}  // namespace events_detector_utils
