// inspect agrees with the library's reader, and decrypt, unwrap and verify with inspect, on the
// transport-text fuzz corpus and on texts generated around valid ones: the whole tool run
// in-process on each.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

#include "cli.h"
#include "common.h"
#include "test_support.h"
#include "transport_text.h"

namespace fs = std::filesystem;

namespace {

int Tool(std::vector<std::string> args) {
    args.insert(args.begin(), "cryptutil");
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    try {
        return tool::Run(static_cast<int>(argv.size()), argv.data());
    } catch (const tool::Negative&) {
        return 1;
    } catch (const std::exception&) {
        return 2;
    }
}

// The corpus, then valid texts of 0 to 40 bytes and each mutated: a character dropped, inserted
// or replaced, from the characters that matter to the reader.
std::vector<std::string> Texts() {
    std::vector<std::string> texts;
    for (const auto& e : fs::directory_iterator(CRYPTUTIL_TRANSPORT_CORPUS))
        texts.push_back(testing_support::ReadFile(e.path()));
    std::mt19937 random(26);
    const std::string alphabet = "AZaz09+/=%-_\n\r u2BbDF";
    for (std::size_t n = 0; n <= 40; ++n) {
        const std::string text =
            testing_support::ReferenceTransportText(testing_support::RandomBytes(n, static_cast<unsigned>(7 * n + 1)));
        texts.push_back(text);
        for (int m = 0; m < 4; ++m) {
            std::string t = text;
            const std::size_t at = t.empty() ? 0 : random() % (t.size() + 1);
            const char c = alphabet[random() % alphabet.size()];
            if (m == 0 && at < t.size()) t.erase(at, 1);
            if (m == 1) t.insert(at, 1, c);
            if (m == 2 && at < t.size()) t[at] = c;
            if (m == 3) t += std::string(1 + random() % 2, '\n');
            texts.push_back(t);
        }
    }
    for (int i = 0; i < 60; ++i) {  // short texts of those characters alone, the empty and 1-character ones among them
        std::string t(random() % 9, '\0');
        for (char& c : t) c = alphabet[random() % alphabet.size()];
        texts.push_back(t);
    }
    return texts;
}

TEST(Inspect, AgreesWithTheLibraryAndTheReadingCommands) {
    char tmpl[] = "/tmp/cryptutil-inspect-XXXXXX";
    ASSERT_NE(::mkdtemp(tmpl), nullptr);
    const fs::path dir = tmpl;
    const auto& keys = testing_support::RsaKeys(1024);
    testing_support::WriteFile(dir / "priv.pem", keys.pkcs1);
    testing_support::WriteFile(dir / "pub.pem", keys.publicKey);
    testing_support::WriteFile(dir / "aes.hex", std::string(64, '7'));
    testing_support::WriteFile(dir / "data", "data");
    const std::string text = (dir / "text").string(), out = (dir / "out").string();
    for (const std::string& t : Texts()) {
        SCOPED_TRACE(testing::PrintToString(t));
        testing_support::WriteFile(text, t);
        std::string trimmed = t, bytes;
        while (!trimmed.empty() && (trimmed.back() == '\n' || trimmed.back() == '\r')) trimmed.pop_back();
        const bool reads = cryptutil::detail::FromTransportText(trimmed, bytes);

        ASSERT_EQ(Tool({"inspect", "--hex", text, "-o", out}), reads ? 0 : 1);
        const std::string report = testing_support::ReadFile(out);
        if (reads) {
            EXPECT_EQ(report.substr(0, report.find('\n', report.find('\n') + 1) + 1),
                      "bytes: " + std::to_string(bytes.size()) + "\nhex: " + testing_support::Hex(bytes) + "\n");
        } else {
            EXPECT_EQ(report.rfind("not transport text: ", 0), 0u) << report;
        }
        const int inspectK = Tool({"inspect", "--key", (dir / "pub.pem").string(), text, "-o", out});
        if (!reads || inspectK != 0) {
            EXPECT_EQ(Tool({"unwrap", "--private", (dir / "priv.pem").string(), text, "-o", out}), 1);
            EXPECT_EQ(Tool({"verify", "--public", (dir / "pub.pem").string(), "--signature-file", text,
                            (dir / "data").string(), "-o", out}),
                      1);
        }
        if (!reads || bytes.size() % 16 != 0) {
            EXPECT_EQ(Tool({"decrypt", "--key-file", (dir / "aes.hex").string(), text, "-o", out}), 1);
        }
    }
    fs::remove_all(dir);
}

}  // namespace
