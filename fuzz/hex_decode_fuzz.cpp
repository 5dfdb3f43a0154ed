// OPENSSL_buf2hexstr throws exactly for odd lengths and non-hex characters, its message naming
// the length or the first such character (printable ones as themselves, others as a byte);
// otherwise encoding its result gives the input in lowercase.
#include <cctype>
#include <cstdint>
#include <cstdio>
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
    } catch (const std::runtime_error& e) {
        FUZZ_CHECK(size % 2 != 0 || !allHex);
        std::string expected = "String is not valid length ...";
        if (size % 2 == 0) {
            std::size_t at = 0;
            while (std::isxdigit(data[at]) != 0) ++at;
            char what[96];
            std::snprintf(what, sizeof what,
                          data[at] > 0x20 && data[at] < 0x7F ? "String is not valid hex: '%c' at index %zu"
                                                             : "String is not valid hex: byte 0x%02X at index %zu",
                          data[at], at);
            expected = what;
        }
        FUZZ_CHECK(e.what() == expected);
    }
    return 0;
}
