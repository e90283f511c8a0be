#include "CommonUtilities/algorithm_support/stats_readable_text.h"

#include <algorithm>
#include <cstdlib>
#include <iomanip>
#include <ios>
#include <sstream>
#include <unordered_map>
#include <utility>

#include "CommonUtilities/algorithm_support/profiling.h"
#include "CommonUtilities/algorithm_support/stats_utils.h"

namespace BlockEntities {
namespace Stats {

namespace {

using AlgoLibrary::StatUtils::AccumulatorsProcessorKernel;
using AlgoLibrary::StatUtils::StatResult;
using AlgoLibrary::StatUtils::StatResults;
using AlgoLibrary::StatUtils::SubjectOfInterest;

constexpr int kWindow = 25;

// The accumulators of one series plus a ring of its last samples for the 25/50/100 results.
template <typename T>
struct MeasureProcessorKernel {
    void Feed(T sample)
    {
        profile.NextValue(static_cast<double>(sample));
        accumulators.ProcessSample(sample);
    }

    void FillResults(StatResults<T>& out) const
    {
        out.AddPreciserThanInput("max25", profile.GetMax(25));
        out.AddPreciserThanInput("avg50", profile.GetAverage(50));
        out.AddPreciserThanInput("max50", profile.GetMax(50));
        out.AddPreciserThanInput("avg100", profile.GetAverage(100));
        out.AddPreciserThanInput("max100", profile.GetMax(100));
        accumulators.FillResults(out);
    }

    AlgoLibrary::Profiling::CProfileStatistic profile;  // keeps the last 500 samples
    AccumulatorsProcessorKernel<T, kWindow> accumulators;
    T last = T(0);  // the last raw (unscaled) input
};

class IReadableTextProcessor {
public:
    virtual std::string ToText() const = 0;
    virtual void Process(const Item& item) = 0;
    virtual ~IReadableTextProcessor() = default;
};

// One entry: the name right-aligned in 8, "=", then the value (whole in 7, or divided by its
// divisor with 2 decimals in 5), then "; ". Names absent from the results are skipped.
template <typename T>
void WriteResult(std::ostream& os, const StatResults<T>& results, const char* name, bool show_sign)
{
    const StatResult<T>* result = results.Find(name);
    if (!result)
        return;
    os << std::setw(8) << name << "=";
    if (show_sign)
        os << std::showpos;
    if (result->divisor == T(1))
        os << std::setw(7) << result->value;
    else
        os << std::fixed << std::setprecision(2) << std::setw(5)
           << static_cast<double>(result->value) / static_cast<double>(result->divisor);
    if (show_sign)
        os << std::noshowpos;
    os << "; ";
}

void WriteSectionHeader(std::ostream& os, const char* title)
{
    os << "\n" << std::setw(27) << title << ":" << std::internal;
}

template <typename T, int Shift>
class ReadableTextProcessor : public IReadableTextProcessor {
public:
    void SetSubject(SubjectOfInterest::Enum subject) { m_processor.SetSubject(subject); }

    std::string ToText() const override
    {
        std::ostringstream os;
        WriteRollingSection(os, SubjectOfInterest::Value, false);
        if (m_processor.GetSubject() & SubjectOfInterest::Increment) {
            WriteSectionHeader(os, "Increment");
            WriteRollingSection(os, SubjectOfInterest::Increment, true);
        }
        if (m_processor.GetSubject() & SubjectOfInterest::AbsIncrement) {
            WriteSectionHeader(os, "Abs(Increment)");
            WriteRollingSection(os, SubjectOfInterest::AbsIncrement, false);
        }
        return os.str();
    }

protected:
    AlgoLibrary::StatUtils::StatisticsProcessor<T, MeasureProcessorKernel<T>, Shift, kWindow> m_processor;

private:
    void WriteRollingSection(std::ostream& os, SubjectOfInterest::Enum subject, bool show_sign) const
    {
        static const char* const kOrder[] = {"totalmax", "totalmin", "max100",   "avgROLmax",
                                             "avgROL",   "avgROLmin", "totstddv", "last_exact"};
        os << "ROLling_size=" << kWindow << " ";
        StatResults<T> results;
        m_processor.FillResults(subject, results);
        for (const char* name : kOrder)
            WriteResult(os, results, name, show_sign);
    }
};

class IntMeasureProcessor : public ReadableTextProcessor<long long, 16> {
public:
    void Process(const Item& item) override { m_processor.ProcessNext(item.value.as_int); }
};

class DoubleMeasureProcessor : public ReadableTextProcessor<double, 1> {
public:
    void Process(const Item& item) override { m_processor.ProcessNext(item.value.as_double); }
};

// Scope timer durations in microseconds, rendered in milliseconds.
class TimeMeasureProcessor : public IReadableTextProcessor {
public:
    void Process(const Item& item) override
    {
        const long long elapsed = item.value.as_int;
        m_kernel.Feed(elapsed);
        m_kernel.last = elapsed;
    }

