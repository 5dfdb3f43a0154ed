#include "cryptutil/base64.h"

#include <array>
#include <cstdint>
#include <cstring>
#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#include <immintrin.h>
#endif

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

#if defined(__GNUC__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
// Sixteen characters per step in vector arithmetic: GCC and Clang vector extensions give SSE2 or
// NEON code alike (the layout of 32-bit lanes is little-endian's; other targets take the scalar
// code). The sextet shuffles follow Mula and Lemire's base64 work, with shifts for shuffles.
#define CRYPTUTIL_BASE64_VECTORS 1
using Bytes16 = unsigned char __attribute__((vector_size(16)));
using Signed16 = signed char __attribute__((vector_size(16)));
using Words4 = std::uint32_t __attribute__((vector_size(16)));

// Encodes the 12 bytes at `in` (reads 13) as 16 characters of the standard alphabet at `out`.
void Encode12(const unsigned char* in, char* out) {
    std::uint32_t loads[4];
    for (std::size_t k = 0; k < 4; ++k) std::memcpy(&loads[k], in + 3 * k, 4);
    Words4 w;
    std::memcpy(&w, loads, sizeof w);
    // Lane k: bytes b0 b1 b2 (of 3k..3k+2) become the sextets b0>>2, b0:b1, b1:b2, b2&63.
    const Words4 r = ((w >> 2) & 0x3F) | ((w << 12) & 0x3000) | ((w >> 4) & 0x0F00) | ((w << 10) & 0x3C0000) |
                     ((w >> 6) & 0x030000) | ((w << 8) & 0x3F000000);
    Bytes16 v;
    std::memcpy(&v, &r, sizeof v);
    // 'A' + v, then shifted for the ranges a-z, 0-9, '+' and '/' (byte arithmetic wraps). The
    // sextets compare as signed bytes: SSE2 has no unsigned byte comparison.
    const auto sv = reinterpret_cast<Signed16>(v);
    const auto ge26 = reinterpret_cast<Bytes16>(sv > 25);
    const auto ge52 = reinterpret_cast<Bytes16>(sv > 51);
    const auto eq62 = reinterpret_cast<Bytes16>(v == 62);
    const auto eq63 = reinterpret_cast<Bytes16>(v == 63);
    const Bytes16 text = v + 65 + (ge26 & 6) + (ge52 & static_cast<unsigned char>(-75)) +
                         (eq62 & static_cast<unsigned char>(-15)) + (eq63 & static_cast<unsigned char>(-12));
    std::memcpy(out, &text, 16);
}

// Decodes 16 characters at `in` into 12 bytes at `out` (writing 13); returns false if any is
// outside the standard alphabet.
bool Decode16(const unsigned char* in, unsigned char* out) {
    Bytes16 c;
    std::memcpy(&c, in, sizeof c);
    // Signed comparisons (SSE2 has no unsigned ones): bytes from 0x80 up are negative and fall
    // outside every range.
    const auto s = reinterpret_cast<Signed16>(c);
    const auto upper = reinterpret_cast<Bytes16>((s > 'A' - 1) & (s < 'Z' + 1));
    const auto lower = reinterpret_cast<Bytes16>((s > 'a' - 1) & (s < 'z' + 1));
    const auto digit = reinterpret_cast<Bytes16>((s > '0' - 1) & (s < '9' + 1));
    const auto plus = reinterpret_cast<Bytes16>(c == '+');
    const auto slash = reinterpret_cast<Bytes16>(c == '/');
    const Bytes16 valid = upper | lower | digit | plus | slash;
    std::uint64_t halves[2];
    std::memcpy(halves, &valid, sizeof halves);
    if ((halves[0] & halves[1]) != ~std::uint64_t{0}) return false;
    const Bytes16 v = ((c - 'A') & upper) | ((c - 71) & lower) | ((c + 4) & digit) | (62 & plus) | (63 & slash);
    Words4 u;
    std::memcpy(&u, &v, sizeof u);
    // Lane k: sextets s0..s3 become the bytes s0:s1, s1:s2, s2:s3 in its low three bytes.
    const Words4 w = ((u & 0x3F) << 2) | ((u >> 12) & 0x3) | ((u << 4) & 0xF000) | ((u >> 10) & 0xF00) |
                     ((u << 6) & 0xC00000) | ((u >> 8) & 0x3F0000);
    std::uint32_t words[4];
    std::memcpy(words, &w, sizeof words);
    // Four-byte stores 3 apart: the fourth byte of each is overwritten by the next, and the last
    // lands on the byte after these 12, which the caller guarantees is output still to be written.
    for (std::size_t k = 0; k < 4; ++k) std::memcpy(out + 3 * k, &words[k], 4);
    return true;
}
#endif

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
// x86-64 with AVX2, chosen at run time: 24 bytes to 32 characters a step and back, after Mula and
// Lemire ("Faster Base64 Encoding and Decoding using AVX2 Instructions", 2018). Other targets take
// the 16-byte steps below.
#define CRYPTUTIL_BASE64_AVX2 1

