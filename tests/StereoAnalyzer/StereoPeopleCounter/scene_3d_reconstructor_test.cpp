#include "StereoAnalyzer/StereoPeopleCounter/scene_3d_reconstructor.h"

#include <gtest/gtest.h>

#include <cmath>
#include <opencv2/calib3d.hpp>
#include <opencv2/imgproc.hpp>
#include <stdexcept>
#include <string>
#include <vector>

#include "CommonUtilities/algorithm_support/kiv_exception.h"
#include "StereoAnalyzer/StereoPeopleCounter/stereo_test_scene.h"

namespace {

using stereo::SceneParams;

std::string KivMessageOf(const std::function<void()>& call)
{
    try {
        call();
    } catch (const exc::KIVException& e) {
        return e.what();
    }
    return std::string();
}

TEST(Scene3DReconstructorTest, DeclaresTheCalibrationParametersUnderTheirNames)
{
    stereo::Scene3DReconstructor reconstructor;
    std::vector<std::string> names;
    std::vector<std::string> required;
    reconstructor.ForEachParameter([&](ParamsLib::BaseParameter& p) {
        names.push_back(p.GetName());
        ParamsLib::ParameterOptions options;
        p.FillParameterOptions(options);
        if (options.count(ParamsLib::ParameterOption::kValueRequired))
            required.push_back(p.GetName());
    });
    EXPECT_EQ(names,
              (std::vector<std::string>{"camera_matrix_l", "camera_matrix_r", "dist_coeff_l", "dist_coeff_r",
                                        "rotate_matrix_l_r", "base_vect", "initial_width", "initial_height",
                                        "cam_tilt_angle", "h_camera_mount_param", "obj_h_min_param", "obj_h_max_param",
                                        "remap_scaling", "use_conditions_on_height", "calculate_height"}));
    EXPECT_EQ(required, std::vector<std::string>(names.begin(), names.begin() + 10));
}

TEST(Scene3DReconstructorTest, MissingCalibrationIsLoggedAndTheDefaultsStillWork)
{
    LoadedReconstructor loaded("[3DReconstructor]\nobj_h_min_param=140\n");
    int missing = 0;
    for (const RecordingLog::Line& line : loaded.log->lines)
        if (line.level == kKivLogError && line.text.find("must not be default-initialized") != std::string::npos)
            ++missing;
    EXPECT_EQ(missing, 10);
    EXPECT_TRUE(loaded.Logged("Parameter 3DReconstructor_base_vect must not be default-initialized."));

    // The shipped calibration is 704x576 (non-square pixels): scaled per axis, with the size warning.
    loaded.reconstructor->Init(160, 120);
    EXPECT_TRUE(
        loaded.Logged("Current size [160 x 120] isn't proportional to the size for which camera parameters "
                      "were calculated: 704x576. Probably your current settings of Stereo3DReconstructor "
                      "are wrong"));
    const cv::Mat& k = loaded.reconstructor->CameraMatrix(stereo::kLeftView);
    EXPECT_NEAR(k.at<double>(0, 0), 7.7779760220850130e+002 * 160 / 704, 1e-9);
    EXPECT_NEAR(k.at<double>(0, 2), 3.4287128773495607e+002 * 160 / 704, 1e-9);
    EXPECT_NEAR(k.at<double>(1, 1), 8.5238823083781904e+002 * 120 / 576, 1e-9);
    EXPECT_NEAR(k.at<double>(1, 2), 3.2051281370152287e+002 * 120 / 576, 1e-9);
    EXPECT_EQ(k.at<double>(2, 2), 1.0);
    EXPECT_NEAR(loaded.reconstructor->ScaleFactor(), std::sqrt(19200.0 / 405504.0), 1e-12);
}

TEST(Scene3DReconstructorTest, SourcePixelsNothingFeedsTakeTheirNeighboursPoints)
{
    // The shipped calibration has lens distortion: some source pixels feed no rectified pixel.
    LoadedReconstructor loaded("[3DReconstructor]\n");
    stereo::Scene3DReconstructor& r = *loaded.reconstructor;
    r.Init(160, 120);
    cv::Mat valid;
    r.GetValidPixelsMask(stereo::kRightView, valid);
    int fed = 0, filled = 0, empty = 0;
    std::deque<cv::Point> points;
    for (int y = 0; y < 120; ++y)
        for (int x = 0; x < 160; ++x) {
            r.RectifyPointCoord(x, y, stereo::kRightView, points);
            if (points.empty()) {
                ++empty;
                continue;
            }
            bool all_fed_by_this = true;
            bool all_in_row_or_column = true;
            for (const cv::Point& p : points) {
                if (!valid.at<uchar>(p))
                    continue;  // unrectified through another pixel: its source is on the border
                int ux = -1, uy = -1;
                r.UnrectifyPointCoord(p.x, p.y, stereo::kRightView, ux, uy);
                all_fed_by_this = all_fed_by_this && ux == x && uy == y;
                all_in_row_or_column = all_in_row_or_column && (ux == x || uy == y);
            }
            if (all_fed_by_this) {
                ++fed;
            } else {
                ASSERT_TRUE(all_in_row_or_column) << x << "," << y;
                ++filled;
            }
        }
    EXPECT_GT(fed, 0);
    EXPECT_GT(filled, 0);
    EXPECT_EQ(fed + filled + empty, 160 * 120);
}

TEST(Scene3DReconstructorTest, SquarePixelCalibrationRectifiesToIdentityAtAnotherSize)
{
    LoadedReconstructor loaded(TestCalibration().Ini());
    stereo::Scene3DReconstructor& r = *loaded.reconstructor;
    loaded.log->lines.clear();
    r.Init(144, 108);  // proportional to 320x240: no size warning
    EXPECT_TRUE(loaded.log->lines.empty());
    EXPECT_NEAR(r.ScaleFactor(), 0.45, 1e-12);
    EXPECT_EQ(r.GetFrameSize(), cv::Size(144, 108));

    cv::Mat texture(108, 144, CV_8UC1);
    cv::randu(texture, 0, 256);
    cv::GaussianBlur(texture, texture, cv::Size(5, 5), 1.0);
    for (const stereo::eLeftOrRightView view : {stereo::kLeftView, stereo::kRightView}) {
        cv::Mat rectified;
        r.RectifyView(texture, view, cv::INTER_CUBIC, rectified);
        const cv::Rect inner(2, 2, 140, 104);
        EXPECT_LE(cv::norm(rectified(inner), texture(inner), cv::NORM_INF), 1.0) << "view " << view;
        cv::Mat mask;
        r.GetValidPixelsMask(view, mask);
        // The source's first and last rows and columns never count as valid.
        EXPECT_EQ(cv::countNonZero(mask), 142 * 106);
        EXPECT_EQ(mask.at<uchar>(0, 10), 0);
        EXPECT_EQ(mask.at<uchar>(1, 1), 255);

        std::deque<cv::Point> points;
        r.RectifyPointCoord(37, 21, view, points);
        ASSERT_EQ(points.size(), 1u);
        EXPECT_EQ(points[0], cv::Point(37, 21));
        int ux = -1, uy = -1;
        r.UnrectifyPointCoord(37, 21, view, ux, uy);
        EXPECT_EQ(cv::Point(ux, uy), cv::Point(37, 21));
        // A border pixel answers with the nearest valid one.
        r.UnrectifyPointCoord(0, 0, view, ux, uy);
        EXPECT_EQ(cv::Point(ux, uy), cv::Point(1, 1));
    }
}

TEST(Scene3DReconstructorTest, MaximalDisparityFollowsTheScene)
{
    // f = 170 at the working size and B = 36.2: 170 * 36.2 / 50 = 123.08.
    struct Case {
        int width;
        double baseline;
        double mount;
        int expected;
    };
    const Case cases[] = {
        {160, 36.2, 260.0, 123},  // the plain formula
        {160, 2.0, 212.0, 68},    // the divisor of 2 cm is raised to 5 cm: 340 / 5
        {100, 36.2, 260.0, 99},   // lowered to the width - 1
        {160, 36.2, 300.0, 68},   // 6154 / 90 = 68.38
    };
    for (const Case& c : cases) {
        TestCalibration calibration;
        calibration.initial_width = c.width;
        calibration.initial_height = c.width * 3 / 4;
        calibration.fx = calibration.fy = 170.0;
        calibration.baseline = c.baseline;
        calibration.mount = c.mount;
        LoadedReconstructor loaded(calibration.Ini());
        loaded.reconstructor->Init(c.width, c.width * 3 / 4);
        SceneParams scene;
        loaded.reconstructor->GetSceneParams(scene);
        EXPECT_EQ(scene.max_disparity, c.expected) << c.width << " " << c.baseline << " " << c.mount;
    }
}

TEST(Scene3DReconstructorTest, RefusesUnusableGeometry)
{
    struct Case {
        const char* what;
        std::string ini;
        const char* message_part;
    };
    auto with = [](auto change) {
        TestCalibration c;
        change(c);
        return c.Ini();
    };
    const Case cases[] = {
        {"calibration width 0", with([](TestCalibration& c) { c.initial_width = 0; }),
         "3DReconstructor_initial_width = 0 cannot work: it must lie in [1, inf)"},
        {"calibration height -5", with([](TestCalibration& c) { c.initial_height = -5; }),
         "3DReconstructor_initial_height = -5 cannot work: it must lie in [1, inf)"},
        {"largest object 0.5 cm", with([](TestCalibration& c) { c.obj_h_min = 0.2, c.obj_h_max = 0.5; }),
         "3DReconstructor_obj_h_max_param = 0.5"},
        {"smallest object above the largest", with([](TestCalibration& c) { c.obj_h_min = 201; }),
         "cannot work together: obj_h_min_param must not lie above obj_h_max_param"},
        {"largest object above the camera", with([](TestCalibration& c) { c.mount = 190; }),
         "cannot work together: obj_h_max_param must not lie above h_camera_mount_param"},
        {"camera not 10 cm above the largest object", with([](TestCalibration& c) { c.mount = 210; }),
         "3DReconstructor_h_camera_mount_param = 210"},
        {"camera too high to tell heights apart", with([](TestCalibration& c) { c.mount = 1e9; }),
         "Scene3DMountTooHigh"},
    };
    for (const Case& c : cases) {
        LoadedReconstructor loaded(c.ini);
        const std::string message = KivMessageOf([&] { loaded.reconstructor->Init(160, 120); });
        EXPECT_NE(message.find(c.message_part), std::string::npos) << c.what << ": " << message;
        cv::Mat mask;
        EXPECT_THROW(loaded.reconstructor->GetValidPixelsMask(stereo::kLeftView, mask), exc::KIVException) << c.what;
    }
    // Without height computation the object heights are not checked against each other.
    LoadedReconstructor no_heights(with([](TestCalibration& c) {
        c.obj_h_min = 201;
        c.extra = "calculate_height=false\n";
    }));
    EXPECT_NO_THROW(no_heights.reconstructor->Init(160, 120));
    SceneParams scene;
    EXPECT_THROW(no_heights.reconstructor->GetSceneParams(scene), exc::KIVException);
}

class HeightLookupTest : public ::testing::Test {
protected:
    void SetUp() override { loaded.reconstructor->Init(144, 108); }

