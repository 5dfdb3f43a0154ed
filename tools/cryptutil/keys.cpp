#include "keys.h"

#include <openssl/rand.h>

#include "common.h"
#include "crypto_library.h"
#include "cryptutil/util.h"
#include "input.h"
#include "transport_text.h"

namespace tool {

std::string TrimLineEnds(std::string s) {
    while (!s.empty() && (s.back() == '\n' || s.back() == '\r')) s.pop_back();
    return s;
}

std::string ReadKeySource(const std::string& path, const std::string& option, bool pem, Sources& sources) {
    if (path == "-") {
        Input& in = sources.Standard();
        return pem ? in.TakePem(kKeySourceLimit) : in.TakeLine(kKeySourceLimit);
    }
    return OpenKeySource(path, option)->TakeRest(kKeySourceLimit);
}

std::string HexBytes(const std::string& what, const std::string& hex, bool negative) {
    const std::string digits = TrimLineEnds(hex);
    const char* problem = digits.size() % 2 != 0 ? "it has an odd number of digits" : nullptr;
    std::string bytes;
    if (problem == nullptr) {
        try {
            bytes = OPENSSL_buf2hexstr(digits);
        } catch (const std::runtime_error&) {
            problem = "it holds a character that is not a hex digit";
        }
    }
    if (problem == nullptr) return bytes;
    const std::string message = what + " is not hex: " + problem;
    if (negative) throw Negative(message);
    throw Error(message);
}

std::string AesKey(const std::string& hex, const std::string& file, Sources& sources) {
    if (hex.empty() == file.empty()) throw Error("give the AES key with exactly one of --key-file and --key");
    const std::string key = hex.empty() ? HexBytes(file == "-" ? "the key on standard input" : "the key in --key-file",
                                                   ReadKeySource(file, "--key-file", false, sources), false)
                                        : HexBytes("--key", hex, false);
    if (key.size() != 16 && key.size() != 24 && key.size() != 32) {
        throw Error("an AES key is 16, 24 or 32 bytes; this one has " + std::to_string(key.size()));
    }
    return key;
}

std::string PublicKey(const std::string& file, const std::string& option, Sources& sources) {
    const std::string pem = ReadKeySource(file, option, true, sources);
    std::string out;
    if (EncryptKeyV2(nullptr, 0, pem, &out) < 0) throw Error(option + " is not a PEM RSA public key (PUBLIC KEY)");
    return pem;
}

std::string PrivateKey(const std::string& file, const std::string& option, Sources& sources) {
    const std::string pem = ReadKeySource(file, option, true, sources);
    if (createRSASignature(pem, "").empty()) {
        throw Error(option +
                    " is not an unencrypted PEM RSA private key (RSA PRIVATE KEY or PRIVATE KEY) the "
                    "library reads");
    }
    return pem;
}

std::size_t ModulusBytes(const std::string& pem) {
    std::string text;
    const int k = EncryptKeyV2(nullptr, 0, pem, &text);
    if (k > 0) return static_cast<std::size_t>(k);
    std::string bytes;
    text = createRSASignature(pem, "");
    return !text.empty() && cryptutil::detail::FromTransportText(text, bytes) ? bytes.size() : 0;
}

std::string FreshBytes(std::size_t n) {
    std::string bytes(n, '\0');
    if (RAND_bytes(Bytes(bytes), cryptutil::detail::LengthFor<1>(RAND_bytes, bytes.size())) != 1)
        throw Error("the crypto library's random generator failed; no key was made");
    return bytes;
}

}  // namespace tool
