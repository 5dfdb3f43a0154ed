#include "test_support.h"

#include <openssl/evp.h>

#include <fstream>
#include <map>
#include <mutex>
#include <random>
#include <sstream>
#include <stdexcept>

#include "crypto_library.h"

namespace testing_support {
namespace {

std::string ReadKeyFile(const std::string& name) {
    const std::filesystem::path path = std::filesystem::path(CRYPTUTIL_TESTKEYS_DIR) / name;
    if (!std::filesystem::exists(path)) throw std::runtime_error("missing test key " + name);
    return ReadFile(path);
}

std::string ReadHexFile(const std::string& name) {
    std::string hex = ReadKeyFile(name);
    while (!hex.empty() && (hex.back() == '\n' || hex.back() == '\r')) hex.pop_back();
    return Unhex(hex);
}

KeyPair Load(const std::string& base) {
    return {ReadKeyFile(base + ".pkcs1.pem"), ReadKeyFile(base + ".pkcs8.pem"), ReadKeyFile(base + ".public.pem"),
            ReadKeyFile(base + ".encrypted-pkcs8.pem"), ReadHexFile(base + ".d.hex")};
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

template <typename Result, typename Count>
long Block(Result (*codec)(unsigned char*, const unsigned char*, Count), unsigned char* out, const unsigned char* in,
           std::size_t n) {
    return static_cast<long>(codec(out, in, cryptutil::detail::LengthFor<2>(codec, n)));
}

}  // namespace

std::string ReferenceBase64(std::string_view bytes) {
    std::string b64(4 * ((bytes.size() + 2) / 3) + 1, '\0');
    b64.resize(static_cast<std::size_t>(Block(EVP_EncodeBlock, reinterpret_cast<unsigned char*>(b64.data()),
                                              reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size())));
    return b64;
}

std::string ReferenceTransportText(std::string_view bytes) {
    std::string out;
    for (const char c : ReferenceBase64(bytes)) out += c == '+' ? std::string("%2B") : std::string(1, c);
    return out;
}

std::string ReferenceBytes(std::string_view text) {
    std::string b64;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size()) {
            b64 += static_cast<char>(std::stoi(std::string(text.substr(i + 1, 2)), nullptr, 16));
            i += 2;
        } else {
            b64 += text[i];
        }
    }
    std::string bytes(b64.size() / 4 * 3 + 3, '\0');
    const long n = Block(EVP_DecodeBlock, reinterpret_cast<unsigned char*>(bytes.data()),
                         reinterpret_cast<const unsigned char*>(b64.data()), b64.size());
    if (n < 0 || b64.size() % 4 != 0) throw std::invalid_argument("not transport text");
    // EVP_DecodeBlock counts the padding's bytes as zeros.
    const std::size_t pads = b64.size() < 2 ? 0 : (b64.end()[-1] == '=' ? 1U : 0U) + (b64.end()[-2] == '=' ? 1U : 0U);
    bytes.resize(static_cast<std::size_t>(n) - pads);
    return bytes;
}

std::string RawEcbText(std::string key, const std::string& blocks) {
    const EVP_CIPHER* c = key.size() == 16   ? EVP_aes_128_ecb()
                          : key.size() == 24 ? EVP_aes_192_ecb()
                                             : EVP_aes_256_ecb();
    EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
    std::string out(blocks.size() + 16, '\0');  // room for a block more, as EVP asks
    int n = 0;
    EVP_EncryptInit_ex(ctx, c, nullptr, U(key), nullptr);
    EVP_CIPHER_CTX_set_padding(ctx, 0);
    EVP_EncryptUpdate(ctx, U(out), &n, reinterpret_cast<const unsigned char*>(blocks.data()),
                      static_cast<int>(blocks.size()));
    EVP_CIPHER_CTX_free(ctx);
    out.resize(blocks.size());
    return testing_support::ReferenceTransportText(out);
}

std::string ReadFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

void WriteFile(const std::filesystem::path& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

std::filesystem::path TestVectorFile(const std::string& relative) {
    return std::filesystem::path(CRYPTUTIL_TESTVECTORS_DIR) / relative;
}

std::string EcPublicKey() {
    return ReadKeyFile("ec-p256.public.pem");
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
