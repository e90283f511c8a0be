#include "application/console_log.h"

#include <gtest/gtest.h>

#include <iostream>
#include <sstream>
#include <string>
#include <vector>

namespace {

// Runs fn with the logging core writing into a string (through standard output) and returns the lines.
template <typename Fn>
std::vector<std::string> CaptureLog(const std::string& filter, Fn fn)
{
    std::stringstream captured;
    std::streambuf* original = std::cout.rdbuf(captured.rdbuf());
    {
        auto sink = Logger::Init();
        sink->SetFilters(filter);
        fn();
    }  // destroying the sink writes the queued records
    std::cout.rdbuf(original);
    std::vector<std::string> lines;
    for (std::string line; std::getline(captured, line);) lines.push_back(line);
    return lines;
}

TEST(ConsoleLogTest, MapsLevelsToSeveritiesOnTheSourceChannel)
{
    BlockEntities::Context context;
    context.SetName("Tracker");
    const auto lines = CaptureLog("*:trace", [&] {
        ConsoleLog log(Logger::GetLogSource("algo"));
        log.Write(kKivLogError, context, "broken");
        log.Write(kKivLogWarning, context, "odd");
        log.Write(kKivLogInfo, context, "fine");
        log.Write(kKivLogTrace, context, "detail");
    });
    EXPECT_EQ(lines, (std::vector<std::string>{"[algo, error] broken", "[algo, warning] odd", "[algo] fine",
                                               "[algo] detail"}));
}

TEST(ConsoleLogTest, UnknownLevelsAreTrace)
{
    BlockEntities::Context context;
    const auto lines = CaptureLog("*:debug", [&] {
        ConsoleLog log(Logger::GetLogSource("algo"));
        log.Write(kKivLogTrace, context, "level zero");
        log.Write(static_cast<KIVLogLevel>(7), context, "level seven");
        log.Write(kKivLogInfo, context, "level one");
    });
    EXPECT_EQ(lines, std::vector<std::string>{"[algo] level one"});
}

}  // namespace
