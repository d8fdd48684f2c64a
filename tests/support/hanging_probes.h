// Probes that hang like a server that accepts and never answers: each runs
// on a leavable helper, as the real probes do, and stays blocked until the
// probes are released (at the latest when they are destroyed).
#pragma once

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>

#include "platform/leavable_call.h"
#include "supervision/checker.h"

namespace qov::test {

class HangingProbes final : public supervision::Probes {
 public:
  ~HangingProbes() override { Release(); }
  supervision::ProbeResult Http(const std::string&, platform::StopRequest& stop) override { return Hang(stop); }
  supervision::ProbeResult Icmp(const std::string&, std::uint32_t, platform::StopRequest& stop) override {
    return Hang(stop);
  }

  void Release() {
    std::lock_guard lock(gate_->mutex);
    gate_->open = true;
    gate_->cv.notify_all();
  }
  // Probes that have begun, and that have returned, so far.
  int Entered() const { return gate_->entered.load(); }
  int Left() const { return gate_->left.load(); }

 private:
  struct Gate {
    std::mutex mutex;
    std::condition_variable cv;
    bool open = false;
    std::atomic<int> entered{0}, left{0};
  };
  supervision::ProbeResult Hang(platform::StopRequest& stop) {
    auto wait_for_release = [gate = gate_] {
      ++gate->entered;
      std::unique_lock lock(gate->mutex);
      gate->cv.wait(lock, [&] { return gate->open; });
      ++gate->left;
      return true;
    };
    // Given up on only at a stop, which logs nothing: no reason needed.
    return {worker_.Run(wait_for_release, stop).value_or(false), {}};
  }
  std::shared_ptr<Gate> gate_ = std::make_shared<Gate>();
  platform::LeavableWorker worker_;
};

}  // namespace qov::test
