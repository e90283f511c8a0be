#pragma once

#include <opencv2/core.hpp>
#include <string>
#include <vector>

#include "CommonUtilities/algorithm_support/block_entities.h"
#include "StereoAnalyzer/StereoPeopleCounter/stereo_counting_obj_data.h"

namespace stereo {

// The stereo analyser as the universal counter drives it: created, given the tilt, its
// parameters loaded into its block tree, then fed one stereo pair per frame and asked for the
// objects tracked in it.
class IStereoPeopleCounter : public BlockEntities::IAlgoEntityBase {
public:
    ~IStereoPeopleCounter() override = default;

    // Reads the loaded parameters; called once after they are loaded.
    virtual void InitFromParams() = 0;
    // Radians; replaces the tilt parameter at the next scene initialisation.
    virtual void SetTiltAngle(double tilt_angle) = 0;
    virtual void ReinitCountingLines() = 0;
    // `time` is in 100-nanosecond ticks since 1601-01-01.
    virtual void ProcessStereoPair(const cv::Mat& left, const cv::Mat& right, bool debug, long long time) = 0;
    // The names of the debug pictures; the list belongs to the analyser.
    virtual const std::vector<std::string>& GetDebugBitmapList() = 0;
    // Null when there is no picture of that name.
    virtual cv::Mat* GetDebugBitmap(const std::string& name) = 0;
    virtual void GetObjects(std::vector<StereoCountingObjData>& objects) const = 0;
    virtual void GetDisparityMapLeft(cv::Mat& map) = 0;
    virtual void GetDisparityMapRight(cv::Mat& map) = 0;
    virtual void GetHeightMapLeft(cv::Mat& map) = 0;
    virtual void GetHeightMapRight(cv::Mat& map) = 0;
    virtual void GetDepthMapLeft(cv::Mat& map) = 0;
    virtual void GetDepthMapRight(cv::Mat& map) = 0;
    // The current object id, then increments it: 1, 2, ...
    virtual int GenerateNextObjectID() = 0;

    // A new analyser, owned by the caller and deleted through this interface.
    static IStereoPeopleCounter* CreateInstance();
};

}  // namespace stereo
