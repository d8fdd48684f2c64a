#include "platform/memory_control_queue.h"

namespace qov::platform {

void MemoryControlQueue::Create() {
  std::lock_guard lock(mutex_);
  created_ = true;
}

bool MemoryControlQueue::Created() {
  std::lock_guard lock(mutex_);
  return created_;
}

bool MemoryControlQueue::Post(std::uint32_t code) { return Push({Taken::Control, code}); }
void MemoryControlQueue::PostOther() { Push({Taken::Other, 0}); }
void MemoryControlQueue::PostQuit() { Push({Taken::Quit, 0}); }

bool MemoryControlQueue::Push(Message m) {
  {
    std::lock_guard lock(mutex_);
    if (!created_) return false;
    messages_.push_back(m);
  }
  arrived_.notify_all();
  return true;
}

ControlQueue::Taken MemoryControlQueue::Next(bool wait, std::uint32_t& code) {
  std::unique_lock lock(mutex_);
  if (wait) arrived_.wait(lock, [this] { return !messages_.empty(); });
  if (messages_.empty()) return Taken::Empty;
  const Message m = messages_.front();
  messages_.pop_front();
  // Only a waiting take ends at a quit; a peek passes it on like any other message.
  if (m.kind == Taken::Quit && !wait) return Taken::Other;
  code = m.code;
  return m.kind;
}

}  // namespace qov::platform
