// A log line holds no control character: a value read from the configuration
// or from the network could otherwise break a line in two (and forge the
// next one) or send escape sequences to whoever views the log.
#pragma once

#include <string>
#include <string_view>

namespace qov::config {

// `text` with each control character (below 0x20, and 0x7F) written as
// "\xNN" in upper-case hex; every other byte is kept as it is.
std::string SanitizeLine(std::string_view text);

}  // namespace qov::config
