// RSA keys held as OpenSSL's RSA, wherever the library declares it. OpenSSL 3 deprecates the type,
// but it keeps per-call parsing cheap: d2i_RSAPublicKey takes about 5 microseconds where
// d2i_PublicKey and OSSL_DECODER take 100 to 270, and d2i_RSAPrivateKey about 10 where the
// EVP_PKEY readers take about 350. The low-level SHA-256 functions need no allocation.
#define OPENSSL_SUPPRESS_DEPRECATED

#include "rsa_backend.h"

#if !defined(CRYPTUTIL_RSA_AS_EVP_PKEY)

#include <openssl/bn.h>
#include <openssl/crypto.h>
#include <openssl/objects.h>
#include <openssl/sha.h>

namespace cryptutil::detail {
namespace {

// BoringSSL takes the lengths of these calls as size_t, OpenSSL as int.
#if defined(OPENSSL_IS_BORINGSSL)
using Length = std::size_t;
#else
using Length = int;
#endif

template <RSA* (*Parse)(RSA**, const unsigned char**, long)>
RsaKey FromDer(const unsigned char* der, std::size_t len) {
    const unsigned char* end = der + len;
    RsaKey key(Parse(nullptr, &der, static_cast<long>(len)));
    return key && der == end ? std::move(key) : nullptr;
}

}  // namespace

void RsaKeyFree::operator()(RSA* key) const noexcept {
    RSA_free(key);  // clears the private values
}

RsaKey RsaPublicKeyFromDer(const unsigned char* der, std::size_t len) {
    return FromDer<d2i_RSAPublicKey>(der, len);
}

RsaKey RsaPrivateKeyFromDer(const unsigned char* der, std::size_t len) {
    return FromDer<d2i_RSAPrivateKey>(der, len);
}

std::size_t ModulusBytes(const RSA& key) {
    return static_cast<std::size_t>(RSA_size(&key));
}

std::size_t ModulusBits(const RSA& key) {
    const BIGNUM* n = nullptr;
    RSA_get0_key(&key, &n, nullptr, nullptr);
    return n == nullptr ? 0 : static_cast<std::size_t>(BN_num_bits(n));
}

bool OddExponentOfAtLeast3(const RSA& key) {
    const BIGNUM* e = nullptr;
    RSA_get0_key(&key, nullptr, &e, nullptr);
    return e != nullptr && BN_is_negative(e) == 0 && BN_is_odd(e) != 0 && BN_is_one(e) == 0;
}

int OaepEncrypt(RSA& key, const unsigned char* in, std::size_t len, unsigned char* out) {
    return RSA_public_encrypt(static_cast<Length>(len), in, out, &key, RSA_PKCS1_OAEP_PADDING);
}

int OaepDecrypt(RSA& key, const unsigned char* in, std::size_t len, unsigned char* out) {
    return RSA_private_decrypt(static_cast<Length>(len), in, out, &key, RSA_PKCS1_OAEP_PADDING);
}

bool Sha256(const unsigned char* data, std::size_t len, unsigned char* digest) {
    SHA256_CTX ctx;
    SHA256_Init(&ctx);
    SHA256_Update(&ctx, data, len);
    SHA256_Final(digest, &ctx);
    OPENSSL_cleanse(&ctx, sizeof ctx);
    return true;
}

bool SignSha256(RSA& key, const unsigned char* digest, unsigned char* sig) {
    unsigned int len = 0;
    return RSA_sign(NID_sha256, digest, SHA256_DIGEST_LENGTH, sig, &len, &key) == 1 && len == ModulusBytes(key);
}

bool VerifySha256(RSA& key, const unsigned char* digest, const unsigned char* sig, std::size_t sigLen) {
    if (sigLen != ModulusBytes(key)) return false;
    return RSA_verify(NID_sha256, digest, SHA256_DIGEST_LENGTH, sig, static_cast<unsigned int>(sigLen), &key) == 1;
}

}  // namespace cryptutil::detail

#endif
