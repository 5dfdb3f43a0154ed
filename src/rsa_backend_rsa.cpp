// RSA keys held as OpenSSL's RSA, wherever the library declares it. OpenSSL 3 deprecates the type,
// but it keeps a key made on every call cheap, and its SHA-256 functions need no allocation.
#define OPENSSL_SUPPRESS_DEPRECATED

#include "rsa_backend.h"

#if !defined(CRYPTUTIL_RSA_AS_EVP_PKEY)

#include <openssl/crypto.h>
#include <openssl/objects.h>
#include <openssl/sha.h>

#include "constant_time.h"

namespace cryptutil::detail {
namespace {

// BoringSSL takes the lengths of these calls as size_t, OpenSSL as int.
#if defined(OPENSSL_IS_BORINGSSL)
using Length = std::size_t;
#else
using Length = int;
#endif

// Hands three numbers to a setter that takes them over only when it succeeds.
template <typename Set>
bool Give(Set set, RSA* key, Bignum& a, Bignum& b, Bignum& c) {
    if (set(key, a.get(), b.get(), c.get()) != 1) return false;
    static_cast<void>(a.release());  // the key owns them now
    static_cast<void>(b.release());
    static_cast<void>(c.release());
    return true;
}

bool SetKey(RSA* key, RsaNumbers<>& k) {
    return Give(RSA_set0_key, key, k.n, k.e, k.d);
}

}  // namespace

void FreeRsaKey(RSA* key) {
    RSA_free(key);
}

bool MakePublicKey(RsaNumbers<>& numbers, RsaKey& key) {
    key.reset(RSA_new());
    return key && SetKey(key.get(), numbers);
}

bool MakePrivateKey(RsaNumbers<>& numbers, RsaKey& key) {
#if !defined(OPENSSL_IS_BORINGSSL)
    if (!WithoutD(numbers)) return false;
#endif
    key.reset(RSA_new());
    auto factors = [](RSA* r, BIGNUM* p, BIGNUM* q, BIGNUM*) { return RSA_set0_factors(r, p, q); };
    Bignum none;
    return key && SetKey(key.get(), numbers) && Give(factors, key.get(), numbers.p, numbers.q, none) &&
           Give(RSA_set0_crt_params, key.get(), numbers.dP, numbers.dQ, numbers.qInv);
}

std::size_t ModulusBytes(const RsaKey& key) {
    return static_cast<std::size_t>(RSA_size(key.get()));
}

int OaepEncrypt(const RsaKey& key, const unsigned char* in, std::size_t len, unsigned char* out) {
    return RSA_public_encrypt(static_cast<Length>(len), in, out, key.get(), RSA_PKCS1_OAEP_PADDING);
}

int OaepDecrypt(const RsaKey& key, const unsigned char* in, std::size_t len, unsigned char* out) {
    return Declassified(RSA_private_decrypt(static_cast<Length>(len), in, out, key.get(), RSA_PKCS1_OAEP_PADDING));
}

bool Sha256(const unsigned char* data, std::size_t len, unsigned char* digest) {
    SHA256_CTX ctx;
    SHA256_Init(&ctx);
    SHA256_Update(&ctx, data, len);
    SHA256_Final(digest, &ctx);
    OPENSSL_cleanse(&ctx, sizeof ctx);
    return true;
}

bool SignSha256(const RsaKey& key, const unsigned char* digest, unsigned char* sig) {
    unsigned int len = 0;
    return Declassified(RSA_sign(NID_sha256, digest, SHA256_DIGEST_LENGTH, sig, &len, key.get())) == 1 &&
           Declassified(len) == ModulusBytes(key);
}

bool VerifySha256(const RsaKey& key, const unsigned char* digest, const unsigned char* sig, std::size_t sigLen) {
    return sigLen == ModulusBytes(key) &&
           RSA_verify(NID_sha256, digest, SHA256_DIGEST_LENGTH, sig, static_cast<unsigned int>(sigLen), key.get()) == 1;
}

}  // namespace cryptutil::detail

#endif
