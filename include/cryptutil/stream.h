// Messages of any length, a chunk at a time: the same transport text as EncryptMessage, read back
// as DecryptMessage reads it, in memory bounded by the chunks (for files and pipes).
#ifndef CRYPTUTIL_STREAM_H
#define CRYPTUTIL_STREAM_H

#include <cstddef>
#include <memory>
#include <string>

#include "cryptutil/util.h"

namespace cryptutil {

// Encrypts a message handed over in chunks. For the whole message the text is exactly
// EncryptMessage's; there is no limit on the length. Not for use by two threads at once.
//
//   cryptutil::MessageEncryptStream stream(key, 32);
//   std::string text;
//   while (more) if (stream.Update(chunk, n, &text) != 0) fail(); else send(text), text.clear();
//   if (stream.Finish(&text) != 0) fail(); else send(text);
class CRYPTUTIL_API MessageEncryptStream {
public:
    // Takes a copy of `key` (keySize 16, 24 or 32); with any other key every call fails.
    MessageEncryptStream(const unsigned char* key, int keySize) noexcept;
    ~MessageEncryptStream();
    MessageEncryptStream(const MessageEncryptStream&) = delete;
    MessageEncryptStream& operator=(const MessageEncryptStream&) = delete;

    // Takes the next `n` bytes of the message and appends to `*text` the text that is complete.
    // Returns 0; -1 for a bad key, null data with n > 0, a null output, or when memory runs out,
    // leaving `*text` as it was. A failure ends the stream: every later call returns -1, as after
    // Finish. Every buffer that held message bytes is wiped.
    int Update(const void* data, std::size_t n, std::string* text) noexcept;
    // Pads the message and appends the rest of the text. Returns 0, or -1 as Update.
    int Finish(std::string* text) noexcept;

private:
    struct State;
    std::unique_ptr<State> state_;
};

// Decrypts transport text handed over in chunks of any size. For a whole text, the message is
// exactly DecryptMessage's; the padding is checked at Finish, so until then the last 32 bytes
// of the message are held back.
class CRYPTUTIL_API MessageDecryptStream {
public:
    MessageDecryptStream(const unsigned char* key, int keySize) noexcept;
    ~MessageDecryptStream();
    MessageDecryptStream(const MessageDecryptStream&) = delete;
    MessageDecryptStream& operator=(const MessageDecryptStream&) = delete;

    // Takes the next `n` characters of the text and appends to `*message` the bytes that are
    // certain. Returns 0; -1 for a bad key, null text with n > 0, a null output, text that is not
    // transport text, or when memory runs out: `*message` is then left as it was, but what earlier
    // calls appended stays, so a failed stream's message is to be discarded whole. A failure ends
    // the stream: every later call returns -1, as after Finish.
    int Update(const char* text, std::size_t n, std::string* message) noexcept;
    // Ends the text: appends the rest of the message once its length and padding check out.
    // Returns 0, or -1 as Update and for a ciphertext that is empty, not whole 16-byte blocks, or
    // not padded as DecryptMessage requires.
    int Finish(std::string* message) noexcept;

private:
    struct State;
    std::unique_ptr<State> state_;
};

}  // namespace cryptutil

#endif
