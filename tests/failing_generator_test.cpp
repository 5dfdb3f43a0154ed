// A generator that refuses, in place of the crypto library's (this program's definition wins over
// the shared library's): GetRandomBytes never returns with the key unfilled.
#include <gtest/gtest.h>
#include <openssl/rand.h>

#include "cryptutil/util.h"

#if defined(OPENSSL_IS_BORINGSSL)
int RAND_bytes(uint8_t*, size_t) {
    return 0;
}
#else
int RAND_bytes(unsigned char*, int) {
    return 0;
}
#endif

namespace {

TEST(FailingGenerator, EndsTheProcessRatherThanReturnAnUnfilledKey) {
    for (const int size : {1, 16, 32}) {
        unsigned char key[32] = {};
        EXPECT_DEATH(GetRandomBytes(key, size), "random generator failed") << size;
    }
}

}  // namespace
