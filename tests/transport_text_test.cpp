// Escaping, unescaping, writing and reading transport text against independent rules and
// OpenSSL's codec (what is read, and what is refused) are properties of
// fuzz/transport_text_fuzz.cpp, which ctest replays; here the codec's own strictness.
#include <gtest/gtest.h>

#include <string>

#include "cryptutil/base64.h"
#include "test_support.h"

namespace {

// Every byte value at every position of a text long enough for the widest steps: refused unless it
// is in the alphabet.
TEST(Base64, EveryByteEverywhere) {
    const std::string bytes = testing_support::RandomBytes(96, 23);
    const std::string alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    const std::string text = base64_encode(reinterpret_cast<const unsigned char*>(bytes.data()), 96, false);
    for (std::size_t at = 0; at < text.size(); ++at) {
        for (int b = 0; b < 256; ++b) {
            std::string changed = text;
            changed[at] = static_cast<char>(b);
            const bool valid = alphabet.find(static_cast<char>(b)) != std::string::npos;
            const bool pad = b == '=' && at + 1 == text.size();
            ASSERT_EQ(base64_decode(changed, false).size(), valid ? 96U : pad ? 95U : 0U) << at << " " << b;
        }
    }
}

}  // namespace
