#include <gtest/gtest.h>
#include <openssl/crypto.h>  // OpenSSL's functions of the same names must coexist with ours

#include <cstdio>
#include <stdexcept>
#include <string>
#include <vector>

#include "cryptutil/util.h"
#include "test_support.h"

namespace {

std::string Printf(const char* fmt, unsigned b) {
    char buf[8];
    std::snprintf(buf, sizeof buf, fmt, b);
    return buf;
}

TEST(Hex, EveryByteThroughEveryEncoder) {
    std::vector<unsigned char> all;
    std::string lower, upper;
    for (unsigned b = 0; b < 256; ++b) {
        all.push_back(static_cast<unsigned char>(b));
        lower += Printf("%02x", b);
        upper += Printf("%02X", b);
    }
    const std::string bytes(all.begin(), all.end());
    EXPECT_EQ(chararr_to_hex(all.data(), 256), lower);
    EXPECT_EQ(OPENSSL_hexstr2buf(bytes), lower);
    EXPECT_EQ(bytes_to_hex_string(all), upper);
    EXPECT_EQ(OPENSSL_buf2hexstr(lower), bytes);
    EXPECT_EQ(OPENSSL_buf2hexstr(upper), bytes);
    EXPECT_EQ(OPENSSL_buf2hexstr("68656C6c6F"), "hello");
}

TEST(Hex, EmptyAndDegenerateInputs) {
    EXPECT_EQ(chararr_to_hex(nullptr, 0), "");
    unsigned char b[2] = {1, 2};
    EXPECT_EQ(chararr_to_hex(b, -1), "");
    EXPECT_EQ(chararr_to_hex(b, 1), "01");
    EXPECT_EQ(bytes_to_hex_string({}), "");
    EXPECT_EQ(OPENSSL_hexstr2buf(""), "");
    EXPECT_EQ(OPENSSL_buf2hexstr(""), "");
    EXPECT_EQ(OPENSSL_buf2hexstr("0000"), std::string(2, '\0'));
}

TEST(Hex, RoundTripsRandomBytes) {
    for (std::size_t n : {1U, 15U, 1000U}) {
        const std::string bytes = testing_support::RandomBytes(n, static_cast<unsigned>(n));
        EXPECT_EQ(OPENSSL_buf2hexstr(OPENSSL_hexstr2buf(bytes)), bytes);
    }
}

TEST(Hex, DecoderRejectsWhatIsNotHex) {
    const struct {
        std::string in;
        std::string message;
    } cases[] = {
        {"0", "String is not valid length ..."},
        {"zz4", "String is not valid length ..."},
        {"4g41", "String is not valid hex: 'g' at index 1"},
        {"41zz", "String is not valid hex: 'z' at index 2"},
        {" 4", "String is not valid hex: byte 0x20 at index 0"},
        {"+5", "String is not valid hex: '+' at index 0"},
        {"-1", "String is not valid hex: '-' at index 0"},
        {"0x", "String is not valid hex: 'x' at index 1"},
        {std::string("4\0", 2), "String is not valid hex: byte 0x00 at index 1"},
        {"4\xC3", "String is not valid hex: byte 0xC3 at index 1"},
        {"00112233445566778899aabbccddeeGf", "String is not valid hex: 'G' at index 30"},
        {"0011223344556677:899aabbccddeeff", "String is not valid hex: ':' at index 16"},
        {"00112233445566778899aabbccdd@eff00", "String is not valid hex: '@' at index 28"},
        {"0011223344556677\xC1"
         "899aabbccddeeff",
         "String is not valid hex: byte 0xC1 at index 16"},
    };
    for (const auto& c : cases) {
        try {
            OPENSSL_buf2hexstr(c.in);
            ADD_FAILURE() << "no exception for " << c.in;
        } catch (const std::runtime_error& e) {
            EXPECT_EQ(std::string(e.what()), c.message);
        }
    }
}

TEST(Hex, SingleDigits) {
    const std::pair<unsigned, unsigned> toHex[] = {{0, '0'},  {9, '9'}, {10, 'A'},  {15, 'F'}, {16, 'G'},
                                                   {35, 'Z'}, {36, 91}, {200, 255}, {201, 0},  {255, '6'}};
    for (const auto& [in, out] : toHex) EXPECT_EQ(ToHex(static_cast<unsigned char>(in)), out) << in;
    const std::pair<unsigned, unsigned> fromHex[] = {{'0', 0},   {'9', 9},  {'A', 10},  {'a', 10}, {'F', 15},
                                                     {'f', 15},  {'G', 16}, {'g', 16},  {'Z', 35}, {'z', 35},
                                                     {' ', 240}, {0, 208},  {255, 207}, {'/', 255}};
    for (const auto& [in, out] : fromHex) EXPECT_EQ(FromHex(static_cast<unsigned char>(in)), out) << in;
    for (unsigned v = 0; v <= 35; ++v) EXPECT_EQ(FromHex(ToHex(static_cast<unsigned char>(v))), v);
    EXPECT_EQ(FromHex(ToHex(36)), 43);
}

TEST(Hex, CoexistsWithOpenSslFunctionsOfTheSameNames) {
    long len = 0;
    unsigned char* buf = ::OPENSSL_hexstr2buf("41:42", &len);  // OpenSSL's: text to bytes
    ASSERT_NE(buf, nullptr);
    EXPECT_EQ(len, 2);
    OPENSSL_free(buf);
    EXPECT_EQ(OPENSSL_hexstr2buf(std::string("AB")), "4142");  // ours: bytes to text
}

}  // namespace
