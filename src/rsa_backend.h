// The one place where the crypto libraries differ: how an RSA key is held and used. OpenSSL 3 and
// 1.1.1 and BoringSSL hold it as an RSA (rsa_backend_rsa.cpp); an OpenSSL 3 built without
// deprecated APIs has no RSA type and holds it as an EVP_PKEY (rsa_backend_evp.cpp). Exactly one
// of the two files compiles to anything. Keys are read and checked in rsa_key.cpp, the same way
// for every library, and reach the library as numbers.
#ifndef CRYPTUTIL_SRC_RSA_BACKEND_H
#define CRYPTUTIL_SRC_RSA_BACKEND_H

#include <openssl/bn.h>
#include <openssl/evp.h>
#include <openssl/opensslconf.h>
#include <openssl/rsa.h>

#include <cstddef>

#include "owners.h"

#if defined(OPENSSL_NO_DEPRECATED_3_0)
#define CRYPTUTIL_RSA_AS_EVP_PKEY 1
#endif

namespace cryptutil::detail {

#if defined(CRYPTUTIL_RSA_AS_EVP_PKEY)
using RsaKeyObject = EVP_PKEY;
#else
using RsaKeyObject = RSA;
#endif
void FreeRsaKey(RsaKeyObject* key);  // clears the private values
using RsaKey = Owned<RsaKeyObject, FreeRsaKey>;
using Bignum = Owned<BIGNUM, BN_clear_free>;  // cleared when freed: it may be a secret

// The numbers of a key: n and e for a public one, and all eight for a private one (RFC 8017), as
// DER views while a key is read (rsa_key.cpp) and as bignums handed to the crypto library.
template <typename Number = Bignum>
struct RsaNumbers {
    Number n, e, d, p, q, dP, dQ, qInv;
};

// The key for the numbers, which it takes over; false when the library refuses them. A private key
// computes with p, q, dP, dQ and qInv alone, on every library: where a CRT result fails its check
// (factors that are not prime), OpenSSL recomputes it with d and BoringSSL fails. OpenSSL is given
// d = 1, so that such a key fails on each library alike (a signature is verified before it is
// returned, a decryption fails OAEP's check).
bool MakePublicKey(RsaNumbers<>& numbers, RsaKey& key);
bool MakePrivateKey(RsaNumbers<>& numbers, RsaKey& key);

// d = 1, for OpenSSL (above).
inline bool WithoutD(RsaNumbers<>& numbers) {
    numbers.d.reset(BN_new());
    return numbers.d && BN_one(numbers.d.get()) == 1;
}

// k: the modulus length in bytes.
std::size_t ModulusBytes(const RsaKey& key);

// RSAES-OAEP with SHA-1, MGF1-SHA-1 and the empty label; `len` is at most k. `out` has room for k
// bytes. Both return the number of bytes written, or -1.
int OaepEncrypt(const RsaKey& key, const unsigned char* in, std::size_t len, unsigned char* out);
int OaepDecrypt(const RsaKey& key, const unsigned char* in, std::size_t len, unsigned char* out);

// SHA-256 of `len` bytes into 32 bytes at `digest`; false only when memory runs out.
bool Sha256(const unsigned char* data, std::size_t len, unsigned char* digest);

// RSASSA-PKCS1-v1_5 over a SHA-256 digest. `sig` has room for k bytes.
bool SignSha256(const RsaKey& key, const unsigned char* digest, unsigned char* sig);
bool VerifySha256(const RsaKey& key, const unsigned char* digest, const unsigned char* sig, std::size_t sigLen);

}  // namespace cryptutil::detail

#endif
