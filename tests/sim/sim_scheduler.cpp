#include "sim/sim_scheduler.h"

#include <pthread.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace qov::sim {
namespace {

constexpr int kSpins = 0;

// Tells the scheduler when a thread it knows ends, so the baton moves on.
struct ExitGuard {
  SimScheduler* scheduler = nullptr;
  SimThread* thread = nullptr;
  ~ExitGuard() {
    if (scheduler && thread) scheduler->OnThreadExit(thread);
  }
};
thread_local ExitGuard tls_guard;

}  // namespace

SimScheduler::SimScheduler(std::uint64_t seed, Tick start) : now_(start), rng_(seed) {}

SimScheduler::~SimScheduler() {
  if (tls_guard.scheduler == this) tls_guard = {};
}

SimThread* SimScheduler::Self() {
  if (tls_guard.scheduler == this) return tls_guard.thread;
  return Register();
}

SimThread* SimScheduler::Register() {
  std::unique_lock l(m_);
  auto t = std::make_shared<SimThread>();
  t->id = next_id_++;
  t->state = SimThread::State::kParked;
  t->deadline = std::numeric_limits<Tick>::min();
  SimThread* raw = t.get();
  threads_[raw->id] = std::move(t);
  tls_guard.scheduler = this;
  tls_guard.thread = raw;
  ++registered_;
  registered_cv_.notify_all();
  AwaitGrant(l, raw);
  return raw;
}

void SimScheduler::AdoptCallingThread(const std::string& name) {
  std::lock_guard l(m_);
  auto t = std::make_shared<SimThread>();
  t->id = next_id_++;
  t->name = name;
  SimThread* raw = t.get();
  threads_[raw->id] = std::move(t);
  tls_guard.scheduler = this;
  tls_guard.thread = raw;
  ++registered_;
  ++awaited_;
}

void SimScheduler::AwaitNewThread(const std::string& name, int group) {
  std::unique_lock l(m_);
  registered_cv_.wait(l, [this] { return registered_ > awaited_; });
  ++awaited_;
  SimThread* t = threads_.rbegin()->second.get();
  t->name = name;
  t->group = group;
}

Tick SimScheduler::NowMs() {
  Self();
  std::lock_guard l(m_);
  return now_;
}

bool SimScheduler::WaitUntil(Tick deadline, platform::WakeEvent& wake) {
  SimThread* self = Self();
  std::unique_lock l(m_);
  self->state = SimThread::State::kParked;
  self->deadline = deadline;
  self->wake = &wake;
  self->signalled = false;
  const int back = self->return_to;
  self->return_to = -1;
  PassBaton(l, back);
  AwaitGrant(l, self);
  const bool woken = self->signalled;
  self->signalled = false;
  self->wake = nullptr;
  return woken;
}

void SimScheduler::NotifyGranted(std::unique_lock<std::mutex>& l) {
  std::shared_ptr<SimThread> t = std::move(to_notify_);
  if (!t) return;
  l.unlock();
  t->cv.notify_one();
  l.lock();
}

void SimScheduler::AwaitGrant(std::unique_lock<std::mutex>& l, SimThread* self) {
  NotifyGranted(l);
  if (!self->granted.load(std::memory_order_acquire)) {
    l.unlock();
    for (int i = 0; i < kSpins && !self->granted.load(std::memory_order_acquire); ++i) {
#if defined(__x86_64__) || defined(__i386__)
      __builtin_ia32_pause();
#endif
    }
    l.lock();
    self->sleeping = true;
    self->cv.wait(l, [self] { return self->granted.load(std::memory_order_relaxed); });
    self->sleeping = false;
  }
  self->granted.store(false, std::memory_order_relaxed);
  self->state = SimThread::State::kRunning;
  if (self->killed) {
    l.unlock();
    // A power cut: the thread ends where it waits; its exit guard passes the baton back.
    pthread_exit(nullptr);
  }
}

void SimScheduler::Grant(SimThread* t) {
  ++switches_;
  t->granted.store(true, std::memory_order_release);
  if (t->sleeping) to_notify_ = threads_.at(t->id);
}

void SimScheduler::RunDueEvents(std::unique_lock<std::mutex>& l) {
  while (!events_.empty() && events_.begin()->first.first <= now_) {
    auto fn = std::move(events_.begin()->second);
    events_.erase(events_.begin());
    l.unlock();
    fn();
    l.lock();
  }
}

