// A control queue kept in memory: the POSIX backend and the tests' fake.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>

#include "platform/service_control.h"

namespace qov::platform {

class MemoryControlQueue final : public ControlQueue {
 public:
  void Create() override;
  bool Post(std::uint32_t code) override;
  Taken Next(bool wait, std::uint32_t& code) override;

  // What other messages and a quit look like to the taker.
  void PostOther();
  void PostQuit();
  bool Created();

 private:
  struct Message {
    Taken kind;
    std::uint32_t code;
  };
  bool Push(Message m);

  std::mutex mutex_;
  std::condition_variable arrived_;
  bool created_ = false;
  std::deque<Message> messages_;
};

}  // namespace qov::platform
