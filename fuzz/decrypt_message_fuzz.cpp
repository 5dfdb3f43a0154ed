// DecryptMessage with a fixed key: it fails leaving its output alone, or appends a message that
// is 1 to 32 bytes shorter than the ciphertext. EncryptMessage of the input decrypts back to it.
#include <algorithm>
#include <cstdint>
#include <iterator>
#include <string>

#include "cryptutil/util.h"
#include "fuzz_support.h"
#include "transport_text.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    unsigned char key[32];
    std::copy(std::begin(fuzz::kAesKey), std::end(fuzz::kAesKey), key);
    const std::string input = fuzz::Bytes(data, size);

    std::string out = "prefix";
    const int rc = DecryptMessage(input, key, 32, &out);
    if (rc != 0) {
        FUZZ_CHECK(rc == -1 && out == "prefix");
    } else {
        const std::size_t cipherLength = cryptutil::detail::FromTransportText(input).size();
        FUZZ_CHECK(out.compare(0, 6, "prefix") == 0);
        const std::size_t messageLength = out.size() - 6;
        FUZZ_CHECK(cipherLength % 16 == 0 && messageLength < cipherLength && cipherLength - messageLength <= 32);
    }

    std::string text;
    const int length = EncryptMessage(input, key, 32, &text);
    FUZZ_CHECK(length == static_cast<int>(32 * (size / 32 + 1)));
    std::string back;
    FUZZ_CHECK(DecryptMessage(text, key, 32, &back) == 0 && back == input);
    return 0;
}
