// Base64 codec (RFC 4648).
#ifndef CRYPTUTIL_BASE64_H
#define CRYPTUTIL_BASE64_H

#include <cstddef>
#include <string>

// Encodes `len` bytes at `bytes` as base64 text with '=' padding.
// url == false: the standard alphabet (RFC 4648 section 4).
// url == true:  the URL-safe alphabet, '-' and '_' for '+' and '/' (section 5), still padded.
// Zero bytes give the empty string.
std::string base64_encode(unsigned char const* bytes, std::size_t len, bool url);

// Decodes base64 text in the standard alphabet. Never throws for bad input: text whose length
// is not a multiple of 4, that holds a character outside the alphabet, or '=' anywhere but the
// last one or two places decodes to the empty string.
// remove_linebreaks == true: CR and LF characters are skipped first (MIME-style wrapped text).
std::string base64_decode(std::string const& s, bool remove_linebreaks);

#endif
