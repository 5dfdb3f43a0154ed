// Key sources: an AES key as hex (--key, or --key-file: a file, a pipe or '-'), PEM RSA keys, fresh
// keys. No message names a file or repeats a value given: a slip may have put a key there.
#ifndef CRYPTUTIL_TOOLS_KEYS_H
#define CRYPTUTIL_TOOLS_KEYS_H

#include <cstddef>
#include <string>

#include "input.h"

namespace tool {

constexpr std::size_t kKeySourceLimit = 1 << 20;  // a PEM private key of 16,384 bits is about 13 KB

// The text of a key or signature source; '-' takes it from the front of standard input (a line, or
// a PEM block through its END line).
std::string ReadKeySource(const std::string& path, const std::string& option, bool pem, Sources& sources);
// Hex to bytes, or a Failure naming `what` (never a character of the text).
std::string HexBytes(const std::string& what, const std::string& hex, bool negative);
// The AES key from exactly one of --key (hex) and --key-file.
std::string AesKey(const std::string& hex, const std::string& file, Sources& sources);
std::string PublicKey(const std::string& file, const std::string& option, Sources& sources);
std::string PrivateKey(const std::string& file, const std::string& option, Sources& sources);
// k of a PEM key, public or private, or 0 when it is neither.
std::size_t ModulusBytes(const std::string& pem);
// Bytes from the crypto library's generator, or an Error when it fails.
std::string FreshBytes(std::size_t n);
// Text read from a pipe usually ends in a line end that is not part of it.
std::string TrimLineEnds(std::string s);

}  // namespace tool

#endif
