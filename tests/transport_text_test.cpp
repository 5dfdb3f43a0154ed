#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>

#include "cryptutil/base64.h"
#include "test_support.h"
#include "transport_text.h"

namespace {

using namespace cryptutil::detail;
using testing_support::RandomBytes;

// The escaped text, or "refused" with the output as it was.
std::string Escaped(const std::string& s) {
    std::string out = "kept:";
    if (AppendEscaped(s, out)) return out.substr(5);
    return out == "kept:" ? "refused" : "refused, output changed";
}

std::string Unescaped(const std::string& s) {
    std::string out;
    EXPECT_EQ(Unescape(s.data(), s.size(), 0, true, out), s.size());
    return out;
}

const std::string kAlphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// The rules one character at a time: base64's characters only, '+' as %2B.
std::string EscapedBytewise(const std::string& s) {
    std::string out;
    for (const char c : s) {
        if (kAlphabet.find(c) == std::string::npos || c == '\0') return "refused";
        out += c == '+' ? std::string("%2B") : std::string(1, c);
    }
    return out;
}

int HexValue(char c) {
    const char* digits = "0123456789abcdef0123456789ABCDEF";
    const char* at = c == '\0' ? nullptr : std::strchr(digits, c);
    return at == nullptr ? -1 : static_cast<int>(at - digits) % 16;
}

std::string UnescapedBytewise(const std::string& s) {
    std::string out;
    for (std::size_t i = 0; i < s.size(); ++i) {
        auto hex = [&](std::size_t k, std::size_t n) {
            for (std::size_t j = k; j < k + n; ++j) {
                if (j >= s.size() || HexValue(s[j]) < 0) return false;
            }
            return true;
        };
        if (s[i] == '%' && i + 1 < s.size() && s[i + 1] == 'u' && hex(i + 2, 4)) {
            unsigned cp = 0;
            for (std::size_t j = i + 2; j < i + 6; ++j) cp = cp << 4 | static_cast<unsigned>(HexValue(s[j]));
            if (cp < 0x80) {
                out += static_cast<char>(cp);
            } else if (cp < 0x800) {
                out += {static_cast<char>(0xC0 | cp >> 6), static_cast<char>(0x80 | (cp & 0x3F))};
            } else if (cp < 0xD800 || cp > 0xDFFF) {
                out += {static_cast<char>(0xE0 | cp >> 12), static_cast<char>(0x80 | (cp >> 6 & 0x3F)),
                        static_cast<char>(0x80 | (cp & 0x3F))};
            }
            i += 5;
        } else if (s[i] == '%' && (i + 1 >= s.size() || s[i + 1] != 'u') && hex(i + 1, 2)) {
            out += static_cast<char>(HexValue(s[i + 1]) << 4 | HexValue(s[i + 2]));
            i += 2;
        } else {
            out += s[i];
        }
    }
    return out;
}

TEST(TransportText, EscapingRules) {
    const std::pair<std::string, std::string> escapes[] = {{"", ""},
                                                           {"ab+/cd", "ab%2B/cd"},
                                                           {"a b", "refused"},
                                                           {"Zg==", "refused"},
                                                           {"-_", "refused"},
                                                           {"\xC3\xA9", "refused"},
                                                           {std::string("x\0y", 3), "refused"}};
    for (const auto& [in, out] : escapes) EXPECT_EQ(Escaped(in), out) << in;
    const std::pair<std::string, std::string> unescapes[] = {{"ab%2B/cd==", "ab+/cd=="},
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
                                                             {"%U0041", "%U0041"},
                                                             {"%u004", "%u004"},
                                                             {"%u004G", "%u004G"}};
    for (const auto& [in, out] : unescapes) EXPECT_EQ(Unescaped(in), out) << in;
}

// Random text of every length, made of what the fast steps treat specially ('+', '%', 'u', hex
// digits, bytes outside base64's alphabet) at every density, against the rules a character at a
// time; unescaping that is not the last stops exactly at a '%' in the last five characters.
TEST(TransportText, FastStepsFollowTheRules) {
    std::mt19937 gen(5);
    const std::string sparse = "%u+AB12Gz" + std::string(60, 'A'), dense = "%%+u0123456789ABCDEFabcdef";
    for (int round = 0; round < 40000; ++round) {
        const std::size_t n = gen() % 300;
        std::string s(n, '\0'), base64(n, '\0');
        for (char& c : s) {
            c = round % 3 == 0   ? sparse[gen() % sparse.size()]
                : round % 3 == 1 ? dense[gen() % dense.size()]
                                 : char(gen());
        }
        for (char& c : base64) c = gen() % static_cast<unsigned>(round % 5 + 2) == 0 ? '+' : kAlphabet[gen() % 64];
        if (n != 0 && round % 4 == 0) base64[gen() % n] = s[gen() % n];  // perhaps one outside the alphabet
        ASSERT_EQ(Escaped(base64), EscapedBytewise(base64)) << base64;
        ASSERT_EQ(Unescaped(s), UnescapedBytewise(s)) << s;
        std::string part;
        const std::size_t r = Unescape(s.data(), n, 0, false, part);
        const std::size_t pct = s.find('%', n < 5 ? 0 : n - 5);
        ASSERT_EQ(r, pct == std::string::npos ? n : pct) << s;
        ASSERT_EQ(part, UnescapedBytewise(s.substr(0, r))) << s;
    }
}

// Base64 text escaped in every form a URL encoder may give, read back in chunks of every size.
TEST(TransportText, ReaderTakesAnyChunksOfAnyEscapes) {
    std::mt19937 gen(9);
    for (int round = 0; round < 3000; ++round) {
        const std::string bytes =
            RandomBytes(gen() % (round < 2900 ? 300 : 3 * kPieceBytes), static_cast<unsigned>(gen()));
        std::string text;
        for (const char c : base64_encode(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(), false)) {
            char escape[8];
            const char* form = round % 4 == 0 ? "%%%02X" : round % 4 == 1 ? "%%%02x" : "%%u%04X";
            std::snprintf(escape, sizeof escape, form, static_cast<unsigned char>(c));
            text += round % 4 == 3 || gen() % 3 != 0 ? std::string(1, c) : std::string(escape);
        }
        if (round % 7 == 0) text += "%uD800";  // a surrogate stands for nothing
        TransportTextReader reader;
        std::string out;
        const std::size_t chunk = 1 + gen() % (round % 2 == 0 ? 7 : 5000);
        for (std::size_t at = 0; at < text.size(); at += chunk) {
            ASSERT_TRUE(reader.Add(text.data() + at, std::min(chunk, text.size() - at), out));
        }
        ASSERT_TRUE(reader.Finish(out));
        ASSERT_EQ(out, bytes) << "chunks of " << chunk;
    }
}

TEST(TransportText, ReaderRefusesWhatIsNotTransportText) {
    const std::string piece = base64_encode(reinterpret_cast<const unsigned char*>("abcd"), 4, false);  // padded
    for (const std::string& text : {piece + "AAAA", std::string("Zg="), std::string("Zm9v\n"), std::string("Zm-_"),
                                    std::string("%G1AA"), std::string("Zg==Zg==")}) {
        for (const std::size_t chunk : {std::size_t{1}, std::size_t{100}}) {
            TransportTextReader reader;
            std::string out;
            bool ok = true;
            for (std::size_t at = 0; at < text.size() && ok; at += chunk)
                ok = reader.Add(text.data() + at, std::min(chunk, text.size() - at), out);
            EXPECT_FALSE(ok && reader.Finish(out)) << text << " in chunks of " << chunk;
        }
    }
}

// Every length up to a piece and around piece edges, of random bytes and of bytes whose text is
// all '+', against OpenSSL's encoder; pieces of a multiple of 3 bytes concatenate.
TEST(TransportText, WriterMatchesAnIndependentEncoder) {
    std::string pluses;
    while (pluses.size() < 2 * kPieceBytes + 2) pluses += "\xFB\xEF\xBE";  // "++++"
    const std::string random = RandomBytes(pluses.size(), 29);
    for (std::size_t n = 0; n <= 2 * kPieceBytes + 1; n += n < 4200 ? 1 : kPieceBytes / 2 - 1) {
        for (const std::string* source : {&random, static_cast<const std::string*>(&pluses)}) {
            const std::string bytes = source->substr(0, n);
            std::string text;
            ASSERT_TRUE(ToTransportText(reinterpret_cast<const unsigned char*>(bytes.data()), n, text));
            ASSERT_EQ(text, testing_support::ReferenceTransportText(bytes)) << n;
            std::string back;
            ASSERT_TRUE(FromTransportText(text, back) && back == bytes) << n;
            ASSERT_LE(back.size(), MaxBytes(text));
        }
    }
    std::string text;
    for (std::size_t at = 0; at < 1000; at += 99) {
        ASSERT_TRUE(AppendTransportText(reinterpret_cast<const unsigned char*>(random.data()) + at,
                                        std::min<std::size_t>(99, 1000 - at), text));
    }
    EXPECT_EQ(text, testing_support::ReferenceTransportText(random.substr(0, 1000)));
}

// A text that is all escapes has a third of its characters' bytes behind it, not three quarters.
TEST(TransportText, BoundOfEscapedText) {
    const std::string bytes = RandomBytes(3000, 4);
    std::string text;
    for (const char c : testing_support::ReferenceBase64(bytes)) {
        char escape[4];
        std::snprintf(escape, sizeof escape, "%%%02X", static_cast<unsigned char>(c));
        text += escape;
    }
    EXPECT_EQ(MaxBytes(text), bytes.size());
}

TEST(Base64, Rfc4648AndStrictness) {
    const std::pair<std::string, std::string> rfc4648[] = {{"", ""},
                                                           {"f", "Zg=="},
                                                           {"fo", "Zm8="},
                                                           {"foo", "Zm9v"},
                                                           {"foob", "Zm9vYg=="},
                                                           {"fooba", "Zm9vYmE="},
                                                           {"foobar", "Zm9vYmFy"},
                                                           {"\xFB\xFF\xBF", "+/+/"}};
    for (const auto& [bytes, text] : rfc4648) {
        EXPECT_EQ(base64_encode(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(), false), text);
        EXPECT_EQ(base64_decode(text, false), bytes);
    }
    for (const std::string bad : {"Zg=", "Zm9", "Z===", "====", "Zg==Zg==", "Z=g=", "Zm9v\n"}) {
        EXPECT_EQ(base64_decode(bad, false), "") << bad;
    }
    EXPECT_EQ(base64_encode(reinterpret_cast<const unsigned char*>("\xFB\xFF\xBF\x01"), 4, true), "-_-_AQ==");
    EXPECT_EQ(base64_decode("Zm9v\r\nYmFy\n", true), "foobar");
}

// Every byte value at every position of a text long enough for the widest steps: refused unless it
// is in the alphabet (the writer's test checks every length against OpenSSL's encoder).
TEST(Base64, EveryByteEverywhere) {
    const std::string bytes = RandomBytes(96, 23);
    const std::string alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    const std::string text = base64_encode(reinterpret_cast<const unsigned char*>(bytes.data()), 96, false);
    for (std::size_t at = 0; at < text.size(); ++at) {
        for (int b = 0; b < 256; ++b) {
            std::string changed = text;
            changed[at] = static_cast<char>(b);
            const bool valid = alphabet.find(static_cast<char>(b)) != std::string::npos;
            const bool pad = b == '=' && at + 1 == text.size();
            ASSERT_EQ(base64_decode(changed, false).size(), valid ? 96U : pad ? 95U : 0U) << at << " " << b;
        }
    }
}

}  // namespace
