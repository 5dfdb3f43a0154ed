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
#include "cryptutil/stream.h"
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

namespace cryptutil {
namespace {

// A string that holds message bytes, wiped when it goes.
struct SecretBuffer {
    std::string bytes;
    SecretBuffer() = default;
    SecretBuffer(const SecretBuffer&) = delete;
    SecretBuffer& operator=(const SecretBuffer&) = delete;
    ~SecretBuffer() { WipeOnExit wipe(bytes); }
};

// Leaves `s` as it was at construction unless committed: what was appended is wiped and cut off.
class AppendOrRollBack {
public:
    explicit AppendOrRollBack(std::string& s) noexcept : s_(s), size_(s.size()) {}
    ~AppendOrRollBack() {
        if (committed_ || s_.size() < size_) return;
        cryptutil::detail::Wipe(s_.data() + size_, s_.size() - size_);
        s_.resize(size_);
    }
    AppendOrRollBack(const AppendOrRollBack&) = delete;
    AppendOrRollBack& operator=(const AppendOrRollBack&) = delete;
    int Commit() noexcept {
        committed_ = true;
        return 0;
    }

private:
    std::string& s_;
    std::size_t size_;
    bool committed_ = false;
};

// Appends to `s` without leaving a copy of what it held in memory it frees: a buffer outgrown is
// wiped before it is released (it may hold earlier parts of the message).
void AppendWiping(std::string& s, const char* p, std::size_t n) {
    if (s.capacity() - s.size() < n) {
        std::string grown;
        const WipeOnExit wipeOld(grown);  // after the swap: the old buffer
        grown.reserve(std::max(s.size() + n, 2 * s.capacity()));
        grown = s;
        s.swap(grown);
    }
    s.append(p, n);
}

// A stream's state with its cipher context, or null for a bad key (every call then fails).
template <typename State>
std::unique_ptr<State> NewStreamState(const unsigned char* key, int keySize, bool encrypt) noexcept {
    return Guarded(std::unique_ptr<State>(), [&] {
        const EVP_CIPHER* cipher = CipherFor(keySize);
        if (cipher == nullptr || key == nullptr) return std::unique_ptr<State>();
        auto state = std::make_unique<State>();
        state->ctx = NewEcb(cipher, key, encrypt);
        return state->ctx ? std::move(state) : std::unique_ptr<State>();
    });
}

}  // namespace

struct MessageEncryptStream::State {
    State() { piece.bytes.reserve(detail::kPieceBytes); }  // appends never move it
    CipherCtx ctx;
    SecretBuffer piece;  // the message bytes not yet enciphered: less than a piece between calls
    std::unique_ptr<unsigned char[]> cipher = std::make_unique<unsigned char[]>(detail::kPieceBytes + kAesBlock);
    bool spent = false;

