#include "heap_counter.h"

#include <malloc.h>

#include <atomic>
#include <cstring>

extern "C" {
void* __libc_malloc(std::size_t n);
void* __libc_calloc(std::size_t n, std::size_t size);
void* __libc_realloc(void* p, std::size_t n);
void __libc_free(void* p);
}

namespace {
std::atomic<bool> counting{false};
std::atomic<std::size_t> live{0}, peak{0};

void Add(void* p) {
    if (p == nullptr || !counting) return;
    const std::size_t now = live += malloc_usable_size(p);
    if (now > peak) peak = now;
}
void Remove(void* p) {
    if (p != nullptr && counting) live -= malloc_usable_size(p);
}
}  // namespace

extern "C" void* malloc(std::size_t n) noexcept {
    void* p = __libc_malloc(n);
    Add(p);
    return p;
}
extern "C" void* calloc(std::size_t n, std::size_t size) noexcept {
    void* p = __libc_calloc(n, size);
    Add(p);
    return p;
}
extern "C" void* realloc(void* p, std::size_t n) noexcept {
    Remove(p);
    void* q = __libc_realloc(p, n);
    Add(q != nullptr ? q : p);
    return q;
}
extern "C" void free(void* p) noexcept {
    Remove(p);
    __libc_free(p);
}

namespace heap {

// Blocks allocated before counting started and freed during it would make `live` go below zero,
// so every figure is taken relative to an offset large enough that it cannot.
Use Measure(const std::function<void()>& call) {
    constexpr std::size_t kOffset = std::size_t{1} << 40;
    live = kOffset;
    peak = kOffset;
    counting = true;
    call();
    counting = false;
    return {static_cast<long long>(peak.load()) - static_cast<long long>(kOffset),
            static_cast<long long>(live.load()) - static_cast<long long>(kOffset)};
}

}  // namespace heap
