#include "application/runtime/logger.h"

#include <sstream>
#include <string>

#include <gtest/gtest.h>

namespace {

// Logs one record of each listed channel/severity through a sink over a string and returns the text.
class LoggerTest : public ::testing::Test {
protected:
    std::string Run(const std::string& filter, const std::function<void()>& body)
    {
        std::stringstream out;
        {
            auto sink = Logger::Init(out);
            sink->SetFilters(filter);
            body();
        }  // destroying the sink writes every queued record
        return out.str();
    }
};

TEST_F(LoggerTest, FormatsChannelAndSeverityFromWarningUp)
{
    const std::string text = Run("", [] {
        auto algo = Logger::GetLogSource("algo");
        LOG(algo, info) << "started";
        LOG(algo, warning) << "slow";
        LOG(algo, fatal) << "broken";
    });
    EXPECT_EQ(text, "[algo] started\n[algo, warning] slow\n[algo, fatal] broken\n");
}

TEST_F(LoggerTest, EmptySpecificationLetsEverythingThrough)
{
    const std::string text = Run("", [] {
        auto main = Logger::GetLogSource("main");
        LOG(main, trace) << "t";
    });
    EXPECT_EQ(text, "[main] t\n");
}

TEST_F(LoggerTest, ChannelEntryOnlyAddsToGlobalMinimum)
{
    const std::string text = Run("*:info;capture:error", [] {
        auto capture = Logger::GetLogSource("capture");
        LOG(capture, debug) << "hidden";
        LOG(capture, info) << "shown by the global rule";
    });
    EXPECT_EQ(text, "[capture] shown by the global rule\n");
}

TEST_F(LoggerTest, ChannelEntryLetsMoreOfItsChannelThrough)
{
    const std::string text = Run("*:warning;main:info;capture:trace", [] {
        auto main = Logger::GetLogSource("main");
        auto capture = Logger::GetLogSource("capture");
        auto other = Logger::GetLogSource("other");
        LOG(main, debug) << "m-debug";
        LOG(main, info) << "m-info";
        LOG(capture, trace) << "c-trace";
        LOG(other, info) << "o-info";
        LOG(other, warning) << "o-warning";
    });
    EXPECT_EQ(text, "[main] m-info\n[capture] c-trace\n[other, warning] o-warning\n");
}

TEST_F(LoggerTest, ItemsAreTrimmedAndMalformedItemsIgnored)
{
    const std::string text = Run("*:error; main : info ;x:info:extra;y;z::info", [] {
        for (const char* channel : {"main", "x", "y", "z"}) {
            auto source = Logger::GetLogSource(channel);
            LOG(source, info) << channel;
        }
    });
    EXPECT_EQ(text, "[main] main\n[z] z\n");
}

TEST_F(LoggerTest, SeverityNamesAreCaseSensitive)
{
    const std::string text = Run("*:Warning", [] {
        auto source = Logger::GetLogSource("a");
        LOG(source, trace) << "kept";
    });
    EXPECT_EQ(text, "[a] kept\n");
}

TEST_F(LoggerTest, GlobalMinimumTakesEffectWhenFilterIsNextInstalled)
{
    std::stringstream out;
    {
        auto sink = Logger::Init(out);
        auto source = Logger::GetLogSource("a");
        sink->SetGlobalMinimalSeverity(boost::log::trivial::error);
        LOG(source, info) << "before";
        sink->SetChannelFilter("b", boost::log::trivial::info);
        LOG(source, info) << "after";
        auto b = Logger::GetLogSource("b");
        LOG(b, info) << "b";
    }
    EXPECT_EQ(out.str(), "[a] before\n[b] b\n");
}

}  // namespace
