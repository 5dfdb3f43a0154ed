// Transport text: standard base64, then URL-escaped. Every producer and reader of the wire form
// goes through the two functions at the bottom.
#ifndef CRYPTUTIL_SRC_TRANSPORT_TEXT_H
#define CRYPTUTIL_SRC_TRANSPORT_TEXT_H

#include <cstddef>
#include <string>
#include <string_view>

namespace cryptutil::detail {

// Escapes up to the first NUL: space + CR LF ' , ; as %XX, bytes >= 0x80 as %XX (uppercase hex);
// everything else, '%' included, passes unchanged.
std::string UrlEscape(std::string_view s);

// Undoes %XX (either case) and %uXXXX (as UTF-8; surrogates vanish). A '%' that starts no valid
// escape stays as it is; '+' stays '+'.
std::string UrlUnescape(std::string_view s);

std::string ToTransportText(const unsigned char* bytes, std::size_t n);

// The bytes behind transport text; empty when the text is not valid base64 once unescaped.
std::string FromTransportText(const std::string& text);

}  // namespace cryptutil::detail

#endif
