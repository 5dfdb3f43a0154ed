#include "rsa_key.h"

#include <array>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "der.h"
#include "owners.h"

namespace cryptutil::detail {
namespace {

// 1.2.840.113549.1.1.1. An RSA-PSS key (1.2.840.113549.1.1.10) is restricted to PSS signatures,
// which this library neither makes nor checks, and OpenSSL's own tools refuse it for the rest.
constexpr unsigned char kRsaEncryption[] = {0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x01, 0x01};

// Takes an AlgorithmIdentifier and checks that it names rsaEncryption (its parameters, NULL by
// RFC 8017, are not looked at, as OpenSSL does not).
bool TakeRsaEncryption(Der& in) {
    Der algorithm, oid;
    return in.Take(kDerSequence, algorithm) && algorithm.Take(kDerOid, oid) &&
           oid.Is(kRsaEncryption, sizeof kRsaEncryption);
}

constexpr std::array<std::uint8_t, 256> kBase64Value = [] {
    std::array<std::uint8_t, 256> t{};
    for (auto& v : t) v = 0xFF;
    const char* alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    for (std::uint8_t i = 0; i < 64; ++i) t[static_cast<unsigned char>(alphabet[i])] = i;
    return t;
}();

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r';
}

// Lines of text, without their line break and trailing blanks.
class Lines {
public:
    explicit Lines(std::string_view text) : text_(text) {}
    bool Next(std::string_view& line) {
        if (text_.empty()) return false;
        const std::size_t end = std::min(text_.find('\n'), text_.size());
        line = text_.substr(0, end);
        text_.remove_prefix(std::min(end + 1, text_.size()));
        while (!line.empty() && IsBlank(line.back())) line.remove_suffix(1);
        return true;
    }

private:
    std::string_view text_;
};

// The label of a "-----BEGIN label-----" (or END) line, or empty.
std::string_view Label(std::string_view line, std::string_view kind) {
    constexpr std::string_view kDashes = "-----";
    if (line.size() < 2 * kDashes.size() + kind.size() + 1 || line.substr(0, kDashes.size()) != kDashes ||
        line.substr(kDashes.size(), kind.size()) != kind || line[kDashes.size() + kind.size()] != ' ' ||
        line.substr(line.size() - kDashes.size()) != kDashes) {
        return {};
    }
    const std::size_t start = kDashes.size() + kind.size() + 1;
    return line.substr(start, line.size() - start - kDashes.size());
}

// Decodes the base64 body lines of a block into `der`, which is allocated once at its final size
// (so no copy is left behind by growing); blanks inside lines are skipped, '=' only at the end.
bool DecodeBody(std::string_view body, std::string& der) {
    std::size_t chars = 0;
    for (const char c : body) chars += kBase64Value[static_cast<unsigned char>(c)] != 0xFF || c == '=' ? 1U : 0U;
    if (chars == 0 || chars % 4 != 0) return false;
    der.reserve(chars / 4 * 3);
    std::uint32_t group = 0;
    std::size_t have = 0, padding = 0;
    for (const char c : body) {
        if (c == '\n' || IsBlank(c)) continue;
        const std::uint8_t v = kBase64Value[static_cast<unsigned char>(c)];
        if (c == '=') {
            ++padding;
        } else if (v == 0xFF || padding != 0) {
            return false;
        }
        group = group << 6 | (c == '=' ? 0U : v);
        if (++have < 4) continue;
        const char bytes[3] = {static_cast<char>(group >> 16), static_cast<char>(group >> 8), static_cast<char>(group)};
        if (padding > 2) return false;
        der.append(bytes, 3 - padding);
        group = 0;
        have = 0;
        if (padding != 0 && der.size() != chars / 4 * 3 - padding) return false;  // '=' before the last quad
    }
    return true;
}

struct PemBlock {
    std::string_view label;
    bool hasHeaders = false;
};

// Finds the first PEM block in `text` whose label `wanted` accepts and decodes its body into
// `der`; blocks with other labels are skipped. The caller owns and wipes `der`.
template <typename Wanted>
bool FirstBlock(std::string_view text, Wanted wanted, PemBlock& block, std::string& der) {
    Lines lines(text);
    std::string_view line;
    while (lines.Next(line)) {
        const std::string_view label = Label(line, "BEGIN");
        if (label.empty()) continue;
        const bool picked = wanted(label);
        // Headers ("Proc-Type: 4,ENCRYPTED" ...) run from the first line up to a blank line.
        bool inHeaders = false, first = true;
        const char* bodyStart = nullptr;
        const char* bodyEnd = nullptr;
        bool ended = false;
        while (!ended && lines.Next(line)) {
            if (first && line.find(':') != std::string_view::npos) inHeaders = true;
            first = false;
            if (inHeaders) {
                if (line.empty()) inHeaders = false;
                block.hasHeaders = true;
                continue;
            }
            if (const std::string_view end = Label(line, "END"); !end.empty()) {
                if (end != label) return false;
                ended = true;
                continue;
            }
            if (bodyStart == nullptr) bodyStart = line.data();
            bodyEnd = line.data() + line.size();
        }
        if (!ended) return false;
        if (!picked) {
            block.hasHeaders = false;
            continue;
        }
        if (bodyStart == nullptr) return false;
        block.label = label;
        return DecodeBody(std::string_view(bodyStart, static_cast<std::size_t>(bodyEnd - bodyStart)), der);
    }
    return false;
}

// Keys of 1,024 to 16,384 bits with an odd public exponent of at least 3. A smaller modulus is
// breakable; e = 1 puts the secret on the wire in clear and lets a "signature" made without any
// private key verify; an even e cannot be inverted, so wrapping loses the secret. The upper bound
// is OpenSSL's own for public keys, and lets a host size buffers for the largest key accepted.
constexpr std::size_t kMinModulusBits = 1024, kMaxModulusBits = 16384;

RsaKey WithinLimits(RsaKey key) {
    if (!key) return nullptr;
    const std::size_t bits = ModulusBits(*key);
    if (bits < kMinModulusBits || bits > kMaxModulusBits || !OddExponentOfAtLeast3(*key)) return nullptr;
    return key;
}

}  // namespace

