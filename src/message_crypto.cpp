#include <openssl/evp.h>

#include <climits>
#include <cstdint>
#include <memory>
#include <string>

#include "cryptutil/PKCS7.h"
#include "cryptutil/util.h"
#include "transport_text.h"

namespace {

constexpr std::uint8_t kPadBlock = BLOCK_SIZE_256_BIT;
constexpr std::size_t kAesBlock = 16;

using CipherCtx = std::unique_ptr<EVP_CIPHER_CTX, decltype(&EVP_CIPHER_CTX_free)>;
using Padded = std::unique_ptr<PKCS7_Padding, decltype(&freePaddingResult)>;
using Unpadded = std::unique_ptr<PKCS7_unPadding, decltype(&freeUnPaddingResult)>;

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
    CipherCtx ctx(EVP_CIPHER_CTX_new(), &EVP_CIPHER_CTX_free);
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

}  // namespace

int EncryptMessage(std::string plaintextStr, unsigned char* key, int keySize, std::string* encryptedMessage) {
    const EVP_CIPHER* cipher = CipherFor(keySize);
    if (cipher == nullptr || key == nullptr || encryptedMessage == nullptr) return -1;
    if (plaintextStr.size() > static_cast<std::size_t>(INT_MAX) - kPadBlock) return -1;

    const Padded padded(addPadding(plaintextStr.data(), plaintextStr.size(), kPadBlock), &freePaddingResult);
    if (!padded) return -1;
    const auto len = static_cast<std::size_t>(padded->dataLengthWithPadding);
    if (len == 0 || len % kPadBlock != 0 || len - plaintextStr.size() > kPadBlock) return -1;
    auto* data = static_cast<unsigned char*>(padded->dataWithPadding);

    if (!EcbInPlace(cipher, key, true, data, len)) return -1;
    *encryptedMessage = cryptutil::detail::ToTransportText(data, len);
    return static_cast<int>(len);
}

// The by-value parameters are the published signatures.
int DecryptMessage(std::string encryptedMessage,  // NOLINT(performance-unnecessary-value-param)
                   unsigned char* key, int keySize, std::string* decrypted) {
    const EVP_CIPHER* cipher = CipherFor(keySize);
    if (cipher == nullptr || key == nullptr || decrypted == nullptr) return -1;

    std::string bytes = cryptutil::detail::FromTransportText(encryptedMessage);
    const std::size_t len = bytes.size();
    if (len == 0 || len % kAesBlock != 0 || len > static_cast<std::size_t>(INT_MAX)) return -1;
    auto* data = reinterpret_cast<unsigned char*>(bytes.data());

    if (!EcbInPlace(cipher, key, false, data, len) || !ValidPadding(data, len)) return -1;
    const Unpadded plain(removePadding(data, len), &freeUnPaddingResult);
    if (!plain || plain->dataLengthWithoutPadding >= len) return -1;
    decrypted->append(static_cast<const char*>(plain->dataWithoutPadding),
                      static_cast<std::size_t>(plain->dataLengthWithoutPadding));
    return 0;
}
