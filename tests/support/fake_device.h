// A scripted watchdog device behind a FakeSerialPort: it answers each frame
// by posting a chunk straight into the receive mailbox, at once or after a
// delay on the fake clock, dropping it when the slot is taken as the receive
// thread would. No receive thread is needed.
#pragma once

#include <cstring>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "device/link_protocol.h"
#include "device/receive_thread.h"
#include "support/fake_clock.h"
#include "support/fake_serial_port.h"

namespace qov::test {

class FakeDevice {
 public:
  struct Reply {
    std::vector<std::string> chunks;  // each posted as one mailbox chunk
    platform::Tick delay_ms = 0;      // after the write, before the first chunk
  };

  FakeDevice(FakeClock& clock, FakeSerialPort& port, device::RcvMailbox& mailbox)
      : clock_(clock), mailbox_(mailbox) {
    port.on_write = [this](const std::vector<std::uint8_t>& frame) { OnFrame(frame); };
    clock_.OnSleep([this](platform::Tick now) {
      Deliver(now);
      if (on_time) on_time(now);
    });
  }

  // The answer to a command code; nullopt makes the device silent for it.
  void Answer(std::uint8_t code, std::optional<Reply> reply) { replies_[code] = std::move(reply); }
  void AnswerAll(std::optional<Reply> reply) {
    default_ = std::move(reply);
    replies_.clear();
  }
  void Silent() { AnswerAll(std::nullopt); }

  // Posts a chunk now, as if it had just been read (waking the sender).
  void Post(const std::string& chunk) {
    mailbox_.Offer(reinterpret_cast<const std::uint8_t*>(chunk.data()), static_cast<std::int32_t>(chunk.size()));
  }

  // Called after every step of a wait on the clock, after due replies were posted.
  std::function<void(platform::Tick)> on_time;

  static Reply Ack() { return {{"Z"}, 0}; }
  static Reply Lumo() { return {{"QOV Lumo 1.0.0"}, 0}; }

 private:
  struct Pending {
    platform::Tick due;
    std::string chunk;
  };

  void OnFrame(const std::vector<std::uint8_t>& frame) {
    if (frame.size() != 4) return;
    const std::uint8_t code = frame[3];
    std::optional<Reply> reply = Default(code);
    if (auto it = replies_.find(code); it != replies_.end()) reply = it->second;
    if (!reply) return;
    platform::Tick due = clock_.NowMs() + reply->delay_ms;
    for (const auto& chunk : reply->chunks) {
      pending_.push_back({due, chunk});
      due += 100;  // later chunks follow as separate reads
    }
    Deliver(clock_.NowMs());
  }

  std::optional<Reply> Default(std::uint8_t code) const {
    if (!default_) return std::nullopt;
    if (code == device::CMD_VERSION && default_->chunks == Ack().chunks) return Lumo();
    return default_;
  }

  void Deliver(platform::Tick now) {
    for (auto it = pending_.begin(); it != pending_.end();) {
      if (it->due > now) {
        ++it;
        continue;
      }
      Post(it->chunk);
      it = pending_.erase(it);
    }
  }

  FakeClock& clock_;
  device::RcvMailbox& mailbox_;
  std::optional<Reply> default_ = Ack();  // and the Lumo identification for CMD_VERSION
  std::map<std::uint8_t, std::optional<Reply>> replies_;
  std::vector<Pending> pending_;
};

}  // namespace qov::test
