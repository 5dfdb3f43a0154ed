#include "transport_text.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "cryptutil/base64.h"
#include "hex_digits.h"

namespace cryptutil::detail {
namespace {

// 16 bytes at a time: GCC and Clang vector extensions (which this file needs, like its bit
// builtins) give SSE2 or NEON code alike, and plain scalar code where there is no vector unit.
using Bytes16 = unsigned char __attribute__((vector_size(16)));
using Signed16 = signed char __attribute__((vector_size(16)));

Bytes16 Load16(const char* p) {
    Bytes16 v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

void Store16(char* p, Bytes16 v) {
    std::memcpy(p, &v, sizeof v);
}

template <typename Lanes>
unsigned Bits(Lanes lanes) {
#if defined(__SSE2__)
    return static_cast<unsigned>(_mm_movemask_epi8(reinterpret_cast<__m128i>(lanes)));
#else
    std::uint64_t half[2];
    std::memcpy(half, &lanes, sizeof half);
#if __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
    half[0] = __builtin_bswap64(half[0]);  // lane 0 to the low byte, as on little-endian targets
    half[1] = __builtin_bswap64(half[1]);
#endif
    // The top bit of each lane gathered into the top byte, one multiplication per half.
    constexpr std::uint64_t kTopBits = 0x8080808080808080ULL, kGather = 0x0002040810204081ULL;
    return static_cast<unsigned>(((half[0] & kTopBits) * kGather) >> 56) |
           (static_cast<unsigned>(((half[1] & kTopBits) * kGather) >> 56) << 8);
#endif
}

unsigned LowestBit(unsigned mask) {
    return static_cast<unsigned>(__builtin_ctz(mask));
}

constexpr bool NeedsEscape(unsigned char b) {
    return b >= 0x80 || b == ' ' || b == '+' || b == '\r' || b == '\n' || b == '\'' || b == ',' || b == ';';
}

// Bit k set where byte k of v needs escaping. A cheap superset goes first: every byte that is at
// most ',' read as signed (so all of 0x80..0xFF), and ';'. Of base64's alphabet only '+' is in it.
unsigned EscapeMask(Bytes16 v) {
    const auto s = reinterpret_cast<Signed16>(v);
    const unsigned maybe = Bits((s <= ',') | (v == ';'));
    if (maybe == 0) return 0;
    return Bits((s < 0) | (v == ' ') | (v == '+') | (v == '\r') | (v == '\n') | (v == '\'') | (v == ',') | (v == ';'));
}

std::size_t CountEscapes(const char* p, std::size_t n) {
    std::size_t count = 0;
    std::size_t i = 0;
    for (; i + 16 <= n; i += 16) {
        for (unsigned m = EscapeMask(Load16(p + i)); m != 0; m &= m - 1) ++count;  // a bit or two at most, as a rule
    }
    for (; i < n; ++i) count += NeedsEscape(static_cast<unsigned char>(p[i])) ? 1U : 0U;
    return count;
}

char* PutEscape(char* o, unsigned char b) {
    o[0] = '%';
    o[1] = kHexUpperDigits[b >> 4];
    o[2] = kHexUpperDigits[b & 0x0F];
    return o + 3;
}

// Writes the escaped form of src[0, n) at o, which has room for it, and returns its end;
// `escapes(v)` is the mask of the bytes of a 16-byte block v to escape. Each block is written
// whole first, which for most blocks of base64 text (a '+' in one character of 64) is all; after
// each escape the 16 bytes that follow it are written again, further on.
template <typename Escapes>
char* Expand(const char* src, std::size_t n, char* o, Escapes escapes) {
    std::size_t i = 0;
    for (; i + 16 <= n; i += 16) {
        const Bytes16 v = Load16(src + i);
        unsigned mask = escapes(v);
        Store16(o, v);
        if (__builtin_expect(mask == 0, 1)) {
            o += 16;
            continue;
        }
        std::size_t from = i;  // bytes of src before `from` are written, up to o
        do {
            const std::size_t k = i + LowestBit(mask);
            mask &= mask - 1;
            o = PutEscape(o + (k - from), static_cast<unsigned char>(src[k]));
            from = k + 1;
            // The output has room for 16 more whenever 16 can be read: it is never shorter than
            // the input left.
            if (from + 16 <= n) {
                Store16(o, Load16(src + from));
            } else {
                std::memcpy(o, src + from, i + 16 - from);
            }
        } while (mask != 0);
        o += i + 16 - from;
    }
    for (; i < n; ++i) {
        const auto b = static_cast<unsigned char>(src[i]);
        if (NeedsEscape(b)) {
            o = PutEscape(o, b);
        } else {
            *o++ = static_cast<char>(b);
        }
    }
    return o;
}

char* Expand(const char* src, std::size_t n, char* o) {
    return Expand(src, n, o, [](Bytes16 v) { return EscapeMask(v); });
}

// Base64 text holds one byte to escape, '+'; these make the most of it.
char* ExpandPluses(const char* src, std::size_t n, char* o) {
    return Expand(src, n, o, [](Bytes16 v) { return Bits(v == '+'); });
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

constexpr std::size_t kNotBase64 = SIZE_MAX;

// The number of '+' in p[0, n), or kNotBase64 if any other byte needs escaping. No branch depends
// on the bytes.
std::size_t CountPluses(const char* p, std::size_t n) {
    std::size_t count = 0;
    std::size_t i = 0;
    Bytes16 other{};
    while (i + 16 <= n) {
        // Lane counters subtract the 0xFF (-1) masks; 255 blocks at most before they could wrap.
        Bytes16 lanes{};
        for (int blocks = 0; blocks < 255 && i + 16 <= n; ++blocks, i += 16) {
            const Bytes16 v = Load16(p + i);
            const auto plus = reinterpret_cast<Bytes16>(v == '+');
            other |= reinterpret_cast<Bytes16>((reinterpret_cast<Signed16>(v) <= ',') | (v == ';')) & ~plus;
            lanes -= plus;
        }
        count += SumLanes(lanes);
    }
    const unsigned others = Bits(other);
    for (; i < n; ++i) {
        if (p[i] == '+') {
            ++count;
        } else if (NeedsEscape(static_cast<unsigned char>(p[i]))) {
            return kNotBase64;
        }
    }
    return others == 0 ? count : kNotBase64;
}

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

// Undoes the escape that starts with the '%' at s[r]: writes 0 to 3 bytes at dst + w and returns
// the position after what it read.
std::size_t UnescapeAt(const char* s, std::size_t n, std::size_t r, char* dst, std::size_t& w) {
    if (r + 1 < n && s[r + 1] == 'u') {
        if (r + 5 < n) {
            const std::uint8_t a = HexAt(s, r + 2), b = HexAt(s, r + 3), c = HexAt(s, r + 4), d = HexAt(s, r + 5);
            if (((a | b | c | d) & 0xF0) == 0) {
                const std::uint32_t cp =
                    (std::uint32_t{a} << 12) | (std::uint32_t{b} << 8) | (std::uint32_t{c} << 4) | d;
                w = static_cast<std::size_t>(PutUtf8(dst + w, cp) - dst);
                return r + 6;
            }
        }
    } else if (r + 2 < n) {
        const std::uint8_t hi = HexAt(s, r + 1), lo = HexAt(s, r + 2);
        if (((hi | lo) & 0xF0) == 0) {
            dst[w++] = static_cast<char>((hi << 4) | lo);
            return r + 3;
        }
    }
    dst[w++] = '%';  // starts no escape: stays
    return r + 1;
}

// Unescapes s[r, n) to dst + w, advancing both, until the text ends or w has passed `limit`.
// Writes less than kOverrun bytes past `limit`. From w = 0 on, w never passes r, and dst may be
// s: every write lands below the next byte to read. Blocks without a '%' (most of them in
// transport text) are predicted well; a branch-free advance would chain every block's load to
// the previous block's result, which measured slower.
void UnescapeSome(const char* s, std::size_t n, std::size_t& r, char* dst, std::size_t& w, std::size_t limit) {
    while (r < n && w <= limit) {
        if (r + 18 <= n) {
            const Bytes16 v = Load16(s + r);
            const unsigned mask = Bits(v == '%');
            if (__builtin_expect(mask == 0, 1)) {
                Store16(dst + w, v);
                r += 16;
                w += 16;
                continue;
            }
            // The bytes before the '%': written whole unless, in place with w less than 16 behind
            // r, that would overwrite the escape still to read.
            const unsigned k = LowestBit(mask);
            if (dst != s || r - w >= 16) {
                Store16(dst + w, v);
            } else {
                std::memmove(dst + w, s + r, k);
            }
            const std::uint8_t hi = HexAt(s, r + k + 1), lo = HexAt(s, r + k + 2);
            if (((hi | lo) & 0xF0) == 0) {  // %XX, the usual escape
                dst[w + k] = static_cast<char>((hi << 4) | lo);
                r += k + 3;
                w += k + 1;
                continue;
            }
            r += k;
            w += k;
        } else if (s[r] != '%') {
            // Near the end: up to the next '%' in one move.
            const void* pct = std::memchr(s + r + 1, '%', n - r - 1);
            const std::size_t stop = pct == nullptr ? n : static_cast<std::size_t>(static_cast<const char*>(pct) - s);
            std::memmove(dst + w, s + r, stop - r);
            w += stop - r;
            r = stop;
            continue;
        }
        r = UnescapeAt(s, n, r, dst, w);
    }
}

constexpr std::size_t kPieceChars = kPieceBytes / 3 * 4;
// How far UnescapeSome may write past its limit: a 16-byte write, then an escape's 3 bytes.
constexpr std::size_t kOverrun = 32;

}  // namespace

std::string UrlEscape(std::string_view s) {
    s = s.substr(0, s.find('\0'));
    std::string out(s.size() + 2 * CountEscapes(s.data(), s.size()), '\0');
    Expand(s.data(), s.size(), out.data());
    return out;
}

std::string UrlUnescape(std::string_view s) {
    std::string out(s.size(), '\0');  // escapes only shrink; every 16-byte write lands within r's
    std::size_t r = 0, w = 0;
    UnescapeSome(s.data(), s.size(), r, out.data(), w, SIZE_MAX);
    out.resize(w);
    return out;
}

TransportTextWriter::TransportTextWriter(std::size_t total, std::string& out) : total_(total), out_(out) {}

std::string TransportTextWriter::Encode(const unsigned char* bytes, std::size_t n) {
    return base64_encode(bytes, n, false);
}

void TransportTextWriter::Add(const std::string& piece) {
    const char* p = piece.data();
    const std::size_t n = piece.size();
    const std::size_t pluses = CountPluses(p, n);
    const std::size_t escapes = pluses != kNotBase64 ? pluses : CountEscapes(p, n);
    const std::size_t at = dst_->size();
    const std::size_t size = at + n + 2 * escapes;
    escapes_ += escapes;
    read_ += n;
    if (total_ <= kPieceBytes) {
        if (out_.capacity() >= size) dst_ = &out_;  // nothing can fail from here on
    } else if (at == 0 || size > text_.capacity()) {
        // Room for the whole text at the rate of escapes so far, plus four standard deviations of
        // the count: '+' is one character in 64 of random-looking ciphertext, but ECB over a
        // message that repeats itself repeats its text too, at whatever rate that has.
        const std::size_t chars = (total_ + 2) / 3 * 4;
        const auto seen = static_cast<double>(escapes_);
        const double expected =
            (seen + 4 * std::sqrt(seen + 1)) * static_cast<double>(chars) / static_cast<double>(read_);
        std::string grown;
        grown.reserve(std::max(size, chars + 2 * static_cast<std::size_t>(expected)));
        grown = text_;
        text_.swap(grown);
    }
    dst_->resize(size);
    if (pluses != kNotBase64) {
        ExpandPluses(p, n, dst_->data() + at);
    } else {
        Expand(p, n, dst_->data() + at);
    }
}

void TransportTextWriter::Finish() noexcept {
    if (dst_ == &text_) out_.swap(text_);
}

TransportTextReader::TransportTextReader(std::string_view text) : text_(text) {
    unescaped_.resize(std::min(text.size(), kPieceChars) + kOverrun);
}

TransportTextReader::TransportTextReader(std::string&& text) {
    if (text.size() > kPieceChars) {
        owned_ = std::move(text);
        text_ = owned_;
        unescaped_.resize(kPieceChars + kOverrun);
    } else {
        unescaped_ = std::move(text);  // unescaped in place: writes never pass the reading position
        text_ = unescaped_;
    }
}

bool TransportTextReader::Next(std::string& bytes) {
    if (done_) return false;
    UnescapeSome(text_.data(), text_.size(), read_, unescaped_.data(), pending_, kPieceChars);
    // A piece is the last only when nothing follows it, which takes one character past it to tell.
    done_ = read_ == text_.size() && pending_ <= kPieceChars;
    if (done_) {
        if (pending_ == 0) return false;  // no text, or no more
        unescaped_.resize(pending_);
        bytes = base64_decode(unescaped_, false);
        failed_ = bytes.empty();
        return !failed_;
    }
    char carry[kOverrun];
    const std::size_t carried = pending_ - kPieceChars, size = unescaped_.size();
    std::memcpy(carry, unescaped_.data() + kPieceChars, carried);
    unescaped_.resize(kPieceChars);
    bytes = base64_decode(unescaped_, false);
    unescaped_.resize(size);  // within capacity
    std::memcpy(unescaped_.data(), carry, carried);
    pending_ = carried;
    if (bytes.size() != kPieceBytes) {  // invalid, or '=' padding before the end
        failed_ = done_ = true;
        return false;
    }
    return true;
}

std::string FromTransportText(std::string_view text) {
    TransportTextReader reader(text);
    std::string all, piece;
    while (reader.Next(piece)) {
        if (all.empty()) {
            all.swap(piece);  // a text of one piece: no copy
            continue;
        }
        all.reserve(TransportTextReader::MaxBytes(text));
        all += piece;
    }
    if (reader.Failed()) return {};
    return all;
}

void AppendTransportText(const unsigned char* bytes, std::size_t n, std::string& text) {
    text += UrlEscape(TransportTextWriter::Encode(bytes, n));
}

bool TransportTextChunkReader::Add(const char* text, std::size_t n, std::string& bytes) {
    if (failed_) return false;
    escaped_.append(text, n);
    // An escape is at most six characters ("%uXXXX") and holds no '%': what precedes the last '%'
    // of the last five characters unescapes the same whatever follows.
    std::size_t cut = escaped_.size();
    const std::size_t window = std::min<std::size_t>(5, cut);
    const std::size_t pct = escaped_.find_last_of('%');
    if (pct != std::string::npos && pct >= cut - window) cut = pct;
    base64_ += UrlUnescape(std::string_view(escaped_).substr(0, cut));
    escaped_.erase(0, cut);
    return Decode(false, bytes);
}

bool TransportTextChunkReader::Finish(std::string& bytes) {
    if (failed_) return false;
    base64_ += UrlUnescape(escaped_);
    escaped_.clear();
    return Decode(true, bytes) && base64_.empty();
}

// Decodes the whole quads of base64_ (all of it when `last`); '=' ends the text.
bool TransportTextChunkReader::Decode(bool last, std::string& bytes) {
    const std::size_t quads = last ? base64_.size() : base64_.size() / 4 * 4;
    if (quads == 0) return true;
    if (padded_ || quads % 4 != 0) return failed_ = true, false;  // text after the padding, or a part quad
    std::size_t pads = 0;
    while (pads < 2 && base64_[quads - 1 - pads] == '=') ++pads;
    padded_ = pads != 0;
    const std::string quadText = base64_.substr(0, quads);
    const std::string decoded = base64_decode(quadText, false);
    if (decoded.size() != quads / 4 * 3 - pads) return failed_ = true, false;
    bytes += decoded;
    base64_.erase(0, quads);
    return true;
}

}  // namespace cryptutil::detail
