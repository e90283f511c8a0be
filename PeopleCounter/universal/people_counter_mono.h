#pragma once

#include <memory>
#include <opencv2/core.hpp>
#include <string>
#include <vector>

#include "CommonUtilities/DebugInterfaces/block_log.h"
#include "CommonUtilities/algorithm_support/block_light.h"
#include "CommonUtilities/algorithm_support/mem_manager.h"
#include "PeopleCounter/analytics/traffic_controller/src/i_traffic_controller.h"
#include "PeopleCounter/universal/universal_people_counter.h"

// The counter of a single camera: hands each grey frame to the traffic controller (the only child
// of its block tree, "MonoPeopleCounter") and turns the controller's objects into alarms. It is
// also the source of the two motion measures. Runs on the algorithm thread only.
class PeopleCounterMono : public UniversalPeopleCounter {
public:
    PeopleCounterMono(const std::string& algo_config, std::shared_ptr<BlockEntities::Log::ILog> log, double tilt_angle);

    void InitImage(const kiv::VideoFormat& format) override;
    // The frame must be 8-bit grey of the size given to InitImage; the debug flag is not used.
    void ProcessImage(const cv::Mat& image, AlgoTimePoint time, bool debug) override;
    using IUniversalPeopleCounter::ProcessImage;
    // Always empty: the single-camera analyser draws no debug pictures.
    std::vector<cv::Mat> GetDebugImages() override;
    float GetChangedPixelsPercent() const override;
    float GetMaximalPathInObjectRadius() const override;

    const ITrafficController& GetController() const { return *m_controller; }

protected:
    ~PeopleCounterMono() override;

private:
    BlockHighlevel::ChildBlockPtr<ITrafficController> m_controller;
    AlgoLibrary::MemManager::MemoryManagerAllocate m_controller_memory;
    bool m_image_initialised = false;
    cv::Mat m_continuous;  // a frame copied when it is not continuous
    std::vector<PeopleCountingPODObjData> m_objects;
};
