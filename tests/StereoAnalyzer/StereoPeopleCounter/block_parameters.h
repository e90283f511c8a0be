#pragma once

#include <memory>
#include <string>

#include "CommonUtilities/DebugInterfaces/recording_log.h"
#include "CommonUtilities/ParameterAccess/load_parameters.h"
#include "CommonUtilities/ParameterAccess/temp_ini_dir.h"
#include "CommonUtilities/algorithm_support/block_traverse.h"

// Names the block and loads its parameters from an INI file written into a temporary directory
// (the block's own section is its name, a child's section "name--child").
inline void LoadBlockParameters(BlockEntities::IAlgoEntityBase& block, const std::string& name,
                                const std::string& ini_text)
{
    TempIniDir dir;
    const std::string path = dir.Write("algo.ini", ini_text);
    block.GetModifiableContext().SetName(name);
    BlockEntities::TraverseSetContexts(&block);
    ParamsLib::load_parameters(path.c_str(), 0, &block, std::make_shared<RecordingLog>());
}