    // Enciphers `n` bytes (whole blocks, a multiple of 3 unless the last) and appends their text.
    bool Emit(const unsigned char* bytes, std::size_t n, std::string& text) const {
        if (!::Update(ctx.get(), bytes, n, cipher.get())) return false;
        detail::AppendTransportText(cipher.get(), n, text);
        return true;
    }
};

MessageEncryptStream::MessageEncryptStream(const unsigned char* key, int keySize) noexcept
    : state_(NewStreamState<State>(key, keySize, true)) {}

MessageEncryptStream::~MessageEncryptStream() = default;

int MessageEncryptStream::Update(const void* data, std::size_t n, std::string* text) noexcept {
    return Guarded(-1, [&] {
        if (!state_ || state_->spent || text == nullptr || (data == nullptr && n != 0)) return -1;
        AppendOrRollBack appended(*text);
        state_->spent = true;  // until this call succeeds
        const auto* in = static_cast<const char*>(data);
        std::string& piece = state_->piece.bytes;
        while (n > 0) {
            const std::size_t take = std::min(n, detail::kPieceBytes - piece.size());
            piece.append(in, take);  // within the capacity reserved: never moves
            in += take;
            n -= take;
            if (piece.size() < detail::kPieceBytes) break;
            if (!state_->Emit(reinterpret_cast<const unsigned char*>(piece.data()), piece.size(), *text)) return -1;
            cryptutil::detail::Wipe(piece.data(), piece.size());
            piece.clear();
        }
        state_->spent = false;
        return appended.Commit();
    });
}

int MessageEncryptStream::Finish(std::string* text) noexcept {
    return Guarded(-1, [&] {
        if (!state_ || state_->spent || text == nullptr) return -1;
        AppendOrRollBack appended(*text);
        state_->spent = true;
        const std::string& piece = state_->piece.bytes;
        Padded padded(addPadding(piece.data(), piece.size(), kPadBlock));
        if (!padded) return -1;
        const auto len = static_cast<std::size_t>(padded->dataLengthWithPadding);
        const PaddedWipe wipePadded{padded, len};
        if (len == 0 || len % kPadBlock != 0 || len < piece.size() || len - piece.size() > kPadBlock) return -1;
        if (!state_->Emit(static_cast<const unsigned char*>(padded->dataWithPadding), len, *text)) return -1;
        return appended.Commit();
    });
}

struct MessageDecryptStream::State {
    State() { held.bytes.reserve(kPadBlock); }  // assignments never move it
    CipherCtx ctx;
    detail::TransportTextChunkReader reader;
    std::string cipher;  // ciphertext not yet deciphered: less than a block between calls
    SecretBuffer held;   // the last deciphered bytes, held back for the padding check
    std::size_t total = 0;
    bool spent = false;

    // Deciphers the whole blocks of `cipher` and appends to `message` all but the last kPadBlock
    // bytes deciphered so far.
    bool Decipher(std::string& message) {
        const std::size_t n = cipher.size() / kAesBlock * kAesBlock, kept = held.bytes.size();
        if (n > static_cast<std::size_t>(INT_MAX)) return false;
        SecretBuffer out;
        out.bytes.resize(kept + n + kAesBlock);
        std::memcpy(out.bytes.data(), held.bytes.data(), kept);
        auto* dst = reinterpret_cast<unsigned char*>(out.bytes.data()) + kept;
        if (n != 0 && !::Update(ctx.get(), reinterpret_cast<const unsigned char*>(cipher.data()), n, dst)) return false;
        cipher.erase(0, n);
        total += n;
        const std::size_t all = kept + n, release = all > kPadBlock ? all - kPadBlock : 0;
        AppendWiping(message, out.bytes.data(), release);
        held.bytes.assign(out.bytes.data() + release, all - release);  // within the capacity reserved
        return true;
    }
};

MessageDecryptStream::MessageDecryptStream(const unsigned char* key, int keySize) noexcept
    : state_(NewStreamState<State>(key, keySize, false)) {}

MessageDecryptStream::~MessageDecryptStream() = default;

int MessageDecryptStream::Update(const char* text, std::size_t n, std::string* message) noexcept {
    return Guarded(-1, [&] {
        if (!state_ || state_->spent || message == nullptr || (text == nullptr && n != 0)) return -1;
        AppendOrRollBack appended(*message);
        state_->spent = true;
        if (!state_->reader.Add(text, n, state_->cipher) || !state_->Decipher(*message)) return -1;
        state_->spent = false;
        return appended.Commit();
    });
}

int MessageDecryptStream::Finish(std::string* message) noexcept {
    return Guarded(-1, [&] {
        if (!state_ || state_->spent || message == nullptr) return -1;
        AppendOrRollBack appended(*message);
        state_->spent = true;
        if (!state_->reader.Finish(state_->cipher) || !state_->Decipher(*message) || !state_->cipher.empty() ||
            state_->total == 0) {
            return -1;
        }
        std::string& last = state_->held.bytes;
        const std::size_t messageLen = Unpad(reinterpret_cast<unsigned char*>(last.data()), last.size());
        if (messageLen == kBad) return -1;
        AppendWiping(*message, last.data(), messageLen);
        return appended.Commit();
    });
}

}  // namespace cryptutil
