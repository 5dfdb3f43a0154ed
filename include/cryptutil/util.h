// cryptutil: the client side of a hybrid-encryption protocol, plus hex and reply helpers.
//
// Every byte result leaves as transport text (standard base64, then URL-escaped: '+' becomes
// "%2B") and every byte input is read from that form. Functions keep no state and are safe to
// call from any thread. Failures are reported by the result; outputs are left as they were.
#ifndef CRYPTUTIL_UTIL_H
#define CRYPTUTIL_UTIL_H

#include <string>

#include <nlohmann/json.hpp>

// ---- Message encryption: AES-ECB, PKCS#7 padding to a multiple of 32 bytes ----------------

// Encrypts all bytes of `plaintextStr` under `key` (keySize 16, 24 or 32: AES-128/192/256) and
// replaces `*encryptedMessage` with the transport text of the ciphertext.
// Returns the ciphertext length, 32 * (size / 32 + 1).
// Returns -1, leaving `*encryptedMessage` untouched, for a null key or output, any other key
// size, or a message of 2^31 - 32 bytes or more (its ciphertext length would not fit an int).
int EncryptMessage(std::string plaintextStr, unsigned char* key, int keySize, std::string* encryptedMessage);

// Decrypts the transport text `encryptedMessage` and appends the message to `*decrypted`
// (what the string held stays in front). Returns 0.
// Returns -1, leaving `*decrypted` untouched, for a null key or output, a bad key size, text that
// is not transport text, a ciphertext that is empty or not whole 16-byte blocks, or padding that
// is not PKCS#7 with a pad length of 1 to 32 (so a wrong key almost always fails). Ciphertexts
// padded to 16-byte blocks, as standard AES/ECB/PKCS#7 peers make them, decrypt too.
int DecryptMessage(std::string encryptedMessage, unsigned char* key, int keySize, std::string* decrypted);

#endif
