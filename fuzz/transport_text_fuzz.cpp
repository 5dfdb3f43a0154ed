// Transport text both ways: what is produced reads back to the same bytes; what is read either
// fails (empty) or is bytes whose transport text reads back to them again.
#include <cstdint>
#include <string>

#include "fuzz_support.h"
#include "transport_text.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace cryptutil::detail;
    const std::string input = fuzz::Bytes(data, size);

    const std::string text = ToTransportText(data, size);
    FUZZ_CHECK(text.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789/=%") ==
               std::string::npos);
    FUZZ_CHECK(FromTransportText(text) == input);

    const std::string bytes = FromTransportText(input);
    // Reading a text it owns (unescaped in place when it is one piece) reads the same.
    std::string owned = input, all, piece;
    TransportTextReader reader(std::move(owned));
    while (reader.Next(piece)) all += piece;
    FUZZ_CHECK(reader.Failed() ? bytes.empty() : all == bytes);
    if (!bytes.empty()) {
        FUZZ_CHECK(FromTransportText(
                       ToTransportText(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size())) == bytes);
    }

    // Escaping is undone by unescaping for text without '%' or NUL.
    if (input.find('%') == std::string::npos && input.find('\0') == std::string::npos) {
        FUZZ_CHECK(UrlUnescape(UrlEscape(input)) == input);
    }
    FUZZ_CHECK(UrlUnescape(input).size() <= input.size());
    return 0;
}
