// The rest of the simulated computer: the network the probes reach (check
// targets, the modem, the computer's own network stack), the registry whose
// unflushed writes a reset loses, the log disk and the dial program.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/file.h"
#include "platform/memory_registry.h"
#include "platform/process.h"
#include "platform/registry.h"
#include "platform/state_store.h"
#include "platform/stop_request.h"
#include "sim/sim_scheduler.h"
#include "supervision/checker.h"

namespace qov::sim {

// Targets go down and come back; a hung modem answers nothing until a modem
// reset and its boot; a hung network stack answers nothing until the
// computer restarts.
class SimNetwork final : public supervision::Probes {
 public:
  explicit SimNetwork(SimScheduler& sched) : sched_(sched) {}

  supervision::ProbeResult Http(const std::string& target, platform::StopRequest& stop) override {
    return Probe(target.substr(0, target.find('/')), supervision::kHttpProbeTimeoutMs, stop);
  }
  supervision::ProbeResult Icmp(const std::string& host, std::uint32_t timeout_ms, platform::StopRequest& stop) override {
    return Probe(host, timeout_ms, stop);
  }

  // True when `host` answers now.
  bool Reachable(const std::string& host) const {
    const Tick now = sched_.NowMs();
    if (stack_hung_ || modem_hung_ || now < modem_up_at_) return false;
    auto it = target_down_until_.find(host);
    return it == target_down_until_.end() || now >= it->second;
  }
  // True when nothing the service can do but wait brings `host` back.
  bool TargetDown(const std::string& host) const {
    auto it = target_down_until_.find(host);
    return it != target_down_until_.end() && sched_.NowMs() < it->second;
  }

  void TargetDownUntil(const std::string& host, Tick until) { target_down_until_[host] = until; }
  void HangModem() { modem_hung_ = true; }
  void HangStack() { stack_hung_ = true; }
  bool modem_hung() const { return modem_hung_; }
  bool stack_hung() const { return stack_hung_; }
  // The board reset the modem: it boots and comes back without the hang.
  void ModemReset(Tick boot_ms) {
    modem_hung_ = false;
    modem_up_at_ = sched_.NowMs() + boot_ms;
  }
  void ComputerRestarted() { stack_hung_ = false; }

 private:
  supervision::ProbeResult Probe(const std::string& host, std::uint32_t timeout_ms, platform::StopRequest& stop) {
    const bool up = Reachable(host);
    const Tick took = up ? sched_.rng().Between(5, 300) : static_cast<Tick>(timeout_ms);
    platform::PauseUntil(sched_, sched_.NowMs() + took, stop);
    if (stop.IsSet()) return {false, ""};
    if (up) return {true, {}};
    return {false, "no reply"};
  }

  SimScheduler& sched_;
  std::map<std::string, Tick> target_down_until_;
  bool modem_hung_ = false;
  bool stack_hung_ = false;
  Tick modem_up_at_ = 0;
};

// The registry of the State key: written values live in the system's cache
// until a flush puts them on the disk; a reset keeps only the disk's.
class SimRegistry final : public platform::Registry {
 public:
  explicit SimRegistry(SimScheduler& sched) : sched_(sched) {}
  bool KeyExists(const std::string& path) override { return cache_.KeyExists(path); }
  std::unique_ptr<platform::RegKey> Open(const std::string& path, bool create) override {
    auto key = cache_.Open(path, create);
    if (!key) return nullptr;
    return std::make_unique<Key>(*this, path, std::move(key));
  }
  void DeleteTree(const std::string& path) override { cache_.DeleteTree(path); }

  // A reset: what was never flushed is gone.
  void PowerCut() {
    platform::MemoryRegistry fresh;
    for (const auto& [path, values] : disk_) {
      for (const auto& [name, value] : values) fresh.Set(path, name, value);
    }
    cache_.Swap(fresh);
  }
  // While set, flushes fail (a disk that refuses the write).
  bool flushes_fail = false;
  // Until then, a flush waits this long first (a stalled disk).
  Tick stall_until = 0;
  Tick stall_ms = 0;

 private:
  class Key final : public platform::RegKey {
   public:
    Key(SimRegistry& owner, std::string path, std::unique_ptr<platform::RegKey> inner)
        : owner_(owner), path_(platform::MemoryRegistry::Normalize(path)), inner_(std::move(inner)) {}
    bool ValueExists(const std::string& name) override { return inner_->ValueExists(name); }
    std::optional<platform::RegValue> Read(const std::string& name) override { return inner_->Read(name); }
    std::vector<std::string> ValueNames() override { return inner_->ValueNames(); }
    bool WriteString(const std::string& name, const std::string& value) override {
      return inner_->WriteString(name, value);
    }
    bool WriteDword(const std::string& name, std::uint32_t value) override { return inner_->WriteDword(name, value); }
    bool Flush() override {
      if (owner_.sched_.NowMs() < owner_.stall_until) {
        platform::WakeEvent never;
        owner_.sched_.WaitUntil(owner_.sched_.NowMs() + owner_.stall_ms, never);
      }
      if (owner_.flushes_fail) return false;
      auto& disk = owner_.disk_[path_];
      disk.clear();
      for (const std::string& name : inner_->ValueNames()) {
        if (auto v = inner_->Read(name)) disk.emplace_back(name, *v);
      }
      return true;
    }

   private:
    SimRegistry& owner_;
    std::string path_;
    std::unique_ptr<platform::RegKey> inner_;
  };

  SimScheduler& sched_;
  platform::MemoryRegistry cache_;
  std::map<std::string, std::vector<std::pair<std::string, platform::RegValue>>> disk_;
};

// The disk of the log file. Writes are all or nothing, as the platform's
// file promises; the world makes the disk full (writes fail), failing
// (writes, flushes, moves and opens fail) or stalled (a write or flush
// parks its thread until the stall ends, as an SD card or a share does).
struct SimLogDisk {
  explicit SimLogDisk(SimScheduler& sched) : sched(sched) {}
  // Parks the caller while the disk stalls; true when the disk then takes writes.
  bool Usable() {
    while (sched.NowMs() < stalled_until) sched.WaitUntil(stalled_until, never);
    return !full && !failing;
  }

  SimScheduler& sched;
  platform::WakeEvent never;
  std::function<void(std::string_view)> sink;  // every write that the disk takes
  std::int64_t size = 0;
  bool full = false;
  bool failing = false;
  Tick stalled_until = 0;
};

class SimLogFile final : public platform::AppendFile {
 public:
  explicit SimLogFile(SimLogDisk& disk) : disk_(disk) {}
  bool Write(std::string_view data) override {
    if (!disk_.Usable()) return false;
    disk_.sink(data);
    disk_.size += static_cast<std::int64_t>(data.size());
    unflushed_ = true;
    return true;
  }
  // With nothing written since the last flush there is nothing to do.
  bool Flush() override {
    if (!unflushed_) return true;
    unflushed_ = false;
    const bool usable = disk_.Usable();
    return usable || !disk_.failing;  // a full disk takes no more, but keeps what it took
  }
  std::int64_t Size() override { return disk_.size; }
  bool Removed() override { return false; }

 private:
  SimLogDisk& disk_;
  bool unflushed_ = false;
};

// "rasdial": runs for a seeded time; the connection counts as up once it started.
class SimDialProcess final : public platform::ChildProcess {
 public:
  SimDialProcess(SimScheduler& sched, Tick ends_at) : sched_(sched), ends_at_(ends_at) {}
  bool Running() override { return sched_.NowMs() < ends_at_; }

 private:
  SimScheduler& sched_;
  Tick ends_at_;
};

}  // namespace qov::sim
