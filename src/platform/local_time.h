// The local date and time as the system's locale writes them.
#pragma once

#include <cstdint>
#include <string>

namespace qov::platform {

// Short date, a blank, long time; the time is left out at exactly midnight.
std::string LocalDateTimeText();
// The same for a moment given in UTC seconds since 1970.
std::string LocalDateTimeText(std::int64_t utc_seconds);

// The wall clock: UTC seconds since 1970. It can be set back or forward;
// nothing that measures a duration within a run uses it.
std::int64_t UtcNowSeconds();

}  // namespace qov::platform
