// Message lengths at the edge of int fail by their result, never by writing out of bounds or
// throwing. On 64-bit targets this needs about 10 GB of memory and a minute; where size_t has 32
// bits such a message cannot exist, and the largest that can is tried instead.
#include <gtest/gtest.h>

#include <climits>
#include <string>

#include "cryptutil/util.h"
#include "test_support.h"

namespace {

using testing_support::U;

TEST(Limits, MessageLengthsAroundIntMax) {
    std::string key(32, 'k'), out = "kept";
    if constexpr (sizeof(std::size_t) < 8) {
        // Near the address space's end: either it encrypts, or it fails by its result.
        std::string message(std::string().max_size() / 2, 'a');
        const int rc = EncryptMessage(std::move(message), U(key), 32, &out);
        EXPECT_TRUE(rc == -1 ? out == "kept" : rc > 0) << rc;
        return;
    }
    std::string message(static_cast<std::size_t>(INT_MAX) - 31, 'a');  // 2^31 - 32 bytes: too long
    EXPECT_EQ(EncryptMessage(message, U(key), 32, &out), -1);
    EXPECT_EQ(out, "kept");
    message.pop_back();  // 2^31 - 33 bytes: the longest that fits
    EXPECT_EQ(EncryptMessage(std::move(message), U(key), 32, &out), INT_MAX - 31);
    out.clear();
    out.shrink_to_fit();
    // Transport text whose bytes would not fit an int is refused before any decryption.
    std::string text((static_cast<std::size_t>(INT_MAX) / 3 + 6) * 4, 'A');
    std::string plain = "kept";
    EXPECT_EQ(DecryptMessage(std::move(text), U(key), 32, &plain), -1);
    EXPECT_EQ(plain, "kept");
}

}  // namespace
