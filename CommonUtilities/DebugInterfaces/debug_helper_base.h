#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <sstream>
#include <string>

#include "CommonUtilities/DebugInterfaces/block_log.h"
#include "CommonUtilities/DebugInterfaces/debug_interfaces.h"
#include "CommonUtilities/DebugInterfaces/stats_storage.h"
#include "CommonUtilities/algorithm_support/context.h"

namespace BlockEntities {

class DebugHelperBase;

namespace Log {

// One log line of a block under construction; the line is written when the accumulator is
// destroyed (at the end of the full expression that streams into it).
class Accumulator {
public:
    Accumulator(const DebugHelperBase* owner, KIVLogLevel level);
    Accumulator(Accumulator&& other) noexcept;
    Accumulator(const Accumulator&) = delete;
    Accumulator& operator=(const Accumulator&) = delete;
    Accumulator& operator=(Accumulator&&) = delete;
    ~Accumulator();

    template <typename T>
    Accumulator& operator<<(const T& value)
    {
        m_stream << value;
        return *this;
    }
    Accumulator& operator<<(std::ostream& (*manipulator)(std::ostream&))
    {
        m_stream << manipulator;
        return *this;
    }

private:
    std::ostringstream m_stream;
    const DebugHelperBase* m_owner;  // the block that made the accumulator; null once moved from
    KIVLogLevel m_level;
};

}  // namespace Log

namespace Stats {

// Times a scope of a block: a timer-start item is stored when it is made, and the elapsed time in
// microseconds when the last copy of the handle goes.
class ScopedTimeCalculator {
public:
    ScopedTimeCalculator(const char* name, const DebugHelperBase* owner);

private:
    struct State {
        State(const char* item_name, const DebugHelperBase* helper, int64_t start);
        ~State();
        State(const State&) = delete;
        State& operator=(const State&) = delete;

        const char* name;
        const DebugHelperBase* owner;  // the block that made the timer; outlives it
        int64_t start_ns;
    };
    std::shared_ptr<State> m_state;
};

}  // namespace Stats

// The logging and statistics side of every block: writes through the tree's shared sinks.
class DebugHelperBase : public Log::LogLevelHolder {
public:
    using DebugInterfacesSetter = std::function<void(IDebuggable*, const Context&)>;

    virtual std::shared_ptr<DebugDraw::IVisualizer> ThisClassVisualizer();
    // The context to report under: here a fallback name made from the object's type and address.
    virtual const Context& GetContextForDebugInterfaces() const;

    ::BlockEntities::Log::Accumulator Log(KIVLogLevel level) const;
    void StatValueInt(const char* name, long long value) const;
    void StatSpecialValueInt(const char* name, long long value,
                             AlgoLibrary::StatUtils::SubjectOfInterest::Enum subject) const;
    void StatValueDouble(const char* name, double value) const;
    void StatSpecialValueDouble(const char* name, double value,
                                AlgoLibrary::StatUtils::SubjectOfInterest::Enum subject) const;
    Stats::ScopedTimeCalculator StatScopedTimeCalculator(const char* name) const;

    void SetDebugInterfacesImpl(const DebugInterfaces& interfaces);
    // A function that hands every visited block the sinks this block holds now.
    DebugInterfacesSetter SetterOfDebugInterfacesIdenticalToMy();
    const DebugInterfaces& GetDebugInterfaces() const;

protected:
    DebugHelperBase();
    virtual ~DebugHelperBase();
    DebugHelperBase(const DebugHelperBase&) = delete;
    DebugHelperBase& operator=(const DebugHelperBase&) = delete;

private:
    friend class ::BlockEntities::Log::Accumulator;
    friend class Stats::ScopedTimeCalculator;

    void WriteLine(KIVLogLevel level, const std::string& text) const;
    void StoreItem(const char* name, int32_t kind, AlgoLibrary::StatUtils::SubjectOfInterest::Enum subject,
                   Stats::Item::Value value) const;

    struct State;
    std::unique_ptr<State> m_state;
};

// The IDebuggable side of a block, implemented over its DebugHelperBase.
class ImplIDebuggable : public IDebuggable, protected DebugHelperBase {
public:
    void SetDebugInterfaces(const DebugInterfaces& interfaces) override;
};

}  // namespace BlockEntities
