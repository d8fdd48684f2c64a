#include "supervision/http_rules.h"

#include "platform/text.h"

namespace qov::supervision {

std::string HttpUrlFor(const std::string& target) {
  if (platform::StartsWithIgnoringCase(target, "https://") ||
      platform::AsciiLower(target).find("http://") != std::string::npos) {
    return target;
  }
  return "http://" + target;
}

bool IsAcceptedHttpStatus(std::string_view status_text) {
  return status_text == "200" || status_text == "302";
}

}  // namespace qov::supervision
