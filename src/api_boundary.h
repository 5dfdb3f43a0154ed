// What every public function does at its edge. A host may use OpenSSL itself (TLS on the same
// thread reads the error queue to classify its own failures), and may call through C or JNI,
// where an exception aborts the app. So each public function with a failure result runs its body
// inside Guarded(): entries OpenSSL pushes meanwhile are popped again, the host's own entries
// stay, and any exception from inside (memory exhausted, or whatever a host's component throws)
// becomes the function's failure result.
#ifndef CRYPTUTIL_SRC_API_BOUNDARY_H
#define CRYPTUTIL_SRC_API_BOUNDARY_H

#include <openssl/err.h>

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
void KeepingErrorQueue(Body&& body) {
    const ErrorQueueMark mark;
    std::forward<Body>(body)();
}

}  // namespace cryptutil::detail

#endif
