// The device's side of the link: cuts the byte stream into "QOV" + code
// frames and decides which bytes go back, and when.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "sim_settings.h"

namespace qov::sim {

struct Outgoing {
  std::int64_t due_ms;
  std::string bytes;
};

class Responder {
 public:
  // Feeds received bytes; returns the command codes of the complete frames.
  std::vector<int> Feed(const char* data, std::size_t n);

  // The replies to one frame received at `now_ms`.
  static std::vector<Outgoing> Reply(const Settings& s, int code, std::int64_t now_ms);

 private:
  std::string pending_;
};

}  // namespace qov::sim
