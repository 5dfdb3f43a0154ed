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
    EXPECT_EQ(chararr_to_hex(nullptr, 0) + chararr_to_hex(all.data(), INT_MIN) + OPENSSL_buf2hexstr(""), "");
    const std::string random = testing_support::RandomBytes(1001, 9);
    EXPECT_EQ(OPENSSL_buf2hexstr(OPENSSL_hexstr2buf(random)), random);
    // What throws, and each message: fuzz/hex_decode_fuzz.cpp.
    EXPECT_THROW(OPENSSL_buf2hexstr("0"), std::runtime_error);
    EXPECT_THROW(OPENSSL_buf2hexstr(std::string(30, '0') + "Gf"), std::runtime_error);
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
