#pragma once

#include <vector>

namespace events_detector_utils {

// A blur that works in place on an 8-bit grey image whose row stride equals its width.
class IGaussianBlur {
public:
    // Prepares the filter; the meaning of the two sizes depends on the filter.
    virtual bool InitProc(int a, int b) = 0;
    // Filters the image in place. Callers ignore the result.
    virtual bool ProcessGray(unsigned char* image, int width, int height) = 0;
    virtual ~IGaussianBlur() = default;
};

// Coefficients of Deriche's fourth-order recursive Gaussian for one direction: causal numerators
// n, anticausal numerators m, denominators d (twice: causal and anticausal pass), causal and
// anticausal border factors (n[4], m[0] and d[0] are 0).
template <typename T>
struct DericheCoefficients {
    T n[5]{};
    T m[5]{};
    T d[5]{};
    T d_anticausal[5]{};
    T bc[5]{};
    T ba[5]{};
};

// The coefficients in double precision for the size parameter x (the filter's argument / 100):
// sigma = (|2x + 1| + 1) / sqrt(11.082527090316852).
DericheCoefficients<double> FindDericheConstants(double x);

// The sigma that the size parameter x stands for.
double DericheSigma(double x);

// Fourth-order recursive (IIR) Gaussian in double precision with replicated borders: columns
// first, then rows. InitProc takes the horizontal and vertical size parameters times 100; a
// direction whose parameter is below 1 is not filtered.
class GaussianBlur : public IGaussianBlur {
public:
    bool InitProc(int a, int b) override;
    bool ProcessGray(unsigned char* image, int width, int height) override;

    struct MyFilterData {
        int a = 0;  // horizontal size x 100
        int b = 0;  // vertical size x 100
        DericheCoefficients<double> horizontal;
        DericheCoefficients<double> vertical;
    };

    const MyFilterData& FilterData() const { return m_data; }

private:
    void BuildTables();
    void IIRGray_RunProc(unsigned char* image, int width, int height);
    void RunLine(const DericheCoefficients<double>& c, int length);

    bool m_initialised = false;
    MyFilterData m_data;
    // Line buffers, sized to the longest line of the image on first use.
    std::vector<double> m_line;
    std::vector<double> m_causal;
    std::vector<double> m_anticausal;
};

}  // namespace events_detector_utils
