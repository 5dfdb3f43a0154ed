#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <string>

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

// The current time is the present instant at UTC+8: eight hours ahead of UTC once, not twice.
TEST(TimeText, NowIsThePresentInstant) {
    const std::time_t before = std::time(nullptr);
    const std::string now = currentISO8601TimeUTC();
    const std::time_t after = std::time(nullptr);
    EXPECT_TRUE(now == cryptutil::detail::Utc8TimeText(before) || now == cryptutil::detail::Utc8TimeText(after)) << now;
}

}  // namespace
