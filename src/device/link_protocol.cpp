#include "device/link_protocol.h"

#include <cstring>

namespace qov::device {
namespace {

bool StartsWith(const std::uint8_t* chunk, std::int32_t length, const char* prefix, std::int32_t min_length) {
  const auto prefix_length = static_cast<std::int32_t>(std::strlen(prefix));
  return length >= min_length && length >= prefix_length && std::memcmp(chunk, prefix, prefix_length) == 0;
}

}  // namespace

std::array<std::uint8_t, 4> MakeFrame(std::uint8_t code) { return {'Q', 'O', 'V', code}; }

bool IsIdentification(const std::uint8_t* chunk, std::int32_t length) {
  return StartsWith(chunk, length, "QOV Lumo ", 14) || StartsWith(chunk, length, "QOV Vesperin ", 18);
}

bool IsAcknowledgement(const std::uint8_t* chunk, std::int32_t length) { return length == 1 && chunk[0] == 'Z'; }

bool DeviceLink::Exchange(std::uint8_t code, Acceptor accept, bool stoppable) {
  if (exchange_busy) return false;
  exchange_busy = true;
  const bool answered = RunAttempts(code, accept, stoppable);
  if (answered && acked_at_) acked_at_->store(clock_.NowMs(), std::memory_order_relaxed);
  exchange_busy = false;
  return answered;
}

bool DeviceLink::RunAttempts(std::uint8_t code, Acceptor accept, bool stoppable) {
  const auto frame = MakeFrame(code);
  for (int attempt = 0; attempt < kExchangeAttempts; ++attempt) {
    if (stoppable && stop_.IsSet()) return false;
    if (attempt == 0) {
      // Hands the slot back, dropping whatever waited there from before.
      mailbox_.rcv_ready.store(false, std::memory_order_release);
    } else if (TakeWaitingReply(accept)) {
      // The answer to the same frame, come after the last poll.
      return true;
    }
    const std::int32_t written = port_.Write(frame.data(), static_cast<std::int32_t>(frame.size()));
    // A port that refuses the frame, or cannot take it within its write
    // time-out, will not carry the next one either: give up at once, so the
    // caller reopens the port instead of spending five more time-outs. With
    // no port open (-1) the attempts go on as usual.
    if (written == kWriteFailed || (written >= 0 && written < static_cast<std::int32_t>(frame.size()))) return false;
    if (WaitForReply(accept, stoppable)) return true;
  }
  return false;
}

bool DeviceLink::WaitForReply(Acceptor accept, bool stoppable) {
  const platform::Tick end = platform::DeadlineAfter(clock_.NowMs(), kAttemptWaitMs);
  for (;;) {
    if (stoppable && stop_.IsSet()) return false;
    // A wrong reply is discarded and the wait goes on to the attempt's end.
    if (TakeWaitingReply(accept)) return true;
    if (platform::IsDue(clock_.NowMs(), end)) return false;
    // A command that must get its answer waits on through a stop.
    if (stoppable) {
      stop_.WaitUntil(clock_, end);
    } else {
      clock_.WaitUntil(end, stop_.Wake());
    }
  }
}

bool DeviceLink::TakeWaitingReply(Acceptor accept) {
  if (!mailbox_.rcv_ready.load(std::memory_order_acquire)) return false;
  // The accepted reply stays in the slot.
  if (accept(mailbox_.rcv_buffer, mailbox_.rcv_length)) return true;
  mailbox_.rcv_ready.store(false, std::memory_order_release);
  return false;
}

}  // namespace qov::device
