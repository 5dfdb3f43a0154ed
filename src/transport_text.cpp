#include "transport_text.h"

#include <cstdint>
#include <cstring>

#include "cryptutil/base64.h"
#include "hex_digits.h"

namespace cryptutil::detail {
namespace {

std::uint8_t HexAt(std::string_view s, std::size_t i) {
    return kHexDigitValue[static_cast<unsigned char>(s[i])];
}

void AppendUtf8(std::string& out, std::uint32_t cp) {
    if (cp < 0x80) {
        out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0xD800 || cp > 0xDFFF) {
        out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
    // Surrogates have no UTF-8 form of their own; the escape is dropped.
}

constexpr unsigned NeedsEscape(unsigned char b) {
    return (b >= 0x80 || b == ' ' || b == '+' || b == '\r' || b == '\n' || b == '\'' || b == ',' || b == ';') ? 1U : 0U;
}

// Writes b, or its %XX escape, at o; returns the position after it.
char* EscapeOne(unsigned char b, char* o) {
    if (NeedsEscape(b) == 0) {
        *o = static_cast<char>(b);
        return o + 1;
    }
    o[0] = '%';
    o[1] = kHexUpperDigits[b >> 4];
    o[2] = kHexUpperDigits[b & 0x0F];
    return o + 3;
}

// The scans below look at 16 bytes at a time. GCC and Clang vector extensions give SSE2 or NEON
// code alike; base64 text has an escape only every 64 characters or so, so the scan dominates.
#if defined(__GNUC__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
using Bytes16 = unsigned char __attribute__((vector_size(16)));

// 0xFF in each lane whose byte needs escaping, else 0.
Bytes16 EscapeLanes(const unsigned char* p) {
    Bytes16 v;
    std::memcpy(&v, p, sizeof v);
    return reinterpret_cast<Bytes16>((v >= 0x80) | (v == ' ') | (v == '+') | (v == '\r') | (v == '\n') | (v == '\'') |
                                     (v == ',') | (v == ';'));
}

// Byte k of half[k / 8] is 0xFF where byte k of p needs escaping, else 0.
void EscapeMask16(const unsigned char* p, std::uint64_t half[2]) {
    const Bytes16 m = EscapeLanes(p);
    std::memcpy(half, &m, 16);
}

// Sum of the 16 byte lanes.
std::size_t SumLanes(Bytes16 v) {
    std::uint64_t half[2];
    std::memcpy(half, &v, sizeof half);
    constexpr std::uint64_t kEvenBytes = 0x00FF00FF00FF00FFULL;
    const std::uint64_t pairs = (half[0] & kEvenBytes) + ((half[0] >> 8) & kEvenBytes) + (half[1] & kEvenBytes) +
                                ((half[1] >> 8) & kEvenBytes);  // four 16-bit sums, each < 1024
    return static_cast<std::size_t>((pairs * 0x0001000100010001ULL) >> 48);
}

std::size_t CountEscapes(const unsigned char* p, std::size_t n) {
    std::size_t count = 0;
    std::size_t i = 0;
    while (i + 16 <= n) {
        // Lane counters subtract the 0xFF (-1) masks; 255 blocks at most before they could wrap.
        Bytes16 lanes{};
        for (int blocks = 0; blocks < 255 && i + 16 <= n; ++blocks, i += 16) lanes -= EscapeLanes(p + i);
        count += SumLanes(lanes);
    }
    for (; i < n; ++i) count += NeedsEscape(p[i]);
    return count;
}

// Escapes the 16 bytes at p into o and returns the position after them. Reads 16 bytes past p
// and may write up to 16 bytes past the result, so callers keep that much slack on both sides.
char* EscapeBlock16(const unsigned char* p, char* o) {
    std::uint64_t half[2];
    EscapeMask16(p, half);
    std::size_t pos = 0;  // first byte not yet written
    for (std::size_t h = 0; h < 2; ++h) {
        for (std::uint64_t m = half[h]; m != 0;) {
            const auto bit = static_cast<unsigned>(__builtin_ctzll(m));
            const std::size_t k = 8 * h + bit / 8;
            std::memcpy(o, p + pos, 16);  // the clean run before k, and scratch past it
            o += k - pos;
            o = EscapeOne(p[k], o);
            pos = k + 1;
            m &= ~(std::uint64_t{0xFF} << (bit & ~7U));
        }
    }
    std::memcpy(o, p + pos, 16);
    return o + (16 - pos);
}
#else
std::size_t CountEscapes(const unsigned char* p, std::size_t n) {
    std::size_t count = 0;
    for (std::size_t i = 0; i < n; ++i) count += NeedsEscape(p[i]);
    return count;
}

bool CopyClean16(const unsigned char* /*p*/, char* /*o*/) {
    return false;
}
#endif

}  // namespace

std::string UrlEscape(std::string_view s) {
    if (const auto nul = s.find('\0'); nul != std::string_view::npos) s = s.substr(0, nul);
    const auto* p = reinterpret_cast<const unsigned char*>(s.data());
    const std::size_t n = s.size();

    const std::size_t escapes = CountEscapes(p, n);
    if (escapes == 0) return std::string(s);
    constexpr std::size_t kSlack = 16;  // for the block escaper's scratch writes
    std::string out(n + 2 * escapes + kSlack, '\0');
    char* o = out.data();
    std::size_t i = 0;
#if defined(__GNUC__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
    for (; i + 32 <= n; i += 16) o = EscapeBlock16(p + i, o);  // keeps 16 bytes of input ahead
#endif
    for (; i < n; ++i) o = EscapeOne(p[i], o);
    out.resize(n + 2 * escapes);
    return out;
}

std::string UrlUnescape(std::string_view s) {
    std::string out;
    out.reserve(s.size());  // unescaping never lengthens: each escape yields at most its own length
    const std::size_t n = s.size();
    std::size_t i = 0;
    while (i < n) {
        const std::size_t pct = s.find('%', i);
        const std::size_t stop = pct == std::string_view::npos ? n : pct;
        out.append(s.data() + i, stop - i);
        if (stop == n) break;
        i = stop;
        if (i + 1 < n && s[i + 1] == 'u') {
            if (i + 5 < n) {
                const std::uint8_t a = HexAt(s, i + 2), b = HexAt(s, i + 3), c = HexAt(s, i + 4), d = HexAt(s, i + 5);
                if (((a | b | c | d) & 0xF0) == 0) {
                    AppendUtf8(out, (std::uint32_t{a} << 12) | (std::uint32_t{b} << 8) | (std::uint32_t{c} << 4) | d);
                    i += 6;
                    continue;
                }
            }
        } else if (i + 2 < n) {
            const std::uint8_t hi = HexAt(s, i + 1), lo = HexAt(s, i + 2);
            if (((hi | lo) & 0xF0) == 0) {
                out.push_back(static_cast<char>((hi << 4) | lo));
                i += 3;
                continue;
            }
        }
        out.push_back('%');
        ++i;
    }
    return out;
}

std::string ToTransportText(const unsigned char* bytes, std::size_t n) {
    return UrlEscape(base64_encode(bytes, n, false));
}

std::string FromTransportText(const std::string& text) {
    // Text straight from the producer holds "%2B" at most; unescaped base64 needs no copy.
    if (text.find('%') == std::string::npos) return base64_decode(text, false);
    return base64_decode(UrlUnescape(text), false);
}

}  // namespace cryptutil::detail
