#include <fstream>
#include <iterator>
#include <random>

#include "platform/file.h"

namespace qov::platform {

std::string TemporaryNameFor(const std::string& path) {
  static constexpr char kLetters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  // The system's random source (getrandom, RtlGenRandom): a name guessed
  // from the time or the process id would let a link be planted at it.
  std::random_device source;
  std::uniform_int_distribution<std::size_t> pick(0, sizeof kLetters - 2);
  std::string name = path + ".tmp.";
  for (int i = 0; i < 12; ++i) name += kLetters[pick(source)];
  return name;
}

std::optional<std::string> ReadTextFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (in.bad()) return std::nullopt;
  return text;
}

}  // namespace qov::platform
