// The request/reply conversation with the watchdog device: the 4-byte frame,
// which received chunks count as replies, and the exchange that sends a frame
// up to five times and waits for the reply in the receive mailbox.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>

#include "device/com_port.h"
#include "device/receive_thread.h"
#include "platform/clock.h"
#include "platform/stop_request.h"
#include "platform/wake_event.h"

namespace qov::device {

inline constexpr std::uint8_t CMD_VERSION = 1;
inline constexpr std::uint8_t CMD_MODEM_RESET = 2;
inline constexpr std::uint8_t CMD_TIMER_INIT = 3;
inline constexpr std::uint8_t CMD_TIMER_STOP = 4;
inline constexpr std::uint8_t CMD_LIFE_MESSAGE = 5;
inline constexpr std::uint8_t CMD_PC_RESET = 174;

inline constexpr int kExchangeAttempts = 5;
// How long each attempt waits for its reply after the write.
inline constexpr std::int64_t kAttemptWaitMs = 500;
// TComPort::Write's result for a write the platform failed (or timed out).
inline constexpr std::int32_t kWriteFailed = -2;

std::array<std::uint8_t, 4> MakeFrame(std::uint8_t code);

// Either model's identification: "QOV Lumo " in at least 14 bytes, or
// "QOV Vesperin " in at least 18 bytes.
bool IsIdentification(const std::uint8_t* chunk, std::int32_t length);
// Exactly the one byte 'Z'.
bool IsAcknowledgement(const std::uint8_t* chunk, std::int32_t length);

// Runs the exchanges on the thread that owns `stop`: the receive thread
// fills the mailbox and wakes that thread through the stop request's event,
// on which it also hears its stop.
class DeviceLink {
 public:
  // `acked_at`, when given, takes the time of every accepted reply.
  DeviceLink(platform::Clock& clock, TComPort& port, RcvMailbox& mailbox, platform::StopRequest& stop,
             std::atomic<platform::Tick>* acked_at = nullptr)
      : clock_(clock), port_(port), mailbox_(mailbox), stop_(stop), acked_at_(acked_at) {
    mailbox_.reader.store(&stop_.Wake(), std::memory_order_release);
  }
  DeviceLink(const DeviceLink&) = delete;
  DeviceLink& operator=(const DeviceLink&) = delete;

  // Gives up (false) as soon as the stop is asked for: an identification
  // changes nothing on the device, so a stop need not wait for a silent one.
  bool CheckDeviceVersion() { return Exchange(CMD_VERSION, IsIdentification, true); }
  // Always runs to its end: a command the device may have taken (a timer
  // start above all) must get its answer, or the caller would not know to
  // stop the timer.
  bool SendDeviceCommand(std::uint8_t code) { return Exchange(code, IsAcknowledgement, false); }
  // For a command that a stop makes moot (a life message before the timer
  // stop): gives up, as a failure, as soon as the stop is asked for.
  bool SendDeviceCommandUntilStop(std::uint8_t code) { return Exchange(code, IsAcknowledgement, true); }

  // Guards against a second exchange on the same link; only the control
  // thread touches it.
  bool exchange_busy = false;

 private:
  using Acceptor = bool (*)(const std::uint8_t*, std::int32_t);
  bool Exchange(std::uint8_t code, Acceptor accept, bool stoppable);
  bool RunAttempts(std::uint8_t code, Acceptor accept, bool stoppable);
  // One attempt's wait; true when an accepted reply is waiting in the slot.
  bool WaitForReply(Acceptor accept, bool stoppable);
  // True when an accepted reply waits in the slot; a wrong one is discarded.
  bool TakeWaitingReply(Acceptor accept);

  platform::Clock& clock_;
  TComPort& port_;
  RcvMailbox& mailbox_;
  platform::StopRequest& stop_;
  std::atomic<platform::Tick>* acked_at_;
};

}  // namespace qov::device
