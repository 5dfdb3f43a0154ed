#include "cryptutil/PKCS7.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

PKCS7_Padding* addPadding(const void* const data, const uint64_t dataLength, const uint8_t BLOCK_SIZE) {
    if (BLOCK_SIZE == 0 || (dataLength != 0 && data == nullptr)) return nullptr;
    const auto n = static_cast<uint8_t>(BLOCK_SIZE - dataLength % BLOCK_SIZE);
    if (dataLength > SIZE_MAX - n) return nullptr;
    const auto total = static_cast<std::size_t>(dataLength) + n;

    auto* rec = static_cast<PKCS7_Padding*>(std::malloc(sizeof(PKCS7_Padding)));
    auto* buf = static_cast<unsigned char*>(std::malloc(total));
    if (rec == nullptr || buf == nullptr) {
        std::free(rec);
        std::free(buf);
        return nullptr;
    }
    if (dataLength != 0) std::memcpy(buf, data, static_cast<std::size_t>(dataLength));
    std::memset(buf + dataLength, n, n);
    rec->dataWithPadding = buf;
    rec->dataLengthWithPadding = total;
    rec->valueOfByteForPadding = n;
    return rec;
}

PKCS7_unPadding* removePadding(const void* const data, const uint64_t dataLength) {
    if (data == nullptr || dataLength == 0) return nullptr;
    const auto* bytes = static_cast<const unsigned char*>(data);
    const unsigned char n = bytes[dataLength - 1];
    if (n == 0 || n > dataLength) return nullptr;
    unsigned char diff = 0;
    for (uint64_t i = dataLength - n; i < dataLength; ++i) diff |= static_cast<unsigned char>(bytes[i] ^ n);
    if (diff != 0) return nullptr;

    auto* rec = static_cast<PKCS7_unPadding*>(std::malloc(sizeof(PKCS7_unPadding)));
    if (rec == nullptr) return nullptr;
    rec->dataWithoutPadding = const_cast<void*>(data);  // a view into the input; nothing to copy
    rec->dataLengthWithoutPadding = dataLength - n;
    rec->valueOfRemovedByteFromData = n;
    return rec;
}

namespace {
// A memset the compiler cannot drop as a dead store.
void* (*const volatile wipe)(void*, int, std::size_t) = std::memset;
}  // namespace

void freePaddingResult(PKCS7_Padding* paddingResult) {
    if (paddingResult == nullptr) return;
    // The padded data is the message in clear (or its ciphertext, when enciphered in place).
    if (paddingResult->dataWithPadding != nullptr) {
        wipe(paddingResult->dataWithPadding, 0, static_cast<std::size_t>(paddingResult->dataLengthWithPadding));
    }
    std::free(paddingResult->dataWithPadding);
    std::free(paddingResult);
}

void freeUnPaddingResult(PKCS7_unPadding* unPaddingResult) {
    std::free(unPaddingResult);
}
