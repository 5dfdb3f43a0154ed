#include <gtest/gtest.h>
#include <openssl/crypto.h>  // OpenSSL's functions of the same names must coexist with ours

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

    long len = 0;  // OpenSSL's own, beside ours
    unsigned char* buf = ::OPENSSL_hexstr2buf("41:42", &len);
    EXPECT_EQ(len, 2);
    OPENSSL_free(buf);
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

TEST(Hex, SingleDigits) {
    const std::pair<unsigned, unsigned> toHex[] = {{0, '0'},  {9, '9'}, {10, 'A'},  {15, 'F'}, {16, 'G'},
                                                   {35, 'Z'}, {36, 91}, {200, 255}, {201, 0},  {255, '6'}};
    for (const auto& [in, out] : toHex) EXPECT_EQ(ToHex(static_cast<unsigned char>(in)), out) << in;
    const std::pair<unsigned, unsigned> fromHex[] = {{'0', 0},   {'9', 9},  {'A', 10},  {'a', 10},
                                                     {'F', 15},  {'g', 16}, {'Z', 35},  {'z', 35},
                                                     {' ', 240}, {0, 208},  {255, 207}, {'/', 255}};
    for (const auto& [in, out] : fromHex) EXPECT_EQ(FromHex(static_cast<unsigned char>(in)), out) << in;
    for (unsigned v = 0; v <= 35; ++v) EXPECT_EQ(FromHex(ToHex(static_cast<unsigned char>(v))), v);
}

}  // namespace
