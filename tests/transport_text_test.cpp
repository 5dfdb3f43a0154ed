#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

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

// One byte to escape in a block of sixteen, at every position (the vector path must find even
// the rarer ones), and a malformed escape deep in a long text, where the vector path reads it.
TEST(TransportText, LoneEscapesInLongTexts) {
    for (const char c : std::string(" +\r\n',;\x80")) {
        for (std::size_t pos = 0; pos < 16; ++pos) {
            std::string in(64, 'a');
            in[32 + pos] = c;
            const std::string escaped = UrlEscape(in);
            ASSERT_EQ(escaped.size(), 66U) << static_cast<int>(c) << " at " << pos;
            EXPECT_EQ(escaped.substr(32 + pos, 3)[0], '%') << static_cast<int>(c) << " at " << pos;
            EXPECT_EQ(UrlUnescape(escaped), in);
        }
    }
    for (const std::string bad : {"%G1", "%4", "%u00G1", "%uD8", "%"}) {
        for (std::size_t pos = 1000; pos < 1020; ++pos) {
            const std::string in = std::string(pos, 'A') + bad + std::string(2000, 'Z');
            EXPECT_TRUE(UrlUnescape(in) == in) << bad << " at " << pos;
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
        const std::string reference = testing_support::ReferenceBase64(bytes.substr(0, n));
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

const unsigned char* P(const std::string& s) {
    return reinterpret_cast<const unsigned char*>(s.data());
}

// Every length up to 4200 (one piece) and lengths about piece edges, of random bytes, of bytes
// whose text is all '+', and of both, against OpenSSL's encoder; read back through both readers
// (the one that takes the text over unescapes in place).
TEST(TransportText, WritesAndReadsAnyBytesAgainstAnIndependentEncoder) {
    std::vector<std::size_t> lengths;
    for (std::size_t n = 0; n <= 4200; ++n) lengths.push_back(n);
    for (std::size_t pieces = 1; pieces <= 3; ++pieces) {
        for (const std::size_t n : {pieces * kPieceBytes - 1, pieces * kPieceBytes, pieces * kPieceBytes + 1}) {
            lengths.push_back(n);
        }
    }
    std::string pluses;
    while (pluses.size() < std::max<std::size_t>(3 * kPieceBytes + 1, 4201)) pluses += "\xFB\xEF\xBE";  // "++++"
    std::string random = RandomBytes(pluses.size(), 29);
    std::string mixed = random.substr(0, kPieceBytes) + pluses;  // escapes well beyond the first piece's rate
    for (const std::size_t n : lengths) {
        for (const std::string* source : {&random, &pluses, &mixed}) {
            const std::string bytes = source->substr(0, n);
            const std::string text = ToTransportText(P(bytes), n);
            ASSERT_TRUE(text == testing_support::ReferenceTransportText(bytes)) << "length " << n;
            ASSERT_TRUE(FromTransportText(text) == bytes) << "length " << n;
            std::string owned = text;
            TransportTextReader reader(std::move(owned));
            std::string all, piece;
            while (reader.Next(piece)) all += piece;
            ASSERT_TRUE(!reader.Failed() && all == bytes) << "length " << n;
        }
    }
    // Text with room in the output is written there; a text of several pieces replaces it.
    std::string roomy;
    roomy.reserve(200);  // 40 characters, all escaped
    const char* buffer = roomy.data();
    ToTransportText(P(pluses), 30, roomy);
    EXPECT_EQ(roomy.data(), buffer);
    EXPECT_EQ(roomy, testing_support::ReferenceTransportText(pluses.substr(0, 30)));
}

// Text that is not base64 goes through the general escaper.
TEST(TransportText, WriterEscapesAnyPiece) {
    for (std::size_t n = 0; n <= 100; ++n) {
        std::string piece = RandomBytes(n, static_cast<unsigned>(n) + 500);
        for (char& c : piece) c = c == '\0' ? '+' : c;
        std::string out = "old";
        TransportTextWriter writer(n, out);
        writer.Add(piece);
        writer.Finish();
        EXPECT_EQ(out, UrlEscape(piece)) << n;
    }
}

// Escapes of every kind wherever the pieces part, and strictness at the seams.
TEST(TransportText, ReadsEscapesAcrossPieces) {
    const std::string bytes = RandomBytes(3 * kPieceBytes + 7, 31);
    const std::string base64 = base64_encode(P(bytes), bytes.size(), false);
    std::string everyByte, unicode, vanishing;
    for (std::size_t i = 0; i < base64.size(); ++i) {
        char hex[8];
        std::snprintf(hex, sizeof hex, i % 2 != 0 ? "%%%02X" : "%%%02x", static_cast<unsigned char>(base64[i]));
        everyByte += hex;
        std::snprintf(hex, sizeof hex, "%%u%04X", static_cast<unsigned char>(base64[i]));
        unicode += hex;
        vanishing += base64[i];
        if (i % 4093 == 4092 || i + 1 == kPieceBytes / 3 * 4) vanishing += "%uD800";  // surrogates drop out
    }
    for (const std::string* text : {&everyByte, &unicode, &vanishing}) EXPECT_TRUE(FromTransportText(*text) == bytes);

    // A whole piece and then nothing once unescaped: that piece is the last, and may be padded.
    const std::string piece = RandomBytes(kPieceBytes - 1, 32);
    const std::string padded = base64_encode(P(piece), piece.size(), false);
    EXPECT_EQ(FromTransportText(padded + "%uDFFF"), piece);
    // Padding where another piece follows, and text that is not base64 beyond the first piece.
    EXPECT_EQ(FromTransportText(padded + "AAAA"), "");
    EXPECT_EQ(FromTransportText(base64.substr(0, 2 * kPieceBytes / 3 * 4) + "%0AAAAA"), "");
}
}  // namespace
