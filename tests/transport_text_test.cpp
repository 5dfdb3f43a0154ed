// Escaping, unescaping, writing and reading transport text against independent rules and
// OpenSSL's encoder are properties of fuzz/transport_text_fuzz.cpp, which ctest replays.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "cryptutil/base64.h"
#include "test_support.h"
#include "transport_text.h"

namespace {

using cryptutil::detail::TransportTextReader;

// Each refused by the reader's own checks or by the codec's strictness, on which the reader relies
// (writing, and reading what is written, are checked against OpenSSL's encoder by the fuzz target).
TEST(TransportText, ReaderRefusesWhatIsNotTransportText) {
    const std::string piece = base64_encode(reinterpret_cast<const unsigned char*>("abcd"), 4, false);  // padded
    for (const std::string& text :
         {piece + "AAAA", std::string("Zg="), std::string("Zm9v\n"), std::string("Zm-_"), std::string("%G1AA"),
          std::string("Zg==Zg=="), std::string("Zm9"), std::string("Z==="), std::string("===="), std::string("Z=g=")}) {
        for (const std::size_t chunk : {std::size_t{1}, std::size_t{100}}) {
            TransportTextReader reader;
            std::string out;
            bool ok = true;
            for (std::size_t at = 0; at < text.size() && ok; at += chunk)
                ok = reader.Add(text.data() + at, std::min(chunk, text.size() - at), out);
            EXPECT_FALSE(ok && reader.Finish(out)) << text << " in chunks of " << chunk;
        }
    }
}

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
