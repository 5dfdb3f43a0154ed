// Transport text both ways. Writing: the text is OpenSSL's base64 with '+' as %2B, texts of pieces
// of a multiple of 3 bytes concatenate, and the text escaped in any form an URL encoder may give
// (%XX, %xx, %uXXXX) reads back in any chunks, at most 3 bytes per 4 characters. Reading: the
// input reads, whole or in chunks, exactly when unescaped it is base64, and gives the bytes OpenSSL
// decodes. Escaping and unescaping, whose steps take 32 characters at once, agree with the rules
// applied a character at a time.
#include <openssl/evp.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>

#include "crypto_library.h"
#include "fuzz_support.h"
#include "transport_text.h"

namespace {

using namespace cryptutil::detail;

constexpr std::string_view kAlphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

std::size_t Encode(char* out, const std::string& in) {
    return static_cast<std::size_t>(EVP_EncodeBlock(reinterpret_cast<unsigned char*>(out),
                                                    reinterpret_cast<const unsigned char*>(in.data()),
                                                    LengthFor<2>(EVP_EncodeBlock, in.size())));
}

std::string ReferenceBase64(const std::string& bytes) {
    std::string b64(4 * ((bytes.size() + 2) / 3) + 1, '\0');
    b64.resize(Encode(b64.data(), bytes));
    return b64;
}

int HexValue(char c) {
    const char* digits = "0123456789abcdef0123456789ABCDEF";
    const char* at = c == '\0' ? nullptr : std::strchr(digits, c);
    return at == nullptr ? -1 : static_cast<int>(at - digits) % 16;
}

bool IsHex(std::string_view s, std::size_t at, std::size_t n) {
    if (at + n > s.size()) return false;
    for (std::size_t j = at; j < at + n; ++j)
        if (HexValue(s[j]) < 0) return false;
    return true;
}

// The unescaping rules a character at a time: %XX as its byte, %uXXXX as UTF-8 (a surrogate as
// nothing), any other '%' as it is.
std::string UnescapedBytewise(std::string_view s) {
    std::string out;
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '%' && i + 1 < s.size() && s[i + 1] == 'u' && IsHex(s, i + 2, 4)) {
            unsigned cp = 0;
            for (std::size_t j = i + 2; j < i + 6; ++j) cp = cp << 4 | static_cast<unsigned>(HexValue(s[j]));
            if (cp < 0x80) {
                out += static_cast<char>(cp);
            } else if (cp < 0x800) {
                out += {static_cast<char>(0xC0 | cp >> 6), static_cast<char>(0x80 | (cp & 0x3F))};
            } else if (cp < 0xD800 || cp > 0xDFFF) {
                out += {static_cast<char>(0xE0 | cp >> 12), static_cast<char>(0x80 | (cp >> 6 & 0x3F)),
                        static_cast<char>(0x80 | (cp & 0x3F))};
            }
            i += 5;
        } else if (s[i] == '%' && (i + 1 >= s.size() || s[i + 1] != 'u') && IsHex(s, i + 1, 2)) {
            out += static_cast<char>(HexValue(s[i + 1]) << 4 | HexValue(s[i + 2]));
            i += 2;
        } else {
            out += s[i];
        }
    }
    return out;
}

// The input's k-th byte (0 for none), to choose escapes and chunks.
unsigned Pick(const std::string& input, std::size_t k) {
    return input.empty() ? 0 : static_cast<unsigned char>(input[k % input.size()]);
}