RsaKey ReadRsaPublicKey(const std::string& pem) {
    PemBlock block;
    std::string der;
    if (!FirstBlock(
            pem.c_str(), [](std::string_view label) { return label == "PUBLIC KEY"; }, block, der)) {
        return nullptr;
    }
    // SubjectPublicKeyInfo: SEQUENCE { AlgorithmIdentifier, BIT STRING holding an RSAPublicKey }.
    Der all(reinterpret_cast<const unsigned char*>(der.data()), der.size()), info, bits;
    if (!all.Take(kDerSequence, info) || !all.Empty() || !TakeRsaEncryption(info) || !info.Take(kDerBitString, bits) ||
        !info.Empty() || bits.Empty() || bits.data()[0] != 0) {
        return nullptr;
    }
    return WithinLimits(RsaPublicKeyFromDer(bits.data() + 1, bits.size() - 1));
}

RsaKey ReadRsaPrivateKey(const std::string& pem) {
    PemBlock block;
    std::string der;
    const SecretString wipeDer(der);
    const bool found = FirstBlock(
        pem.c_str(), [](std::string_view label) { return label == "RSA PRIVATE KEY" || label == "PRIVATE KEY"; }, block,
        der);
    // Encrypted PKCS #8 has a label of its own and is never picked.
    if (!found || block.hasHeaders) return nullptr;
    Der all(reinterpret_cast<const unsigned char*>(der.data()), der.size()), key = all;
    if (block.label == "PRIVATE KEY") {
        // PrivateKeyInfo: SEQUENCE { INTEGER version, AlgorithmIdentifier, OCTET STRING holding an
        // RSAPrivateKey, attributes ... }.
        Der info, version;
        if (!all.Take(kDerSequence, info) || !all.Empty() || !info.Take(kDerInteger, version) ||
            !TakeRsaEncryption(info) || !info.Take(kDerOctetString, key)) {
            return nullptr;
        }
    }
    return WithinLimits(RsaPrivateKeyFromDer(key.data(), key.size()));
}

}  // namespace cryptutil::detail
