#include "platform/dostime.h"

#include <gtest/gtest.h>

#include "testsupport.h"

namespace {

// Every case runs in UTC so that local time equals the epoch's own.
class DosTime : public ::testing::Test {
protected:
    DosTime() : tz_("TZ", "UTC0") { tzset(); }
    ~DosTime() override { tzset(); }
    testsupport::ScopedEnv tz_;
};

constexpr uint32_t dos(int y, int mo, int d, int h, int mi, int s) {
    return (uint32_t((y - 1980) * 512 + mo * 32 + d) << 16) | uint32_t(h * 2048 + mi * 32 + s / 2);
}

TEST_F(DosTime, FileTimesConvertWithinTheDosRange) {
    struct Case {
        const char* name;
        int64_t unixTime;
        bool ok;
        uint32_t expected;
    } cases[] = {
        {"first DOS second", 315532800, true, dos(1980, 1, 1, 0, 0, 0)},
        {"odd seconds drop to even", 946729559, true, dos(2000, 1, 1, 12, 25, 58)},
        {"leap day", 1709214358, true, dos(2024, 2, 29, 13, 45, 58)},
        {"last DOS year", 4354819198, true, dos(2107, 12, 31, 23, 59, 58)},
        {"before 1980", 315532799, false, 0},
        {"after 2107", 4354819200, false, 0},
    };
    for (const Case& c : cases) {
        uint32_t value = 0;
        EXPECT_EQ(platform::FileTimeToDosDateTime(c.unixTime, value), c.ok) << c.name;
        if (c.ok) {
            EXPECT_EQ(value, c.expected) << c.name;
        }
    }
}

TEST_F(DosTime, FileTimesOutsideTheDosRangeAreClampedToItsEnds) {
    struct Case {
        const char* name;
        int64_t unixTime;
        uint32_t expected;
    } cases[] = {
        {"the epoch", 0, dos(1980, 1, 1, 0, 0, 0)},
        {"a second before 1980", 315532799, dos(1980, 1, 1, 0, 0, 0)},
        {"before the epoch", -86400LL * 365 * 100, dos(1980, 1, 1, 0, 0, 0)},
        {"the first DOS second", 315532800, dos(1980, 1, 1, 0, 0, 0)},
        {"the last DOS second", 4354819199, dos(2107, 12, 31, 23, 59, 58)},
        {"2108", 4354819200, dos(2107, 12, 31, 23, 59, 58)},
        {"beyond any calendar", INT64_MAX, dos(2107, 12, 31, 23, 59, 58)},
        {"before any calendar", INT64_MIN, dos(1980, 1, 1, 0, 0, 0)},
    };
    for (const Case& c : cases) EXPECT_EQ(platform::DosDateTimeOfFile(c.unixTime), c.expected) << c.name;
    EXPECT_EQ(platform::kFirstDosDateTime, dos(1980, 1, 1, 0, 0, 0));
    EXPECT_EQ(platform::kLastDosDateTime, dos(2107, 12, 31, 23, 59, 58));
}

TEST_F(DosTime, MomentsOutside1980To2099GiveZero) {
    EXPECT_EQ(platform::DateTimeToDosDateTime(315532799), 0u);
    EXPECT_EQ(platform::DateTimeToDosDateTime(4102444800), 0u);  // 2100-01-01
    EXPECT_EQ(platform::DateTimeToDosDateTime(4102444799), dos(2099, 12, 31, 23, 59, 58));
}

TEST_F(DosTime, BrokenDownTimesKeepEveryFieldInItsRange) {
    struct Case {
        const char* name;
        int year, month, day, hour, minute, second;
        uint32_t expected;
    } cases[] = {
        {"odd second", 2016, 12, 31, 23, 59, 59, dos(2016, 12, 31, 23, 59, 58)},
        {"leap second", 2016, 12, 31, 23, 59, 60, dos(2016, 12, 31, 23, 59, 58)},
        {"last moment", 2107, 12, 31, 23, 59, 59, dos(2107, 12, 31, 23, 59, 58)},
    };
    for (const Case& c : cases) {
        std::tm local{};
        local.tm_year = c.year - 1900;
        local.tm_mon = c.month - 1;
        local.tm_mday = c.day;
        local.tm_hour = c.hour;
        local.tm_min = c.minute;
        local.tm_sec = c.second;
        uint32_t value = 0;
        ASSERT_TRUE(platform::DosDateTimeFromLocal(local, value)) << c.name;
        EXPECT_EQ(value, c.expected) << c.name;
    }
}

TEST_F(DosTime, LocalTimeIsUsed) {
    testsupport::ScopedEnv tz("TZ", "CET-1");
    tzset();
    uint32_t value = 0;
    ASSERT_TRUE(platform::FileTimeToDosDateTime(946684800, value));  // 2000-01-01 00:00 UTC
    EXPECT_EQ(value, dos(2000, 1, 1, 1, 0, 0));
}

// Fields given as stored: the two-second count rather than the seconds.
uint32_t packed(int year, int month, int day, int hour, int minute, int second2) {
    return uint32_t(year - 1980) << 25 | uint32_t(month) << 21 | uint32_t(day) << 16 | uint32_t(hour) << 11 |
           uint32_t(minute) << 5 | uint32_t(second2);
}

TEST(DosTimeRepair, GoodTimeStampRepairsEachFieldAlone) {
    struct Case {
        uint32_t given, repaired;
    } cases[] = {
        {packed(2024, 2, 29, 23, 59, 29), packed(2024, 2, 29, 23, 59, 29)},
        {0, packed(1980, 1, 1, 0, 0, 0)},
        {0xFFFFFFFF, packed(2099, 12, 31, 23, 59, 29)},
        {packed(2030, 13, 0, 24, 60, 30), packed(2030, 12, 1, 23, 59, 29)},
        {packed(2100, 6, 15, 12, 30, 10), packed(2099, 6, 15, 12, 30, 10)},
    };
    for (const Case& c : cases) EXPECT_EQ(GoodTimeStamp(c.given), c.repaired) << std::hex << c.given;
}

}  // namespace
