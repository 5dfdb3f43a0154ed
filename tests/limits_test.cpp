// Message lengths at the edge of int: they fail by their result, never by writing out of bounds.
// Needing gigabytes, they run only with CRYPTUTIL_BIG_TESTS=1.
#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <string>

#include "cryptutil/util.h"
#include "test_support.h"

namespace {

unsigned char* U(std::string& s) {
    return reinterpret_cast<unsigned char*>(s.data());
}

bool BigTests() {
    const char* env = std::getenv("CRYPTUTIL_BIG_TESTS");
    return env != nullptr && std::string(env) == "1";
}

// About 10 GB of memory.
TEST(Limits, MessageLengthsAroundIntMax) {
    if (!BigTests()) GTEST_SKIP() << "set CRYPTUTIL_BIG_TESTS=1 to run (needs about 10 GB of memory)";
    std::string key(32, 'k');
    std::string out = "kept";
    std::string message(static_cast<std::size_t>(INT_MAX) - 31, 'a');  // 2^31 - 32 bytes: too long
    EXPECT_EQ(EncryptMessage(message, U(key), 32, &out), -1);
    EXPECT_EQ(out, "kept");
    message.pop_back();  // 2^31 - 33 bytes: the longest that fits
    EXPECT_EQ(EncryptMessage(message, U(key), 32, &out), INT_MAX - 31);
    message.clear();
    message.shrink_to_fit();
    // Transport text whose bytes would not fit an int is refused before any decryption.
    std::string text((static_cast<std::size_t>(INT_MAX) / 3 + 6) * 4, 'A');
    std::string plain = "kept";
    EXPECT_EQ(DecryptMessage(std::move(text), U(key), 32, &plain), -1);
    EXPECT_EQ(plain, "kept");
}

}  // namespace
