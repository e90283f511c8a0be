#pragma once

#include <deque>
#include <opencv2/core.hpp>

#include "CommonUtilities/algorithm_support/block_entities.h"
#include "StereoAnalyzer/StereoMatchers/left_or_right_view.h"
#include "StereoAnalyzer/StereoPeopleCounter/scene_params.h"

namespace stereo {

// The calibrated geometry of the stereo camera: rectification of both views, the mapping between
// source and rectified pixels, and heights, depths and world points from whole-pixel disparities.
// Lengths are centimetres, angles radians. Init must run before anything else; the const operations
// may run for the two views at once.
class IScene3DReconstructor : public BlockEntities::IAlgoEntityBase {
public:
    ~IScene3DReconstructor() override = default;

    // (Re)builds everything for views of width x height pixels and the given tilt.
    virtual void Init(int width, int height, double tilt_angle) = 0;
    // The same with the tilt parameter.
    virtual void Init(int width, int height) = 0;
    // 255 where rectification fills the pixel from inside the source image, else 0.
    virtual void GetValidPixelsMask(eLeftOrRightView view, cv::Mat& mask) const = 0;
    // Rectifies one view; `interpolation` is an OpenCV interpolation code.
    virtual void RectifyView(const cv::Mat& src, eLeftOrRightView view, int interpolation, cv::Mat& dst) const = 0;
    // The rectified pixels fed by the source pixel (x, y), or by the nearest fed ones.
    virtual void RectifyPointCoord(int x, int y, eLeftOrRightView view, std::deque<cv::Point>& points) const = 0;
    // The source pixel of the rectified pixel (x, y), taken at the nearest valid rectified pixel.
    virtual void UnrectifyPointCoord(int x, int y, eLeftOrRightView view, int& ux, int& uy) const = 0;
    // The world point on the ray of p whose height is closest to `height`.
    virtual void FindWorld3DCoordinateOfImagePoint(const cv::Point& p, int height, eLeftOrRightView view,
                                                   cv::Point3f& world) const = 0;
    // The rectified pixel of a world point.
    virtual void ProjectPointToImage(const cv::Point3f& world, eLeftOrRightView view, cv::Point& p) const = 0;
    // Depth along the optical axis (cm, 16-bit) by table lookup, in the view's own columns.
    virtual void CalculateDepthFromDisparity(const cv::Mat& disp, eLeftOrRightView view, cv::Mat& depth) const = 0;
    // Depth by direct reprojection, without the tables.
    virtual void CalculateDepthFromDisparityUsingReprojection(const cv::Mat& disp, eLeftOrRightView view,
                                                              cv::Mat& depth) = 0;
    // Heights above the floor (cm, 16-bit, 0 where unknown) from a non-negative disparity map; the
    // right view's result is laid out in the left view's columns.
    virtual void CalculateHeightFromDisparity(const cv::Mat& disp, eLeftOrRightView view, cv::Mat& height) const = 0;
    virtual void GetSceneParams(SceneParams& params) const = 0;
    virtual cv::Size GetFrameSize() const = 0;
};

// A new reconstructor, owned by the caller and deleted through the interface.
IScene3DReconstructor* Create3DReconstructorInterface();

}  // namespace stereo
