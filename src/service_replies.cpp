#include "service_replies.h"

#include <ctime>
#include <string>
#include <utility>

#include "cryptutil/util.h"

// The by-value string parameters are the published signatures; they are moved into the document.
void create_error(std::string code, std::string msg, std::string& out) {
    nlohmann::json j;
    j["status_code"] = "ng";
    j["msg"]["code"] = std::move(code);
    j["msg"]["body"] = std::move(msg);
    // Throws type_error 316 for text that is not UTF-8, before `out` is touched.
    out = j.dump(-1, ' ', false, nlohmann::json::error_handler_t::strict);
}

void create_error_response(std::string code, std::string msg, nlohmann::json& j) {
    nlohmann::json doc = {{"status_code", "ng"}, {"msg", {{"code", std::move(code)}, {"body", std::move(msg)}}}};
    j = std::move(doc);
}

namespace cryptutil::detail {

std::string Utc8TimeText(std::time_t instant) {
    constexpr std::time_t kEightHours = 28800;  // 8 hours
    const std::time_t shifted = instant + kEightHours;
    std::tm parts{};
    if (gmtime_r(&shifted, &parts) == nullptr) return {};
    char buf[42];
    const std::size_t n = std::strftime(buf, sizeof buf, "%FT%H:%M:%S+08:00", &parts);
    return {buf, n};
}

}  // namespace cryptutil::detail

std::string currentISO8601TimeUTC() {
    return cryptutil::detail::Utc8TimeText(std::time(nullptr));
}
