#pragma once

#include <memory>
#include <sstream>
#include <string>

#include "CommonUtilities/DebugInterfaces/recording_log.h"
#include "CommonUtilities/ParameterAccess/load_parameters.h"
#include "CommonUtilities/ParameterAccess/temp_ini_dir.h"
#include "StereoAnalyzer/StereoPeopleCounter/scene_3d_reconstructor.h"

// A calibrated pair for the tests: two identical pinhole cameras without distortion, the right one
// shifted by the baseline along x, as written into the parameter file under "3DReconstructor".
struct TestCalibration {
    double fx = 400.0;
    double fy = 400.0;
    int initial_width = 320;
    int initial_height = 240;
    double baseline = 1520.0 / 180.0;  // f * B = 1520 at 144x108: disparity 19 is 80 cm from the camera
    double mount = 260.0;
    double obj_h_min = 150.0;
    double obj_h_max = 200.0;
    double tilt = 0.0;
    bool conditions = false;
    std::string extra;  // further lines of the section

    std::string Ini() const
    {
        std::ostringstream s;
        s.precision(17);
        const double cx = initial_width / 2.0;
        const double cy = initial_height / 2.0;
        const std::string camera =
            "[ [" + Num(fx) + ", 0., " + Num(cx) + "], [0., " + Num(fy) + ", " + Num(cy) + "], [0., 0., 1.] ]";
        const std::string no_distortion = "[ [0.], [0.], [0.], [0.], [0.], [0.], [0.], [0.] ]";
        s << "[3DReconstructor]\n"
          << "camera_matrix_l=" << camera << "\n"
          << "camera_matrix_r=" << camera << "\n"
          << "dist_coeff_l=" << no_distortion << "\n"
          << "dist_coeff_r=" << no_distortion << "\n"
          << "rotate_matrix_l_r=[ [1., 0., 0.], [0., 1., 0.], [0., 0., 1.] ]\n"
          << "base_vect=[ [" << Num(-baseline) << "], [0.], [0.] ]\n"
          << "initial_width=" << initial_width << "\n"
          << "initial_height=" << initial_height << "\n"
          << "cam_tilt_angle=" << Num(tilt) << "\n"
          << "h_camera_mount_param=" << Num(mount) << "\n"
          << "obj_h_min_param=" << Num(obj_h_min) << "\n"
          << "obj_h_max_param=" << Num(obj_h_max) << "\n"
          << "use_conditions_on_height=" << (conditions ? "true" : "false") << "\n"
          << extra;
        return s.str();
    }

    static std::string Num(double v)
    {
        std::ostringstream s;
        s.precision(10);
        s << std::fixed << v;
        return s.str();
    }
};

// A reconstructor named as the analyser names it, its parameters loaded from an INI file.
struct LoadedReconstructor {
    TempIniDir dir;
    std::shared_ptr<RecordingLog> log = std::make_shared<RecordingLog>();
    std::unique_ptr<stereo::Scene3DReconstructor> reconstructor = std::make_unique<stereo::Scene3DReconstructor>();

    explicit LoadedReconstructor(const std::string& ini_text)
    {
        reconstructor->GetModifiableContext().SetName("3DReconstructor");
        reconstructor->SetDebugInterfaces(BlockEntities::DebugInterfaces(log, nullptr, nullptr));
        const std::string path = dir.Write("algo.ini", ini_text);
        ParamsLib::load_parameters(path.c_str(), 0, reconstructor.get(), log);
    }

    bool Logged(const std::string& part) const
    {
        for (const RecordingLog::Line& line : log->lines)
            if (line.text.find(part) != std::string::npos)
                return true;
        return false;
    }
};
