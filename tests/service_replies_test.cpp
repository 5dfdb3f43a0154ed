#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <string>

#include "cryptutil/util.h"
#include "service_replies.h"

namespace {

TEST(ErrorDocument, ExactText) {
    const struct {
        std::string code, msg, text;
    } cases[] = {
        {"", "", R"({"msg":{"body":"","code":""},"status_code":"ng"})"},
        {"E1", "hello", R"({"msg":{"body":"hello","code":"E1"},"status_code":"ng"})"},
        {"404", "say \"hi\"\n", R"({"msg":{"body":"say \"hi\"\n","code":"404"},"status_code":"ng"})"},
        {"c", "caf\xC3\xA9 \xE2\x82\xAC",
         "{\"msg\":{\"body\":\"caf\xC3\xA9 \xE2\x82\xAC\",\"code\":\"c\"},\"status_code\":\"ng\"}"},
        {"c", std::string("\\\t\x01\0", 4), R"({"msg":{"body":"\\\t\u0001\u0000","code":"c"},"status_code":"ng"})"},
    };
    for (const auto& c : cases) {
        std::string out = "previous content";
        create_error(c.code, c.msg, out);
        EXPECT_EQ(out, c.text);
        nlohmann::json j = nlohmann::json::array({1, 2});
        create_error_response(c.code, c.msg, j);
        EXPECT_EQ(j.dump(), c.text);
    }
}

TEST(ErrorDocument, InvalidUtf8) {
    const struct {
        std::string msg;
        std::string what;
    } cases[] = {
        {"ok\xFF", "invalid UTF-8 byte at index 2: 0xFF"},
        {"ok\xC3", "incomplete UTF-8 string; last byte: 0xC3"},
    };
    for (const auto& c : cases) {
        std::string out = "kept";
        try {
            create_error("E", c.msg, out);
            ADD_FAILURE() << "no exception";
        } catch (const nlohmann::json::type_error& e) {
            EXPECT_EQ(e.id, 316);
            EXPECT_NE(std::string(e.what()).find(c.what), std::string::npos) << e.what();
        }
        EXPECT_EQ(out, "kept");
        nlohmann::json j = 42;
        create_error_response("E", c.msg, j);  // no serialisation, so no error yet
        EXPECT_EQ(j["msg"]["body"], c.msg);
    }
}

TEST(ErrorDocument, ResponseReplacesAnyValue) {
    for (nlohmann::json j : {nlohmann::json(3.5), nlohmann::json::array({1}), nlohmann::json{{"extra", true}}}) {
        create_error_response("7", "m", j);
        EXPECT_EQ(j, nlohmann::json::parse(R"({"msg":{"body":"m","code":"7"},"status_code":"ng"})"));
    }
}

class TimeText : public ::testing::TestWithParam<const char*> {
protected:
    void SetUp() override {
        if (const char* tz = std::getenv("TZ")) saved_ = tz;
        setenv("TZ", GetParam(), 1);
        tzset();
    }
    void TearDown() override {
        if (saved_.empty()) {
            unsetenv("TZ");
        } else {
            setenv("TZ", saved_.c_str(), 1);
        }
        tzset();
    }
    std::string saved_;
};

TEST_P(TimeText, FixedInstantsAreTheSameInEveryZone) {
    const struct {
        std::time_t instant;
        const char* text;
    } cases[] = {
        {1796448284, "2026-12-05T13:24:44+08:00"},  // 05:24:44 UTC: afternoon at UTC+8
        {1796443199, "2026-12-05T11:59:59+08:00"},
        {1796443200, "2026-12-05T12:00:00+08:00"},
        {1796400000, "2026-12-05T00:00:00+08:00"},  // midnight, not noon
        {1796401800, "2026-12-05T00:30:00+08:00"},
        {1796490000, "2026-12-06T01:00:00+08:00"},
        {1798732800, "2027-01-01T00:00:00+08:00"},
        {1835366400, "2028-02-29T00:00:00+08:00"},
        {1709222399, "2024-02-29T23:59:59+08:00"},
        {1772951400, "2026-03-08T14:30:00+08:00"},  // US daylight saving starts within the 8 hours
    };
    for (const auto& c : cases) EXPECT_EQ(cryptutil::detail::Utc8TimeText(c.instant), c.text) << c.instant;
}

TEST_P(TimeText, CurrentTimeIsTheClockAtUtcPlus8) {
    const std::time_t before = std::time(nullptr);
    const std::string now = currentISO8601TimeUTC();
    const std::time_t after = std::time(nullptr);
    EXPECT_EQ(now.size(), 25U);
    EXPECT_TRUE(now == cryptutil::detail::Utc8TimeText(before) || now == cryptutil::detail::Utc8TimeText(after));
}

INSTANTIATE_TEST_SUITE_P(Zones, TimeText,
                         ::testing::Values("UTC", "America/New_York", "EST5EDT,M3.2.0,M11.1.0", "Asia/Kathmandu",
                                           "<+0545>-5:45", "Australia/Lord_Howe", "Asia/Shanghai"));

}  // namespace
