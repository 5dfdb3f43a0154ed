#include "test_support.h"

#include <openssl/bio.h>
#include <openssl/encoder.h>
#include <openssl/evp.h>
#include <openssl/pem.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <map>
#include <mutex>
#include <random>
#include <stdexcept>
#include <vector>

namespace testing_support {

namespace {

template <typename Write>
std::string Pem(Write write) {
    BIO* bio = BIO_new(BIO_s_mem());
    write(bio);
    char* data = nullptr;
    const long len = BIO_get_mem_data(bio, &data);
    std::string out(data, static_cast<std::size_t>(len));
    BIO_free(bio);
    return out;
}

KeyPair Generate(unsigned bits) {
    EVP_PKEY* pkey = EVP_PKEY_Q_keygen(nullptr, nullptr, "RSA", static_cast<size_t>(bits));
    KeyPair kp;
    kp.pkcs8 = Pem([&](BIO* b) { PEM_write_bio_PrivateKey(b, pkey, nullptr, nullptr, 0, nullptr, nullptr); });
    kp.pkcs1 =
        Pem([&](BIO* b) { PEM_write_bio_PrivateKey_traditional(b, pkey, nullptr, nullptr, 0, nullptr, nullptr); });
    kp.publicKey = Pem([&](BIO* b) { PEM_write_bio_PUBKEY(b, pkey); });
    kp.pkcs1Public = Pem([&](BIO* b) {
        OSSL_ENCODER_CTX* ctx =
            OSSL_ENCODER_CTX_new_for_pkey(pkey, EVP_PKEY_PUBLIC_KEY, "PEM", "type-specific", nullptr);
        OSSL_ENCODER_to_bio(ctx, b);
        OSSL_ENCODER_CTX_free(ctx);
    });
    static char pass[] = "secret";
    kp.encryptedPkcs8 =
        Pem([&](BIO* b) { PEM_write_bio_PKCS8PrivateKey(b, pkey, EVP_aes_256_cbc(), pass, 6, nullptr, nullptr); });
    kp.encryptedPkcs1 = Pem([&](BIO* b) {
        PEM_write_bio_PrivateKey_traditional(b, pkey, EVP_aes_256_cbc(), reinterpret_cast<unsigned char*>(pass), 6,
                                             nullptr, nullptr);
    });
    EVP_PKEY_free(pkey);
    return kp;
}

}  // namespace

const KeyPair& RsaKeys(unsigned bits, int which) {
    static std::mutex mutex;
    static std::map<std::pair<unsigned, int>, KeyPair> cache;
    const std::lock_guard<std::mutex> lock(mutex);
    auto it = cache.find({bits, which});
    if (it == cache.end()) it = cache.emplace(std::make_pair(bits, which), Generate(bits)).first;
    return it->second;
}

std::string Unhex(std::string_view hex) {
    std::string out;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
        out.push_back(static_cast<char>(std::stoi(std::string(hex.substr(i, 2)), nullptr, 16)));
    }
    return out;
}

std::string Hex(std::string_view bytes) {
    std::string out;
    char buf[3];
    for (const char c : bytes) {
        std::snprintf(buf, sizeof buf, "%02x", static_cast<unsigned char>(c));
        out += buf;
    }
    return out;
}

std::string RandomBytes(std::size_t n, unsigned seed) {
    std::mt19937 gen(seed);
    std::uniform_int_distribution<int> dist(0, 255);
    std::string out(n, '\0');
    for (auto& c : out) c = static_cast<char>(dist(gen));
    return out;
}

std::string OpenSslBase64(std::string_view bytes) {
    std::string out(4 * ((bytes.size() + 2) / 3) + 1, '\0');
    const int n = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(out.data()),
                                  reinterpret_cast<const unsigned char*>(bytes.data()), static_cast<int>(bytes.size()));
    out.resize(static_cast<std::size_t>(n));
    return out;
}

TempDir::TempDir() {
    std::string tmpl = (std::filesystem::temp_directory_path() / "cryptutil-test-XXXXXX").string();
    if (mkdtemp(tmpl.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    path_ = tmpl;
}

TempDir::~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
}

void TempDir::Write(std::string_view name, std::string_view content) const {
    std::ofstream(path_ / name, std::ios::binary).write(content.data(), static_cast<std::streamsize>(content.size()));
}

std::string TempDir::Read(std::string_view name) const {
    std::ifstream in(path_ / name, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::optional<std::string> Run(const std::string& command) {
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) return std::nullopt;
    std::string out;
    char buf[4096];
    for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, pipe)) > 0;) out.append(buf, n);
    if (pclose(pipe) != 0) return std::nullopt;
    return out;
}

std::optional<std::filesystem::path> TestVectorFile(const std::string& relative) {
    std::vector<std::filesystem::path> roots;
    if (const char* env = std::getenv("CRYPTUTIL_TESTVECTORS"); env != nullptr && *env != '\0') roots.emplace_back(env);
    roots.emplace_back(CRYPTUTIL_SHARED_TESTVECTORS);
    for (const auto& root : roots) {
        if (std::filesystem::is_regular_file(root / relative)) return root / relative;
    }
    return std::nullopt;
}

bool HaveOpenSslTool() {
    return Run("openssl version >/dev/null 2>&1").has_value();
}

}  // namespace testing_support
