#include "application/runtime/util.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <string>

namespace {

// Sets the process's time zone for the length of a test and restores it after.
class TimeZone {
public:
    explicit TimeZone(const char* zone)
    {
        if (const char* old = std::getenv("TZ"))
            m_old = old;
        m_had_old = std::getenv("TZ") != nullptr;
        setenv("TZ", zone, 1);
        tzset();
    }
    ~TimeZone()
    {
        if (m_had_old)
            setenv("TZ", m_old.c_str(), 1);
        else
            unsetenv("TZ");
        tzset();
    }

private:
    std::string m_old;
    bool m_had_old = false;
};

TEST(UtilTest, LocalCalendarTimeIsRightAfter2038)
{
    struct Case {
        const char* zone;
        std::int64_t seconds;
        int year, month, day, hour, minute, second;
    };
    const Case cases[] = {
        {"UTC0", 0, 1970, 1, 1, 0, 0, 0},
        {"UTC0", 2147483647, 2038, 1, 19, 3, 14, 7},  // the last second a 32-bit time_t holds
        {"UTC0", 2147483648, 2038, 1, 19, 3, 14, 8},
        {"UTC0", 4107542400, 2100, 3, 1, 0, 0, 0},
        {"CET-1", 4107542400 - 3600 + 59, 2100, 3, 1, 0, 0, 59},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.seconds) + " in " + c.zone);
        TimeZone zone(c.zone);
        const std::tm local = util::LocalCalendarTime(c.seconds);
        EXPECT_EQ(local.tm_year + 1900, c.year);
        EXPECT_EQ(local.tm_mon + 1, c.month);
        EXPECT_EQ(local.tm_mday, c.day);
        EXPECT_EQ(local.tm_hour, c.hour);
        EXPECT_EQ(local.tm_min, c.minute);
        EXPECT_EQ(local.tm_sec, c.second);
    }
}

// The current local time is the system clock's, shifted by the zone's offset.
TEST(UtilTest, CurrentCalendarTimeIsTheSystemClockInTheLocalZone)
{
    const struct {
        const char* zone;
        std::int64_t offset;  // seconds east of UTC
    } zones[] = {{"UTC0", 0}, {"<+05>-5", 5 * 3600}, {"<-0330>3:30", -(3 * 3600 + 30 * 60)}};
    const auto system_seconds = [] {
        return std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch())
            .count();
    };
    for (const auto& z : zones) {
        TimeZone zone(z.zone);
        const std::int64_t before = system_seconds();
        std::tm local = util::localtime();
        const std::int64_t after = system_seconds();
        const std::int64_t shown = static_cast<std::int64_t>(timegm(&local)) - z.offset;
        EXPECT_GE(shown, before) << z.zone;
        EXPECT_LE(shown, after) << z.zone;
    }
}

}  // namespace
