// What every public function does at its edge. A host may use OpenSSL itself (TLS on the same
// thread reads the error queue to classify its own failures), and may call through C or JNI,
// where an exception aborts the app. So each public function with a failure result runs its body
// inside Guarded(): entries OpenSSL pushes meanwhile are popped again, the host's own entries
// stay, and any exception from inside (memory exhausted, or whatever a host's component throws)
// becomes the function's failure result.
#ifndef CRYPTUTIL_SRC_API_BOUNDARY_H
#define CRYPTUTIL_SRC_API_BOUNDARY_H

#include <openssl/err.h>

#include <cstddef>
#include <cstring>
#include <string>
#include <utility>

namespace cryptutil::detail {

class ErrorQueueMark {
public:
    ErrorQueueMark() noexcept { ERR_set_mark(); }
    ~ErrorQueueMark() { ERR_pop_to_mark(); }
    ErrorQueueMark(const ErrorQueueMark&) = delete;
    ErrorQueueMark& operator=(const ErrorQueueMark&) = delete;
};

// Runs `body`; returns its result, or `onFailure` if it throws anything.
template <typename Result, typename Body>
Result Guarded(Result onFailure, Body&& body) noexcept {
    const ErrorQueueMark mark;
    try {
        return std::forward<Body>(body)();
    } catch (...) {
        return onFailure;
    }
}

// Runs `body` with the error queue restored afterwards; what it throws passes on (the functions
// without a failure result report running out of memory by std::bad_alloc).
template <typename Body>
void Marked(Body&& body) {
    const ErrorQueueMark mark;
    std::forward<Body>(body)();
}

// Zeroes memory through a pointer the compiler cannot see through, so the store is never dropped
// as dead (OpenSSL's portable OPENSSL_cleanse does the same; its x86-64 one is 3x slower here).
inline void Wipe(void* p, std::size_t n) noexcept {
    static void* (*const volatile zero)(void*, int, std::size_t) = std::memset;
    if (n != 0) zero(p, 0, n);
}

// Wipes a string that held plaintext, a secret or key material when the scope ends, on every
// path. Growing to the capacity first zeroes what a shorter size would leave out of reach.
class WipeOnExit {
public:
    explicit WipeOnExit(std::string& s) noexcept : s_(s) {}
    ~WipeOnExit() {
        s_.resize(s_.capacity());  // within capacity: never allocates
        Wipe(s_.data(), s_.size());
    }
    WipeOnExit(const WipeOnExit&) = delete;
    WipeOnExit& operator=(const WipeOnExit&) = delete;

private:
    std::string& s_;
};

}  // namespace cryptutil::detail

#endif
