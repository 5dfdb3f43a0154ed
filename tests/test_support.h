// Small helpers shared by the tests: hex for expected values, random bytes, and the openssl
// command-line tool as an independent peer.
#ifndef CRYPTUTIL_TESTS_TEST_SUPPORT_H
#define CRYPTUTIL_TESTS_TEST_SUPPORT_H

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace testing_support {

std::string Unhex(std::string_view hex);
std::string Hex(std::string_view bytes);
std::string RandomBytes(std::size_t n, unsigned seed);

// Standard base64 through OpenSSL, independent of the library's codec.
std::string OpenSslBase64(std::string_view bytes);

// A scratch directory removed with the object.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    std::filesystem::path operator/(std::string_view name) const { return path_ / name; }
    void Write(std::string_view name, std::string_view content) const;
    std::string Read(std::string_view name) const;

private:
    std::filesystem::path path_;
};

// A public test-vector file, from $CRYPTUTIL_TESTVECTORS or the shared tree beside the project;
// nullopt when neither has it.
std::optional<std::filesystem::path> TestVectorFile(const std::string& relative);

// RSA key pairs made with OpenSSL, cached per (bits, which): PEM text in every form the tests use.
struct KeyPair {
    std::string pkcs1;        // RSA PRIVATE KEY
    std::string pkcs8;        // PRIVATE KEY
    std::string publicKey;    // PUBLIC KEY
    std::string pkcs1Public;  // RSA PUBLIC KEY
    std::string encryptedPkcs8;
    std::string encryptedPkcs1;
};
const KeyPair& RsaKeys(unsigned bits, int which = 0);

// Runs a shell command; its standard output, or nullopt when it exits non-zero.
std::optional<std::string> Run(const std::string& command);
bool HaveOpenSslTool();

}  // namespace testing_support

#endif
