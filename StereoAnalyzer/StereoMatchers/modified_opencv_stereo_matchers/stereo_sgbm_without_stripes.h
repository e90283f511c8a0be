#pragma once

#include <opencv2/core.hpp>

namespace stereo {

// Semi-global matching of one view of a rectified stereo pair. The left input is the reference
// view; a reference pixel at column x is compared with column x - d of the other image, d running
// over [minDisparity, minDisparity + numberOfDisparities). Every column of the reference view whose
// range reaches into the other image gets a disparity, also for a negative range (the right view of
// a pair), and matches that fall outside the other image compare against its replicated edge.
//
// Output: 16-bit signed disparities with 4 fractional bits; a pixel without a valid match holds
// (minDisparity - 1) * 16. One object serves one view; it is not thread-safe, but two objects may
// run concurrently.
class StereoSGBMWithoutStripes {
public:
    StereoSGBMWithoutStripes();
    StereoSGBMWithoutStripes(int minDisparity, int numberOfDisparities, int SADWindowSize, int P1, int P2,
                             int disp12MaxDiff, int preFilterCap, int uniquenessRatio, int speckleWindowSize,
                             int speckleRange, bool fullDP);
    ~StereoSGBMWithoutStripes();

    // Matches `left` against `right` (8-bit, equal size and type, one or more channels) into `disp`
    // (created as CV_16SC1 of the left size). Settings that could overflow the 16-bit costs and
    // disparity counts that are not a positive multiple of 16 are refused with exc::KIVException.
    void operator()(cv::InputArray left, cv::InputArray right, cv::OutputArray disp);

    int minDisparity;
    int numberOfDisparities;
    int SADWindowSize;
    int preFilterCap;
    int uniquenessRatio;
    int P1;
    int P2;
    int speckleWindowSize;
    int speckleRange;
    int disp12MaxDiff;
    bool fullDP;

    // Work area of the computation, kept from call to call.
    cv::Mat buffer;

private:
    // Disparities before the median filter, and the work area of the speckle filter, kept from
    // call to call.
    cv::Mat m_raw_disp;
    cv::Mat m_speckle_buffer;
};

}  // namespace stereo