    cv::Mat HeightsOf(stereo::eLeftOrRightView view, short d)
    {
        cv::Mat disp(108, 144, CV_16SC1, cv::Scalar(d)), height;
        loaded.reconstructor->CalculateHeightFromDisparity(disp, view, height);
        return height;
    }

    LoadedReconstructor loaded{TestCalibration().Ini()};
};

TEST_F(HeightLookupTest, HeightFromDisparityAgreesWithReprojection)
{
    stereo::Scene3DReconstructor& r = *loaded.reconstructor;
    SceneParams scene;
    r.GetSceneParams(scene);
    EXPECT_NEAR(scene.focal_length, 180.0, 1e-6);
    EXPECT_EQ(scene.max_disparity, 30);  // 1520 / (260 - 210)

    const cv::Mat disp(108, 144, CV_16SC1, cv::Scalar(19));
    cv::Mat xyz;
    cv::reprojectImageTo3D(disp, xyz, r.ReprojectionMatrix(), false, CV_32F);
    const float z = xyz.at<cv::Vec3f>(54, 72)[2];
    EXPECT_NEAR(z, 80.0, 0.5);
    for (const stereo::eLeftOrRightView view : {stereo::kLeftView, stereo::kRightView}) {
        cv::Mat height;
        r.CalculateHeightFromDisparity(disp, view, height);
        ASSERT_EQ(height.type(), CV_16SC1);
        const short h = height.at<short>(54, 72);
        EXPECT_NEAR(h, 180, 1) << "view " << view;
        EXPECT_NEAR(h, 260.0 - z, 1.0) << "view " << view;
    }
    cv::Mat depth;
    r.CalculateDepthFromDisparity(disp, stereo::kLeftView, depth);
    EXPECT_NEAR(depth.at<short>(54, 72), 80, 1);
    cv::Mat direct;
    r.CalculateDepthFromDisparityUsingReprojection(disp, stereo::kLeftView, direct);
    EXPECT_EQ(direct.at<short>(54, 72), depth.at<short>(54, 72));
}

TEST_F(HeightLookupTest, TiltedCameraMeasuresHeightsAboveTheFloor)
{
    // On the optical axis a point at depth Z is Z cos(tilt) below the camera.
    for (const double tilt : {0.0, 0.3}) {
        loaded.reconstructor->Init(144, 108, tilt);
        stereo::SceneParams scene;
        loaded.reconstructor->GetSceneParams(scene);
        EXPECT_DOUBLE_EQ(scene.rotation_angle, -tilt);
        for (const short d : {6, 10, 19}) {
            const double expected = 260.0 - 1520.0 / d * std::cos(tilt);
            EXPECT_NEAR(HeightsOf(stereo::kLeftView, d).at<short>(54, 72), expected, 1.0)
                << "tilt " << tilt << " disparity " << d;
        }
    }
}

TEST_F(HeightLookupTest, DisparitiesOutsideTheTableLookUpItsEndsOrNoHeight)
{
    const short table_max = 30;  // the table ends 10 cm above the largest object: 1520 / (260 - 210)
    EXPECT_NEAR(HeightsOf(stereo::kLeftView, table_max).at<short>(54, 72), 210, 1);
    for (const stereo::eLeftOrRightView view : {stereo::kLeftView, stereo::kRightView}) {
        // Disparity 0 is looked up as disparity 1; a negative one (no match) and one above the table
        // give no height.
        EXPECT_EQ(HeightsOf(view, 0).at<short>(54, 72), HeightsOf(view, 1).at<short>(54, 72)) << "view " << view;
        for (const short d : {-1, -32768, 31, 48, 32767})
            EXPECT_EQ(cv::countNonZero(HeightsOf(view, d)), 0) << "disparity " << d << " view " << view;
    }
}

// The invalid markers the matcher leaves in both views give no height, whatever the scene's largest
// disparity: the left view's -1, and the right view's, which once the map is negated would equal the
// level count (the largest disparity rounded up to 16), the table's last entry when that is a
// multiple of 16.
TEST(Scene3DReconstructorTest, InvalidMarkersOfBothViewsGiveNoHeight)
{
    const struct {
        double mount;
        int max_disparity;
    } cases[] = {{266.3, 27}, {257.5, 32}, {210.0 + 1520.0 / 48.0, 48}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.max_disparity);
        TestCalibration calibration;
        calibration.mount = c.mount;
        LoadedReconstructor loaded(calibration.Ini());
        loaded.reconstructor->Init(144, 108);
        stereo::SceneParams scene;
        loaded.reconstructor->GetSceneParams(scene);
        ASSERT_EQ(scene.max_disparity, c.max_disparity);
        const short levels = static_cast<short>((c.max_disparity + 15) / 16 * 16);

        // Left half matched at disparity 19, right half invalid, in both views as the matcher gives
        // them (the right view's range is [-(levels - 1), 0], its marker one below).
        cv::Mat left(108, 144, CV_16SC1, cv::Scalar(19)), right(108, 144, CV_16SC1, cv::Scalar(-19));
        left.colRange(72, 144).setTo(-1);
        right.colRange(72, 144).setTo(-levels);
        stereo::NegateRightViewDisparity(right, static_cast<short>(-levels));
        cv::Mat height[2];
        loaded.reconstructor->CalculateHeightFromDisparity(left, stereo::kLeftView, height[0]);
        loaded.reconstructor->CalculateHeightFromDisparity(right, stereo::kRightView, height[1]);
        const double matched = c.mount - 1520.0 / 19;
        EXPECT_NEAR(height[0].at<short>(54, 36), matched, 1);
        EXPECT_NEAR(height[1].at<short>(54, 36 + 19), matched, 1);
        EXPECT_EQ(cv::countNonZero(height[0].colRange(72, 144)), 0);
        EXPECT_EQ(cv::countNonZero(height[1].colRange(72 + 19, 144)), 0);
    }
}

