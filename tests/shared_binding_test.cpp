// A host that defines functions named like the library's components, linked against the shared
// library: the library keeps calling its own and gives the right bytes.
#include <gtest/gtest.h>

#include <string>

#include "cryptutil/PKCS7.h"
#include "cryptutil/base64.h"
#include "cryptutil/util.h"

std::string base64_encode(unsigned char const*, std::size_t, bool) {
    return "the host's";
}
std::string base64_decode(std::string const&, bool) {
    return "the host's";
}
PKCS7_Padding* addPadding(const void* const, const uint64_t, const uint8_t) {
    return nullptr;
}
PKCS7_unPadding* removePadding(const void* const, const uint64_t) {
    return nullptr;
}
void freePaddingResult(PKCS7_Padding*) {}
void freeUnPaddingResult(PKCS7_unPadding*) {}

namespace {

TEST(SharedLibrary, KeepsItsOwnComponents) {
    unsigned char key[32];
    for (unsigned i = 0; i < 32; ++i) key[i] = static_cast<unsigned char>(i * 7 + 1);
    std::string message, text, back;
    for (unsigned i = 0; i < 33; ++i) message += static_cast<char>('a' + i * 5 % 26);
    ASSERT_EQ(EncryptMessage(message, key, 32, &text), 64);
    EXPECT_EQ(text, "hlmXpHDKdq6srsGrDJFgxjtlK83ApNV6/TTSd1QzblLWV%2BoXc9eg/baLOgSIjdZKSxBezT5n8Q%2BIENCrkOkBEg==");
    ASSERT_EQ(DecryptMessage(text, key, 32, &back), 0);
    EXPECT_EQ(back, message);
}

}  // namespace
