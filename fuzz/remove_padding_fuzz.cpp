// removePadding either refuses or strips exactly n trailing bytes of value n; addPadding with the
// first byte as block size pads to a multiple of it, and removing that padding restores the data.
#include <cstdint>
#include <cstring>

#include "cryptutil/PKCS7.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (PKCS7_unPadding* r = removePadding(data, size)) {
        const std::size_t n = data[size - 1];
        FUZZ_CHECK(n >= 1 && n <= size && r->dataLengthWithoutPadding == size - n);
        for (std::size_t i = size - n; i < size; ++i) FUZZ_CHECK(data[i] == n);
        FUZZ_CHECK(std::memcmp(r->dataWithoutPadding, data, size - n) == 0);
        freeUnPaddingResult(r);
    }
    if (size == 0) return 0;
    const std::uint8_t block = data[0];
    PKCS7_Padding* p = addPadding(data + 1, size - 1, block);
    if (block == 0) {
        FUZZ_CHECK(p == nullptr);
        return 0;
    }
    FUZZ_CHECK(p != nullptr && p->dataLengthWithPadding % block == 0 && p->dataLengthWithPadding > size - 1);
    PKCS7_unPadding* back = removePadding(p->dataWithPadding, p->dataLengthWithPadding);
    FUZZ_CHECK(back != nullptr && back->dataLengthWithoutPadding == size - 1);
    FUZZ_CHECK(std::memcmp(back->dataWithoutPadding, data + 1, size - 1) == 0);
    freeUnPaddingResult(back);
    freePaddingResult(p);
    return 0;
}
