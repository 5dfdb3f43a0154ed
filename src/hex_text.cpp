#include <cstdint>
#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

#include "cryptutil/util.h"
#include "hex_digits.h"

namespace {

// Two digits per byte value, so encoding is one 16-bit copy per byte.
struct DigitPairs {
    char pair[256][2];
};
constexpr DigitPairs MakePairs(const char* digits) {
    DigitPairs t{};
    for (int b = 0; b < 256; ++b) {
        t.pair[b][0] = digits[b >> 4];
        t.pair[b][1] = digits[b & 0x0F];
    }
    return t;
}
constexpr DigitPairs kLower = MakePairs(cryptutil::detail::kHexLowerDigits);
constexpr DigitPairs kUpper = MakePairs(cryptutil::detail::kHexUpperDigits);

// Throws std::bad_alloc when the result cannot be allocated.
std::string EncodeHex(const unsigned char* in, std::size_t n, const DigitPairs& digits) {
    std::string out(2 * n, '\0');
    char* o = out.data();
    std::size_t i = 0;
    // Eight bytes in, sixteen characters out per step: whole-word loads and stores.
    for (; i + 8 <= n; i += 8, o += 16) {
        unsigned char chunk[8];
        std::memcpy(chunk, in + i, 8);
        char text[16];
        for (int k = 0; k < 8; ++k) std::memcpy(text + 2 * static_cast<std::size_t>(k), digits.pair[chunk[k]], 2);
        std::memcpy(o, text, 16);
    }
    for (; i < n; ++i, o += 2) std::memcpy(o, digits.pair[in[i]], 2);
    return out;
}

bool IsHexDigit(unsigned char c) {
    return cryptutil::detail::kHexDigitValue[c] < 16;
}

[[noreturn]] void ThrowNotHex(const std::string& in) {
    std::size_t i = 0;
    while (IsHexDigit(static_cast<unsigned char>(in[i]))) ++i;
    const auto c = static_cast<unsigned char>(in[i]);
    char what[96];
    if (c >= 0x21 && c <= 0x7E) {
        std::snprintf(what, sizeof what, "String is not valid hex: '%c' at index %zu", c, i);
    } else {
        std::snprintf(what, sizeof what, "String is not valid hex: byte 0x%02X at index %zu", c, i);
    }
    throw std::runtime_error(what);
}

}  // namespace

unsigned char ToHex(unsigned char x) noexcept {
    return static_cast<unsigned char>(x > 9 ? x + 55 : x + 48);
}

unsigned char FromHex(unsigned char x) noexcept {
    if (x >= 'A' && x <= 'Z') return static_cast<unsigned char>(x - 'A' + 10);
    if (x >= 'a' && x <= 'z') return static_cast<unsigned char>(x - 'a' + 10);
    return static_cast<unsigned char>(x - '0');
}

std::string chararr_to_hex(unsigned char* in, int size) {
    if (in == nullptr || size <= 0) return {};
    return EncodeHex(in, static_cast<std::size_t>(size), kLower);
}

std::string bytes_to_hex_string(const std::vector<unsigned char>& input) {
    return EncodeHex(input.data(), input.size(), kUpper);
}

std::string OPENSSL_hexstr2buf(const std::string& in) {
    return EncodeHex(reinterpret_cast<const unsigned char*>(in.data()), in.size(), kLower);
}

std::string OPENSSL_buf2hexstr(const std::string& in) {
    if (in.size() % 2 != 0) throw std::runtime_error("String is not valid length ...");
    const std::size_t n = in.size() / 2;
    std::string out(n, '\0');
    const auto* p = reinterpret_cast<const unsigned char*>(in.data());
    char* o = out.data();
    unsigned bad = 0;
    std::size_t i = 0;
#if defined(__GNUC__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
    // Sixteen characters in, eight bytes out per step, in vector arithmetic (SSE2 or NEON).
    using Bytes16 = unsigned char __attribute__((vector_size(16)));
    using Words8 = std::uint16_t __attribute__((vector_size(16)));
    Bytes16 invalid{};
    for (; i + 8 <= n; i += 8) {
        Bytes16 c;
        std::memcpy(&c, p + 2 * i, 16);
        const Bytes16 digit = c - '0';
        const Bytes16 letter = (c | 0x20) - 'a';
        const auto isDigit = reinterpret_cast<Bytes16>(digit < 10);
        const auto isLetter = reinterpret_cast<Bytes16>(letter < 6);
        invalid |= ~(isDigit | isLetter);
        const Bytes16 value = (digit & isDigit) | ((letter + 10) & isLetter);
        // Little-endian lanes: each 16-bit word holds the high digit in its low byte.
        const auto pairs = reinterpret_cast<Words8>(value);
        const Words8 combined = ((pairs & 0x0F) << 4) | (pairs >> 8);
        std::uint16_t words[8];
        std::memcpy(words, &combined, sizeof words);
        for (int k = 0; k < 8; ++k) o[i + static_cast<std::size_t>(k)] = static_cast<char>(words[k]);
    }
    std::uint64_t halves[2];
    std::memcpy(halves, &invalid, sizeof halves);
    if ((halves[0] | halves[1]) != 0) bad = 0xF0;
#endif
    for (; i < n; ++i) {
        const unsigned hi = cryptutil::detail::kHexDigitValue[p[2 * i]];
        const unsigned lo = cryptutil::detail::kHexDigitValue[p[2 * i + 1]];
        bad |= hi | lo;
        o[i] = static_cast<char>((hi << 4) | (lo & 0x0F));
    }
    if ((bad & 0xF0) != 0) ThrowNotHex(in);  // checked once, after the loop, to keep it branch-free
    return out;
}
