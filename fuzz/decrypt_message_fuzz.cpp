// DecryptMessage with a fixed key: it fails leaving its output alone, or appends a message that
// is 1 to 32 bytes shorter than the ciphertext. The decrypting stream, fed in chunks of a size the
// input picks, agrees with it. EncryptMessage of the input decrypts back to it, and the encrypting
// stream gives the same text.
#include <algorithm>
#include <cstdint>
#include <iterator>
#include <string>

#include "cryptutil/stream.h"
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
        std::string cipher;
        FUZZ_CHECK(cryptutil::detail::FromTransportText(input, cipher));
        const std::size_t cipherLength = cipher.size();
        FUZZ_CHECK(out.compare(0, 6, "prefix") == 0);
        const std::size_t messageLength = out.size() - 6;
        FUZZ_CHECK(cipherLength % 16 == 0 && messageLength < cipherLength && cipherLength - messageLength <= 32);
    }

    const std::size_t chunk = size == 0 ? 1 : 1 + data[0] % 97;
    cryptutil::MessageDecryptStream decrypt(key, 32);
    std::string streamed = "prefix";
    int streamRc = 0;
    for (std::size_t at = 0; at < size && streamRc == 0; at += chunk) {
        streamRc = decrypt.Update(input.data() + at, std::min(chunk, size - at), &streamed);
    }
    if (streamRc == 0) streamRc = decrypt.Finish(&streamed);
    FUZZ_CHECK(streamRc == rc && (rc != 0 || streamed == out));

    std::string text;
    const int length = EncryptMessage(input, key, 32, &text);
    FUZZ_CHECK(length == static_cast<int>(32 * (size / 32 + 1)));
    std::string back;
    FUZZ_CHECK(DecryptMessage(text, key, 32, &back) == 0 && back == input);
    cryptutil::MessageEncryptStream encrypt(key, 32);
    std::string streamedText;
    for (std::size_t at = 0; at < size; at += chunk) {
        FUZZ_CHECK(encrypt.Update(input.data() + at, std::min(chunk, size - at), &streamedText) == 0);
    }
    FUZZ_CHECK(encrypt.Finish(&streamedText) == 0 && streamedText == text);
    return 0;
}
