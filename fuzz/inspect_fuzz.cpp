// The tool run in-process on the input as a text: inspect agrees with the library's reader (the
// bytes as hex, or why not), and decrypt, unwrap and verify refuse what inspect finds unreadable
// or not of the key's k bytes. Test builds with the tool only.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "cli.h"
#include "common.h"
#include "fuzz_support.h"
#include "transport_text.h"

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

void Write(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

std::string Read(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// A scratch directory with the fuzz keys, an AES key and data, removed at exit.
char scratch[] = "/tmp/cryptutil-inspect-XXXXXX";

void RemoveScratch() {
    std::filesystem::remove_all(scratch);
}

std::string Dir() {
    static const bool made = [] {
        FUZZ_CHECK(::mkdtemp(scratch) != nullptr);
        const std::string d = scratch;
        Write(d + "/priv.pem", fuzz::kPrivateKey);
        Write(d + "/pub.pem", fuzz::kPublicKey);
        Write(d + "/aes.hex", std::string(64, '7'));
        Write(d + "/data", "data");
        return std::atexit(RemoveScratch) == 0;
    }();
    return made ? scratch : "";
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string dir = Dir();
    const std::string t = fuzz::Bytes(data, size), text = dir + "/text", out = dir + "/out";
    Write(text, t);
    std::string trimmed = t, bytes;
    while (!trimmed.empty() && (trimmed.back() == '\n' || trimmed.back() == '\r')) trimmed.pop_back();
    const bool reads = cryptutil::detail::FromTransportText(trimmed, bytes);

    FUZZ_CHECK(Tool({"inspect", "--hex", text, "-o", out}) == (reads ? 0 : 1));
    const std::string report = Read(out);
    if (reads) {
        std::string hex;
        for (const char c : bytes) {
            char digits[3];
            std::snprintf(digits, sizeof digits, "%02x", static_cast<unsigned char>(c));
            hex += digits;
        }
        FUZZ_CHECK(report.substr(0, report.find('\n', report.find('\n') + 1) + 1) ==
                   "bytes: " + std::to_string(bytes.size()) + "\nhex: " + hex + "\n");
    } else {
        FUZZ_CHECK(report.rfind("not transport text: ", 0) == 0);
    }
    if (!reads || Tool({"inspect", "--key", dir + "/pub.pem", text, "-o", out}) != 0) {
        FUZZ_CHECK(Tool({"unwrap", "--private", dir + "/priv.pem", text, "-o", out}) == 1);
        FUZZ_CHECK(Tool({"verify", "--public", dir + "/pub.pem", "--signature-file", text, dir + "/data", "-o", out}) ==
                   1);
    }
    if (!reads || bytes.size() % 16 != 0) {
        FUZZ_CHECK(Tool({"decrypt", "--key-file", dir + "/aes.hex", text, "-o", out}) == 1);
    }
    return 0;
}
