#include "transport_text.h"

#include <array>
#include <cstdint>
#include <cstring>

#include "cryptutil/base64.h"

namespace cryptutil::detail {
namespace {

constexpr char kHexUpper[] = "0123456789ABCDEF";

// Hex digit value, or 0xFF for anything that is not [0-9A-Fa-f].
constexpr std::array<std::uint8_t, 256> MakeHexTable() {
    std::array<std::uint8_t, 256> t{};
    for (auto& v : t) v = 0xFF;
    for (std::uint8_t i = 0; i < 10; ++i) t['0' + i] = i;
    for (std::uint8_t i = 0; i < 6; ++i) {
        t['A' + i] = static_cast<std::uint8_t>(10 + i);
        t['a' + i] = static_cast<std::uint8_t>(10 + i);
    }
    return t;
}
constexpr auto kHex = MakeHexTable();

std::uint8_t HexAt(std::string_view s, std::size_t i) {
    return kHex[static_cast<unsigned char>(s[i])];
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

// The scans below look at 16 bytes at a time. GCC and Clang vector extensions give SSE2 or NEON
// code alike; base64 text has an escape only every 64 characters or so, so the scan dominates.
#if defined(__GNUC__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
using Bytes16 = unsigned char __attribute__((vector_size(16)));
constexpr std::uint64_t kOnes = 0x0101010101010101ULL;

// Byte k of half[k / 8] is 0xFF where byte k of p needs escaping, else 0.
void EscapeMask16(const unsigned char* p, std::uint64_t half[2]) {
    Bytes16 v;
    std::memcpy(&v, p, sizeof v);
    const auto m =
        (v >= 0x80) | (v == ' ') | (v == '+') | (v == '\r') | (v == '\n') | (v == '\'') | (v == ',') | (v == ';');
    std::memcpy(half, &m, 16);
}

std::size_t CountEscapes(const unsigned char* p, std::size_t n) {
    std::size_t count = 0;
    std::size_t i = 0;
    for (; i + 16 <= n; i += 16) {
        std::uint64_t half[2];
        EscapeMask16(p + i, half);
        count += (((half[0] & kOnes) + (half[1] & kOnes)) * kOnes) >> 56;  // sums the 0/1 bytes
    }
    for (; i < n; ++i) count += NeedsEscape(p[i]);
    return count;
}

// Length of the leading run of bytes that escaping leaves alone.
std::size_t CleanRun(const unsigned char* p, std::size_t n) {
    std::size_t i = 0;
    for (; i + 16 <= n; i += 16) {
        std::uint64_t half[2];
        EscapeMask16(p + i, half);
        if (half[0] != 0) return i + static_cast<std::size_t>(__builtin_ctzll(half[0]) / 8);
        if (half[1] != 0) return i + 8 + static_cast<std::size_t>(__builtin_ctzll(half[1]) / 8);
    }
    while (i < n && NeedsEscape(p[i]) == 0) ++i;
    return i;
}
#else
std::size_t CountEscapes(const unsigned char* p, std::size_t n) {
    std::size_t count = 0;
    for (std::size_t i = 0; i < n; ++i) count += NeedsEscape(p[i]);
    return count;
}

std::size_t CleanRun(const unsigned char* p, std::size_t n) {
    std::size_t i = 0;
    while (i < n && NeedsEscape(p[i]) == 0) ++i;
    return i;
}
#endif

}  // namespace

std::string UrlEscape(std::string_view s) {
    if (const auto nul = s.find('\0'); nul != std::string_view::npos) s = s.substr(0, nul);
    const auto* p = reinterpret_cast<const unsigned char*>(s.data());
    const std::size_t n = s.size();

    const std::size_t escapes = CountEscapes(p, n);
    std::string out(n + 2 * escapes, '\0');
    if (escapes == 0) {
        std::memcpy(out.data(), p, n);
        return out;
    }
    char* o = out.data();
    for (std::size_t i = 0; i < n;) {
        const std::size_t run = CleanRun(p + i, n - i);
        std::memcpy(o, p + i, run);
        o += run;
        i += run;
        if (i == n) break;
        o[0] = '%';
        o[1] = kHexUpper[p[i] >> 4];
        o[2] = kHexUpper[p[i] & 0x0F];
        o += 3;
        ++i;
    }
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
