// Run under valgrind by constant_time_check.sh: private-key text and the hex codecs' inputs (the
// single-digit ones included) are marked undefined, so that every branch or table index that
// depends on them is reported. The library built for this marks what it treats as public
// (lengths, tags, verdicts, signatures).
#include <gtest/gtest.h>
#include <valgrind/memcheck.h>

#include <string>
#include <vector>

#include "cryptutil/util.h"
#include "test_support.h"

namespace {

using testing_support::U;

// The key's text with the characters of its base64 body secret; armour and line ends stay public.
std::string Secret(const std::string& pem) {
    std::string text = pem;
    const std::size_t body = text.find('\n') + 1, end = text.find("-----END");
    for (std::size_t at = body; at < end; at = text.find('\n', at) + 1) {
        std::size_t len = text.find('\n', at) - at;
        if (len != 0 && text[at + len - 1] == '\r') --len;
        VALGRIND_MAKE_MEM_UNDEFINED(text.data() + at, len);
    }
    return text;
}

template <typename T>
T Public(T value) {
    VALGRIND_MAKE_MEM_DEFINED(&value, sizeof value);
    return value;
}

std::string Public(std::string s) {
    VALGRIND_MAKE_MEM_DEFINED(s.data(), s.size());
    return s;
}

TEST(ConstantTime, PrivateKeyText) {
    const auto& keys = testing_support::RsaKeys(2048);
    std::string secret(32, 's'), wrapped;
    ASSERT_EQ(EncryptKeyV2(U(secret), 32, keys.publicKey, &wrapped), 256);
    for (const std::string* pem : {&keys.pkcs1, &keys.pkcs8}) {
        EXPECT_EQ(Public(createRSASignature(Secret(*pem), "data")), createRSASignature(*pem, "data"));
        unsigned char out[256];
        const int n = Public(DecryptKeyV2(wrapped, Secret(*pem), out));
        EXPECT_EQ(n, 32);
        VALGRIND_MAKE_MEM_DEFINED(out, sizeof out);
        EXPECT_EQ(std::string(reinterpret_cast<char*>(out), 32), secret);
    }
}

TEST(ConstantTime, HexCodecs) {
    const std::string bytes = testing_support::RandomBytes(37, 2), hex = OPENSSL_hexstr2buf(bytes);
    std::string secretBytes = bytes, secretHex = hex;
    VALGRIND_MAKE_MEM_UNDEFINED(secretBytes.data(), secretBytes.size());
    VALGRIND_MAKE_MEM_UNDEFINED(secretHex.data(), secretHex.size());
    std::vector<unsigned char> vector(secretBytes.begin(), secretBytes.end());
    EXPECT_EQ(Public(chararr_to_hex(U(secretBytes), 37)), hex);
    EXPECT_EQ(Public(OPENSSL_hexstr2buf(secretBytes)), hex);
    EXPECT_EQ(Public(bytes_to_hex_string(vector)).size(), 74U);
    EXPECT_EQ(Public(OPENSSL_buf2hexstr(secretHex)), bytes);
    for (unsigned x = 0; x < 256; ++x) {
        auto secret = static_cast<unsigned char>(x);
        VALGRIND_MAKE_MEM_UNDEFINED(&secret, 1);
        EXPECT_EQ(Public(FromHex(secret)), FromHex(static_cast<unsigned char>(x)));
        EXPECT_EQ(Public(ToHex(secret)), ToHex(static_cast<unsigned char>(x)));
    }
}

}  // namespace
