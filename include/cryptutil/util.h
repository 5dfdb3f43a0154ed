// cryptutil: the client side of a hybrid-encryption protocol, plus hex and reply helpers.
//
// Every byte result leaves as transport text (standard base64, then URL-escaped: '+' becomes
// "%2B") and every byte input is read from that form. Functions keep no state and are safe to
// call from any thread.
//
// What a call leaves behind: a function with a failure result (-1, "" or false) reports every
// failure by it, running out of memory included, and is noexcept. A function without one
// (hashData, the hex encoders, the service replies) throws std::bad_alloc when memory runs out.
// Either way outputs are left as they were on failure; OPENSSL_buf2hexstr and create_error also
// throw as documented below. OpenSSL's per-thread error queue is left as the caller had it (its
// own entries stay, none are added; see the limit below), and every buffer that held a message,
// a secret or private-key material is wiped before it is released.
//
// The error queue's limit: OpenSSL keeps the newest 15 entries of a thread in a ring, and a call
// may push entries of its own (a successful DecryptKeyV2 pushes two and clears them) before it
// pops them again. A caller holding more than 13 entries can lose its oldest that way; with 13 or
// fewer, all of its entries stay.
#ifndef CRYPTUTIL_UTIL_H
#define CRYPTUTIL_UTIL_H

#include <string>
#include <vector>

#include <nlohmann/json.hpp>

// A shared build exports these functions and nothing else.
#define CRYPTUTIL_API __attribute__((visibility("default")))

// ---- Message encryption: AES-ECB, PKCS#7 padding to a multiple of 32 bytes ----------------

// Encrypts all bytes of `plaintextStr` under `key` (keySize 16, 24 or 32: AES-128/192/256) and
// replaces `*encryptedMessage` with the transport text of the ciphertext.
// Returns the ciphertext length, 32 * (size / 32 + 1).
// Returns -1, leaving `*encryptedMessage` untouched, for a null key or output, any other key
// size, a message of 2^31 - 32 bytes or more (its ciphertext length would not fit an int), or
// when memory runs out.
CRYPTUTIL_API int EncryptMessage(std::string plaintextStr, unsigned char* key, int keySize,
                                 std::string* encryptedMessage) noexcept;

// Decrypts the transport text `encryptedMessage` and appends the message to `*decrypted`
// (what the string held stays in front). Returns 0.
// Returns -1, leaving `*decrypted` untouched, for a null key or output, a bad key size, text that
// is not transport text, a ciphertext that is empty or not whole 16-byte blocks, or padding that
// is not PKCS#7 with a pad length of 1 to 32 (so a wrong key almost always fails). Ciphertexts
// padded to 16-byte blocks, as standard AES/ECB/PKCS#7 peers make them, decrypt too. Running
// out of memory gives -1 as well. There is no limit on the length, as for the stream.
CRYPTUTIL_API int DecryptMessage(std::string encryptedMessage, unsigned char* key, int keySize,
                                 std::string* decrypted) noexcept;

// ---- Key wrapping: RSAES-OAEP (SHA-1, MGF1-SHA-1, empty label) -------------------------------
//
// Public keys are PEM "PUBLIC KEY" blocks (SubjectPublicKeyInfo) holding an RSA key; private keys
// are PEM "RSA PRIVATE KEY" (PKCS #1) or "PRIVATE KEY" (PKCS #8) blocks. Key text is read up to
// its first NUL and parsed on every call; the first block labelled "... KEY" is the one judged, as
// the crypto libraries' readers judge it, and blocks before it must be base64. Encrypted private
// keys are unreadable: nothing ever prompts for a pass phrase. Only rsaEncryption keys are read: an
// RSA-PSS key (restricted to PSS signatures) is refused on both sides. Keys must have an odd
// modulus of 1,024 to 16,384 bits and an odd public exponent from 3 to 2^33 - 1; private keys two
// primes, each at least a quarter of the modulus long, and parts that agree with each other (n =
// pq, dP and dQ those of d, e inverting them, qInv that of q, all below n). PEM and DER are read
// strictly: no headers, blank lines, blanks or lines over 252 characters, `=` padding present;
// DER in its shortest form with nothing left over, AlgorithmIdentifier parameters NULL, a PKCS #8
// version of 0 and attribute values OCTET STRINGs, INTEGERs neither negative nor zero-padded.
// Other keys are unreadable, the same on every crypto library. k below is the key's
// modulus length in bytes (256 for 2048 bits; at most 2,048, so 2,048 bytes always suffice).
// Running out of memory is a failure like any other: -1, "" or false.

// Fills `key` with `keySize` bytes from OpenSSL's CSPRNG. Draws nothing for a null pointer or a
// count of zero or less. It never returns with the key unfilled: the signature has no room for a
// failure, so if the generator refuses (its entropy source failed) the process ends (abort, with a
// line on standard error), as BoringSSL's own generator does.
CRYPTUTIL_API void GetRandomBytes(unsigned char* key, int keySize) noexcept;

