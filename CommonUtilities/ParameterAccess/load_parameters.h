#pragma once

#include <boost/intrusive_ptr.hpp>
#include <functional>
#include <memory>
#include <string>

#include "CommonUtilities/DebugInterfaces/block_log.h"
#include "CommonUtilities/ParameterAccess/db_bridge.h"
#include "CommonUtilities/ParameterAccess/parameters.h"
#include "CommonUtilities/ParameterAccess/parameters_transfer.h"
#include "CommonUtilities/algorithm_support/block_entities.h"
#include "CommonUtilities/algorithm_support/context.h"

// A parameter's full name: the block's hierarchy name, "_" and the parameter's name (the name alone
// for an unnamed block).
std::string GetFullParameterName(const std::string& name, const BlockEntities::Context& context);

namespace ParamsLib {

using ParameterVisitor = std::function<void(BaseParameter&, const BlockEntities::Context&)>;

// Calls fn with every parameter of every block of the tree (blocks breadth-first from the root,
// parameters in declaration order) and the context of the block that owns it.
void TraverseParameters(BlockEntities::IAlgoEntityBase* root, ParameterVisitor fn);

// Hands each parameter of one block, with that block's context, to a visitor.
class ParametersSetterWithContext {
public:
    explicit ParametersSetterWithContext(ParameterVisitor fn) : m_fn(std::move(fn)) {}
    void operator()(IHasParameters* entity, const BlockEntities::Context& context) const;

private:
    ParameterVisitor m_fn;
};

// Loads each parameter from the parameter transfer, or from its default when the files lack it. A
// value that the parameter's limits change is reported to the log (when one is given) as a warning
// naming the parameter, the value read and the value used.
class UseIParametersTransfer {
public:
    explicit UseIParametersTransfer(Blocks::IParametersTransfer* transfer,
                                    std::shared_ptr<BlockEntities::Log::ILog> log = nullptr)
        : m_transfer(transfer), m_log(std::move(log))
    {
    }
    void operator()(BaseParameter& parameter, const BlockEntities::Context& context) const;

private:
    Blocks::IParametersTransfer* m_transfer;  // owned by the caller of the traversal
    std::shared_ptr<BlockEntities::Log::ILog> m_log;
};

// Reports parameters that the files must set and did not.
class LogRequiredParamsWithNoLoadedValue {
public:
    explicit LogRequiredParamsWithNoLoadedValue(std::shared_ptr<BlockEntities::Log::ILog> log) : m_log(std::move(log))
    {
    }
    void operator()(BaseParameter& parameter, const BlockEntities::Context& context) const;

private:
    std::shared_ptr<BlockEntities::Log::ILog> m_log;
};

// Fills every parameter of the tree from the "?"-separated INI file list. Throws std::runtime_error
// when the files cannot be used or a value does not parse (that parameter keeps its default).
void load_parameters(const char* iniFiles, long id, BlockEntities::IAlgoEntityBase* root,
                     std::shared_ptr<BlockEntities::Log::ILog> log);
void load_parameters(boost::intrusive_ptr<dbbridge_project::CIDBBridgeAuto> bridge, long id,
                     BlockEntities::IAlgoEntityBase* root, std::shared_ptr<BlockEntities::Log::ILog> log);

}  // namespace ParamsLib
