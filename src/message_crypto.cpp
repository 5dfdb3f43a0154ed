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

// An AES-ECB context for whole blocks; padding is the caller's. EVP's own padding stays on:
// turning it off is an OSSL_PARAM round trip costing about as much as all the rest of a 64-byte
// message's work besides the key schedule. Encrypting, it acts only in EVP_CipherFinal, never
// called here. Deciphering, it only makes each update hold its last block back until more input
// comes, which Decipher() allows for.
CipherCtx NewEcb(const EVP_CIPHER* cipher, const unsigned char* key, bool encrypt) {
    CipherCtx ctx(EVP_CIPHER_CTX_new());
    if (!ctx || EVP_CipherInit_ex(ctx.get(), cipher, nullptr, key, nullptr, encrypt ? 1 : 0) != 1) return nullptr;
    return ctx;
}

// Runs the context over `len` bytes (whole blocks, at most INT_MAX) to `out`, which may be `in`;
// adds what it wrote to `written`.
bool Update(EVP_CIPHER_CTX* ctx, const unsigned char* in, std::size_t len, unsigned char* out, std::size_t& written) {
    int n = 0;
    if (EVP_CipherUpdate(ctx, out, &n, in, static_cast<int>(len)) != 1 || n < 0) return false;
    written += static_cast<std::size_t>(n);
    return true;
}

// Enciphers `len` bytes in place.
bool Encipher(EVP_CIPHER_CTX* ctx, unsigned char* data, std::size_t len) {
    std::size_t written = 0;
    return Update(ctx, data, len, data, written) && written == len;
}

// Deciphers the next `len` bytes of a message to `out` + `written` (what is deciphered so far).
bool Decipher(EVP_CIPHER_CTX* ctx, const unsigned char* in, std::size_t len, unsigned char* out, std::size_t& written) {
    return Update(ctx, in, len, out + written, written);
}

// Lets out the block a deciphering context holds back, by feeding it a block of zeros that is
// dropped with the context.
bool Release(EVP_CIPHER_CTX* ctx, unsigned char* out, std::size_t& written) {
    static constexpr unsigned char kZeros[kAesBlock] = {};
    return Update(ctx, kZeros, sizeof kZeros, out + written, written);
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

// Wipes data[from, len) when the scope ends: the part of a buffer still in clear.
struct WipeFrom {
    unsigned char* data;
    std::size_t len;
    const std::size_t& from;
    ~WipeFrom() {
        if (len > from) cryptutil::detail::Wipe(data + from, len - from);
    }
};

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

        // The padding record's buffer is the one working buffer: padded, then enciphered in place a
        // piece at a time, each piece encoded while still in cache. The plaintext copy is wiped
        // and released as soon as it is copied.
        Padded padded(addPadding(plaintextStr.data(), plaintextStr.size(), kPadBlock));
        if (!padded) return -1;
        const std::size_t plainLen = plaintextStr.size();
        cryptutil::detail::Wipe(plaintextStr.data(), plainLen);
        std::string().swap(plaintextStr);
        const auto len = static_cast<std::size_t>(padded->dataLengthWithPadding);
        if (len == 0 || len % kPadBlock != 0 || len < plainLen || len - plainLen > kPadBlock) return -1;
        auto* data = static_cast<unsigned char*>(padded->dataWithPadding);
        std::size_t enciphered = 0;
        const WipeFrom stillPlain{data, len, enciphered};  // ciphertext is public
        const bool done = cryptutil::detail::ToTransportText(
            len, *encryptedMessage,
            [&](std::size_t offset, std::size_t n) -> const unsigned char* {
                if (!Encipher(ctx.get(), data + offset, n)) return nullptr;
                enciphered = offset + n;
                return data + offset;
            },
            [&] { padded.reset(); });  // all enciphered and encoded: stillPlain has nothing left to do
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

        if (reader.Done() && decrypted->empty() && decrypted->capacity() < piece.size()) {
            // All in one piece, and nothing in *decrypted to keep: the piece is deciphered in place
            // and becomes the output, so no other buffer of the message's size is made.
            WipeOnExit wipePiece(piece);
            auto* data = reinterpret_cast<unsigned char*>(piece.data());
            std::size_t written = 0;
            if (piece.size() % kAesBlock != 0 || !Decipher(ctx.get(), data, piece.size(), data, written) ||
                !Release(ctx.get(), data, written) || written != piece.size()) {
                return -1;
            }
            const std::size_t messageLen = Unpad(data, piece.size());
            if (messageLen == kBad) return -1;
            piece.resize(messageLen);
            decrypted->swap(piece);
            return 0;
        }

        // Otherwise deciphered piece by piece straight behind what *decrypted holds: in its own
        // buffer when that has room, else in a larger one that takes its content over (the old
        // buffer is wiped once released: it may hold earlier messages).
        const std::size_t base = decrypted->size();
        const std::size_t room = reader.Done() ? piece.size() : std::min(maxBytes, std::size_t{INT_MAX});
        std::string grown;
        const WipeOnExit wipeGrown(grown);
        std::string* target = decrypted;
        if (decrypted->capacity() - base < room) {
            grown.reserve(base + room);
            grown = *decrypted;
            target = &grown;
        }
        Appended message(*target, base);
        std::size_t len = 0, written = 0;
        do {
            if (piece.size() % kAesBlock != 0 || piece.size() > static_cast<std::size_t>(INT_MAX) - len) return -1;
            len += piece.size();
            target->resize(base + len);  // within capacity
            if (!Decipher(ctx.get(), reinterpret_cast<const unsigned char*>(piece.data()), piece.size(), message.At(0),
                          written)) {
                return -1;
            }
        } while (reader.Next(piece));
        if (reader.Failed() || !Release(ctx.get(), message.At(0), written) || written != len) return -1;
        const std::size_t messageLen = Unpad(message.At(0), len);
        if (messageLen == kBad) return -1;
        message.Commit(messageLen);
        if (target == &grown) decrypted->swap(grown);
        return 0;
    });
}
