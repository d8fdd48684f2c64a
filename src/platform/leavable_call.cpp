#include "platform/leavable_call.h"

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>

namespace qov::platform {
namespace {

// Shared by the caller and the helper; whichever lets go last frees it.
struct Outcome {
  std::mutex mutex;
  std::condition_variable done_cv;
  bool done = false;
  bool result = false;
};

}  // namespace

std::optional<bool> RunLeavable(std::function<bool()> call, const std::atomic<bool>& stop) {
  if (stop.load(std::memory_order_acquire)) return std::nullopt;
  auto outcome = std::make_shared<Outcome>();
  try {
    std::thread([outcome, call] {
      const bool result = call();
      std::lock_guard lock(outcome->mutex);
      outcome->result = result;
      outcome->done = true;
      outcome->done_cv.notify_all();
    }).detach();
  } catch (const std::system_error&) {
    return call();
  }
  std::unique_lock lock(outcome->mutex);
  while (!outcome->done) {
    if (stop.load(std::memory_order_acquire)) return std::nullopt;
    outcome->done_cv.wait_for(lock, std::chrono::milliseconds(kStopCheckMs));
  }
  return outcome->result;
}

}  // namespace qov::platform
