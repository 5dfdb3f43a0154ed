#include "transport_text.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>

#include "cryptutil/base64.h"
#include "vector16.h"

namespace cryptutil::detail {
namespace {

// The value of a hex digit of either case, 0xFF for any other character (a high nibble marks it).
// Text on the wire is public, so a table serves, at a load a digit where the unescaping steps read
// two every 32 characters; the hex codecs, which may read keys, compute digits by arithmetic.
constexpr auto kHexValue = [] {
    std::array<std::uint8_t, 256> t{};
    for (auto& v : t) v = 0xFF;
    for (std::uint8_t i = 0; i < 10; ++i) t['0' + i] = i;
    for (std::uint8_t i = 0; i < 6; ++i) t['a' + i] = t['A' + i] = static_cast<std::uint8_t>(10 + i);
    return t;
}();

unsigned HexValue(unsigned char c) {
    return kHexValue[c];
}

// Bit k set where character k of the 32 in a, b is c.
std::uint32_t Find(Bytes16 a, Bytes16 b, char c) {
    return Bits(a == static_cast<unsigned char>(c)) | Bits(b == static_cast<unsigned char>(c)) << 16;
}

// The position of the lowest bit of m, or 32 when there is none; no branch.
unsigned Lowest(std::uint32_t m) {
    return static_cast<unsigned>(__builtin_ctzll(std::uint64_t{m} | std::uint64_t{1} << 32));
}

// 1 when m has a bit set, else 0; no branch.
std::size_t Any(std::uint32_t m) {
    return static_cast<std::size_t>((std::uint64_t{m} + 0xFFFFFFFFU) >> 32);
}

// Bounds of the steps below. An escaping step reads 66 characters (a '+' at 31, then 32 after it),
// makes at most 96 (32 '+'), and stores at most 35 past what it makes (no '+': 32 at 32 + 3).
constexpr std::size_t kEscapeRead = 66, kEscapeWrite = 96 + 35;
// The last characters (fewer than kEscapeRead) take at most three steps: 3 * 32 characters and 2 per
// '+' among the 65, plus the 35.
constexpr std::size_t kEscapeTailWrite = 3 * 32 + 2 * 65 + 35;
// An unescaping step reads 72 characters (a %u at 31, then 32 after its end at 37), and stores at
// most 69 past where it starts (32 after a %u's end); its last step starts before the text's end.
constexpr std::size_t kUnescapeRead = 72, kUnescapeSlack = 69;

// All ones where a lane is not a character of base64's alphabet (its padding aside).
Bytes16 NotBase64(Bytes16 v) {
    const auto letter = reinterpret_cast<Bytes16>(static_cast<Bytes16>((v | 0x20) - 'a') < 26);
    const auto digit = reinterpret_cast<Bytes16>(static_cast<Bytes16>(v - '0') < 10);
    return ~(letter | digit | reinterpret_cast<Bytes16>(v == '+') | reinterpret_cast<Bytes16>(v == '/'));
}

bool IsBase64(unsigned char c) {
    return static_cast<unsigned char>((c | 0x20) - 'a') < 26 || static_cast<unsigned char>(c - '0') < 10 || c == '+' ||
           c == '/';
}

// Whether the n characters at s are all in base64's alphabet, 16 at a time.
bool AllBase64(const char* s, std::size_t n) {
    Bytes16 bad{};
    std::size_t i = 0;
    for (; i + 16 <= n; i += 16) bad |= NotBase64(Load16(s + i));
    bool ok = !AnyLane(bad);
    for (; i < n; ++i) ok &= IsBase64(static_cast<unsigned char>(s[i]));
    return ok;
}

// The last characters a byte at a time.
bool AppendEscapedBytewise(std::string_view s, std::string& text) {
    for (const char c : s) {
        if (!IsBase64(static_cast<unsigned char>(c))) return false;
        c == '+' ? void(text += "%2B") : void(text += c);
    }
    return true;
}

// One step: the 32 characters at `in` (kEscapeRead readable) escaped at `o`; returns the end of their
// output. The first '+' (or none) takes no branch; the loop runs again only for a second one.
// Lanes outside base64's alphabet gather in `bad`.
[[gnu::always_inline]] inline char* EscapeStep(const char* in, char* o, Bytes16& bad) {
    const Bytes16 a = Load16(in), b = Load16(in + 16);
    std::uint32_t m = Find(a, b, '+');
    bad |= NotBase64(a) | NotBase64(b);
    Store16(o, a);
    Store16(o + 16, b);
    do {
        const unsigned p = Lowest(m);  // 32 for none: what it writes lies beyond the output
        std::memcpy(o + p, "%2B", 4);  // the NUL is written over next
        Store16(o + p + 3, Load16(in + p + 1));
        Store16(o + p + 19, Load16(in + p + 17));
        o += 2 * Any(m);
        m &= m - 1;
    } while (__builtin_expect(m != 0, 0));
    return o + 32;
}

// Writes what the escape at the '%' s[r] stands for at o; returns the position after it.
std::size_t EscapeAt(const char* s, std::size_t n, std::size_t r, char*& o) {
    auto hex = [&](std::size_t i) { return unsigned{HexValue(static_cast<unsigned char>(s[i]))}; };
    if (r + 5 < n && s[r + 1] == 'u') {
        const unsigned cp = hex(r + 2) << 12 | hex(r + 3) << 8 | hex(r + 4) << 4 | hex(r + 5);
        if (((hex(r + 2) | hex(r + 3) | hex(r + 4) | hex(r + 5)) & 0xF0) == 0) {
            // UTF-8 of one to three bytes; a surrogate has no UTF-8 form and is dropped.
            const unsigned more = cp < 0x80 ? 0 : cp < 0x800 ? 1 : 2;
            if (cp >= 0xD800 && cp <= 0xDFFF) return r + 6;
            constexpr unsigned char kLead[] = {0x00, 0xC0, 0xE0};
            *o++ = static_cast<char>(kLead[more] | cp >> 6 * more);
            for (unsigned k = more; k-- > 0;) *o++ = static_cast<char>(0x80 | (cp >> 6 * k & 0x3F));
            return r + 6;
        }
    } else if (r + 2 < n && ((hex(r + 1) | hex(r + 2)) & 0xF0) == 0) {
        *o++ = static_cast<char>(hex(r + 1) << 4 | hex(r + 2));
        return r + 3;
    }
    *o++ = '%';
    return r + 1;
}

// Where a step's output ends (an index into the output), and how many characters its last escape
// takes of the next step.
struct Stepped {
    std::size_t end, carry;
};

// One step: the 32 characters at s + r (kUnescapeRead readable) from `carry` on, unescaped at out + o. The
// first %XX (or none) takes no branch; the loop runs again only for a second '%', and a %u takes
// the general path. Positions are indices: the one of character r + k is o + k until an escape
// shortens the text, and may pass below 0 by the carry (unsigned, so well defined) as long as
// nothing is written there; no '%' stands within the carried characters, which are an escape's.
[[gnu::always_inline]] inline Stepped UnescapeStep(const char* s, std::size_t n, std::size_t r, std::size_t carry,
                                                   char* out, std::size_t o) {
    std::uint32_t m = Find(Load16(s + r), Load16(s + r + 16), '%');
    Store16(out + o, Load16(s + r + carry));
    Store16(out + o + 16, Load16(s + r + carry + 16));
    o -= carry;
    std::size_t end = 32;
    do {
        const unsigned p = Lowest(m);  // 32 for none
        m &= m - 1;
        std::size_t next = 0;  // where the characters after the escape start
        if (__builtin_expect((p < 32) & (s[r + p + 1] == 'u'), 0)) {
            char* w = out + (o + p);
            next = EscapeAt(s + r, n - r, p, w);
            o = static_cast<std::size_t>(w - out) - next;
            end = std::max(end, next);
        } else {
            const unsigned hi = HexValue(static_cast<unsigned char>(s[r + p + 1]));
            const unsigned lo = HexValue(static_cast<unsigned char>(s[r + p + 2]));
            const std::size_t valid = (p < 32) & ((hi | lo) >> 4 ^ 1U) & 1U;
            const auto plain = static_cast<unsigned char>(s[r + p]);
            out[o + p] = static_cast<char>(plain ^ ((plain ^ (hi << 4 | lo)) & (0U - valid)));  // no branch
            next = p + 1 + 2 * valid;
            end = std::max<std::size_t>(end, (p + 3) * valid);  // an escape may end past the 32
            o -= 2 * valid;
        }
        Store16(out + (o + next), Load16(s + r + next));
        Store16(out + (o + next + 16), Load16(s + r + next + 16));
    } while (__builtin_expect(m != 0, 0));
    return {o + end, end - 32};
}

}  // namespace

// Base64 text has one byte to escape, '+', at about one character in 64 of a ciphertext's text, at
// places no branch predictor learns. So each step of 32 characters stores them, then escapes at
// most one '+' and stores what follows it again two places on, without a branch; a step with two
// or more (one in eleven) takes a branch.
bool AppendEscaped(std::string_view s, std::string& text) {
    const std::size_t at = text.size(), n = s.size();
    text.resize(at + n + n / 8 + kEscapeTailWrite);  // room for an escape in every 16 characters
    char* o = text.data() + at;
    const char* const end = text.data() + text.size();
    std::size_t i = 0;
    Bytes16 bad{};
    for (; i + kEscapeRead <= n && end - o >= static_cast<std::ptrdiff_t>(kEscapeWrite); i += 32)
        o = EscapeStep(s.data() + i, o, bad);
    if (n - i < kEscapeRead && end - o >= static_cast<std::ptrdiff_t>(kEscapeTailWrite)) {  // from a padded copy
        char last[64 + kEscapeRead];
        std::memcpy(last, s.data() + i, n - i);
        std::memset(last + (n - i), 'x', sizeof last - (n - i));
        for (std::size_t k = i; k < n; k += 32) o = EscapeStep(last + (k - i), o, bad);
        o -= (n - i + 31) / 32 * 32 - (n - i);
        i = n;
    }
    text.resize(static_cast<std::size_t>(o - text.data()));
    if (!AnyLane(bad) && AppendEscapedBytewise(s.substr(i), text)) return true;
    text.resize(at);
    return false;
}

// Escapes stand at about one character in 64 of transport text, so the steps are those of
// escaping, reversed: each stores 32 characters, then decodes at most one %XX and stores what
// follows it again, without a branch. Steps start at fixed positions, so that no load waits for
// the step before, and an escape that ends past its step carries into the next.
std::size_t Unescape(const char* s, std::size_t n, std::size_t r, bool last, std::string& out) {
    const std::size_t at = out.size();
    out.resize(at + (n - r) + kUnescapeSlack);  // escapes only shorten text
    char* const start = out.data() + at;
    Stepped step{0, 0};
    for (; r + kUnescapeRead <= n; r += 32) step = UnescapeStep(s, n, r, step.carry, start, step.end);
    r += step.carry;
    // The last characters from a copy, padded; a '%' that more text could change ends them.
    std::size_t cut = n;
    for (std::size_t q = std::max(r, n < 5 ? 0 : n - 5); q < n && !last; ++q) {
        if (s[q] == '%') {
            cut = q;
            break;
        }
    }
    char tail[64 + kUnescapeRead];
    std::memcpy(tail, s + r, cut - r);
    std::memset(tail + (cut - r), 'x', sizeof tail - (cut - r));
    step.carry = 0;
    for (std::size_t k = 0; k < cut - r; k += 32)
        step = UnescapeStep(tail, sizeof tail, k, step.carry, start, step.end);
    out.resize(at + step.end - ((cut - r + 31) / 32 * 32 - (cut - r)));
    return cut;
}

// The codec's text is checked, not trusted: a host's codec that returned a terminator, a short
// text or another alphabet would otherwise put a text on the wire that reads as other bytes.
bool AppendTransportText(const unsigned char* bytes, std::size_t n, std::string& text) {
    const std::string base64 = base64_encode(bytes, n, false);
    const std::size_t pads = (3 - n % 3) % 3, at = text.size();
    if (base64.size() != (n + 2) / 3 * 4 || base64.compare(base64.size() - pads, pads, "==", pads) != 0 ||
        !AppendEscaped(std::string_view(base64).substr(0, base64.size() - pads), text)) {
        text.resize(at);
        return false;
    }
    text.append(pads, '=');
    return true;
}

bool TransportTextReader::Read(const char* text, std::size_t n, bool last, std::string& bytes) {
    if (failed_) return false;
    std::size_t r = 0;
    if (openEscapeLen_ != 0) {
        // The open escape and the first few new characters tell what its '%' stands for.
        char joined[sizeof openEscape_ + 5];
        const std::size_t held = openEscapeLen_, take = std::min<std::size_t>(n, 5);
        std::memcpy(joined, openEscape_, held);
        if (take != 0) std::memcpy(joined + held, text, take);
        const std::size_t used = Unescape(joined, held + take, 0, last && take == n, quads_);
        openEscapeLen_ = used < held ? held + take - used : 0;
        std::memcpy(openEscape_, joined + used, openEscapeLen_);
        r = used < held ? n : used - held;
    }
    if (r < n) {
        r = Unescape(text, n, r, last, quads_);
        openEscapeLen_ = n - r;
        std::memcpy(openEscape_, text + r, openEscapeLen_);
    }
    failed_ = !Decode(last, bytes);
    return !failed_;
}

// Decodes the whole quads unescaped so far, or all of them when `last`; padding ends the text.
bool TransportTextReader::Decode(bool last, std::string& bytes) {
    const std::size_t n = quads_.size(), whole = last ? n : n / 4 * 4;
    if (whole == 0) return true;
    if (padded_ || whole % 4 != 0) return false;
    const std::size_t pads = quads_[whole - 1] != '=' ? 0 : quads_[whole - 2] != '=' ? 1 : 2;
    if (!AllBase64(quads_.data(), whole - pads)) return false;  // whatever the codec would take
    char rest[3];
    const std::size_t extra = n - whole;
    std::memcpy(rest, quads_.data() + whole, extra);
    quads_.resize(whole);
    std::string decoded = base64_decode(quads_, false);
    if (decoded.size() != whole / 4 * 3 - pads) return false;
    padded_ = pads != 0;
    bytes.empty() ? bytes.swap(decoded) : void(bytes += decoded);
    quads_.assign(rest, extra);
    return true;
}

// '+' is one character in 64 of the text of random bytes; the margin is far beyond its spread.
std::size_t TextRoom(std::size_t n) {
    const std::size_t chars = (n + 2) / 3 * 4;
    return chars + 2 * (chars / 64 + chars / 256 + 8) + std::min(chars, kPieceChars) / 8 + kEscapeTailWrite;
}

bool ToTransportText(const unsigned char* bytes, std::size_t n, std::string& text) {
    std::string made;
    made.reserve(TextRoom(n));
    if (!AppendTransportText(bytes, n, made)) return false;
    text.swap(made);
    return true;
}

bool FromTransportText(std::string_view text, std::string& bytes) {
    TransportTextReader reader;
    return reader.Add(text.data(), text.size(), bytes) && reader.Finish(bytes);
}

// Every '%' of a text that reads begins an escape, which stands for one byte in three characters
// or more. Counted in byte lanes, each lane taking at most 255 steps between sums.
std::size_t MaxBytes(std::string_view text) {
    const char* p = text.data();
    const std::size_t n = text.size();
    std::size_t escapes = 0, i = 0;
    while (i + 16 <= n) {
        Bytes16 lanes{};
        for (const std::size_t end = std::min(n - n % 16, i + std::size_t{255} * 16); i < end; i += 16)
            lanes -= reinterpret_cast<Bytes16>(Load16(p + i) == '%');  // a match is 0xFF: -1
        std::uint64_t half[2];
        std::memcpy(half, &lanes, sizeof half);
        for (std::uint64_t h : half) {  // the lanes summed in place, eight to one
            h = (h & 0x00FF00FF00FF00FFULL) + (h >> 8 & 0x00FF00FF00FF00FFULL);
            h = (h & 0x0000FFFF0000FFFFULL) + (h >> 16 & 0x0000FFFF0000FFFFULL);
            escapes += static_cast<std::size_t>((h & 0xFFFFFFFFU) + (h >> 32));
        }
    }
    for (; i < n; ++i) escapes += p[i] == '%' ? 1U : 0U;
    return (n - std::min(n, 2 * escapes)) / 4 * 3;
}

}  // namespace cryptutil::detail