    std::string ToText() const override
    {
        static const char* const kOrder[] = {"avgROLmax", "avgROL", "avg100", "max100",
                                             "totstddv",  "totalsum", "last"};
        StatResults<long long> results;
        m_kernel.FillResults(results);
        std::ostringstream os;
        WriteResult(os, results, "totalcnt", false);
        for (const char* name : kOrder) {
            const StatResult<long long>* result = results.Find(name);
            if (!result)
                continue;
            os << std::setw(8) << name << "=" << std::fixed << std::setprecision(2) << std::setw(5)
               << static_cast<double>(result->value) / 1000.0 << "ms;";
        }
        os << std::setw(8) << "last_exact=" << std::setw(7) << m_kernel.last << "mcs; ";
        return os.str();
    }

private:
    MeasureProcessorKernel<long long> m_kernel;
};

std::shared_ptr<IReadableTextProcessor> MakeProcessor(const Item& item)
{
    switch (item.kind) {
        case kTimerElapsed:
            return std::make_shared<TimeMeasureProcessor>();
        case kInteger: {
            auto processor = std::make_shared<IntMeasureProcessor>();
            processor->SetSubject(item.subject_of_interest);
            return processor;
        }
        case kDouble: {
            auto processor = std::make_shared<DoubleMeasureProcessor>();
            processor->SetSubject(item.subject_of_interest);
            return processor;
        }
        default:
            return nullptr;
    }
}

// Where an item's statistic shows: plain values under the block itself, timers and increment
// series in a sub-context of the block.
Context MakeResultContext(const Context& block, const Item& item)
{
    Context result;
    if (item.kind == kTimerElapsed)
        result.names[0] = "scope timers";
    if (item.subject_of_interest & (SubjectOfInterest::Increment | SubjectOfInterest::AbsIncrement))
        result.names[0] = "incrementing stats";
    result.names.insert(result.names.end(), block.names.begin(), block.names.end());
    result.UpdateCachedNames();
    return result;
}

struct Key {
    std::string context;
    std::string name;
    int32_t kind;

    bool operator==(const Key& other) const
    {
        return kind == other.kind && context == other.context && name == other.name;
    }
};

struct KeyHash {
    size_t operator()(const Key& key) const
    {
        return std::hash<std::string>()(key.context) ^ std::hash<std::string>()(key.name) ^
               static_cast<size_t>(key.kind);
    }
};

struct Entry {
    std::shared_ptr<IReadableTextProcessor> processor;  // empty for kinds without statistics
    Context context;
};

constexpr size_t kInitialBuckets = 10;
constexpr int kLineNameWidth = 27;

}  // namespace

class ReadableText::Entries {
public:
    Entries() : map(kInitialBuckets) { map.max_load_factor(1.0f); }

    std::unordered_map<Key, Entry, KeyHash> map;
};

ReadableText::ReadableText() : m_entries(std::make_unique<Entries>()) {}

ReadableText::~ReadableText() = default;

void ReadableText::Store(const Context& context, std::vector<Item>::const_iterator begin,
                         std::vector<Item>::const_iterator end)
{
    for (auto item = begin; item != end; ++item) {
        Key key{context.cached, item->name ? item->name : "", item->kind};
        auto found = m_entries->map.find(key);
        if (found == m_entries->map.end()) {
            if (item->kind == kTimerStart)
                continue;
            Entry entry{MakeProcessor(*item), MakeResultContext(context, *item)};
            found = m_entries->map.emplace(std::move(key), std::move(entry)).first;
        }
        if (found->second.processor)
            found->second.processor->Process(*item);
    }
}

std::vector<ReadableStatResult> ReadableText::GetReadableStats() const
{
    std::vector<ReadableStatResult> results;
    for (const auto& [key, entry] : m_entries->map) {
        if (entry.processor)
            results.push_back(ReadableStatResult{entry.context, key.name, entry.processor->ToText()});
    }
    std::sort(results.begin(), results.end(), [](const ReadableStatResult& a, const ReadableStatResult& b) {
        if (a.context.cached != b.context.cached)
            return a.context.cached < b.context.cached;
        return a.name < b.name;
    });
    return results;
}

std::string ReadableText::GetReadableStatsAsMultilineString() const
{
    std::ostringstream os;
    const std::vector<ReadableStatResult> results = GetReadableStats();
    for (size_t i = 0; i < results.size(); ++i) {
        const std::string& group = results[i].context.cached;
        if (i == 0 || group != results[i - 1].context.cached)
            os << group << ":\n";
        os << "  " << std::left << std::setw(kLineNameWidth) << results[i].name << ":" << results[i].text << "\n";
    }
    return os.str();
}

void ReadableText::Clear()
{
    m_entries->map.clear();
}

}  // namespace Stats
}  // namespace BlockEntities
