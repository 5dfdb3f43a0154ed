// create_error with a fuzzed code and message ("code\nmessage"): either type error 316 with the
// output untouched, or a document that parses back to exactly the two strings.
#include <cstdint>
#include <string>

#include "cryptutil/util.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string input = fuzz::Bytes(data, size);
    const std::size_t cut = input.find('\n');
    const std::string code = input.substr(0, cut);
    const std::string msg = cut == std::string::npos ? std::string() : input.substr(cut + 1);
    std::string out = "kept";
    try {
        create_error(code, msg, out);
    } catch (const nlohmann::json::type_error& e) {
        FUZZ_CHECK(e.id == 316 && out == "kept");
        return 0;
    }
    const nlohmann::json doc = nlohmann::json::parse(out);
    FUZZ_CHECK(doc.size() == 2 && doc["status_code"] == "ng" && doc["msg"].size() == 2);
    FUZZ_CHECK(doc["msg"]["code"] == code && doc["msg"]["body"] == msg);
    nlohmann::json j = 1;
    create_error_response(code, msg, j);
    FUZZ_CHECK(j == doc);
    return 0;
}
