// The library with a host's own components in place of the bundled ones (this program's
// definitions win over the static archives'), at fault in each way a host's may be: a codec that
// throws what is no std::exception or returns text that is not base64 of its bytes, a padding
// component that writes the wrong bytes or length, and one whose padding removal checks nothing.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <random>
#include <stdexcept>
#include <string>

#include "cryptutil/PKCS7.h"
#include "cryptutil/base64.h"
#include "cryptutil/stream.h"
#include "cryptutil/util.h"
#include "test_support.h"

namespace {
bool laxDecoder = false;
// The codec's faults first (kThrow: what is no std::exception, both ways), then the padding
// component's (kOddLength: a record one byte too long, kOverstated: one whose length is far past
// its buffer).
// clang-format off
enum class Fault { kNone, kThrow, kTerminator, kShort, kLong, kUrlAlphabet, kControl, kPadInside, kPaddingByte, kMessageByte,
                   kOddLength, kOverstated };
// clang-format on
Fault fault = Fault::kNone;
std::string paddingSecret;  // looked for in the records freePaddingResult is given
bool secretFreed = false;
}  // namespace

std::string base64_encode(unsigned char const* bytes, std::size_t len, bool) {
    if (fault == Fault::kThrow) throw "host codec failure";  // NOLINT: a host's codec may throw anything
    std::string text = testing_support::ReferenceBase64(std::string(reinterpret_cast<const char*>(bytes), len));
    const std::size_t mid = text.size() / 2;
    switch (fault) {
        case Fault::kTerminator: text.push_back('\0'); break;
        case Fault::kShort: text.resize(text.size() - std::min<std::size_t>(text.size(), 4)); break;
        case Fault::kLong: text += "AAAA"; break;
        case Fault::kUrlAlphabet: text.empty() ? void(text = "-_-_") : void(text[mid] = '-'); break;
        case Fault::kControl: text.empty() ? void(text = "\n") : void(text[mid] = '\n'); break;
        case Fault::kPadInside: text.empty() ? void(text = "====") : void(text[mid / 4 * 4] = '='); break;
        default: break;
    }
    return text;
}

// OpenSSL's decoder, "" for what is not base64 as the bundled codec gives; or, with laxDecoder, one
// that takes a character outside the alphabet as some value, as a host's may.
std::string base64_decode(std::string const& s, bool) {
    if (fault == Fault::kThrow) throw "host codec failure";  // NOLINT
    if (laxDecoder) {
        static const std::string alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
        std::string out;
        unsigned group = 0, bits = 0;
        for (const char c : s.substr(0, s.find('='))) {
            group = group << 6 | static_cast<unsigned>(alphabet.find(c) & 63);
            if ((bits += 6) >= 8) out += static_cast<char>(group >> (bits -= 8));
        }
        return out;
    }
    try {
        return testing_support::ReferenceBytes(s);
    } catch (const std::invalid_argument&) {
        return {};
    }
}

PKCS7_Padding* addPadding(const void* const data, const uint64_t dataLength, const uint8_t BLOCK_SIZE) {
    const auto n = static_cast<uint8_t>(BLOCK_SIZE - dataLength % BLOCK_SIZE);
    const auto len = static_cast<std::size_t>(dataLength);  // the tests' messages are small
    auto* rec = static_cast<PKCS7_Padding*>(std::malloc(sizeof(PKCS7_Padding)));
    auto* buf = static_cast<unsigned char*>(std::malloc(len + n + 1));
    if (len != 0) std::memcpy(buf, data, len);
    std::memset(buf + len, n, n + 1U);
    if (fault == Fault::kPaddingByte) buf[len + n - 1] ^= 1;
    if (fault == Fault::kMessageByte && len != 0) buf[len - 1] ^= 1;
    if (fault == Fault::kMessageByte && len == 0) buf[0] = 0;
    *rec = {buf, dataLength + n + (fault == Fault::kOddLength ? 1 : 0) + (fault == Fault::kOverstated ? 4096 : 0), n};
    return rec;
}

// Trusts the last byte: the pad bytes before it are not compared.
PKCS7_unPadding* removePadding(const void* const data, const uint64_t dataLength) {
    const unsigned n = static_cast<const unsigned char*>(data)[dataLength - 1];
    if (n == 0 || n > dataLength) return nullptr;
    auto* rec = static_cast<PKCS7_unPadding*>(std::malloc(sizeof(PKCS7_unPadding)));
    *rec = {const_cast<void*>(data), dataLength - n, static_cast<uint8_t>(n)};
    return rec;
}

// Frees without wiping, as a host's component may.
void freePaddingResult(PKCS7_Padding* p) {
    if (p != nullptr && !paddingSecret.empty()) {
        const std::string data(static_cast<const char*>(p->dataWithPadding),
                               static_cast<std::size_t>(p->dataLengthWithPadding));
        secretFreed = secretFreed || data.find(paddingSecret) != std::string::npos;
    }
    if (p != nullptr) std::free(p->dataWithPadding);
    std::free(p);
}

void freeUnPaddingResult(PKCS7_unPadding* p) {
    std::free(p);
}

