// The error documents' exact text for any code and message is a property of
// fuzz/create_error_fuzz.cpp, which ctest replays.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <random>
#include <string>
#include <vector>

#include "service_replies.h"

namespace {

// Fixed instants give the same text in every device time zone (whatever hours it adds or skips
// that day), through the end of a 32-bit time_t.
TEST(TimeText, FixedInstantsInManyZones) {
    const std::pair<std::time_t, const char*> cases[] = {
        {1796448284, "2026-12-05T13:24:44+08:00"},
        {1772951400, "2026-03-08T14:30:00+08:00"},  // US daylight saving starts within the 8 hours
        {-1, "1970-01-01T07:59:59+08:00"},
        {2147454848, "2038-01-19T03:14:08+08:00"},  // within 8 hours of a 32-bit time_t's end
        {2147483647, "2038-01-19T11:14:07+08:00"},
    };
    for (const char* zone : {"UTC", "America/New_York", "EST5EDT,M3.2.0,M11.1.0", "Asia/Kathmandu", "<+0545>-5:45",
                             "Australia/Lord_Howe", "Asia/Shanghai"}) {
        setenv("TZ", zone, 1);
        tzset();
        for (const auto& [instant, text] : cases) EXPECT_EQ(cryptutil::detail::Utc8TimeText(instant), text) << zone;
    }
    unsetenv("TZ");
    tzset();
}

// Any instant: the text is that of the instant eight hours on, by the C library's own calendar,
// wherever a time_t holds that: the last hours of every day from 1940, and random instants.
TEST(TimeText, AnyInstantIsEightHoursOn) {
    constexpr std::int64_t kFirst = -946771200, kLast = sizeof(std::time_t) < 8 ? INT32_MAX - 28800 : 11676096000;
    std::mt19937_64 random(7);
    std::vector<std::int64_t> instants;
    const auto below = [&](std::int64_t n) {
        return static_cast<std::int64_t>(random() % static_cast<std::uint64_t>(n));
    };
    for (std::int64_t day = kFirst + 86400; day <= kLast; day += 86400) instants.push_back(day - 1 - below(28800));
    for (int i = 0; i < 100000; ++i) instants.push_back(kFirst + below(kLast - kFirst));
    for (const std::int64_t instant : instants) {
        const auto shifted = static_cast<std::time_t>(instant + 28800);
        std::tm parts{};
        char expected[64];
        ASSERT_NE(gmtime_r(&shifted, &parts), nullptr);
        expected[std::strftime(expected, sizeof expected, "%FT%H:%M:%S+08:00", &parts)] = '\0';
        ASSERT_EQ(cryptutil::detail::Utc8TimeText(static_cast<std::time_t>(instant)), expected) << instant;
    }
    if constexpr (sizeof(std::time_t) == 8) {  // years past 2^31 - 1, and the first instants gmtime reads
        EXPECT_EQ(cryptutil::detail::Utc8TimeText(67767976233504000), "2147483648-01-01T00:00:00+08:00");
        EXPECT_EQ(cryptutil::detail::Utc8TimeText(-67768040609769600), "-2147481748-01-01T00:00:00+08:00");
    }
}

}  // namespace
