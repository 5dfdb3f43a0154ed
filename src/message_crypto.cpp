#include <openssl/crypto.h>
#include <openssl/evp.h>

#include <climits>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>

#include "api_boundary.h"
#include "cryptutil/PKCS7.h"
#include "cryptutil/util.h"
#include "transport_text.h"

namespace {

using cryptutil::detail::Guarded;
using cryptutil::detail::WipeOnExit;

constexpr std::uint8_t kPadBlock = BLOCK_SIZE_256_BIT;
constexpr std::size_t kAesBlock = 16;

struct CipherCtxFree {
    void operator()(EVP_CIPHER_CTX* c) const noexcept { EVP_CIPHER_CTX_free(c); }
};
struct PaddedFree {
    void operator()(PKCS7_Padding* p) const noexcept { freePaddingResult(p); }
};
struct UnpaddedFree {
    void operator()(PKCS7_unPadding* p) const noexcept { freeUnPaddingResult(p); }
};
using Padded = std::unique_ptr<PKCS7_Padding, PaddedFree>;
using Unpadded = std::unique_ptr<PKCS7_unPadding, UnpaddedFree>;

const EVP_CIPHER* CipherFor(int keySize) {
    switch (keySize) {
        case 16: return EVP_aes_128_ecb();
        case 24: return EVP_aes_192_ecb();
        case 32: return EVP_aes_256_ecb();
        default: return nullptr;
    }
}

// Runs AES-ECB over `len` bytes (a multiple of 16, at most INT_MAX) in place.
bool EcbInPlace(const EVP_CIPHER* cipher, const unsigned char* key, bool encrypt, unsigned char* data,
                std::size_t len) {
    const std::unique_ptr<EVP_CIPHER_CTX, CipherCtxFree> ctx(EVP_CIPHER_CTX_new());
    if (!ctx || EVP_CipherInit_ex(ctx.get(), cipher, nullptr, key, nullptr, encrypt ? 1 : 0) != 1) return false;
    EVP_CIPHER_CTX_set_padding(ctx.get(), 0);
    int out = 0;
    if (EVP_CipherUpdate(ctx.get(), data, &out, data, static_cast<int>(len)) != 1) return false;
    int tail = 0;
    return EVP_CipherFinal_ex(ctx.get(), data + out, &tail) == 1 &&
           static_cast<std::size_t>(out) + static_cast<std::size_t>(tail) == len;
}

// PKCS#7 as this protocol accepts it: pad length 1..32, every pad byte equal to it. A peer that
// pads to 16-byte blocks produces a subset of this.
bool ValidPadding(const unsigned char* data, std::size_t len) {
    const unsigned n = data[len - 1];
    if (n == 0 || n > kPadBlock || n > len) return false;
    unsigned diff = 0;
    for (std::size_t i = len - n; i < len; ++i) diff |= data[i] ^ n;
    return diff == 0;
}

// Appends `n` bytes to `out` with the strong guarantee. When `out` must move to a larger buffer,
// the old one is wiped before it is released: it may hold messages decrypted by earlier calls.
void AppendWiping(std::string& out, const char* bytes, std::size_t n) {
    if (out.capacity() - out.size() >= n) {
        out.append(bytes, n);
        return;
    }
    std::string grown;
    grown.reserve(out.size() + n);
    grown.append(out).append(bytes, n);
    out.swap(grown);
    const WipeOnExit wipeOld(grown);  // now the old buffer
}

}  // namespace

int EncryptMessage(std::string plaintextStr, unsigned char* key, int keySize, std::string* encryptedMessage) noexcept {
    return Guarded(-1, [&] {
        WipeOnExit wipePlaintext(plaintextStr);
        const EVP_CIPHER* cipher = CipherFor(keySize);
        if (cipher == nullptr || key == nullptr || encryptedMessage == nullptr) return -1;
        if (plaintextStr.size() > static_cast<std::size_t>(INT_MAX) - kPadBlock) return -1;

        // The padding record's buffer is the one working buffer: padded, enciphered in place and
        // encoded from there. The plaintext copy is wiped and released as soon as it is copied.
        Padded padded(addPadding(plaintextStr.data(), plaintextStr.size(), kPadBlock));
        if (!padded) return -1;
        const std::size_t plainLen = plaintextStr.size();
        OPENSSL_cleanse(plaintextStr.data(), plainLen);
        std::string().swap(plaintextStr);
        const auto len = static_cast<std::size_t>(padded->dataLengthWithPadding);
        if (len == 0 || len % kPadBlock != 0 || len < plainLen || len - plainLen > kPadBlock) return -1;
        auto* data = static_cast<unsigned char*>(padded->dataWithPadding);

        if (!EcbInPlace(cipher, key, true, data, len)) return -1;
        cryptutil::detail::ToTransportText(data, len, *encryptedMessage, [&] { padded.reset(); });
        return static_cast<int>(len);
    });
}

int DecryptMessage(std::string encryptedMessage, unsigned char* key, int keySize, std::string* decrypted) noexcept {
    return Guarded(-1, [&] {
        const EVP_CIPHER* cipher = CipherFor(keySize);
        if (cipher == nullptr || key == nullptr || decrypted == nullptr) return -1;

        std::string bytes = cryptutil::detail::FromTransportText(std::move(encryptedMessage));
        WipeOnExit wipeBytes(bytes);  // plaintext once decrypted, on every path
        const std::size_t len = bytes.size();
        if (len == 0 || len % kAesBlock != 0 || len > static_cast<std::size_t>(INT_MAX)) return -1;
        auto* data = reinterpret_cast<unsigned char*>(bytes.data());

        if (!EcbInPlace(cipher, key, false, data, len) || !ValidPadding(data, len)) return -1;
        const Unpadded plain(removePadding(data, len));
        if (!plain || plain->dataLengthWithoutPadding >= len) return -1;
        const auto* message = static_cast<const char*>(plain->dataWithoutPadding);
        const auto messageLen = static_cast<std::size_t>(plain->dataLengthWithoutPadding);
        if (decrypted->empty() && decrypted->capacity() < messageLen && message == bytes.data()) {
            // The working buffer becomes the output: no copy of the message is made.
            bytes.resize(messageLen);
            decrypted->swap(bytes);
            return 0;
        }
        AppendWiping(*decrypted, message, messageLen);
        return 0;
    });
}
