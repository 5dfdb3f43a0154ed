// Wycheproof's RSA vectors (tests/vectors).
#include <gtest/gtest.h>

#include <fstream>
#include <nlohmann/json.hpp>
#include <string>

#include "cryptutil/util.h"
#include "test_support.h"

namespace {

using testing_support::Unhex;

// Calls `check(group, test)` for every test of the suite.
template <typename Check>
void ForEachVector(const std::string& name, Check check) {
    std::ifstream in(testing_support::TestVectorFile("wycheproof/" + name));
    ASSERT_TRUE(in) << "wycheproof/" << name << " is missing";
    const auto doc = nlohmann::json::parse(in);
    int count = 0;
    for (const auto& group : doc["testGroups"]) {
        for (const auto& test : group["tests"]) {
            SCOPED_TRACE("tcId " + test["tcId"].dump() + " " + test["comment"].get<std::string>());
            check(group, test);
            ++count;
        }
    }
    EXPECT_GT(count, 0);
}

std::string Hexed(const nlohmann::json& test, const char* field) {
    return Unhex(test[field].get<std::string>());
}

TEST(Wycheproof, OaepDecryption) {
    ForEachVector("rsa_oaep_2048_sha1_mgf1sha1_test.json", [](const auto& group, const auto& t) {
        std::string out(256, '\0');
        const int n = DecryptKeyV2(testing_support::ReferenceTransportText(Hexed(t, "ct")), group["privateKeyPem"],
                                   testing_support::U(out));
        // A non-empty label cannot be expressed through this API, which uses the empty label.
        if (t["result"] == "valid" && t["label"] == "") {
            const std::string msg = Hexed(t, "msg");
            EXPECT_EQ(n, static_cast<int>(msg.size()));
            EXPECT_EQ(out.substr(0, msg.size()), msg);
        } else {
            EXPECT_EQ(n, -1);
        }
    });
}

TEST(Wycheproof, Sha256SignatureVerification) {
    ForEachVector("rsa_signature_2048_sha256_test.json", [](const auto& group, const auto& t) {
        const bool ok = verifyRSASignature(group["publicKeyPem"],
                                           testing_support::ReferenceTransportText(Hexed(t, "sig")), Hexed(t, "msg"));
        if (t["result"] != "acceptable") {
            EXPECT_EQ(ok, t["result"] == "valid");
        }
    });
}

TEST(Wycheproof, Sha256SignatureGeneration) {
    ForEachVector("rsa_pkcs1_2048_sig_gen_test.json", [](const auto& group, const auto& t) {
        if (group["sha"] != "SHA-256") return;
        EXPECT_EQ(createRSASignature(group["privateKeyPem"], Hexed(t, "msg")),
                  testing_support::ReferenceTransportText(Hexed(t, "sig")));
    });
}

}  // namespace