namespace {

using testing_support::U;

// Any fault of a host's codec or padding component fails every call that relies on it, outputs
// untouched and the padding records it refuses wiped: messages of random lengths (empty and one
// byte included, and over many pieces), whole and streamed, and the key and signature texts.
TEST(HostComponents, EveryFaultOfAComponentIsAFailure) {
    const auto& keys = testing_support::RsaKeys(1024);
    std::string key(32, 'k'), text, wrapped;
    ASSERT_EQ(EncryptMessage("message", U(key), 32, &text), 32);
    ASSERT_EQ(EncryptKeyV2(U(key), 32, keys.publicKey, &wrapped), 128);
    const std::string signature = createRSASignature(keys.pkcs8, "data");
    std::mt19937 gen(3);
    for (const Fault f :
         {Fault::kThrow, Fault::kTerminator, Fault::kShort, Fault::kLong, Fault::kUrlAlphabet, Fault::kControl,
          Fault::kPadInside, Fault::kPaddingByte, Fault::kMessageByte, Fault::kOddLength, Fault::kOverstated}) {
        fault = f;
        for (int round = 0; round < 40; ++round) {
            const std::size_t n = round < 2         ? static_cast<std::size_t>(round)
                                  : round % 10 == 0 ? gen() % 100000
                                                    : gen() % 200;
            const std::string message = testing_support::RandomBytes(n, static_cast<unsigned>(round));
            std::string out = "kept";
            paddingSecret = n % 96 < 8 ? std::string() : message.substr(n - n % 96);  // what the record holds
            EXPECT_EQ(EncryptMessage(message, U(key), 32, &out), -1) << static_cast<int>(f) << " " << n;
            EXPECT_EQ(out, "kept");
            cryptutil::MessageEncryptStream stream(U(key), 32);
            std::string streamed = "kept";
            if (stream.Update(message.data(), n, &streamed) == 0) {  // what is complete so far stays
                const std::string before = streamed;
                EXPECT_EQ(stream.Finish(&streamed), -1) << static_cast<int>(f) << " " << n;
                EXPECT_EQ(streamed, before);
            } else {
                EXPECT_EQ(streamed, "kept");
            }
        }
        EXPECT_FALSE(secretFreed) << static_cast<int>(f);
        paddingSecret.clear();
        if (f > Fault::kPadInside) continue;  // the key and signature texts use no padding
        std::string out = "kept";
        EXPECT_EQ(EncryptKeyV2(U(key), 32, keys.publicKey, &out), -1) << static_cast<int>(f);
        EXPECT_EQ(createRSASignature(keys.pkcs8, "data"), "") << static_cast<int>(f);
        if (f == Fault::kThrow) {  // reading too
            unsigned char secret[128];
            EXPECT_EQ(DecryptMessage(text, U(key), 32, &out), -1);
            EXPECT_EQ(DecryptKeyV2(wrapped, keys.pkcs8, secret), -1);
            EXPECT_FALSE(verifyRSASignature(keys.publicKey, signature, "data"));
        }
        EXPECT_EQ(out, "kept");
    }
    fault = Fault::kNone;
}

// Whatever a lax decoder would take, no text with a character outside base64's alphabet reads:
// every text made from a valid one by one such character, at random places of random lengths.
TEST(HostComponents, ALaxDecoderLetsNoOtherTextThrough) {
    const auto& keys = testing_support::RsaKeys(1024);
    std::string key(32, 'k'), wrapped;
    ASSERT_EQ(EncryptKeyV2(U(key), 32, keys.publicKey, &wrapped), 128);
    const std::string signature = createRSASignature(keys.pkcs8, "data");
    std::mt19937 gen(5);
    laxDecoder = true;
    for (int round = 0; round < 300; ++round) {
        std::string text;
        const std::size_t n = round < 2 ? static_cast<std::size_t>(round) : gen() % 300;
        ASSERT_GT(EncryptMessage(testing_support::RandomBytes(n, static_cast<unsigned>(round)), U(key), 32, &text), 0);
        const std::string* targets[] = {&text, &wrapped, &signature};
        std::string bad = *targets[round % 3];
        bad[gen() % bad.size()] = "!-_ \n\0@[`{"[gen() % 10];
        std::string out = "kept";
        unsigned char secret[128];
        EXPECT_EQ(DecryptMessage(bad, U(key), 32, &out), -1) << bad;
        cryptutil::MessageDecryptStream stream(U(key), 32);
        std::string streamed;
        EXPECT_TRUE(stream.Update(bad.data(), bad.size(), &streamed) == -1 || stream.Finish(&streamed) == -1) << bad;
        EXPECT_EQ(DecryptKeyV2(bad, keys.pkcs8, secret), -1) << bad;
        EXPECT_FALSE(verifyRSASignature(keys.publicKey, bad, "data")) << bad;
        EXPECT_EQ(out, "kept");
    }
    laxDecoder = false;
}

// The library checks the padding itself, whatever the component lets through.
TEST(HostComponents, PaddingIsCheckedWhateverTheComponentAccepts) {
    std::string key(32, 'k');
    const std::pair<std::string, bool> blocks[] = {{std::string(29, 'a') + "\x03\x03\x03", true},
                                                   {std::string(29, 'a') + "\x03\x02\x03", false}};
    for (const auto& [plain, valid] : blocks) {
        std::string back = "kept";
        EXPECT_EQ(DecryptMessage(testing_support::RawEcbText(key, plain), U(key), 32, &back), valid ? 0 : -1);
        EXPECT_EQ(back, valid ? "kept" + plain.substr(0, 29) : "kept");
    }
}

}  // namespace
