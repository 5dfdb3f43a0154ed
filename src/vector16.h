// 16 bytes at a time through GCC and Clang vector extensions: SSE2 or NEON code alike, and plain
// scalar code where there is no vector unit.
#ifndef CRYPTUTIL_SRC_VECTOR16_H
#define CRYPTUTIL_SRC_VECTOR16_H

#include <cstdint>
#include <cstring>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace cryptutil::detail {

using Bytes16 = unsigned char __attribute__((vector_size(16)));
using Signed16 = signed char __attribute__((vector_size(16)));

inline Bytes16 Load16(const void* p) {
    Bytes16 v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

inline void Store16(void* p, Bytes16 v) {
    std::memcpy(p, &v, sizeof v);
}

// Bit k set where lane k (0 or 0xFF) is set.
template <typename Lanes>
std::uint32_t Bits(Lanes lanes) {
#if defined(__SSE2__)
    return static_cast<std::uint32_t>(_mm_movemask_epi8(reinterpret_cast<__m128i>(lanes)));
#else
    std::uint64_t half[2];
    std::memcpy(half, &lanes, sizeof half);
#if __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
    half[0] = __builtin_bswap64(half[0]);  // lane 0 to the low byte, as on little-endian targets
    half[1] = __builtin_bswap64(half[1]);
#endif
    // The top bit of each lane gathered into the top byte, one multiplication per half.
    constexpr std::uint64_t kTopBits = 0x8080808080808080ULL, kGather = 0x0002040810204081ULL;
    return static_cast<std::uint32_t>(((half[0] & kTopBits) * kGather) >> 56) |
           static_cast<std::uint32_t>(((half[1] & kTopBits) * kGather) >> 56) << 8;
#endif
}

// Whether any lane is set.
template <typename Lanes>
bool AnyLane(Lanes lanes) {
    std::uint64_t half[2];
    std::memcpy(half, &lanes, sizeof half);
    return (half[0] | half[1]) != 0;
}

// All ones in the lanes of v in [lo, lo + k): moved to [-128, -128 + k), one signed comparison.
inline Bytes16 LanesInRange(Bytes16 v, unsigned char lo, int k) {
    const auto moved = reinterpret_cast<Signed16>(v + static_cast<unsigned char>(0x80 - lo));
    return reinterpret_cast<Bytes16>(moved < static_cast<signed char>(k - 128));
}

// Bit k set where character k of the 32 at s is c.
inline std::uint32_t Find32(const char* s, char c) {
    const auto b = static_cast<unsigned char>(c);
    return Bits(Load16(s) == b) | Bits(Load16(s + 16) == b) << 16;
}

// The position of the lowest bit of m, or 32 when there is none; no branch.
inline unsigned Lowest(std::uint32_t m) {
    return static_cast<unsigned>(__builtin_ctzll(std::uint64_t{m} | std::uint64_t{1} << 32));
}

}  // namespace cryptutil::detail

#endif
