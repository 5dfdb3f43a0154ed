#include <gtest/gtest.h>
#include <openssl/bio.h>
#include <openssl/encoder.h>
#include <openssl/evp.h>
#include <openssl/pem.h>

#include <map>
#include <string>

#include "cryptutil/util.h"
#include "test_support.h"
#include "transport_text.h"

using testing_support::Hex;
using testing_support::Unhex;

namespace {

using testing_support::KeyPair;

const KeyPair& Keys(unsigned bits, int which = 0) {
    return testing_support::RsaKeys(bits, which);
}

std::string EcPublicKey() {
    EVP_PKEY* pkey = EVP_PKEY_Q_keygen(nullptr, nullptr, "EC", "P-256");
    BIO* bio = BIO_new(BIO_s_mem());
    PEM_write_bio_PUBKEY(bio, pkey);
    char* data = nullptr;
    const long len = BIO_get_mem_data(bio, &data);
    std::string pem(data, static_cast<std::size_t>(len));
    BIO_free(bio);
    EVP_PKEY_free(pkey);
    return pem;
}

unsigned char* U(std::string& s) {
    return reinterpret_cast<unsigned char*>(s.data());
}

// Unwraps into a buffer with a guard zone after k bytes, which must stay untouched.
std::string Unwrap(const std::string& text, const std::string& privateKey, int* result = nullptr, std::size_t k = 256) {
    std::string out(k + 64, '\xA5');
    const int n = DecryptKeyV2(text, privateKey, U(out));
    EXPECT_EQ(out.substr(k), std::string(64, '\xA5'));
    if (result != nullptr) *result = n;
    return n < 0 ? std::string("<failed>") : out.substr(0, static_cast<std::size_t>(n));
}

TEST(KeyWrap, RoundTripsAcrossSizesAndKeyForms) {
    for (const unsigned bits : {2048U, 3072U}) {
        const KeyPair& kp = Keys(bits);
        const int k = static_cast<int>(bits / 8);
        for (const int size : {0, 1, 32, k - 42}) {
            std::string secret = testing_support::RandomBytes(static_cast<std::size_t>(size), 3);
            std::string text;
            ASSERT_EQ(EncryptKeyV2(U(secret), size, kp.publicKey, &text), k) << bits << "/" << size;
            EXPECT_EQ(cryptutil::detail::FromTransportText(text).size(), static_cast<std::size_t>(k));
            EXPECT_EQ(Unwrap(text, kp.pkcs1, nullptr, bits / 8), secret);
            EXPECT_EQ(Unwrap(text, kp.pkcs8, nullptr, bits / 8), secret);
        }
    }
}

TEST(KeyWrap, FailuresLeaveOutputAlone) {
    const KeyPair& kp = Keys(2048);
    std::string secret(215, 'x');
    std::string out = "kept";
    const struct {
        const char* what;
        int size;
        std::string key;
    } cases[] = {
        {"secret over k - 42", 215, kp.publicKey},
        {"negative size", -1, kp.publicKey},
        {"PKCS #1 public key", 32, kp.pkcs1Public},
        {"private key text", 32, kp.pkcs8},
        {"EC key", 32, EcPublicKey()},
        {"not PEM", 32, "hello"},
        {"empty", 32, ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(EncryptKeyV2(U(secret), c.size, c.key, &out), -1) << c.what;
        EXPECT_EQ(out, "kept") << c.what;
    }
    EXPECT_EQ(EncryptKeyV2(U(secret), 32, kp.publicKey, nullptr), -1);
}

TEST(KeyWrap, WrappingIsRandomisedAndUnescapedPlusIsRead) {
    const KeyPair& kp = Keys(2048);
    std::string secret(32, 's');
    std::string a, b;
    ASSERT_EQ(EncryptKeyV2(U(secret), 32, kp.publicKey, &a), 256);
    ASSERT_EQ(EncryptKeyV2(U(secret), 32, kp.publicKey, &b), 256);
    EXPECT_NE(a, b);
    EXPECT_EQ(Unwrap(cryptutil::detail::UrlUnescape(a), kp.pkcs1), secret);
    EXPECT_EQ(Unwrap(b, kp.pkcs1 + std::string("\0garbage", 8)), secret);
}

TEST(KeyWrap, UnwrapFailures) {
    const KeyPair& kp = Keys(2048);
    std::string secret(32, 's');
    std::string text;
    ASSERT_EQ(EncryptKeyV2(U(secret), 32, kp.publicKey, &text), 256);
    std::string bytes = cryptutil::detail::FromTransportText(text);
    std::string altered = bytes;
    altered[100] = static_cast<char>(altered[100] ^ 1);
    std::string longer = bytes + "x";
    const struct {
        const char* what;
        std::string text;
        std::string key;
    } cases[] = {
        {"other key pair", text, Keys(2048, 1).pkcs8},
        {"altered byte", cryptutil::detail::ToTransportText(U(altered), altered.size()), kp.pkcs1},
        {"one byte longer than k", cryptutil::detail::ToTransportText(U(longer), longer.size()), kp.pkcs1},
        {"one byte shorter than k", cryptutil::detail::ToTransportText(U(bytes), bytes.size() - 1), kp.pkcs1},
        {"not base64", "%%%", kp.pkcs1},
        {"public key", text, kp.publicKey},
        {"encrypted PKCS #8", text, kp.encryptedPkcs8},
        {"encrypted PKCS #1", text, kp.encryptedPkcs1},
        {"empty key", text, ""},
    };
    for (const auto& c : cases) {
        int result = 0;
        Unwrap(c.text, c.key, &result);
        EXPECT_EQ(result, -1) << c.what;
    }
}

TEST(KeyWrap, RandomBytes) {
    std::string a(32, '\0'), b(32, '\0');
    GetRandomBytes(U(a), 32);
    GetRandomBytes(U(b), 32);
    EXPECT_NE(a, b);
    std::string untouched(4, 'u');
    GetRandomBytes(U(untouched), -4);
    GetRandomBytes(U(untouched), 0);
    EXPECT_EQ(untouched, "uuuu");
}

TEST(Digest, Fips180Examples) {
    const struct {
        std::string data;
        const char* digest;
    } cases[] = {
        {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
         "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
        {std::string("a\0b", 3), "59b271ae1bbcb1d31d41929817f4b16fb439eb4f31520b5ad1d5ce98920a7138"},
    };
    for (const auto& c : cases) {
        unsigned char hash[32];
        hashData(c.data, hash);
        EXPECT_EQ(Hex({reinterpret_cast<char*>(hash), 32}), c.digest);
    }
}

TEST(Signature, SignsAndVerifies) {
    for (const unsigned bits : {2048U, 3072U}) {
        const KeyPair& kp = Keys(bits);
        for (const std::string& data : {std::string(), std::string("message"), std::string("nul\0inside", 10)}) {
            const std::string sig = createRSASignature(kp.pkcs1, data);
            EXPECT_EQ(cryptutil::detail::FromTransportText(sig).size(), bits / 8);
            EXPECT_EQ(createRSASignature(kp.pkcs8, data), sig);
            EXPECT_TRUE(verifyRSASignature(kp.publicKey, sig, data));
            EXPECT_TRUE(verifyRSASignature(kp.publicKey, cryptutil::detail::UrlUnescape(sig), data));
            EXPECT_TRUE(verifyRSASignature(kp.publicKey + std::string("\0junk", 5), sig, data));
            EXPECT_FALSE(verifyRSASignature(kp.publicKey, sig, data + "x"));
        }
    }
}

TEST(Signature, Failures) {
    const KeyPair& kp = Keys(2048);
    for (const std::string& key : {kp.publicKey, std::string("not pem"), kp.encryptedPkcs8, kp.encryptedPkcs1}) {
        EXPECT_EQ(createRSASignature(key, "data"), "");
    }
    const std::string sig = createRSASignature(kp.pkcs8, "data");
    std::string bytes = cryptutil::detail::FromTransportText(sig);
    std::string longer = bytes + '\0';
    const struct {
        const char* what;
        std::string key;
        std::string sig;
    } cases[] = {
        {"other pair", Keys(2048, 1).publicKey, sig},
        {"PKCS #1 public key", kp.pkcs1Public, sig},
        {"private key as public", kp.pkcs8, sig},
        {"empty signature", kp.publicKey, ""},
        {"short signature", kp.publicKey, cryptutil::detail::ToTransportText(U(bytes), bytes.size() - 1)},
        {"long signature", kp.publicKey, cryptutil::detail::ToTransportText(U(longer), longer.size())},
        {"not base64", kp.publicKey, "!!!!"},
    };
    for (const auto& c : cases) EXPECT_FALSE(verifyRSASignature(c.key, c.sig, "data")) << c.what;
}

}  // namespace
