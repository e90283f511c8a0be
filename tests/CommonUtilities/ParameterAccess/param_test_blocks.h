#pragma once

#include <memory>
#include <string>
#include <vector>

#include "CommonUtilities/DebugInterfaces/recording_log.h"
#include "CommonUtilities/algorithm_support/block_light.h"

// Blocks shared by the parameter loading and profile tests.
namespace param_test {

class TrackerBlock : public BlockHighlevel::LightBlock<BlockEntities::IAlgoEntityBase> {
public:
    ParamsLib::IntValueParam<> radius;
    ParamsLib::FltValueParam<> rate;
    ParamsLib::BlnValueParam<> enabled;

    void InitializeDefaultParameters() override
    {
        InitValueParameterStringDefault(radius, "", "", "radius", "search radius", "", "10");
        radius.SetLimits(1, 100);
        InitValueParameterStringDefault(rate, "", "", "rate", "rate < 1 & > 0", "", "0.5");
        InitValueParameterStringDefault(enabled, "", "", "enabled", "switch", "", "false");
    }
};

class CounterBlock : public BlockHighlevel::LightBlock<BlockEntities::IAlgoEntityBase> {
public:
    CounterBlock() : tracker("Tracker", GetChildrenRegistry()) {}

    BlockHighlevel::ChildBlock<TrackerBlock> tracker;
    ParamsLib::EnumValueParam<GaussBlurType> gauss;
    ParamsLib::StrValueParam<> label;

    void InitializeDefaultParameters() override
    {
        InitValueParameterDefault(gauss, "", "", "gauss_type", "Gauss type", "", kGaussBox2);
        InitValueParameterStringDefault(label, "", "Labels", "label", "a label", "", "none");
    }
};

class RootBlock : public BlockHighlevel::LightBlock<BlockEntities::IAlgoEntityBase> {
public:
    RootBlock() : counter("MonoPeopleCounter", GetChildrenRegistry()) {}

    BlockHighlevel::ChildBlockPtr<CounterBlock> counter;
    ParamsLib::NumericParameter<double> angle;
    ParamsLib::IntValueParam<> max_valid;

    void InitializeDefaultParameters() override
    {
        InitValueParameterStringDefault(angle, "", "", "angle", "tilt", "", "0");
        InitValueParameterStringDefault(max_valid, "", "", "max_valid", "limit", "", "25");
    }
};

// A root "" with the counter "MonoPeopleCounter" and its child "Tracker", named.
inline std::unique_ptr<RootBlock> MakeTree()
{
    auto root = std::make_unique<RootBlock>();
    root->counter.reset(std::make_unique<CounterBlock>().release());
    BlockEntities::TraverseSetContexts(root.get());
    return root;
}

}  // namespace param_test
