// Wycheproof vectors and the openssl command-line tool as independent peers.
#include <gtest/gtest.h>

#include <fstream>
#include <nlohmann/json.hpp>
#include <string>

#include "cryptutil/util.h"
#include "test_support.h"
#include "transport_text.h"

using testing_support::Hex;
using testing_support::Unhex;

namespace {

std::string Transport(const std::string& bytes) {
    return cryptutil::detail::ToTransportText(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
}

nlohmann::json LoadOrSkip(const std::string& name) {
    const auto path = testing_support::TestVectorFile("wycheproof/" + name);
    if (!path) return nullptr;
    std::ifstream in(*path);
    return nlohmann::json::parse(in);
}

#define LOAD_VECTORS_OR_SKIP(var, name)                                                                     \
    const nlohmann::json var = LoadOrSkip(name);                                                            \
    if (var.is_null()) {                                                                                    \
        GTEST_SKIP() << "Wycheproof vectors not found: set CRYPTUTIL_TESTVECTORS to the directory holding " \
                        "wycheproof/" name;                                                                 \
    }                                                                                                       \
    static_assert(true, "")

TEST(Wycheproof, OaepDecryption) {
    LOAD_VECTORS_OR_SKIP(doc, "rsa_oaep_2048_sha1_mgf1sha1_test.json");
    int checked = 0;
    for (const auto& group : doc["testGroups"]) {
        const std::string key = group["privateKeyPem"];
        for (const auto& t : group["tests"]) {
            std::string out(512, '\0');
            const int n = DecryptKeyV2(Transport(Unhex(t["ct"].get<std::string>())), key,
                                       reinterpret_cast<unsigned char*>(out.data()));
            // A non-empty label cannot be expressed through an API that uses the empty label.
            const bool valid = t["result"] == "valid" && t["label"].get<std::string>().empty();
            if (valid) {
                ASSERT_GE(n, 0) << "tcId " << t["tcId"];
                EXPECT_EQ(Hex(out.substr(0, static_cast<std::size_t>(n))), t["msg"]) << "tcId " << t["tcId"];
            } else {
                EXPECT_EQ(n, -1) << "tcId " << t["tcId"] << " " << t["comment"];
            }
            ++checked;
        }
    }
    EXPECT_EQ(checked, doc["numberOfTests"]);
}

TEST(Wycheproof, Sha256SignatureVerification) {
    LOAD_VECTORS_OR_SKIP(doc, "rsa_signature_2048_sha256_test.json");
    int checked = 0;
    for (const auto& group : doc["testGroups"]) {
        const std::string key = group["publicKeyPem"];
        for (const auto& t : group["tests"]) {
            const bool ok = verifyRSASignature(key, Transport(Unhex(t["sig"].get<std::string>())),
                                               Unhex(t["msg"].get<std::string>()));
            if (t["result"] != "acceptable") {
                EXPECT_EQ(ok, t["result"] == "valid") << "tcId " << t["tcId"];
            }
            ++checked;
        }
    }
    EXPECT_EQ(checked, doc["numberOfTests"]);
}

TEST(Wycheproof, Sha256SignatureGeneration) {
    LOAD_VECTORS_OR_SKIP(doc, "rsa_pkcs1_2048_sig_gen_test.json");
    int checked = 0;
    for (const auto& group : doc["testGroups"]) {
        if (group["sha"] != "SHA-256") continue;
        const std::string key = group["privateKeyPem"];
        for (const auto& t : group["tests"]) {
            const std::string msg = Unhex(t["msg"].get<std::string>());
            const std::string sig = createRSASignature(key, msg);
            EXPECT_EQ(sig, Transport(Unhex(t["sig"].get<std::string>()))) << "tcId " << t["tcId"];
            EXPECT_TRUE(verifyRSASignature(group["keyPem"], sig, msg)) << "tcId " << t["tcId"];
            ++checked;
        }
    }
    EXPECT_GT(checked, 0);
}

class OpenSslRsaPeer : public ::testing::Test {
protected:
    void SetUp() override {
        if (!testing_support::HaveOpenSslTool()) GTEST_SKIP() << "openssl command-line tool not found";
        ASSERT_TRUE(testing_support::Run("openssl genrsa -out " + Path("key.pem") + " 2048 2>/dev/null").has_value());
        ASSERT_TRUE(testing_support::Run("openssl pkey -in " + Path("key.pem") + " -pubout -out " + Path("pub.pem"))
                        .has_value());
        priv = dir.Read("key.pem");
        pub = dir.Read("pub.pem");
    }
    std::string Path(const char* name) const { return (dir / name).string(); }
    std::string Tool(const std::string& args) const {
        const auto out = testing_support::Run("openssl " + args);
        EXPECT_TRUE(out.has_value()) << args;
        return out.value_or("");
    }

    testing_support::TempDir dir;
    std::string priv, pub;
};

TEST_F(OpenSslRsaPeer, ToolUnwrapsAndVerifiesOurs) {
    std::string secret = testing_support::RandomBytes(32, 11);
    std::string text;
    ASSERT_EQ(EncryptKeyV2(reinterpret_cast<unsigned char*>(secret.data()), 32, pub, &text), 256);
    dir.Write("wrapped", cryptutil::detail::FromTransportText(text));
    EXPECT_EQ(
        Tool("pkeyutl -decrypt -inkey " + Path("key.pem") + " -pkeyopt rsa_padding_mode:oaep -in " + Path("wrapped")),
        secret);

    const std::string data = "signed by cryptutil";
    dir.Write("data", data);
    dir.Write("sig", cryptutil::detail::FromTransportText(createRSASignature(priv, data)));
    EXPECT_EQ(Tool("dgst -sha256 -verify " + Path("pub.pem") + " -signature " + Path("sig") + " " + Path("data")),
              "Verified OK\n");
}

TEST_F(OpenSslRsaPeer, WeUnwrapAndVerifyTheTools) {
    const std::string secret = testing_support::RandomBytes(24, 12);
    dir.Write("secret", secret);
    const std::string wrapped = Tool("pkeyutl -encrypt -pubin -inkey " + Path("pub.pem") +
                                     " -pkeyopt rsa_padding_mode:oaep -in " + Path("secret"));
    std::string out(256, '\0');
    ASSERT_EQ(DecryptKeyV2(Transport(wrapped), priv, reinterpret_cast<unsigned char*>(out.data())), 24);
    EXPECT_EQ(out.substr(0, 24), secret);

    const std::string data = "signed by the openssl tool";
    dir.Write("data", data);
    const std::string sig = Tool("dgst -sha256 -sign " + Path("key.pem") + " " + Path("data"));
    EXPECT_TRUE(verifyRSASignature(pub, Transport(sig), data));
}

}  // namespace