TEST(Scene3DReconstructorTest, ConditionsOnHeightDropPointsBelowTheFloor)
{
    // Disparity 1 near the centre reprojects 1520 cm away, far below the floor.
    for (const bool conditions : {false, true}) {
        TestCalibration calibration;
        calibration.conditions = conditions;
        LoadedReconstructor loaded(calibration.Ini());
        loaded.reconstructor->Init(144, 108);
        cv::Mat disp(108, 144, CV_16SC1, cv::Scalar(1)), height;
        loaded.reconstructor->CalculateHeightFromDisparity(disp, stereo::kLeftView, height);
        EXPECT_EQ(height.at<short>(54, 72), conditions ? 0 : -1260);
        disp.setTo(19);
        loaded.reconstructor->CalculateHeightFromDisparity(disp, stereo::kLeftView, height);
        EXPECT_NEAR(height.at<short>(54, 72), 180, 1);
    }
}

TEST(Scene3DReconstructorTest, OutputsOfAnotherSizeAreRemadeWithAWarning)
{
    LoadedReconstructor loaded(TestCalibration().Ini());
    loaded.reconstructor->Init(144, 108);
    loaded.log->lines.clear();
    cv::Mat src(108, 144, CV_8UC1, cv::Scalar(9)), dst(10, 10, CV_16SC1);
    loaded.reconstructor->RectifyView(src, stereo::kRightView, cv::INTER_CUBIC, dst);
    EXPECT_EQ(dst.size(), src.size());
    EXPECT_EQ(dst.type(), CV_8UC1);
    ASSERT_EQ(loaded.log->lines.size(), 1u);
    EXPECT_EQ(loaded.log->lines[0].level, kKivLogWarning);
    EXPECT_EQ(loaded.log->lines[0].text,
              "RectifyView: memory for output matrix is allocated inside function. May be time consuming");
    loaded.reconstructor->RectifyView(src, stereo::kRightView, cv::INTER_CUBIC, dst);
    EXPECT_EQ(loaded.log->lines.size(), 1u);
}

