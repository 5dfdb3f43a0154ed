// Who owns what: one deleter for the crypto library's objects and the components' records, one
// wipe, a guard that wipes a scratch string, and an appender of plaintext to an output.
#ifndef CRYPTUTIL_SRC_OWNERS_H
#define CRYPTUTIL_SRC_OWNERS_H

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <memory>
#include <string>

namespace cryptutil::detail {

// An object freed by `Free`, as BoringSSL's bssl::UniquePtr frees its objects.
template <auto Free>
struct Deleter {
    template <typename T>
    void operator()(T* p) const noexcept {
        Free(p);
    }
};
template <typename T, auto Free>
using Owned = std::unique_ptr<T, Deleter<Free>>;

// Zeroes memory through a pointer the compiler cannot see through, so the store is never dropped
// as dead (OpenSSL's portable OPENSSL_cleanse does the same).
inline void Wipe(void* p, std::size_t n) noexcept {
    static void* (*const volatile zero)(void*, int, std::size_t) = std::memset;
    if (n != 0) zero(p, 0, n);
}

// Wipes all a string's buffer holds, to its capacity, and empties it.
inline void WipeWhole(std::string& s) noexcept {
    s.resize(s.capacity());  // within capacity: no allocation
    Wipe(s.data(), s.size());
    s.clear();
}

// Wipes a string up to its capacity when it goes: a by-value parameter or a scratch buffer that
// held plaintext or key material.
class WipeOnExit {
public:
    explicit WipeOnExit(std::string& s) noexcept : s_(s) {}
    ~WipeOnExit() { WipeWhole(s_); }
    WipeOnExit(const WipeOnExit&) = delete;
    WipeOnExit& operator=(const WipeOnExit&) = delete;

private:
    std::string& s_;
};

// Appends plaintext to a string that may be the caller's, which keeps its content and its buffer
// unless committed. Past the string's capacity it works in a new buffer, which takes the string's
// place on Commit. All it wrote and does not keep, and any buffer it leaves, is wiped.
class SecretAppender {
public:
    explicit SecretAppender(std::string& s) noexcept : caller_(s), base_(s.size()), written_(s.size()) {}
    ~SecretAppender() {
        if (!committed_) caller_.resize(base_);
        const std::size_t size = caller_.size();
        const std::size_t written = std::min(inGrown_ ? callerWritten_ : written_, caller_.capacity());
        if (written > size) {
            caller_.resize(written);  // within capacity
            Wipe(caller_.data() + size, written - size);
            caller_.resize(size);
        }
        WipeWhole(grown_);
    }
    SecretAppender(const SecretAppender&) = delete;
    SecretAppender& operator=(const SecretAppender&) = delete;

    std::size_t size() const noexcept { return Target().size(); }
    char* data() noexcept { return Target().data(); }

    // Room for `n` bytes in all.
    void Reserve(std::size_t n) {
        if (n <= Target().capacity()) return;
        std::string next;
        next.reserve(std::max(n, 2 * Target().capacity()));
        next = Target();
        if (!inGrown_) callerWritten_ = written_;
        grown_.swap(next);
        WipeWhole(next);  // the buffer grown before, if any
        inGrown_ = true;
        written_ = grown_.size();
    }
    // Makes the string `n` bytes longer and returns where they start (to be written).
    char* Extend(std::size_t n) {
        Reserve(size() + n);
        Target().resize(size() + n);
        written_ = std::max(written_, size());
        return data() + size() - n;
    }
    void Append(const void* p, std::size_t n) {
        if (n != 0) std::memcpy(Extend(n), p, n);
    }
    void Truncate(std::size_t n) noexcept { Target().resize(std::min(n, size())); }
    // What the string holds now stays.
    void Commit() noexcept {
        committed_ = true;
        if (!inGrown_) return;
        caller_.swap(grown_);  // the caller's old buffer is wiped with grown_
        inGrown_ = false;
    }

private:
    std::string& Target() noexcept { return inGrown_ ? grown_ : caller_; }
    const std::string& Target() const noexcept { return inGrown_ ? grown_ : caller_; }
    std::string& caller_;
    std::string grown_;              // the string's content and what was appended, once past its capacity
    const std::size_t base_;         // the caller's bytes, which stay
    std::size_t written_;            // bytes up to here of the buffer in use may hold what was written
    std::size_t callerWritten_ = 0;  // and of the caller's, once left for a new one
    bool inGrown_ = false, committed_ = false;
};

}  // namespace cryptutil::detail

#endif
