// Message encryption: one encryptor and one decryptor, each taking its input a chunk at a time.
// EncryptMessage and DecryptMessage run them over the whole input; the streams, over each chunk.
#include <openssl/evp.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

#include "api_boundary.h"
#include "cryptutil/PKCS7.h"
#include "cryptutil/stream.h"
#include "cryptutil/util.h"
#include "owners.h"
#include "transport_text.h"

namespace cryptutil::detail {
namespace {

constexpr std::size_t kAesBlock = 16, kPadBlock = BLOCK_SIZE_256_BIT;
// Message bytes go through in units of whole base64 quads, AES blocks and padding blocks; the rest
// waits for more, and what is left at the end is padded.
constexpr std::size_t kUnit = 96;

// A padding record holds the message's last bytes in clear; a host's component may free it as is.
void FreePadding(PKCS7_Padding* p) {
    if (p->dataWithPadding != nullptr) Wipe(p->dataWithPadding, static_cast<std::size_t>(p->dataLengthWithPadding));
    freePaddingResult(p);
}

using CipherCtx = Owned<EVP_CIPHER_CTX, EVP_CIPHER_CTX_free>;
using Padding = Owned<PKCS7_Padding, FreePadding>;
using Unpadding = Owned<PKCS7_unPadding, freeUnPaddingResult>;

// An AES-ECB context for a key of 16, 24 or 32 bytes. The padding is the protocol's own, so EVP's
// is off where it acts: it would hold the last block of a decryption back.
bool NewEcb(const unsigned char* key, int keySize, bool encrypt, CipherCtx& ctx) {
    const EVP_CIPHER* (*const kCiphers[])() = {EVP_aes_128_ecb, EVP_aes_192_ecb, EVP_aes_256_ecb};
    if (key == nullptr || (keySize != 16 && keySize != 24 && keySize != 32)) return false;
    ctx.reset(EVP_CIPHER_CTX_new());
    return ctx && EVP_CipherInit_ex(ctx.get(), kCiphers[keySize / 8 - 2](), nullptr, key, nullptr, encrypt) == 1 &&
           (encrypt || EVP_CIPHER_CTX_set_padding(ctx.get(), 0) == 1);
}

// Runs `ctx` over n bytes (whole blocks, at most a piece and a unit) into `out`, which has room for
// a block more, as EVP's manuals ask.
bool Cipher(EVP_CIPHER_CTX* ctx, const void* in, std::size_t n, void* out) {
    int written = 0;
    return EVP_CipherUpdate(ctx, static_cast<unsigned char*>(out), &written, static_cast<const unsigned char*>(in),
                            static_cast<int>(n)) == 1 &&
           written == static_cast<int>(n);
}

// The length of the message in `len` deciphered bytes: PKCS#7 with a pad of 1 to 32 (a peer that
// pads to 16-byte blocks makes a subset of these), checked here whatever the component accepts.
bool Unpad(const unsigned char* data, std::size_t len, std::size_t& messageLen) {
    const std::size_t n = len == 0 ? 0 : data[len - 1];
    if (n == 0 || n > kPadBlock || n > len) return false;
    std::size_t diff = 0;
    for (std::size_t i = len - n; i < len; ++i) diff |= data[i] ^ n;
    const Unpadding record(removePadding(data, len));
    messageLen = len - n;
    return diff == 0 && record && record->dataLengthWithoutPadding == messageLen;
}

}  // namespace

class Encryptor {
public:
    bool Start(const unsigned char* key, int keySize) { return NewEcb(key, keySize, true, ctx_); }
    ~Encryptor() { Wipe(partial_, sizeof partial_); }

