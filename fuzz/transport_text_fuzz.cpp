// Transport text both ways: what is produced reads back to the same bytes; what is read either
// fails or is bytes whose transport text reads back to them again, whole or in chunks the input
// picks; escaping takes base64's characters only, and is undone by unescaping.
#include <algorithm>
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz_support.h"
#include "transport_text.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace cryptutil::detail;
    const std::string input = fuzz::Bytes(data, size);

    std::string text;
    FUZZ_CHECK(ToTransportText(data, size, text));
    FUZZ_CHECK(text.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789/=%") ==
               std::string::npos);
    std::string back;
    FUZZ_CHECK(FromTransportText(text, back) && back == input);

    std::string bytes;
    const bool reads = FromTransportText(input, bytes);
    FUZZ_CHECK(!reads || bytes.size() <= MaxBytes(input));
    const std::size_t chunk = size == 0 ? 1 : 1 + data[0] % 37;
    TransportTextReader reader;
    std::string chunked;
    bool ok = true;
    for (std::size_t at = 0; at < size && ok; at += chunk)
        ok = reader.Add(input.data() + at, std::min(chunk, size - at), chunked);
    FUZZ_CHECK((ok && reader.Finish(chunked)) == reads && (!reads || chunked == bytes));
    if (reads) {
        std::string again, retext;
        FUZZ_CHECK(ToTransportText(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(), retext));
        FUZZ_CHECK(FromTransportText(retext, again) && again == bytes);
    }

    constexpr std::string_view kAlphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string escaped = "kept", unescaped;
    const bool base64 =
        std::all_of(input.begin(), input.end(), [&](char c) { return kAlphabet.find(c) != kAlphabet.npos; });
    FUZZ_CHECK(AppendEscaped(input, escaped) == base64 && (base64 || escaped == "kept"));
    if (base64) {
        Unescape(escaped.data() + 4, escaped.size() - 4, 0, true, unescaped);
        FUZZ_CHECK(unescaped == input);
    }
    return 0;
}
