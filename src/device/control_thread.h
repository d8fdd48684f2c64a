// The thread that owns the watchdog device: opens the port, identifies the
// device, starts its timer, feeds it life messages, carries reset requests to
// it and stops its timer at the end.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <string>

#include "config/log.h"
#include "config/param_rec.h"
#include "device/com_port.h"
#include "device/receive_thread.h"
#include "platform/clock.h"
#include "platform/worker_thread.h"

namespace qov::device {

struct DeviceContext {
  platform::Clock& clock;
  config::Log& log;
  const config::TParamRec& params;
  TComPort& port;
  RcvMailbox& mailbox;
  // The current receive thread; replaced by this thread after every open,
  // stopped by the service's stop handler at the end.
  std::unique_ptr<TComRcvThread>& receiver;
  // Whether the system lists a port name; ComPortPresent by default.
  std::function<bool(const std::string&)> port_present = ComPortPresent;
};

class TQOVControlThread final : public platform::WorkerThread {
 public:
  explicit TQOVControlThread(DeviceContext ctx);
  ~TQOVControlThread() override { Join(); }

  // Set by the checker, taken and cleared by this thread while the device runs.
  std::atomic<bool> modem_reset_request{false};
  std::atomic<bool> pc_reset_request{false};

 protected:
  void Execute() override;

 private:
  DeviceContext ctx_;
};

}  // namespace qov::device
