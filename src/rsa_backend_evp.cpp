// RSA keys held as an EVP_PKEY, for an OpenSSL 3 built without deprecated APIs. Keys are made from
// their numbers: OpenSSL 3's DER decoders leave copies of a key in memory they free unwiped.
#include "rsa_backend.h"

#if defined(CRYPTUTIL_RSA_AS_EVP_PKEY)

#include <openssl/core_names.h>
#include <string>
#include <utility>

#include "constant_time.h"

namespace cryptutil::detail {
namespace {

using PkeyCtx = Owned<EVP_PKEY_CTX, EVP_PKEY_CTX_free>;

// The numbers go to OpenSSL in a buffer of ours, in its byte order, which is wiped.
bool MakeKey(const RsaNumbers<>& k, int selection, RsaKey& key) {
    const std::pair<const char*, const Bignum*> numbers[] = {
        {OSSL_PKEY_PARAM_RSA_N, &k.n},          {OSSL_PKEY_PARAM_RSA_E, &k.e},
        {OSSL_PKEY_PARAM_RSA_D, &k.d},          {OSSL_PKEY_PARAM_RSA_FACTOR1, &k.p},
        {OSSL_PKEY_PARAM_RSA_FACTOR2, &k.q},    {OSSL_PKEY_PARAM_RSA_EXPONENT1, &k.dP},
        {OSSL_PKEY_PARAM_RSA_EXPONENT2, &k.dQ}, {OSSL_PKEY_PARAM_RSA_COEFFICIENT1, &k.qInv}};
    // The numbers' lengths are the key's public structure; their bytes stay secret.
    auto length = [](const Bignum& n) { return static_cast<std::size_t>(Declassified(BN_num_bytes(n.get()))); };
    std::size_t total = 0;
    for (const auto& number : numbers) total += *number.second ? length(*number.second) : 0;
    std::string buffer(total, '\0');
    const WipeOnExit wipe(buffer);
    OSSL_PARAM params[9];
    std::size_t count = 0, at = 0;
    for (const auto& [name, number] : numbers) {
        if (!*number) continue;
        auto* bytes = reinterpret_cast<unsigned char*>(buffer.data()) + at;
        const std::size_t len = length(*number);
        if (Declassified(BN_bn2nativepad(number->get(), bytes, static_cast<int>(len))) < 0) return false;
        params[count++] = OSSL_PARAM_construct_BN(name, bytes, len);
        at += len;
    }
    params[count] = OSSL_PARAM_construct_end();
    const PkeyCtx ctx(EVP_PKEY_CTX_new_from_name(nullptr, "RSA", nullptr));
    EVP_PKEY* made = nullptr;
    if (!ctx || EVP_PKEY_fromdata_init(ctx.get()) != 1 ||
        Declassified(EVP_PKEY_fromdata(ctx.get(), &made, selection, params)) != 1) {
        return false;
    }
    key.reset(made);
    return true;
}

// A context for one operation on `key`, set up by `init` and RSA padding `padding`.
PkeyCtx Context(const RsaKey& key, int (*init)(EVP_PKEY_CTX*), int padding, bool sha256) {
    PkeyCtx ctx(EVP_PKEY_CTX_new(key.get(), nullptr));
    if (!ctx || init(ctx.get()) != 1 || EVP_PKEY_CTX_set_rsa_padding(ctx.get(), padding) != 1 ||
        (sha256 && EVP_PKEY_CTX_set_signature_md(ctx.get(), EVP_sha256()) != 1)) {
        return nullptr;
    }
    return ctx;
}

}  // namespace

void FreeRsaKey(EVP_PKEY* key) {
    EVP_PKEY_free(key);
}

bool MakePublicKey(RsaNumbers<>& numbers, RsaKey& key) {
    return MakeKey(numbers, EVP_PKEY_PUBLIC_KEY, key);
}

bool MakePrivateKey(RsaNumbers<>& numbers, RsaKey& key) {
    return WithoutD(numbers) && MakeKey(numbers, EVP_PKEY_KEYPAIR, key);
}

std::size_t ModulusBytes(const RsaKey& key) {
    return static_cast<std::size_t>(EVP_PKEY_get_size(key.get()));
}

int OaepEncrypt(const RsaKey& key, const unsigned char* in, std::size_t len, unsigned char* out) {
    const PkeyCtx ctx = Context(key, EVP_PKEY_encrypt_init, RSA_PKCS1_OAEP_PADDING, false);
    std::size_t outLen = ModulusBytes(key);
    if (!ctx || EVP_PKEY_encrypt(ctx.get(), out, &outLen, in, len) != 1) return -1;
    return static_cast<int>(outLen);
}

int OaepDecrypt(const RsaKey& key, const unsigned char* in, std::size_t len, unsigned char* out) {
    const PkeyCtx ctx = Context(key, EVP_PKEY_decrypt_init, RSA_PKCS1_OAEP_PADDING, false);
    std::size_t outLen = ModulusBytes(key);
    if (!ctx || Declassified(EVP_PKEY_decrypt(ctx.get(), out, &outLen, in, len)) != 1) return -1;
    return static_cast<int>(Declassified(outLen));
}

bool Sha256(const unsigned char* data, std::size_t len, unsigned char* digest) {
    return EVP_Digest(data, len, digest, nullptr, EVP_sha256(), nullptr) == 1;
}

bool SignSha256(const RsaKey& key, const unsigned char* digest, unsigned char* sig) {
    const PkeyCtx ctx = Context(key, EVP_PKEY_sign_init, RSA_PKCS1_PADDING, true);
    const std::size_t k = ModulusBytes(key);
    std::size_t len = k;
    return ctx && Declassified(EVP_PKEY_sign(ctx.get(), sig, &len, digest, 32)) == 1 && Declassified(len) == k;
}

bool VerifySha256(const RsaKey& key, const unsigned char* digest, const unsigned char* sig, std::size_t sigLen) {
    if (sigLen != ModulusBytes(key)) return false;
    const PkeyCtx ctx = Context(key, EVP_PKEY_verify_init, RSA_PKCS1_PADDING, true);
    return ctx && EVP_PKEY_verify(ctx.get(), sig, sigLen, digest, 32) == 1;
}

}  // namespace cryptutil::detail

#endif
