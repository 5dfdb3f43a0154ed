// Transport text: standard base64, then URL-escaped. One writer and one reader, each pushed a
// piece at a time, serve every producer and reader of the wire form.
#ifndef CRYPTUTIL_SRC_TRANSPORT_TEXT_H
#define CRYPTUTIL_SRC_TRANSPORT_TEXT_H

#include <cstddef>
#include <string>
#include <string_view>

namespace cryptutil::detail {

// Bytes per piece: whole base64 quads (a multiple of 3), AES blocks and padding blocks (of 32), so
// that messages are enciphered, encoded and escaped a piece at a time while in cache. Fuzz builds
// choose a small one, so that short inputs cross piece seams.
#if defined(CRYPTUTIL_PIECE_BYTES)
inline constexpr std::size_t kPieceBytes = CRYPTUTIL_PIECE_BYTES;
#else
inline constexpr std::size_t kPieceBytes = 12288;
#endif
static_assert(kPieceBytes % 96 == 0, "a piece is whole base64 quads and whole padding blocks");
inline constexpr std::size_t kPieceChars = kPieceBytes / 3 * 4;

// Appends the escaped form of `s`, base64 text without its padding, to `text`: '+' as %2B. Returns
// false, `text` as it was, when `s` holds a character outside base64's alphabet. Example:
// "ab+/cd" gives "ab%2B/cd".
bool AppendEscaped(std::string_view s, std::string& text);

// Unescapes s[r, n) onto `out` and returns the position reached: %XX (either case) as its byte,
// %uXXXX as UTF-8 (a surrogate as nothing), any other '%' as it is. Unless `last`, it stops at a
// '%' in the last five characters, which more text could change. Example: "ab%2B/cd==" gives
// "ab+/cd==".
std::size_t Unescape(const char* s, std::size_t n, std::size_t r, bool last, std::string& out);

// Appends the transport text of n bytes to `text`. The texts of pieces of a multiple of 3 bytes,
// followed by a last piece of any length, are the text of all their bytes. Returns false, `text` as
// it was, when the codec's text is not base64 of n bytes (its length, alphabet or padding).
bool AppendTransportText(const unsigned char* bytes, std::size_t n, std::string& text);

// Reads transport text handed over in chunks of any size, as the whole text reads.
class TransportTextReader {
public:
    // Appends to `bytes` those behind the next `n` characters that are certain; false, for good,
    // once the text is found not to be base64 when unescaped.
    bool Add(const char* text, std::size_t n, std::string& bytes) { return Read(text, n, false, bytes); }
    // Ends the text and appends its last bytes; false if it was not transport text.
    bool Finish(std::string& bytes) { return Read(nullptr, 0, true, bytes); }

private:
    bool Read(const char* text, std::size_t n, bool last, std::string& bytes);
    bool Decode(bool last, std::string& bytes);
    std::string quads_;        // unescaped characters not yet decoded
    char openEscape_[5] = {};  // the last characters so far, from a '%' that more text could change
    std::size_t openEscapeLen_ = 0;
    bool padded_ = false, failed_ = false;
};

// Room for the transport text of `n` random bytes, with a margin wide enough that the writer never
// moves what it has written.
std::size_t TextRoom(std::size_t n);

// Replaces `text` with the transport text of n bytes; false, `text` untouched, as above.
bool ToTransportText(const unsigned char* bytes, std::size_t n, std::string& text);
// All the bytes behind `text`; false when it is not transport text.
bool FromTransportText(std::string_view text, std::string& bytes);

}  // namespace cryptutil::detail

#endif
