// EncryptMessage / DecryptMessage beside an anchor doing the irreducible work in the same run:
// EVP AES-ECB over the same padded bytes plus OpenSSL's base64 block codec, on buffers allocated
// once. Each operation also reports its peak heap above the level at the start of the call, less
// the output it leaves (so: the working memory), as a multiple of the message size.
#include <benchmark/benchmark.h>
#include <openssl/evp.h>

#include <functional>
#include <random>
#include <string>

#include "crypto_library.h"
#include "cryptutil/util.h"
#include "heap_counter.h"

namespace {

unsigned char kKey[32] = {7, 1, 4, 2, 8, 5, 7, 1, 4, 2, 8, 5, 7, 1, 4, 2,
                          8, 5, 7, 1, 4, 2, 8, 5, 7, 1, 4, 2, 8, 5, 7, 1};

// Random bytes: a message with a short period would repeat its ciphertext and text, which the
// branch predictors learn.
std::string Message(std::size_t n) {
    std::mt19937 gen(static_cast<unsigned>(n));
    std::string m(n, '\0');
    for (auto& c : m) c = static_cast<char>(gen());
    return m;
}

std::size_t PaddedLen(std::size_t n) {
    return 32 * (n / 32 + 1);
}

unsigned char* U(std::string& s) {
    return reinterpret_cast<unsigned char*>(s.data());
}

// Runs EVP over whole blocks; `out` has room for a block more, as EVP's manuals ask.
void Ecb(bool encrypt, const unsigned char* in, unsigned char* out, std::size_t len) {
    EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
    EVP_CipherInit_ex(ctx, EVP_aes_256_ecb(), nullptr, kKey, nullptr, encrypt ? 1 : 0);
    EVP_CIPHER_CTX_set_padding(ctx, 0);
    int n = 0;
    EVP_CipherUpdate(ctx, out, &n, in, static_cast<int>(len));
    EVP_CIPHER_CTX_free(ctx);
}

template <typename Result, typename Count>
void Base64Block(Result (*codec)(unsigned char*, const unsigned char*, Count), unsigned char* out,
                 const unsigned char* in, std::size_t n) {
    benchmark::DoNotOptimize(codec(out, in, cryptutil::detail::LengthFor<2>(codec, n)));
}

// Working memory of one call as a multiple of the message size.
double WorkingMemory(std::size_t n, const std::function<void()>& call) {
    const heap::Use use = heap::Measure(call);
    return static_cast<double>(use.peak - (use.after > 0 ? use.after : 0)) / static_cast<double>(n);
}

void BM_EncryptAnchor(benchmark::State& state) {
    const auto n = static_cast<std::size_t>(state.range(0));
    std::string padded = Message(n);
    const std::size_t len = PaddedLen(n);
    padded.append(len - n, static_cast<char>(len - n));
    std::string ct(len + 16, '\0'), text(4 * ((len + 2) / 3) + 1, '\0');
    for (auto _ : state) {
        Ecb(true, U(padded), U(ct), len);
        Base64Block(EVP_EncodeBlock, U(text), U(ct), len);
        benchmark::DoNotOptimize(text.data());
    }
    state.SetBytesProcessed(state.iterations() * state.range(0));
}

void BM_EncryptMessage(benchmark::State& state) {
    const auto n = static_cast<std::size_t>(state.range(0));
    const std::string msg = Message(n);
    std::string out;
    state.counters["heap_by_value"] = WorkingMemory(n, [&] { EncryptMessage(msg, kKey, 32, &out); });
    std::string moved = msg;
    state.counters["heap_moved"] = WorkingMemory(n, [&] { EncryptMessage(std::move(moved), kKey, 32, &out); });
    for (auto _ : state) benchmark::DoNotOptimize(EncryptMessage(msg, kKey, 32, &out));
    state.SetBytesProcessed(state.iterations() * state.range(0));
}

std::string Wire(std::size_t n) {
    std::string wire;
    EncryptMessage(Message(n), kKey, 32, &wire);
    return wire;
}

void BM_DecryptAnchor(benchmark::State& state) {
    const auto n = static_cast<std::size_t>(state.range(0));
    std::string wire = Wire(n);
    // The anchor reads plain base64; EncryptMessage's text differs only by "%2B" escapes.
    for (std::size_t p = 0; (p = wire.find("%2B", p)) != std::string::npos;) wire.replace(p, 3, "+");
    const std::size_t len = PaddedLen(n);
    std::string ct(wire.size() / 4 * 3, '\0'), padded(len + 16, '\0'), plain(n, '\0');
    for (auto _ : state) {
        Base64Block(EVP_DecodeBlock, U(ct), U(wire), wire.size());
        Ecb(false, U(ct), U(padded), len);
        plain.assign(padded.data(), len - static_cast<unsigned char>(padded[len - 1]));
        benchmark::DoNotOptimize(plain.data());
    }
    state.SetBytesProcessed(state.iterations() * state.range(0));
}

void BM_DecryptMessage(benchmark::State& state) {
    const auto n = static_cast<std::size_t>(state.range(0));
    const std::string wire = Wire(n);
    std::string out;
    state.counters["heap_by_value"] = WorkingMemory(n, [&] { DecryptMessage(wire, kKey, 32, &out); });
    std::string moved = wire;
    out.clear();
    state.counters["heap_moved"] = WorkingMemory(n, [&] { DecryptMessage(std::move(moved), kKey, 32, &out); });
    for (auto _ : state) {
        out.clear();  // a caller reading message after message into one string
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
