#include <benchmark/benchmark.h>

#include <cstdlib>
#include <string>

#if defined(__GLIBC__)
#include <malloc.h>
#endif

// A plain process by default, as users run the library. CRYPTUTIL_BENCH_PIN_HEAP=1 pins glibc's
// mmap and trim thresholds, keeping megabyte buffers on an untrimmed heap, for comparison.
int main(int argc, char** argv) {
#if defined(__GLIBC__)
    if (const char* pin = std::getenv("CRYPTUTIL_BENCH_PIN_HEAP"); pin != nullptr && std::string(pin) == "1") {
        mallopt(M_MMAP_THRESHOLD, 256 << 20);
        mallopt(M_TRIM_THRESHOLD, 512 << 20);
    }
#endif
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
