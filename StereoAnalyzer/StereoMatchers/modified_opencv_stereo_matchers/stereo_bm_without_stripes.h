#pragma once

#include <opencv2/core.hpp>

// Block matching of one view over the whole image: both prefiltered images are padded on all four
// sides, so every pixel gets a disparity (or the invalid value) and no invalid bands are left at
// the borders. Disparities are 16-bit fixed point with 16 units per pixel; a pixel without a valid
// match holds (minDisparity - 1) * 16.
namespace stereo {

// Prefilter kinds of the state record.
constexpr int kStereoBMNormalizedResponse = 0;
constexpr int kStereoBMXSobel = 1;

// Settings and work buffers of the block matcher (one record per view).
struct CvStereoBMState {
    int preFilterType = kStereoBMXSobel;  // normalised response (0) or x-Sobel (1)
    int preFilterSize = 9;                // window of the normalised-response prefilter
    int preFilterCap = 31;                // clip value of both prefilters, 1..63
    int SADWindowSize = 15;               // odd window side, 5..255
    int minDisparity = 0;                 // smallest disparity, may be negative
    int numberOfDisparities = 64;         // positive multiple of 16
    int textureThreshold = 10;            // minimum texture sum, 0 = off
    int uniquenessRatio = 15;             // percent, 0 = off
    int speckleWindowSize = 0;            // speckle filter, on when > 0 and speckleRange >= 0
    int speckleRange = 0;
    int trySmallerWindows = 0;  // not used
    cv::Rect roi1, roi2;        // not used
    int disp12MaxDiff = -1;     // left-right tolerance in pixels; negative = no validation

    cv::Mat preFilteredImg0;  // padded prefiltered left image, 8-bit
    cv::Mat preFilteredImg1;  // padded prefiltered right image, 8-bit
    cv::Mat slidingSumBuf;    // one row of bytes: prefilter, stripe and speckle work area
    cv::Mat cost;             // 32-bit cost of the chosen disparity per pixel (image size)
    cv::Mat disp;             // 16-bit result when the caller asks for float output
};

// A new record with the default settings (x-Sobel prefilter, cap 31, window 15, 64 disparities
// unless numberOfDisparities is positive). Every preset gives the same settings.
cv::Ptr<CvStereoBMState> cvCreateStereoBMState(int preset = 0, int numberOfDisparities = 0);

// One view's block matcher: the settings record and the call that matches a pair.
class StereoBMWithoutStripes {
public:
    StereoBMWithoutStripes();
    StereoBMWithoutStripes(int preset, int ndisparities, int SADWindowSize);
    void init(int preset, int ndisparities, int SADWindowSize);

    // Matches `left` (the reference) against `right` into `disparity`, created with the left
    // image's size and `disptype` (CV_16S: 16 units per pixel; CV_32F: pixels).
    void operator()(cv::InputArray left, cv::InputArray right, cv::OutputArray disparity, int disptype = CV_16S);

    cv::Ptr<CvStereoBMState> state;
};

// The whole computation of one view; raises cv::Exception for settings outside the limits.
void findStereoCorrespondenceBM(const cv::Mat& left0, const cv::Mat& right0, cv::Mat& disp0, CvStereoBMState* state);

// Clipped horizontal Sobel response (shifted by ftzero) written into the padded destination at
// (row offset, column offset), with every margin filled from the nearest computed value.
void prefilterXSobel(const cv::Mat& src, cv::Mat& dst, int colOffset, int rowOffset, int ftzero);

// Left-right check over whole rows: a disparity is invalidated when both columns it points to in
// the other view hold a better-costed, different disparity (beyond disp12MaxDiff pixels).
// Invalid pixels (minDisparity - 1) * 16 take no part.
void ValidateDisparityAllRow(cv::OutputArray disparity, cv::InputArray cost, int minDisparity, int numberOfDisparities,
                             int disp12MaxDiff);

// a modulo |n| in [0, |n|); 0 when n is 0.
int FindEquivalentInIntegersModN(int a, int n);

}  // namespace stereo
