#include "supervision/http_rules.h"

#include "supervision/text.h"

namespace qov::supervision {

std::string HttpUrlFor(const std::string& target) {
  const std::string lower = AsciiLower(target);
  if (lower.rfind("https://", 0) == 0 || lower.find("http://") != std::string::npos) return target;
  return "http://" + target;
}

bool IsAcceptedHttpStatus(std::string_view status_text) {
  return status_text == "200" || status_text == "302";
}

}  // namespace qov::supervision
