// RSA keys held as an EVP_PKEY, for an OpenSSL 3 built without deprecated APIs.
#include "rsa_backend.h"

#if defined(CRYPTUTIL_RSA_AS_EVP_PKEY)

#include <openssl/bn.h>
#include <openssl/core_names.h>

#include <algorithm>
#include <cstdint>
#include <string>

#include "der.h"
#include "owners.h"

namespace cryptutil::detail {
namespace {

struct PkeyCtxFree {
    void operator()(EVP_PKEY_CTX* ctx) const noexcept { EVP_PKEY_CTX_free(ctx); }
};
using PkeyCtx = std::unique_ptr<EVP_PKEY_CTX, PkeyCtxFree>;

// The byte order OSSL_PARAM expects integers in.
bool LittleEndian() {
    const std::uint16_t one = 1;
    unsigned char first = 0;
    std::memcpy(&first, &one, 1);
    return first == 1;
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
    const unsigned char* end = der + len;
    RsaKey key(d2i_PublicKey(EVP_PKEY_RSA, nullptr, &der, static_cast<long>(len)));
    return key && der == end ? std::move(key) : nullptr;
}

// Read here and handed to OpenSSL as numbers: its DER decoders leave copies of the key in memory
// they free unwiped. Two-prime keys (version 0), as RFC 8017 keys are but for multi-prime ones.
RsaKey RsaPrivateKeyFromDer(const unsigned char* der, std::size_t len) {
    static const char* const kNames[] = {OSSL_PKEY_PARAM_RSA_N,         OSSL_PKEY_PARAM_RSA_E,
                                         OSSL_PKEY_PARAM_RSA_D,         OSSL_PKEY_PARAM_RSA_FACTOR1,
                                         OSSL_PKEY_PARAM_RSA_FACTOR2,   OSSL_PKEY_PARAM_RSA_EXPONENT1,
                                         OSSL_PKEY_PARAM_RSA_EXPONENT2, OSSL_PKEY_PARAM_RSA_COEFFICIENT1};
    constexpr std::size_t kCount = sizeof kNames / sizeof kNames[0];
    Der all(der, len), key, version;
    if (!all.Take(kDerSequence, key) || !all.Empty() || !key.Take(kDerInteger, version) ||
        !version.Is(reinterpret_cast<const unsigned char*>("\0"), 1)) {
        return nullptr;
    }
    // The numbers in OSSL_PARAM's byte order, in one buffer of the key's size that is wiped.
    std::string numbers;
    const SecretString wipeNumbers(numbers);
    numbers.reserve(len);
    Der values[kCount];
    for (Der& value : values) {
        if (!key.Take(kDerInteger, value) || value.Empty() || (value.data()[0] & 0x80) != 0) return nullptr;
    }
    if (!key.Empty()) return nullptr;
    OSSL_PARAM params[kCount + 1];
    std::size_t offsets[kCount];
    for (std::size_t i = 0; i < kCount; ++i) {
        offsets[i] = numbers.size();
        numbers.append(reinterpret_cast<const char*>(values[i].data()), values[i].size());
        if (LittleEndian()) std::reverse(numbers.begin() + static_cast<std::ptrdiff_t>(offsets[i]), numbers.end());
    }
    for (std::size_t i = 0; i < kCount; ++i) {
        params[i] = OSSL_PARAM_construct_BN(kNames[i], reinterpret_cast<unsigned char*>(numbers.data() + offsets[i]),
                                            values[i].size());
    }
    params[kCount] = OSSL_PARAM_construct_end();
    const PkeyCtx ctx(EVP_PKEY_CTX_new_from_name(nullptr, "RSA", nullptr));
    EVP_PKEY* pkey = nullptr;
    if (!ctx || EVP_PKEY_fromdata_init(ctx.get()) != 1 ||
        EVP_PKEY_fromdata(ctx.get(), &pkey, EVP_PKEY_KEYPAIR, params) != 1) {
        return nullptr;
    }
    return RsaKey(pkey);
}

std::size_t ModulusBytes(const EVP_PKEY& key) {
    return static_cast<std::size_t>(EVP_PKEY_get_size(&key));
}

std::size_t ModulusBits(const EVP_PKEY& key) {
    return static_cast<std::size_t>(EVP_PKEY_get_bits(&key));
}

bool OddExponentOfAtLeast3(const EVP_PKEY& key) {
    BIGNUM* e = nullptr;
    if (EVP_PKEY_get_bn_param(&key, OSSL_PKEY_PARAM_RSA_E, &e) != 1) return false;
    const bool ok = BN_is_negative(e) == 0 && BN_is_odd(e) != 0 && BN_is_one(e) == 0;
    BN_free(e);
    return ok;
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
