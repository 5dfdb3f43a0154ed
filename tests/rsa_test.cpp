#include <gtest/gtest.h>

#include <climits>
#include <string>

#include "cryptutil/util.h"
#include "test_support.h"

namespace {

using testing_support::KeyPair;
using testing_support::U;

const KeyPair& Keys(unsigned bits = 2048, int which = 0) {
    return testing_support::RsaKeys(bits, which);
}
constexpr auto Text = testing_support::ReferenceTransportText;
constexpr auto FromTransportText = testing_support::ReferenceBytes;
// Transport text with its '+' left bare, as unescaped base64.
std::string Bare(std::string text) {
    for (std::size_t at = 0; (at = text.find("%2B", at)) != std::string::npos;) text.replace(at, 3, "+");
    return text;
}

// Unwraps into a buffer whose bytes past k must stay untouched; "-1" on failure.
std::string Unwrap(const std::string& text, const std::string& privateKey, std::size_t k = 256) {
    std::string out(k + 64, '\xA5');
    const int n = DecryptKeyV2(text, privateKey, U(out));
    EXPECT_EQ(out.substr(k), std::string(64, '\xA5'));
    return n < 0 ? std::to_string(n) : out.substr(0, static_cast<std::size_t>(n));
}

TEST(KeyWrap, RoundTripsAcrossSizesAndKeyForms) {
    for (const unsigned bits : {2048U, 3072U}) {
        const int k = static_cast<int>(bits / 8);
        for (const int size : {0, 1, 32, k - 42}) {
            std::string secret = testing_support::RandomBytes(static_cast<std::size_t>(size), 3), text, again;
            ASSERT_EQ(EncryptKeyV2(U(secret), size, Keys(bits).publicKey, &text), k) << bits << "/" << size;
            ASSERT_EQ(EncryptKeyV2(U(secret), size, Keys(bits).publicKey, &again), k);
            EXPECT_NE(text, again);  // OAEP draws a fresh seed
            EXPECT_EQ(FromTransportText(text).size(), static_cast<std::size_t>(k));
            EXPECT_EQ(Unwrap(text, Keys(bits).pkcs1, bits / 8), secret);
            EXPECT_EQ(Unwrap(Bare(again), Keys(bits).pkcs8, bits / 8), secret);  // bare '+'
        }
    }
    std::string secret(32, 's'), text;
    ASSERT_EQ(EncryptKeyV2(U(secret), 32, Keys().publicKey + std::string("\0junk", 5), &text), 256);
    EXPECT_EQ(Unwrap(text, Keys().pkcs1 + std::string("\0junk", 5)), secret);  // read up to the NUL
}

TEST(KeyWrap, Failures) {
    std::string secret(215, 'x'), out = "kept";
    // Keys of other kinds and forms: tests/key_reading_test.cpp.
    const std::pair<int, std::string> wraps[] = {
        {215, Keys().publicKey}, {-1, Keys().publicKey}, {32, testing_support::EcPublicKey()}, {32, "not PEM"}};
    for (const auto& [size, key] : wraps) EXPECT_EQ(EncryptKeyV2(U(secret), size, key, &out), -1) << key;
    EXPECT_EQ(out, "kept");

    ASSERT_EQ(EncryptKeyV2(U(secret), 32, Keys().publicKey, &out), 256);
    std::string bytes = FromTransportText(out), altered = bytes;
    altered[100] = static_cast<char>(altered[100] ^ 1);
    const std::pair<std::string, std::string> unwraps[] = {{out, Keys(2048, 1).pkcs8},
                                                           {Text(altered), Keys().pkcs1},
                                                           {Text(bytes + "x"), Keys().pkcs1},
                                                           {Text(bytes.substr(1)), Keys().pkcs1},
                                                           {"%%%", Keys().pkcs1},
                                                           {out, ""}};
    for (const auto& [text, key] : unwraps) EXPECT_EQ(Unwrap(text, key), "-1") << text << key;

    // k - 1 bytes that are the same integer: a ciphertext whose first byte is 0, cut by one.
    std::string leadingZero;
    while (leadingZero.empty() || leadingZero[0] != '\0') {
        ASSERT_EQ(EncryptKeyV2(U(secret), 32, Keys().publicKey, &out), 256);
        leadingZero = FromTransportText(out);
    }
    ASSERT_EQ(Unwrap(Text(leadingZero), Keys().pkcs1), secret.substr(0, 32));
    EXPECT_EQ(Unwrap(Text(leadingZero.substr(1)), Keys().pkcs1), "-1");
}

TEST(KeyWrap, RandomBytes) {
    std::string a(32, '\0'), b(32, '\0'), bounded(41, 'g'), untouched = "uuuu";
    GetRandomBytes(U(a), 32);
    GetRandomBytes(U(b), 32);
    EXPECT_NE(a, b);
    GetRandomBytes(U(bounded), 40);  // exactly the count asked for: the byte after it stays
    EXPECT_EQ(bounded.back(), 'g');
    EXPECT_NE(bounded.substr(32, 8), std::string(8, 'g'));
    GetRandomBytes(U(untouched), -4);
    GetRandomBytes(U(untouched), INT_MIN);
    EXPECT_EQ(untouched, "uuuu");
}

TEST(Signature, DigestsAndSignatures) {
    const std::pair<std::string, const char*> fips180[] = {
        {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {std::string("a\0b", 3), "59b271ae1bbcb1d31d41929817f4b16fb439eb4f31520b5ad1d5ce98920a7138"}};
    for (const auto& [data, digest] : fips180) {
        std::string hash(32, '\0');
        hashData(data, U(hash));
        EXPECT_EQ(testing_support::Hex(hash), digest);
    }
    for (const unsigned bits : {2048U, 3072U}) {
        for (const std::string& data : {std::string(), std::string("nul\0inside", 10)}) {
            const std::string sig = createRSASignature(Keys(bits).pkcs1, data);
            EXPECT_EQ(FromTransportText(sig).size(), bits / 8);
            EXPECT_EQ(createRSASignature(Keys(bits).pkcs8, data), sig);
            EXPECT_TRUE(verifyRSASignature(Keys(bits).publicKey, sig, data));
            EXPECT_TRUE(verifyRSASignature(Keys(bits).publicKey, Bare(sig), data));
            EXPECT_TRUE(verifyRSASignature(Keys(bits).publicKey + std::string("\0junk", 5), sig, data));
            EXPECT_FALSE(verifyRSASignature(Keys(bits).publicKey, sig, data + "x"));
        }
    }
}

TEST(Signature, Failures) {
    EXPECT_EQ(createRSASignature("not PEM", "data"), "");
    const std::string sig = createRSASignature(Keys().pkcs8, "data"), bytes = FromTransportText(sig);
    const std::pair<std::string, std::string> cases[] = {{Keys(2048, 1).publicKey, sig},
                                                         {Keys().publicKey, ""},
                                                         {Keys().publicKey, Text(bytes.substr(1))},
                                                         {Keys().publicKey, Text(bytes + '\0')},
                                                         {Keys().publicKey, "!!!!"}};
    for (const auto& [key, signature] : cases) EXPECT_FALSE(verifyRSASignature(key, signature, "data")) << signature;

    // k - 1 bytes that are the same integer: a signature whose first byte is 0, cut by one.
    std::string data, leadingZero;
    for (int i = 0; leadingZero.empty() || leadingZero[0] != '\0'; ++i) {
        data = "data " + std::to_string(i);
        leadingZero = FromTransportText(createRSASignature(Keys().pkcs1, data));
    }
    ASSERT_TRUE(verifyRSASignature(Keys().publicKey, Text(leadingZero), data));
    EXPECT_FALSE(verifyRSASignature(Keys().publicKey, Text(leadingZero.substr(1)), data));
}

}  // namespace
