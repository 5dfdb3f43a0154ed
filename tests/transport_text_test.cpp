#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <string_view>

#include "cryptutil/base64.h"
#include "test_support.h"
#include "transport_text.h"

using cryptutil::detail::FromTransportText;
using cryptutil::detail::ToTransportText;
using cryptutil::detail::UrlEscape;
using cryptutil::detail::UrlUnescape;
using testing_support::Unhex;

namespace {

struct Case {
    std::string in;
    std::string out;
};

TEST(UrlEscape, Table) {
    const Case cases[] = {
        {"", ""},
        {"ab+/cd==", "ab%2B/cd=="},
        {"a b", "a%20b"},
        {"\xC3\xA9", "%C3%A9"},
        {"100%", "100%"},
        {std::string("x\0y", 3), "x"},
        {"\r\n',;", "%0D%0A%27%2C%3B"},
        {":/?#&=\"\x01\x7F", ":/?#&=\"\x01\x7F"},
        {"\x80\xFF", "%80%FF"},
    };
    for (const auto& c : cases) EXPECT_EQ(UrlEscape(c.in), c.out) << c.in;
}

// Long inputs take the block paths; compare them with the rules applied one byte at a time.
TEST(UrlEscape, LongInputsMatchBytewiseRules) {
    for (std::size_t n = 0; n < 200; n += 3) {
        std::string in = testing_support::RandomBytes(n, static_cast<unsigned>(n) + 77);
        for (auto& c : in) {
            if (c == '\0') c = '+';
        }
        std::string expected;
        for (const char c : in) {
            const auto b = static_cast<unsigned char>(c);
            const bool escape = b >= 0x80 || std::string_view(" +\r\n',;").find(c) != std::string_view::npos;
            char buf[4];
            std::snprintf(buf, sizeof buf, "%%%02X", b);
            expected += escape ? std::string(buf) : std::string(1, c);
        }
        EXPECT_EQ(UrlEscape(in), expected) << n;
        EXPECT_EQ(UrlUnescape(expected), in) << n;
    }
}

TEST(UrlUnescape, Table) {
    const Case cases[] = {
        {"", ""},
        {"ab%2B/cd==", "ab+/cd=="},
        {"ab+/cd==", "ab+/cd=="},
        {"%2b%2F%3d", "+/="},
        {"%", "%"},
        {"ab%", "ab%"},
        {"%4", "%4"},
        {"%G1", "%G1"},
        {"%%41", "%A"},
        {"%00", std::string(1, '\0')},
        {"%C3%A9", "\xC3\xA9"},
        {"%u0041", "A"},
        {"%u00e9", "\xC3\xA9"},
        {"%u20AC", "\xE2\x82\xAC"},
        {"%uD83D", ""},
        {"x%uDFFFy", "xy"},
        {"%uFFFF", "\xEF\xBF\xBF"},
        {"%U0041", "%U0041"},
        {"%u004", "%u004"},
        {"%u004G", "%u004G"},
        {"%u", "%u"},
        {"%\x80"
         "1",
         "%\x80"
         "1"},
    };
    for (const auto& c : cases) EXPECT_EQ(UrlUnescape(c.in), c.out) << c.in;
}

TEST(Base64, Rfc4648VectorsBothWays) {
    const Case cases[] = {
        {"", ""},
        {"f", "Zg=="},
        {"fo", "Zm8="},
        {"foo", "Zm9v"},
        {"foob", "Zm9vYg=="},
        {"fooba", "Zm9vYmE="},
        {"foobar", "Zm9vYmFy"},
        {"\xFB\xFF\xBF", "+/+/"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(base64_encode(reinterpret_cast<const unsigned char*>(c.in.data()), c.in.size(), false), c.out);
        EXPECT_EQ(base64_decode(c.out, false), c.in);
    }
}

TEST(Base64, MalformedTextDecodesToEmpty) {
    for (const std::string& bad :
         std::initializer_list<std::string>{"Zg=", "Zm9", "Z===", "====", "Zg==Zg==", "Z=g=", "Zm9v\n",
                                            "Zm9v Zg==", "Zm-_", "Zm9\x80", std::string("Zm9\0", 4), "Zg%3D"}) {
        EXPECT_EQ(base64_decode(bad, false), "") << bad;
    }
}

TEST(Base64, FlagTrueMeansUrlAlphabetAndLineBreakTolerance) {
    const std::string bytes = "\xFB\xFF\xBF\x01";
    EXPECT_EQ(base64_encode(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(), true), "-_-_AQ==");
    EXPECT_EQ(base64_decode("Zm9v\r\nYmFy\n", true), "foobar");
    EXPECT_EQ(base64_decode("Zm9v\r\nYmFy\n", false), "");
}

TEST(TransportText, RoundTripsAnyBytesAgainstAnIndependentEncoder) {
    for (std::size_t n = 0; n < 300; n += 7) {
        for (const std::string& bytes :
             {testing_support::RandomBytes(n, static_cast<unsigned>(n)), std::string(n, '\0')}) {
            const std::string text =
                ToTransportText(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
            std::string expected = testing_support::OpenSslBase64(bytes);
            for (std::size_t p = 0; (p = expected.find('+', p)) != std::string::npos;) expected.replace(p, 1, "%2B");
            EXPECT_EQ(text, expected);
            EXPECT_EQ(FromTransportText(text), bytes);
            EXPECT_EQ(FromTransportText(UrlUnescape(text)), bytes);  // '+' left unescaped is read too
        }
    }
}

TEST(TransportText, ReadsGenerallyUrlEncodedBase64) {
    EXPECT_EQ(FromTransportText("%2b%2F%2b%2f"), Unhex("fbffbf"));
    EXPECT_EQ(FromTransportText("Zg%3D%3d"), "f");
    EXPECT_EQ(FromTransportText("Zg%3"), "");
}

}  // namespace
