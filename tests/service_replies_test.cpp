#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <random>
#include <string>
#include <vector>

#include "cryptutil/util.h"
#include "service_replies.h"

namespace {

TEST(ErrorDocument, ExactTextAndValue) {
    const std::string cases[][3] = {
        {"", "", R"({"msg":{"body":"","code":""},"status_code":"ng"})"},
        {"404", "say \"hi\"\n", R"({"msg":{"body":"say \"hi\"\n","code":"404"},"status_code":"ng"})"},
        {"c", "caf\xC3\xA9", "{\"msg\":{\"body\":\"caf\xC3\xA9\",\"code\":\"c\"},\"status_code\":\"ng\"}"},
        {"c", std::string("\\\t\x01\0", 4), R"({"msg":{"body":"\\\t\u0001\u0000","code":"c"},"status_code":"ng"})"},
    };
    for (const auto& [code, msg, text] : cases) {
        std::string out = "previous content";
        create_error(code, msg, out);
        EXPECT_EQ(out, text);
        for (nlohmann::json j : {nlohmann::json(3.5), nlohmann::json::array({1}), nlohmann::json{{"extra", true}}}) {
            create_error_response(code, msg, j);
            EXPECT_EQ(j.dump(), text);
        }
    }
}

TEST(ErrorDocument, InvalidUtf8) {
    const std::pair<std::string, const char*> cases[] = {{"ok\xFF", "invalid UTF-8 byte at index 2: 0xFF"},
                                                         {"ok\xC3", "incomplete UTF-8 string; last byte: 0xC3"}};
    for (const auto& [msg, what] : cases) {
        std::string out = "kept";
        try {
            create_error("E", msg, out);
            ADD_FAILURE() << "no exception";
        } catch (const nlohmann::json::type_error& e) {
            EXPECT_EQ(e.id, 316);
            EXPECT_NE(std::string(e.what()).find(what), std::string::npos) << e.what();
        }
        EXPECT_EQ(out, "kept");
        nlohmann::json j;
        create_error_response("E", msg, j);  // no serialisation, so no error yet
        EXPECT_EQ(j["msg"]["body"], msg);
    }
}

// Fixed instants give the same text in every device time zone.
TEST(TimeText, FixedInstantsInManyZones) {
    const std::pair<std::time_t, const char*> cases[] = {
        {1796448284, "2026-12-05T13:24:44+08:00"},
        {1796443199, "2026-12-05T11:59:59+08:00"},
        {1796443200, "2026-12-05T12:00:00+08:00"},
        {1796400000, "2026-12-05T00:00:00+08:00"},
        {1796401800, "2026-12-05T00:30:00+08:00"},
        {1796490000, "2026-12-06T01:00:00+08:00"},
        {1798732800, "2027-01-01T00:00:00+08:00"},
        {1835366400, "2028-02-29T00:00:00+08:00"},
        {1709222399, "2024-02-29T23:59:59+08:00"},
        {1772951400, "2026-03-08T14:30:00+08:00"},  // US daylight saving starts within the 8 hours
        {1709222400, "2024-03-01T00:00:00+08:00"},
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
