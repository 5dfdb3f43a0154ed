// Secrets in constant time. Code that handles private-key text or caller bytes that may be keys
// computes with masks rather than branches and table lookups, and marks the values it treats as
// public (lengths, tags, verdicts) with Declassify. A validation build (-DCRYPTUTIL_CONSTANT_TIME
// _VALIDATION) runs under valgrind with the secret inputs marked undefined: every branch or index
// that still depends on them is reported, as BoringSSL's CONSTTIME_SECRET checks do.
#ifndef CRYPTUTIL_SRC_CONSTANT_TIME_H
#define CRYPTUTIL_SRC_CONSTANT_TIME_H

#include <cstddef>

#if defined(CRYPTUTIL_CONSTANT_TIME_VALIDATION)
#include <valgrind/memcheck.h>
#endif

namespace cryptutil::detail {

// Marks n bytes at p as public: from here on, they may decide branches.
inline void Declassify(const void* p, std::size_t n) noexcept {
#if defined(CRYPTUTIL_CONSTANT_TIME_VALIDATION)
    VALGRIND_MAKE_MEM_DEFINED(p, n);
#else
    static_cast<void>(p);
    static_cast<void>(n);
#endif
}

template <typename T>
T Declassified(T value) noexcept {
    Declassify(&value, sizeof value);
    return value;
}

// Hides a value from the optimiser, so that mask arithmetic on it is not turned into branches.
template <typename T>
T Barrier(T value) noexcept {
    __asm__("" : "+r"(value));
    return value;
}

// All ones when lo <= c <= hi, else 0, for c, lo, hi below 2^31; no branch.
inline unsigned InRange(unsigned c, unsigned lo, unsigned hi) noexcept {
    return (((Barrier(c) - lo) | (hi - c)) >> 31) - 1U;
}

// All ones when a == b, else 0, for values below 2^31; no branch.
inline unsigned Equal(unsigned a, unsigned b) noexcept {
    return InRange(a, b, b);
}

}  // namespace cryptutil::detail

#endif
