#pragma once

#include <functional>
#include <string>
#include <vector>

#include "CommonUtilities/algorithm_support/block_entities.h"
#include "CommonUtilities/algorithm_support/mem_manager.h"
#include "PeopleCounter/universal/people_counting_pod_obj_data.h"
#include "PeopleCounter/universal/video_format.h"

// How a traffic controller is built.
struct TrafficControllerInitParams {
    // Called after the background subtraction with the number of changed pixels and their share in
    // percent, whenever the number differs from the previous frame's.
    using DifferenceCallback = std::function<void(long long changed_pixels, float changed_percent)>;

    std::string name;                                       // the block's name
    BlockEntities::ICanRegisterChildren* parent = nullptr;  // registers the controller as its child; may be null
    DifferenceCallback callback;                            // may be empty
    AlgoLibrary::MemManager::MemoryManager memory_manager;  // every buffer of the controller allocates from it
};

// The single-camera analyser: finds, tracks and counts the people walking under one overhead
// camera. InitImage once, then per frame ProcessImage and GetObjects.
class ITrafficController : public BlockEntities::IAlgoEntityBase {
public:
    // One frame in the format given to InitImage; time in 100-ns ticks since 1601-01-01.
    virtual void ProcessImage(const unsigned char* frame, long long time) = 0;
    // The objects of the last frame, in identifier order; list pointers stay valid until the next frame.
    virtual void GetObjects(std::vector<PeopleCountingPODObjData>& objects) = 0;
    virtual void InitImage(const kiv::VideoFormat& format) = 0;
    // Share of pixels that differ from the background in the last frame, in percent.
    virtual float GetChangedPixelsPercent() const = 0;
    // The longest recent track, in target radii.
    virtual float GetMaximalPathInObjectRadius() const = 0;

    // A new CTrafficController; the caller owns it.
    static ITrafficController* CreateNew(const TrafficControllerInitParams& params);
};