// Wraps `plaintext_size` bytes (0 to k - 42) for `publicKey` and replaces `*out` with the
// transport text of the k-byte ciphertext. Returns k; wrapping the same bytes twice gives
// different texts. Returns -1, `*out` untouched, for a negative size, an unreadable key, a
// secret longer than k - 42 bytes, or a null output.
CRYPTUTIL_API int EncryptKeyV2(unsigned char* plaintext, int plaintext_size, std::string publicKey,
                               std::string* out) noexcept;

// Unwraps the transport text `encrypted` with `privateKey` into `out`, which needs room for k
// bytes and never receives more. Returns the number of secret bytes (0 or more).
// Returns -1 for an unreadable key, text that does not decode to exactly k bytes, or a ciphertext
// that fails the OAEP check (wrong key, altered bytes); `out` may then hold scratch bytes.
CRYPTUTIL_API int DecryptKeyV2(std::string encrypted, std::string privateKey, unsigned char* out) noexcept;

// ---- Digests and signatures: SHA-256, RSASSA-PKCS1-v1_5 --------------------------------------

// Writes the 32-byte SHA-256 digest of all bytes of `data` (NULs included) to `hash`. Cannot
// fail, except against an OpenSSL 3 built without deprecated APIs, whose digests allocate: there
// it throws std::bad_alloc when memory runs out, `hash` untouched.
CRYPTUTIL_API void hashData(const std::string& data, unsigned char* hash);

// Signs the SHA-256 digest of `data`; returns the transport text of the k-byte signature, the
// same every time for the same key and data. Returns "" for an unreadable private key.
CRYPTUTIL_API std::string createRSASignature(const std::string& privatePem, const std::string& data) noexcept;

// True only when `signature` is transport text of a valid signature of `data` under `publicPem`.
// False for everything else: an unreadable key, text that does not decode to k bytes, a bad
// signature.
CRYPTUTIL_API bool verifyRSASignature(const std::string& publicPem, const std::string& signature,
                                      const std::string& data) noexcept;

// ---- Hex text -----------------------------------------------------------------------------
// Two digits per byte, high nibble first, no separator or prefix.

// The character of digit value x: x + 48 for x <= 9, else x + 55, modulo 256 (10..35 give 'A'..'Z';
// no range check).
CRYPTUTIL_API unsigned char ToHex(unsigned char x) noexcept;

// The value of character x: 'A'..'Z' and 'a'..'z' give 10..35; any other byte gives x - 48
// modulo 256 (so '0'..'9' give 0..9 and non-digits give values above 35; nothing is reported).
CRYPTUTIL_API unsigned char FromHex(unsigned char x) noexcept;

// The hex encoders below throw std::bad_alloc when memory for the result runs out.

// The `size` bytes at `in` as lowercase hex. Returns "" for size <= 0 (then `in` is not read).
CRYPTUTIL_API std::string chararr_to_hex(unsigned char* in, int size);

// The bytes as uppercase hex.
CRYPTUTIL_API std::string bytes_to_hex_string(const std::vector<unsigned char>& input);

// Encodes: every byte of `in` (NULs included) as two lowercase hex digits. (The name reads the
// other way round; callers rely on it. OpenSSL's functions of the same names take other
// arguments and are unaffected.)
CRYPTUTIL_API std::string OPENSSL_hexstr2buf(const std::string& in);

// Decodes hex text (either case) into bytes. Throws std::runtime_error: "String is not valid
// length ..." for an odd length, and "String is not valid hex: ..." naming the first character
// that is not a hex digit and its index. Throws std::bad_alloc when memory runs out.
CRYPTUTIL_API std::string OPENSSL_buf2hexstr(const std::string& in);

// ---- Service replies --------------------------------------------------------------------

// Replaces `out` with {"msg":{"body":msg,"code":code},"status_code":"ng"}, compact, members in
// key order, strings as JSON with non-ASCII UTF-8 kept as it is. Throws nlohmann::json's
// type_error 316 for text that is not valid UTF-8, and std::bad_alloc when memory runs out;
// `out` is then left as it was.
CRYPTUTIL_API void create_error(std::string code, std::string msg, std::string& out);

// Replaces `j` (whatever it held) with the same document as a JSON value. Accepts any bytes; a
// later strict dump of invalid UTF-8 throws as create_error does. Throws std::bad_alloc when
// memory runs out; `j` then keeps what it held.
CRYPTUTIL_API void create_error_response(std::string code, std::string msg, nlohmann::json& j);

// The current time at UTC+8 on the 24-hour clock, e.g. "2026-12-05T13:24:44+08:00", the same in
// every device time zone. Throws std::bad_alloc when memory runs out.
CRYPTUTIL_API std::string currentISO8601TimeUTC();

#endif
