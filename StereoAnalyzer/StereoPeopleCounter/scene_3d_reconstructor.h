#pragma once

#include <array>
#include <deque>
#include <opencv2/core.hpp>
#include <vector>

#include "CommonUtilities/ParameterAccess/parameters.h"
#include "CommonUtilities/algorithm_support/block_light.h"
#include "StereoAnalyzer/StereoPeopleCounter/i_scene_3d_reconstructor.h"

namespace stereo {

class Scene3DReconstructor : public BlockHighlevel::LightBlock<IScene3DReconstructor> {
public:
    Scene3DReconstructor() = default;
    ~Scene3DReconstructor() override = default;

    void Init(int width, int height, double tilt_angle) override;
    void Init(int width, int height) override;
    void GetValidPixelsMask(eLeftOrRightView view, cv::Mat& mask) const override;
    void RectifyView(const cv::Mat& src, eLeftOrRightView view, int interpolation, cv::Mat& dst) const override;
    void RectifyPointCoord(int x, int y, eLeftOrRightView view, std::deque<cv::Point>& points) const override;
    void UnrectifyPointCoord(int x, int y, eLeftOrRightView view, int& ux, int& uy) const override;
    void FindWorld3DCoordinateOfImagePoint(const cv::Point& p, int height, eLeftOrRightView view,
                                           cv::Point3f& world) const override;
    void ProjectPointToImage(const cv::Point3f& world, eLeftOrRightView view, cv::Point& p) const override;
    void CalculateDepthFromDisparity(const cv::Mat& disp, eLeftOrRightView view, cv::Mat& depth) const override;
    void CalculateDepthFromDisparityUsingReprojection(const cv::Mat& disp, eLeftOrRightView view,
                                                      cv::Mat& depth) override;
    void CalculateHeightFromDisparity(const cv::Mat& disp, eLeftOrRightView view, cv::Mat& height) const override;
    void GetSceneParams(SceneParams& params) const override;
    cv::Size GetFrameSize() const override { return cv::Size(m_width, m_height); }

    void InitializeDefaultParameters() override;

    // The reprojection matrix and the rectified projection matrices of the last Init.
    const cv::Mat& ReprojectionMatrix() const { return m_q; }
    const cv::Mat& ProjectionMatrix(eLeftOrRightView view) const { return view == kRightView ? m_p2 : m_p1; }
    double ScaleFactor() const { return m_scale_factor; }
    // The scaled camera matrix of a view.
    const cv::Mat& CameraMatrix(eLeftOrRightView view) const { return m_camera_matrix[ViewIndex(view)]; }

private:
    static int ViewIndex(eLeftOrRightView view) { return view == kRightView ? 1 : 0; }

    void CheckCalibrationParameters() const;
    // Refuses a calibration whose rectification cannot give heights (runaway focal length, no baseline).
    void CheckRectification() const;
    void ResizeBuffers(cv::Size size);
    void ComputeRectificationMapping();
    void ComputeValidPixelsMasks();
    void ComputeDirectRectificationMappingForCoords();
    void ComputeSceneParams();
    void ComputeHeightAndDepthMapping();
    // The world point of a camera point: on the floor rectangle (and, with the height conditions,
    // between the floor and the tallest object) it is accepted as it is, otherwise clamped onto it.
    cv::Point3f ToWorld(const cv::Vec3f& camera, eLeftOrRightView view, bool conditions, bool& accepted) const;
    // The world point the tables hold for pixel (row, col) at table index k, computed when asked
    // instead of stored (a stored table would cost 12 bytes per pixel and disparity level).
    cv::Point3f TablePoint(eLeftOrRightView view, int row, int col, int k) const;
    // The camera point of pixel (row, col) at table index k, as the reprojection gives it; its z is
    // the depth the depth lookup hands out (computed when asked, like the world points).
    cv::Vec3f TableCameraPoint(int row, int col, int k) const;
    template <bool kConditions>
    void CalculateHeightFromDisparityUsingReprojectionMatrix(const cv::Mat& disp, eLeftOrRightView view,
                                                             cv::Mat& height, cv::Mat& depth, cv::Mat& points);
    void IfNeedAllocAndWriteWarning(const cv::Mat& like, const char* caller, cv::Mat& out) const;
    void CheckPointInFrame(int x, int y) const;
    void CheckLookupInput(const cv::Mat& disp) const;
    std::size_t TableIndex(int row, int col, int k) const
    {
        return (static_cast<std::size_t>(row) * static_cast<std::size_t>(m_width) + static_cast<std::size_t>(col)) *
                   static_cast<std::size_t>(m_table_levels) +
               static_cast<std::size_t>(k);
    }

