// DecryptKeyV2 with a fixed private key: -1, or a secret of at most k - 42 bytes; never a write
// past k bytes of the output.
#include <cstdint>
#include <cstring>
#include <string>

#include "cryptutil/util.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    constexpr std::size_t k = 128;
    unsigned char out[k + 32];
    std::memset(out, 0xA5, sizeof out);
    const int n = DecryptKeyV2(fuzz::Bytes(data, size), fuzz::kPrivateKey, out);
    FUZZ_CHECK(n == -1 || (n >= 0 && static_cast<std::size_t>(n) <= k - 42));
    for (std::size_t i = k; i < sizeof out; ++i) FUZZ_CHECK(out[i] == 0xA5);
    return 0;
}
