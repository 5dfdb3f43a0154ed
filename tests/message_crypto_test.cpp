#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <optional>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "cryptutil/stream.h"
#include "cryptutil/util.h"
#include "test_support.h"
#include "transport_text.h"

namespace {

using testing_support::RandomBytes;
using testing_support::U;
using testing_support::Unhex;

std::string Key(int size) {
    return RandomBytes(static_cast<std::size_t>(size), 1000U + static_cast<unsigned>(size));
}
std::string Decoded(const std::string& text) {
    return testing_support::ReferenceBytes(text);
}

std::string RawEcb(const std::string& key, const std::string& blocks) {
    return testing_support::RawEcbText(key, blocks);
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

// NIST SP 800-38A F.1.1, F.1.3, F.1.5: a message of exactly the four plaintext blocks gives the
// published ciphertext blocks, then one block of padding twice (ECB: equal blocks, equal output).
TEST(MessageCrypto, NistEcbVectors) {
    const std::string plain = Unhex(
        "6bc1bee22e409f96e93d7e117393172aae2d8a571e03ac9c9eb76fac45af8e5130c81c46a35ce411e5fbc1191a0a52eff69f2445df4f9b"
        "17ad2b417be66c3710");
    const std::pair<const char*, const char*> vectors[] = {
        {"2b7e151628aed2a6abf7158809cf4f3c",
         "3ad77bb40d7a3660a89ecaf32466ef97f5d3d58503b9699de785895a96fdbaaf43b1cd7f598ece23881b00e3ed0306887b0c785e27e8a"
         "d3f8223207104725dd4"},
        {"8e73b0f7da0e6452c810f32b809079e562f8ead2522c6b7b",
         "bd334f1d6e45f25ff712a214571fa5cc974104846d0ad3ad7734ecb3ecee4eefef7afd2270e2e60adce0ba2face6444e9a4b41ba738d6"
         "c72fb16691603c18e0e"},
        {"603deb1015ca71be2b73aef0857d77811f352c073b6108d72d9810a30914dff4",
         "f3eed1bdb5d2a03c064b5a7e3db181f8591ccb10d410ed26dc5ba74a31362870b6ed21b99ca6f4f9f153e7b1beafed1d23304b7a39f9f"
         "3ff067d8d8f9e24ecc7"},
    };
    for (const auto& [hexKey, cipher] : vectors) {
        std::string key = Unhex(hexKey), wire, back;
        const int ks = static_cast<int>(key.size());
        ASSERT_EQ(EncryptMessage(plain, U(key), ks, &wire), 96);
        const std::string ct = Decoded(wire);
        EXPECT_EQ(testing_support::Hex(ct.substr(0, 64)), cipher);
        EXPECT_EQ(ct.substr(64, 16), ct.substr(80, 16));
        ASSERT_EQ(DecryptMessage(wire, U(key), ks, &back), 0);
        EXPECT_EQ(back, plain);
    }
}

// What a peer's padded blocks decrypt to: the message, or nothing (-1, output untouched), in
// outputs empty or not, with room or without; long texts are read in several pieces.
TEST(MessageCrypto, PaddingAndBlockChecks) {
    std::string key = Key(32), valid, longValid;
    ASSERT_EQ(EncryptMessage("attack at dawn", U(key), 32, &valid), 32);
    const std::string forty = Decoded(valid) + std::string(8, 'x');
    const std::string longMessage = RandomBytes(40000, 3);
    ASSERT_EQ(EncryptMessage(longMessage, U(key), 32, &longValid), 40032);
    const std::pair<std::string, std::optional<std::string>> cases[] = {
        {RawEcb(key, "0123456789abcde\x01"), "0123456789abcde"},  // 16-byte padding, as peers make it
        {RawEcb(key, std::string(16, '\x10')), ""},
        {RawEcb(key, std::string(32, ' ')), ""},
        {longValid, longMessage},
        {"", std::nullopt},  // nothing
        {"not base64!", std::nullopt},
        {valid.substr(0, valid.size() - 4), std::nullopt},                   // truncated text
        {testing_support::ReferenceTransportText(forty), std::nullopt},      // not whole blocks
        {RawEcb(key, std::string(15, 'a') + '\0'), std::nullopt},            // pad length 0
        {RawEcb(key, std::string(31, 'a') + '!'), std::nullopt},             // pad length 33
        {RawEcb(key, std::string(29, 'a') + "\x03\x02\x03"), std::nullopt},  // pad bytes disagree
        {RawEcb(key, std::string(16, '\x11')), std::nullopt},                // pad longer than the text
        {RawEcb(Key(16) + Key(16), "attack at dawn" + std::string(18, '\x12')), std::nullopt},  // wrong key
        {RawEcb(key, longMessage.substr(0, 39999) + '!'), std::nullopt},
        {longValid.substr(0, 30000) + "%0A" + longValid.substr(30000), std::nullopt},
    };
    for (const auto& [text, message] : cases) {
        for (const std::string start : {"", "kept:"}) {
            for (const std::size_t room : {std::size_t{0}, std::size_t{50000}}) {
                std::string out = start;
                out.reserve(room);
                const char* buffer = out.data();
                const std::size_t capacity = out.capacity();
                EXPECT_EQ(DecryptMessage(text, U(key), 32, &out), message ? 0 : -1) << text.substr(0, 80);
                EXPECT_TRUE(out == start + message.value_or("")) << text.substr(0, 80);
                if (!message) {
                    EXPECT_TRUE(out.data() == buffer && out.capacity() == capacity);  // left as it was
                }
            }
        }
    }
}

// Every length up to 100 and about piece edges, under each key size, with a NUL byte: the length
// and text EncryptMessage gives read back, and so does a peer's text padded to 16 bytes. Deciphering
// writes only within its output, whatever room that has (none, content before, a capacity of exactly
// the result): under valgrind a write past a buffer is a finding (the backend script runs it so).
TEST(MessageCrypto, RoundTripsWithinItsOutput) {
    std::vector<std::size_t> lengths;
    for (std::size_t n = 0; n <= 100; ++n) lengths.push_back(n);
    for (const std::size_t edge : {cryptutil::detail::kPieceBytes, 2 * cryptutil::detail::kPieceBytes}) {
        for (std::size_t n = edge - 33; n <= edge + 1; n += 4) lengths.push_back(n);
    }
    for (const int ks : {16, 24, 32}) {
        std::string key = Key(ks);
        for (const std::size_t n : lengths) {
            std::string message = RandomBytes(n, static_cast<unsigned>(n)), own;
            if (n > 2) message[n / 2] = '\0';
            ASSERT_EQ(EncryptMessage(message, U(key), ks, &own), static_cast<int>(32 * (n / 32 + 1))) << n;
            ASSERT_EQ(Decoded(own).size(), 32 * (n / 32 + 1));
            const std::size_t pad = 16 - n % 16;
            const std::string peer = RawEcb(key, message + std::string(pad, static_cast<char>(pad)));
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

// A decryption that fails after deciphering leaves no plaintext in the output's spare room.
TEST(MessageCrypto, FailedDecryptionLeavesNoPlaintextInSpareRoom) {
    std::string key = Key(32);
    const std::string marker = "plaintext-marker-0123456789abcdef";
    for (const std::size_t copies : {std::size_t{1}, std::size_t{1000}}) {  // one piece, and several
        std::string message;
        for (std::size_t i = 0; i < copies; ++i) message += marker;
        message.resize((message.size() + 31) / 32 * 32 - 1);
        const std::string text = RawEcb(key, message + '!');  // pad length 33: deciphered, then refused
        std::string out;
        out.resize(message.size() + 1000, '.');  // spare room that starts clean
        out.resize(5);
        out.replace(0, 5, "kept:");
        ASSERT_EQ(DecryptMessage(text, U(key), 32, &out), -1);
        EXPECT_EQ(out, "kept:");
        const std::string_view room(out.data(), out.capacity());
        EXPECT_EQ(room.find(marker.substr(0, 16)), std::string_view::npos) << copies;
    }
}

// A text whose first pieces read but whose tail is not transport text fails without replacing or
// growing an output that has the room the text's length promises.
TEST(MessageCrypto, FailedDecryptionKeepsTheOutputsBuffer) {
    std::string key = Key(32);
    const std::string message = RandomBytes(3 * cryptutil::detail::kPieceBytes, 3);
    std::string text;
    ASSERT_GT(EncryptMessage(message, U(key), 32, &text), 0);
    for (const std::string& tail : {std::string(1, '%'), std::string(text.size() / 3, '%'), std::string("%%%%A===")}) {
        std::string out = "kept:";
        out.reserve(out.size() + cryptutil::detail::MaxBytes(text + tail) + 16);  // room enough, were it text
        const char* const buffer = out.data();
        const std::size_t capacity = out.capacity();
        ASSERT_EQ(DecryptMessage(text + tail, U(key), 32, &out), -1) << tail.size();
        EXPECT_TRUE(out == "kept:" && out.data() == buffer && out.capacity() == capacity) << tail.size();
    }
}

// Random cuts of `n` into chunks: empty and one-byte chunks among them, and longer ones up to
// about `longest`.
std::vector<std::size_t> Chunking(std::size_t n, std::size_t longest, std::mt19937& gen) {
    std::vector<std::size_t> chunks;
    for (std::size_t left = n; left != 0 || gen() % 4 != 0;) {
        const unsigned kind = gen() % 4;
        const std::size_t c = std::min(left, kind == 0 ? 0 : kind == 1 ? 1 : 1 + gen() % longest);
        chunks.push_back(c);
        left -= c;
    }
    return chunks;
}

// The streams give EncryptMessage's text and DecryptMessage's message for any chunking of any
// message: random lengths (empty and one byte included, and across pieces) cut at random.
TEST(MessageStream, SameBytesAsTheWholeCallsForAnyChunking) {
    std::string key = Key(24);
    std::mt19937 gen(17);
    for (int round = 0; round < 1500; ++round) {
        const std::size_t n = round < 2         ? static_cast<std::size_t>(round)
                              : round % 50 == 0 ? gen() % (3 * cryptutil::detail::kPieceBytes)
                                                : gen() % 400;
        const std::string message = RandomBytes(n, static_cast<unsigned>(round));
        std::string whole, back;
        ASSERT_GT(EncryptMessage(message, U(key), 24, &whole), 0);
        cryptutil::MessageEncryptStream encrypt(U(key), 24);
        std::string text;
        std::size_t at = 0;
        for (const std::size_t c : Chunking(n, n < 400 ? 100 : 5000, gen)) {
            ASSERT_EQ(encrypt.Update(message.data() + at, c, &text), 0);
            at += c;
        }
        ASSERT_EQ(encrypt.Finish(&text), 0);
        ASSERT_TRUE(text == whole) << n << " bytes, round " << round;
        cryptutil::MessageDecryptStream decrypt(U(key), 24);
        std::string plain = "kept:";
        at = 0;
        for (const std::size_t c : Chunking(text.size(), n < 400 ? 100 : 5000, gen)) {
            ASSERT_EQ(decrypt.Update(text.data() + at, c, &plain), 0);
            at += c;
        }
        ASSERT_EQ(decrypt.Finish(&plain), 0);
        ASSERT_TRUE(plain == "kept:" + message) << n << " bytes, round " << round;
    }
}

// Every failed call ends a stream for good, whatever failed; so does Finish.
TEST(MessageStream, AFailureEndsTheStream) {
    std::string key = Key(32), text, valid;
    ASSERT_EQ(EncryptMessage("abcdef", U(key), 32, &valid), 32);
    cryptutil::MessageEncryptStream encrypt(U(key), 32);
    EXPECT_EQ(encrypt.Update("abc", 3, &text), 0);
    EXPECT_EQ(encrypt.Update(nullptr, 5, &text), -1);
    EXPECT_EQ(encrypt.Update("def", 3, &text), -1);
    EXPECT_EQ(encrypt.Finish(&text), -1);
    cryptutil::MessageEncryptStream noOutput(U(key), 32);
    EXPECT_EQ(noOutput.Update("abc", 3, nullptr), -1);
    EXPECT_EQ(noOutput.Finish(&text), -1);
    cryptutil::MessageEncryptStream noKey(nullptr, 32), badKey(U(key), 20), finished(U(key), 32);
    EXPECT_EQ(noKey.Finish(&text), -1);
    std::string out = "kept";
    EXPECT_EQ(badKey.Update("m", 1, &out), -1);
    EXPECT_EQ(finished.Finish(&text), 0);
    EXPECT_EQ(finished.Finish(&out), -1);
    EXPECT_EQ(out, "kept");

    std::string plain;
    cryptutil::MessageDecryptStream decrypt(U(key), 32);
    EXPECT_EQ(decrypt.Update(valid.data(), 10, &plain), 0);
    EXPECT_EQ(decrypt.Update(nullptr, 5, &plain), -1);
    EXPECT_EQ(decrypt.Update(valid.data() + 10, valid.size() - 10, &plain), -1);
    EXPECT_EQ(decrypt.Finish(&plain), -1);
    cryptutil::MessageDecryptStream noMessage(U(key), 32);
    EXPECT_EQ(noMessage.Update(valid.data(), valid.size(), nullptr), -1);
    EXPECT_EQ(noMessage.Finish(&plain), -1);
    cryptutil::MessageDecryptStream noKeyDecrypt(nullptr, 32);
    EXPECT_EQ(noKeyDecrypt.Finish(&plain), -1);
}

}  // namespace
