// Runs calls that cannot be cancelled (a blocking name look-up, a WinInet
// request, an ICMP echo) where they can be left behind: on a helper thread
// whose result the caller waits for until it comes or a stop is asked for.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <thread>

#include "platform/stop_request.h"

namespace qov::platform {

// One helper thread, made at the first call and kept, that runs one call at
// a time for one owner. Reusing it keeps thread creation out of every probe.
class LeavableWorker {
 public:
  LeavableWorker();
  // An idle helper is ended and joined; one still inside a call that was
  // given up on is left to finish alone (it owns what it uses).
  ~LeavableWorker();
  LeavableWorker(const LeavableWorker&) = delete;
  LeavableWorker& operator=(const LeavableWorker&) = delete;

  // The result of `call`, or nothing when `stop` was set first. The caller
  // sleeps on `stop`'s event, which the helper signals when the call ends
  // and the request signals when it is set. A call given up on finishes
  // alone and its result is dropped, so it must own everything it uses:
  // capture by value. A call waits first for one given up on earlier. When
  // no helper thread can be created, the call runs on the calling thread.
  std::optional<bool> Run(std::function<bool()> call, StopRequest& stop);

 private:
  struct State;
  std::shared_ptr<State> state_;
  std::thread thread_;
};

}  // namespace qov::platform
