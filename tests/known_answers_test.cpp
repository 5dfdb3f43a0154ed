// The wire bytes every crypto library the library builds against must give: fixed texts checked
// once against the openssl command (enc -aes-256-ecb -nopad, dgst -sha256 -verify).
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
