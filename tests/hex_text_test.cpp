#include <gtest/gtest.h>

#include <cctype>
#include <climits>
#include <cstdio>
#include <stdexcept>
#include <string>
#include <vector>

#include "cryptutil/util.h"
#include "test_support.h"

namespace {

TEST(Hex, EveryByteThroughEveryCodec) {
    std::vector<unsigned char> all;
    std::string lower, upper;
    for (unsigned b = 0; b < 256; ++b) {
        char buf[8];
        all.push_back(static_cast<unsigned char>(b));
        std::snprintf(buf, sizeof buf, "%02x", b);
        lower += buf;
        std::snprintf(buf, sizeof buf, "%02X", b);
        upper += buf;
    }
    const std::string bytes(all.begin(), all.end());
    EXPECT_EQ(chararr_to_hex(all.data(), 256), lower);
    EXPECT_EQ(OPENSSL_hexstr2buf(bytes), lower);
    EXPECT_EQ(bytes_to_hex_string(all), upper);
    EXPECT_EQ(OPENSSL_buf2hexstr(lower), bytes);
    EXPECT_EQ(OPENSSL_buf2hexstr(upper), bytes);
    EXPECT_EQ(OPENSSL_buf2hexstr("68656C6c6F"), "hello");
    EXPECT_EQ(OPENSSL_buf2hexstr("0000"), std::string(2, '\0'));
    EXPECT_EQ(chararr_to_hex(nullptr, 0) + chararr_to_hex(all.data(), INT_MIN) + OPENSSL_buf2hexstr(""), "");
    const std::string random = testing_support::RandomBytes(1001, 9);
    EXPECT_EQ(OPENSSL_buf2hexstr(OPENSSL_hexstr2buf(random)), random);
}

TEST(Hex, DecoderRejectsWhatIsNotHex) {
    const std::pair<std::string, const char*> cases[] = {
        {"0", "String is not valid length ..."},
        {"zz4", "String is not valid length ..."},
        {"4g41", "String is not valid hex: 'g' at index 1"},
        {" 4", "String is not valid hex: byte 0x20 at index 0"},
        {"+5", "String is not valid hex: '+' at index 0"},
        {"!0", "String is not valid hex: '!' at index 0"},
        {"0~", "String is not valid hex: '~' at index 1"},
        {"\x7F"
         "0",
         "String is not valid hex: byte 0x7F at index 0"},
        {"0x", "String is not valid hex: 'x' at index 1"},
        {std::string("4\0", 2), "String is not valid hex: byte 0x00 at index 1"},
        {"00112233445566778899aabbccddeeGf", "String is not valid hex: 'G' at index 30"},
        {"0011223344556677:899aabbccddeeff", "String is not valid hex: ':' at index 16"},
        {"00112233445566778899aabbccdd@eff00", "String is not valid hex: '@' at index 28"},
        {"0011223344556677\xC1"
         "899aabbccddeeff",
         "String is not valid hex: byte 0xC1 at index 16"},
    };
    for (const auto& [in, message] : cases) {
        try {
            OPENSSL_buf2hexstr(in);
            ADD_FAILURE() << "no exception for " << in;
        } catch (const std::runtime_error& e) {
            EXPECT_STREQ(e.what(), message);
        }
    }
}

// Over every byte: ToHex counts on past 'F' through 'Z', FromHex takes a letter of either case
// from 10 and anything else as a digit ('0' less than it, modulo 256).
TEST(Hex, SingleDigitsOfEveryByte) {
    const std::string base36 = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ";
    for (unsigned x = 0; x < 256; ++x) {
        const auto c = static_cast<unsigned char>(x);
        const std::size_t letter = base36.find(static_cast<char>(std::toupper(c)));
        const auto expected = static_cast<unsigned>(std::isalpha(c) != 0 ? letter : (x - '0') & 0xFF);
        EXPECT_EQ(FromHex(c), expected) << x;
        EXPECT_EQ(ToHex(c), static_cast<unsigned char>(x > 9 ? x + 55 : x + 48)) << x;
        if (x < 36) {
            EXPECT_EQ(FromHex(ToHex(c)), x);
        }
    }
}

}  // namespace
