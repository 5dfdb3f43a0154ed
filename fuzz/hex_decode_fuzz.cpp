// OPENSSL_buf2hexstr throws exactly for odd lengths and non-hex characters; otherwise encoding
// its result gives the input in lowercase.
#include <cctype>
#include <cstdint>
#include <stdexcept>
#include <string>

#include "cryptutil/util.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string input = fuzz::Bytes(data, size);
    bool allHex = true;
    for (const char c : input) allHex = allHex && std::isxdigit(static_cast<unsigned char>(c)) != 0;
    try {
        const std::string bytes = OPENSSL_buf2hexstr(input);
        FUZZ_CHECK(size % 2 == 0 && allHex);
        std::string lower = input;
        for (auto& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        FUZZ_CHECK(OPENSSL_hexstr2buf(bytes) == lower);
    } catch (const std::runtime_error&) {
        FUZZ_CHECK(size % 2 != 0 || !allHex);
    }
    return 0;
}
