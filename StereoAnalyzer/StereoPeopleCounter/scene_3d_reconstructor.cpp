#include "StereoAnalyzer/StereoPeopleCounter/scene_3d_reconstructor.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <opencv2/calib3d.hpp>
#include <opencv2/imgproc.hpp>
#include <stdexcept>

#include "CommonUtilities/ParameterAccess/load_parameters.h"
#include "CommonUtilities/ParameterAccess/parameter_range.h"
#include "CommonUtilities/algorithm_support/kiv_exception.h"
#include "CommonUtilities/algorithm_support/rounding.h"

namespace stereo {

namespace {

// What a NaN rounds to where an int is wanted: the smallest int, which no range test accepts.
constexpr int kNaNRounded = std::numeric_limits<int>::min();

}  // namespace

IScene3DReconstructor* Create3DReconstructorInterface()
{
    return new Scene3DReconstructor();
}

void Scene3DReconstructor::InitializeDefaultParameters()
{
    InitValueParameterStringDefault(
        m_camera_matrix_l, "", "", "camera_matrix_l",
        "Camera matrix of the left camera (obtained from calibration). Put here your value, because default is not "
        "valid.",
        "",
        "[ [ 7.7779760220850130e+002, 0., 3.4287128773495607e+002],[0., 8.5238823083781904e+002, "
        "3.2051281370152287e+002],[0., 0., 1.] ]");
    m_camera_matrix_l.MarkValueRequired();
    InitValueParameterStringDefault(
        m_camera_matrix_r, "", "", "camera_matrix_r",
        "Camera matrix of the right camera (obtained from calibration). Put here your value, because default is not "
        "valid.",
        "",
        "[ [7.8307326668376493e+002, 0., 3.5092654846326525e+002],[0., 8.6014175577947299e+002, "
        "3.0919103741214184e+002],[0., 0., 1.] ]");
    m_camera_matrix_r.MarkValueRequired();
    InitValueParameterStringDefault(
        m_dist_coeff_l, "", "", "dist_coeff_l",
        "Distortion coefficients of the left camera (obtained from calibration). Put here your value, because "
        "default is not valid.",
        "",
        "[ [-2.2653218160577285e-001], [1.4215855024824026e-001], [7.8783307093345297e-003], "
        "[-7.3258224774649103e-004], [0.], [0.], [0.], [0.] ]");
    m_dist_coeff_l.MarkValueRequired();
    InitValueParameterStringDefault(
        m_dist_coeff_r, "", "", "dist_coeff_r",
        "Distortion coefficients of the right camera (obtained from calibration), Put here your value, because "
        "default is not valid.",
        "",
        "[ [-2.3086768688694853e-001], [2.1146319276704167e-001], [8.2080074793994019e-003], "
        "[-1.1558124645361055e-003], [0.], [0.], [0.], [0.] ]");
    m_dist_coeff_r.MarkValueRequired();
    InitValueParameterStringDefault(
        m_rotate_matrix_l_r, "", "", "rotate_matrix_l_r",
        "Rotation matrix from left to right camera (obtained from calibration). Put here your value, because "
        "default is not valid.",
        "",
        "[ [9.9997043068601854e-001, 2.1818932138352645e-003, -5.5389541870403541e-003],[-2.1559036249645391e-003, "
        "9.9997305934190572e-001, 6.8443155210835297e-003],[5.6543272494036893e-003, -6.7911960977634928e-003, "
        "9.9993641790582732e-001] ]");
    m_rotate_matrix_l_r.MarkValueRequired();
    InitValueParameterStringDefault(
        m_base_vect, "", "", "base_vect",
        "Vector connecting positions of left and right cameras (obtained from calibration). Put here your value, "
        "because default is not valid",
        "", "[ [-3.6225963565648897e+001], [5.0116303554488428e-001], [8.2268770766195515e-002] ]");
    m_base_vect.MarkValueRequired();
    InitValueParameterDefault(m_initial_width, "", "", "initial_width",
                              "Width (in pixels) of the image for which intrinsic and extrinsic camera parameters "
                              "were calculated.Put here your value, because default is not valid.",
                              "", 704);
    m_initial_width.MarkValueRequired();
    InitValueParameterDefault(m_initial_height, "", "", "initial_height",
                              "Height (in pixels) of the image for which intrinsic and extrinsic camera parameters "
                              "were calculated.Put here your value, because default is not valid.",
                              "", 576);
    m_initial_height.MarkValueRequired();
    InitValueParameterDefault(m_cam_tilt_angle, "", "", "cam_tilt_angle",
                              "Tilt camera angle (in radians) (angle between camera axis and vertical axis directed "
                              "down).Put here your value, because default is not valid.",
                              "", 0.55f);
    m_cam_tilt_angle.SetLimits(0.0f, 3.1415927f);
    m_cam_tilt_angle.MarkValueRequired();
    InitValueParameterDefault(
        m_h_camera_mount_param, "", "", "h_camera_mount_param",
        "Height (in centimeters) at which camera is mounted. Put here your value, because default is not valid.", "",
        260.0f);
    m_h_camera_mount_param.SetLimits(0.0f, FLT_MAX);
    m_h_camera_mount_param.MarkValueRequired();
    InitValueParameterDefault(m_obj_h_min_param, "", "", "obj_h_min_param",
                              "Minimal height (in centimeters) of an object of interest", "", 150.0f);
    m_obj_h_min_param.SetLimits(0.0f, FLT_MAX);
    InitValueParameterDefault(m_obj_h_max_param, "", "", "obj_h_max_param",
                              "Maximal height (in centimeters) of an object of interest", "", 200.0f);
    m_obj_h_max_param.SetLimits(0.0f, FLT_MAX);
    InitValueParameterDefault(m_remap_scaling, "", "", "remap_scaling",
                              "m_remap_scaling=0.0 - no black areas after rectification. m_remap_scaling=1.0 - no "
                              "source image pixels are lost, between 0.0 and 1.0 - intermediate cases",
                              "", 0.85f);
    m_remap_scaling.SetLimits(0.0f, 1.0f);
    InitValueParameterDefault(m_use_conditions_on_height, "", "", "use_conditions_on_height",
                              "Use conditions on maximal height for height map filtering", "", false);
    InitValueParameterDefault(m_calculate_height, "", "", "calculate_height", "Calculate height or not", "", true);
}

void Scene3DReconstructor::CheckCalibrationParameters() const
{
    using ParamsLib::CheckWorkingRange;
    using ParamsLib::WorkingRange;
    const BlockEntities::Context& context = GetContext();
    const std::string width = CheckWorkingRange(m_initial_width, context, WorkingRange::AtLeast(1),
                                                "the width of the calibration's pictures");
    KIV_CHECK(width.empty(), "Scene3DInitialWidth_140312_130001") << width;
    const std::string height = CheckWorkingRange(m_initial_height, context, WorkingRange::AtLeast(1),
                                                 "the height of the calibration's pictures");
    KIV_CHECK(height.empty(), "Scene3DInitialHeight_140312_130002") << height;
    const std::string tallest = CheckWorkingRange(m_obj_h_max_param, context, WorkingRange::AtLeast(1), "centimetres");
    KIV_CHECK(tallest.empty(), "Scene3DObjHMax_140312_130003") << tallest;

    // The calibration as a camera pair: finite numbers, focal lengths that see a field of view of
    // more than about half a degree, a rotation and a baseline between two distinct cameras.
    const auto name = [this](const ParamsLib::BaseParameter& parameter) {
        return GetFullParameterName(parameter.GetName(), GetContext());
    };
    const auto finite = [](const cv::Mat& m) { return cv::checkRange(m, true, nullptr, -DBL_MAX, DBL_MAX); };
    const double largest_focal = 100.0 * std::max(m_initial_width(), m_initial_height());
    const MatrixParam* cameras[2] = {&m_camera_matrix_l, &m_camera_matrix_r};
    for (const MatrixParam* camera : cameras) {
        const cv::Mat_<double> k = VectorReprToCVMat((*camera)());
        KIV_CHECK(k.rows == 3 && k.cols == 3, "Scene3DCameraMatrixSize_140312_130005")
            << name(*camera) + " must be 3x3, it is" << k.rows << k.cols;
        KIV_CHECK(finite(k) && k(0, 0) > 0 && k(1, 1) > 0 && k(0, 0) <= largest_focal && k(1, 1) <= largest_focal,
                  "Scene3DCameraMatrixFocal_140312_130039")
            << name(*camera) + ": its focal lengths (first two diagonal values) must be finite and lie in (0, " +
                   std::to_string(static_cast<long long>(largest_focal)) + "] pixels of the calibration size; they are"
            << k(0, 0) << k(1, 1);
    }
    for (const MatrixParam* coefficients : {&m_dist_coeff_l, &m_dist_coeff_r})
        KIV_CHECK(finite(VectorReprToCVMat((*coefficients)())), "Scene3DDistortionFinite_140312_130040")
            << name(*coefficients) + " must hold finite numbers";
    const cv::Mat_<double> rotation = VectorReprToCVMat(m_rotate_matrix_l_r());
    KIV_CHECK(rotation.rows == 3 && rotation.cols == 3 && finite(rotation), "Scene3DRotationSize_140312_130006")
        << name(m_rotate_matrix_l_r) + " must be a finite 3x3 matrix";
    const double off_rotation = cv::norm(rotation.t() * rotation, cv::Mat_<double>::eye(3, 3), cv::NORM_INF);
    KIV_CHECK(off_rotation < 1e-2 && cv::determinant(rotation) > 0, "Scene3DRotationOrthonormal_140312_130041")
        << name(m_rotate_matrix_l_r) +
               " must be a rotation (orthonormal, determinant 1); R^T R differs from the "
               "identity by"
        << off_rotation;
    const cv::Mat_<double> base = VectorReprToCVMat(m_base_vect());
    KIV_CHECK(base.total() == 3 && finite(base) && cv::norm(base) > 0, "Scene3DBaseVectSize_140312_130007")
        << name(m_base_vect) + " must be three finite numbers, not all 0 (the cameras' distance in cm)";
}

void Scene3DReconstructor::CheckRectification() const
{
    // A distortion model that bends the picture beyond use makes the rectified focal length run away
    // from the cameras' (and every size derived from it with it).
    const double f = m_q.at<double>(2, 3);
    const double cameras = std::sqrt(m_camera_matrix[0].at<double>(0, 0) * m_camera_matrix[1].at<double>(0, 0));
    const std::string section = "[" + GetContext().cached + "]";
    KIV_CHECK(std::isfinite(f) && f >= 0.1 * cameras && f <= 10.0 * cameras, "Scene3DRectifiedFocal_140312_130042")
        << "the calibration of " + section + " rectifies to the focal length " + std::to_string(f) +
               " pixels against " + std::to_string(cameras) +
               " of its cameras: check dist_coeff_l, dist_coeff_r, camera_matrix_l, camera_matrix_r and "
               "rotate_matrix_l_r";
    const double baseline_term = m_q.at<double>(3, 2);
    KIV_CHECK(std::isfinite(baseline_term) && baseline_term != 0, "Scene3DRectifiedBaseline_140312_130043")
        << "the calibration of " + section + " gives no baseline after rectification: check base_vect";
}

void Scene3DReconstructor::Init(int width, int height)
{
    Init(width, height, static_cast<double>(m_cam_tilt_angle()));
}

void Scene3DReconstructor::Init(int width, int height, double tilt_angle)
{
    KIV_CHECK(width >= 1 && height >= 1, "Scene3DInitSize_140312_130004") << width << height;
    CheckCalibrationParameters();
    ResizeBuffers(cv::Size(width, height));

    // The calibration is scaled per axis, so that a calibration size of another aspect ratio (non-square
    // pixels) maps onto the working size.
    const double sx = static_cast<double>(width) / m_initial_width();
    const double sy = static_cast<double>(height) / m_initial_height();
    const MatrixParam* cameras[2] = {&m_camera_matrix_l, &m_camera_matrix_r};
    for (int v = 0; v < 2; ++v) {
        cv::Mat_<double> k = VectorReprToCVMat((*cameras[v])());
        cv::Mat_<double> along_x = k.row(0);
        cv::Mat_<double> along_y = k.row(1);
        along_x *= sx;
        along_y *= sy;
        m_camera_matrix[v] = k;
    }
    m_dist_coeffs[0] = VectorReprToCVMat(m_dist_coeff_l());
    m_dist_coeffs[1] = VectorReprToCVMat(m_dist_coeff_r());
    m_rotation = VectorReprToCVMat(m_rotate_matrix_l_r());
    m_translation = VectorReprToCVMat(m_base_vect());
    m_p1.create(3, 4, CV_64F);
    m_p2.create(3, 4, CV_64F);
    m_rotation_angle = -tilt_angle;

    if (m_calculate_height()) {
        const BlockEntities::Context& context = GetContext();
        // Two values that cannot work together: both are named.
        const auto pair = [&](const ParamsLib::BaseParameter& low, const ParamsLib::BaseParameter& high) {
            return "Parameters " + ParamsLib::NameAndValue(low, context) + " and " +
                   ParamsLib::NameAndValue(high, context) + " cannot work together: " + low.GetName() +
                   " must not lie above " + high.GetName();
        };
        KIV_CHECK(m_obj_h_min_param() <= m_obj_h_max_param(), "Scene3DObjHMinMax_140312_130008")
            << pair(m_obj_h_min_param, m_obj_h_max_param);
        KIV_CHECK(m_obj_h_max_param() <= m_h_camera_mount_param(), "Scene3DObjHMaxMount_140312_130009")
            << pair(m_obj_h_max_param, m_h_camera_mount_param);
    }
    ComputeRectificationMapping();
    ComputeDirectRectificationMappingForCoords();
    if (m_calculate_height()) {
        ComputeSceneParams();
        ComputeHeightAndDepthMapping();
    }
    m_initialized = true;
}

void Scene3DReconstructor::ResizeBuffers(cv::Size size)
{
    m_width = size.width;
    m_height = size.height;
    const int iw = m_initial_width();
    const int ih = m_initial_height();
    const double sy = static_cast<double>(size.height) / ih;
    const double sx = static_cast<double>(size.width) / iw;
    const bool proportional = std::abs(iw * sy - size.width) <= 3.0 && std::abs(ih * sx - size.height) <= 3.0;
    if (!proportional)
        Log(kKivLogError) << "Current size [" << size.width << " x " << size.height
                          << "] isn't proportional to the size for which camera parameters were calculated: " << iw
                          << "x" << ih << ". Probably your current settings of Stereo3DReconstructor are wrong";
    m_scale_factor = std::sqrt(static_cast<double>(size.width) * size.height / (static_cast<double>(iw) * ih));
    for (int v = 0; v < 2; ++v) {
        m_coord_maps[v].create(size, CV_16SC2);
        m_index_maps[v].create(size, CV_16UC1);
        m_valid_masks[v].create(size, CV_8UC1);
        for (int y = 0; y < size.height; ++y) {
            cv::Vec2s* row = m_coord_maps[v].ptr<cv::Vec2s>(y);
            for (int x = 0; x < size.width; ++x) row[x] = cv::Vec2s(static_cast<short>(x), static_cast<short>(y));
        }
        m_index_maps[v].setTo(0);
    }
    m_y_min = m_y_max = m_x_min = m_x_max = 0.0;
    m_height_clamp = 0.0;
    m_max_disparity = 0.0;
    m_baseline = 0.0;
    m_initialized = false;
}

void Scene3DReconstructor::ComputeRectificationMapping()
{
    const cv::Size size(m_width, m_height);
    cv::Mat r1, r2;
    cv::stereoRectify(m_camera_matrix[0], m_dist_coeffs[0], m_camera_matrix[1], m_dist_coeffs[1], size, m_rotation,
                      m_translation, r1, r2, m_p1, m_p2, m_q, cv::CALIB_ZERO_DISPARITY, m_remap_scaling(),
                      cv::Size(0, 0));
    cv::initUndistortRectifyMap(m_camera_matrix[0], m_dist_coeffs[0], r1, m_p1, size, CV_16SC2, m_coord_maps[0],
                                m_index_maps[0]);
    cv::initUndistortRectifyMap(m_camera_matrix[1], m_dist_coeffs[1], r2, m_p2, size, CV_16SC2, m_coord_maps[1],
                                m_index_maps[1]);
    ComputeValidPixelsMasks();
    CheckRectification();
}

void Scene3DReconstructor::ComputeValidPixelsMasks()
{
    for (int v = 0; v < 2; ++v) {
        m_valid_masks[v].setTo(0);
        for (int y = 0; y < m_height; ++y) {
            const cv::Vec2s* map = m_coord_maps[v].ptr<cv::Vec2s>(y);
            uchar* mask = m_valid_masks[v].ptr<uchar>(y);
            for (int x = 0; x < m_width; ++x)
                if (map[x][0] > 0 && map[x][0] < m_width - 1 && map[x][1] > 0 && map[x][1] < m_height - 1)
                    mask[x] = 255;
        }
    }
}

void Scene3DReconstructor::ComputeDirectRectificationMappingForCoords()
{
    const int w = m_width;
    const int h = m_height;
    const std::size_t n = static_cast<std::size_t>(w) * static_cast<std::size_t>(h);
    for (int v = 0; v < 2; ++v) {
        // The source pixel each rectified pixel comes from, gathered per source pixel (rectified pixels
        // in raster order).
        std::vector<int> fed_offsets(n + 1, 0);
        for (int y = 0; y < h; ++y) {
            const cv::Vec2s* map = m_coord_maps[v].ptr<cv::Vec2s>(y);
            for (int x = 0; x < w; ++x)
                if (map[x][0] >= 0 && map[x][0] < w && map[x][1] >= 0 && map[x][1] < h)
                    ++fed_offsets[static_cast<std::size_t>(map[x][0]) + static_cast<std::size_t>(w) * map[x][1] + 1];
        }
        for (std::size_t i = 0; i < n; ++i) fed_offsets[i + 1] += fed_offsets[i];
        std::vector<cv::Point> fed_points(static_cast<std::size_t>(fed_offsets[n]));
        {
            std::vector<int> fill(fed_offsets.begin(), fed_offsets.end() - 1);
            for (int y = 0; y < h; ++y) {
                const cv::Vec2s* map = m_coord_maps[v].ptr<cv::Vec2s>(y);
                for (int x = 0; x < w; ++x)
                    if (map[x][0] >= 0 && map[x][0] < w && map[x][1] >= 0 && map[x][1] < h)
                        fed_points[static_cast<std::size_t>(
                            fill[static_cast<std::size_t>(map[x][0]) + static_cast<std::size_t>(w) * map[x][1]]++)] =
                            cv::Point(x, y);
            }
        }
        auto fed = [&](std::size_t i) { return fed_offsets[i + 1] > fed_offsets[i]; };

        // For a source pixel that nothing feeds: the nearest fed pixel to its right, left, below and above
        // (-1: none), found with one sweep per direction.
        std::vector<int> right(n, -1), left(n, -1), below(n, -1), above(n, -1);
        for (int y = 0; y < h; ++y) {
            const std::size_t row = static_cast<std::size_t>(y) * w;
            for (int x = w - 2; x >= 0; --x)
                right[row + x] = fed(row + x + 1) ? static_cast<int>(row + x + 1) : right[row + x + 1];
            for (int x = 1; x < w; ++x)
                left[row + x] = fed(row + x - 1) ? static_cast<int>(row + x - 1) : left[row + x - 1];
        }
        for (int y = h - 2; y >= 0; --y)
            for (int x = 0; x < w; ++x) {
                const std::size_t i = static_cast<std::size_t>(y) * w + x;
                below[i] = fed(i + w) ? static_cast<int>(i + w) : below[i + w];
            }
        for (int y = 1; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                const std::size_t i = static_cast<std::size_t>(y) * w + x;
                above[i] = fed(i - w) ? static_cast<int>(i - w) : above[i - w];
            }

        std::vector<int>& offsets = m_direct_offsets[v];
        std::vector<cv::Point>& points = m_direct_points[v];
        offsets.assign(n + 1, 0);
        auto for_each_source = [&](std::size_t i, auto&& fn) {
            if (fed(i)) {
                fn(i);
                return;
            }
            for (const std::vector<int>* dir : {&right, &left, &below, &above})
                if ((*dir)[i] >= 0)
                    fn(static_cast<std::size_t>((*dir)[i]));
        };
        for (std::size_t i = 0; i < n; ++i) {
            int count = 0;
            for_each_source(i, [&](std::size_t s) { count += fed_offsets[s + 1] - fed_offsets[s]; });
            offsets[i + 1] = offsets[i] + count;
        }
        points.resize(static_cast<std::size_t>(offsets[n]));
        for (std::size_t i = 0; i < n; ++i) {
            std::size_t out = static_cast<std::size_t>(offsets[i]);
            for_each_source(i, [&](std::size_t s) {
                for (int k = fed_offsets[s]; k < fed_offsets[s + 1]; ++k)
                    points[out++] = fed_points[static_cast<std::size_t>(k)];
            });
        }
    }
}

void Scene3DReconstructor::ComputeSceneParams()
{
    KIV_CHECK(m_calculate_height(), "Scene3DSceneParamsNoHeight_140312_130010");
    const double theta = -m_rotation_angle;
    const double H = m_h_camera_mount_param();
    const double hmin = m_obj_h_min_param();
    const double hmax = m_obj_h_max_param();
    const double f = m_q.at<double>(2, 3);
    const double B = std::abs(1.0 / m_q.at<double>(3, 2));
    m_focal_length = f;
    m_baseline = B;
    KIV_CHECK(H > hmax + 10.0, "Scene3DMountTooLow_140312_130011")
        << "Parameter " + ParamsLib::NameAndValue(m_h_camera_mount_param, GetContext()) +
               " cannot work: it must lie above " + ParamsLib::NumberText(hmax + 10.0) + " (10 cm above " +
               ParamsLib::NameAndValue(m_obj_h_max_param, GetContext()) + ")";
    m_max_disparity = f * B / std::max((H - (hmax + 10.0)) * std::cos(theta), 5.0);
    // From too high above the objects the stereo pair tells no heights apart.
    KIV_CHECK(m_max_disparity >= 0.5, "Scene3DMountTooHigh_140312_130044")
        << "Parameter " + ParamsLib::NameAndValue(m_h_camera_mount_param, GetContext()) +
               " cannot work: it must lie in (" + ParamsLib::NumberText(hmax + 10.0) + ", " +
               ParamsLib::NumberText(hmax + 10.0 + 2.0 * f * B / std::cos(theta)) +
               "] (higher, the largest disparity of the scene, " + ParamsLib::NumberText(m_max_disparity) +
               " pixels, rounds to 0)";
    if (m_max_disparity > m_width - 1)
        m_max_disparity = m_width - 1;
    const double cy = (m_p1.at<double>(1, 2) + m_p2.at<double>(1, 2)) / 2.0;
    m_angle_top = std::atan(cy / f);
    m_angle_bottom = std::atan((m_height - cy) / f);
    const double D = H - (hmin - 10.0);
    m_y_max = D * std::tan(m_angle_top - theta);
    m_y_min = D * std::tan(-theta - m_angle_bottom);
    m_height_clamp = std::cos(m_angle_top) * H / std::cos(m_angle_top - theta);
    const double cx = (m_p1.at<double>(0, 2) + m_p2.at<double>(0, 2)) / 2.0;
    m_angle_left = std::atan(cx / f);
    m_angle_right = std::atan((m_width - cx) / f);
    m_x_max = D * std::tan(m_angle_right);
    m_x_min = -D * std::tan(m_angle_left);
    const float c = static_cast<float>(std::cos(theta));
    const float s = static_cast<float>(std::sin(theta));
    m_world_rotation = cv::Matx33f(1.f, 0.f, 0.f, 0.f, c, -s, 0.f, -s, -c);
    // The floor the camera sees, from the rectified views' principal point and focal length.
    KIV_CHECK(m_x_min <= m_x_max, "Scene3DFloorX_140312_130012")
        << "the calibration of [" + GetContext().cached + "] gives no floor across the picture (x from " +
               std::to_string(m_x_min) + " to " + std::to_string(m_x_max) + " cm, principal point x " +
               std::to_string(cx) + ", focal length " + std::to_string(f) +
               "): check camera_matrix_l, camera_matrix_r and dist_coeff_l, dist_coeff_r";
    KIV_CHECK(m_y_min <= m_y_max, "Scene3DFloorY_140312_130013")
        << "the calibration and tilt give no floor along the picture (y from " + std::to_string(m_y_min) + " to " +
               std::to_string(m_y_max) + " cm, principal point y " + std::to_string(cy) + ", focal length " +
               std::to_string(f) + ", tilt " + std::to_string(theta) +
               " rad): check camera_matrix_l, camera_matrix_r, cam_tilt_angle and the inclinometer";
}

template <bool kConditions>
void Scene3DReconstructor::CalculateHeightFromDisparityUsingReprojectionMatrix(const cv::Mat& disp,
                                                                               eLeftOrRightView view, cv::Mat& height,
                                                                               cv::Mat& depth, cv::Mat& points)
{
    KIV_CHECK(m_calculate_height(), "Scene3DReprojectNoHeight_140312_130014");
    CheckLookupInput(disp);
    IfNeedAllocAndWriteWarning(disp, "CalculateHeightFromDisparityUsingReprojectionMatrix", height);
    if (points.size() != disp.size() || points.type() != CV_32FC3)
        points.create(disp.size(), CV_32FC3);
    cv::reprojectImageTo3D(disp, points, m_q, false, -1);
    IfNeedAllocAndWriteWarning(disp, "CalculateHeightFromDisparityUsingReprojectionMatrix", depth);

    const float x_range = static_cast<float>(m_x_max - m_x_min);
    const float y_range = static_cast<float>(m_y_max - m_y_min);
    height.setTo(0);
    for (int r0 = 0; r0 < m_height; ++r0) {
        cv::Vec3f* pts = points.ptr<cv::Vec3f>(r0);
        short* dep = depth.ptr<short>(r0);
        short* hgt = height.ptr<short>(r0);
        const short* d = disp.ptr<short>(r0);
        for (int x0 = 0; x0 < m_width; ++x0) {
            const cv::Vec3f cam = pts[x0];
            dep[x0] = AlgoLibrary::RoundHalfAwayFromZero<short>(cam[2]);
            bool accepted = false;
            const cv::Point3f world = ToWorld(cam, view, kConditions, accepted);
            pts[x0] = cv::Vec3f(world.x, world.y, world.z);
            if (accepted) {
                const int c = AlgoLibrary::RoundHalfAwayFromZero(
                    (world.x - static_cast<float>(m_x_min)) / x_range * m_width, kNaNRounded);
                const int r = AlgoLibrary::RoundHalfAwayFromZero(
                    (world.y - static_cast<float>(m_y_min)) / y_range * m_height, kNaNRounded);
                const int match = view == kRightView ? x0 + d[x0] : x0 - d[x0];
                if (c >= 0 && c < m_width && r >= 0 && r < m_height && match >= 0 && match < m_width)
                    hgt[x0] = AlgoLibrary::RoundHalfAwayFromZero<short>(world.z);
            }
        }
    }
}

cv::Point3f Scene3DReconstructor::ToWorld(const cv::Vec3f& cam, eLeftOrRightView view, bool conditions,
                                          bool& accepted) const
{
    const float offset = view == kRightView ? static_cast<float>(m_baseline) : 0.f;
    const float H = static_cast<float>(m_h_camera_mount_param());
    const cv::Matx33f& M = m_world_rotation;
    const float x = M(0, 0) * cam[0] + M(0, 1) * cam[1] + M(0, 2) * cam[2] + offset;
    const float y = M(1, 0) * cam[0] + M(1, 1) * cam[1] + M(1, 2) * cam[2];
    const float z = M(2, 0) * cam[0] + M(2, 1) * cam[1] + M(2, 2) * cam[2] + H;
    accepted = x >= m_x_min && x <= m_x_max && y >= m_y_min && y <= m_y_max;
    if (conditions)
        accepted = accepted && z >= 0.f && z <= static_cast<float>(m_obj_h_max_param()) + 10.f;
    if (accepted)
        return cv::Point3f(x, y, z);
    const auto clamp = [](float value, double a, double b) {
        return std::min(std::max(value, static_cast<float>(std::min(a, b))), static_cast<float>(std::max(a, b)));
    };
    return cv::Point3f(clamp(x, m_x_min, m_x_max), clamp(y, m_y_min, m_y_max), clamp(z, 0.0, m_height_clamp));
}

cv::Vec3f Scene3DReconstructor::TableCameraPoint(int row, int col, int k) const
{
    // As cv::reprojectImageTo3D does for one pixel; index 0 holds disparity 1.
    const int d = std::max(1, k + m_table_min);
    const cv::Matx44d Q(m_q);
    const cv::Vec4d h = Q * cv::Vec4d(col, row, d, 1.0);
    const double w = h[3] != 0.0 ? 1.0 / h[3] : 0.0;
    return cv::Vec3f(static_cast<float>(h[0] * w), static_cast<float>(h[1] * w), static_cast<float>(h[2] * w));
}

cv::Point3f Scene3DReconstructor::TablePoint(eLeftOrRightView view, int row, int col, int k) const
{
    bool accepted = false;
    return ToWorld(TableCameraPoint(row, col, k), view, m_use_conditions_on_height(), accepted);
}

void Scene3DReconstructor::ComputeHeightAndDepthMapping()
{
    KIV_CHECK(m_calculate_height(), "Scene3DTablesNoHeight_140312_130015");
    m_table_max = AlgoLibrary::RoundHalfAwayFromZero<short>(m_max_disparity);
    m_table_min = 0;
    KIV_CHECK(m_table_max >= 1, "Scene3DTablesMaxDisparity_140312_130016") << static_cast<int>(m_table_max);
    m_table_levels = m_table_max - m_table_min + 1;
    const std::size_t entries = static_cast<std::size_t>(m_width) * m_height * m_table_levels;
    for (int v = 0; v < 2; ++v) {
        m_height_tables[v].assign(entries, 0);
    }
    const cv::Size size(m_width, m_height);
    cv::Mat disparity(size, CV_16SC1), heights(size, CV_16SC1), depths(size, CV_16SC1);
    m_points_buffer.create(size, CV_32FC3);
    const bool conditions = m_use_conditions_on_height();
    // Index 0 holds the values of disparity 1: a disparity of 0 or below looks those up.
    for (int d = 0; d <= m_table_max; ++d) {
        disparity.setTo(d == 0 ? 1 : d);
        for (int v = 0; v < kViewsNum; ++v) {
            const eLeftOrRightView view = static_cast<eLeftOrRightView>(v);
            heights.setTo(0);
            depths.setTo(0);
            m_points_buffer.setTo(0);
            if (conditions)
                CalculateHeightFromDisparityUsingReprojectionMatrix<true>(disparity, view, heights, depths,
                                                                          m_points_buffer);
            else
                CalculateHeightFromDisparityUsingReprojectionMatrix<false>(disparity, view, heights, depths,
                                                                           m_points_buffer);
            for (int r = 0; r < m_height; ++r) {
                const short* h = heights.ptr<short>(r);
                for (int c = 0; c < m_width; ++c) {
                    const std::size_t i = TableIndex(r, c, d - m_table_min);
                    m_height_tables[v][i] = h[c];
                }
            }
        }
    }
}

void Scene3DReconstructor::CheckLookupInput(const cv::Mat& disp) const
{
    KIV_CHECK(disp.cols == m_width && disp.rows == m_height, "Scene3DDisparitySize_140312_130017")
        << disp.cols << disp.rows;
    KIV_CHECK(disp.type() == CV_16SC1, "Scene3DDisparityType_140312_130018") << disp.type();
}

void Scene3DReconstructor::CalculateHeightFromDisparity(const cv::Mat& disp, eLeftOrRightView view,
                                                        cv::Mat& height) const
{
    KIV_CHECK(m_calculate_height(), "Scene3DHeightNoHeight_140312_130019");
    KIV_CHECK(m_initialized, "Scene3DHeightNotInit_140312_130020");
    CheckLookupInput(disp);
    IfNeedAllocAndWriteWarning(disp, "CalculateHeightFromDisparityUseMap", height);
    const int v = ViewIndex(view);
    const std::vector<short>& table = m_height_tables[v];
    // A negative disparity is a pixel without a match (the left view's marker is -1, the right
    // view's is made -1 by NegateRightViewDisparity): no height, at the pixel's own column. A
    // disparity above the table is no height of the scene either.
    auto lookup = [&](int r, int x, int d, int& column_shift) {
        if (d < 0) {
            column_shift = 0;
            return static_cast<short>(0);
        }
        if (d > m_table_max) {
            column_shift = m_table_max;
            return static_cast<short>(0);
        }
        const int k = std::max(d, static_cast<int>(m_table_min)) - m_table_min;
        column_shift = k + m_table_min;
        return table[TableIndex(r, x, k)];
    };
    // Which columns of the right view's row a point landed on (the others are filled from their
    // neighbours); one per thread, kept from call to call.
    thread_local std::vector<uchar> landed;
    if (v == 1)
        landed.resize(static_cast<size_t>(m_width));
    for (int r = 0; r < m_height; ++r) {
        const short* d = disp.ptr<short>(r);
        short* out = height.ptr<short>(r);
        int shift = 0;
        if (v == 0) {
            for (int x = 0; x < m_width; ++x) out[x] = lookup(r, x, d[x], shift);
            continue;
        }
        // Where two points land on one column, the nearer one (the larger height) is what the left
        // camera sees there; a column only filled across a gap takes the point that lands on it.
        std::fill(landed.begin(), landed.end(), 0);
        int next = 0;
        short last = 0;
        for (int x = 0; x < m_width; ++x) {
            const short value = lookup(r, x, d[x], shift);
            const int c = x + shift;
            if (c < 0 || c >= m_width)
                continue;
            out[c] = landed[c] ? std::max(out[c], value) : value;
            landed[c] = 1;
            for (int g = next; g < c; ++g) {
                if (!landed[g])
                    out[g] = value;
            }
            next = std::max(next, c + 1);
            last = value;
        }
        for (int g = next; g < m_width; ++g) out[g] = last;
    }
}

void NegateRightViewDisparity(cv::Mat& disparity, short invalid)
{
    KIV_CHECK(disparity.type() == CV_16SC1, "NegateRightDisparityType_140312_130040") << disparity.type();
    for (int r = 0; r < disparity.rows; ++r) {
        short* row = disparity.ptr<short>(r);
        for (int c = 0; c < disparity.cols; ++c)
            row[c] = row[c] == invalid ? static_cast<short>(-1) : static_cast<short>(-row[c]);
    }
}

void Scene3DReconstructor::CalculateDepthFromDisparity(const cv::Mat& disp, eLeftOrRightView view, cv::Mat& depth) const
{
    KIV_CHECK(m_calculate_height(), "Scene3DDepthNoHeight_140312_130021");
    KIV_CHECK(m_initialized, "Scene3DDepthNotInit_140312_130022");
    CheckLookupInput(disp);
    IfNeedAllocAndWriteWarning(disp, "CalculateDepthFromDisparity", depth);
    (void)view;  // the depth along the optical axis is the same for both views' camera points
    for (int r = 0; r < m_height; ++r) {
        const short* d = disp.ptr<short>(r);
        short* out = depth.ptr<short>(r);
        for (int x = 0; x < m_width; ++x) {
            const int clamped = std::min(std::max(static_cast<int>(d[x]), static_cast<int>(m_table_min)),
                                         static_cast<int>(m_table_max));
            out[x] = AlgoLibrary::RoundHalfAwayFromZero<short>(TableCameraPoint(r, x, clamped - m_table_min)[2]);
        }
    }
}

void Scene3DReconstructor::CalculateDepthFromDisparityUsingReprojection(const cv::Mat& disp, eLeftOrRightView,
                                                                        cv::Mat& depth)
{
    CheckLookupInput(disp);
    if (m_points_buffer.size() != disp.size() || m_points_buffer.type() != CV_32FC3)
        m_points_buffer.create(disp.size(), CV_32FC3);
    cv::reprojectImageTo3D(disp, m_points_buffer, m_q, false, -1);
    IfNeedAllocAndWriteWarning(disp, "CalculateHeightFromDisparityUsingReprojectionMatrix", depth);
    // A disparity of 0 reprojects to infinity: its depth saturates at the 16-bit limit.
    for (int r = 0; r < disp.rows; ++r) {
        const cv::Vec3f* p = m_points_buffer.ptr<cv::Vec3f>(r);
        short* out = depth.ptr<short>(r);
        for (int x = 0; x < disp.cols; ++x) out[x] = AlgoLibrary::RoundHalfAwayFromZero<short>(p[x][2]);
    }
}

void Scene3DReconstructor::FindWorld3DCoordinateOfImagePoint(const cv::Point& p, int height, eLeftOrRightView view,
                                                             cv::Point3f& world) const
{
    KIV_CHECK(m_calculate_height(), "Scene3DWorldNoHeight_140312_130023");
    KIV_CHECK(m_initialized, "Scene3DWorldNotInit_140312_130024");
    CheckPointInFrame(p.x, p.y);
    const int v = ViewIndex(view);
    int best_k = 0;
    int best_diff = 32767;
    for (int k = 0; k <= m_table_max - m_table_min; ++k) {
        const int diff = std::abs(m_height_tables[v][TableIndex(p.y, p.x, k)] - height);
        if (diff < best_diff) {
            best_diff = diff;
            best_k = k;
        }
    }
    world = TablePoint(view, p.y, p.x, best_k);
}

void Scene3DReconstructor::ProjectPointToImage(const cv::Point3f& world, eLeftOrRightView view, cv::Point& p) const
{
    KIV_CHECK(m_calculate_height(), "Scene3DProjectNoHeight_140312_130025");
    const cv::Vec3f c =
        m_world_rotation * cv::Vec3f(world.x, world.y, world.z - static_cast<float>(m_h_camera_mount_param()));
    const cv::Mat& P = ViewIndex(view) == 1 ? m_p2 : m_p1;
    float uvw[3];
    for (int i = 0; i < 3; ++i)
        uvw[i] = static_cast<float>(P.at<double>(i, 0)) * c[0] + static_cast<float>(P.at<double>(i, 1)) * c[1] +
                 static_cast<float>(P.at<double>(i, 2)) * c[2] + static_cast<float>(P.at<double>(i, 3));
    KIV_CHECK(uvw[2] > 0.f, "Scene3DProjectBehind_140312_130026")
        << "m_im_point_proj[2] must be greater than zero.Probably bad calibration matrices";
    p = cv::Point(AlgoLibrary::RoundHalfAwayFromZero(uvw[0] / uvw[2], kNaNRounded),
                  AlgoLibrary::RoundHalfAwayFromZero(uvw[1] / uvw[2], kNaNRounded));
}

void Scene3DReconstructor::GetSceneParams(SceneParams& params) const
{
    KIV_CHECK(m_calculate_height(), "Scene3DSceneNoHeight_140312_130027");
    params.h_camera_mount = m_h_camera_mount_param();
    params.obj_h_min = m_obj_h_min_param();
    params.obj_h_max = m_obj_h_max_param();
    params.rotation_angle = m_rotation_angle;
    params.angle_top = m_angle_top;
    params.angle_bottom = m_angle_bottom;
    params.angle_left = m_angle_left;
    params.angle_right = m_angle_right;
    params.focal_length = m_focal_length;
    params.max_disparity = AlgoLibrary::RoundHalfAwayFromZero(m_max_disparity, kNaNRounded);
}

void Scene3DReconstructor::GetValidPixelsMask(eLeftOrRightView view, cv::Mat& mask) const
{
    KIV_CHECK(m_initialized, "Scene3DMaskNotInit_140312_130028");
    IfNeedAllocAndWriteWarning(m_valid_masks[0], "GetValidPixelsMask", mask);
    m_valid_masks[ViewIndex(view)].copyTo(mask);
}

void Scene3DReconstructor::RectifyView(const cv::Mat& src, eLeftOrRightView view, int interpolation, cv::Mat& dst) const
{
    KIV_CHECK(src.cols == m_width && src.rows == m_height, "Scene3DRectifySize_140312_130029") << src.cols << src.rows;
    IfNeedAllocAndWriteWarning(src, "RectifyView", dst);
    const int v = ViewIndex(view);
    cv::remap(src, dst, m_coord_maps[v], m_index_maps[v], interpolation, cv::BORDER_CONSTANT, cv::Scalar(0));
}

void Scene3DReconstructor::CheckPointInFrame(int x, int y) const
{
    KIV_CHECK(x < m_width, "Scene3DPointX_140312_130030") << x;
    KIV_CHECK(y < m_height, "Scene3DPointY_140312_130031") << y;
    KIV_CHECK(x >= 0, "Scene3DPointXNeg_140312_130032") << x;
    KIV_CHECK(y >= 0, "Scene3DPointYNeg_140312_130033") << y;
}

void Scene3DReconstructor::RectifyPointCoord(int x, int y, eLeftOrRightView view, std::deque<cv::Point>& points) const
{
    CheckPointInFrame(x, y);
    const int v = ViewIndex(view);
    const std::size_t i = static_cast<std::size_t>(x) + static_cast<std::size_t>(m_width) * y;
    KIV_CHECK(i + 1 < m_direct_offsets[v].size(), "Scene3DRectifyPointNotInit_140312_130034");
    points.assign(m_direct_points[v].begin() + m_direct_offsets[v][i],
                  m_direct_points[v].begin() + m_direct_offsets[v][i + 1]);
}

void Scene3DReconstructor::UnrectifyPointCoord(int x, int y, eLeftOrRightView view, int& ux, int& uy) const
{
    CheckPointInFrame(x, y);
    const int v = ViewIndex(view);
    cv::Point nearest;
    GetNearestPointInMask(cv::Point(x, y), m_valid_masks[v], nearest);
    const cv::Vec2s source = m_coord_maps[v].at<cv::Vec2s>(nearest);
    ux = source[0];
    uy = source[1];
    KIV_CHECK(ux < m_width, "Scene3DUnrectifyX_140312_130035") << ux;
    KIV_CHECK(uy < m_height, "Scene3DUnrectifyY_140312_130036") << uy;
    KIV_CHECK(ux >= 0, "Scene3DUnrectifyXNeg_140312_130037") << ux;
    KIV_CHECK(uy >= 0, "Scene3DUnrectifyYNeg_140312_130038") << uy;
}

void Scene3DReconstructor::IfNeedAllocAndWriteWarning(const cv::Mat& like, const char* caller, cv::Mat& out) const
{
    if (out.size() == like.size() && out.type() == like.type())
        return;
    Log(kKivLogWarning) << caller << ": memory for output matrix is allocated inside function. May be time consuming";
    out.create(like.size(), like.type());
}

void GetNearestPointInMask(const cv::Point& p, const cv::Mat& mask, cv::Point& nearest)
{
    KIV_CHECK(p.x < mask.cols, "NearestInMaskX_140312_130101") << p.x;
    KIV_CHECK(p.y < mask.rows, "NearestInMaskY_140312_130102") << p.y;
    KIV_CHECK(p.x >= 0, "NearestInMaskXNeg_140312_130103") << p.x;
    KIV_CHECK(p.y >= 0, "NearestInMaskYNeg_140312_130104") << p.y;
    KIV_CHECK(mask.type() == CV_8UC1, "NearestInMaskType_140312_130105") << mask.type();
    if (mask.at<uchar>(p)) {
        nearest = p;
        return;
    }
    const int rings = std::max(mask.cols, mask.rows);
    for (int k = 0; k < rings; ++k) {
        bool found = false;
        int best = 0;
        auto visit = [&](int dx, int dy) {
            const int x = p.x + dx;
            const int y = p.y + dy;
            if (x < 0 || y < 0 || x >= mask.cols || y >= mask.rows || !mask.at<uchar>(y, x))
                return;
            const int distance = std::abs(dx) + std::abs(dy);
            if (!found || distance < best) {
                found = true;
                best = distance;
                nearest = cv::Point(x, y);
            }
        };
        for (int dy = -k; dy <= k; ++dy) visit(-k, dy);
        for (int dy = -k; dy <= k; ++dy) visit(k, dy);
        for (int dx = -k; dx <= k; ++dx) visit(dx, -k);
        for (int dx = -k; dx <= k; ++dx) visit(dx, k);
        if (found)
            return;
    }
    throw std::invalid_argument("GetNearestPointInMask: mask with no marked points");
}

cv::Mat_<double> VectorReprToCVMat(const std::vector<std::vector<double>>& rows)
{
    KIV_CHECK(!rows.empty(), "MatrixFromRowsEmpty_140312_130201");
    KIV_CHECK(!rows[0].empty(), "MatrixFromRowsEmptyRow_140312_130202");
    const std::size_t cols = rows[0].size();
    for (const std::vector<double>& row : rows)
        KIV_CHECK(row.size() == cols, "MatrixFromRowsLength_140312_130203") << static_cast<int>(row.size());
    cv::Mat_<double> m(static_cast<int>(rows.size()), static_cast<int>(cols));
    for (std::size_t r = 0; r < rows.size(); ++r)
        for (std::size_t c = 0; c < cols; ++c) m(static_cast<int>(r), static_cast<int>(c)) = rows[r][c];
    return m;
}

}  // namespace stereo
