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
std::string Text(std::string bytes) {
    return testing_support::ReferenceTransportText(bytes);
}
std::string FromTransportText(const std::string& text) {
    return testing_support::ReferenceBytes(text);
}
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
    const std::pair<int, std::string> wraps[] = {{215, Keys().publicKey},
                                                 {-1, Keys().publicKey},
                                                 {32, Keys().pkcs1Public},
                                                 {32, Keys().pkcs8},
                                                 {32, testing_support::EcPublicKey()},
                                                 {32, "not PEM"}};
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
                                                           {out, Keys().publicKey},
                                                           {out, Keys().encryptedPkcs8},
                                                           {out, Keys().encryptedPkcs1},
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

// Keys are found behind PEM blocks with other labels, as OpenSSL's own readers find them.
TEST(KeyWrap, KeysBehindOtherBlocks) {
    std::string secret(32, 'k'), text;
    ASSERT_EQ(EncryptKeyV2(U(secret), 32, Keys().pkcs1Public + Keys().pkcs8 + Keys().publicKey, &text), 256);
    EXPECT_EQ(Unwrap(text, Keys().publicKey + Keys().encryptedPkcs8 + Keys().pkcs1), secret);
    EXPECT_EQ(Unwrap(text, Keys().publicKey + Keys().pkcs8), secret);
}

TEST(KeyWrap, RandomBytes) {
    std::string a(32, '\0'), b(32, '\0'), untouched = "uuuu";
    GetRandomBytes(U(a), 32);
    GetRandomBytes(U(b), 32);
    EXPECT_NE(a, b);
    // Exactly the count asked for: the last byte is drawn (four zero draws in a row: 2^-32) and
    // the one after it is not.
    for (int n = 1; n <= 40; ++n) {
        bool lastDrawn = false;
        for (int attempt = 0; attempt < 4 && !lastDrawn; ++attempt) {
            std::string buf(static_cast<std::size_t>(n) + 1, '\0');
            buf.back() = 'g';
            GetRandomBytes(U(buf), n);
            EXPECT_EQ(buf.back(), 'g') << n;
            lastDrawn = buf[static_cast<std::size_t>(n) - 1] != '\0';
        }
        EXPECT_TRUE(lastDrawn) << n;
    }
    GetRandomBytes(U(untouched), -4);
    GetRandomBytes(U(untouched), INT_MIN);
    EXPECT_EQ(untouched, "uuuu");
}

TEST(Signature, DigestsAndSignatures) {
    const std::pair<std::string, const char*> fips180[] = {
        {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
         "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
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
    for (const std::string& key :
         {Keys().publicKey, std::string("not PEM"), Keys().encryptedPkcs8, Keys().encryptedPkcs1}) {
        EXPECT_EQ(createRSASignature(key, "data"), "");
    }
    const std::string sig = createRSASignature(Keys().pkcs8, "data"), bytes = FromTransportText(sig);
    const std::pair<std::string, std::string> cases[] = {{Keys(2048, 1).publicKey, sig},
                                                         {Keys().pkcs1Public, sig},
                                                         {Keys().pkcs8, sig},
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

// A key restricted to PSS wraps, signs, unwraps and verifies nothing, even a PKCS#1 v1.5 signature
// its own private half made as a plain key (as `openssl dgst -verify` refuses it).
TEST(Signature, PssKeysAreRefused) {
    const auto pss = testing_support::PssKeys();
    ASSERT_NE(pss.pkcs1.find("BEGIN RSA PRIVATE KEY"), std::string::npos);
    const std::string sig = createRSASignature(pss.pkcs1, "data");
    ASSERT_FALSE(sig.empty());
    EXPECT_FALSE(verifyRSASignature(pss.publicKey, sig, "data"));
    EXPECT_EQ(createRSASignature(pss.pkcs8, "data"), "");
    std::string secret(32, 's'), out = "kept", wrapped;
    EXPECT_EQ(EncryptKeyV2(U(secret), 32, pss.publicKey, &out), -1);
    EXPECT_EQ(out, "kept");
    ASSERT_EQ(EncryptKeyV2(U(secret), 32, Keys().publicKey, &wrapped), 256);
    EXPECT_EQ(Unwrap(wrapped, pss.pkcs8), "-1");
}

// Keys of 1,024 to 16,384 bits with an odd public exponent of at least 3, and no others, in every
// operation. With e = 1 the padded digest itself would pass as a signature.
TEST(KeyWrap, KeysOutsideTheLimitsAreRefused) {
    const std::string n = Keys().modulus, f4("\x01\x00\x01", 3);
    std::string odd512 = n.substr(0, 64);
    odd512.back() = static_cast<char>(odd512.back() | 1);
    const std::string refused[] = {
        testing_support::RsaPublicKeyPem(n, ""),
        testing_support::RsaPublicKeyPem(n, "\x01"),
        testing_support::RsaPublicKeyPem(n, "\x02"),
        testing_support::RsaPublicKeyPem(n, "\x01\x00\x00"),
        testing_support::RsaPublicKeyPem(odd512, f4),
        testing_support::RsaPublicKeyPem(n.substr(0, 126) + "\x01", f4),  // 1,016 bits
    };
    std::string secret(32, 's'), text;
    // The k-byte "signature" that e = 1 would accept: EMSA-PKCS1-v1_5 of SHA-256("data").
    std::string digest(32, '\0');
    hashData("data", U(digest));
    const std::string info = testing_support::Unhex("3031300d060960864801650304020105000420") + digest;
    const std::string forged = std::string("\x00\x01", 2) + std::string(256 - 3 - info.size(), '\xFF') + '\0' + info;
    for (const std::string& pem : refused) {
        std::string out = "kept";
        EXPECT_EQ(EncryptKeyV2(U(secret), 32, pem, &out), -1) << pem;
        EXPECT_EQ(out, "kept");
        EXPECT_FALSE(verifyRSASignature(pem, Text(forged), "data")) << pem;
    }
    // A key pair of 16,392 bits: its private half would let a sender overflow DecryptKeyV2's output.
    const std::string hugePrivate = testing_support::ReadKeyFile("rsa16392.pkcs8.pem");
    EXPECT_EQ(createRSASignature(hugePrivate, "data"), "");
    EXPECT_EQ(Unwrap(Text(std::string(2049, '\x01')), hugePrivate, 2049), "-1");
    EXPECT_EQ(EncryptKeyV2(U(secret), 32, testing_support::ReadKeyFile("rsa16392.public.pem"), &text), -1);

    // Still read: 1,024 bits, and e = 3.
    ASSERT_EQ(EncryptKeyV2(U(secret), 32, Keys(1024).publicKey, &text), 128);
    EXPECT_EQ(Unwrap(text, Keys(1024).pkcs8, 128), secret);
    EXPECT_EQ(EncryptKeyV2(U(secret), 32, testing_support::RsaPublicKeyPem(n, "\x03"), &text), 256);
}

}  // namespace
