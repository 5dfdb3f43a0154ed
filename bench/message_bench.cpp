// EncryptMessage / DecryptMessage beside an anchor doing the irreducible work in the same run:
// EVP AES-ECB over the same padded bytes plus OpenSSL's base64 block codec.
#include <benchmark/benchmark.h>
#include <openssl/evp.h>

#include <string>

#include "cryptutil/util.h"

namespace {

unsigned char kKey[32] = {7, 1, 4, 2, 8, 5, 7, 1, 4, 2, 8, 5, 7, 1, 4, 2,
                          8, 5, 7, 1, 4, 2, 8, 5, 7, 1, 4, 2, 8, 5, 7, 1};

std::string Message(std::size_t n) {
    std::string m(n, '\0');
    for (std::size_t i = 0; i < n; ++i) m[i] = static_cast<char>(i * 131 + 7);
    return m;
}

std::size_t PaddedLen(std::size_t n) {
    return 32 * (n / 32 + 1);
}

void Ecb(bool encrypt, const unsigned char* in, unsigned char* out, std::size_t len) {
    EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
    EVP_CipherInit_ex(ctx, EVP_aes_256_ecb(), nullptr, kKey, nullptr, encrypt ? 1 : 0);
    EVP_CIPHER_CTX_set_padding(ctx, 0);
    int n = 0;
    EVP_CipherUpdate(ctx, out, &n, in, static_cast<int>(len));
    EVP_CIPHER_CTX_free(ctx);
}

void BM_EncryptAnchor(benchmark::State& state) {
    const auto n = static_cast<std::size_t>(state.range(0));
    std::string padded = Message(n);
    const std::size_t len = PaddedLen(n);
    padded.append(len - n, static_cast<char>(len - n));
    for (auto _ : state) {
        std::string ct(len, '\0');
        Ecb(true, reinterpret_cast<const unsigned char*>(padded.data()), reinterpret_cast<unsigned char*>(ct.data()),
            len);
        std::string text(4 * ((len + 2) / 3) + 1, '\0');
        EVP_EncodeBlock(reinterpret_cast<unsigned char*>(text.data()),
                        reinterpret_cast<const unsigned char*>(ct.data()), static_cast<int>(len));
        benchmark::DoNotOptimize(text.data());
    }
    state.SetBytesProcessed(state.iterations() * state.range(0));
}

void BM_EncryptMessage(benchmark::State& state) {
    const std::string msg = Message(static_cast<std::size_t>(state.range(0)));
    std::string out;
    for (auto _ : state) benchmark::DoNotOptimize(EncryptMessage(msg, kKey, 32, &out));
    state.SetBytesProcessed(state.iterations() * state.range(0));
}

void BM_DecryptAnchor(benchmark::State& state) {
    const auto n = static_cast<std::size_t>(state.range(0));
    std::string wire;
    EncryptMessage(Message(n), kKey, 32, &wire);
    // The anchor reads plain base64; EncryptMessage's text differs only by "%2B" escapes.
    for (std::size_t p = 0; (p = wire.find("%2B", p)) != std::string::npos;) wire.replace(p, 3, "+");
    const std::size_t len = PaddedLen(n);
    for (auto _ : state) {
        std::string ct(wire.size() / 4 * 3, '\0');
        EVP_DecodeBlock(reinterpret_cast<unsigned char*>(ct.data()),
                        reinterpret_cast<const unsigned char*>(wire.data()), static_cast<int>(wire.size()));
        Ecb(false, reinterpret_cast<const unsigned char*>(ct.data()), reinterpret_cast<unsigned char*>(ct.data()), len);
        std::string plain(ct.data(), len - static_cast<unsigned char>(ct[len - 1]));
        benchmark::DoNotOptimize(plain.data());
    }
    state.SetBytesProcessed(state.iterations() * state.range(0));
}

void BM_DecryptMessage(benchmark::State& state) {
    const auto n = static_cast<std::size_t>(state.range(0));
    std::string wire;
    EncryptMessage(Message(n), kKey, 32, &wire);
    for (auto _ : state) {
        std::string out;
        benchmark::DoNotOptimize(DecryptMessage(wire, kKey, 32, &out));
    }
    state.SetBytesProcessed(state.iterations() * state.range(0));
}

#define CRYPTUTIL_SIZES Arg(64)->Arg(4096)->Arg(1 << 20)
BENCHMARK(BM_EncryptAnchor)->CRYPTUTIL_SIZES;
BENCHMARK(BM_EncryptMessage)->CRYPTUTIL_SIZES;
BENCHMARK(BM_DecryptAnchor)->CRYPTUTIL_SIZES;
BENCHMARK(BM_DecryptMessage)->CRYPTUTIL_SIZES;

}  // namespace
