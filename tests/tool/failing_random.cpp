// A random generator that always fails, preloaded into the tool: keygen and demo must say so and
// exit 2 rather than print a key. (BoringSSL's count is a size_t; the result is all that matters.)
extern "C" __attribute__((visibility("default"))) int RAND_bytes(unsigned char* /*buf*/, int /*num*/) {
    return 0;
}
