#include "StereoAnalyzer/StereoPeopleCounter/morphology.h"

#include <algorithm>
#include <cmath>
#include <opencv2/imgproc.hpp>

#include "CommonUtilities/algorithm_support/kiv_exception.h"
#include "CommonUtilities/algorithm_support/rounding.h"
#include "StereoAnalyzer/StereoPeopleCounter/binarize.h"

namespace stereo {

bool CheckMorphologyParams(std::string& report, const MorphologyParams& p)
{
    bool ok = true;
    auto check = [&](bool good, const char* line) {
        if (!good) {
            report += line;
            ok = false;
        }
    };
    check(p.segm_threshold >= 0, "CheckMorphologyParams: segm_threshold must be a positive integer number\n");
    check(p.hole_threshold >= 0, "CheckMorphologyParams: hole_threshold must be a positive integer number\n");
    // A closing or opening radius of 0 is a 1x1 element and a median or filling radius of 0 takes
    // the pixel alone (with two pictures, the larger of their two values).
    check(p.close_rad >= 0, "CheckMorphologyParams: close_rad must be a positive integer number\n");
    check(p.open_rad >= 0, "CheckMorphologyParams: open_rad must be a positive integer number\n");
    check(p.med_rad >= 0, "CheckMorphologyParams: med_rad must be a positive floating-point number\n");
    check(p.median_fill_rad >= 0, "CheckMorphologyParams: median_fill_rad must be a positive integer number\n");
    check(p.double_median_rad >= 0, "CheckMorphologyParams: double_median_rad must be a positive integer number\n");
    if (ok)
        report = "Ok";
    return ok;
}

namespace {

// A radius that is 0 stays 0; a positive one never falls below 1.
int RescaleRadius(int radius, double scale)
{
    return radius > 0 ? std::max(1, AlgoLibrary::RoundHalfAwayFromZero(radius * scale)) : 0;
}

}  // namespace

void RescaleMorphologyParams(double scale, MorphologyParams& p)
{
    p.med_rad = RescaleRadius(p.med_rad, scale);
    p.segm_threshold = std::max(0, AlgoLibrary::RoundHalfAwayFromZero(p.segm_threshold * scale));
    p.hole_threshold = std::max(0, AlgoLibrary::RoundHalfAwayFromZero(p.hole_threshold * scale));
    p.close_rad = RescaleRadius(p.close_rad, scale);
    p.open_rad = RescaleRadius(p.open_rad, scale);
    p.double_median_rad = RescaleRadius(p.double_median_rad, scale);
    p.median_fill_rad = RescaleRadius(p.median_fill_rad, scale);
}

int MorphologyHeightThreshold(const SceneParams& scene)
{
    KIV_CHECK(scene.obj_h_max >= 1.0, "MorphologyObjHMax_140312_120201") << scene.obj_h_max;
    return AlgoLibrary::RoundHalfAwayFromZero<uchar>(255.0 * (scene.obj_h_min - 50.0) / scene.obj_h_max);
}

void ProcessWithMorphology(const cv::Mat_<uchar>& heights, const MorphologyParams& params, const SceneParams& scene,
                           segmentator::ConnectedComponentsSegmentator& segmentator, DepthMapInterpolator& interpolator,
                           cv::Mat_<uchar>& bin, cv::Mat_<uchar>& tmp, cv::Mat_<uchar>& out)
{
    const uchar t = static_cast<uchar>(MorphologyHeightThreshold(scene));
    cv::Mat bin_mat = bin;
    BinarizeGeneral<uchar>(heights, GreaterOrEqualTo<uchar>{t}, bin_mat);
    bin = bin_mat;

    const cv::Mat close_element =
        cv::getStructuringElement(cv::MORPH_ELLIPSE, cv::Size(2 * params.close_rad + 1, 2 * params.close_rad + 1));
    const cv::Mat open_element =
        cv::getStructuringElement(cv::MORPH_ELLIPSE, cv::Size(2 * params.open_rad + 1, 2 * params.open_rad + 1));
    const cv::Scalar zero_border(0);
    cv::morphologyEx(bin, tmp, cv::MORPH_OPEN, open_element, cv::Point(-1, -1), 1, cv::BORDER_CONSTANT, zero_border);
    segmentator.DeleteSmallStructures<uchar>(tmp, 255, segmentator::ConnectedComponentsSegmentator::kFour,
                                             params.segm_threshold);
    cv::morphologyEx(tmp, bin, cv::MORPH_CLOSE, close_element, cv::Point(-1, -1), 1, cv::BORDER_CONSTANT, zero_border);
    cv::morphologyEx(bin, tmp, cv::MORPH_OPEN, open_element, cv::Point(-1, -1), 1, cv::BORDER_CONSTANT, zero_border);
    segmentator.DeleteSmallStructures<uchar>(tmp, 0, segmentator::ConnectedComponentsSegmentator::kFour,
                                             params.hole_threshold);

    cv::Mat out_mat = out;
    BinarizeGeneral<uchar>(heights, GreaterOrEqualTo<uchar>{t}, out_mat);
    out = out_mat;
    KIV_CHECK(heights.size() == out.size() && heights.size() == tmp.size(), "MorphologySizes_140312_120202");
    for (int y = 0; y < heights.rows; ++y) {
        const uchar* h = heights[y];
        const uchar* cleaned = tmp[y];
        uchar* o = out[y];
        for (int x = mask_rows_simd::KeepAgreeingHeightsRow(h, cleaned, o, heights.cols); x < heights.cols; ++x)
            o[x] = cleaned[x] == o[x] ? static_cast<uchar>(std::min(255, h[x] + 1)) : static_cast<uchar>(0);
    }

    // Holes inside the cleaned mask, then outside it; the region is empty, so `out` stays as it is.
    const cv::Rect no_region(0, 0, 0, 0);
    interpolator.FillDepthInsideMask<uchar>(0, no_region, tmp, out);
    cv::subtract(cv::Scalar(255), tmp, tmp);
    interpolator.FillDepthInsideMask<uchar>(0, no_region, tmp, out);
}

}  // namespace stereo
