// RSA keys held as an EVP_PKEY, for an OpenSSL 3 built without deprecated APIs. Parsing a private
// key costs far more here than through the RSA type (see the README's figures).
#include "rsa_backend.h"

#if defined(CRYPTUTIL_RSA_AS_EVP_PKEY)

#include <openssl/x509.h>

namespace cryptutil::detail {
namespace {

struct PkeyCtxFree {
    void operator()(EVP_PKEY_CTX* ctx) const noexcept { EVP_PKEY_CTX_free(ctx); }
};
using PkeyCtx = std::unique_ptr<EVP_PKEY_CTX, PkeyCtxFree>;

template <EVP_PKEY* (*Parse)(int, EVP_PKEY**, const unsigned char**, long)>
RsaKey FromDer(const unsigned char* der, std::size_t len) {
    const unsigned char* end = der + len;
    RsaKey key(Parse(EVP_PKEY_RSA, nullptr, &der, static_cast<long>(len)));
    return key && der == end && EVP_PKEY_get_base_id(key.get()) == EVP_PKEY_RSA ? std::move(key) : nullptr;
}

// A context for one operation on `key`, set up by `init` and RSA padding `padding`.
PkeyCtx Context(EVP_PKEY& key, int (*init)(EVP_PKEY_CTX*), int padding) {
    PkeyCtx ctx(EVP_PKEY_CTX_new(&key, nullptr));
    if (!ctx || init(ctx.get()) != 1 || EVP_PKEY_CTX_set_rsa_padding(ctx.get(), padding) != 1) return nullptr;
    return ctx;
}

PkeyCtx Sha256Context(EVP_PKEY& key, int (*init)(EVP_PKEY_CTX*)) {
    PkeyCtx ctx = Context(key, init, RSA_PKCS1_PADDING);
    if (!ctx || EVP_PKEY_CTX_set_signature_md(ctx.get(), EVP_sha256()) != 1) return nullptr;
    return ctx;
}

}  // namespace

void RsaKeyFree::operator()(EVP_PKEY* key) const noexcept {
    EVP_PKEY_free(key);  // clears the private values
}

RsaKey RsaPublicKeyFromDer(const unsigned char* der, std::size_t len) {
    return FromDer<d2i_PublicKey>(der, len);
}

RsaKey RsaPrivateKeyFromDer(const unsigned char* der, std::size_t len) {
    return FromDer<d2i_PrivateKey>(der, len);
}

std::size_t ModulusBytes(const EVP_PKEY& key) {
    return static_cast<std::size_t>(EVP_PKEY_get_size(&key));
}

int OaepEncrypt(EVP_PKEY& key, const unsigned char* in, std::size_t len, unsigned char* out) {
    const PkeyCtx ctx = Context(key, EVP_PKEY_encrypt_init, RSA_PKCS1_OAEP_PADDING);
    std::size_t outLen = ModulusBytes(key);
    if (!ctx || EVP_PKEY_encrypt(ctx.get(), out, &outLen, in, len) != 1) return -1;
    return static_cast<int>(outLen);
}

int OaepDecrypt(EVP_PKEY& key, const unsigned char* in, std::size_t len, unsigned char* out) {
    const PkeyCtx ctx = Context(key, EVP_PKEY_decrypt_init, RSA_PKCS1_OAEP_PADDING);
    std::size_t outLen = ModulusBytes(key);
    if (!ctx || EVP_PKEY_decrypt(ctx.get(), out, &outLen, in, len) != 1) return -1;
    return static_cast<int>(outLen);
}

bool Sha256(const unsigned char* data, std::size_t len, unsigned char* digest) {
    return EVP_Digest(data, len, digest, nullptr, EVP_sha256(), nullptr) == 1;
}

bool SignSha256(EVP_PKEY& key, const unsigned char* digest, unsigned char* sig) {
    const PkeyCtx ctx = Sha256Context(key, EVP_PKEY_sign_init);
    const std::size_t k = ModulusBytes(key);
    std::size_t len = k;
    return ctx && EVP_PKEY_sign(ctx.get(), sig, &len, digest, 32) == 1 && len == k;
}

bool VerifySha256(EVP_PKEY& key, const unsigned char* digest, const unsigned char* sig, std::size_t sigLen) {
    if (sigLen != ModulusBytes(key)) return false;
    const PkeyCtx ctx = Sha256Context(key, EVP_PKEY_verify_init);
    return ctx && EVP_PKEY_verify(ctx.get(), sig, sigLen, digest, 32) == 1;
}

}  // namespace cryptutil::detail

#endif
