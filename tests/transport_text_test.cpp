#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <algorithm>
#include <cstdio>
#include <string>

#include "cryptutil/base64.h"
#include "test_support.h"
#include "transport_text.h"

namespace {

using namespace cryptutil::detail;
using testing_support::RandomBytes;

struct Case {
    std::string in, out;
};

TEST(TransportText, EscapingTables) {
    const Case escapes[] = {{"", ""},
                            {"ab+/cd==", "ab%2B/cd=="},
                            {"a b", "a%20b"},
                            {"\xC3\xA9\x80\xFF", "%C3%A9%80%FF"},
                            {"100%", "100%"},
                            {std::string("x\0y", 3), "x"},
                            {"\r\n',;", "%0D%0A%27%2C%3B"},
                            {":/?#&=\"\x01\x7F", ":/?#&=\"\x01\x7F"}};
    for (const auto& c : escapes) EXPECT_EQ(UrlEscape(c.in), c.out) << c.in;
    const Case unescapes[] = {{"", ""},
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
                              {"%u007F", "\x7F"},
                              {"%u0080", "\xC2\x80"},
                              {"%u07FF", "\xDF\xBF"},
                              {"%u0800", "\xE0\xA0\x80"},
                              {"%uD7FF", "\xED\x9F\xBF"},
                              {"%uD800", ""},
                              {"%uE000", "\xEE\x80\x80"},
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
                               "1"}};
    for (const auto& c : unescapes) EXPECT_EQ(UrlUnescape(c.in), c.out) << c.in;
}

// Every length up to past 255 16-byte blocks (where per-lane counters would wrap), random bytes
// and bytes that all need escaping, against the rules applied one byte at a time.
TEST(TransportText, LongEscapesMatchBytewiseRules) {
    auto bytewise = [](const std::string& in) {
        std::string out;
        for (const char c : in) {
            const auto b = static_cast<unsigned char>(c);
            if (b >= 0x80 || std::string(" +\r\n',;").find(c) != std::string::npos) {
                out += '%';
                out += "0123456789ABCDEF"[b >> 4];
                out += "0123456789ABCDEF"[b & 15];
            } else {
                out += c;
            }
        }
        return out;
    };
    const std::string random = RandomBytes(4200, 17), escapes = RandomBytes(4200, 18);
    std::string allRandom = random, allEscapes;
    for (char& c : allRandom) c = (c == '\0' || c == '%') ? '+' : c;  // NUL ends escaping; '%' is kept
    for (const char c : escapes) allEscapes += " +\r\n',;\xFF"[static_cast<unsigned char>(c) % 8];
    for (std::size_t n = 0; n <= 4200; ++n) {
        for (const std::string* source : {&allRandom, &allEscapes}) {
            const std::string in = source->substr(0, n), expected = bytewise(in);
            ASSERT_TRUE(UrlEscape(in) == expected) << "length " << n;
            ASSERT_TRUE(UrlUnescape(expected) == in) << "length " << n;
        }
    }
}

TEST(TransportText, Base64) {
    const Case rfc4648[] = {{"", ""},
                            {"f", "Zg=="},
                            {"fo", "Zm8="},
                            {"foo", "Zm9v"},
                            {"foob", "Zm9vYg=="},
                            {"fooba", "Zm9vYmE="},
                            {"foobar", "Zm9vYmFy"},
                            {"\xFB\xFF\xBF", "+/+/"}};
    for (const auto& c : rfc4648) {
        EXPECT_EQ(base64_encode(reinterpret_cast<const unsigned char*>(c.in.data()), c.in.size(), false), c.out);
        EXPECT_EQ(base64_decode(c.out, false), c.in);
    }
    for (const std::string bad : {"Zg=", "Zm9", "Z===", "====", "Zg==Zg==", "Z=g=", "Zm9v\n", "Zm-_", "Zm9\x80"}) {
        EXPECT_EQ(base64_decode(bad, false), "") << bad;
    }
    // The flag: URL-safe alphabet for encoding, line breaks skipped for decoding.
    EXPECT_EQ(base64_encode(reinterpret_cast<const unsigned char*>("\xFB\xFF\xBF\x01"), 4, true), "-_-_AQ==");
    EXPECT_EQ(base64_decode("Zm9v\r\nYmFy\n", true), "foobar");
}

// The codec's block paths against OpenSSL's encoder at every length, and strict wherever a bad
// character stands.
TEST(TransportText, Base64BlocksMatchAnIndependentCodec) {
    const std::string bytes = RandomBytes(4200, 23);
    for (std::size_t n = 0; n <= 4200; ++n) {
        const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
        std::string reference(4 * ((n + 2) / 3) + 1, '\0');
        reference.resize(static_cast<std::size_t>(
            EVP_EncodeBlock(reinterpret_cast<unsigned char*>(reference.data()), p, static_cast<int>(n))));
        const std::string text = base64_encode(p, n, false);
        ASSERT_TRUE(text == reference) << "length " << n;
        ASSERT_TRUE(base64_decode(text, false) == bytes.substr(0, n)) << "length " << n;
    }
    const std::string text = base64_encode(reinterpret_cast<const unsigned char*>(bytes.data()), 60, false);
    for (std::size_t at = 0; at < text.size(); ++at) {
        for (const char bad : {'-', '_', '=', '.', '@', '[', '`', '{', '\0', '\x80', '\n'}) {
            if (bad == '=' && at + 1 == text.size()) continue;  // a valid padded quad
            std::string broken = text;
            broken[at] = bad;
            EXPECT_EQ(base64_decode(broken, false), "") << at << " " << bad;
        }
    }
}

TEST(TransportText, RoundTripsAnyBytesAgainstAnIndependentEncoder) {
    for (std::size_t n = 0; n < 300; n += 7) {
        for (const std::string& bytes : {RandomBytes(n, static_cast<unsigned>(n)), std::string(n, '\0')}) {
            const std::string text =
                ToTransportText(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
            EXPECT_EQ(text, testing_support::ReferenceTransportText(bytes));
            EXPECT_EQ(FromTransportText(text), bytes);
            EXPECT_EQ(FromTransportText(UrlUnescape(text)), bytes);  // '+' left unescaped reads too
        }
    }
    EXPECT_EQ(FromTransportText("Zg%3D%3d"), "f");  // a general URL encoder's output
    // What is not transport text once unescaped reads as nothing: escaped line breaks included.
    for (const std::string bad : {"Zg%3", "Zm9v%0AYmFy", "Zm9v%0D%0AYmFy", "Zm9vYmFy%0A", "Zm9v YmFy", "Zm9vYmE"}) {
        EXPECT_EQ(FromTransportText(bad), "") << bad;
    }
}

}  // namespace
