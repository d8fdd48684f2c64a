#include "device/receive_thread.h"

#include <cstring>

namespace qov::device {
namespace {

constexpr std::int64_t kRetryPauseMs = 50;

}  // namespace

TComRcvThread::TComRcvThread(platform::Clock& clock, TComPort& port, RcvMailbox& mailbox)
    : clock_(clock), port_(port), mailbox_(mailbox) {}

void TComRcvThread::RequestTerminate() {
  WorkerThread::RequestTerminate();
  port_.InterruptRead();
}

bool RcvMailbox::Offer(const std::uint8_t* chunk, std::int32_t length) {
  // A chunk that finds the slot taken is lost; nothing is queued.
  if (rcv_ready.load(std::memory_order_acquire)) return false;
  std::memcpy(rcv_buffer, chunk, static_cast<std::size_t>(length));
  rcv_length = length;
  rcv_ready.store(true, std::memory_order_release);
  if (platform::WakeEvent* w = reader.load(std::memory_order_acquire)) w->Signal();
  return true;
}

void TComRcvThread::Execute() {
  std::uint8_t chunk[kMailboxSize];
  while (!Terminated()) {
    // The read blocks until a chunk has come (it ends 50 ms after its last
    // byte) or the terminate request interrupts it.
    const std::int32_t n = port_.Read(chunk, kMailboxSize);
    if (n > 0) {
      mailbox_.Offer(chunk, n);
      continue;
    }
    // A closed or failing port (or one whose reads time out) is tried again
    // after a pause, not in a tight loop.
    platform::PauseUntil(clock_, platform::DeadlineAfter(clock_.NowMs(), kRetryPauseMs), Stop());
  }
}

}  // namespace qov::device

namespace qov::device {

std::unique_ptr<TComRcvThread> StartReceiveThread(platform::Clock& clock, TComPort& port, RcvMailbox& mailbox) {
  auto thread = std::make_unique<TComRcvThread>(clock, port, mailbox);
  thread->Start();
  return thread;
}

}  // namespace qov::device
