#pragma once

#include <functional>
#include <memory>
#include <opencv2/core.hpp>
#include <string>
#include <vector>

#include "CommonUtilities/DebugInterfaces/block_log.h"
#include "CommonUtilities/algorithm_support/block_light.h"
#include "PeopleCounter/universal/universal_people_counter.h"
#include "StereoAnalyzer/StereoPeopleCounter/i_stereo_people_counter.h"

// The counter of a stereo camera: splits each side-by-side frame into its left and right views,
// hands them to the stereo analyser (the only child of its block tree, "StereoPeopleCounter") and
// turns the analyser's objects into alarms. Runs on the algorithm thread only.
class PeopleCounterStereo : public UniversalPeopleCounter {
public:
    // Makes the analyser; the counter owns what it returns.
    using AnalyserFactory = std::function<stereo::IStereoPeopleCounter*()>;

    // The 100-nanosecond ticks from 1601-01-01 to 1998-01-01.
    static constexpr long long kTicks1601To1998 = 125280864000000000LL;

    PeopleCounterStereo(const std::string& algo_config, std::shared_ptr<BlockEntities::Log::ILog> log,
                        double tilt_angle,
                        const AnalyserFactory& create_analyser = &stereo::IStereoPeopleCounter::CreateInstance);

    void ProcessImage(const cv::Mat& image, AlgoTimePoint time, bool debug) override;
    using IUniversalPeopleCounter::ProcessImage;
    // Deep copies of the analyser's first three debug pictures.
    std::vector<cv::Mat> GetDebugImages() override;

    // A frame time as 100-nanosecond ticks since 1601-01-01 00:00:00 UTC, the analysers' time unit.
    static long long TicksSince1601(AlgoTimePoint time);

protected:
    ~PeopleCounterStereo() override;

private:
    static constexpr std::size_t kMaxDebugImages = 3;

    BlockHighlevel::ChildBlockPtr<stereo::IStereoPeopleCounter> m_analyser;
};
