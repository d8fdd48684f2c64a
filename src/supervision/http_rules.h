// The HTTP probe's two rules that do not depend on the client library: which
// URL is requested for a target, and which status texts count as an answer.
#pragma once

#include <string>
#include <string_view>

namespace qov::supervision {

// The target unchanged when it begins with "https://" or contains "http://"
// anywhere (ASCII case ignored), otherwise "http://" + target.
std::string HttpUrlFor(const std::string& target);

// Exactly "200" or "302"; every other text, empty included, is a failure.
bool IsAcceptedHttpStatus(std::string_view status_text);

}  // namespace qov::supervision
