#include "CommonUtilities/ParameterAccess/load_parameters.h"

#include <stdexcept>

#include "CommonUtilities/ParameterAccess/ini_db_bridge.h"
#include "CommonUtilities/ParameterAccess/wide_text.h"
#include "CommonUtilities/algorithm_support/block_traverse.h"

std::string GetFullParameterName(const std::string& name, const BlockEntities::Context& context)
{
    if (context.cached.empty())
        return name;
    return context.cached + "_" + name;
}

namespace ParamsLib {

namespace {

namespace Log = BlockEntities::Log;

void WriteError(const std::shared_ptr<BlockEntities::Log::ILog>& log, const std::string& text)
{
    if (log)
        log->Write(kKivLogError, BlockEntities::Context(), text);
}

struct TransferReleaser {
    void operator()(Blocks::IParametersTransfer* transfer) const { transfer->Release(); }
};

}  // namespace

void ParametersSetterWithContext::operator()(IHasParameters* entity, const BlockEntities::Context& context) const
{
    const ParameterVisitor& fn = m_fn;
    entity->ForEachParameter([&fn, &context](BaseParameter& parameter) { fn(parameter, context); });
}

void TraverseParameters(BlockEntities::IAlgoEntityBase* root, ParameterVisitor fn)
{
    BlockEntities::Traverse<IHasParameters>(root, ParametersSetterWithContext(std::move(fn)));
}

void UseIParametersTransfer::operator()(BaseParameter& parameter, const BlockEntities::Context& context) const
{
    const std::string full_name = GetFullParameterName(parameter.GetName(), context);
    if (!m_transfer)
        throw std::logic_error("NULL i_parameters_transfer_ in UseIParametersTransfer");
    const std::wstring wide_name = Utf8ToWide(full_name);

    std::string text;
    if (m_transfer->GetParameterAsStringIfExists(wide_name.c_str(), text, Blocks::kLoadDefault)) {
        if (parameter.GetSemanticType() == "bool") {
            if (text == "1")
                text = "true";
            else if (text == "0")
                text = "false";
        }
        // The texts of the files reach the log quoted: the reader's message repeats the text.
        try {
            parameter.Deserialize(text);
        } catch (const std::exception& e) {
            throw std::runtime_error("Exception " + Log::LoggedValue(e.what(), 4 * Log::kLoggedValueLimit) + "\n" +
                                     "while deserialization parameter " + full_name + ".");
        }
        if (m_log && parameter.WasClampedToLimits()) {
            ParameterOptions options;
            parameter.FillParameterOptions(options);
            m_log->Write(kKivLogWarning, context,
                         "Parameter " + full_name + " = " + Log::LoggedValue(parameter.GetTextAsRead()) +
                             " lies outside its limits [" + options[ParameterOption::kMinimum] + ", " +
                             options[ParameterOption::kMaximum] +
                             "]: " + parameter.GetCurrentValueText("reporting its limits") + " is used");
        }
        return;
    }
    if (parameter.GetState() != ParameterState::kDeserialized)
        parameter.DeserializeFromDefault();
}

void LogRequiredParamsWithNoLoadedValue::operator()(BaseParameter& parameter,
                                                    const BlockEntities::Context& context) const
{
    ParameterOptions options;
    parameter.FillParameterOptions(options);
    if (options.count(ParameterOption::kValueRequired) && parameter.GetState() != ParameterState::kDeserialized &&
        m_log)
        m_log->Write(kKivLogError, context,
                     "Parameter " + GetFullParameterName(parameter.GetName(), context) +
                         " must not be default-initialized. Please set its value.");
}

void load_parameters(const char* iniFiles, long id, BlockEntities::IAlgoEntityBase* root,
                     std::shared_ptr<BlockEntities::Log::ILog> log)
{
    // Feeds the bridge's messages into the block log; lives on this stack, longer than the bridge's use.
    class LogSink : public IKIVLogSink {
    public:
        explicit LogSink(std::shared_ptr<BlockEntities::Log::ILog> target) : m_target(std::move(target)) {}
        ~LogSink() override = default;
        void OnMessage(KIVLogLevel level, const char* text, int) override
        {
            if (m_target)
                m_target->Write(level, BlockEntities::Context(), text ? std::string(text) : std::string());
        }
        long AddRef() override { return 1; }
        long Release() override { return 1; }

    private:
        std::shared_ptr<BlockEntities::Log::ILog> m_target;
    };

    LogSink sink(log);
    boost::intrusive_ptr<dbbridge_project::CIDBBridgeAuto> bridge;
    const int result = CreateIniDBBridge(iniFiles, true, static_cast<int>(id), &sink, bridge);
    if (result < 0 || !bridge) {
        const std::string message = "Failed to create CIniDBBridge. ErrCode=" + std::to_string(result) + " iniFile='" +
                                    Log::LoggedValue(iniFiles ? iniFiles : "") + "'; ID=" + std::to_string(id);
        WriteError(log, message);
        throw std::runtime_error(message);
    }
    load_parameters(std::move(bridge), id, root, log);
}

void load_parameters(boost::intrusive_ptr<dbbridge_project::CIDBBridgeAuto> bridge, long id,
                     BlockEntities::IAlgoEntityBase* root, std::shared_ptr<BlockEntities::Log::ILog> log)
{
    std::unique_ptr<Blocks::IParametersTransfer, TransferReleaser> transfer(
        CreateParameterTransferForKIV(std::move(bridge), id));
    if (!transfer) {
        const std::string message = "Failed to create ParameterTransfer. ID=" + std::to_string(id);
        WriteError(log, message);
        throw std::runtime_error(message);
    }
    TraverseParameters(root, UseIParametersTransfer(transfer.get(), log));
    if (log)
        TraverseParameters(root, LogRequiredParamsWithNoLoadedValue(log));
}

}  // namespace ParamsLib
