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

bool DeviceLink::Exchange(std::uint8_t code, Acceptor accept, const std::atomic<bool>* stop) {
  if (exchange_busy) return false;
  exchange_busy = true;
  const bool answered = RunAttempts(code, accept, stop);
  if (answered && acked_at_) acked_at_->store(clock_.NowMs(), std::memory_order_relaxed);
  exchange_busy = false;
  return answered;
}

bool DeviceLink::RunAttempts(std::uint8_t code, Acceptor accept, const std::atomic<bool>* stop) {
  const auto frame = MakeFrame(code);
  for (int attempt = 0; attempt < kExchangeAttempts; ++attempt) {
    if (stop && stop->load(std::memory_order_acquire)) return false;
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
    if (PollForReply(accept, stop)) return true;
  }
  return false;
}

bool DeviceLink::PollForReply(Acceptor accept, const std::atomic<bool>* stop) {
  for (int poll = 0; poll < kPollsPerAttempt; ++poll) {
    if (stop && stop->load(std::memory_order_acquire)) return false;
    if (!mailbox_.rcv_ready.load(std::memory_order_acquire)) {
      clock_.SleepMs(kPollSleepMs);
      continue;
    }
    // A wrong reply is discarded at once and the next poll comes without a sleep.
    if (TakeWaitingReply(accept)) return true;
  }
  return false;
}

bool DeviceLink::TakeWaitingReply(Acceptor accept) {
  if (!mailbox_.rcv_ready.load(std::memory_order_acquire)) return false;
  // The accepted reply stays in the slot.
  if (accept(mailbox_.rcv_buffer, mailbox_.rcv_length)) return true;
  mailbox_.rcv_ready.store(false, std::memory_order_release);
  return false;
}

}  // namespace qov::device
