// Fuzzed PEM text as a public and as a private key. A key that reads must work: wrapping gives
// the transport text of k bytes, and so does signing.
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

    RsaKey key;
    if (ReadRsaPublicKey(pem, key)) {
        std::string text;
        unsigned char secret[1] = {42};
        const int k = EncryptKeyV2(secret, 1, pem, &text);
        FUZZ_CHECK(k > 0 && static_cast<std::size_t>(k) == ModulusBytes(key) && Length(text) == ModulusBytes(key));
    }
    if (ReadRsaPrivateKey(pem, key)) {
        FUZZ_CHECK(Length(createRSASignature(pem, "fuzz")) == ModulusBytes(key));
    }
    return 0;
}
