// Every family called from four threads at once on shared inputs, every result checked. Built and
// run in the ThreadSanitizer build only, which finds the races that results would not show.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "cryptutil/util.h"
#include "test_support.h"

namespace {

TEST(Concurrency, EveryFamilyFromFourThreads) {
    const testing_support::KeyPair& keys = testing_support::RsaKeys(2048);
    std::string aesKey = testing_support::RandomBytes(32, 5);
    auto* key = reinterpret_cast<unsigned char*>(aesKey.data());
    const std::string message = testing_support::RandomBytes(1000, 6);
    std::string sharedCiphertext;
    ASSERT_GT(EncryptMessage(message, key, 32, &sharedCiphertext), 0);
    const std::string sharedSignature = createRSASignature(keys.pkcs8, message);
    std::string sharedWrapped;
    ASSERT_EQ(EncryptKeyV2(key, 32, keys.publicKey, &sharedWrapped), 256);
    std::string expectedError;
    create_error("E1", "m\xC3\xA9", expectedError);
    std::vector<unsigned char> bytes(message.begin(), message.end());
    const std::string expectedHex = bytes_to_hex_string(bytes);

    std::atomic<int> failures{0};
    auto check = [&](bool ok) {
        if (!ok) ++failures;
    };
    auto worker = [&] {
        for (int round = 0; round < 3; ++round) {
            std::string ct, plain;
            check(EncryptMessage(message, key, 32, &ct) > 0 && ct == sharedCiphertext);
            check(DecryptMessage(sharedCiphertext, key, 32, &plain) == 0 && plain == message);
            check(DecryptMessage("garbage", key, 32, &plain) == -1);

            std::string wrapped, secret(256, '\0');
            check(EncryptKeyV2(key, 32, keys.publicKey, &wrapped) == 256);
            const int n = DecryptKeyV2(round % 2 == 0 ? wrapped : sharedWrapped, keys.pkcs1,
                                       reinterpret_cast<unsigned char*>(secret.data()));
            check(n == 32 && secret.compare(0, 32, aesKey) == 0);

            check(createRSASignature(keys.pkcs1, message) == sharedSignature);
            check(verifyRSASignature(keys.publicKey, sharedSignature, message));
            check(!verifyRSASignature(keys.publicKey, sharedSignature, message + "x"));

            check(bytes_to_hex_string(bytes) == expectedHex);
            check(OPENSSL_buf2hexstr(OPENSSL_hexstr2buf(message)) == message);

            std::string error;
            create_error("E1", "m\xC3\xA9", error);
            check(error == expectedError);
            nlohmann::json j;
            create_error_response("E1", "m\xC3\xA9", j);
            check(j.dump() == expectedError);
            check(currentISO8601TimeUTC().size() == 25);  // a shared broken-down time would race
        }
    };
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) threads.emplace_back(worker);
    for (auto& t : threads) t.join();
    EXPECT_EQ(failures.load(), 0);
}

}  // namespace
