// Hex digits read one way, by arithmetic, for the hex codecs and the unescaping of transport text:
// no branch or table lookup on the character, which may be a key's.
#ifndef CRYPTUTIL_SRC_HEX_DIGITS_H
#define CRYPTUTIL_SRC_HEX_DIGITS_H

#include "constant_time.h"

namespace cryptutil::detail {

// The value of a hex digit of either case; `bad` gets all ones for anything else.
inline unsigned HexValue(unsigned c, unsigned& bad) {
    const unsigned digit = InRange(c, '0', '9'), letter = InRange(c | 0x20, 'a', 'f');
    bad |= ~(digit | letter);
    return (digit & (c - '0')) | (letter & ((c | 0x20) - 87));
}

// The value of a hex digit of either case, or 0xF0 and more for anything else.
inline unsigned HexValue(unsigned c) {
    unsigned bad = 0;
    const unsigned value = HexValue(c, bad);
    return value | (bad & 0xF0);
}

}  // namespace cryptutil::detail

#endif