    // Takes the next n bytes of the message and appends the text that is complete to `text`.
    bool Update(const unsigned char* data, std::size_t n, std::string& text) {
        for (std::size_t take = 0; n != 0; data += take, n -= take) {
            if (partialLen_ == 0 && n >= kUnit) {  // whole units, straight from the message
                take = std::min(n / kUnit * kUnit, kPieceBytes);
                if (!Emit(data, take, text)) return false;
            } else {
                take = std::min(n, kUnit - partialLen_);
                std::memcpy(partial_ + partialLen_, data, take);
                partialLen_ = (partialLen_ + take) % kUnit;
                if (partialLen_ == 0 && !Emit(partial_, kUnit, text)) return false;
            }
        }
        return true;
    }
    // Pads what is left of the message and appends the rest of the text. The component's record
    // must hold exactly the held bytes and PKCS#7 padding to the next block: anything else would
    // be enciphered into a text that decrypts to another message, or to none.
    bool Finish(std::string& text) {
        const Padding padded(addPadding(partial_, partialLen_, kPadBlock));
        const std::uint64_t len = padded ? padded->dataLengthWithPadding : 0,
                            expected = partialLen_ / kPadBlock * kPadBlock + kPadBlock;
        // The release wipes the record's length; a faulty record's may exceed its buffer.
        if (padded) padded->dataLengthWithPadding = std::min(len, expected);
        if (len != expected || !padded->dataWithPadding) return false;
        const auto* data = static_cast<const unsigned char*>(padded->dataWithPadding);
        const auto pad = static_cast<unsigned char>(len - partialLen_);
        unsigned diff = 0;
        for (std::size_t i = 0; i < len; ++i) diff |= data[i] ^ (i < partialLen_ ? partial_[i] : pad);
        return diff == 0 && Emit(data, static_cast<std::size_t>(len), text);
    }
    bool ended = false;  // a stream's

private:
    bool Emit(const void* plain, std::size_t n, std::string& text) {
        unsigned char cipher[kPieceBytes + kUnit];
        return Cipher(ctx_.get(), plain, n, cipher) && AppendTransportText(cipher, n, text);
    }
    CipherCtx ctx_;
    unsigned char partial_[kUnit];  // message bytes short of a unit
    std::size_t partialLen_ = 0;
};

class Decryptor {
public:
    bool Start(const unsigned char* key, int keySize) { return NewEcb(key, keySize, false, ctx_); }
    ~Decryptor() { Wipe(last_, sizeof last_); }

    // Reads the next n characters of the text and appends to `message` all that is deciphered but
    // the last 32 bytes, held back for the padding check.
    bool Update(const char* text, std::size_t n, SecretAppender& message) {
        for (std::size_t at = 0; at < n; at += kPieceChars) {
            if (!reader_.Add(text + at, std::min(kPieceChars, n - at), cipher_) || !Decipher(message)) return false;
        }
        return true;
    }
    // Ends the text: appends the rest of the message once its length and padding check out.
    bool Finish(SecretAppender& message) {
        std::size_t len = 0;
        if (!reader_.Finish(cipher_) || !Decipher(message) || !cipher_.empty() || !Unpad(last_, lastLen_, len)) {
            return false;
        }
        message.Append(last_, len);
        return true;
    }
    bool ended = false;  // a stream's

private:
    bool Decipher(SecretAppender& message) {
        const std::size_t n = cipher_.size() / kAesBlock * kAesBlock, base = message.size(), all = lastLen_ + n;
        if (n == 0) return true;
        message.Append(last_, lastLen_);
        if (!Cipher(ctx_.get(), cipher_.data(), n, message.Extend(n + kAesBlock))) return false;
        lastLen_ = std::min(all, kPadBlock);
        std::memcpy(last_, message.data() + base + all - lastLen_, lastLen_);
        message.Truncate(base + all - lastLen_);
        cipher_.erase(0, n);
        return true;
    }
    CipherCtx ctx_;
    TransportTextReader reader_;
    std::string cipher_;             // ciphertext not yet deciphered: less than a block between calls
    unsigned char last_[kPadBlock];  // the last bytes deciphered
    std::size_t lastLen_ = 0;
};

}  // namespace cryptutil::detail

using namespace cryptutil::detail;

