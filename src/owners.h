// Who owns what: one deleter for the crypto library's objects and the components' records, one
// wipe, and one owner for bytes that are plaintext or key material.
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

// The one owner of a string that holds plaintext or key material, which may be the caller's: it
// grows the string only into a new buffer, wiping the one it leaves; what it adds is wiped and
// cut off again unless kept; and bytes it wrote beyond the final size are wiped when it goes.
class SecretString {
public:
    // Takes all of `s` (a by-value parameter, a scratch buffer): wiped up to its capacity at the end.
    explicit SecretString(std::string& s) noexcept : s_(s), keep_(0), dirty_(kAll) {}
    // Appends to `s`, whose first `keep` bytes are the caller's and stay.
    SecretString(std::string& s, std::size_t keep) noexcept : s_(s), keep_(keep), dirty_(s.size()) {}
    ~SecretString() {
        if (!kept_) s_.resize(std::min(keep_, s_.size()));
        const std::size_t size = s_.size(), dirty = std::min(dirty_, s_.capacity());
        if (dirty <= size) return;
        s_.resize(dirty);  // within capacity
        Wipe(s_.data() + size, dirty - size);
        s_.resize(size);
    }
    SecretString(const SecretString&) = delete;
    SecretString& operator=(const SecretString&) = delete;

    std::size_t size() const noexcept { return s_.size(); }
    char* data() noexcept { return s_.data(); }

    // Room for `n` bytes in all.
    void Reserve(std::size_t n) {
        if (n <= s_.capacity()) return;
        std::string grown;
        grown.reserve(std::max(n, 2 * s_.capacity()));
        grown = s_;
        s_.swap(grown);
        if (dirty_ != kAll) dirty_ = s_.size();
        grown.resize(grown.capacity());
        Wipe(grown.data(), grown.size());
    }
    // Makes the string `n` bytes longer and returns where they start (to be written).
    char* Extend(std::size_t n) {
        Reserve(s_.size() + n);
        s_.resize(s_.size() + n);
        dirty_ = std::max(dirty_, s_.size());
        return s_.data() + s_.size() - n;
    }
    void Append(const void* p, std::size_t n) {
        if (n != 0) std::memcpy(Extend(n), p, n);
    }
    void Truncate(std::size_t n) noexcept { s_.resize(std::min(n, s_.size())); }
    // What the string holds now stays.
    void Keep() noexcept { kept_ = true; }

private:
    static constexpr std::size_t kAll = ~std::size_t{0};
    std::string& s_;
    std::size_t keep_, dirty_;  // bytes from keep_ to dirty_ may hold what this owner wrote
    bool kept_ = false;
};

}  // namespace cryptutil::detail

#endif
