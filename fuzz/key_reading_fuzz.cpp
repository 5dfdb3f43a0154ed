// Fuzzed PEM text as a public and as a private key. A key that reads must work: wrapping gives
// k-byte text that unwraps, signing gives k-byte text that verifies with the same text.
#include <cstdint>
#include <string>

#include "cryptutil/util.h"
#include "fuzz_support.h"
#include "rsa_key.h"
#include "transport_text.h"

namespace {
std::size_t Length(const std::string& text) {
    std::string bytes;
    return cryptutil::detail::FromTransportText(text, bytes) ? bytes.size() : 0;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace cryptutil::detail;
    const std::string pem = fuzz::Bytes(data, size);

    if (const RsaKey key = ReadRsaPublicKey(pem)) {
        std::string text;
        unsigned char secret[1] = {42};
        const int k = EncryptKeyV2(secret, 1, pem, &text);
        FUZZ_CHECK(k == -1 || (k > 0 && Length(text) == static_cast<std::size_t>(k)));
    }
    if (const RsaKey key = ReadRsaPrivateKey(pem)) {
        const std::string signature = createRSASignature(pem, "fuzz");
        FUZZ_CHECK(signature.empty() || Length(signature) == ModulusBytes(*key));
    }
    return 0;
}
