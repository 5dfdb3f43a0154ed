// Which key a PEM text gives, by the library's reader and by the crypto library's own PEM readers:
// the modulus as hex, or "". Shared by the key differential test and its fuzz target.
#ifndef CRYPTUTIL_FUZZ_KEY_VERDICTS_H
#define CRYPTUTIL_FUZZ_KEY_VERDICTS_H

#include <openssl/bn.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rsa.h>

#include <string>

#include "rsa_key.h"

namespace key_verdicts {

inline std::string HexOf(const BIGNUM* n) {
    if (n == nullptr) return "";
    char* hex = BN_bn2hex(n);
    std::string out = hex;
    OPENSSL_free(hex);
    return out;
}

// The modulus of a key as hex, and whether it has a private exponent.
#if defined(OPENSSL_NO_DEPRECATED_3_0)
inline std::string Modulus(const EVP_PKEY* key, bool& isPrivate) {
    BIGNUM *n = nullptr, *d = nullptr;
    const bool rsa = EVP_PKEY_get_base_id(key) == EVP_PKEY_RSA && EVP_PKEY_get_bn_param(key, "n", &n) == 1;
    isPrivate = EVP_PKEY_get_bn_param(key, "d", &d) == 1;
    const std::string hex = rsa ? HexOf(n) : "";
    BN_free(n);
    BN_clear_free(d);
    return hex;
}
#else
inline std::string Modulus(const RSA* rsa, bool& isPrivate) {
    isPrivate = rsa != nullptr && RSA_get0_d(rsa) != nullptr;
    return rsa == nullptr ? "" : HexOf(RSA_get0_n(rsa));
}
inline std::string Modulus(const EVP_PKEY* key, bool& isPrivate) {
    return Modulus(EVP_PKEY_get0_RSA(const_cast<EVP_PKEY*>(key)), isPrivate);
}
#endif

// The modulus of the RSA key the crypto library reads (with its private exponent, for a private
// key), or "".
inline std::string Theirs(const std::string& pem, bool isPrivate) {
    BIO* bio = BIO_new_mem_buf(pem.c_str(), -1);
    EVP_PKEY* key = isPrivate ? PEM_read_bio_PrivateKey(bio, nullptr, nullptr, const_cast<char*>(""))
                              : PEM_read_bio_PUBKEY(bio, nullptr, nullptr, nullptr);
    bool hasPrivate = false;
    std::string n = key != nullptr && EVP_PKEY_base_id(key) == EVP_PKEY_RSA ? Modulus(key, hasPrivate) : "";
    if (isPrivate && !hasPrivate) n.clear();
    EVP_PKEY_free(key);
    BIO_free(bio);
    ERR_clear_error();
    return n;
}

// The modulus of the key the library reads, or "".
inline std::string Ours(const std::string& pem, bool isPrivate) {
    cryptutil::detail::RsaKey key;
    bool hasPrivate = false;
    const bool read =
        isPrivate ? cryptutil::detail::ReadRsaPrivateKey(pem, key) : cryptutil::detail::ReadRsaPublicKey(pem, key);
    return read ? Modulus(key.get(), hasPrivate) : "";
}

}  // namespace key_verdicts

#endif
