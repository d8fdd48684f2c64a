#include "responder.h"

namespace qov::sim {

std::vector<int> Responder::Feed(const char* data, std::size_t n) {
  pending_.append(data, n);
  std::vector<int> codes;
  while (pending_.size() >= 4) {
    if (pending_.compare(0, 3, "QOV") != 0) {
      pending_.erase(0, 1);  // resynchronise on the next "QOV"
      continue;
    }
    codes.push_back(static_cast<unsigned char>(pending_[3]));
    pending_.erase(0, 4);
  }
  return codes;
}

std::vector<Outgoing> Responder::Reply(const Settings& s, int code, std::int64_t now_ms) {
  if (s.mode == Mode::Silent || (s.refused_code && *s.refused_code == code)) return {};
  const std::int64_t at = now_ms + (s.mode == Mode::Late ? s.delay_ms : 0);
  if (s.mode == Mode::Garbage) return {{at, s.garbage}};
  if (code != 1) return {{at, s.acknowledgement}};
  const std::string& id = s.identification;
  if (s.mode == Mode::Split && s.split_at > 0 && static_cast<std::size_t>(s.split_at) < id.size()) {
    return {{at, id.substr(0, s.split_at)}, {at + s.split_pause_ms, id.substr(s.split_at)}};
  }
  return {{at, id}};
}

}  // namespace qov::sim