TEST_F(HeightLookupTest, RightViewIsLaidOutInLeftColumns)
{
    // A right-view pixel x with disparity d writes left column x + d; a gap before a written column takes
    // its value, the columns after the last written one take the last value, and x + d past the width is
    // dropped.
    cv::Mat disp(108, 144, CV_16SC1, cv::Scalar(19)), height;
    disp(cv::Rect(120, 54, 24, 1)).setTo(25);  // 120 + 25 reaches past the width
    cv::Mat row_b = disp.row(60);
    row_b.colRange(0, 40).setTo(0);
    row_b.colRange(50, 144).setTo(30);  // 50.. -> 80.., from 114 on dropped
    loaded.reconstructor->CalculateHeightFromDisparity(disp, stereo::kRightView, height);

    const short head = height.at<short>(54, 19);
    EXPECT_NEAR(head, 180, 1);
    for (int x = 0; x < 19; ++x) EXPECT_EQ(height.at<short>(54, x), head) << x;
    for (int x = 139; x < 144; ++x) EXPECT_EQ(height.at<short>(54, x), height.at<short>(54, 138)) << x;
    EXPECT_NEAR(height.at<short>(54, 141), 180, 1);

    EXPECT_NEAR(height.at<short>(60, 59), 180, 1);
    EXPECT_EQ(height.at<short>(60, 45), height.at<short>(60, 59));
    EXPECT_NEAR(height.at<short>(60, 80), 209, 1);
    EXPECT_EQ(height.at<short>(60, 75), height.at<short>(60, 80));
    EXPECT_EQ(height.at<short>(60, 143), height.at<short>(60, 80));

    // Where a near point and a farther one land on one column, the left camera sees the near one:
    // columns 70 to 79 get the head (disparity 30, from 40..49) and keep it when the floor behind
    // (disparity 19, from 51..60) lands there too.
    cv::Mat_<short> row_c = disp.row(66);
    row_c.colRange(40, 50).setTo(30);
    loaded.reconstructor->CalculateHeightFromDisparity(disp, stereo::kRightView, height);
    for (int x = 70; x < 80; ++x) EXPECT_NEAR(height.at<short>(66, x), 209, 1) << x;
    EXPECT_NEAR(height.at<short>(66, 80), 180, 1);
}

