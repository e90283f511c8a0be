#pragma once

namespace stereo {

// The scene geometry the analyser's stages read: centimetres and radians.
struct SceneParams {
    double h_camera_mount = 0.0;  // mount height of the camera
    double obj_h_min = 0.0;       // smallest object of interest
    double obj_h_max = 0.0;       // largest object of interest
    double rotation_angle = 0.0;  // the tilt with its sign reversed
    double angle_top = 0.0;       // half fields of view from the optical axis to the image edges
    double angle_bottom = 0.0;
    double angle_left = 0.0;
    double angle_right = 0.0;
    double focal_length = 0.0;  // of the rectified views, in pixels
    int max_disparity = 0;      // the largest disparity of a point 10 cm above obj_h_max, whole pixels
};

}  // namespace stereo
