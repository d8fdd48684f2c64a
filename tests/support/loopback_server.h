// A TCP server on 127.0.0.1 for the probe tests: it reads each request's
// head and answers with fixed bytes, or holds the connection unanswered.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace qov::test {

class LoopbackServer {
 public:
  // An empty `reply` accepts connections and never answers them.
  explicit LoopbackServer(std::string reply);
  ~LoopbackServer();
  LoopbackServer(const LoopbackServer&) = delete;
  LoopbackServer& operator=(const LoopbackServer&) = delete;

  std::uint16_t Port() const;
  // The head of the last request received ("" before any).
  std::string LastRequest() const;
  int Connections() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace qov::test
