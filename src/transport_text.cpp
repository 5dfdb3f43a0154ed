#include "transport_text.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>

#include "cryptutil/base64.h"
#include "vector16.h"

namespace cryptutil::detail {
namespace {

// The value of a hex digit of either case, 0xFF for any other character. Wire text is public, so
// a table serves; the hex codecs, which may read keys, compute digits by arithmetic.
constexpr auto kHexValue = [] {
    std::array<std::uint8_t, 256> t{};
    for (auto& v : t) v = 0xFF;
    for (std::uint8_t i = 0; i < 10; ++i) t['0' + i] = i;
    for (std::uint8_t i = 0; i < 6; ++i) t['a' + i] = t['A' + i] = static_cast<std::uint8_t>(10 + i);
    return t;
}();

unsigned HexValue(char c) {
    return kHexValue[static_cast<unsigned char>(c)];
}

// An escaping step reads 65 characters (none is '+': 32 after position 32) and writes at most 128:
// a '+' at p after k others writes to 2k + p + 35, and k, p <= 31.
constexpr std::size_t kEscapeRead = 65, kEscapeWrite = 2 * 31 + 31 + 35;
// An unescaping step reads 69 characters (32 after a %u at 31, which ends at 37), and writes at
// most 66 past its output's start (32 after the three bytes of a %u at 31).
constexpr std::size_t kUnescapeRead = 37 + 32, kUnescapeSlack = 31 + 3 + 32;

// All ones in the lanes that hold a character of base64's alphabet (its padding aside): a letter of
// either case, one of "/0123456789", or '+'.
Bytes16 Base64Lanes(Bytes16 v) {
    return LanesInRange(v | 0x20, 'a', 26) | LanesInRange(v, '/', 11) | reinterpret_cast<Bytes16>(v == '+');
}

// Whether the n characters at s are all in base64's alphabet, 16 at a time.
bool AllBase64(const char* s, std::size_t n) {
    Bytes16 good = ~Bytes16{};
    std::size_t i = 0;
    for (; i + 16 <= n; i += 16) good &= Base64Lanes(Load16(s + i));
    char rest[16];  // the last characters, filled out with a letter
    std::memset(rest, 'A', sizeof rest);
    std::memcpy(rest, s + i, n - i);
    return !AnyLane(~(good & Base64Lanes(Load16(rest))));
}

// One step: the 32 characters at `in` escaped at out + o; returns the end of their output. The
// first '+' (or none: its writes land past the output) takes no branch; a second one loops. Lanes
// outside base64's alphabet clear lanes of `good`.
[[gnu::always_inline]] inline std::size_t EscapeStep(const char* in, char* out, std::size_t o, Bytes16& good) {
    const Bytes16 a = Load16(in), b = Load16(in + 16);
    std::uint32_t m = Find32(in, '+');
    good &= Base64Lanes(a) & Base64Lanes(b);
    Store16(out + o, a);
    Store16(out + o + 16, b);
    do {
        const unsigned p = Lowest(m);
        std::memcpy(out + o + p, "%2B", 4);  // the NUL is written over next
        Store16(out + o + p + 3, Load16(in + p + 1));
        Store16(out + o + p + 19, Load16(in + p + 17));
        o += 2 * static_cast<std::size_t>((std::uint64_t{m} + 0xFFFFFFFFU) >> 32);  // 2 if m has a bit set, no branch
        m &= m - 1;
    } while (__builtin_expect(m != 0, 0));
    return o + 32;
}

// Writes what the '%' at s stands for at out[o], and returns its length: the UTF-8 of a %uXXXX
// (nothing for a surrogate, which has none), or a '%' when s holds no such escape.
std::size_t UnicodeEscape(const char* s, char* out, std::size_t& o) {
    const unsigned a = HexValue(s[2]), b = HexValue(s[3]), c = HexValue(s[4]), d = HexValue(s[5]);
    const unsigned cp = a << 12 | b << 8 | c << 4 | d, more = cp < 0x80 ? 0 : cp < 0x800 ? 1 : 2;
    if (((a | b | c | d) & 0xF0) != 0) {
        out[o++] = '%';
        return 1;
    }
    if (cp >= 0xD800 && cp <= 0xDFFF) return 6;
    constexpr unsigned char kLead[] = {0x00, 0xC0, 0xE0};
    out[o++] = static_cast<char>(kLead[more] | cp >> 6 * more);
    for (unsigned k = more; k-- > 0;) out[o++] = static_cast<char>(0x80 | (cp >> 6 * k & 0x3F));
    return 6;
}

// Where a step's output ends, and how many characters its last escape takes of the next step.
struct Stepped {
    std::size_t end, carry;
};

// One step: the 32 characters at s + r from `carry` on, unescaped at out + o. The first %XX (or
// none) takes no branch; a second '%' loops, and a %u takes UnicodeEscape. Character r + k goes to
// o + k until an escape shortens the text; o may pass below 0 by the carry (unsigned, so defined)
// as nothing is written there: the carried characters are an escape's, with no '%' among them.
[[gnu::always_inline]] inline Stepped UnescapeStep(const char* s, std::size_t r, std::size_t carry, char* out,
                                                   std::size_t o) {
    std::uint32_t m = Find32(s + r, '%');
    Store16(out + o, Load16(s + r + carry));
    Store16(out + o + 16, Load16(s + r + carry + 16));
    o -= carry;
    std::size_t end = 32;
    do {
        const unsigned p = Lowest(m);  // 32 for none
        m &= m - 1;
        std::size_t next = 0;  // where the characters after the escape start
        if (__builtin_expect((p < 32) & (s[r + p + 1] == 'u'), 0)) {
            std::size_t w = o + p;
            next = p + UnicodeEscape(s + r + p, out, w);
            o = w - next;
            end = std::max(end, next);
        } else {
            const unsigned hi = HexValue(s[r + p + 1]), lo = HexValue(s[r + p + 2]);
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

// '+', the one character to escape, stands at about one character in 64 of a ciphertext's text,
// where no branch predictor learns it. So a step stores 32 characters, then escapes at most one
// '+' by storing what follows it again two places on; the last steps read from a padded copy.
bool AppendEscaped(std::string_view s, std::string& text) {
    const std::size_t n = s.size(), direct = n < kEscapeRead ? 0 : (n - kEscapeRead) / 32 * 32 + 32;
    char last[32 + kEscapeRead];  // the characters from `direct` on: fewer than kEscapeRead, two steps
    std::memcpy(last, s.data() + direct, n - direct);
    std::memset(last + (n - direct), 'x', sizeof last - (n - direct));
    const std::size_t at = text.size();
    std::size_t o = at, room = at;
    char* out = nullptr;  // held here: any store through a char* might change `text`
    Bytes16 good = ~Bytes16{};
    auto step = [&](const char* in, std::size_t left) {
        if (room - o < kEscapeWrite) {
            text.resize(room = o + left + left / 8 + kEscapeWrite);
            out = text.data();
        }
        o = EscapeStep(in, out, o, good);
    };
    for (std::size_t k = 0; k < direct; k += 32) step(s.data() + k, n - k);
    for (std::size_t k = direct; k < n; k += 32) step(last + (k - direct), n - k);
    const bool ok = !AnyLane(~good);
    text.resize(ok ? o - ((n + 31) / 32 * 32 - n) : at);  // less the padding's output
    return ok;
}

// The steps of escaping, reversed: each stores 32 characters, then decodes at most one %XX and
// stores what follows it again. Steps start at fixed positions, so that no load waits for the step
// before; an escape that ends past its step carries into the next.
std::size_t Unescape(const char* s, std::size_t n, std::size_t r, bool last, std::string& out) {
    const std::size_t at = out.size();
    out.resize(at + (n - r) + kUnescapeSlack);  // escapes only shorten text
    char* const start = out.data() + at;
    Stepped step{0, 0};
    for (; r + kUnescapeRead <= n; r += 32) step = UnescapeStep(s, r, step.carry, start, step.end);
    r += step.carry;
    // The last characters from a padded copy, up to a '%' that more text could change.
    std::size_t cut = n;
    for (std::size_t q = std::max(r, n < 5 ? 0 : n - 5); q < n && !last && cut == n; ++q) cut = s[q] == '%' ? q : n;
    char tail[64 + kUnescapeRead];
    std::memcpy(tail, s + r, cut - r);
    std::memset(tail + (cut - r), 'x', sizeof tail - (cut - r));
    step.carry = 0;
    for (std::size_t k = 0; k < cut - r; k += 32) step = UnescapeStep(tail, k, step.carry, start, step.end);
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
    if (openEscapeLen_ != 0) {  // the open escape and up to five new characters tell what its '%' is
        char joined[sizeof openEscape_ + 5];
        const std::size_t held = openEscapeLen_, take = std::min<std::size_t>(n, 5);
        std::memcpy(joined, openEscape_, held);
        if (take != 0) std::memcpy(joined + held, text, take);
        const std::size_t used = Unescape(joined, held + take, 0, last && take == n, quads_);
        openEscapeLen_ = used < held ? held + take - used : 0;  // still open: all of `text` was taken
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
    return chars + 2 * (chars / 64 + chars / 256 + 8) + std::min(chars, kPieceChars) / 8 + kEscapeWrite;
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

}  // namespace cryptutil::detail
