// RSA keys read from PEM text, and the raw RSA operations on them. Everything that depends on
// which OpenSSL interface parses or holds a key lives behind this header.
#ifndef CRYPTUTIL_SRC_RSA_KEY_H
#define CRYPTUTIL_SRC_RSA_KEY_H

#include <openssl/types.h>

#include <cstddef>
#include <memory>
#include <string>

namespace cryptutil::detail {

struct RsaKeyFree {
    void operator()(RSA* key) const noexcept;
};
using RsaKey = std::unique_ptr<RSA, RsaKeyFree>;

// A PEM "PUBLIC KEY" (SubjectPublicKeyInfo) block holding an rsaEncryption key; null otherwise
// (RSA-PSS keys included).
// The text is read up to its first NUL.
RsaKey ReadRsaPublicKey(const std::string& pem);

// A PEM "RSA PRIVATE KEY" (PKCS #1) or "PRIVATE KEY" (PKCS #8) block holding an rsaEncryption
// key; null otherwise, and for encrypted keys: nothing ever asks for a pass phrase. Read up to the
// first NUL. Every buffer that held the key's bytes is wiped before it is released.
RsaKey ReadRsaPrivateKey(const std::string& pem);

// k: the modulus length in bytes.
std::size_t ModulusBytes(const RSA& key);

// RSAES-OAEP with SHA-1, MGF1-SHA-1 and the empty label. `out` has room for k bytes.
// Both return the number of bytes written, or -1.
int OaepEncrypt(RSA& key, const unsigned char* in, int len, unsigned char* out);
int OaepDecrypt(RSA& key, const unsigned char* in, int len, unsigned char* out);

// SHA-256 of `len` bytes into 32 bytes at `digest`; needs no allocation and cannot fail.
void Sha256(const unsigned char* data, std::size_t len, unsigned char* digest);

// RSASSA-PKCS1-v1_5 over a SHA-256 digest. `sig` has room for k bytes.
bool SignSha256(RSA& key, const unsigned char* digest, unsigned char* sig);
bool VerifySha256(RSA& key, const unsigned char* digest, const unsigned char* sig, std::size_t sigLen);

}  // namespace cryptutil::detail

#endif
