#include "test_support.h"

#include <openssl/evp.h>

#include <fstream>
#include <map>
#include <mutex>
#include <random>
#include <sstream>
#include <stdexcept>

namespace testing_support {
namespace {

std::string ReadKeyFile(const std::string& name) {
    std::ifstream in(std::filesystem::path(CRYPTUTIL_TESTKEYS_DIR) / name, std::ios::binary);
    if (!in) throw std::runtime_error("missing test key " + name);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

KeyPair Load(const std::string& base) {
    std::string d = ReadKeyFile(base + ".d.hex");
    while (!d.empty() && (d.back() == '\n' || d.back() == '\r')) d.pop_back();
    return {ReadKeyFile(base + ".pkcs1.pem"),
            ReadKeyFile(base + ".pkcs8.pem"),
            ReadKeyFile(base + ".public.pem"),
            ReadKeyFile(base + ".pkcs1-public.pem"),
            ReadKeyFile(base + ".encrypted-pkcs8.pem"),
            ReadKeyFile(base + ".encrypted-pkcs1.pem"),
            Unhex(d)};
}

}  // namespace
std::string Unhex(std::string_view hex) {
    std::string out;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
        out.push_back(static_cast<char>(std::stoi(std::string(hex.substr(i, 2)), nullptr, 16)));
    }
    return out;
}

std::string Hex(std::string_view bytes) {
    static const char* digits = "0123456789abcdef";
    std::string out;
    for (const char c : bytes) {
        out += digits[static_cast<unsigned char>(c) >> 4];
        out += digits[static_cast<unsigned char>(c) & 15];
    }
    return out;
}

std::string RandomBytes(std::size_t n, unsigned seed) {
    std::mt19937 gen(seed);
    std::string out(n, '\0');
    for (auto& c : out) c = static_cast<char>(gen());
    return out;
}

namespace {

// OpenSSL counts in int, BoringSSL in size_t.
template <typename Count, typename Result>
std::size_t EncodeBlock(Result (*encode)(unsigned char*, const unsigned char*, Count), unsigned char* out,
                        const unsigned char* in, std::size_t n) {
    return static_cast<std::size_t>(encode(out, in, static_cast<Count>(n)));
}

}  // namespace

std::string ReferenceBase64(std::string_view bytes) {
    std::string b64(4 * ((bytes.size() + 2) / 3) + 1, '\0');
    b64.resize(EncodeBlock(EVP_EncodeBlock, reinterpret_cast<unsigned char*>(b64.data()),
                           reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size()));
    return b64;
}

std::string ReferenceTransportText(std::string_view bytes) {
    std::string out;
    for (const char c : ReferenceBase64(bytes)) out += c == '+' ? std::string("%2B") : std::string(1, c);
    return out;
}

std::filesystem::path TestVectorFile(const std::string& relative) {
    return std::filesystem::path(CRYPTUTIL_TESTVECTORS_DIR) / relative;
}

std::string EcPublicKey() {
    return ReadKeyFile("ec-p256.public.pem");
}

std::pair<std::string, std::string> PssKeys() {
    return {ReadKeyFile("pss.public.pem"), ReadKeyFile("pss.pkcs1.pem")};
}

const KeyPair& RsaKeys(unsigned bits, int which) {
    static std::mutex mutex;
    static std::map<std::pair<unsigned, int>, KeyPair> cache;
    const std::lock_guard<std::mutex> lock(mutex);
    auto it = cache.find({bits, which});
    if (it == cache.end()) {
        const std::string base =
            bits == 2048 ? std::string(which == 0 ? "rsa2048-a" : "rsa2048-b") : "rsa" + std::to_string(bits);
        it = cache.emplace(std::make_pair(bits, which), Load(base)).first;
    }
    return it->second;
}

}  // namespace testing_support
