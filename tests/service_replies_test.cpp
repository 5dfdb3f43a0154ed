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

// Any instant, in any device time zone (whatever hours it adds or skips that day): the text is
// that of the instant eight hours on, by the C library's own calendar, wherever a time_t holds
// that: the last hours of every day from 1940 and random instants; and the last of a 32-bit time_t.
TEST(TimeText, AnyInstantIsEightHoursOn) {
    constexpr std::int64_t kFirst = -946771200, kLast = sizeof(std::time_t) < 8 ? INT32_MAX - 28800 : 11676096000;
    std::mt19937_64 random(7);
    std::vector<std::int64_t> instants = {-1};
    const auto below = [&](std::int64_t n) {
        return static_cast<std::int64_t>(random() % static_cast<std::uint64_t>(n));
    };
    for (std::int64_t day = kFirst + 86400; day <= kLast; day += 86400) instants.push_back(day - 1 - below(28800));
    for (int i = 0; i < 20000; ++i) instants.push_back(kFirst + below(kLast - kFirst));
    for (const char* zone : {"UTC", "America/New_York", "EST5EDT,M3.2.0,M11.1.0", "Asia/Kathmandu", "<+0545>-5:45",
                             "Australia/Lord_Howe", "Asia/Shanghai"}) {
        setenv("TZ", zone, 1);
        tzset();
        for (const std::int64_t instant : instants) {
            const auto shifted = static_cast<std::time_t>(instant + 28800);
            std::tm parts{};
            char expected[64];
            ASSERT_NE(gmtime_r(&shifted, &parts), nullptr);
            expected[std::strftime(expected, sizeof expected, "%FT%H:%M:%S+08:00", &parts)] = '\0';
            ASSERT_EQ(cryptutil::detail::Utc8TimeText(static_cast<std::time_t>(instant)), expected) << zone << instant;
        }
        EXPECT_EQ(cryptutil::detail::Utc8TimeText(2147454848), "2038-01-19T03:14:08+08:00") << zone;
        EXPECT_EQ(cryptutil::detail::Utc8TimeText(INT32_MAX), "2038-01-19T11:14:07+08:00") << zone;
    }
    unsetenv("TZ");
    tzset();
    if constexpr (sizeof(std::time_t) == 8) {  // years past 2^31 - 1, and the first instants gmtime reads
        EXPECT_EQ(cryptutil::detail::Utc8TimeText(67767976233504000), "2147483648-01-01T00:00:00+08:00");
        EXPECT_EQ(cryptutil::detail::Utc8TimeText(-67768040609769600), "-2147481748-01-01T00:00:00+08:00");
    }
}

}  // namespace
