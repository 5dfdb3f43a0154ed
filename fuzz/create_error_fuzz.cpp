// create_error with a fuzzed code and message ("code\nmessage"): either type error 316 with the
// output untouched, or exactly the document peers expect, which parses back to the two strings.
// create_error_response gives that document, and throws nothing even for text that is not UTF-8
// (it does not serialise).
#include <cstdint>
#include <cstdio>
#include <string>

#include "cryptutil/util.h"
#include "fuzz_support.h"

namespace {

// A JSON string as the wire has it: the short escapes, other control characters as \u00xx, every
// other byte as it is.
std::string Quoted(const std::string& s) {
    std::string out = "\"";
    for (const char c : s) {
        const char* const shortForms = "\"\"\\\\\bb\ff\nn\rr\tt";
        std::size_t k = 0;
        while (k < 14 && (shortForms[k] != c || c == '\0')) k += 2;
        char hex[8];
        std::snprintf(hex, sizeof hex, "\\u%04x", static_cast<unsigned char>(c));
        out += k < 14                                 ? std::string{'\\', shortForms[k + 1]}
               : static_cast<unsigned char>(c) < 0x20 ? std::string(hex)
                                                      : std::string(1, c);
    }
    return out + "\"";
}

}  // namespace

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
        nlohmann::json j = {{"msg", 1}, {"extra", true}};  // replaced whole
        create_error_response(code, msg, j);
        FUZZ_CHECK(j["msg"]["code"] == code && j["msg"]["body"] == msg);
        return 0;
    }
    FUZZ_CHECK(out == R"({"msg":{"body":)" + Quoted(msg) + R"(,"code":)" + Quoted(code) + R"(},"status_code":"ng"})");
    const nlohmann::json doc = nlohmann::json::parse(out);
    FUZZ_CHECK(doc.size() == 2 && doc["status_code"] == "ng" && doc["msg"].size() == 2);
    FUZZ_CHECK(doc["msg"]["code"] == code && doc["msg"]["body"] == msg);
    nlohmann::json j = {{"msg", 1}, {"extra", true}};  // replaced whole
    create_error_response(code, msg, j);
    FUZZ_CHECK(j == doc);
    return 0;
}
