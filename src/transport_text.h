// Transport text: standard base64, then URL-escaped. Every producer and reader of the wire form
// goes through ToTransportText / FromTransportText.
#ifndef CRYPTUTIL_SRC_TRANSPORT_TEXT_H
#define CRYPTUTIL_SRC_TRANSPORT_TEXT_H

#include <cstddef>
#include <string>
#include <string_view>
#include <utility>

namespace cryptutil::detail {

// Escapes up to the first NUL: space + CR LF ' , ; as %XX, bytes >= 0x80 as %XX (uppercase hex);
// everything else, '%' included, passes unchanged.
std::string UrlEscape(std::string_view s);

// Undoes %XX (either case) and %uXXXX (as UTF-8; surrogates vanish). A '%' that starts no valid
// escape stays as it is; '+' stays '+'. The in-place form never grows the string.
std::string UrlUnescape(std::string_view s);
void UrlUnescapeInPlace(std::string& s);

// The base64 text of the bytes (the codec's standard alphabet).
std::string Base64Text(const unsigned char* bytes, std::size_t n);

// Escapes `text` (as UrlEscape) into `out`, replacing its content: in `out`'s own buffer when its
// capacity suffices, else in `text`'s, grown once. Strong guarantee: `out` is untouched if this
// throws.
void EscapeInto(std::string&& text, std::string& out);

// Replaces `out` with the transport text of the bytes. `releaseBytes()` runs once the bytes have
// been read and before the text grows for its escapes, so that a caller's working buffer is gone
// by the time memory use peaks.
template <typename Release>
void ToTransportText(const unsigned char* bytes, std::size_t n, std::string& out, Release&& releaseBytes) {
    std::string text = Base64Text(bytes, n);
    std::forward<Release>(releaseBytes)();
    EscapeInto(std::move(text), out);
}

inline std::string ToTransportText(const unsigned char* bytes, std::size_t n) {
    std::string out;
    ToTransportText(bytes, n, out, [] {});
    return out;
}

// The bytes behind transport text; empty when the text is not valid base64 once unescaped.
// The rvalue form unescapes in the text's own buffer and releases it before returning.
std::string FromTransportText(std::string&& text);
std::string FromTransportText(const std::string& text);

}  // namespace cryptutil::detail

#endif
