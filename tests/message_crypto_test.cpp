// Padding checks against every peer text, and the streams against the whole calls for any
// chunking, are properties of fuzz/decrypt_message_fuzz.cpp, which ctest replays.
#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <string_view>
#include <vector>

#include "cryptutil/stream.h"
#include "cryptutil/util.h"
#include "test_support.h"
#include "transport_text.h"

namespace {

using cryptutil::detail::kPieceBytes;
using testing_support::RandomBytes;
using testing_support::U;

std::string Key(int size) {
    return RandomBytes(static_cast<std::size_t>(size), 1000U + static_cast<unsigned>(size));
}

TEST(MessageCrypto, BadKeysFailAndLeaveOutputsAlone) {
    std::string key = Key(64), good, out = "kept";
    ASSERT_EQ(EncryptMessage("m", U(key), 16, &good), 32);
    for (const int ks : {0, 8, 15, 17, 31, 33, 64, -1, INT_MIN, INT_MAX}) {
        EXPECT_EQ(EncryptMessage("m", U(key), ks, &out), -1) << ks;
        EXPECT_EQ(DecryptMessage(good, U(key), ks, &out), -1) << ks;
    }
    EXPECT_EQ(EncryptMessage("m", nullptr, 16, &out), -1);
    EXPECT_EQ(DecryptMessage(good, nullptr, 16, &out), -1);
    EXPECT_EQ(out, "kept");
    EXPECT_EQ(EncryptMessage("m", U(key), 16, nullptr), -1);
    EXPECT_EQ(DecryptMessage(good, U(key), 16, nullptr), -1);
}

// Every length up to 100 and about piece edges, under each key size, with a NUL byte: the length
// and text EncryptMessage gives read back, and so does a peer's text padded to 16 bytes. Deciphering
// writes only within its output, whatever room that has (none, content before, a capacity of exactly
// the result): under valgrind a write past a buffer is a finding (the backend script runs it so).
TEST(MessageCrypto, RoundTripsWithinItsOutput) {
    std::vector<std::size_t> lengths;
    for (std::size_t n = 0; n <= 100; ++n) lengths.push_back(n);
    for (const std::size_t edge : {kPieceBytes, 2 * kPieceBytes}) {
        for (std::size_t n = edge - 33; n <= edge + 1; n += 4) lengths.push_back(n);
    }
    for (const int ks : {16, 24, 32}) {
        std::string key = Key(ks);
        for (const std::size_t n : lengths) {
            std::string message = RandomBytes(n, static_cast<unsigned>(n)), own;
            if (n > 2) message[n / 2] = '\0';
            ASSERT_EQ(EncryptMessage(message, U(key), ks, &own), static_cast<int>(32 * (n / 32 + 1))) << n;
            const std::size_t pad = 16 - n % 16;
            const std::string peer = testing_support::RawEcbText(key, message + std::string(pad, char(pad)));
            for (const std::string* text : {static_cast<const std::string*>(&own), &peer}) {
                for (const std::string start : {"", "kept:"}) {
                    for (const bool exact : {false, true}) {
                        std::string out = start;
                        if (exact) out.reserve(start.size() + n);
                        ASSERT_EQ(DecryptMessage(*text, U(key), ks, &out), 0) << n;
                        ASSERT_TRUE(out == start + message) << ks << "/" << n;
                    }
                }
            }
        }
    }
}

// A text that fails once its first pieces are deciphered (its tail is not transport text, or its
// padding is wrong) fails without replacing or growing the output, whether or not it has the room
// the text's length promises, and leaves no plaintext in that room (looked for past the first
// block, whose first byte the string's terminator overwrites anyway).
TEST(MessageCrypto, FailedDecryptionKeepsTheOutputsBuffer) {
    std::string key = Key(32);
    const std::string message = RandomBytes(3 * kPieceBytes, 3);
    std::string text;
    ASSERT_GT(EncryptMessage(message, U(key), 32, &text), 0);
    const std::string badPad = testing_support::RawEcbText(key, message.substr(0, message.size() - 1) + '!');
    for (const std::string& bad : {text + "%", text + std::string(text.size() / 3, '%'), text + "%%%%A===", badPad,
                                   testing_support::RawEcbText(key, message.substr(0, 31) + '!')}) {
        for (const std::size_t room : {bad.size() / 4 * 3 + 16, std::size_t{0}}) {  // enough, were it text; none
            std::string out(5 + room, '.');
            out.replace(0, 5, "kept:");
            out.resize(5);
            const char* const buffer = out.data();
            const std::size_t capacity = out.capacity();
            ASSERT_EQ(DecryptMessage(bad, U(key), 32, &out), -1) << bad.size();
            EXPECT_TRUE(out == "kept:" && out.data() == buffer && out.capacity() == capacity) << bad.size();
            EXPECT_EQ(std::string_view(out.data(), capacity).find(message.substr(16, 15)), std::string_view::npos);
        }
    }
}

// Every failed call ends a stream for good, whatever failed; so does Finish.
TEST(MessageStream, AFailureEndsTheStream) {
    std::string key = Key(32), valid, out = "kept";
    ASSERT_EQ(EncryptMessage("abcdef", U(key), 32, &valid), 32);
    for (int failure = 0; failure < 4; ++failure) {
        cryptutil::MessageEncryptStream encrypt(U(key), failure == 3 ? 20 : 32);
        cryptutil::MessageDecryptStream decrypt(U(key), failure == 3 ? 20 : 32);
        std::string text, plain;
        if (failure < 3) {
            ASSERT_EQ(encrypt.Update("abc", 3, &text), 0);
            ASSERT_EQ(decrypt.Update(valid.data(), 10, &plain), 0);
        }
        if (failure == 0) {  // null input, null output, and a Finish already made
            EXPECT_EQ(encrypt.Update(nullptr, 5, &text), -1);
            EXPECT_EQ(decrypt.Update(nullptr, 5, &plain), -1);
        } else if (failure == 1) {
            EXPECT_EQ(encrypt.Update("d", 1, nullptr), -1);
            EXPECT_EQ(decrypt.Update(valid.data() + 10, 1, nullptr), -1);
        } else if (failure == 2) {
            EXPECT_EQ(encrypt.Finish(&text), 0);
            EXPECT_EQ(decrypt.Update(valid.data() + 10, valid.size() - 10, &plain), 0);
            EXPECT_EQ(decrypt.Finish(&plain), 0);
        }
        const std::string held = text, heldPlain = plain;
        EXPECT_EQ(encrypt.Update("def", 3, &text), -1) << failure;
        EXPECT_EQ(encrypt.Finish(&text), -1) << failure;
        EXPECT_EQ(decrypt.Update(valid.data() + 10, valid.size() - 10, &plain), -1) << failure;
        EXPECT_EQ(decrypt.Finish(&plain), -1) << failure;
        EXPECT_TRUE(text == held && plain == heldPlain) << failure;
    }
}

}  // namespace
