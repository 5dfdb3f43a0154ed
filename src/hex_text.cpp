// Hex text in constant time: hosts print and read keys with these codecs, so no branch or table
// lookup depends on a byte or character (as libsodium's sodium_bin2hex and sodium_hex2bin). Digits
// come from arithmetic, 16 bytes at a time, and a decoder's validity gathers in a mask that is
// tested once.
#include <cstdio>
#include <stdexcept>
#include <string>
#include <vector>

#include "constant_time.h"
#include "cryptutil/util.h"
#include "owners.h"
#include "vector16.h"

namespace {

using namespace cryptutil::detail;

// 'a' - '0' - 10 and 'A' - '0' - 10: what a letter digit adds past '9'.
constexpr unsigned char kLower = 39, kUpper = 7;

char Digit(unsigned nibble, unsigned letters) {
    return static_cast<char>('0' + nibble + ((9U - nibble) >> 8 & letters));
}

Bytes16 Digits(Bytes16 nibbles, unsigned char letters) {
    return nibbles + '0' + (reinterpret_cast<Bytes16>(nibbles > 9) & letters);
}

// Throws std::bad_alloc when the result cannot be allocated.
std::string EncodeHex(const unsigned char* in, std::size_t n, unsigned char letters) {
    std::string out(2 * n, '\0');
    char* o = out.data();
    std::size_t i = 0;
    for (; i + 16 <= n; i += 16, o += 32) {
        const Bytes16 v = Load16(in + i), hi = Digits(v >> 4, letters), lo = Digits(v & 15, letters);
        Store16(o, __builtin_shufflevector(hi, lo, 0, 16, 1, 17, 2, 18, 3, 19, 4, 20, 5, 21, 6, 22, 7, 23));
        Store16(o + 16, __builtin_shufflevector(hi, lo, 8, 24, 9, 25, 10, 26, 11, 27, 12, 28, 13, 29, 14, 30, 15, 31));
    }
    for (; i < n; ++i, o += 2) {
        o[0] = Digit(in[i] >> 4, letters);
        o[1] = Digit(in[i] & 15U, letters);
    }
    return out;
}

// The value of a hex digit of either case, 16 at a time or one; lanes (or `bad`) get all ones for
// anything else.
Bytes16 Values(Bytes16 c, Bytes16& bad) {
    const Bytes16 isDigit = LanesInRange(c, '0', 10), isLetter = LanesInRange(c | 0x20, 'a', 6);
    bad |= ~(isDigit | isLetter);
    return ((c - '0') & isDigit) | (((c | 0x20) - ('a' - 10)) & isLetter);
}

unsigned HexValue(unsigned c, unsigned& bad) {
    const unsigned digit = InRange(c, '0', '9'), letter = InRange(c | 0x20, 'a', 'f');
    bad |= ~(digit | letter);
    return (digit & (c - '0')) | (letter & ((c | 0x20) - ('a' - 10)));
}

// The message names the first character that is not a hex digit: found once the text is known bad.
[[noreturn]] void ThrowNotHex(const std::string& in) {
    std::size_t i = 0;
    for (unsigned bad = 0; HexValue(static_cast<unsigned char>(in[i]), bad), bad == 0;) ++i;
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
    return static_cast<unsigned char>(x + '0' + (InRange(x, 10, 255) & kUpper));
}

// A letter of either case counts from 10, as in base 36; anything else as a digit.
unsigned char FromHex(unsigned char x) noexcept {
    return static_cast<unsigned char>(x - '0' - (InRange(x, 'A', 'Z') & kUpper) - (InRange(x, 'a', 'z') & kLower));
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
    const char* p = in.data();
    Bytes16 badLanes{};
    std::size_t i = 0;
    for (; i + 16 <= n; i += 16) {
        const Bytes16 a = Values(Load16(p + 2 * i), badLanes), b = Values(Load16(p + 2 * i + 16), badLanes);
        const Bytes16 hi = __builtin_shufflevector(a, b, 0, 2, 4, 6, 8, 10, 12, 14, 16, 18, 20, 22, 24, 26, 28, 30);
        const Bytes16 lo = __builtin_shufflevector(a, b, 1, 3, 5, 7, 9, 11, 13, 15, 17, 19, 21, 23, 25, 27, 29, 31);
        Store16(out.data() + i, (hi << 4) | lo);
    }
    unsigned bad = 0;
    for (; i < n; ++i) {
        const unsigned hi = HexValue(static_cast<unsigned char>(p[2 * i]), bad);
        out[i] = static_cast<char>(hi << 4 | HexValue(static_cast<unsigned char>(p[2 * i + 1]), bad));
    }
    if (Declassified(AnyLane(badLanes) | (bad != 0))) {
        Wipe(out.data(), out.size());  // it may hold key bytes decoded before the bad digit
        ThrowNotHex(in);
    }
    return out;
}