    double m_scale_factor = 0.0;
    double m_rotation_angle = 0.0;
    // Scene quantities.
    double m_angle_bottom = 0.0;
    double m_angle_top = 0.0;
    double m_angle_left = 0.0;
    double m_angle_right = 0.0;
    double m_y_min = 0.0;
    double m_y_max = 0.0;
    double m_x_min = 0.0;
    double m_x_max = 0.0;
    double m_height_clamp = 0.0;
    double m_max_disparity = 0.0;
    double m_baseline = 0.0;
    double m_focal_length = 0.0;
    short m_table_max = 0;
    short m_table_min = 0;
    int m_table_levels = 0;  // m_table_max - m_table_min + 1
    cv::Mat m_q;
    std::array<cv::Mat, 2> m_coord_maps;  // CV_16SC2, integer source coordinates
    std::array<cv::Mat, 2> m_index_maps;  // CV_16UC1, interpolation table indices
    // Source pixel -> rectified pixels, flat: the points of source pixel i are
    // m_direct_points[v][m_direct_offsets[v][i] .. m_direct_offsets[v][i + 1]).
    std::array<std::vector<int>, 2> m_direct_offsets;
    std::array<std::vector<cv::Point>, 2> m_direct_points;
    cv::Matx33f m_world_rotation = cv::Matx33f::eye();
    // Per view, indexed by TableIndex(row, column, disparity - minimum).
    std::array<std::vector<short>, 2> m_height_tables;
    std::array<cv::Mat, 2> m_valid_masks;
    std::array<cv::Mat, 2> m_camera_matrix;
    cv::Mat m_p1;
    cv::Mat m_p2;
    std::array<cv::Mat, 2> m_dist_coeffs;
    cv::Mat m_rotation;
    cv::Mat m_translation;
    cv::Mat m_points_buffer;  // CV_32FC3, frame size
    int m_width = 0;
    int m_height = 0;
    bool m_initialized = false;

    MatrixParam m_camera_matrix_l;
    MatrixParam m_camera_matrix_r;
    MatrixParam m_dist_coeff_l;
    MatrixParam m_dist_coeff_r;
    MatrixParam m_rotate_matrix_l_r;
    MatrixParam m_base_vect;
    ParamsLib::IntValueParam<> m_initial_width;
    ParamsLib::IntValueParam<> m_initial_height;
    ParamsLib::FltValueParam<> m_cam_tilt_angle;
    ParamsLib::FltValueParam<> m_h_camera_mount_param;
    ParamsLib::FltValueParam<> m_obj_h_min_param;
    ParamsLib::FltValueParam<> m_obj_h_max_param;
    ParamsLib::FltValueParam<> m_remap_scaling;
    ParamsLib::BlnValueParam<> m_use_conditions_on_height;
    ParamsLib::BlnValueParam<> m_calculate_height;
};

// The nearest marked (non-zero) pixel of an 8-bit mask: rings of growing Chebyshev radius, the first
// ring with a marked pixel decides, within it the smallest city-block distance (the first visited among
// equals). Throws std::invalid_argument for a mask without marked pixels.
void GetNearestPointInMask(const cv::Point& p, const cv::Mat& mask, cv::Point& nearest);

// The right view's disparity map made ready for the height lookup, in place: valid disparities
// negated (they become 0 or positive), the view's invalid marker `invalid` turned into -1, which
// gives no height.
void NegateRightViewDisparity(cv::Mat& disparity, short invalid);

// A matrix of doubles from rows of numbers of one length.
cv::Mat_<double> VectorReprToCVMat(const std::vector<std::vector<double>>& rows);

}  // namespace stereo
