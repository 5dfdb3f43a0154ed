// Hex codecs on 1 MiB of bytes, anchored on bytes_to_hex_string in the same run.
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "cryptutil/util.h"

namespace {

constexpr std::size_t kSize = 1 << 20;

std::vector<unsigned char> Bytes() {
    std::vector<unsigned char> v(kSize);
    for (std::size_t i = 0; i < kSize; ++i) v[i] = static_cast<unsigned char>(i * 167 + 13);
    return v;
}

void BM_HexAnchor_bytes_to_hex_string(benchmark::State& state) {
    const auto bytes = Bytes();
    for (auto _ : state) benchmark::DoNotOptimize(bytes_to_hex_string(bytes));
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(kSize));
}

void BM_chararr_to_hex(benchmark::State& state) {
    auto bytes = Bytes();
    for (auto _ : state) benchmark::DoNotOptimize(chararr_to_hex(bytes.data(), static_cast<int>(bytes.size())));
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(kSize));
}

void BM_OPENSSL_hexstr2buf(benchmark::State& state) {
    const auto v = Bytes();
    const std::string bytes(v.begin(), v.end());
    for (auto _ : state) benchmark::DoNotOptimize(OPENSSL_hexstr2buf(bytes));
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(kSize));
}

void BM_OPENSSL_buf2hexstr(benchmark::State& state) {
    const std::string text = bytes_to_hex_string(Bytes());
    for (auto _ : state) benchmark::DoNotOptimize(OPENSSL_buf2hexstr(text));
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(kSize));
}

BENCHMARK(BM_HexAnchor_bytes_to_hex_string);
BENCHMARK(BM_chararr_to_hex);
BENCHMARK(BM_OPENSSL_hexstr2buf);
BENCHMARK(BM_OPENSSL_buf2hexstr);

}  // namespace