bool ReadInChunks(const std::string& text, const std::string& input, std::string& bytes) {
    TransportTextReader reader;
    for (std::size_t at = 0, k = 0, c = 0; at < text.size(); at += c, ++k) {
        c = std::min<std::size_t>(Pick(input, k) % 8 == 0 ? 5000 : 1 + Pick(input, k) % 37, text.size() - at);
        if (!reader.Add(text.data() + at, c, bytes)) return false;
    }
    return reader.Finish(bytes);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string input = fuzz::Bytes(data, size);

    const std::string b64 = ReferenceBase64(input);
    std::string text, expected;
    for (const char c : b64) c == '+' ? void(expected += "%2B") : void(expected += c);
    FUZZ_CHECK(ToTransportText(data, size, text) && text == expected);
    std::string back;
    FUZZ_CHECK(FromTransportText(text, back) && back == input);
    std::string pieces;  // pieces of 3k bytes, then the rest
    const std::size_t piece = 3 * (1 + Pick(input, 1) % 40);
    for (std::size_t at = 0; at < size; at += piece)
        FUZZ_CHECK(AppendTransportText(data + at, std::min(piece, size - at), pieces));
    FUZZ_CHECK(size == 0 || pieces == text);

    // Every character of the base64 escaped or not, in the form the input picks.
    std::string escaped, all;
    for (std::size_t i = 0; i < b64.size(); ++i) {
        char form[8];
        const unsigned pick = Pick(input, i);
        std::snprintf(form, sizeof form,
                      pick % 3 == 0   ? "%%%02X"
                      : pick % 3 == 1 ? "%%%02x"
                                      : "%%u%04X",
                      static_cast<unsigned char>(b64[i]));
        escaped += pick % 4 == 0 ? std::string(1, b64[i]) : std::string(form);
        std::snprintf(form, sizeof form, "%%%02X", static_cast<unsigned char>(b64[i]));
        all += form;
    }
    if (Pick(input, 2) % 5 == 0) escaped += "%uD800";  // a surrogate stands for nothing
    back.clear();
    FUZZ_CHECK(ReadInChunks(escaped, input, back) && back == input && back.size() <= escaped.size() / 4 * 3);
    back.clear();
    FUZZ_CHECK(FromTransportText(all, back) && back == input);

    std::string bytes;
    const bool reads = FromTransportText(input, bytes);
    FUZZ_CHECK(!reads || bytes.size() <= input.size() / 4 * 3);  // DecryptMessage's room
    // Read exactly when the input, unescaped, is base64: whole quads of the alphabet, up to two '='
    // at the end; and then as OpenSSL decodes it.
    const std::string b64Input = UnescapedBytewise(input);
    const std::size_t body = b64Input.find_last_not_of('=') + 1, pads = b64Input.size() - body;
    const bool isBase64 = b64Input.size() % 4 == 0 && pads <= 2 && b64Input.find_first_not_of(kAlphabet) >= body;
    std::string decoded(b64Input.size() / 4 * 3 + 3, '\0');
    const int n = EVP_DecodeBlock(reinterpret_cast<unsigned char*>(decoded.data()),
                                  reinterpret_cast<const unsigned char*>(b64Input.data()),
                                  LengthFor<2>(EVP_DecodeBlock, b64Input.size()));
    decoded.resize(isBase64 && n >= 0 ? static_cast<std::size_t>(n) - pads : 0);
    FUZZ_CHECK(reads == isBase64 && (!reads || bytes == decoded));
    std::string chunked;
    FUZZ_CHECK(ReadInChunks(input, input, chunked) == reads && (!reads || chunked == bytes));
    if (reads) {
        std::string again, retext;
        FUZZ_CHECK(ToTransportText(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(), retext));
        FUZZ_CHECK(FromTransportText(retext, again) && again == bytes);
    }

    // Escaping takes base64's characters only; anything else leaves the output as it was.
    std::string escapedInput = "kept", unescaped;
    const bool base64 = std::all_of(input.begin(), input.end(),
                                    [&](char c) { return c != '\0' && kAlphabet.find(c) != kAlphabet.npos; });
    FUZZ_CHECK(AppendEscaped(input, escapedInput) == base64);
    if (base64) {
        std::string plus = "kept";
        for (const char c : input) c == '+' ? void(plus += "%2B") : void(plus += c);
        FUZZ_CHECK(escapedInput == plus);
        Unescape(escapedInput.data() + 4, escapedInput.size() - 4, 0, true, unescaped);
        FUZZ_CHECK(unescaped == input);
    } else {
        FUZZ_CHECK(escapedInput == "kept");
    }
    // Unescaping the input: all of it, and, unless it is the last, up to a '%' in its last five.
    unescaped.clear();
    FUZZ_CHECK(Unescape(input.data(), size, 0, true, unescaped) == size && unescaped == UnescapedBytewise(input));
    std::string part;
    const std::size_t stop = Unescape(input.data(), size, 0, false, part);
    const std::size_t pct = input.find('%', size < 5 ? 0 : size - 5);
    FUZZ_CHECK(stop == (pct == std::string::npos ? size : pct));
    FUZZ_CHECK(part == UnescapedBytewise(std::string_view(input).substr(0, stop)));
    return 0;
}