int EncryptMessage(std::string plaintextStr, unsigned char* key, int keySize, std::string* encryptedMessage) noexcept {
    return Guarded(-1, [&] {
        const WipeOnExit wipeMessage(plaintextStr);
        const std::size_t len = plaintextStr.size() / kPadBlock * kPadBlock + kPadBlock;
        Encryptor encryptor;
        std::string text;
        if (encryptedMessage == nullptr || len > INT_MAX || !encryptor.Start(key, keySize)) return -1;
        text.reserve(TextRoom(len));
        const auto* data = reinterpret_cast<const unsigned char*>(plaintextStr.data());
        if (!encryptor.Update(data, plaintextStr.size(), text) || !encryptor.Finish(text)) return -1;
        encryptedMessage->swap(text);
        return static_cast<int>(len);
    });
}

int DecryptMessage(std::string encryptedMessage, unsigned char* key, int keySize, std::string* decrypted) noexcept {
    return Guarded(-1, [&] {
        Decryptor decryptor;
        if (decrypted == nullptr || !decryptor.Start(key, keySize)) return -1;
        SecretAppender message(*decrypted);
        // No text of n characters holds more than n / 4 * 3 bytes, and EVP may write a block more.
        message.Reserve(decrypted->size() + encryptedMessage.size() / 4 * 3 + kAesBlock);
        if (!decryptor.Update(encryptedMessage.data(), encryptedMessage.size(), message) ||
            !decryptor.Finish(message)) {
            return -1;
        }
        message.Commit();
        return 0;
    });
}

namespace cryptutil {
namespace {

// A stream's state for the key, or null for a bad key: every call then fails.
template <typename State>
std::unique_ptr<State> Started(const unsigned char* key, int keySize) noexcept {
    return Guarded(std::unique_ptr<State>(), [&] {
        auto state = std::make_unique<State>();
        return state->Start(key, keySize) ? std::move(state) : nullptr;
    });
}

// One call of a stream, appending to `out`, which a failure leaves as it was. Every failure ends
// the stream for good, and so does Finish.
template <typename State, typename Step>
int StreamCall(State* state, bool finish, std::string* out, Step&& step) noexcept {
    return Guarded(-1, [&] {
        if (state == nullptr || state->ended) return -1;
        state->ended = true;
        if (out == nullptr) return -1;
        SecretAppender appended(*out);
        if (!step(*state, appended)) return -1;
        appended.Commit();
        state->ended = finish;
        return 0;
    });
}

}  // namespace

struct MessageEncryptStream::State : Encryptor {};
struct MessageDecryptStream::State : Decryptor {};

MessageEncryptStream::MessageEncryptStream(const unsigned char* key, int keySize) noexcept
    : state_(Started<State>(key, keySize)) {}
MessageEncryptStream::~MessageEncryptStream() = default;

int MessageEncryptStream::Update(const void* data, std::size_t n, std::string* text) noexcept {
    return StreamCall(state_.get(), false, text, [&](State& s, SecretAppender&) {
        return (data != nullptr || n == 0) && s.Update(static_cast<const unsigned char*>(data), n, *text);
    });
}

int MessageEncryptStream::Finish(std::string* text) noexcept {
    return StreamCall(state_.get(), true, text, [&](State& s, SecretAppender&) { return s.Finish(*text); });
}

MessageDecryptStream::MessageDecryptStream(const unsigned char* key, int keySize) noexcept
    : state_(Started<State>(key, keySize)) {}
MessageDecryptStream::~MessageDecryptStream() = default;

int MessageDecryptStream::Update(const char* text, std::size_t n, std::string* message) noexcept {
    return StreamCall(state_.get(), false, message, [&](State& s, SecretAppender& out) {
        return (text != nullptr || n == 0) && s.Update(text, n, out);
    });
}

int MessageDecryptStream::Finish(std::string* message) noexcept {
    return StreamCall(state_.get(), true, message, [&](State& s, SecretAppender& out) { return s.Finish(out); });
}

}  // namespace cryptutil
