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

// Wipes a string up to its capacity when it goes: a by-value parameter or a scratch buffer that
// held plaintext or key material.
class WipeOnExit {
public:
    explicit WipeOnExit(std::string& s) noexcept : s_(s) {}
    ~WipeOnExit() {
        s_.resize(s_.capacity());  // within capacity: no allocation
        Wipe(s_.data(), s_.size());
        s_.clear();
    }
    WipeOnExit(const WipeOnExit&) = delete;
    WipeOnExit& operator=(const WipeOnExit&) = delete;

private:
    std::string& s_;
};

// Appends plaintext to a string that may be the caller's. It grows the string only into a new
// buffer, wiping the one it leaves. Unless committed, what it appended is wiped and cut off when it
// goes; committed or not, what it wrote past the final size is wiped.
class SecretAppender {
public:
    explicit SecretAppender(std::string& s) noexcept : s_(s), base_(s.size()), written_(s.size()) {}
    ~SecretAppender() {
        if (!committed_) s_.resize(base_);
        const std::size_t size = s_.size(), written = std::min(written_, s_.capacity());
        if (written <= size) return;
        s_.resize(written);  // within capacity
        Wipe(s_.data() + size, written - size);
        s_.resize(size);
    }
    SecretAppender(const SecretAppender&) = delete;
    SecretAppender& operator=(const SecretAppender&) = delete;

    std::size_t size() const noexcept { return s_.size(); }
    char* data() noexcept { return s_.data(); }

    // Room for `n` bytes in all.
    void Reserve(std::size_t n) {
        if (n <= s_.capacity()) return;
        std::string grown;
        grown.reserve(std::max(n, 2 * s_.capacity()));
        grown = s_;
        s_.swap(grown);
        written_ = s_.size();
        grown.resize(grown.capacity());
        Wipe(grown.data(), grown.size());
    }
    // Makes the string `n` bytes longer and returns where they start (to be written).
    char* Extend(std::size_t n) {
        Reserve(s_.size() + n);
        s_.resize(s_.size() + n);
        written_ = std::max(written_, s_.size());
        return s_.data() + s_.size() - n;
    }
    void Append(const void* p, std::size_t n) {
        if (n != 0) std::memcpy(Extend(n), p, n);
    }
    void Truncate(std::size_t n) noexcept { s_.resize(std::min(n, s_.size())); }
    // What the string holds now stays.
    void Commit() noexcept { committed_ = true; }

private:
    std::string& s_;
    const std::size_t base_;  // the caller's bytes, which stay
    std::size_t written_;     // bytes up to here may hold what this appender wrote
    bool committed_ = false;
};

}  // namespace cryptutil::detail

#endif
