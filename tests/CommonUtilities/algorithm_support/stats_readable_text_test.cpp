#include "CommonUtilities/algorithm_support/stats_readable_text.h"

#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "CommonUtilities/DebugInterfaces/debug_helper_base.h"
#include "CommonUtilities/DebugInterfaces/debug_interfaces.h"

namespace {

using BlockEntities::Context;
using BlockEntities::Stats::Item;
using BlockEntities::Stats::ReadableText;
using AlgoLibrary::StatUtils::SubjectOfInterest;

Context BlockContext(std::vector<std::string> names)
{
    Context context;
    context.names = std::move(names);
    context.UpdateCachedNames();
    return context;
}

// Stores one item the way a block's statistics operations hand it over.
void StoreInt(ReadableText& storage, const Context& context, const char* name, long long value,
              SubjectOfInterest::Enum subject = SubjectOfInterest::Value)
{
    Item item{name, BlockEntities::Stats::kInteger, subject, {}};
    item.value.as_int = value;
    std::vector<Item> items{item};
    storage.Store(context, items.cbegin(), items.cend());
}

void StoreDouble(ReadableText& storage, const Context& context, const char* name, double value)
{
    Item item{name, BlockEntities::Stats::kDouble, SubjectOfInterest::Value, {}};
    item.value.as_double = value;
    std::vector<Item> items{item};
    storage.Store(context, items.cbegin(), items.cend());
}

void StoreTimer(ReadableText& storage, const Context& context, const char* name, long long start_us,
                long long elapsed_us)
{
    Item start{name, BlockEntities::Stats::kTimerStart, static_cast<SubjectOfInterest::Enum>(0), {}};
    start.value.as_int = start_us;
    Item elapsed{name, BlockEntities::Stats::kTimerElapsed, SubjectOfInterest::Value, {}};
    elapsed.value.as_int = elapsed_us;
    std::vector<Item> items{start};
    storage.Store(context, items.cbegin(), items.cend());
    items = {elapsed};
    storage.Store(context, items.cbegin(), items.cend());
}

const Context kTracker = BlockContext({"Tracker", "", "MonoPeopleCounter"});

TEST(ReadableTextTest, SingleIntegerValueGivesExactReport)
{
    ReadableText storage;
    StoreInt(storage, kTracker, "x", 5);
    EXPECT_EQ(storage.GetReadableStatsAsMultilineString(),
              "MonoPeopleCounter--Tracker:\n"
              "  x                          :ROLling_size=25 totalmax=      5; totalmin=      5;   max100= 0.00; "
              "avgROLmax= 5.00;   avgROL= 5.00; avgROLmin= 5.00; totstddv= 0.00; last_exact=      5; \n");
}

// A block reporting under a fixed name.
class ReportingBlock : public BlockEntities::DebugHelperBase {
public:
    explicit ReportingBlock(const Context& context) : m_context(context) {}
    const Context& GetContextForDebugInterfaces() const override { return m_context; }

private:
    Context m_context;
};

TEST(ReadableTextTest, BlockStatisticsReachTheReport)
{
    auto storage = std::make_shared<ReadableText>();
    ReportingBlock block(kTracker);
    block.SetDebugInterfacesImpl(BlockEntities::DebugInterfaces(nullptr, storage, nullptr));
    block.StatValueInt("x", 5);
    { auto timer = block.StatScopedTimeCalculator("frame"); }

    const auto stats = storage->GetReadableStats();
    ASSERT_EQ(stats.size(), 2u);
    EXPECT_EQ(stats[0].context.cached, "MonoPeopleCounter--Tracker");
    EXPECT_EQ(stats[0].text,
              "ROLling_size=25 totalmax=      5; totalmin=      5;   max100= 0.00; avgROLmax= 5.00;   avgROL= 5.00; "
              "avgROLmin= 5.00; totstddv= 0.00; last_exact=      5; ");
    EXPECT_EQ(stats[1].context.cached, "MonoPeopleCounter--Tracker--scope timers");
    EXPECT_EQ(stats[1].text.rfind("totalcnt=      1; ", 0), 0u) << stats[1].text;
}

TEST(ReadableTextTest, IncrementSeriesShowsSignedIncrementsInOwnContext)
{
    ReadableText storage;
    StoreInt(storage, kTracker, "id", 1, SubjectOfInterest::Increment);
    StoreInt(storage, kTracker, "id", 3, SubjectOfInterest::Increment);

    const auto stats = storage.GetReadableStats();
    ASSERT_EQ(stats.size(), 1u);
    EXPECT_EQ(stats[0].context.cached, "MonoPeopleCounter--Tracker--incrementing stats");
    EXPECT_EQ(stats[0].name, "id");
    EXPECT_EQ(stats[0].text,
              "ROLling_size=25 last_exact=      3; \n"
              "                  Increment:ROLling_size=25 totalmax=+     2; totalmin=+     2;   max100=+0.00; "
              "avgROLmax=+2.00;   avgROL=+2.00; avgROLmin=+2.00; totstddv=+0.00; last_exact=+     2; ");
}

TEST(ReadableTextTest, IncrementSectionIsEmptyAfterOneValue)
{
    ReadableText storage;
    StoreInt(storage, kTracker, "id", 7, SubjectOfInterest::Increment);
    const auto stats = storage.GetReadableStats();
    ASSERT_EQ(stats.size(), 1u);
    EXPECT_EQ(stats[0].text, "ROLling_size=25 last_exact=      7; \n                  Increment:ROLling_size=25 ");
}

TEST(ReadableTextTest, AbsoluteIncrementSectionFollowsIncrementSection)
{
    ReadableText storage;
    const auto both = static_cast<SubjectOfInterest::Enum>(SubjectOfInterest::Value | SubjectOfInterest::Increment |
                                                           SubjectOfInterest::AbsIncrement);
    StoreInt(storage, kTracker, "v", 10, both);
    StoreInt(storage, kTracker, "v", 4, both);
    const auto stats = storage.GetReadableStats();
    ASSERT_EQ(stats.size(), 1u);
    const std::string& text = stats[0].text;
    const auto increment = text.find("Increment:");
    const auto absolute = text.find("Abs(Increment):");
    ASSERT_NE(increment, std::string::npos);
    ASSERT_NE(absolute, std::string::npos);
    EXPECT_LT(increment, absolute);
    // The increment is -6, its absolute value 6; signs are forced only in the increment section.
    EXPECT_NE(text.find("totalmax=-     6", increment), std::string::npos);
    EXPECT_NE(text.find("totalmax=      6", absolute), std::string::npos);
    EXPECT_EQ(text.find("+", absolute), std::string::npos);
}

TEST(ReadableTextTest, RollingResultsCoverLast25Values)
{
    ReadableText storage;
    for (int v = 1; v <= 30; ++v)
        StoreInt(storage, kTracker, "n", v);
    const auto stats = storage.GetReadableStats();
    ASSERT_EQ(stats.size(), 1u);
    // Mean of 6..30 is 18; the rolling mean was 1 after the first value.
    EXPECT_EQ(stats[0].text,
              "ROLling_size=25 totalmax=     30; totalmin=      1;   max100= 0.00; avgROLmax=18.00;   avgROL=18.00; "
              "avgROLmin= 1.00; totstddv= 8.66; last_exact=     30; ");
}

TEST(ReadableTextTest, LargeIntegersKeepTheirDeviation)
{
    ReadableText storage;
    // Scaled squares of these values do not fit in 64 bits.
    for (int i = 0; i < 10; ++i)
        StoreInt(storage, kTracker, "pixels", i % 2 ? 76802 : 76800);
    for (int i = 0; i < 10; ++i)
        StoreInt(storage, kTracker, "constant", 3000000000LL);
    const auto stats = storage.GetReadableStats();
    ASSERT_EQ(stats.size(), 2u);
    EXPECT_EQ(stats[0].name, "constant");
    EXPECT_NE(stats[0].text.find("totstddv= 0.00;"), std::string::npos) << stats[0].text;
    EXPECT_EQ(stats[1].name, "pixels");
    EXPECT_NE(stats[1].text.find("totstddv= 1.00;"), std::string::npos) << stats[1].text;
}

TEST(ReadableTextTest, DoubleValuesRenderInDefaultThenFixedNotation)
{
    ReadableText storage;
    StoreDouble(storage, kTracker, "ratio", 2.5);
    const auto stats = storage.GetReadableStats();
    ASSERT_EQ(stats.size(), 1u);
    EXPECT_EQ(stats[0].text,
              "ROLling_size=25 totalmax=    2.5; totalmin=    2.5;   max100= 0.00; avgROLmax= 2.50;   avgROL= 2.50; "
              "avgROLmin= 2.50; totstddv= 0.00; last_exact=   2.50; ");
}

TEST(ReadableTextTest, ScopeTimersCountOnlyElapsedItems)
{
    ReadableText storage;
    StoreTimer(storage, kTracker, "frame", 100, 1500);
    StoreTimer(storage, kTracker, "frame", 200, 2500);
    const auto stats = storage.GetReadableStats();
    ASSERT_EQ(stats.size(), 1u);
    EXPECT_EQ(stats[0].context.cached, "MonoPeopleCounter--Tracker--scope timers");
    EXPECT_EQ(stats[0].text,
              "totalcnt=      2; avgROLmax= 2.00ms;  avgROL= 2.00ms;  avg100= 0.00ms;  max100= 0.00ms;"
              "totstddv= 0.50ms;totalsum= 4.00ms;    last= 2.50ms;last_exact=   2500mcs; ");
}

TEST(ReadableTextTest, ItemsWithoutStatisticsNeverShow)
{
    ReadableText storage;
    Item start{"t", BlockEntities::Stats::kTimerStart, static_cast<SubjectOfInterest::Enum>(0), {}};
    Item unknown{"u", 9, SubjectOfInterest::Value, {}};
    std::vector<Item> items{start, unknown, start};
    storage.Store(kTracker, items.cbegin(), items.cend());
    EXPECT_TRUE(storage.GetReadableStats().empty());
    EXPECT_EQ(storage.GetReadableStatsAsMultilineString(), "");
}

TEST(ReadableTextTest, KindIsPartOfTheKey)
{
    ReadableText storage;
    StoreInt(storage, kTracker, "x", 1);
    StoreDouble(storage, kTracker, "x", 1.0);
    EXPECT_EQ(storage.GetReadableStats().size(), 2u);
}

TEST(ReadableTextTest, FirstItemFixesTheSubject)
{
    ReadableText storage;
    StoreInt(storage, kTracker, "x", 1);
    StoreInt(storage, kTracker, "x", 5, SubjectOfInterest::Increment);
    const auto stats = storage.GetReadableStats();
    ASSERT_EQ(stats.size(), 1u);
    EXPECT_EQ(stats[0].context.cached, "MonoPeopleCounter--Tracker");
    EXPECT_EQ(stats[0].text.find("Increment"), std::string::npos);
    EXPECT_NE(stats[0].text.find("totalmax=      5;"), std::string::npos);
}

TEST(ReadableTextTest, ReportGroupsByContextInNameOrder)
{
    ReadableText storage;
    const Context b = BlockContext({"B"});
    const Context a = BlockContext({"A"});
    StoreInt(storage, b, "z", 1);
    StoreInt(storage, a, "y", 2);
    StoreInt(storage, b, "a_long_name_that_does_not_fit_in_the_column", 3);

    const std::string report = storage.GetReadableStatsAsMultilineString();
    const auto a_header = report.find("A:\n  y                          :ROLling_size=25 ");
    const auto b_header = report.find("\nB:\n  a_long_name_that_does_not_fit_in_the_column:ROLling_size=25 ");
    const auto z_line = report.find("\n  z                          :ROLling_size=25 ");
    ASSERT_EQ(a_header, 0u) << report;
    ASSERT_NE(b_header, std::string::npos) << report;
    ASSERT_NE(z_line, std::string::npos) << report;
    EXPECT_LT(b_header, z_line);
    EXPECT_EQ(report.find("B:", b_header + 2), std::string::npos);
    EXPECT_EQ(report.back(), '\n');
}

TEST(ReadableTextTest, ClearStartsAfresh)
{
    ReadableText storage;
    StoreInt(storage, kTracker, "x", 100);
    storage.Clear();
    EXPECT_EQ(storage.GetReadableStatsAsMultilineString(), "");
    StoreInt(storage, kTracker, "x", 5);
    EXPECT_NE(storage.GetReadableStatsAsMultilineString().find("totalmax=      5; totalmin=      5;"),
              std::string::npos);
}

}  // namespace
