// OpenSSL 3 deprecates the RSA type, but reading keys through it is what keeps per-call parsing
// cheap: PEM decoding plus d2i_RSA_PUBKEY takes about 5 microseconds where PEM_read_bio_PUBKEY
// and OSSL_DECODER take 100 to 270, and PEM decoding plus d2i_RSAPrivateKey about 10 where
// PEM_read_bio_RSAPrivateKey takes about 350. The low-level SHA-256 functions, deprecated too,
// need no allocation and so cannot fail. The suppression stays in this file.
#define OPENSSL_SUPPRESS_DEPRECATED

#include "rsa_key.h"

#include <openssl/bio.h>
#include <openssl/crypto.h>
#include <openssl/obj_mac.h>
#include <openssl/objects.h>
#include <openssl/pem.h>
#include <openssl/rsa.h>
#include <openssl/sha.h>
#include <openssl/x509.h>

#include <cstring>
#include <optional>

namespace cryptutil::detail {
namespace {

struct BioFree {
    void operator()(BIO* b) const noexcept { BIO_free(b); }
};
// PEM_FLAG_SECURE makes the reader wipe every buffer it used for the key's text and bytes; its
// results come from the secure allocator (the plain heap unless the host set a secure heap up).
struct SecureFree {
    void operator()(void* p) const noexcept { OPENSSL_secure_free(p); }
};
struct DerFree {
    long len = 0;
    void operator()(unsigned char* p) const noexcept { OPENSSL_secure_clear_free(p, static_cast<std::size_t>(len)); }
};
struct Pkcs8Free {
    void operator()(PKCS8_PRIV_KEY_INFO* p) const noexcept { PKCS8_PRIV_KEY_INFO_free(p); }
};

struct PemBlock {
    std::unique_ptr<char, SecureFree> label;
    std::unique_ptr<char, SecureFree> header;
    std::unique_ptr<unsigned char, DerFree> der;
    long len = 0;
};

// The first PEM block, in text read up to its first NUL, whose label `wanted` accepts; blocks
// with other labels are skipped, as OpenSSL's own readers do.
template <typename Wanted>
std::optional<PemBlock> FirstBlock(const std::string& pem, Wanted wanted) {
    const std::unique_ptr<BIO, BioFree> bio(BIO_new_mem_buf(pem.c_str(), -1));
    if (!bio) return std::nullopt;
    for (;;) {
        char* label = nullptr;
        char* header = nullptr;
        unsigned char* der = nullptr;
        long len = 0;
        if (PEM_read_bio_ex(bio.get(), &label, &header, &der, &len, PEM_FLAG_SECURE | PEM_FLAG_EAY_COMPATIBLE) != 1) {
            return std::nullopt;
        }
        PemBlock block{decltype(PemBlock::label)(label), decltype(PemBlock::header)(header),
                       decltype(PemBlock::der)(der, DerFree{len}), len};
        if (wanted(label)) return block;
    }
}

bool Is(const char* label, const char* expected) {
    return std::strcmp(label, expected) == 0;
}

RsaKey FromPkcs1(const unsigned char* der, long len) {
    return RsaKey(d2i_RSAPrivateKey(nullptr, &der, len));
}

RsaKey FromPkcs8(const unsigned char* der, long len) {
    const std::unique_ptr<PKCS8_PRIV_KEY_INFO, Pkcs8Free> info(d2i_PKCS8_PRIV_KEY_INFO(nullptr, &der, len));
    const unsigned char* inner = nullptr;
    int innerLen = 0;
    const X509_ALGOR* alg = nullptr;
    if (!info || PKCS8_pkey_get0(nullptr, &inner, &innerLen, &alg, info.get()) != 1) return nullptr;
    const ASN1_OBJECT* oid = nullptr;
    X509_ALGOR_get0(&oid, nullptr, nullptr, alg);
    if (OBJ_obj2nid(oid) != NID_rsaEncryption) return nullptr;
    return FromPkcs1(inner, innerLen);
}

// Only rsaEncryption keys: an RSA-PSS key is restricted to PSS signatures, which this library
// neither makes nor checks, and OpenSSL's own tools refuse it for anything else.
RsaKey PlainRsaOnly(RsaKey key) {
    if (key && RSA_test_flags(key.get(), RSA_FLAG_TYPE_MASK) != RSA_FLAG_TYPE_RSA) return nullptr;
    return key;
}

}  // namespace

void RsaKeyFree::operator()(RSA* key) const noexcept {
    RSA_free(key);
}

RsaKey ReadRsaPublicKey(const std::string& pem) {
    const auto block = FirstBlock(pem, [](const char* label) { return Is(label, PEM_STRING_PUBLIC); });
    if (!block) return nullptr;
    const unsigned char* der = block->der.get();
    return PlainRsaOnly(RsaKey(d2i_RSA_PUBKEY(nullptr, &der, block->len)));
}

RsaKey ReadRsaPrivateKey(const std::string& pem) {
    const auto block =
        FirstBlock(pem, [](const char* label) { return Is(label, PEM_STRING_RSA) || Is(label, PEM_STRING_PKCS8INF); });
    // A header ("Proc-Type: 4,ENCRYPTED") marks a pass-phrase-protected key: unreadable here, and
    // never a prompt. Encrypted PKCS #8 has a label of its own and is never picked.
    if (!block || *block->header != '\0') return nullptr;
    return PlainRsaOnly(Is(block->label.get(), PEM_STRING_RSA) ? FromPkcs1(block->der.get(), block->len)
                                                               : FromPkcs8(block->der.get(), block->len));
}

std::size_t ModulusBytes(const RSA& key) {
    return static_cast<std::size_t>(RSA_size(&key));
}

int OaepEncrypt(RSA& key, const unsigned char* in, int len, unsigned char* out) {
    return RSA_public_encrypt(len, in, out, &key, RSA_PKCS1_OAEP_PADDING);
}

int OaepDecrypt(RSA& key, const unsigned char* in, int len, unsigned char* out) {
    return RSA_private_decrypt(len, in, out, &key, RSA_PKCS1_OAEP_PADDING);
}

void Sha256(const unsigned char* data, std::size_t len, unsigned char* digest) {
    SHA256_CTX ctx;
    SHA256_Init(&ctx);
    SHA256_Update(&ctx, data, len);
    SHA256_Final(digest, &ctx);
    OPENSSL_cleanse(&ctx, sizeof ctx);
}

bool SignSha256(RSA& key, const unsigned char* digest, unsigned char* sig) {
    unsigned int len = 0;
    return RSA_sign(NID_sha256, digest, 32, sig, &len, &key) == 1 && len == ModulusBytes(key);
}

bool VerifySha256(RSA& key, const unsigned char* digest, const unsigned char* sig, std::size_t sigLen) {
    if (sigLen != ModulusBytes(key)) return false;
    return RSA_verify(NID_sha256, digest, 32, sig, static_cast<unsigned int>(sigLen), &key) == 1;
}

}  // namespace cryptutil::detail
