// Keys as the library reads them, the same on every crypto library: each key of the key_differential
// corpus (mutations of the armour and the DER, PKCS #8 attributes, files of several blocks, sizes
// and primes at the limits) decides as its name says, read.* or refused.*, and the keys at the
// edges decide every call the same. That no key is read that the crypto library's own PEM readers
// refuse or read as another is the fuzz target's property, which ctest replays.
#define OPENSSL_SUPPRESS_DEPRECATED  // RSA_get0_n and the like, where the library declares them

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>

#include "cryptutil/util.h"
#include "key_verdicts.h"
#include "test_support.h"

namespace {

namespace fs = std::filesystem;
using testing_support::U;

bool Named(const fs::path& file, const std::string& part) {
    return file.filename().string().find(part) != std::string::npos;
}

TEST(KeyReading, CorpusDecidesAsNamed) {
    int named = 0;
    for (const auto& entry : fs::directory_iterator(CRYPTUTIL_KEY_CORPUS)) {
        const std::string name = entry.path().filename().string();
        const bool read = name.rfind("read.", 0) == 0;
        if (!read && name.rfind("refused.", 0) != 0) continue;
        const std::string ours =
            key_verdicts::Ours(testing_support::ReadFile(entry.path()), Named(entry.path(), ".private."));
        EXPECT_EQ(!ours.empty(), read) << name;
        ++named;
    }
    EXPECT_GT(named, 200);
}

// Primes short or unbalanced: read from a quarter of n's bytes; each such key succeeds in all of
// 100 signatures and 100 unwrappings, or in none (a small prime made BoringSSL's blinding fail at
// random).
TEST(KeyReading, EdgeKeysDecideEveryCallTheSame) {
    int keys = 0;
    for (const auto& entry : fs::directory_iterator(CRYPTUTIL_KEY_CORPUS)) {
        if (!Named(entry.path(), ".private.pkcs1.primes-of-")) continue;
        const std::string name = entry.path().filename().string();
        const bool read = name.rfind("read.", 0) == 0;
        const std::string pem = testing_support::ReadFile(entry.path());
        const std::string publicKey = testing_support::ReadFile(
            entry.path().parent_path() / ("read.public.spki." + name.substr(name.find("primes-of-"))));
        std::string secret(32, 's'), wrapped;
        ASSERT_GT(EncryptKeyV2(U(secret), 32, publicKey, &wrapped), 0) << name;
        int signatures = 0, unwrapped = 0;
        for (int i = 0; i < 100; ++i) {
            signatures += createRSASignature(pem, "data").empty() ? 0 : 1;
            unsigned char out[256];
            unwrapped += DecryptKeyV2(wrapped, pem, out) == 32 && std::equal(out, out + 32, U(secret)) ? 1 : 0;
        }
        EXPECT_EQ(signatures, read ? 100 : 0) << name;
        EXPECT_EQ(unwrapped, read ? 100 : 0) << name;
        ++keys;
    }
    EXPECT_EQ(keys, 4);
}

}  // namespace