TEST_F(HeightLookupTest, WorldPointsProjectBackToTheirPixels)
{
    stereo::Scene3DReconstructor& r = *loaded.reconstructor;
    for (const cv::Point p : {cv::Point(72, 54), cv::Point(60, 40), cv::Point(85, 66)}) {
        cv::Point3f world;
        r.FindWorld3DCoordinateOfImagePoint(p, 180, stereo::kLeftView, world);
        EXPECT_NEAR(world.z, 180.0f, 1.5f);
        cv::Point back;
        r.ProjectPointToImage(world, stereo::kLeftView, back);
        EXPECT_LE(std::abs(back.x - p.x) + std::abs(back.y - p.y), 1) << p;
    }
    cv::Point p;
    const std::string behind =
        KivMessageOf([&] { r.ProjectPointToImage(cv::Point3f(0, 0, 400), stereo::kLeftView, p); });
    EXPECT_NE(behind.find("m_im_point_proj[2] must be greater than zero.Probably bad calibration matrices"),
              std::string::npos)
        << behind;
    cv::Point3f world;
    EXPECT_THROW(r.FindWorld3DCoordinateOfImagePoint(cv::Point(144, 0), 100, stereo::kLeftView, world),
                 exc::KIVException);
}

TEST_F(HeightLookupTest, LookupsRefuseMapsOfAnotherSizeOrType)
{
    cv::Mat height;
    EXPECT_THROW(
        loaded.reconstructor->CalculateHeightFromDisparity(cv::Mat(108, 143, CV_16SC1), stereo::kLeftView, height),
        exc::KIVException);
    EXPECT_THROW(
        loaded.reconstructor->CalculateHeightFromDisparity(cv::Mat(108, 144, CV_32SC1), stereo::kLeftView, height),
        exc::KIVException);
    EXPECT_THROW(
        loaded.reconstructor->RectifyView(cv::Mat(100, 144, CV_8UC1), stereo::kLeftView, cv::INTER_CUBIC, height),
        exc::KIVException);
}

