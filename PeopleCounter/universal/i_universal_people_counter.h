#pragma once

#include <memory>
#include <opencv2/core.hpp>
#include <string>
#include <vector>

#include "CommonUtilities/DebugInterfaces/block_log.h"
#include "CommonUtilities/algorithm_support/mem_manager.h"
#include "PeopleCounter/universal/alarm.h"
#include "PeopleCounter/universal/video_format.h"

// Which analyser a counter runs.
enum CounterAlgorithm {
    kCounterMono = 0,    // single camera
    kCounterStereo = 1,  // stereo pair side by side in one frame
};

// Alarms handed over by a counter; the storage comes from the algorithms' pool memory manager.
using AlarmVector =
    std::vector<Alarm, AlgoLibrary::MemManager::Allocator<Alarm, AlgoLibrary::MemManager::TMemoryManager<false>>>;

// A people counter as the algorithm thread drives it: the image format once, then per frame
// ProcessImage, optionally GetDebugImages, GetAlarms and (single camera) the motion measures;
// finally Release, the owner's only way to free it.
class IUniversalPeopleCounter {
public:
    virtual void InitImage(const kiv::VideoFormat& format) = 0;
    void ProcessImage(const cv::Mat& image, AlgoTimePoint time) { ProcessImage(image, time, false); }
    // Hands over the alarms gathered since the previous call; `out` is emptied first.
    virtual void GetAlarms(AlarmVector& out) = 0;
    virtual void Release() = 0;
    virtual void ProcessImage(const cv::Mat& image, AlgoTimePoint time, bool debug) = 0;
    virtual std::vector<cv::Mat> GetDebugImages() = 0;
    // Share of changed pixels of the last frame, in percent (single camera).
    virtual float GetChangedPixelsPercent() const = 0;
    // Longest recent track measured in object radii (single camera).
    virtual float GetMaximalPathInObjectRadius() const = 0;

    // Builds the counter of the given kind. Construction failures give null; their text, except
    // for an exhausted heap, is written to `log` as an error when there is one.
    template <CounterAlgorithm A>
    static IUniversalPeopleCounter* CreateInstance(const std::string& algo_config,
                                                   std::shared_ptr<BlockEntities::Log::ILog> log, double tilt_angle);

protected:
    virtual ~IUniversalPeopleCounter() = default;
};

template <>
IUniversalPeopleCounter* IUniversalPeopleCounter::CreateInstance<kCounterMono>(
    const std::string& algo_config, std::shared_ptr<BlockEntities::Log::ILog> log, double tilt_angle);
template <>
IUniversalPeopleCounter* IUniversalPeopleCounter::CreateInstance<kCounterStereo>(
    const std::string& algo_config, std::shared_ptr<BlockEntities::Log::ILog> log, double tilt_angle);

namespace AlgoLibrary {

// Deleter for objects that free themselves through Release().
struct ReleaseDeleter {
    template <typename T>
    void operator()(T* object) const
    {
        if (object)
            object->Release();
    }
};

}  // namespace AlgoLibrary
