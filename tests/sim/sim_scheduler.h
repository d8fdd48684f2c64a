// The simulator's clock and scheduler in one: every thread of the service
// that waits does so through WaitUntil, which parks the caller and hands the
// one baton on, so exactly one of the service's threads runs at a time. The
// next to run is picked by the seed among the parked threads whose deadline
// is due or whose event is signalled; when none can run, virtual time jumps
// to the earliest deadline or world event. Same seed, same interleaving.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <limits>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/wake_event.h"

namespace qov::sim {

using platform::Tick;
struct SimThread;
inline constexpr Tick kForever = std::numeric_limits<Tick>::max();

// Seeded pseudo-random numbers (splitmix64): the same on every platform.
class Rng {
 public:
  explicit Rng(std::uint64_t seed) : state_(seed) {}
  std::uint64_t Next() {
    std::uint64_t z = (state_ += 0x9e3779b97f4a7c15ULL);
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
    return z ^ (z >> 31);
  }
  // In [lo, hi].
  std::int64_t Between(std::int64_t lo, std::int64_t hi) {
    return lo + static_cast<std::int64_t>(Next() % static_cast<std::uint64_t>(hi - lo + 1));
  }
  bool Chance(double p) { return static_cast<double>(Next() >> 11) * 0x1.0p-53 < p; }

 private:
  std::uint64_t state_;
};

class SimScheduler final : public platform::Clock {
 public:
  SimScheduler(std::uint64_t seed, Tick start);
  ~SimScheduler() override;

  // An unknown thread's first call registers it and parks it until its turn.
  Tick NowMs() override;
  bool WaitUntil(Tick deadline, platform::WakeEvent& wake) override;
  void WaitForSignal(platform::WakeEvent& wake) override { WaitUntil(kForever, wake); }

  // The calling (main) thread becomes the first holder of the baton.
  void AdoptCallingThread(const std::string& name);
  // After starting an OS thread: waits until it has registered (its first
  // clock call), names it and returns; the new thread is then parked.
  void AwaitNewThread(const std::string& name, int group);
  // Runs thread `id` now and returns when it parks again or ends; for a
  // wake-up the caller has just signalled (an interrupted read).
  void HandOff(int id);
  // Never picks the threads of `group` again (a power cut), then ends each
  // of them in turn where it waits (pthread_exit unwinds its stack).
  void Freeze(int group);
  void KillGroup(int group);

  // A world event at `when` (the board's reply, a target going down): run
  // between two turns, on whichever thread holds the baton.
  void At(Tick when, std::function<void()> fn);
  // Signalled whenever a thread ends (joins wait on it through WaitUntil).
  void ListenForExits(platform::WakeEvent* wake);
  void StopListening(platform::WakeEvent* wake);

  int CurrentId() const;
  // Registers the calling thread when it is new (parking it until its turn); its id.
  int Enter();
  std::string NameOf(int id);
  // The names of the threads of `group` that have not ended, for a report.
  std::string LiveThreadsOf(int group);
  bool Parked(int id);
  Rng& rng() { return rng_; }
  std::uint64_t Turns() const { return turns_; }
  std::uint64_t Switches() const { return switches_; }

  // Called by a thread's exit guard.
  void OnThreadExit(SimThread* self);

 private:
  SimThread* Self();
  SimThread* Register();
  // With m_ held by the thread that parks or ends: grants the baton to the
  // next thread, running world events and moving time as needed.
  void PassBaton(std::unique_lock<std::mutex>& l, int return_to);
  void Grant(SimThread* t);
  void AwaitGrant(std::unique_lock<std::mutex>& l, SimThread* self);
  // With m_ held: lets go of it, wakes the thread granted last, takes m_ again.
  void NotifyGranted(std::unique_lock<std::mutex>& l);
  void RunDueEvents(std::unique_lock<std::mutex>& l);

  struct Event {
    Tick when;
    std::uint64_t seq;
    std::function<void()> fn;
  };

  mutable std::mutex m_;
  std::condition_variable registered_cv_;
  std::map<int, std::shared_ptr<SimThread>> threads_;
  // The thread just granted the baton while it slept: woken by the granter
  // once it has let go of m_, so that it does not wake only to wait for m_.
  std::shared_ptr<SimThread> to_notify_;
  int next_id_ = 0;
  int registered_ = 0;
  int awaited_ = 0;
  Tick now_;
  Rng rng_;
  std::multimap<std::pair<Tick, std::uint64_t>, std::function<void()>> events_;
  std::uint64_t event_seq_ = 0;
  std::vector<platform::WakeEvent*> exit_listeners_;
  std::uint64_t turns_ = 0;
  std::uint64_t switches_ = 0;
};

struct SimThread {
  int id = 0;
  int group = 0;
  std::string name;
  enum class State { kRunning, kParked } state = State::kRunning;
  Tick deadline = 0;
  platform::WakeEvent* wake = nullptr;
  bool signalled = false;  // the wake taken on its behalf while parked
  // Set under the scheduler's mutex; read spinning without it for a moment
  // before the thread sleeps, which saves most sleeps of a quick exchange.
  std::atomic<bool> granted{false};
  bool sleeping = false;
  bool frozen = false;
  bool killed = false;
  bool in_handoff_wait = false;  // parked in HandOff: only its return wakes it
  int return_to = -1;            // gets the baton back when this one parks or ends
  std::condition_variable cv;
};

}  // namespace qov::sim
