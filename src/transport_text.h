// Transport text: standard base64, then URL-escaped. Every producer and reader of the wire form
// goes through ToTransportText / FromTransportText.
//
// Long texts are made and read a piece at a time (kPieceBytes bytes per codec call), so that a
// producer's bytes are encoded and escaped while still in cache, and a reader's bytes reach their
// consumer the same way; no copy of the whole text or of all the bytes is ever made on the side.
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

// Bytes per piece: whole base64 quads (a multiple of 3) and whole AES blocks (of 16). Fuzz builds
// choose a small one, so that inputs of a few hundred bytes cross piece seams.
#if defined(CRYPTUTIL_PIECE_BYTES)
inline constexpr std::size_t kPieceBytes = CRYPTUTIL_PIECE_BYTES;
#else
inline constexpr std::size_t kPieceBytes = 12288;
#endif
static_assert(kPieceBytes % 48 == 0, "a piece is whole base64 quads and whole AES blocks");

// Builds the transport text of `total` bytes handed over in pieces.
class TransportTextWriter {
public:
    // `out` receives the text in Finish(); until then it is not touched, unless the text is a
    // single piece that fits its capacity, in which case it is written there once nothing can fail.
    TransportTextWriter(std::size_t total, std::string& out);
    // The base64 text of the next `n` bytes: kPieceBytes of them, or all that are left.
    static std::string Encode(const unsigned char* bytes, std::size_t n);
    // Adds the escaped form of the next piece of text.
    void Add(const std::string& piece);
    // Replaces `out`'s content with the text.
    void Finish() noexcept;

private:
    std::size_t total_;
    std::string& out_;
    std::string text_;
    std::string* dst_ = &text_;
    std::size_t read_ = 0, escapes_ = 0;  // characters of base64 text so far, and escapes among them
};

// Replaces `out` with the transport text of `total` bytes, produced piece by piece:
// `produce(offset, n)` returns the bytes [offset, offset + n) (valid until its next call), or
// nullptr to give up, in which case the result is false and `out` is untouched. `release()` runs
// once the last bytes are encoded, before their text is escaped into the output: for a text of
// one piece the producer's buffer is gone before the output is allocated. Strong guarantee if
// anything throws.
template <typename Produce, typename Release>
bool ToTransportText(std::size_t total, std::string& out, Produce&& produce, Release&& release) {
    TransportTextWriter writer(total, out);
    for (std::size_t offset = 0; offset < total; offset += kPieceBytes) {
        const std::size_t n = total - offset < kPieceBytes ? total - offset : kPieceBytes;
        const unsigned char* bytes = produce(offset, n);
        if (bytes == nullptr) return false;
        const std::string piece = TransportTextWriter::Encode(bytes, n);
        if (offset + n == total) release();
        writer.Add(piece);
    }
    writer.Finish();
    return true;
}

inline void ToTransportText(const unsigned char* bytes, std::size_t n, std::string& out) {
    ToTransportText(
        n, out, [bytes](std::size_t offset, std::size_t) { return bytes + offset; }, [] {});
}

inline std::string ToTransportText(const unsigned char* bytes, std::size_t n) {
    std::string out;
    ToTransportText(bytes, n, out);
    return out;
}

// Reads the bytes behind transport text a piece at a time.
class TransportTextReader {
public:
    explicit TransportTextReader(std::string_view text);
    // Takes the text over: one piece's worth is unescaped and decoded in its own buffer.
    explicit TransportTextReader(std::string&& text);
    TransportTextReader(const TransportTextReader&) = delete;  // holds views of its own text
    TransportTextReader& operator=(const TransportTextReader&) = delete;
    // Replaces `bytes` with the next piece (kPieceBytes, or what is left) and returns true; false
    // once the text is used up or found not to be base64 once unescaped (then Failed()).
    bool Next(std::string& bytes);
    bool Failed() const noexcept { return failed_; }
    // Whether the piece Next() last returned was the last.
    bool Done() const noexcept { return done_; }
    // No text decodes to more bytes than this.
    static std::size_t MaxBytes(std::string_view text) noexcept { return text.size() / 4 * 3; }

private:
    std::string owned_;
    std::string_view text_;
    std::size_t read_ = 0;     // of text_
    std::string unescaped_;    // the next piece's characters, and a few beyond
    std::size_t pending_ = 0;  // characters in unescaped_ not yet decoded
    bool done_ = false, failed_ = false;
};

// Hands the bytes behind transport text to `consume(const std::string& piece)`, in order; false
// if the text is not valid base64 once unescaped (earlier pieces may have been consumed by then)
// or if `consume` returns false.
template <typename Consume>
bool FromTransportText(std::string_view text, Consume&& consume) {
    TransportTextReader reader(text);
    std::string piece;
    while (reader.Next(piece)) {
        if (!consume(static_cast<const std::string&>(piece))) return false;
    }
    return !reader.Failed();
}

// All the bytes behind transport text; empty when the text is not valid base64 once unescaped.
std::string FromTransportText(std::string_view text);

// Appends to `text` the transport text of `n` bytes: a text of its own when `n` is a multiple of
// 3, so that the texts of such chunks, and of a last chunk of any length, concatenate to the text
// of all their bytes.
void AppendTransportText(const unsigned char* bytes, std::size_t n, std::string& text);

// Reads transport text handed over in chunks of any size, as FromTransportText reads the whole.
class TransportTextChunkReader {
public:
    // Appends to `bytes` those behind the next `n` characters that are certain; false (for good)
    // when the text is found not to be base64 once unescaped.
    bool Add(const char* text, std::size_t n, std::string& bytes);
    // Ends the text: appends the last bytes; false if the text was not transport text.
    bool Finish(std::string& bytes);

private:
    bool Decode(bool last, std::string& bytes);
    std::string escaped_;  // characters not yet unescaped: at most an escape's start
    std::string base64_;   // unescaped characters not yet decoded: fewer than a quad, between calls
    bool padded_ = false, failed_ = false;
};

}  // namespace cryptutil::detail

#endif
