// The wire bytes every crypto library the library builds against must give: NIST's AES vectors, and
// fixed texts checked once against the openssl command (enc -aes-256-ecb -nopad, dgst -sha256 -verify).
#include <gtest/gtest.h>

#include <string>

#include "cryptutil/util.h"
#include "test_support.h"

namespace {

using testing_support::U;

std::string KeyBytes() {
    std::string key(32, '\0');
    for (std::size_t i = 0; i < key.size(); ++i) key[i] = static_cast<char>(i * 7 + 1);
    return key;
}

std::string Message(std::size_t n) {
    std::string m;
    for (std::size_t i = 0; i < n; ++i) m += static_cast<char>('a' + i * 5 % 26);
    return m;
}

TEST(KnownAnswers, MessageTexts) {
    const std::pair<std::size_t, const char*> texts[] = {
        {0, "LTlZQoqi0ldzlxOeak/Npy05WUKKotJXc5cTnmpPzac="},
        {1, "8FBRBDBIHpOtze%2BZ2UKCVUsQXs0%2BZ/EPiBDQq5DpARI="},
        {31, "hlmXpHDKdq6srsGrDJFgxkRgb04MiyuNcWRAbnDv2VQ="},
        {32, "hlmXpHDKdq6srsGrDJFgxjtlK83ApNV6/TTSd1QzblItOVlCiqLSV3OXE55qT82nLTlZQoqi0ldzlxOeak/Npw=="},
        {33, "hlmXpHDKdq6srsGrDJFgxjtlK83ApNV6/TTSd1QzblLWV%2BoXc9eg/baLOgSIjdZKSxBezT5n8Q%2BIENCrkOkBEg=="},
    };
    std::string key = KeyBytes();
    for (const auto& [n, text] : texts) {
        std::string out, back;
        ASSERT_GT(EncryptMessage(Message(n), U(key), 32, &out), 0);
        EXPECT_EQ(out, text) << n;
        ASSERT_EQ(DecryptMessage(text, U(key), 32, &back), 0);
        EXPECT_EQ(back, Message(n));
    }
}

// NIST SP 800-38A F.1.1, F.1.3, F.1.5: a message of exactly the four plaintext blocks gives the
// published ciphertext blocks, then one block of padding twice (ECB: equal blocks, equal output).
TEST(KnownAnswers, NistEcbVectors) {
    const std::string plain = testing_support::Unhex(
        "6bc1bee22e409f96e93d7e117393172aae2d8a571e03ac9c9eb76fac45af8e5130c81c46a35ce411e5fbc1191a0a52eff69f2445df4f9b"
        "17ad2b417be66c3710");
    const std::pair<const char*, const char*> vectors[] = {
        {"2b7e151628aed2a6abf7158809cf4f3c",
         "3ad77bb40d7a3660a89ecaf32466ef97f5d3d58503b9699de785895a96fdbaaf43b1cd7f598ece23881b00e3ed0306887b0c785e27e8a"
         "d3f8223207104725dd4"},
        {"8e73b0f7da0e6452c810f32b809079e562f8ead2522c6b7b",
         "bd334f1d6e45f25ff712a214571fa5cc974104846d0ad3ad7734ecb3ecee4eefef7afd2270e2e60adce0ba2face6444e9a4b41ba738d6"
         "c72fb16691603c18e0e"},
        {"603deb1015ca71be2b73aef0857d77811f352c073b6108d72d9810a30914dff4",
         "f3eed1bdb5d2a03c064b5a7e3db181f8591ccb10d410ed26dc5ba74a31362870b6ed21b99ca6f4f9f153e7b1beafed1d23304b7a39f9f"
         "3ff067d8d8f9e24ecc7"},
    };
    for (const auto& [hexKey, cipher] : vectors) {
        std::string key = testing_support::Unhex(hexKey), wire, back;
        const int ks = static_cast<int>(key.size());
        ASSERT_EQ(EncryptMessage(plain, U(key), ks, &wire), 96);
        const std::string ct = testing_support::ReferenceBytes(wire);
        EXPECT_EQ(testing_support::Hex(ct.substr(0, 64)), cipher);
        EXPECT_EQ(ct.substr(64, 16), ct.substr(80, 16));
        ASSERT_EQ(DecryptMessage(wire, U(key), ks, &back), 0);
        EXPECT_EQ(back, plain);
    }
}

TEST(KnownAnswers, SignatureAndWrappedKey) {
    const auto& keys = testing_support::RsaKeys(2048);
    EXPECT_EQ(
        createRSASignature(keys.pkcs8, "known answer"),
        "oIqin3ZZiPkTaqwPMCCMVYrofsZd%2BqYf4ZF8rlIYGlqdkO9hsxoFSdXDVkVkacS0HUaAQTI3YU9AV0uEFojQrVy5dzYOxke8yZWdr/"
        "k4j2l7FK4CPRDo1fbVPJsL/yiJ2BpoOxrgohpkvxPj1mVwoN/ZLRDvuFMj/sG0XoJZp68Ph2sA5Sr2O3cLeekdAP0YYGDKxMOwhuCRmPYt6344"
        "ROUvr4hGjKplqDSEwVxC46q4PAXtV3x4RsRmI1D2Dimbh2/y6SZOR6uHiE2GTYH6m0Q6DK1DZ63pD1f3Y/"
        "9lcGs5ZGvq79XrlZ1TUr0mtqWFoEO0SYC6bGaeydeDiBrZpQ==");
    // OAEP draws a fresh seed, so a wrapped key is known by what it unwraps to.
    const std::string wrapped =
        "eyTeb8s6nVbr0K5rBo/"
        "ccSjBBJf0T2TIfsKvSgShHGRSIb2nfteGbbJwxNmqPWhLYVFbqkMeizMl5gxNxQY3F7J6qISZPLD81lMkiSHBIXyUHu3q"
        "qIZVFqHuDhf6hS8qbQhSHRtwpDwX247c1BkVWjh%2B3XKC1F1VoCo8%2BNp%2BaP5z38aUEVXbFesMyG0/7A/RiF8/"
        "HzS7zE4xs3ZWqRBNWY%2B"
        "ygfyjIpEHciCMutUftu8UbINyNC31FhTuenjYlMfx/KD28ocITKPJ3EDCcA4TToFizKSnq%2B3PJjoCy5KBjkCtEIQmN/"
        "rAWZPZWznvKezWXF4V7VLo0UvE36qo4cr0KQ==";
    unsigned char out[256];
    ASSERT_EQ(DecryptKeyV2(wrapped, keys.pkcs1, out), 32);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(out), 32), KeyBytes());
}

}  // namespace
