#include "service_replies.h"

#include <cstdio>
#include <ctime>
#include <limits>
#include <string>
#include <utility>

#include "cryptutil/util.h"

namespace {

using Json = nlohmann::json;

// nlohmann's destructor of a non-empty array or object allocates (it flattens the tree onto a
// heap stack), so a failed allocation there would end the process. Documents are therefore built
// member by member rather than from initializer lists, whose temporaries are such containers, and
// emptied from the inside before they are destroyed. Deeper levels, which only a caller's own
// value can have, are left to the destructor rather than risk the stack.
// Iterating and clearing a structured value throws nothing: NOLINTNEXTLINE(bugprone-exception-escape)
void Dismantle(Json& v, int depth = 0) noexcept {
    if (!v.is_structured() || depth > 32) return;
    for (auto& child : v) Dismantle(child, depth + 1);
    v.clear();  // now every element is a scalar or empty: nothing to allocate
}

struct DismantleOnExit {
    Json& doc;
    ~DismantleOnExit() { Dismantle(doc); }  // NOLINT(bugprone-exception-escape): see Dismantle
};

// {"msg":{"body":msg,"code":code},"status_code":"ng"}
void BuildErrorDocument(std::string&& code, std::string&& msg, Json& doc) {
    doc = Json::object();
    Json& inner = doc["msg"];
    inner = Json::object();
    inner["body"] = std::move(msg);
    inner["code"] = std::move(code);
    doc["status_code"] = "ng";
}

}  // namespace

// The by-value string parameters are the published signatures; they are moved into the document.
void create_error(std::string code, std::string msg, std::string& out) {
    Json doc;
    const DismantleOnExit dismantle{doc};
    BuildErrorDocument(std::move(code), std::move(msg), doc);
    // Throws type_error 316 for text that is not UTF-8, before `out` is touched.
    out = doc.dump(-1, ' ', false, Json::error_handler_t::strict);
}

void create_error_response(std::string code, std::string msg, Json& j) {
    Json doc;
    const DismantleOnExit dismantle{doc};  // after the swap: what `j` held before
    BuildErrorDocument(std::move(code), std::move(msg), doc);
    j.swap(doc);
}

namespace cryptutil::detail {

// The eight hours are added before the conversion where the type holds the sum; within eight
// hours of its end (from 2038 with a 32-bit time_t) they go into the calendar fields instead. The
// year is formatted in 64 bits: strftime's %Y overflows an int past year 2^31 - 1.
std::string Utc8TimeText(std::time_t instant) {
    constexpr std::time_t kEightHours = 28800;
    const bool fits = instant <= std::numeric_limits<std::time_t>::max() - kEightHours;
    const std::time_t t = fits ? instant + kEightHours : instant;
    std::tm parts{};
    if (gmtime_r(&t, &parts) == nullptr) return {};
    long long year = parts.tm_year + 1900LL;
    if (!fits && (parts.tm_hour += 8) >= 24) {
        parts.tm_hour -= 24;
        const bool leap = year % 4 == 0 && (year % 100 != 0 || year % 400 == 0);
        const int monthDays[] = {31, leap ? 29 : 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
        if (++parts.tm_mday > monthDays[parts.tm_mon]) {
            parts.tm_mday = 1;
            if (++parts.tm_mon == 12) {
                parts.tm_mon = 0;
                ++year;
            }
        }
    }
    char buf[64];
    const int n = std::snprintf(buf, sizeof buf, "%lld-%02d-%02dT%02d:%02d:%02d+08:00", year, parts.tm_mon + 1,
                                parts.tm_mday, parts.tm_hour, parts.tm_min, parts.tm_sec);
    return {buf, static_cast<std::size_t>(n)};
}

}  // namespace cryptutil::detail

std::string currentISO8601TimeUTC() {
    return cryptutil::detail::Utc8TimeText(std::time(nullptr));
}
