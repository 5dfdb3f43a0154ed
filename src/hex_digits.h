// Hex digit tables shared by the hex codecs and the URL escaping.
#ifndef CRYPTUTIL_SRC_HEX_DIGITS_H
#define CRYPTUTIL_SRC_HEX_DIGITS_H

#include <array>
#include <cstdint>

namespace cryptutil::detail {

// The value of a hex digit of either case, 0xFF for any other byte (so a high nibble marks it).
inline constexpr std::array<std::uint8_t, 256> kHexDigitValue = [] {
    std::array<std::uint8_t, 256> t{};
    for (auto& v : t) v = 0xFF;
    for (std::uint8_t i = 0; i < 10; ++i) t['0' + i] = i;
    for (std::uint8_t i = 0; i < 6; ++i) {
        t['a' + i] = static_cast<std::uint8_t>(10 + i);
        t['A' + i] = static_cast<std::uint8_t>(10 + i);
    }
    return t;
}();

}  // namespace cryptutil::detail

#endif
