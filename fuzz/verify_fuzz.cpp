// verifyRSASignature with a fixed public key; the input is "signature text\ndata". A signature
// that verifies must be the one signing produces (PKCS #1 v1.5 is deterministic).
#include <cstdint>
#include <string>

#include "cryptutil/util.h"
#include "fuzz_support.h"
#include "transport_text.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string input = fuzz::Bytes(data, size);
    const std::size_t cut = input.find('\n');
    const std::string signature = input.substr(0, cut);
    const std::string message = cut == std::string::npos ? std::string() : input.substr(cut + 1);
    if (verifyRSASignature(fuzz::kPublicKey, signature, message)) {
        std::string given, made;
        FUZZ_CHECK(cryptutil::detail::FromTransportText(signature, given) &&
                   cryptutil::detail::FromTransportText(createRSASignature(fuzz::kPrivateKey, message), made) &&
                   given == made);
    }
    return 0;
}
