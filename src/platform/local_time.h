// The local date and time as the system's locale writes them.
#pragma once

#include <string>

namespace qov::platform {

// Short date, a blank, long time; the time is left out at exactly midnight.
std::string LocalDateTimeText();

}  // namespace qov::platform