// Encodes 24 bytes a step while 32 can be read from `in`; returns how many bytes it encoded.
__attribute__((target("avx2"))) std::size_t EncodeAvx2(const unsigned char* in, std::size_t len, char* out) {
    // Each group of three bytes b0 b1 b2 as the 32-bit word [b1 b0 b2 b1], lane by lane.
    const __m256i groups = _mm256_setr_epi8(1, 0, 2, 1, 4, 3, 5, 4, 7, 6, 8, 7, 10, 9, 11, 10, 1, 0, 2, 1, 4, 3, 5, 4,
                                            7, 6, 8, 7, 10, 9, 11, 10);
    // Offsets from sextet to character, indexed as below: 'A', 'a' - 26, '0' - 52 (ten), '+' - 62, '/' - 63.
    const __m256i offsets = _mm256_setr_epi8(65, 71, -4, -4, -4, -4, -4, -4, -4, -4, -4, -4, -19, -16, 0, 0, 65, 71, -4,
                                             -4, -4, -4, -4, -4, -4, -4, -4, -4, -19, -16, 0, 0);
    std::size_t i = 0;
    for (; i + 32 <= len; i += 24, out += 32) {
        __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(in + i));
        v = _mm256_permutevar8x32_epi32(v, _mm256_setr_epi32(0, 1, 2, 0, 3, 4, 5, 0));
        v = _mm256_shuffle_epi8(v, groups);
        // The four sextets of each word into its four bytes, by shifts done as multiplications.
        const __m256i s02 =
            _mm256_mulhi_epu16(_mm256_and_si256(v, _mm256_set1_epi32(0x0FC0FC00)), _mm256_set1_epi32(0x04000040));
        const __m256i s13 =
            _mm256_mullo_epi16(_mm256_and_si256(v, _mm256_set1_epi32(0x003F03F0)), _mm256_set1_epi32(0x01000010));
        const __m256i sextets = _mm256_or_si256(s02, s13);
        // Index 0 for 0..25, 1 for 26..51, 2..13 for 52..63.
        const __m256i index = _mm256_sub_epi8(_mm256_subs_epu8(sextets, _mm256_set1_epi8(51)),
                                              _mm256_cmpgt_epi8(sextets, _mm256_set1_epi8(25)));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out),
                            _mm256_add_epi8(sextets, _mm256_shuffle_epi8(offsets, index)));
    }
    return i;
}