TEST(GetNearestPointInMaskTest, TakesTheFirstRingWithAMarkedPixel)
{
    struct Case {
        std::vector<cv::Point> marked;
        cv::Point from;
        cv::Point expected;
    };
    const Case cases[] = {
        {{{5, 5}}, {5, 5}, {5, 5}},          // on a marked pixel
        {{{7, 5}, {3, 5}}, {5, 5}, {3, 5}},  // left column before right column
        {{{6, 3}, {7, 5}}, {5, 5}, {7, 5}},  // ring 2: city-block 2 beats 3
        {{{4, 6}, {6, 4}}, {5, 5}, {4, 6}},  // equal distance: the first visited
        {{{5, 6}, {0, 0}}, {0, 0}, {0, 0}},  //
        {{{9, 9}}, {0, 0}, {9, 9}},          // far corner
        {{{8, 5}, {6, 7}}, {5, 5}, {6, 7}},  // ring 2 before ring 3, though |dx|+|dy| is larger
    };
    for (const Case& c : cases) {
        cv::Mat mask(10, 10, CV_8UC1, cv::Scalar(0));
        for (const cv::Point& m : c.marked) mask.at<uchar>(m) = 255;
        cv::Point nearest(-1, -1);
        stereo::GetNearestPointInMask(c.from, mask, nearest);
        EXPECT_EQ(nearest, c.expected) << c.from;
    }
    cv::Point nearest;
    EXPECT_THROW(stereo::GetNearestPointInMask(cv::Point(1, 1), cv::Mat(4, 4, CV_8UC1, cv::Scalar(0)), nearest),
                 std::invalid_argument);
    EXPECT_THROW(stereo::GetNearestPointInMask(cv::Point(1, 1), cv::Mat(4, 4, CV_16UC1, cv::Scalar(1)), nearest),
                 exc::KIVException);
    EXPECT_THROW(stereo::GetNearestPointInMask(cv::Point(4, 1), cv::Mat(4, 4, CV_8UC1, cv::Scalar(1)), nearest),
                 exc::KIVException);
}

TEST(VectorReprToCVMatTest, RefusesRaggedOrEmptyRows)
{
    const cv::Mat_<double> m = stereo::VectorReprToCVMat({{1, 2, 3}, {4, 5, 6}});
    EXPECT_EQ(m.rows, 2);
    EXPECT_EQ(m(1, 2), 6.0);
    EXPECT_THROW(stereo::VectorReprToCVMat({}), exc::KIVException);
    EXPECT_THROW(stereo::VectorReprToCVMat({{}}), exc::KIVException);
    EXPECT_THROW(stereo::VectorReprToCVMat({{1, 2}, {3}}), exc::KIVException);
}

}  // namespace
