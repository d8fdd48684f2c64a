// Splits a command line into words the way the host reads its own: characters
// 1 to 32 separate words, double quotes group them and are removed, an empty
// pair of quotes is skipped, and there is no escape character.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace qov::platform {

inline std::vector<std::string> SplitCommandLine(std::string_view line) {
  std::vector<std::string> words;
  std::size_t i = 0;
  while (i < line.size()) {
    while (i < line.size() && line[i] >= 1 && line[i] <= ' ') ++i;
    if (i >= line.size()) break;
    std::string word;
    bool quoted = false;
    while (i < line.size() && (quoted || !(line[i] >= 1 && line[i] <= ' '))) {
      if (line[i] == '"') {
        quoted = !quoted;
      } else {
        word += line[i];
      }
      ++i;
    }
    if (!word.empty()) words.push_back(std::move(word));
  }
  return words;
}

}  // namespace qov::platform
