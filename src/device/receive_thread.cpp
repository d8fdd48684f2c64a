#include "device/receive_thread.h"

#include <cstring>

namespace qov::device {

TComRcvThread::TComRcvThread(platform::Clock& clock, TComPort& port, RcvMailbox& mailbox)
    : clock_(clock), port_(port), mailbox_(mailbox) {}

void TComRcvThread::RequestTerminate() {
  WorkerThread::RequestTerminate();
  port_.InterruptRead();
}

void TComRcvThread::Execute() {
  std::uint8_t chunk[kMailboxSize];
  while (!Terminated()) {
    clock_.SleepMs(50);
    const std::int32_t n = port_.Read(chunk, kMailboxSize);
    if (n <= 0) continue;
    // A chunk that finds the slot taken is lost; nothing is queued.
    if (mailbox_.rcv_ready.load(std::memory_order_acquire)) continue;
    std::memcpy(mailbox_.rcv_buffer, chunk, static_cast<std::size_t>(n));
    mailbox_.rcv_length = n;
    mailbox_.rcv_ready.store(true, std::memory_order_release);
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
