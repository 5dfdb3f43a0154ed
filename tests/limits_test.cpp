// Lengths at the edge of int: EncryptMessage fails by its result for a ciphertext length that an
// int cannot hold, and DecryptMessage reads a text of more than INT_MAX bytes as a stream does.
// On 64-bit targets this needs about 6 GB of memory and a minute; where size_t has 32 bits such
// a message cannot exist, and the largest that can is tried instead.
#include <gtest/gtest.h>

#include <climits>
#include <string>

#include "cryptutil/stream.h"
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
    // A text of more than INT_MAX bytes, made by the stream, decrypts whole as it does in a stream.
    const std::string chunk = testing_support::RandomBytes(1 << 20, 8);
    const std::size_t chunks = (static_cast<std::size_t>(INT_MAX) >> 20) + 2;
    cryptutil::MessageEncryptStream encrypt(U(key), 32);
    std::string text;
    for (std::size_t i = 0; i < chunks; ++i) ASSERT_EQ(encrypt.Update(chunk.data(), chunk.size(), &text), 0);
    ASSERT_EQ(encrypt.Finish(&text), 0);
    std::string plain;
    ASSERT_EQ(DecryptMessage(std::move(text), U(key), 32, &plain), 0);
    ASSERT_EQ(plain.size(), chunks << 20);
    EXPECT_TRUE(plain.compare(plain.size() - chunk.size(), chunk.size(), chunk) == 0);
}

}  // namespace