// Decodes 32 characters a step into 24 bytes (writing 32) while `chars` allow; returns how many
// characters it decoded, stopping before a step with one outside the standard alphabet. A
// character is checked by its two nibbles: `lows` gives the classes of high nibble that a low
// nibble is valid in ('+' and '/' for 2, digits for 3, letters for 4 and 6, and for 5 and 7).
__attribute__((target("avx2"))) std::size_t DecodeAvx2(const unsigned char* in, std::size_t chars, unsigned char* out) {
    const __m256i lows = _mm256_setr_epi8(0x0A, 0x0E, 0x0E, 0x0E, 0x0E, 0x0E, 0x0E, 0x0E, 0x0E, 0x0E, 0x0C, 0x05, 0x04,
                                          0x04, 0x04, 0x05, 0x0A, 0x0E, 0x0E, 0x0E, 0x0E, 0x0E, 0x0E, 0x0E, 0x0E, 0x0E,
                                          0x0C, 0x05, 0x04, 0x04, 0x04, 0x05);
    const __m256i highs = _mm256_setr_epi8(0x10, 0x10, 0x01, 0x02, 0x04, 0x08, 0x04, 0x08, 0x10, 0x10, 0x10, 0x10, 0x10,
                                           0x10, 0x10, 0x10, 0x10, 0x10, 0x01, 0x02, 0x04, 0x08, 0x04, 0x08, 0x10, 0x10,
                                           0x10, 0x10, 0x10, 0x10, 0x10, 0x10);
    // Character to sextet by high nibble ('/' at 1, one below '+'): '+' + 19, '0' + 4, 'A' - 65, 'a' - 71.
    const __m256i offsets = _mm256_setr_epi8(0, 16, 19, 4, -65, -65, -71, -71, 0, 0, 0, 0, 0, 0, 0, 0, 0, 16, 19, 4,
                                             -65, -65, -71, -71, 0, 0, 0, 0, 0, 0, 0, 0);
    const __m256i nibble = _mm256_set1_epi8(0x0F);
    std::size_t i = 0;
    for (; i + 32 <= chars; i += 32, out += 24) {
        const __m256i c = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(in + i));
        const __m256i hi = _mm256_and_si256(_mm256_srli_epi32(c, 4), nibble);
        const __m256i classes =
            _mm256_and_si256(_mm256_shuffle_epi8(lows, _mm256_and_si256(c, nibble)), _mm256_shuffle_epi8(highs, hi));
        if (_mm256_movemask_epi8(_mm256_cmpeq_epi8(classes, _mm256_setzero_si256())) != 0) break;
        const __m256i slash = _mm256_cmpeq_epi8(c, _mm256_set1_epi8('/'));
        const __m256i sextets = _mm256_add_epi8(c, _mm256_shuffle_epi8(offsets, _mm256_add_epi8(hi, slash)));
        // s0 s1 s2 s3 of each word to its 24 bits, then three bytes a word, twelve a lane.
        const __m256i pairs = _mm256_maddubs_epi16(sextets, _mm256_set1_epi32(0x01400140));
        const __m256i words = _mm256_madd_epi16(pairs, _mm256_set1_epi32(0x00011000));
        const __m256i bytes =
            _mm256_shuffle_epi8(words, _mm256_setr_epi8(2, 1, 0, 6, 5, 4, 10, 9, 8, 14, 13, 12, -1, -1, -1, -1, 2, 1, 0,
                                                        6, 5, 4, 10, 9, 8, 14, 13, 12, -1, -1, -1, -1));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out),
                            _mm256_permutevar8x32_epi32(bytes, _mm256_setr_epi32(0, 1, 2, 4, 5, 6, 7, 7)));
    }
    return i;
}

bool HasAvx2() {
    return __builtin_cpu_supports("avx2") != 0;
}
#endif

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
    std::size_t i = 0;
#if defined(CRYPTUTIL_BASE64_AVX2)
    // Room for the 8 bytes each step writes past its 24: at least 12 characters follow it.
    if (full >= 44 && HasAvx2()) {
        i = DecodeAvx2(in, full - 12, o);
        o += i / 4 * 3;
    }
#endif
#if defined(CRYPTUTIL_BASE64_VECTORS)
    for (; i + 16 <= full && i + 16 < n; i += 16, o += 12) {  // at least one quad follows
        if (!Decode16(in + i, o)) return {};
    }
#endif
    for (; i < full; i += 4) {
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
#if defined(CRYPTUTIL_BASE64_AVX2)
    if (!url && len >= 32 && HasAvx2()) {
        i = EncodeAvx2(bytes, len, o);
        o += i / 3 * 4;
    }
#endif
#if defined(CRYPTUTIL_BASE64_VECTORS)
    if (!url) {
        for (; i + 16 <= len; i += 12, o += 16) Encode12(bytes + i, o);
        // The whole triples left (at most five) go the same way from a local copy, rather than
        // through the pair table, which short texts would mostly meet cold.
        while (len - i >= 3) {
            const std::size_t triples = (len - i) / 3 < 4 ? (len - i) / 3 : 4;
            unsigned char in[16] = {};
            std::memcpy(in, bytes + i, 3 * triples);
            char text[16];
            Encode12(in, text);
            std::memcpy(o, text, 4 * triples);
            i += 3 * triples;
            o += 4 * triples;
        }
    }
#endif
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
