// The receive side of the device link: a thread that reads whatever arrives
// on the port and posts each chunk into a one-slot mailbox.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>

#include "device/com_port.h"
#include "platform/clock.h"
#include "platform/wake_event.h"
#include "platform/worker_thread.h"

namespace qov::device {

inline constexpr std::int32_t kMailboxSize = 128;

// Ownership of the slot passes through `rcv_ready`: the receive thread fills
// buffer and length while it is false and then sets it (release); the sender
// reads them only after seeing it set (acquire) and clears it to hand back.
struct RcvMailbox {
  std::atomic<bool> rcv_ready{false};
  std::uint8_t rcv_buffer[kMailboxSize] = {};
  std::int32_t rcv_length = 0;
  // The sender's event, signalled after each chunk is posted; set by the
  // sender before the receive thread starts, and left to outlive it.
  std::atomic<platform::WakeEvent*> reader{nullptr};

  // Posts a chunk when the slot is free and wakes the sender; false when the
  // slot was taken and the chunk is lost. The receiving side only.
  bool Offer(const std::uint8_t* chunk, std::int32_t length);
};

class TComRcvThread final : public platform::WorkerThread {
 public:
  TComRcvThread(platform::Clock& clock, TComPort& port, RcvMailbox& mailbox);
  ~TComRcvThread() override { Join(); }

  // Also ends a read in progress, so the thread ends at once.
  void RequestTerminate() override;

 protected:
  void Execute() override;

 private:
  platform::Clock& clock_;
  TComPort& port_;
  RcvMailbox& mailbox_;
};

// Creates a receive thread and starts it running.
std::unique_ptr<TComRcvThread> StartReceiveThread(platform::Clock& clock, TComPort& port, RcvMailbox& mailbox);

}  // namespace qov::device
