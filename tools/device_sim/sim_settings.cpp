#include "sim_settings.h"

#include <cstdlib>

namespace qov::sim {
namespace {

bool ParseMode(const std::string& v, Mode& m) {
  if (v == "normal") m = Mode::Normal;
  else if (v == "silent") m = Mode::Silent;
  else if (v == "late") m = Mode::Late;
  else if (v == "garbage") m = Mode::Garbage;
  else if (v == "split") m = Mode::Split;
  else return false;
  return true;
}

bool ParseInt(const std::string& v, int& out) {
  char* end = nullptr;
  const long n = std::strtol(v.c_str(), &end, 0);
  if (v.empty() || *end != '\0' || n < 0 || n > 1000000) return false;
  out = static_cast<int>(n);
  return true;
}

}  // namespace

Action ApplyCommand(Settings& s, const std::string& raw) {
  std::string line = raw;
  while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) line.pop_back();
  const auto space = line.find(' ');
  const std::string name = line.substr(0, space);
  const std::string value = space == std::string::npos ? "" : line.substr(space + 1);
  int n = 0;

  if (name == "drop") return Action::Drop;
  if (name == "unplug") return Action::Unplug;
  if (name == "plug") return Action::Plug;
  if (name == "quit") return Action::Quit;
  if (name == "mode" && ParseMode(value, s.mode)) return Action::None;
  if (name == "id" && !value.empty()) {
    s.identification = value;
    return Action::None;
  }
  if (name == "ack") {
    s.acknowledgement = value;
    return Action::None;
  }
  if (name == "garbage" && !value.empty()) {
    s.garbage = value;
    return Action::None;
  }
  if (name == "model") {
    if (value == "lumo") s.identification = "QOV Lumo 1.0.0";
    else if (value == "vesperin") s.identification = "QOV Vesperin 1.0.0";
    else return Action::Invalid;
    return Action::None;
  }
  if (name == "refuse") {
    if (value == "none") {
      s.refused_code.reset();
      return Action::None;
    }
    if (!ParseInt(value, n) || n > 255) return Action::Invalid;
    s.refused_code = n;
    return Action::None;
  }
  if (name == "delay" && ParseInt(value, n)) {
    s.delay_ms = n;
    return Action::None;
  }
  if (name == "split-at" && ParseInt(value, n)) {
    s.split_at = n;
    return Action::None;
  }
  if (name == "split-pause" && ParseInt(value, n)) {
    s.split_pause_ms = n;
    return Action::None;
  }
  return Action::Invalid;
}

}  // namespace qov::sim
