// The one place where the crypto libraries differ: how a parsed RSA key is held and used.
// OpenSSL 3 and 1.1.1 and BoringSSL hold it as an RSA (rsa_backend_rsa.cpp); an OpenSSL 3 built
// without deprecated APIs has no RSA type, and holds it as an EVP_PKEY (rsa_backend_evp.cpp).
// Exactly one of the two files compiles to anything.
#ifndef CRYPTUTIL_SRC_RSA_BACKEND_H
#define CRYPTUTIL_SRC_RSA_BACKEND_H

#include <openssl/evp.h>
#include <openssl/opensslconf.h>
#include <openssl/rsa.h>

#include <cstddef>
#include <memory>

#if defined(OPENSSL_NO_DEPRECATED_3_0)
#define CRYPTUTIL_RSA_AS_EVP_PKEY 1
#endif

namespace cryptutil::detail {

#if defined(CRYPTUTIL_RSA_AS_EVP_PKEY)
using RsaKeyObject = EVP_PKEY;
#else
using RsaKeyObject = RSA;
#endif

struct RsaKeyFree {
    void operator()(RsaKeyObject* key) const noexcept;
};
using RsaKey = std::unique_ptr<RsaKeyObject, RsaKeyFree>;

// An RSAPublicKey or RSAPrivateKey (PKCS #1) in exactly `len` DER bytes; null otherwise. Whatever
// the library copies of a private key is wiped when the key is freed.
RsaKey RsaPublicKeyFromDer(const unsigned char* der, std::size_t len);
RsaKey RsaPrivateKeyFromDer(const unsigned char* der, std::size_t len);

// k: the modulus length in bytes.
std::size_t ModulusBytes(const RsaKeyObject& key);
// The modulus length in bits.
std::size_t ModulusBits(const RsaKeyObject& key);
// Whether the public exponent is odd and at least 3.
bool OddExponentOfAtLeast3(const RsaKeyObject& key);

// RSAES-OAEP with SHA-1, MGF1-SHA-1 and the empty label; `len` is at most k. `out` has room for k
// bytes. Both return the number of bytes written, or -1.
int OaepEncrypt(RsaKeyObject& key, const unsigned char* in, std::size_t len, unsigned char* out);
int OaepDecrypt(RsaKeyObject& key, const unsigned char* in, std::size_t len, unsigned char* out);

// SHA-256 of `len` bytes into 32 bytes at `digest`; false only when memory runs out.
bool Sha256(const unsigned char* data, std::size_t len, unsigned char* digest);

// RSASSA-PKCS1-v1_5 over a SHA-256 digest. `sig` has room for k bytes.
bool SignSha256(RsaKeyObject& key, const unsigned char* digest, unsigned char* sig);
bool VerifySha256(RsaKeyObject& key, const unsigned char* digest, const unsigned char* sig, std::size_t sigLen);

}  // namespace cryptutil::detail

#endif
