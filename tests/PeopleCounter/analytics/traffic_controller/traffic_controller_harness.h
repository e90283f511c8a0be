#pragma once

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "CommonUtilities/DebugInterfaces/recording_log.h"
#include "CommonUtilities/ParameterAccess/load_parameters.h"
#include "CommonUtilities/ParameterAccess/temp_ini_dir.h"
#include "CommonUtilities/algorithm_support/block_light.h"
#include "PeopleCounter/analytics/traffic_controller/src/traffic_controller.h"

// Statistics storage that keeps the names of the items in the order they came.
class RecordingStats : public BlockEntities::Stats::IStorage {
public:
    void Store(const BlockEntities::Context&, std::vector<BlockEntities::Stats::Item>::const_iterator begin,
               std::vector<BlockEntities::Stats::Item>::const_iterator end) override
    {
        for (auto item = begin; item != end; ++item) items.push_back(*item);
    }
    std::vector<BlockEntities::Stats::Item> items;
};

// A root block with one traffic controller "MonoPeopleCounter", its parameters loaded from an INI
// text (a [MonoPeopleCounter] section and others), logging and statistics recorded.
class ControllerHarness : public BlockHighlevel::LightBlock<BlockEntities::IAlgoEntityBase> {
public:
    explicit ControllerHarness(const std::string& ini_text,
                               TrafficControllerInitParams::DifferenceCallback callback = {})
        : log(std::make_shared<RecordingLog>()), stats(std::make_shared<RecordingStats>())
    {
        TrafficControllerInitParams params;
        params.name = "MonoPeopleCounter";
        params.callback = std::move(callback);
        params.parent = GetChildrenRegistry();
        controller.reset(static_cast<CTrafficController*>(ITrafficController::CreateNew(params)));
        BlockEntities::TraverseSetContexts(this);
        SetDebugInterfacesImpl(BlockEntities::DebugInterfaces(log, stats, nullptr));
        BlockEntities::Traverse<BlockEntities::IDebuggable>(this, SetterOfDebugInterfacesIdenticalToMy());
        const std::string path = m_dir.Write("algo.ini", ini_text);
        ParamsLib::load_parameters(path.c_str(), 0, this, log);
    }

    CTrafficController& operator*() const { return *controller; }
    CTrafficController* operator->() const { return controller.get(); }

    bool Logged(const std::string& text) const
    {
        for (const auto& line : log->lines)
            if (line.text.find(text) != std::string::npos)
                return true;
        return false;
    }

    std::shared_ptr<RecordingLog> log;
    std::shared_ptr<RecordingStats> stats;
    std::unique_ptr<CTrafficController> controller;

private:
    TempIniDir m_dir;
};

inline kiv::VideoFormat GreyFormat(int w, int h)
{
    return {w, h, 1, w, 0, 1};
}
