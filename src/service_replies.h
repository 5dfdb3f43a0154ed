#ifndef CRYPTUTIL_SRC_SERVICE_REPLIES_H
#define CRYPTUTIL_SRC_SERVICE_REPLIES_H

#include <ctime>
#include <string>

namespace cryptutil::detail {

// The time text of an instant: its wall-clock time at UTC+8, "YYYY-MM-DDTHH:MM:SS+08:00".
std::string Utc8TimeText(std::time_t instant);

}  // namespace cryptutil::detail

#endif