void SimScheduler::PassBaton(std::unique_lock<std::mutex>& l, int return_to) {
  ++turns_;
  if (return_to >= 0) {
    if (auto it = threads_.find(return_to); it != threads_.end()) {
      Grant(it->second.get());
      return;
    }
  }
  std::vector<SimThread*> ready;
  for (;;) {
    RunDueEvents(l);
    ready.clear();
    Tick earliest = kForever;
    for (auto& [id, t] : threads_) {
      if (t->state != SimThread::State::kParked || t->frozen || t->in_handoff_wait) continue;
      // Nothing else runs now, so the signal may be taken on its behalf.
      if (!t->signalled && t->wake && t->wake->TryTake()) t->signalled = true;
      if (t->signalled || t->deadline <= now_) {
        ready.push_back(t.get());
      } else {
        earliest = std::min(earliest, t->deadline);
      }
    }
    if (!ready.empty()) {
      Grant(ready[rng_.Next() % ready.size()]);
      return;
    }
    const Tick next_event = events_.empty() ? kForever : events_.begin()->first.first;
    const Tick next = std::min(earliest, next_event);
    if (next == kForever) {
      std::fprintf(stderr, "simulate: deadlock: no thread can ever run again at t=%lld ms\n",
                   static_cast<long long>(now_));
      std::abort();
    }
    now_ = std::max(now_, next);
  }
}

void SimScheduler::HandOff(int id) {
  SimThread* self = Self();
  std::unique_lock l(m_);
  auto it = threads_.find(id);
  if (it == threads_.end() || it->second->state != SimThread::State::kParked || it == threads_.find(self->id)) return;
  SimThread* t = it->second.get();
  t->return_to = self->id;
  self->state = SimThread::State::kParked;
  self->in_handoff_wait = true;
  self->wake = nullptr;
  self->deadline = kForever;
  if (!t->signalled && t->wake && t->wake->TryTake()) t->signalled = true;
  Grant(t);
  AwaitGrant(l, self);
  self->in_handoff_wait = false;
}

void SimScheduler::Freeze(int group) {
  std::lock_guard l(m_);
  for (auto& [id, t] : threads_) {
    if (t->group == group) t->frozen = true;
  }
}

void SimScheduler::KillGroup(int group) {
  std::vector<int> ids;
  {
    std::lock_guard l(m_);
    for (auto& [id, t] : threads_) {
      if (t->group == group && t->state == SimThread::State::kParked) {
        t->frozen = true;
        t->killed = true;
        ids.push_back(id);
      }
    }
  }
  for (const int id : ids) HandOff(id);
}

void SimScheduler::OnThreadExit(SimThread* self) {
  std::unique_lock l(m_);
  const int back = self->return_to;
  threads_.erase(self->id);
  tls_guard = {};
  for (platform::WakeEvent* w : exit_listeners_) w->Signal();
  PassBaton(l, back);
  NotifyGranted(l);
}

void SimScheduler::At(Tick when, std::function<void()> fn) {
  std::lock_guard l(m_);
  events_.emplace(std::make_pair(std::max(when, now_), event_seq_++), std::move(fn));
}

void SimScheduler::ListenForExits(platform::WakeEvent* wake) {
  std::lock_guard l(m_);
  exit_listeners_.push_back(wake);
}

void SimScheduler::StopListening(platform::WakeEvent* wake) {
  std::lock_guard l(m_);
  std::erase(exit_listeners_, wake);
}

int SimScheduler::Enter() { return Self()->id; }

int SimScheduler::CurrentId() const {
  return tls_guard.scheduler == this && tls_guard.thread ? tls_guard.thread->id : -1;
}

std::string SimScheduler::NameOf(int id) {
  std::lock_guard l(m_);
  auto it = threads_.find(id);
  return it == threads_.end() ? std::string("?") : it->second->name;
}

std::string SimScheduler::LiveThreadsOf(int group) {
  std::lock_guard l(m_);
  std::string names;
  for (const auto& [id, t] : threads_) {
    if (t->group == group) names += (names.empty() ? "" : ", ") + t->name;
  }
  return names;
}

bool SimScheduler::Parked(int id) {
  std::lock_guard l(m_);
  auto it = threads_.find(id);
  return it != threads_.end() && it->second->state == SimThread::State::kParked;
}

}  // namespace qov::sim
