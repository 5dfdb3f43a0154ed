#include "transport_text.h"

#include <cstdint>
#include <cstring>

#include "cryptutil/base64.h"
#include "hex_digits.h"

namespace cryptutil::detail {
namespace {

std::uint8_t HexAt(const char* s, std::size_t i) {
    return kHexDigitValue[static_cast<unsigned char>(s[i])];
}

// Writes the UTF-8 form of cp at o and returns the position after it.
char* PutUtf8(char* o, std::uint32_t cp) {
    if (cp < 0x80) {
        *o++ = static_cast<char>(cp);
    } else if (cp < 0x800) {
        *o++ = static_cast<char>(0xC0 | (cp >> 6));
        *o++ = static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0xD800 || cp > 0xDFFF) {
        *o++ = static_cast<char>(0xE0 | (cp >> 12));
        *o++ = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        *o++ = static_cast<char>(0x80 | (cp & 0x3F));
    }
    // Surrogates have no UTF-8 form of their own; the escape is dropped.
    return o;
}

constexpr bool NeedsEscape(unsigned char b) {
    return b >= 0x80 || b == ' ' || b == '+' || b == '\r' || b == '\n' || b == '\'' || b == ',' || b == ';';
}

// 16 bytes at a time: GCC and Clang vector extensions (which this file needs, like its bit
// builtins) give SSE2 or NEON code alike, and plain scalar code where there is no vector unit. Base64 text has an
// escape only every 64 characters or so, so the scan dominates.
using Bytes16 = unsigned char __attribute__((vector_size(16)));

// 0xFF in each lane whose byte needs escaping, else 0.
Bytes16 EscapeLanes(const unsigned char* p) {
    Bytes16 v;
    std::memcpy(&v, p, sizeof v);
    return reinterpret_cast<Bytes16>((v >= 0x80) | (v == ' ') | (v == '+') | (v == '\r') | (v == '\n') | (v == '\'') |
                                     (v == ',') | (v == ';'));
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
    for (; i < n; ++i) count += NeedsEscape(p[i]) ? 1U : 0U;
    return count;
}

#if __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
// Bit k set where byte k of the 16 at p needs escaping: the top bit of each lane gathered by one
// multiplication per half (lane k is byte k of a little-endian word).
unsigned EscapeMask16(const unsigned char* p) {
    const Bytes16 lanes = EscapeLanes(p);
    std::uint64_t half[2];
    std::memcpy(half, &lanes, sizeof half);
    constexpr std::uint64_t kTopBits = 0x8080808080808080ULL, kGather = 0x0002040810204081ULL;
    return static_cast<unsigned>(((half[0] & kTopBits) * kGather) >> 56) |
           (static_cast<unsigned>(((half[1] & kTopBits) * kGather) >> 56) << 8);
}
#else
unsigned EscapeMask16(const unsigned char* p) {
    unsigned mask = 0;
    for (unsigned k = 0; k < 16; ++k) mask |= NeedsEscape(p[k]) ? 1U << k : 0U;
    return mask;
}
#endif

// Copies the `len` (< 16) bytes ending at src + srcEnd to end at dst + dstEnd. One 16-byte move
// when the 16 - len bytes it also writes below the destination are free: in place, those must lie
// above the unread source (which ends at `unread`), and both ranges must stay within the buffers.
void CopyRun(const char* src, std::size_t srcEnd, char* dst, std::size_t dstEnd, std::size_t len, std::size_t unread) {
    if (srcEnd >= 16 && (dst != src || dstEnd >= unread + 16)) {
        char block[16];
        std::memcpy(block, src + srcEnd - 16, 16);
        std::memcpy(dst + dstEnd - 16, block, 16);
    } else {
        std::memmove(dst + dstEnd - len, src + srcEnd - len, len);
    }
}

// Writes the escaped form of src[0, n), which holds `escapes` bytes to escape, ending at
// dst + n + 2 * escapes, working from the back. dst may equal src: every write lands at or after
// the byte being read, and once no escape is left the rest is already in place.
void ExpandFromBack(const char* src, std::size_t n, char* dst, std::size_t escapes) {
    std::size_t r = n;                // bytes of src not yet written
    std::size_t w = n + 2 * escapes;  // end of what is left to write
    auto putEscape = [&](unsigned char b) {
        w -= 3;
        dst[w] = '%';
        dst[w + 1] = kHexUpperDigits[b >> 4];
        dst[w + 2] = kHexUpperDigits[b & 0x0F];
        --escapes;
    };
    while (escapes != 0 && r >= 16) {
        const std::size_t base = r - 16;
        unsigned mask = EscapeMask16(reinterpret_cast<const unsigned char*>(src + base));
        std::size_t end = 16;  // bytes of this block below `end` are still to be written
        while (mask != 0) {
            const auto k = static_cast<std::size_t>(31 - __builtin_clz(mask));
            mask &= ~(1U << k);
            CopyRun(src, base + end, dst, w, end - k - 1, base + k + 1);
            w -= end - k - 1;
            putEscape(static_cast<unsigned char>(src[base + k]));
            end = k;
        }
        CopyRun(src, base + end, dst, w, end, base);
        w -= end;
        r = base;
    }
    while (escapes != 0) {
        const auto b = static_cast<unsigned char>(src[--r]);
        if (NeedsEscape(b)) {
            putEscape(b);
        } else {
            dst[--w] = static_cast<char>(b);
        }
    }
    if (dst != src) std::memcpy(dst, src, r);
}

}  // namespace

std::string UrlEscape(std::string_view s) {
    std::string out;
    EscapeInto(std::string(s), out);
    return out;
}

void EscapeInto(std::string&& text, std::string& out) {
    if (const auto nul = text.find('\0'); nul != std::string::npos) text.resize(nul);
    const std::size_t n = text.size();
    const std::size_t escapes = CountEscapes(reinterpret_cast<const unsigned char*>(text.data()), n);
    const std::size_t total = n + 2 * escapes;
    if (escapes != 0 && out.capacity() >= total) {
        out.resize(total);  // within capacity: cannot throw
        ExpandFromBack(text.data(), n, out.data(), escapes);
        return;
    }
    if (escapes != 0) {
        text.resize(total);  // the one growth; `out` is still untouched if it throws
        ExpandFromBack(text.data(), n, text.data(), escapes);
    }
    out.swap(text);
}

void UrlUnescapeInPlace(std::string& str) {
    char* s = str.data();
    const std::size_t n = str.size();
    std::size_t w = 0;  // never passes i: each escape writes at most as many bytes as it reads
    std::size_t i = 0;
    while (i < n) {
        const void* pct = std::memchr(s + i, '%', n - i);
        const std::size_t stop = pct == nullptr ? n : static_cast<std::size_t>(static_cast<const char*>(pct) - s);
        if (w != i) std::memmove(s + w, s + i, stop - i);
        w += stop - i;
        i = stop;
        if (i == n) break;
        if (i + 1 < n && s[i + 1] == 'u') {
            if (i + 5 < n) {
                const std::uint8_t a = HexAt(s, i + 2), b = HexAt(s, i + 3), c = HexAt(s, i + 4), d = HexAt(s, i + 5);
                if (((a | b | c | d) & 0xF0) == 0) {
                    const std::uint32_t cp =
                        (std::uint32_t{a} << 12) | (std::uint32_t{b} << 8) | (std::uint32_t{c} << 4) | d;
                    w = static_cast<std::size_t>(PutUtf8(s + w, cp) - s);
                    i += 6;
                    continue;
                }
            }
        } else if (i + 2 < n) {
            const std::uint8_t hi = HexAt(s, i + 1), lo = HexAt(s, i + 2);
            if (((hi | lo) & 0xF0) == 0) {
                s[w++] = static_cast<char>((hi << 4) | lo);
                i += 3;
                continue;
            }
        }
        s[w++] = '%';
        ++i;
    }
    str.resize(w);
}

std::string UrlUnescape(std::string_view s) {
    std::string out(s);
    UrlUnescapeInPlace(out);
    return out;
}

std::string Base64Text(const unsigned char* bytes, std::size_t n) {
    return base64_encode(bytes, n, false);
}

std::string FromTransportText(std::string&& text) {
    if (text.find('%') != std::string::npos) UrlUnescapeInPlace(text);
    std::string bytes = base64_decode(text, false);
    std::string().swap(text);  // consumed: give its memory back before the caller works on the bytes
    return bytes;
}

std::string FromTransportText(const std::string& text) {
    // Text straight from the producer holds "%2B" at most; unescaped base64 needs no copy.
    if (text.find('%') == std::string::npos) return base64_decode(text, false);
    return FromTransportText(std::string(text));
}

}  // namespace cryptutil::detail
