#include "CommonUtilities/DebugInterfaces/debug_helper_base.h"

#include <chrono>
#include <vector>

#include "CommonUtilities/algorithm_support/type_id_as_string.h"

namespace BlockEntities {

namespace {

int64_t SteadyNanoseconds()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

}  // namespace

thread_local std::weak_ptr<DebugInterfaces> ThreadDefaultDebugInterfaces::thread_ptr;

DebugInterfaces ThreadDefaultDebugInterfaces::Get()
{
    if (auto interfaces = thread_ptr.lock())
        return *interfaces;
    return DebugInterfaces();
}

DefaultThreadDebugInterfacesSetter::DefaultThreadDebugInterfacesSetter(const std::weak_ptr<DebugInterfaces>& interfaces)
{
    ThreadDefaultDebugInterfaces::thread_ptr = interfaces;
}

struct DebugHelperBase::State {
    explicit State(const DebugInterfaces& debug_interfaces) : interfaces(debug_interfaces) {}

    DebugInterfaces interfaces;
    Context fallback_context;
    std::vector<Stats::Item> scratch;
};

namespace Log {

Accumulator::Accumulator(const DebugHelperBase* owner, KIVLogLevel level) : m_owner(owner), m_level(level) {}

Accumulator::Accumulator(Accumulator&& other) noexcept
    : m_stream(std::move(other.m_stream)), m_owner(other.m_owner), m_level(other.m_level)
{
    other.m_owner = nullptr;
}

Accumulator::~Accumulator()
{
    if (!m_owner)
        return;
    try {
        const std::string text = m_stream.str();
        if (!text.empty())
            m_owner->WriteLine(m_level, text);
    } catch (...) {
        // A log sink that fails cannot report its own failure; the line is lost.
    }
}

}  // namespace Log

namespace Stats {

ScopedTimeCalculator::State::State(const char* item_name, const DebugHelperBase* helper, int64_t start)
    : name(item_name), owner(helper), start_ns(start)
{
}

ScopedTimeCalculator::State::~State()
{
    Item::Value elapsed;
    elapsed.as_int = (SteadyNanoseconds() - start_ns) / 1000;
    try {
        owner->StoreItem(name, kTimerElapsed, AlgoLibrary::StatUtils::SubjectOfInterest::Value, elapsed);
    } catch (...) {
        // The storage failed while a scope was left; the timing is lost.
    }
}

ScopedTimeCalculator::ScopedTimeCalculator(const char* name, const DebugHelperBase* owner)
{
    const int64_t start = SteadyNanoseconds();
    Item::Value value;
    value.as_int = start / 1000;
    owner->StoreItem(name, kTimerStart, static_cast<AlgoLibrary::StatUtils::SubjectOfInterest::Enum>(0), value);
    m_state = std::make_shared<State>(name, owner, start);
}

}  // namespace Stats

DebugHelperBase::DebugHelperBase() : m_state(std::make_unique<State>(ThreadDefaultDebugInterfaces::Get())) {}

DebugHelperBase::~DebugHelperBase() = default;

std::shared_ptr<DebugDraw::IVisualizer> DebugHelperBase::ThisClassVisualizer()
{
    return nullptr;
}

const Context& DebugHelperBase::GetContextForDebugInterfaces() const
{
    Context& fallback = m_state->fallback_context;
    if (fallback.cached.empty()) {
        std::ostringstream name;
        name << "{" << TypeIdAsString::ForObj(*this) << " AT 0x" << std::hex << reinterpret_cast<std::uintptr_t>(this)
             << "}";
        fallback.SetName(name.str());
    }
    return fallback;
}

Log::Accumulator DebugHelperBase::Log(KIVLogLevel level) const
{
    return ::BlockEntities::Log::Accumulator(this, level);
}

void DebugHelperBase::WriteLine(KIVLogLevel level, const std::string& text) const
{
    const Context& context = GetContextForDebugInterfaces();
    if (m_state->interfaces.log)
        m_state->interfaces.log->Write(level, context, text);
}

void DebugHelperBase::StoreItem(const char* name, int32_t kind, AlgoLibrary::StatUtils::SubjectOfInterest::Enum subject,
                                Stats::Item::Value value) const
{
    const Context& context = GetContextForDebugInterfaces();
    const auto& storage = m_state->interfaces.stats;
    if (!storage)
        return;
    std::vector<Stats::Item>& scratch = m_state->scratch;
    scratch.push_back(Stats::Item{name, kind, subject, value});
    try {
        storage->Store(context, scratch.cbegin(), scratch.cend());
    } catch (...) {
        scratch.clear();
        throw;
    }
    scratch.clear();
}

void DebugHelperBase::StatValueInt(const char* name, long long value) const
{
    StatSpecialValueInt(name, value, AlgoLibrary::StatUtils::SubjectOfInterest::Value);
}

void DebugHelperBase::StatSpecialValueInt(const char* name, long long value,
                                          AlgoLibrary::StatUtils::SubjectOfInterest::Enum subject) const
{
    Stats::Item::Value item_value;
    item_value.as_int = value;
    StoreItem(name, Stats::kInteger, subject, item_value);
}

void DebugHelperBase::StatValueDouble(const char* name, double value) const
{
    StatSpecialValueDouble(name, value, AlgoLibrary::StatUtils::SubjectOfInterest::Value);
}

void DebugHelperBase::StatSpecialValueDouble(const char* name, double value,
                                             AlgoLibrary::StatUtils::SubjectOfInterest::Enum subject) const
{
    Stats::Item::Value item_value;
    item_value.as_double = value;
    StoreItem(name, Stats::kDouble, subject, item_value);
}

Stats::ScopedTimeCalculator DebugHelperBase::StatScopedTimeCalculator(const char* name) const
{
    return Stats::ScopedTimeCalculator(name, this);
}

void DebugHelperBase::SetDebugInterfacesImpl(const DebugInterfaces& interfaces)
{
    m_state = std::make_unique<State>(interfaces);
    if (!interfaces.visualizers)
        return;
    if (auto visualizer = ThisClassVisualizer())
        interfaces.visualizers->RegisterVisualizer(GetContextForDebugInterfaces(), std::move(visualizer));
}

DebugHelperBase::DebugInterfacesSetter DebugHelperBase::SetterOfDebugInterfacesIdenticalToMy()
{
    DebugInterfaces interfaces = m_state->interfaces;
    return [interfaces](IDebuggable* target, const Context&) { target->SetDebugInterfaces(interfaces); };
}

const DebugInterfaces& DebugHelperBase::GetDebugInterfaces() const
{
    return m_state->interfaces;
}

void ImplIDebuggable::SetDebugInterfaces(const DebugInterfaces& interfaces)
{
    SetDebugInterfacesImpl(interfaces);
}

}  // namespace BlockEntities
