// DecryptMessage with a fixed key: it fails leaving its output alone (content, buffer and
// capacity, with or without room for the message), or appends a message that is 1 to 32 bytes
// shorter than the ciphertext. The input's whole blocks, enciphered as a peer would, decrypt
// exactly when they end in PKCS#7 padding of 1 to 32 bytes. EncryptMessage of the input decrypts
// back to it. The streams, fed in chunks whose sizes the input picks (empty and one-byte ones among
// them, and some longer than a unit), give the whole calls' bytes; a failed call leaves their
// output alone too.
#include <openssl/evp.h>

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
    return k % 2 == 1 && b % 4 == 0 ? 0 : b % 32 == 31 ? 3000 + 20 * b : 1 + b % 97;
}

// The transport text of `blocks` enciphered with no padding added: what any peer could send.
std::string PeerText(const unsigned char* key, const std::string& blocks) {
    EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
    std::string cipher(blocks.size() + 16, '\0'), text;
    int n = 0;
    FUZZ_CHECK(ctx != nullptr && EVP_EncryptInit_ex(ctx, EVP_aes_256_ecb(), nullptr, key, nullptr) == 1 &&
               EVP_CIPHER_CTX_set_padding(ctx, 0) == 1 &&
               EVP_EncryptUpdate(ctx, reinterpret_cast<unsigned char*>(cipher.data()), &n,
                                 reinterpret_cast<const unsigned char*>(blocks.data()),
                                 static_cast<int>(blocks.size())) == 1);
    EVP_CIPHER_CTX_free(ctx);
    FUZZ_CHECK(
        cryptutil::detail::ToTransportText(reinterpret_cast<const unsigned char*>(cipher.data()), blocks.size(), text));
    return text;
}

// DecryptMessage into `output`, which a failure leaves as it was: content, buffer and capacity.
int DecryptInto(const std::string& input, unsigned char* key, std::string& output) {
    const std::string before = output;
    const char* const buffer = output.data();
    const std::size_t capacity = output.capacity();
    const int rc = DecryptMessage(input, key, 32, &output);
    FUZZ_CHECK(rc == 0 || (rc == -1 && output == before && output.data() == buffer && output.capacity() == capacity));
    return rc;
}

// The decrypting stream over `text` in the chunks the input picks: its result, and its message. A
// failed call leaves the message as it was, buffer and capacity included.
int StreamDecrypt(const unsigned char* key, const std::string& text, const std::uint8_t* data, std::size_t size,
                  std::string& message) {
    cryptutil::MessageDecryptStream decrypt(key, 32);
    auto call = [&](auto&& step) {
        const std::string before = message;
        const char* const buffer = message.data();
        const std::size_t capacity = message.capacity();
        const int rc = step();
        FUZZ_CHECK(rc == 0 || (message == before && message.data() == buffer && message.capacity() == capacity));
        return rc;
    };
    int rc = 0;
    for (std::size_t at = 0, k = 0, c = 0; at < text.size() && rc == 0; at += c, ++k) {
        c = std::min(Chunk(data, size, k), text.size() - at);
        rc = call([&] { return decrypt.Update(text.data() + at, c, &message); });
    }
    return rc == 0 ? call([&] { return decrypt.Finish(&message); }) : rc;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    unsigned char key[32];
    std::copy(std::begin(fuzz::kAesKey), std::end(fuzz::kAesKey), key);
    const std::string input = fuzz::Bytes(data, size);

    std::string out = "prefix", roomy = "prefix";
    roomy.reserve(6 + size / 4 * 3 + 16);  // room for any message the input could hold
    const int rc = DecryptInto(input, key, out);
    FUZZ_CHECK(DecryptInto(input, key, roomy) == rc && (rc != 0 || roomy == out));
    if (rc == 0) {
        std::string cipher;
        FUZZ_CHECK(cryptutil::detail::FromTransportText(input, cipher));
        const std::size_t cipherLength = cipher.size();
        FUZZ_CHECK(out.compare(0, 6, "prefix") == 0);
        const std::size_t messageLength = out.size() - 6;
        FUZZ_CHECK(cipherLength % 16 == 0 && messageLength < cipherLength && cipherLength - messageLength <= 32);
    }

    std::string streamed = "prefix";
    FUZZ_CHECK(StreamDecrypt(key, input, data, size, streamed) == rc && (rc != 0 || streamed == out));

    const std::string blocks = input.substr(0, size / 16 * 16);
    const std::size_t pad = blocks.empty() ? 0 : static_cast<unsigned char>(blocks.back());
    const bool padded = pad >= 1 && pad <= 32 && pad <= blocks.size() &&
                        blocks.find_first_not_of(static_cast<char>(pad), blocks.size() - pad) == std::string::npos;
    std::string peer = "prefix";
    FUZZ_CHECK(DecryptMessage(PeerText(key, blocks), key, 32, &peer) == (padded ? 0 : -1));
    FUZZ_CHECK(peer == "prefix" + (padded ? blocks.substr(0, blocks.size() - pad) : std::string()));

    std::string text;
    const int length = EncryptMessage(input, key, 32, &text);
    FUZZ_CHECK(length == static_cast<int>(32 * (size / 32 + 1)));
    std::string back;
    FUZZ_CHECK(DecryptMessage(text, key, 32, &back) == 0 && back == input);
    back = "prefix";
    FUZZ_CHECK(StreamDecrypt(key, text, data, size, back) == 0 && back == "prefix" + input);
    cryptutil::MessageEncryptStream encrypt(key, 32);
    std::string streamedText;
    for (std::size_t at = 0, k = 0, c = 0; at < size; at += c, ++k) {
        c = std::min(Chunk(data, size, k), size - at);
        FUZZ_CHECK(encrypt.Update(input.data() + at, c, &streamedText) == 0);
    }
    FUZZ_CHECK(encrypt.Finish(&streamedText) == 0 && streamedText == text);
    return 0;
}
