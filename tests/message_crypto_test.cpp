#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <string>
#include <vector>

#include "cryptutil/util.h"
#include "test_support.h"
#include "transport_text.h"

using testing_support::Hex;
using testing_support::RandomBytes;
using testing_support::Unhex;

namespace {

std::string KeyOf(int size) {
    return RandomBytes(static_cast<std::size_t>(size), 1000U + static_cast<unsigned>(size));
}
unsigned char* U(std::string& s) {
    return reinterpret_cast<unsigned char*>(s.data());
}

std::string Decoded(const std::string& text) {
    return cryptutil::detail::FromTransportText(text);
}

// Transport text of raw AES-ECB over `blocks` (no padding added): ciphertexts a peer could send.
std::string RawEcb(std::string key, const std::string& blocks) {
    const EVP_CIPHER* c = key.size() == 16   ? EVP_aes_128_ecb()
                          : key.size() == 24 ? EVP_aes_192_ecb()
                                             : EVP_aes_256_ecb();
    EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
    std::string out(blocks.size(), '\0');
    int n = 0;
    EVP_EncryptInit_ex(ctx, c, nullptr, U(key), nullptr);
    EVP_CIPHER_CTX_set_padding(ctx, 0);
    EVP_EncryptUpdate(ctx, U(out), &n, reinterpret_cast<const unsigned char*>(blocks.data()),
                      static_cast<int>(blocks.size()));
    EVP_CIPHER_CTX_free(ctx);
    return cryptutil::detail::ToTransportText(U(out), out.size());
}

TEST(MessageCrypto, RoundTripsEverySizeWithNulBytes) {
    for (const int ks : {16, 24, 32}) {
        std::string key = KeyOf(ks);
        for (std::size_t n = 0; n <= 100; ++n) {
            std::string msg = RandomBytes(n, static_cast<unsigned>(n));
            if (n > 2) msg[n / 2] = '\0';
            std::string wire;
            const int len = EncryptMessage(msg, U(key), ks, &wire);
            ASSERT_EQ(len, static_cast<int>(32 * (n / 32 + 1))) << n;
            ASSERT_EQ(Decoded(wire).size(), static_cast<std::size_t>(len));
            std::string back;
            ASSERT_EQ(DecryptMessage(wire, U(key), ks, &back), 0) << n;
            EXPECT_EQ(back, msg) << "key " << ks << " size " << n;
        }
    }
}

TEST(MessageCrypto, CiphertextLengths) {
    std::string key = KeyOf(16);
    for (const auto& [n, len] :
         std::vector<std::pair<std::size_t, int>>{{0, 32}, {1, 32}, {31, 32}, {32, 64}, {33, 64}}) {
        std::string wire;
        EXPECT_EQ(EncryptMessage(std::string(n, 'a'), U(key), 16, &wire), len) << n;
    }
}

TEST(MessageCrypto, EmptyMessageIsTwoBlocksOfPadding) {
    std::string key = KeyOf(32);
    std::string wire;
    ASSERT_EQ(EncryptMessage("", U(key), 32, &wire), 32);
    EXPECT_EQ(wire, RawEcb(key, std::string(32, '\x20')));
}

TEST(MessageCrypto, BadKeysFailAndLeaveOutputsAlone) {
    std::string key = KeyOf(64);
    std::string good;
    ASSERT_EQ(EncryptMessage("m", U(key), 16, &good), 32);
    for (const int ks : {0, 8, 15, 17, 31, 33, 64, -1, -16}) {
        std::string out = "before";
        EXPECT_EQ(EncryptMessage("m", U(key), ks, &out), -1) << ks;
        EXPECT_EQ(DecryptMessage(good, U(key), ks, &out), -1) << ks;
        EXPECT_EQ(out, "before");
    }
    std::string out = "before";
    EXPECT_EQ(EncryptMessage("m", nullptr, 16, &out), -1);
    EXPECT_EQ(DecryptMessage(good, nullptr, 16, &out), -1);
    EXPECT_EQ(out, "before");
    EXPECT_EQ(EncryptMessage("m", U(key), 16, nullptr), -1);
    EXPECT_EQ(DecryptMessage(good, U(key), 16, nullptr), -1);
}

TEST(MessageCrypto, EncryptReplacesDecryptAppends) {
    std::string key = KeyOf(24);
    std::string wire = "old content";
    ASSERT_EQ(EncryptMessage("hello", U(key), 24, &wire), 32);
    EXPECT_EQ(Decoded(wire).size(), 32U);
    std::string out = "T:";
    ASSERT_EQ(DecryptMessage(wire, U(key), 24, &out), 0);
    EXPECT_EQ(out, "T:hello");
}

// NIST SP 800-38A F.1.1, F.1.3, F.1.5: the message is exactly the four plaintext blocks, so the
// first 64 ciphertext bytes are the published ones and one block of padding follows.
TEST(MessageCrypto, NistEcbVectors) {
    const std::string plain = Unhex(
        "6bc1bee22e409f96e93d7e117393172aae2d8a571e03ac9c9eb76fac45af8e51"
        "30c81c46a35ce411e5fbc1191a0a52eff69f2445df4f9b17ad2b417be66c3710");
    const struct {
        const char* key;
        const char* cipher;
    } vectors[] = {
        {"2b7e151628aed2a6abf7158809cf4f3c",
         "3ad77bb40d7a3660a89ecaf32466ef97f5d3d58503b9699de785895a96fdbaaf"
         "43b1cd7f598ece23881b00e3ed0306887b0c785e27e8ad3f8223207104725dd4"},
        {"8e73b0f7da0e6452c810f32b809079e562f8ead2522c6b7b",
         "bd334f1d6e45f25ff712a214571fa5cc974104846d0ad3ad7734ecb3ecee4eef"
         "ef7afd2270e2e60adce0ba2face6444e9a4b41ba738d6c72fb16691603c18e0e"},
        {"603deb1015ca71be2b73aef0857d77811f352c073b6108d72d9810a30914dff4",
         "f3eed1bdb5d2a03c064b5a7e3db181f8591ccb10d410ed26dc5ba74a31362870"
         "b6ed21b99ca6f4f9f153e7b1beafed1d23304b7a39f9f3ff067d8d8f9e24ecc7"},
    };
    for (const auto& v : vectors) {
        std::string key = Unhex(v.key);
        const int ks = static_cast<int>(key.size());
        std::string wire;
        ASSERT_EQ(EncryptMessage(plain, U(key), ks, &wire), 96);
        const std::string ct = Decoded(wire);
        EXPECT_EQ(Hex(ct.substr(0, 64)), v.cipher);
        // Equal padding blocks give equal ciphertext blocks: ECB.
        EXPECT_EQ(ct.substr(64, 16), ct.substr(80, 16));
        std::string back;
        ASSERT_EQ(DecryptMessage(wire, U(key), ks, &back), 0);
        EXPECT_EQ(back, plain);
    }
}

TEST(MessageCrypto, RejectsBadCiphertexts) {
    std::string key = KeyOf(32);
    std::string valid;
    ASSERT_EQ(EncryptMessage("attack at dawn", U(key), 32, &valid), 32);
    std::string forty = Decoded(valid) + std::string(8, 'x');
    const std::string cases[] = {
        "",                                                          // nothing
        "not base64!",                                               // not transport text
        valid.substr(0, valid.size() - 4),                           // truncated text
        cryptutil::detail::ToTransportText(U(forty), forty.size()),  // 40 bytes: not whole blocks
        RawEcb(key, std::string(15, 'a') + '\0'),                    // pad length 0
        RawEcb(key, std::string(31, 'a') + '!'),                     // pad length 33
        RawEcb(key, std::string(29, 'a') + "\x03\x02\x03"),          // pad bytes disagree
        RawEcb(key, std::string(16, '\x11')),                        // pad longer than the text
        RawEcb(key, std::string(48, '\x21')),                        // pad length 33 with 48 bytes
    };
    for (const auto& text : cases) {
        std::string out = "kept";
        EXPECT_EQ(DecryptMessage(text, U(key), 32, &out), -1) << text;
        EXPECT_EQ(out, "kept");
    }
    std::string other = KeyOf(16) + KeyOf(16);
    std::string out = "kept";
    EXPECT_EQ(DecryptMessage(valid, U(other), 32, &out), -1);
    EXPECT_EQ(out, "kept");
}

TEST(MessageCrypto, AcceptsSixteenBytePaddingAndFullPadBlock) {
    std::string key = KeyOf(16);
    const struct {
        std::string padded;
        std::string message;
    } cases[] = {
        {"0123456789abcde\x01", "0123456789abcde"},
        {std::string(16, '\x10'), ""},
        {"abc" + std::string(13, '\x0d'), "abc"},
        {std::string(32, ' '), ""},
    };
    for (const auto& c : cases) {
        std::string out;
        EXPECT_EQ(DecryptMessage(RawEcb(key, c.padded), U(key), 16, &out), 0);
        EXPECT_EQ(out, c.message);
    }
}

class OpenSslPeer : public ::testing::Test {
protected:
    void SetUp() override {
        if (!testing_support::HaveOpenSslTool()) GTEST_SKIP() << "openssl command-line tool not found";
    }
    testing_support::TempDir dir;
};

TEST_F(OpenSslPeer, DecryptsWhatTheToolEncrypts) {
    std::string key = KeyOf(32);
    const std::string msg = "interop: " + RandomBytes(100, 7);
    dir.Write("msg", msg);
    const auto b64 =
        testing_support::Run("openssl enc -aes-256-ecb -K " + Hex(key) + " -base64 -A -in " + (dir / "msg").string());
    ASSERT_TRUE(b64.has_value());
    std::string out;
    ASSERT_EQ(DecryptMessage(*b64, U(key), 32, &out), 0);
    EXPECT_EQ(out, msg);
}

TEST_F(OpenSslPeer, ToolDecryptsWhatWeEncrypt) {
    std::string key = KeyOf(24);
    const std::string msg = std::string("with\0nul", 8) + RandomBytes(45, 8);
    std::string wire;
    ASSERT_EQ(EncryptMessage(msg, U(key), 24, &wire), 64);
    dir.Write("ct", Decoded(wire));
    const auto plain =
        testing_support::Run("openssl enc -d -aes-192-ecb -nopad -K " + Hex(key) + " -in " + (dir / "ct").string());
    ASSERT_TRUE(plain.has_value());
    ASSERT_EQ(plain->size(), 64U);
    const auto pad = static_cast<unsigned char>(plain->back());
    EXPECT_EQ(plain->substr(plain->size() - pad), std::string(pad, static_cast<char>(pad)));
    EXPECT_EQ(plain->substr(0, plain->size() - pad), msg);
}

}  // namespace
