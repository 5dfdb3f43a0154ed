#include <openssl/sha.h>

#include <new>
#include <string>

#include "api_boundary.h"
#include "cryptutil/util.h"
#include "rsa_key.h"
#include "transport_text.h"

namespace {

// The SHA-256 digest of `data`; false only when memory runs out.
bool Digest(const std::string& data, unsigned char* hash) {
    return cryptutil::detail::Sha256(reinterpret_cast<const unsigned char*>(data.data()), data.size(), hash);
}

}  // namespace

void hashData(const std::string& data, unsigned char* hash) {
    if (hash == nullptr) return;
    cryptutil::detail::Marked([&] {
        if (!Digest(data, hash)) throw std::bad_alloc();
    });
}

std::string createRSASignature(const std::string& privatePem, const std::string& data) noexcept {
    return cryptutil::detail::Guarded(std::string(), [&] {
        const auto key = cryptutil::detail::ReadRsaPrivateKey(privatePem);
        if (!key) return std::string();
        unsigned char digest[SHA256_DIGEST_LENGTH];
        if (!Digest(data, digest)) return std::string();
        const std::size_t k = cryptutil::detail::ModulusBytes(*key);
        std::string sig(k, '\0');
        auto* dst = reinterpret_cast<unsigned char*>(sig.data());
        if (!cryptutil::detail::SignSha256(*key, digest, dst)) return std::string();
        return cryptutil::detail::ToTransportText(dst, k);
    });
}

bool verifyRSASignature(const std::string& publicPem, const std::string& signature, const std::string& data) noexcept {
    return cryptutil::detail::Guarded(false, [&] {
        std::string sig;
        if (!cryptutil::detail::FromTransportText(signature, sig)) return false;
        const auto key = cryptutil::detail::ReadRsaPublicKey(publicPem);
        if (!key) return false;
        unsigned char digest[SHA256_DIGEST_LENGTH];
        if (!Digest(data, digest)) return false;
        return cryptutil::detail::VerifySha256(*key, digest, reinterpret_cast<const unsigned char*>(sig.data()),
                                               sig.size());
    });
}
