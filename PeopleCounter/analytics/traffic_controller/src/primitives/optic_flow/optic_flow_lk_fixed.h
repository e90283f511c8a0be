#pragma once

#include <opencv2/video/legacy/constants_c.h>

#include <cstdint>
#include <opencv2/core.hpp>
#include <vector>

#include "CommonUtilities/algorithm_support/kernel_path.h"

// Pyramidal Lucas-Kanade point tracking between two 8-bit grey images, in floating point and in
// fixed point (Q14 patches and derivatives, 64-bit sums, float only for the 2x2 solve).

// Tracker flags (OpenCV's values): CV_LKFLOW_PYR_A_READY (1, the first pyramid buffer already holds
// the pyramid), CV_LKFLOW_PYR_B_READY (2, the second one does), CV_LKFLOW_INITIAL_GUESSES (4, the
// second points hold starting guesses), CV_LKFLOW_GET_MIN_EIGENVALS (8, errors are minimum
// eigenvalues; float variant).

// Follows `count` points from imgA into imgB. Images: 8-bit one-channel, same size and row step.
// Pyramid buffers (may be null): 8-bit matrices whose bytes hold the levels 1..level of each
// image, each level's rows padded to a multiple of 8 bytes. winSize holds the half sizes of the
// window; level is the highest pyramid level (0: the image only). On return featuresB holds the
// positions found, status (may be null) 1 for a followed point and 0 for a lost one, and error
// (may be null; float variant only) the residual or minimum eigenvalue. Errors are cv::Exception.
void cvCalcOpticalFlowPyrLK_Float(const cv::Mat& imgA, const cv::Mat& imgB, cv::Mat* pyrA, cv::Mat* pyrB,
                                  const cv::Point2f* featuresA, cv::Point2f* featuresB, int count, cv::Size winSize,
                                  int level, char* status, float* error, cv::TermCriteria criteria, int flags);
void cvCalcOpticalFlowPyrLK_N(const cv::Mat& imgA, const cv::Mat& imgB, cv::Mat* pyrA, cv::Mat* pyrB,
                              const cv::Point2f* featuresA, cv::Point2f* featuresB, int count, cv::Size winSize,
                              int level, char* status, float* error, cv::TermCriteria criteria, int flags);

// One pyramid level of both images.
struct LKPyramidLevel {
    const unsigned char* a;
    const unsigned char* b;
    int step;
    cv::Size size;
    double scale;
};
// Level 0 to the highest; held inside the object up to 8 levels.
using LKPyramidLevels = cv::AutoBuffer<LKPyramidLevel, 8>;

// Checks and normalises the criteria (epsilon squared on return) and builds the pyramids that
// the flags do not mark as ready. Levels 1..level live in the given buffers or, for an image
// without one, in `scratch`. Fills `levels` with level + 1 entries.
void icvInitPyramidalAlgorithm(const cv::Mat& imgA, const cv::Mat& imgB, cv::Mat* pyrA, cv::Mat* pyrB, int level,
                               cv::TermCriteria* criteria, int max_iters, int flags, LKPyramidLevels& levels,
                               std::vector<unsigned char>& scratch);

// Copies the win_size patch centred on `center` (sub-pixel) into float samples; the border is
// replicated. Returns 0, or -44 when the patch is empty.
int icvGetRectSubPixFloat(const unsigned char* src, int src_step, cv::Size src_size, float* dst, int dst_step,
                          cv::Size win_size, cv::Point2f center);
// The same into Q14 samples (value x 16384).
int icvGetRectSubPixFixed(const unsigned char* src, int src_step, cv::Size src_size, int32_t* dst, int dst_step,
                          cv::Size win_size, cv::Point2f center);

namespace optic_flow_detail {

// One interior row of the fixed-point patch copy: dst[j] from columns j and j + 1 of the source
// rows p0 and p1 (width + 1 bytes each), Q14 weights ai (horizontal) and bi (vertical).
void SubPixRowFixed(const unsigned char* p0, const unsigned char* p1, int32_t ai, int32_t bi, int32_t* dst, int width,
                    AlgoLibrary::KernelPath path);

// The five sums of one window of the fixed variant: mismatch sums bx, by and, when asked, the
// gradient matrix. `rows` rows of `width` samples; each pointer advances by its own stride.
struct FixedWindowSums {
    int64_t bx, by, gxx, gxy, gyy;
};
void AccumulateFixedSums(const int32_t* patch_i, int stride_i, const int32_t* patch_j, int stride_j, const int32_t* ix,
                         const int32_t* iy, int stride_d, int width, int rows, bool with_gradient,
                         AlgoLibrary::KernelPath path, FixedWindowSums& sums);

}  // namespace optic_flow_detail
