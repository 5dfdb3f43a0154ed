#include <openssl/rand.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "api_boundary.h"
#include "crypto_library.h"
#include "cryptutil/util.h"
#include "owners.h"
#include "rsa_key.h"
#include "transport_text.h"

namespace {
using cryptutil::detail::Guarded;

// RSAES-OAEP with SHA-1 carries at most k - 2 * 20 - 2 bytes.
constexpr std::size_t kOaepOverhead = 42;

}  // namespace

// The signature has no room for a failure, and a key left unfilled would be used as a fresh one,
// so a refusing generator ends the process, as BoringSSL's own RAND_bytes does.
void GetRandomBytes(unsigned char* key, int keySize) noexcept {
    if (key == nullptr || keySize <= 0) return;
    const cryptutil::detail::ErrorQueueMark mark;
    if (RAND_bytes(key, cryptutil::detail::LengthFor<1>(RAND_bytes, static_cast<std::size_t>(keySize))) != 1) {
        std::fputs("cryptutil: the random generator failed; no key can be drawn\n", stderr);
        std::abort();
    }
}

int EncryptKeyV2(unsigned char* plaintext, int plaintext_size, std::string publicKey, std::string* out) noexcept {
    return Guarded(-1, [&] {
        if (plaintext_size < 0 || (plaintext == nullptr && plaintext_size > 0) || out == nullptr) return -1;
        cryptutil::detail::RsaKey key;
        if (!cryptutil::detail::ReadRsaPublicKey(publicKey, key)) return -1;
        const std::size_t k = cryptutil::detail::ModulusBytes(key);
        if (k < kOaepOverhead || static_cast<std::size_t>(plaintext_size) > k - kOaepOverhead) return -1;

        std::string wrapped(k, '\0');
        unsigned char none = 0;  // OpenSSL copies from the pointer even for an empty secret
        auto* dst = reinterpret_cast<unsigned char*>(wrapped.data());
        if (cryptutil::detail::OaepEncrypt(key, plaintext != nullptr ? plaintext : &none,
                                           static_cast<std::size_t>(plaintext_size), dst) != static_cast<int>(k)) {
            return -1;
        }
        return cryptutil::detail::ToTransportText(dst, k, *out) ? static_cast<int>(k) : -1;
    });
}

int DecryptKeyV2(std::string encrypted, std::string privateKey, unsigned char* out) noexcept {
    return Guarded(-1, [&] {
        const cryptutil::detail::WipeOnExit wipeKeyText(privateKey);  // our copy of the private key
        if (out == nullptr) return -1;
        cryptutil::detail::RsaKey key;
        std::string wrapped;
        // A ciphertext is exactly k bytes (RFC 8017, 7.1.2); anything else never reaches OpenSSL.
        if (!cryptutil::detail::ReadRsaPrivateKey(privateKey, key) ||
            !cryptutil::detail::FromTransportText(encrypted, wrapped) ||
            wrapped.size() != cryptutil::detail::ModulusBytes(key)) {
            return -1;
        }
        return cryptutil::detail::OaepDecrypt(key, reinterpret_cast<const unsigned char*>(wrapped.data()),
                                              wrapped.size(), out);
    });
}
