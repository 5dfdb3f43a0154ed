// Helpers shared by the tests: hex for expected values, random bytes, an independent base64
// encoder, files, test vectors and RSA keys.
#ifndef CRYPTUTIL_TESTS_TEST_SUPPORT_H
#define CRYPTUTIL_TESTS_TEST_SUPPORT_H

#include <cstddef>
#include <filesystem>
#include <string>
#include <string_view>

namespace testing_support {

std::string Unhex(std::string_view hex);
std::string Hex(std::string_view bytes);
std::string RandomBytes(std::size_t n, unsigned seed);
inline unsigned char* U(std::string& s) {
    return reinterpret_cast<unsigned char*>(s.data());
}

// Plain base64 of `bytes` by the crypto library's own encoder, independent of the library's codec.
std::string ReferenceBase64(std::string_view bytes);

// Transport text made with OpenSSL's base64 encoder, independent of the library's codec.
std::string ReferenceTransportText(std::string_view bytes);

// The bytes behind transport text whose only escapes are %XX, read by OpenSSL's decoder; throws
// std::invalid_argument for text that is not valid base64 once unescaped.
std::string ReferenceBytes(std::string_view text);

// Transport text of raw AES-ECB over `blocks` with no padding added: what any peer could send.
std::string RawEcbText(std::string key, const std::string& blocks);

// A file's bytes, whole ("" for none), and a file replaced by `bytes`.
std::string ReadFile(const std::filesystem::path& path);
void WriteFile(const std::filesystem::path& path, const std::string& bytes);

// A public test-vector file under tests/vectors.
std::filesystem::path TestVectorFile(const std::string& relative);

// Stored RSA key pairs (tests/keys: 1024 bits; 2048 bits, which 0 or 1; 3072 bits), as PEM text
// in every form used, and the private exponent's bytes.
struct KeyPair {
    std::string pkcs1, pkcs8, publicKey, encryptedPkcs8, privateExponent;
};
const KeyPair& RsaKeys(unsigned bits, int which = 0);

// A P-256 public key as PEM: a key that is not RSA.
std::string EcPublicKey();

}  // namespace testing_support

#endif
