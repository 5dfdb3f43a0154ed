// DecryptMessage with a fixed key: it fails leaving its output alone, or appends a message that
// is 1 to 32 bytes shorter than the ciphertext. The decrypting stream, fed in chunks whose sizes
// the input picks (empty ones among them), agrees with it. EncryptMessage of the input decrypts back to it, and the
// encrypting stream gives the same text.
#include <algorithm>
#include <cstdint>
#include <iterator>
#include <string>

#include "cryptutil/stream.h"
#include "cryptutil/util.h"
#include "fuzz_support.h"
#include "transport_text.h"

namespace {
// The size of the k-th chunk, from the input's bytes: every other one may be empty.
std::size_t Chunk(const std::uint8_t* data, std::size_t size, std::size_t k) {
    const unsigned b = size == 0 ? 0 : data[k % size];
    return k % 2 == 1 && b % 4 == 0 ? 0 : 1 + b % 97;
}
}  // namespace

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

    cryptutil::MessageDecryptStream decrypt(key, 32);
    std::string streamed = "prefix";
    int streamRc = 0;
    for (std::size_t at = 0, k = 0, c = 0; at < size && streamRc == 0; at += c, ++k) {
        c = std::min(Chunk(data, size, k), size - at);
        streamRc = decrypt.Update(input.data() + at, c, &streamed);
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
    for (std::size_t at = 0, k = 0, c = 0; at < size; at += c, ++k) {
        c = std::min(Chunk(data, size, k), size - at);
        FUZZ_CHECK(encrypt.Update(input.data() + at, c, &streamedText) == 0);
    }
    FUZZ_CHECK(encrypt.Finish(&streamedText) == 0 && streamedText == text);
    return 0;
}
