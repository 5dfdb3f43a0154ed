// Counts the bytes this process holds on the heap, for peak-memory figures: glibc lets an
// executable replace malloc and friends, and these forward to glibc's own after counting.
#ifndef CRYPTUTIL_BENCH_HEAP_COUNTER_H
#define CRYPTUTIL_BENCH_HEAP_COUNTER_H

#include <cstddef>
#include <functional>

namespace heap {

// Bytes in use relative to the start of the call: the most at any moment, and at its end (less
// than zero when the call freed more than it kept, a moved-in argument say).
struct Use {
    long long peak = 0, after = 0;
};

// Runs `call` with counting on.
Use Measure(const std::function<void()>& call);

}  // namespace heap

#endif
