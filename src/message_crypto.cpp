#include <openssl/evp.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <utility>

#include "api_boundary.h"
#include "cryptutil/PKCS7.h"
#include "cryptutil/util.h"
#include "transport_text.h"

namespace {

using cryptutil::detail::Guarded;
using cryptutil::detail::TransportTextReader;
using cryptutil::detail::WipeOnExit;

constexpr std::uint8_t kPadBlock = BLOCK_SIZE_256_BIT;
constexpr std::size_t kAesBlock = 16;

struct PaddedFree {
    void operator()(PKCS7_Padding* p) const noexcept { freePaddingResult(p); }
};
struct UnpaddedFree {
    void operator()(PKCS7_unPadding* p) const noexcept { freeUnPaddingResult(p); }
};
using Padded = std::unique_ptr<PKCS7_Padding, PaddedFree>;

// Wipes the padding record's `len` bytes of plaintext before it is freed: when the scope ends, or
// earlier by Release(). A host's component may free without wiping.
struct PaddedWipe {
    Padded& padded;
    std::size_t len;
    void Release() const noexcept {
        if (!padded) return;
        cryptutil::detail::Wipe(padded->dataWithPadding, len);
        padded.reset();
    }
    ~PaddedWipe() { Release(); }
};
using Unpadded = std::unique_ptr<PKCS7_unPadding, UnpaddedFree>;

const EVP_CIPHER* CipherFor(int keySize) {
    switch (keySize) {
        case 16: return EVP_aes_128_ecb();
        case 24: return EVP_aes_192_ecb();
        case 32: return EVP_aes_256_ecb();
        default: return nullptr;
    }
}

struct CipherCtxFree {
    void operator()(EVP_CIPHER_CTX* c) const noexcept { EVP_CIPHER_CTX_free(c); }
};
using CipherCtx = std::unique_ptr<EVP_CIPHER_CTX, CipherCtxFree>;

// An AES-ECB context over whole blocks; the padding is ours, so EVP's is off.
CipherCtx NewEcb(const EVP_CIPHER* cipher, const unsigned char* key, bool encrypt) {
    CipherCtx ctx(EVP_CIPHER_CTX_new());
    if (!ctx || EVP_CipherInit_ex(ctx.get(), cipher, nullptr, key, nullptr, encrypt ? 1 : 0) != 1 ||
        EVP_CIPHER_CTX_set_padding(ctx.get(), 0) != 1) {
        return nullptr;
    }
    return ctx;
}

// Runs the context over `len` bytes (whole blocks, at most INT_MAX) from `in` to `out`, disjoint
// buffers; `out` has room for `len` + kAesBlock bytes, as EVP's manuals ask. True when exactly
// `len` bytes came out.
bool Update(EVP_CIPHER_CTX* ctx, const unsigned char* in, std::size_t len, unsigned char* out) {
    int n = 0;
    return EVP_CipherUpdate(ctx, out, &n, in, static_cast<int>(len)) == 1 && n >= 0 &&
           static_cast<std::size_t>(n) == len;
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

constexpr std::size_t kBad = SIZE_MAX;

// Checks and removes the padding of `len` deciphered bytes: returns the message's length (the
// message stays at `data`), or kBad.
std::size_t Unpad(unsigned char* data, std::size_t len) {
    if (len == 0 || !ValidPadding(data, len)) return kBad;
    const Unpadded plain(removePadding(data, len));
    if (!plain || plain->dataLengthWithoutPadding >= len) return kBad;
    const auto messageLen = static_cast<std::size_t>(plain->dataLengthWithoutPadding);
    if (plain->dataWithoutPadding != data) std::memmove(data, plain->dataWithoutPadding, messageLen);
    return messageLen;
}

// What a call appends to a string behind its old content, until committed: wiped and cut off
// again on every other path.
class Appended {
public:
    Appended(std::string& s, std::size_t base) noexcept : s_(s), base_(base) {}
    ~Appended() {
        if (committed_) return;
        cryptutil::detail::Wipe(s_.data() + base_, s_.size() - base_);
        s_.resize(base_);
    }
    Appended(const Appended&) = delete;
    Appended& operator=(const Appended&) = delete;

    unsigned char* At(std::size_t offset) noexcept {
        return reinterpret_cast<unsigned char*>(s_.data()) + base_ + offset;
    }
    void Commit(std::size_t n) noexcept {
        s_.resize(base_ + n);
        committed_ = true;
    }

private:
    std::string& s_;
    std::size_t base_;
    bool committed_ = false;
};

}  // namespace

int EncryptMessage(std::string plaintextStr, unsigned char* key, int keySize, std::string* encryptedMessage) noexcept {
    return Guarded(-1, [&] {
        WipeOnExit wipePlaintext(plaintextStr);
        const EVP_CIPHER* cipher = CipherFor(keySize);
        if (cipher == nullptr || key == nullptr || encryptedMessage == nullptr) return -1;
        if (plaintextStr.size() > static_cast<std::size_t>(INT_MAX) - kPadBlock) return -1;
        const CipherCtx ctx = NewEcb(cipher, key, true);
        if (!ctx) return -1;

        // The plaintext copy is wiped and released as soon as the padding record holds it.
        Padded padded(addPadding(plaintextStr.data(), plaintextStr.size(), kPadBlock));
        if (!padded) return -1;
        const std::size_t plainLen = plaintextStr.size();
        cryptutil::detail::Wipe(plaintextStr.data(), plainLen);
        std::string().swap(plaintextStr);
        const auto len = static_cast<std::size_t>(padded->dataLengthWithPadding);
        if (len == 0 || len % kPadBlock != 0 || len < plainLen || len - plainLen > kPadBlock) return -1;
        const auto* data = static_cast<const unsigned char*>(padded->dataWithPadding);
        const PaddedWipe wipePadded{padded, len};

        // Each piece is enciphered into `cipherPiece` and encoded while still in cache.
        const std::size_t room = std::min(len, cryptutil::detail::kPieceBytes) + kAesBlock;
        const auto cipherPiece = std::make_unique<unsigned char[]>(room);
        const bool done = cryptutil::detail::ToTransportText(
            len, *encryptedMessage,
            [&](std::size_t offset, std::size_t n) -> const unsigned char* {
                return Update(ctx.get(), data + offset, n, cipherPiece.get()) ? cipherPiece.get() : nullptr;
            },
            [&] { wipePadded.Release(); });
        return done ? static_cast<int>(len) : -1;
    });
}

int DecryptMessage(std::string encryptedMessage, unsigned char* key, int keySize, std::string* decrypted) noexcept {
    return Guarded(-1, [&] {
        const EVP_CIPHER* cipher = CipherFor(keySize);
        if (cipher == nullptr || key == nullptr || decrypted == nullptr) return -1;
        const CipherCtx ctx = NewEcb(cipher, key, false);
        if (!ctx) return -1;
        const std::size_t maxBytes = TransportTextReader::MaxBytes(encryptedMessage);
        TransportTextReader reader(std::move(encryptedMessage));
        std::string piece;
        if (!reader.Next(piece)) return -1;

        // Deciphered piece by piece straight behind what *decrypted holds: in its own buffer when
        // that has room for the message and the block EVP may write beyond it, else in a larger
        // one that takes its content over (the old buffer is wiped once released: it may hold
        // earlier messages).
        const std::size_t base = decrypted->size();
        const std::size_t room = (reader.Done() ? piece.size() : std::min(maxBytes, std::size_t{INT_MAX})) + kAesBlock;
        std::string grown;
        const WipeOnExit wipeGrown(grown);
        std::string* target = decrypted;
        if (decrypted->capacity() - base < room) {
            grown.reserve(base + room);
            grown = *decrypted;
            target = &grown;
        }
        Appended message(*target, base);
        std::size_t len = 0;
        do {
            if (piece.size() % kAesBlock != 0 || piece.size() > static_cast<std::size_t>(INT_MAX) - len) return -1;
            target->resize(base + len + piece.size() + kAesBlock);  // within capacity
            if (!Update(ctx.get(), reinterpret_cast<const unsigned char*>(piece.data()), piece.size(),
                        message.At(len))) {
                return -1;
            }
            len += piece.size();
        } while (reader.Next(piece));
        if (reader.Failed()) return -1;
        const std::size_t messageLen = Unpad(message.At(0), len);
        if (messageLen == kBad) return -1;
        message.Commit(messageLen);
        if (target == &grown) decrypted->swap(grown);
        return 0;
    });
}
