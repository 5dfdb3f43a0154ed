// The codec's API is exported when built into a shared cryptutil; the rest is hidden.
#pragma GCC visibility push(default)
#include "cryptutil/base64.h"
#pragma GCC visibility pop

#include <array>
#include <cstdint>
#include <cstring>

namespace {

constexpr char kStd[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr char kUrl[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";

// Two output characters for every 12-bit value: half the lookups of a 64-entry table.
struct PairTable {
    char c[4096][2];
};
constexpr PairTable MakePairs(const char* alpha) {
    PairTable t{};
    for (int v = 0; v < 4096; ++v) {
        t.c[v][0] = alpha[v >> 6];
        t.c[v][1] = alpha[v & 0x3F];
    }
    return t;
}
constexpr PairTable kStdPairs = MakePairs(kStd);
constexpr PairTable kUrlPairs = MakePairs(kUrl);

constexpr std::uint8_t kBad = 0xFF;

constexpr std::array<std::uint8_t, 256> MakeDecodeTable() {
    std::array<std::uint8_t, 256> t{};
    for (auto& v : t) v = kBad;
    for (std::uint8_t i = 0; i < 64; ++i) t[static_cast<unsigned char>(kStd[i])] = i;
    return t;
}
constexpr auto kDecode = MakeDecodeTable();

std::string Decode(const char* s, std::size_t n) {
    if (n % 4 != 0) return {};
    if (n == 0) return {};
    std::size_t pad = 0;
    if (s[n - 1] == '=') pad = (s[n - 2] == '=') ? 2 : 1;

    std::string out((n / 4) * 3 - pad, '\0');
    auto* o = reinterpret_cast<unsigned char*>(out.data());
    const auto* in = reinterpret_cast<const unsigned char*>(s);
    const std::size_t full = (pad != 0) ? n - 4 : n;  // quads without padding
    std::uint8_t bad = 0;
    for (std::size_t i = 0; i < full; i += 4) {
        const std::uint8_t a = kDecode[in[i]], b = kDecode[in[i + 1]], c = kDecode[in[i + 2]], d = kDecode[in[i + 3]];
        bad |= static_cast<std::uint8_t>(a | b | c | d);  // any 0xFF sets bit 7+; valid values < 64
        const std::uint32_t v =
            (std::uint32_t{a} << 18) | (std::uint32_t{b} << 12) | (std::uint32_t{c} << 6) | std::uint32_t{d};
        *o++ = static_cast<unsigned char>(v >> 16);
        *o++ = static_cast<unsigned char>(v >> 8);
        *o++ = static_cast<unsigned char>(v);
    }
    if (pad != 0) {
        const unsigned char* q = in + n - 4;
        const std::uint8_t a = kDecode[q[0]], b = kDecode[q[1]];
        const std::uint8_t c = (pad == 2) ? 0 : kDecode[q[2]];
        bad |= static_cast<std::uint8_t>(a | b | c);
        const std::uint32_t v = (std::uint32_t{a} << 18) | (std::uint32_t{b} << 12) | (std::uint32_t{c} << 6);
        *o++ = static_cast<unsigned char>(v >> 16);
        if (pad == 1) *o = static_cast<unsigned char>(v >> 8);
    }
    if ((bad & 0xC0) != 0) return {};
    return out;
}

}  // namespace

std::string base64_encode(unsigned char const* bytes, std::size_t len, bool url) {
    const char* alpha = url ? kUrl : kStd;
    std::string out(((len + 2) / 3) * 4, '\0');
    char* o = out.data();
    std::size_t i = 0;
    const PairTable& pairs = url ? kUrlPairs : kStdPairs;
    // Twelve bytes in, sixteen characters out per step, through locals so that no store can alias
    // the input or the table.
    for (; i + 12 <= len; i += 12, o += 16) {
        unsigned char in[12];
        std::memcpy(in, bytes + i, 12);
        char text[16];
        for (std::size_t k = 0; k < 4; ++k) {
            const std::uint32_t v =
                (std::uint32_t{in[3 * k]} << 16) | (std::uint32_t{in[3 * k + 1]} << 8) | in[3 * k + 2];
            std::memcpy(text + 4 * k, pairs.c[v >> 12], 2);
            std::memcpy(text + 4 * k + 2, pairs.c[v & 0xFFF], 2);
        }
        std::memcpy(o, text, 16);
    }
    for (; i + 3 <= len; i += 3) {
        const std::uint32_t v = (std::uint32_t{bytes[i]} << 16) | (std::uint32_t{bytes[i + 1]} << 8) | bytes[i + 2];
        std::memcpy(o, pairs.c[v >> 12], 2);
        std::memcpy(o + 2, pairs.c[v & 0xFFF], 2);
        o += 4;
    }
    if (const std::size_t rest = len - i; rest != 0) {
        const std::uint32_t v = (std::uint32_t{bytes[i]} << 16) | (rest == 2 ? std::uint32_t{bytes[i + 1]} << 8 : 0U);
        o[0] = alpha[v >> 18];
        o[1] = alpha[(v >> 12) & 0x3F];
        o[2] = rest == 2 ? alpha[(v >> 6) & 0x3F] : '=';
        o[3] = '=';
    }
    return out;
}

std::string base64_decode(std::string const& s, bool remove_linebreaks) {
    if (remove_linebreaks && s.find_first_of("\r\n") != std::string::npos) {
        std::string compact;
        compact.reserve(s.size());
        for (const char c : s) {
            if (c != '\r' && c != '\n') compact.push_back(c);
        }
        return Decode(compact.data(), compact.size());
    }
    return Decode(s.data(), s.size());
}
