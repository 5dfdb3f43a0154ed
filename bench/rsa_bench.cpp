// RSA operations, which parse their PEM key on every call, beside anchors in the same run:
// public operations against the bare OpenSSL operation on a key parsed once beforehand; private
// operations against the straightforward PEM_read_bio_RSAPrivateKey followed by the operation.
#define OPENSSL_SUPPRESS_DEPRECATED  // the anchors use the RSA type directly
#include <benchmark/benchmark.h>
#include <openssl/bio.h>
#include <openssl/evp.h>
#include <openssl/objects.h>
#include <openssl/pem.h>
#include <openssl/rsa.h>
#include <openssl/sha.h>

#include <string>

#include "cryptutil/util.h"
#include "transport_text.h"

namespace {

struct Fixture {
    std::string privatePem, publicPem, data = std::string(256, 'd'), signature, wrapped;
    std::string secret = std::string(32, 's');
    RSA* publicRsa = nullptr;
    EVP_PKEY* publicPkey = nullptr;

    Fixture() {
        EVP_PKEY* pkey = EVP_PKEY_Q_keygen(nullptr, nullptr, "RSA", static_cast<size_t>(2048));
        privatePem = Pem([&](BIO* b) { PEM_write_bio_PrivateKey(b, pkey, nullptr, nullptr, 0, nullptr, nullptr); });
        publicPem = Pem([&](BIO* b) { PEM_write_bio_PUBKEY(b, pkey); });
        EVP_PKEY_free(pkey);
        BIO* bio = BIO_new_mem_buf(publicPem.c_str(), -1);
        publicRsa = PEM_read_bio_RSA_PUBKEY(bio, nullptr, nullptr, nullptr);
        BIO_free(bio);
        bio = BIO_new_mem_buf(publicPem.c_str(), -1);
        publicPkey = PEM_read_bio_PUBKEY(bio, nullptr, nullptr, nullptr);
        BIO_free(bio);
        signature = createRSASignature(privatePem, data);
        EncryptKeyV2(reinterpret_cast<unsigned char*>(secret.data()), 32, publicPem, &wrapped);
    }
    template <typename Write>
    static std::string Pem(Write write) {
        BIO* b = BIO_new(BIO_s_mem());
        write(b);
        char* p = nullptr;
        const long n = BIO_get_mem_data(b, &p);
        std::string s(p, static_cast<std::size_t>(n));
        BIO_free(b);
        return s;
    }
    RSA* ReadPrivate() const {
        BIO* bio = BIO_new_mem_buf(privatePem.c_str(), -1);
        RSA* rsa = PEM_read_bio_RSAPrivateKey(bio, nullptr, nullptr, nullptr);
        BIO_free(bio);
        return rsa;
    }
};

const Fixture& F() {
    static const Fixture f;
    return f;
}

void BM_VerifyAnchor(benchmark::State& state) {
    const std::string sig = cryptutil::detail::FromTransportText(F().signature);
    for (auto _ : state) {
        unsigned char digest[32];
        SHA256(reinterpret_cast<const unsigned char*>(F().data.data()), F().data.size(), digest);
        benchmark::DoNotOptimize(
            RSA_verify(NID_sha256, digest, 32, reinterpret_cast<const unsigned char*>(sig.data()), 256, F().publicRsa));
    }
}

// The same on OpenSSL 3's EVP interface, a context per operation as EVP is meant to be used.
void BM_VerifyAnchorEvp(benchmark::State& state) {
    const std::string sig = cryptutil::detail::FromTransportText(F().signature);
    for (auto _ : state) {
        unsigned char digest[32];
        SHA256(reinterpret_cast<const unsigned char*>(F().data.data()), F().data.size(), digest);
        EVP_PKEY_CTX* ctx = EVP_PKEY_CTX_new(F().publicPkey, nullptr);
        EVP_PKEY_verify_init(ctx);
        EVP_PKEY_CTX_set_rsa_padding(ctx, RSA_PKCS1_PADDING);
        EVP_PKEY_CTX_set_signature_md(ctx, EVP_sha256());
        benchmark::DoNotOptimize(
            EVP_PKEY_verify(ctx, reinterpret_cast<const unsigned char*>(sig.data()), sig.size(), digest, 32));
        EVP_PKEY_CTX_free(ctx);
    }
}

void BM_verifyRSASignature(benchmark::State& state) {
    for (auto _ : state) benchmark::DoNotOptimize(verifyRSASignature(F().publicPem, F().signature, F().data));
}

void BM_WrapAnchor(benchmark::State& state) {
    unsigned char out[256];
    for (auto _ : state) {
        benchmark::DoNotOptimize(RSA_public_encrypt(32, reinterpret_cast<const unsigned char*>(F().secret.data()), out,
                                                    F().publicRsa, RSA_PKCS1_OAEP_PADDING));
    }
}

void BM_WrapAnchorEvp(benchmark::State& state) {
    unsigned char out[256];
    for (auto _ : state) {
        std::size_t len = sizeof out;
        EVP_PKEY_CTX* ctx = EVP_PKEY_CTX_new(F().publicPkey, nullptr);
        EVP_PKEY_encrypt_init(ctx);
        EVP_PKEY_CTX_set_rsa_padding(ctx, RSA_PKCS1_OAEP_PADDING);
        benchmark::DoNotOptimize(
            EVP_PKEY_encrypt(ctx, out, &len, reinterpret_cast<const unsigned char*>(F().secret.data()), 32));
        EVP_PKEY_CTX_free(ctx);
    }
}

void BM_EncryptKeyV2(benchmark::State& state) {
    std::string secret = F().secret;
    std::string out;
    for (auto _ : state) {
        benchmark::DoNotOptimize(
            EncryptKeyV2(reinterpret_cast<unsigned char*>(secret.data()), 32, F().publicPem, &out));
    }
}

void BM_SignAnchor(benchmark::State& state) {
    for (auto _ : state) {
        RSA* rsa = F().ReadPrivate();
        unsigned char digest[32];
        SHA256(reinterpret_cast<const unsigned char*>(F().data.data()), F().data.size(), digest);
        unsigned char sig[256];
        unsigned int len = 0;
        benchmark::DoNotOptimize(RSA_sign(NID_sha256, digest, 32, sig, &len, rsa));
        RSA_free(rsa);
    }
}

void BM_createRSASignature(benchmark::State& state) {
    for (auto _ : state) benchmark::DoNotOptimize(createRSASignature(F().privatePem, F().data));
}

void BM_UnwrapAnchor(benchmark::State& state) {
    const std::string ct = cryptutil::detail::FromTransportText(F().wrapped);
    unsigned char out[256];
    for (auto _ : state) {
        RSA* rsa = F().ReadPrivate();
        benchmark::DoNotOptimize(RSA_private_decrypt(256, reinterpret_cast<const unsigned char*>(ct.data()), out, rsa,
                                                     RSA_PKCS1_OAEP_PADDING));
        RSA_free(rsa);
    }
}

void BM_DecryptKeyV2(benchmark::State& state) {
    unsigned char out[256];
    for (auto _ : state) benchmark::DoNotOptimize(DecryptKeyV2(F().wrapped, F().privatePem, out));
}

BENCHMARK(BM_VerifyAnchor);
BENCHMARK(BM_VerifyAnchorEvp);
BENCHMARK(BM_verifyRSASignature);
BENCHMARK(BM_WrapAnchor);
BENCHMARK(BM_WrapAnchorEvp);
BENCHMARK(BM_EncryptKeyV2);
BENCHMARK(BM_SignAnchor);
BENCHMARK(BM_createRSASignature);
BENCHMARK(BM_UnwrapAnchor);
BENCHMARK(BM_DecryptKeyV2);

}  // namespace
