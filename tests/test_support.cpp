#include "test_support.h"

#include <openssl/encoder.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rsa.h>
#include <openssl/x509.h>

#include <map>
#include <mutex>
#include <random>

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
    EVP_PKEY* k = EVP_PKEY_Q_keygen(nullptr, nullptr, "RSA", static_cast<size_t>(bits));
    static char pass[] = "secret";
    auto* upass = reinterpret_cast<unsigned char*>(pass);
    KeyPair kp{
        Pem([&](BIO* b) { PEM_write_bio_PrivateKey_traditional(b, k, nullptr, nullptr, 0, nullptr, nullptr); }),
        Pem([&](BIO* b) { PEM_write_bio_PrivateKey(b, k, nullptr, nullptr, 0, nullptr, nullptr); }),
        Pem([&](BIO* b) { PEM_write_bio_PUBKEY(b, k); }),
        Pem([&](BIO* b) {
            OSSL_ENCODER_CTX* ctx =
                OSSL_ENCODER_CTX_new_for_pkey(k, EVP_PKEY_PUBLIC_KEY, "PEM", "type-specific", nullptr);
            OSSL_ENCODER_to_bio(ctx, b);
            OSSL_ENCODER_CTX_free(ctx);
        }),
        Pem([&](BIO* b) { PEM_write_bio_PKCS8PrivateKey(b, k, EVP_aes_256_cbc(), pass, 6, nullptr, nullptr); }),
        Pem([&](BIO* b) { PEM_write_bio_PrivateKey_traditional(b, k, EVP_aes_256_cbc(), upass, 6, nullptr, nullptr); }),
    };
    EVP_PKEY_free(k);
    return kp;
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

std::string ReferenceTransportText(std::string_view bytes) {
    std::string b64(4 * ((bytes.size() + 2) / 3) + 1, '\0');
    b64.resize(static_cast<std::size_t>(EVP_EncodeBlock(reinterpret_cast<unsigned char*>(b64.data()),
                                                        reinterpret_cast<const unsigned char*>(bytes.data()),
                                                        static_cast<int>(bytes.size()))));
    std::string out;
    for (const char c : b64) out += c == '+' ? std::string("%2B") : std::string(1, c);
    return out;
}

std::filesystem::path TestVectorFile(const std::string& relative) {
    return std::filesystem::path(CRYPTUTIL_TESTVECTORS_DIR) / relative;
}

std::string EcPublicKey() {
    EVP_PKEY* k = EVP_PKEY_Q_keygen(nullptr, nullptr, "EC", "P-256");
    std::string pem = Pem([&](BIO* b) { PEM_write_bio_PUBKEY(b, k); });
    EVP_PKEY_free(k);
    return pem;
}

std::pair<std::string, std::string> PssKeys() {
    EVP_PKEY* k = nullptr;
    EVP_PKEY_CTX* gen = EVP_PKEY_CTX_new_from_name(nullptr, "RSA-PSS", nullptr);
    EVP_PKEY_keygen_init(gen);
    EVP_PKEY_CTX_set_rsa_keygen_bits(gen, 2048);
    EVP_PKEY_generate(gen, &k);
    EVP_PKEY_CTX_free(gen);
    PKCS8_PRIV_KEY_INFO* p8 = EVP_PKEY2PKCS8(k);
    const unsigned char* inner = nullptr;
    int innerLen = 0;
    PKCS8_pkey_get0(nullptr, &inner, &innerLen, nullptr, p8);
    auto keys = std::make_pair(Pem([&](BIO* b) { PEM_write_bio_PUBKEY(b, k); }),
                               Pem([&](BIO* b) { PEM_write_bio(b, "RSA PRIVATE KEY", "", inner, innerLen); }));
    PKCS8_PRIV_KEY_INFO_free(p8);
    EVP_PKEY_free(k);
    return keys;
}

const KeyPair& RsaKeys(unsigned bits, int which) {
    static std::mutex mutex;
    static std::map<std::pair<unsigned, int>, KeyPair> cache;
    const std::lock_guard<std::mutex> lock(mutex);
    auto it = cache.find({bits, which});
    if (it == cache.end()) it = cache.emplace(std::make_pair(bits, which), Generate(bits)).first;
    return it->second;
}

}  // namespace testing_support
