// The watchdog board behind a simulated serial port: identification, timer
// start and stop, acknowledgements after a seeded latency, and its own
// timer, which resets the computer when it is not fed within its time-out.
// Faults: silent (takes nothing in, answers nothing, its timer runs on),
// late (answers after the exchange gave up), junk (stray chunks before the
// answers), unplugged (the port is gone and the board without power).
#pragma once

#include <cstdint>
#include <cstring>
#include <deque>
#include <functional>
#include <memory>
#include <string>

#include "device/link_protocol.h"
#include "platform/serial_port.h"
#include "platform/wake_event.h"
#include "sim/sim_scheduler.h"
#include "sim/sim_trace.h"

namespace qov::sim {

class SimBoard {
 public:
  enum class Mode { kNormal, kSilent, kLate, kJunk };

  SimBoard(SimScheduler& sched, Trace& trace, Tick timeout_ms) : sched_(sched), trace_(trace), timeout_ms_(timeout_ms) {}

  // The world's hooks: the board resets the computer (its timer ran out, or
  // the reset command), or the modem.
  std::function<void(const std::string& why)> reset_computer;
  std::function<void()> reset_modem;
  // Each life message the board takes while its timer runs, with the time.
  std::function<void(Tick)> on_life;
  // Every frame that reaches the line, taken or not.
  std::function<void(std::uint8_t)> on_frame;

  // -- The port side (the service's threads, one at a time).
  bool Present() const { return plugged_; }
  bool Open() {
    if (!plugged_) return false;
    open_ = true;
    interrupted_ = false;
    reader_id_ = -1;
    rx_.clear();
    ++open_generation_;
    return true;
  }
  void Close() {
    open_ = false;
    rx_.clear();
  }
  bool IsOpen() const { return open_; }
  std::int32_t Read(std::uint8_t* buffer, std::int32_t count) {
    reader_id_ = sched_.Enter();
    for (;;) {
      if (interrupted_) return 0;
      if (!plugged_) return -2;
      if (!rx_.empty()) {
        const std::string chunk = std::move(rx_.front());
        rx_.pop_front();
        const auto n = std::min<std::int32_t>(count, static_cast<std::int32_t>(chunk.size()));
        std::memcpy(buffer, chunk.data(), static_cast<std::size_t>(n));
        return n;
      }
      sched_.WaitUntil(kForever, rx_event_);
    }
  }
  std::int32_t Write(const std::uint8_t* buffer, std::int32_t count) {
    if (!plugged_) return -2;
    if (count != 4 || std::memcmp(buffer, "QOV", 3) != 0) return count;
    if (on_frame) on_frame(buffer[3]);
    Take(buffer[3]);
    return count;
  }
  void InterruptRead() {
    interrupted_ = true;
    rx_event_.Signal();
    // The reader ends its read now, before the caller goes on (a real read
    // returns at once, on its own thread).
    if (reader_id_ >= 0 && sched_.Parked(reader_id_)) sched_.HandOff(reader_id_);
  }

  // -- The world's side.
  void SetMode(Mode m) { mode_ = m; }
  Mode mode() const { return mode_; }
  void Unplug() {
    plugged_ = false;
    StopTimer();
    rx_event_.Signal();
  }
  void Replug() { plugged_ = true; }
  bool plugged() const { return plugged_; }
  // The computer went down: the port is closed, and the board, having reset
  // it, waits for a new timer start.
  void ComputerReset() {
    Close();
    StopTimer();
  }
  bool timer_running() const { return timer_running_; }
  int timer_starts() const { return timer_starts_; }
  int timer_stops() const { return timer_stops_; }

 private:
  void Take(std::uint8_t code) {
    if (mode_ == Mode::kSilent) return;
    switch (code) {
      case device::CMD_VERSION:
        break;
      case device::CMD_TIMER_INIT:
        timer_running_ = true;
        ++timer_starts_;
        Feed();
        break;
      case device::CMD_LIFE_MESSAGE:
        if (timer_running_) {
          if (on_life) on_life(sched_.NowMs());
          Feed();
        }
        break;
      case device::CMD_TIMER_STOP:
        ++timer_stops_;
        StopTimer();
        break;
      case device::CMD_MODEM_RESET:
        if (reset_modem) reset_modem();
        break;
      case device::CMD_PC_RESET:
        // After the acknowledgement has gone out.
        sched_.At(sched_.NowMs() + 300, [this] {
          if (reset_computer) reset_computer("reset command");
        });
        break;
      default:
        return;
    }
    const Tick latency = mode_ == Mode::kLate ? sched_.rng().Between(400, 3000) : sched_.rng().Between(1, 120);
    if (mode_ == Mode::kJunk && sched_.rng().Chance(0.5)) Reply("\x7fjunk", latency / 2);
    Reply(code == device::CMD_VERSION ? std::string("QOV Lumo 2.4.1 sim") : std::string("Z"), latency);
  }
  void Reply(std::string chunk, Tick latency) {
    sched_.At(sched_.NowMs() + latency, [this, chunk = std::move(chunk), gen = open_generation_] {
      if (!open_ || !plugged_ || gen != open_generation_) return;
      rx_.push_back(chunk);
      rx_event_.Signal();
    });
  }
  void Feed() {
    const std::uint64_t gen = ++feed_generation_;
    sched_.At(sched_.NowMs() + timeout_ms_, [this, gen] {
      if (gen != feed_generation_ || !timer_running_) return;
      timer_running_ = false;
      trace_.Add(sched_.NowMs(), "board", "timer ran out");
      if (reset_computer) reset_computer("board timer ran out");
    });
  }
  void StopTimer() {
    timer_running_ = false;
    ++feed_generation_;
  }

  SimScheduler& sched_;
  Trace& trace_;
  Tick timeout_ms_;
  Mode mode_ = Mode::kNormal;
  bool plugged_ = true;
  bool open_ = false;
  bool interrupted_ = false;
  int reader_id_ = -1;
  std::uint64_t open_generation_ = 0;
  std::uint64_t feed_generation_ = 0;
  bool timer_running_ = false;
  int timer_starts_ = 0;
  int timer_stops_ = 0;
  std::deque<std::string> rx_;
  platform::WakeEvent rx_event_;
};

// The serial port the service's TComPort owns, wired to the board.
class SimSerialPort final : public platform::SerialPort {
 public:
  explicit SimSerialPort(SimBoard& board) : board_(board) {}
  bool Open(std::int32_t, const std::string&) override { return board_.Open(); }
  void Close() override { board_.Close(); }
  bool IsOpen() const override { return board_.IsOpen(); }
  std::int32_t Read(std::uint8_t* buffer, std::int32_t count) override { return board_.Read(buffer, count); }
  std::int32_t Write(const std::uint8_t* buffer, std::int32_t count) override { return board_.Write(buffer, count); }
  void InterruptRead() override { board_.InterruptRead(); }

 private:
  SimBoard& board_;
};

}  // namespace qov::sim
