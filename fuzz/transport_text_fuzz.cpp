// Transport text both ways: what is produced reads back to the same bytes; what is read either
// fails or is bytes whose transport text reads back to them again, whole or in chunks the input
// picks; escaping is undone by unescaping for text without '%' or NUL.
#include <algorithm>
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
        std::string again;
        const std::string retext = ToTransportText(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
        FUZZ_CHECK(FromTransportText(retext, again) && again == bytes);
    }

    if (input.find('%') == std::string::npos && input.find('\0') == std::string::npos) {
        std::string escaped, unescaped;
        AppendEscaped(input, escaped);
        Unescape(escaped.data(), escaped.size(), 0, true, unescaped);
        FUZZ_CHECK(unescaped == input);
    }
    return 0;
}
