// RSA operations, which parse their PEM key on every call, beside anchors in the same run: public
// operations against the bare EVP operation on a key parsed once beforehand; private operations
// against the straightforward PEM_read_bio_PrivateKey followed by the EVP operation. EVP is what
// every crypto library the library builds against offers alike.
#include <benchmark/benchmark.h>
#include <openssl/bio.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rsa.h>
#include <openssl/sha.h>

#include <fstream>
#include <sstream>
#include <string>

#include "cryptutil/util.h"
#include "transport_text.h"

namespace {

std::string ReadFile(const std::string& name) {
    std::ifstream in(std::string(CRYPTUTIL_TESTKEYS_DIR) + "/" + name, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

struct Fixture {
    std::string privatePem = ReadFile("rsa2048-a.pkcs8.pem"), publicPem = ReadFile("rsa2048-a.public.pem");
    std::string data = std::string(256, 'd'), signature, wrapped, secret = std::string(32, 's');
    EVP_PKEY* publicPkey = nullptr;

    Fixture() {
        BIO* bio = BIO_new_mem_buf(publicPem.c_str(), -1);
        publicPkey = PEM_read_bio_PUBKEY(bio, nullptr, nullptr, nullptr);
        BIO_free(bio);
        signature = createRSASignature(privatePem, data);
        EncryptKeyV2(reinterpret_cast<unsigned char*>(secret.data()), 32, publicPem, &wrapped);
    }
    EVP_PKEY* ReadPrivate() const {
        BIO* bio = BIO_new_mem_buf(privatePem.c_str(), -1);
        EVP_PKEY* pkey = PEM_read_bio_PrivateKey(bio, nullptr, nullptr, nullptr);
        BIO_free(bio);
        return pkey;
    }
};

const Fixture& F() {
    static const Fixture f;
    return f;
}

void Digest(unsigned char* digest) {
    SHA256(reinterpret_cast<const unsigned char*>(F().data.data()), F().data.size(), digest);
}

// A context per operation, as EVP is meant to be used.
EVP_PKEY_CTX* Context(EVP_PKEY* pkey, int (*init)(EVP_PKEY_CTX*), int padding) {
    EVP_PKEY_CTX* ctx = EVP_PKEY_CTX_new(pkey, nullptr);
    init(ctx);
    EVP_PKEY_CTX_set_rsa_padding(ctx, padding);
    if (padding == RSA_PKCS1_PADDING) EVP_PKEY_CTX_set_signature_md(ctx, EVP_sha256());
    return ctx;
}

void BM_VerifyAnchor(benchmark::State& state) {
    std::string sig;
    cryptutil::detail::FromTransportText(F().signature, sig);
    for (auto _ : state) {
        unsigned char digest[32];
        Digest(digest);
        EVP_PKEY_CTX* ctx = Context(F().publicPkey, EVP_PKEY_verify_init, RSA_PKCS1_PADDING);
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
        std::size_t len = sizeof out;
        EVP_PKEY_CTX* ctx = Context(F().publicPkey, EVP_PKEY_encrypt_init, RSA_PKCS1_OAEP_PADDING);
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
        EVP_PKEY* pkey = F().ReadPrivate();
        unsigned char digest[32], sig[256];
        Digest(digest);
        std::size_t len = sizeof sig;
        EVP_PKEY_CTX* ctx = Context(pkey, EVP_PKEY_sign_init, RSA_PKCS1_PADDING);
        benchmark::DoNotOptimize(EVP_PKEY_sign(ctx, sig, &len, digest, 32));
        EVP_PKEY_CTX_free(ctx);
        EVP_PKEY_free(pkey);
    }
}

void BM_createRSASignature(benchmark::State& state) {
    for (auto _ : state) benchmark::DoNotOptimize(createRSASignature(F().privatePem, F().data));
}

void BM_UnwrapAnchor(benchmark::State& state) {
    std::string ct;
    cryptutil::detail::FromTransportText(F().wrapped, ct);
    unsigned char out[256];
    for (auto _ : state) {
        EVP_PKEY* pkey = F().ReadPrivate();
        std::size_t len = sizeof out;
        EVP_PKEY_CTX* ctx = Context(pkey, EVP_PKEY_decrypt_init, RSA_PKCS1_OAEP_PADDING);
        benchmark::DoNotOptimize(
            EVP_PKEY_decrypt(ctx, out, &len, reinterpret_cast<const unsigned char*>(ct.data()), ct.size()));
        EVP_PKEY_CTX_free(ctx);
        EVP_PKEY_free(pkey);
    }
}

void BM_DecryptKeyV2(benchmark::State& state) {
    unsigned char out[256];
    for (auto _ : state) benchmark::DoNotOptimize(DecryptKeyV2(F().wrapped, F().privatePem, out));
}

BENCHMARK(BM_VerifyAnchor);
BENCHMARK(BM_verifyRSASignature);
BENCHMARK(BM_WrapAnchor);
BENCHMARK(BM_EncryptKeyV2);
BENCHMARK(BM_SignAnchor);
BENCHMARK(BM_createRSASignature);
BENCHMARK(BM_UnwrapAnchor);
BENCHMARK(BM_DecryptKeyV2);

}  // namespace
