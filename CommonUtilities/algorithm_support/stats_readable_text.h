#pragma once

#include <memory>
#include <string>
#include <vector>

#include "CommonUtilities/DebugInterfaces/stats_storage.h"
#include "CommonUtilities/algorithm_support/context.h"

namespace BlockEntities {
namespace Stats {

// One rendered statistic: where it shows, its name and its text.
struct ReadableStatResult {
    Context context;
    std::string name;
    std::string text;
};

// Keeps one running statistic per (block, measurement name, kind) and renders them as text.
// Used on the algorithm thread only.
class ReadableText : public IStorage {
public:
    ReadableText();
    ~ReadableText() override;
    ReadableText(const ReadableText&) = delete;
    ReadableText& operator=(const ReadableText&) = delete;

    void Store(const Context& context, std::vector<Item>::const_iterator begin,
               std::vector<Item>::const_iterator end) override;

    // Every statistic, sorted by the full name of its context, then by its name.
    std::vector<ReadableStatResult> GetReadableStats() const;
    // The whole report, grouped by context; empty when nothing was stored.
    std::string GetReadableStatsAsMultilineString() const;
    // Forgets every statistic; the next item of any name starts afresh.
    void Clear();

private:
    class Entries;
    std::unique_ptr<Entries> m_entries;
};

}  // namespace Stats
}  // namespace BlockEntities
