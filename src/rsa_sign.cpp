#include <openssl/sha.h>

#include <new>
#include <string>

#include "api_boundary.h"
#include "constant_time.h"
#include "cryptutil/util.h"
#include "rsa_key.h"
#include "transport_text.h"

namespace {

using namespace cryptutil::detail;

// The SHA-256 digest of `data`; false only when memory runs out.
bool Digest(const std::string& data, unsigned char* hash) {
    return Sha256(reinterpret_cast<const unsigned char*>(data.data()), data.size(), hash);
}

}  // namespace

void hashData(const std::string& data, unsigned char* hash) {
    if (hash == nullptr) return;
    KeepingErrorQueue([&] {
        if (!Digest(data, hash)) throw std::bad_alloc();
    });
}

// A signature is verified with the key's public half before it is returned, as a pairwise check
// would: a key whose parts agree but whose factors are not prime signs nothing that does not verify.
std::string createRSASignature(const std::string& privatePem, const std::string& data) noexcept {
    return Guarded(std::string(), [&] {
        RsaKey key;
        unsigned char digest[SHA256_DIGEST_LENGTH];
        if (!ReadRsaPrivateKey(privatePem, key) || !Digest(data, digest)) return std::string();
        const std::size_t k = ModulusBytes(key);
        std::string sig(k, '\0');
        auto* bytes = reinterpret_cast<unsigned char*>(sig.data());
        if (!SignSha256(key, digest, bytes)) return std::string();
        Declassify(bytes, k);  // a signature is public
        std::string text;
        return VerifySha256(key, digest, bytes, k) && ToTransportText(bytes, k, text) ? text : std::string();
    });
}

bool verifyRSASignature(const std::string& publicPem, const std::string& signature, const std::string& data) noexcept {
    return Guarded(false, [&] {
        std::string sig;
        RsaKey key;
        unsigned char digest[SHA256_DIGEST_LENGTH];
        return FromTransportText(signature, sig) && ReadRsaPublicKey(publicPem, key) && Digest(data, digest) &&
               VerifySha256(key, digest, reinterpret_cast<const unsigned char*>(sig.data()), sig.size());
    });
}
