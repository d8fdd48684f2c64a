#include "support/fuzz_bodies.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iterator>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "config/config_loader.h"
#include "config/log_writer.h"
#include "device/com_port.h"
#include "device/link_protocol.h"
#include "device/receive_thread.h"
#include "platform/command_line.h"
#include "platform/file.h"
#include "platform/memory_registry.h"
#include "platform/perf_data.h"
#include "platform/regedit_file.h"
#include "platform/serial_port.h"
#include "service/service_application.h"
#include "supervision/check_address.h"
#include "supervision/http_rules.h"
#include "supervision/sys_load.h"
#include "support/fake_clock.h"
#include "support/fake_serial_port.h"
#include "support/temp_dir.h"

namespace qov::test {
namespace {

FuzzFailureHandler g_failure_handler = nullptr;

void Check(bool ok, const char* what) {
  if (ok) return;
  if (g_failure_handler) g_failure_handler(what);
  std::fprintf(stderr, "fuzz check failed: %s\n", what);
  std::abort();
}

// Reads the input front to back; past its end every read gives zeros, so a
// short input is still a whole case.
class FuzzInput {
 public:
  FuzzInput(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

  bool Empty() const { return pos_ >= size_; }
  std::size_t Remaining() const { return size_ - pos_; }

  std::uint8_t Byte() { return pos_ < size_ ? data_[pos_++] : 0; }
  std::uint16_t U16() { return static_cast<std::uint16_t>(Byte() | Byte() << 8); }
  std::uint32_t U32() { return U16() | static_cast<std::uint32_t>(U16()) << 16; }
  std::uint64_t U64() { return U32() | static_cast<std::uint64_t>(U32()) << 32; }

  // Up to `n` bytes, fewer at the end of the input.
  std::string Bytes(std::size_t n) {
    n = std::min(n, Remaining());
    std::string out(reinterpret_cast<const char*>(data_) + pos_, n);
    pos_ += n;
    return out;
  }
  std::string RestText() { return Bytes(Remaining()); }
  std::vector<std::uint8_t> RestBytes() {
    std::vector<std::uint8_t> out(data_ + pos_, data_ + size_);
    pos_ = size_;
    return out;
  }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t pos_ = 0;
};

char AsciiLower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool AsciiEqualIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (AsciiLower(a[i]) != AsciiLower(b[i])) return false;
  }
  return true;
}

bool AllAlnum(std::string_view s) {
  return std::all_of(s.begin(), s.end(), [](char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
  });
}

// ---------------------------------------------------------------------------
// Performance data

// 100 - idle share, checked where the figures are sane: idle time within
// the elapsed time, no overflow in idle x 100.
void CheckUsage(const std::uint64_t u[4]) {
  const std::int32_t raw = supervision::UsagePercent(u[0], u[1], u[2], u[3]);
  if (u[2] == u[3]) Check(raw == 0, "usage is 0 when no time passed");
  const auto d_idle = static_cast<std::int64_t>(u[1] - u[0]);
  const auto d_time = static_cast<std::int64_t>(u[3] - u[2]);
  if (d_time > 0 && d_time <= std::numeric_limits<std::int64_t>::max() / 100 && d_idle >= 0 && d_idle <= d_time) {
    Check(raw == 100 - d_idle * 100 / d_time, "usage is 100 - idle share");
  }
  // The same with figures forced sane, so every input checks the formula.
  const std::uint64_t dt = u[3] % (std::uint64_t{1} << 40) + 1;
  const std::uint64_t di = u[1] % (dt + 1);
  const std::int32_t sane = supervision::UsagePercent(u[0], u[0] + di, u[2], u[2] + dt);
  Check(sane >= 0 && sane <= 100, "usage within 0..100 for idle time within the elapsed time");
  Check(sane == 100 - static_cast<std::int32_t>(di * 100 / dt), "usage truncates the idle share towards zero");
}

bool IsLeapYear(std::int64_t y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

// Days since 1601-01-01 by counting leap years, independent of the
// era arithmetic under test.
std::int64_t DaysSince1601(std::int64_t year, std::int64_t month, std::int64_t day) {
  static constexpr std::int64_t kBeforeMonth[12] = {0, 31, 59, 90, 120, 151, 181, 212, 243, 273, 304, 334};
  const auto leaps = [](std::int64_t y) { return y / 4 - y / 100 + y / 400; };
  std::int64_t days = (year - 1601) * 365 + leaps(year - 1) - leaps(1600);
  days += kBeforeMonth[month - 1] + (month > 2 && IsLeapYear(year) ? 1 : 0) + day - 1;
  return days;
}

void CheckSystemTime(const std::uint16_t raw[8]) {
  (void)platform::SystemTimeTo100ns(raw);  // any fields: no overflow, no fault
  static constexpr std::int64_t kMonthDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  std::uint16_t f[8];
  f[0] = static_cast<std::uint16_t>(1601 + raw[0] % (30827 - 1601 + 1));
  f[1] = static_cast<std::uint16_t>(1 + raw[1] % 12);
  f[2] = raw[2];  // the weekday takes no part
  const std::int64_t month_days = kMonthDays[f[1] - 1] + (f[1] == 2 && IsLeapYear(f[0]) ? 1 : 0);
  f[3] = static_cast<std::uint16_t>(1 + raw[3] % month_days);
  f[4] = static_cast<std::uint16_t>(raw[4] % 24);
  f[5] = static_cast<std::uint16_t>(raw[5] % 60);
  f[6] = static_cast<std::uint16_t>(raw[6] % 60);
  f[7] = static_cast<std::uint16_t>(raw[7] % 1000);
  const std::int64_t days = DaysSince1601(f[0], f[1], f[3]);
  const std::int64_t ms = (((days * 24 + f[4]) * 60 + f[5]) * 60 + f[6]) * 1000 + f[7];
  Check(platform::SystemTimeTo100ns(f) == static_cast<std::uint64_t>(ms) * 10000u,
        "a valid SYSTEMTIME gives its 100-ns count since 1601-01-01");
}

}  // namespace

void FuzzPerfData(const std::uint8_t* data, std::size_t size) {
  using platform::SampleStatus;
  FuzzInput in(data, size);
  const std::uint8_t mode = in.Byte();
  const std::uint8_t instance_byte = in.Byte();
  std::uint64_t usage[4];
  for (auto& u : usage) u = in.U64();
  std::uint16_t fields[8];
  for (auto& f : fields) f = in.U16();
  // Exactly the block's size, so that a read past its end is a fault.
  const std::vector<std::uint8_t> block = in.RestBytes();

  CheckUsage(usage);
  CheckSystemTime(fields);

  // The walk alone: -1 takes the object's count, as the first sample does;
  // a small count stands for a later sample's.
  const std::int32_t instances = (instance_byte & 0x80) ? -1 : instance_byte & 0x0F;
  std::int32_t found = -7;
  platform::PerfReading reading;
  const SampleStatus status = platform::WalkProcessorData(block, instances, found, reading);
  Check(status != SampleStatus::kQueryFailed, "the walk never reports a failed query");
  if (status == SampleStatus::kOk || status == SampleStatus::kNoCpuCounter) {
    Check(found >= 0 && static_cast<std::size_t>(found) <= block.size() / 28, "instance count bounded by the block");
  }
  if (status == SampleStatus::kOk) {
    const std::int32_t want = instances < 0 ? found : instances;
    Check(reading.values.size() == static_cast<std::size_t>(want), "one value per instance read");
  }

  // The sampler over a query that answers with the block once the buffer
  // holds `required` bytes, and fails every later query when mode bit 0 is set.
  const bool later_queries_fail = (mode & 1) != 0;
  const std::size_t required = block.size() + ((mode >> 1) & 7) * supervision::kPerfBufferStep;
  int sample = 0;
  supervision::CpuSampler sampler([&](std::uint8_t* buffer, std::uint32_t capacity) -> std::int32_t {
    if (later_queries_fail && sample > 0) return 5;  // access denied
    if (capacity < required) return platform::kErrorMoreData;
    if (!block.empty()) std::memcpy(buffer, block.data(), block.size());
    return 0;
  });
  std::int32_t count = -2;
  const SampleStatus first = sampler.InstanceCount(count);
  const std::uint32_t buffer_size = sampler.BufferSize();
  Check(buffer_size <= supervision::kPerfBufferLimit, "buffer within its limit");
  Check(buffer_size >= required, "buffer grown until the data fit");
  Check(buffer_size == supervision::kPerfBufferStart || buffer_size - required < supervision::kPerfBufferStep,
        "buffer grown in steps of 4096, no further than needed");
  // The sampler walks its whole buffer: the block and zeros behind it.
  std::vector<std::uint8_t> padded(block);
  padded.resize(buffer_size, 0);
  std::int32_t padded_found = -1;
  platform::PerfReading padded_reading;
  const SampleStatus padded_status = platform::WalkProcessorData(padded, -1, padded_found, padded_reading);
  Check(first == padded_status, "the first sample reports its walk's status");
  Check(count == (padded_status == SampleStatus::kNoProcessorObject ? -1 : padded_found),
        "the instance count is the first walk's");

  sample = 1;
  const SampleStatus second = sampler.TakeSample();
  if (later_queries_fail) Check(second == SampleStatus::kQueryFailed, "a failed query is a failed sample");
  std::int32_t count_again = -2;
  sampler.InstanceCount(count_again);
  Check(count_again == count, "the instance count stays once known");
  for (const std::int32_t index : {-1, 0, count - 1, count, count + 7, std::numeric_limits<std::int32_t>::max()}) {
    std::int32_t cpu = -12345;
    sampler.CpuUsage(index, cpu);
    if (index < 0 || index >= count) Check(cpu == 0, "usage of an index out of range is 0");
    if (!later_queries_fail && first == SampleStatus::kOk && index >= 0 && index < count) {
      Check(cpu == 0, "two samples with one time stamp give 0");
    }
  }
}

// ---------------------------------------------------------------------------
// Device link

namespace {

bool RefIsIdentification(std::string_view chunk) {
  return (chunk.size() >= 14 && chunk.starts_with("QOV Lumo ")) ||
         (chunk.size() >= 18 && chunk.starts_with("QOV Vesperin "));
}
bool RefIsAcknowledgement(std::string_view chunk) { return chunk == "Z"; }

// Runs the receive thread's own body for exactly one pass on the calling
// thread: its clock asks the thread to end at the pass's sleep, so the body
// reads once, posts what it read, and returns.
class OnePassClock final : public platform::Clock {
 public:
  explicit OnePassClock(platform::Clock& time) : time_(time) {}
  platform::Tick NowMs() override { return time_.NowMs(); }
  // The pass ends at the thread's first wait: after a read that found nothing.
  bool WaitUntil(platform::Tick, platform::WakeEvent&) override {
    if (thread_) thread_->RequestTerminate();
    return true;
  }
  void Pass(device::TComPort& port, device::RcvMailbox& mailbox) {
    device::TComRcvThread thread(*this, port, mailbox);
    thread_ = &thread;
    thread.RunHere();
    thread_ = nullptr;
  }

 private:
  platform::Clock& time_;
  device::TComRcvThread* thread_ = nullptr;
};

// A reply chunk: the real answers, near misses, or raw bytes (longer ones
// than a read takes included).
std::string TakeChunk(FuzzInput& in) {
  switch (in.Byte() % 8) {
    case 0:
      return "QOV Lumo 1.0.0";
    case 1:
      return "Z";
    case 2:
      return "QOV Vesperin 2.1.0";
    case 3:
      return "QOV Lumo 1.0";  // one byte short
    case 4:
      return "ZZ";
    default:
      return in.Bytes(in.Byte());
  }
}

constexpr std::uint8_t kCommandCodes[8] = {device::CMD_MODEM_RESET, device::CMD_TIMER_INIT, device::CMD_TIMER_STOP,
                                           device::CMD_LIFE_MESSAGE, device::CMD_PC_RESET, 0, 255, 'Z'};

}  // namespace

void FuzzDeviceLink(const std::uint8_t* data, std::size_t size) {
  FuzzInput in(data, size);
  FakeClock clock;
  auto owned_port = std::make_unique<FakeSerialPort>(clock);
  FakeSerialPort& port = *owned_port;
  device::TComPort com(std::move(owned_port));
  const std::uint8_t setup = in.Byte();
  bool open = (setup & 7) != 0;
  if (open) Check(com.Open(9600, "fuzz"), "the fake port opens");
  port.idle_read_result = (setup & 8) ? -2 : 0;

  device::RcvMailbox mailbox;
  // A fresh stop request and link for each exchange, so a stop never carries over.
  auto stop = std::make_unique<platform::StopRequest>();
  auto link = std::make_unique<device::DeviceLink>(clock, com, mailbox, *stop);
  OnePassClock receive_clock(clock);
  long sleeps = 0;
  long stop_at = -1;
  bool any_identification = false;  // a chunk a read could return whole enough to be accepted
  bool any_acknowledgement = false;

  const auto queue = [&](const std::string& chunk) {
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(chunk.data());
    const auto length = static_cast<std::int32_t>(chunk.size());
    Check(device::IsIdentification(bytes, length) == RefIsIdentification(chunk), "identification classifier");
    Check(device::IsAcknowledgement(bytes, length) == RefIsAcknowledgement(chunk), "acknowledgement classifier");
    const std::string_view read = std::string_view(chunk).substr(0, device::kMailboxSize);
    any_identification = any_identification || RefIsIdentification(read);
    any_acknowledgement = any_acknowledgement || RefIsAcknowledgement(read);
    port.QueueChunk(chunk);
  };
  // The device answers a frame with zero to three chunks.
  port.on_write = [&](const std::vector<std::uint8_t>&) {
    for (int n = in.Byte() % 4; n > 0; --n) queue(TakeChunk(in));
  };
  // While the link sleeps, the receive thread makes zero to three passes.
  clock.OnSleep([&](platform::Tick) {
    ++sleeps;
    if (stop_at >= 0 && sleeps >= stop_at) stop->Set();
    const int passes = in.Empty() ? 1 : in.Byte() % 4;
    for (int i = 0; i < passes; ++i) receive_clock.Pass(com, mailbox);
  });

  constexpr platform::Tick kLongestExchangeMs =
      device::kExchangeAttempts * device::kAttemptWaitMs + platform::kWriteTimeoutMs;
  for (int exchange = 0; exchange < 6 && !in.Empty(); ++exchange) {
    const std::uint8_t op = in.Byte();
    if (op & 0x40) {
      if (open) {
        com.Close();
      } else {
        Check(com.Open(9600, "fuzz"), "the fake port reopens");
      }
      open = !open;
    }
    port.writes_block = (op & 0x30) == 0x30;
    if (op & 0x80) queue(TakeChunk(in));  // left over from before the exchange
    const bool version = (op & 1) != 0;
    link.reset();
    stop = std::make_unique<platform::StopRequest>();
    link = std::make_unique<device::DeviceLink>(clock, com, mailbox, *stop);
    sleeps = 0;
    stop_at = version && (op & 0x08) ? in.Byte() % 48 : -1;
    if (stop_at == 0) stop->Set();
    const std::uint8_t code = version ? device::CMD_VERSION : kCommandCodes[(op >> 1) & 7];

    const std::size_t frames_before = port.WrittenFrames().size();
    const int blocked_before = port.BlockedWrites();
    const platform::Tick start = clock.NowMs();
    const bool ok = version ? link->CheckDeviceVersion() : link->SendDeviceCommand(code);
    const auto frames = port.WrittenFrames();
    const std::size_t sent = frames.size() - frames_before;

    Check(!link->exchange_busy, "the link is free after an exchange");
    Check(sent <= static_cast<std::size_t>(device::kExchangeAttempts), "at most five frames per exchange");
    const auto frame = device::MakeFrame(code);
    for (std::size_t i = frames_before; i < frames.size(); ++i) {
      Check(frames[i].bytes == std::vector<std::uint8_t>(frame.begin(), frame.end()), "every frame is QOV + code");
    }
    Check(clock.NowMs() - start <= kLongestExchangeMs, "an exchange ends within its attempts' polls");
    if (ok) {
      Check(sent >= 1, "a reply is accepted only after a frame went out");
      Check(mailbox.rcv_ready.load(std::memory_order_acquire), "the accepted reply stays in the slot");
      Check(mailbox.rcv_length >= 1 && mailbox.rcv_length <= device::kMailboxSize, "the slot holds one read");
      const std::string_view reply(reinterpret_cast<const char*>(mailbox.rcv_buffer),
                                   static_cast<std::size_t>(mailbox.rcv_length));
      Check(version ? RefIsIdentification(reply) : RefIsAcknowledgement(reply), "the slot holds an accepted reply");
      Check(version ? any_identification : any_acknowledgement, "an accepted reply came from the device");
    }
    if (!open) Check(!ok && sent == 0, "no port, no exchange");
    if (open && port.writes_block && stop_at != 0) {
      Check(!ok && sent == 0 && port.BlockedWrites() == blocked_before + 1,
            "a write that cannot go out ends the exchange at once");
    }
    if (stop_at == 0) Check(!ok && sent == 0, "an identification asked to stop sends nothing");
  }
  port.on_write = nullptr;
  clock.OnSleep(nullptr);
}

// ---------------------------------------------------------------------------
// Check addresses and the URL rule

void FuzzCheckAddress(const std::uint8_t* data, std::size_t size) {
  const std::string entry(reinterpret_cast<const char*>(data), size);
  const supervision::CheckAddress parsed = supervision::ParseCheckAddress(entry);
  const std::string word = entry.substr(0, 4);
  const std::string after = entry.size() > 7 ? entry.substr(7) : std::string();
  if (word == "HTTP") {
    Check(parsed.method == supervision::ProbeMethod::kHttp && parsed.target == after, "HTTP - target");
  } else if (word == "ICMP") {
    Check(parsed.method == supervision::ProbeMethod::kIcmp && parsed.target == after, "ICMP - target");
  } else {
    Check(parsed.method == supervision::ProbeMethod::kIcmp && parsed.target == entry, "anything else is pinged whole");
  }

  for (const std::string* target : {&parsed.target, &entry}) {
    const std::string url = supervision::HttpUrlFor(*target);
    std::string lower;
    for (char c : *target) lower += AsciiLower(c);
    const bool as_written = lower.starts_with("https://") || lower.find("http://") != std::string::npos;
    Check(url == (as_written ? *target : "http://" + *target), "the URL of a target");
  }
  Check(supervision::IsAcceptedHttpStatus(entry) == (entry == "200" || entry == "302"), "only 200 and 302 answer");
}

// ---------------------------------------------------------------------------
// Command line

void FuzzCommandLine(const std::uint8_t* data, std::size_t size) {
  FuzzInput in(data, size);
  const std::string name = in.Bytes(in.Byte() % 17);
  const std::string line = in.RestText();
  const std::vector<std::string> words = platform::SplitCommandLine(line);

  // Together the words are the line's characters less its quotes and the
  // separators outside quotes.
  const auto separator = [](char c) { return c >= 1 && c <= ' '; };
  std::string kept;
  bool quoted = false;
  for (char c : line) {
    if (c == '"') {
      quoted = !quoted;
    } else if (quoted || !separator(c)) {
      kept += c;
    }
  }
  std::string joined;
  for (const std::string& w : words) {
    Check(!w.empty(), "no empty word");
    Check(w.find('"') == std::string::npos, "quotes are removed");
    joined += w;
  }
  Check(joined == kept, "the words keep every character but quotes and separators");
  // Each word quoted, the words joined by blanks: the same words again.
  std::string requoted;
  for (const std::string& w : words) requoted += " \"" + w + "\"";
  Check(platform::SplitCommandLine(requoted) == words, "quoted words split back into themselves");

  // The switch matcher against plain ASCII case folding, where the system's
  // comparison (CompareStringA on Windows) must agree with it: letters and digits.
  for (const std::string& n : {name, std::string("INSTALL"), std::string("UNINSTALL"), std::string("SILENT")}) {
    const bool has = service::HasSwitch(words, n);
    bool comparable = AllAlnum(n);
    bool expected = false;
    for (const std::string& w : words) {
      if (w.size() < 2 || (w[0] != '-' && w[0] != '/')) continue;
      const std::string_view rest = std::string_view(w).substr(1);
      if (!AllAlnum(rest)) {
        comparable = false;
      } else if (AllAlnum(n) && AsciiEqualIgnoringCase(rest, n)) {
        expected = true;
      }
    }
    if (expected) Check(has, "a switch present is found");
    if (comparable && !expected) Check(!has, "a switch absent is not found");
    if (!n.empty() && AllAlnum(n)) {
      std::string upper;
      for (char c : n) upper += (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
      Check(service::HasSwitch({"/" + upper}, n) && service::HasSwitch({"-" + n}, n), "either prefix, any case");
      Check(!service::HasSwitch({n}, n), "a switch needs its prefix");
    }
  }
}

// ---------------------------------------------------------------------------
// Configuration

namespace {

using config::TParamRec;
using platform::RegValue;

// Every value the loader reads, by the field it sets, one table per type in
// the order of config/param_fields.def (NAMES of tests/fuzz/make_seeds.py
// follows it). check_addr_count and the check addresses are modelled apart.
template <typename T>
std::vector<std::pair<const char*, T TParamRec::*>> FieldsOfType() {
  std::vector<std::pair<const char*, T TParamRec::*>> v;
#define QOV_PARAM(name, type, default_value, limit, shown_at)                   \
  if constexpr (std::is_same_v<type, T>) {                                      \
    if (config::Limit::limit != config::Limit::kAddressCount) {                 \
      v.push_back({#name, &TParamRec::name});                                   \
    }                                                                           \
  }
#include "config/param_fields.def"
  return v;
}
const auto kFlagFields = FieldsOfType<bool>();
const auto kIntFields = FieldsOfType<std::int32_t>();
const auto kUnsignedFields = FieldsOfType<std::uint32_t>();
const auto kTextFields = FieldsOfType<std::string>();

std::string CheckAddrName(int n) { return "check_addr_" + std::to_string(n); }

// Every value name the loader knows, and one past the last check address.
const std::vector<std::string>& KnownValueNames() {
  static const std::vector<std::string> names = [] {
    std::vector<std::string> v;
    for (const auto& f : kFlagFields) v.emplace_back(f.first);
    for (const auto& f : kIntFields) v.emplace_back(f.first);
    for (const auto& f : kUnsignedFields) v.emplace_back(f.first);
    for (const auto& f : kTextFields) v.emplace_back(f.first);
    v.emplace_back("check_addr_count");
    for (int n = 0; n <= config::kMaxCheckAddrCount + 1; ++n) v.push_back(CheckAddrName(n));
    return v;
  }();
  return names;
}

// What the loader must make of `reg`, said value by value: a value of the
// right type sets its field, a missing one keeps the default, one of another
// type keeps the default and is reported; then the clamps.
void CheckLoadedConfig(platform::MemoryRegistry& reg) {
  const config::LoadResult got = config::LoadConfig(reg);
  const TParamRec defaults;
  TParamRec want;
  std::vector<std::string> wrong;
  const bool key = reg.KeyExists(config::kConfigKey);
  const auto value = [&](const std::string& name) -> std::optional<RegValue> {
    return key ? reg.Get(config::kConfigKey, name) : std::nullopt;
  };
  const auto typed = [&](const std::string& name, RegValue::Type type) -> std::optional<RegValue> {
    auto v = value(name);
    if (v && v->type != type) {
      wrong.push_back(name);
      return std::nullopt;
    }
    return v;
  };
  for (const auto& [name, field] : kFlagFields) {
    if (auto v = typed(name, RegValue::Type::Dword)) want.*field = v->dword != 0;
  }
  for (const auto& [name, field] : kIntFields) {
    if (auto v = typed(name, RegValue::Type::Dword)) want.*field = static_cast<std::int32_t>(v->dword);
  }
  for (const auto& [name, field] : kUnsignedFields) {
    if (auto v = typed(name, RegValue::Type::Dword)) want.*field = v->dword;
  }
  // A text holding a byte below 0x20 or 0x7F is not taken, and is named.
  std::vector<std::string> unsafe;
  const auto safe = [&](const std::string& name, const std::string& text) {
    const bool control = std::any_of(text.begin(), text.end(), [](char c) {
      return static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) == 0x7F;
    });
    if (control) unsafe.push_back(name);
    return !control;
  };
  for (const auto& [name, field] : kTextFields) {
    if (auto v = typed(name, RegValue::Type::String); v && safe(name, v->text)) want.*field = v->text;
  }
  if (want.wait_time_after_start_s <= 0) want.wait_time_after_start_s = 1;
  if (want.check_ok_period_s == 0) want.check_ok_period_s = 1;
  if (want.metrics_period_s <= 0) want.metrics_period_s = 1;
  if (key) {
    std::int32_t count = defaults.check_addr_count;
    if (auto v = typed("check_addr_count", RegValue::Type::Dword)) count = static_cast<std::int32_t>(v->dword);
    if (count <= 0 || count > config::kMaxCheckAddrCount) {
      want.check_addr_count = 0;
    } else {
      want.check_addr_count = count;
      for (int n = 0; n <= count; ++n) {
        const auto v = value(CheckAddrName(n));
        if (!v) {
          want.check_addr[static_cast<std::size_t>(n)].clear();
        } else if (v->type == RegValue::Type::String) {
          if (safe(CheckAddrName(n), v->text)) want.check_addr[static_cast<std::size_t>(n)] = v->text;
        } else {
          wrong.push_back(CheckAddrName(n));
        }
      }
    }
  }

  const TParamRec& p = got.params;
  for (const auto& f : kFlagFields) Check(p.*f.second == want.*f.second, "a flag value");
  for (const auto& f : kIntFields) Check(p.*f.second == want.*f.second, "a number value");
  for (const auto& f : kUnsignedFields) Check(p.*f.second == want.*f.second, "an unsigned value");
  for (const auto& f : kTextFields) Check(p.*f.second == want.*f.second, "a text value");
  Check(p.check_addr_count == want.check_addr_count, "the check address count");
  Check(p.check_addr == want.check_addr, "the check addresses");
  Check(p.wait_time_after_start_s >= 1 && p.check_ok_period_s >= 1, "the clamped periods");
  Check(p.check_addr_count >= 0 && p.check_addr_count <= config::kMaxCheckAddrCount, "the count in range");
  // The names above are reported exactly as modelled; a value added to the
  // loader later and not yet to these tables must at least exist.
  const auto& known = KnownValueNames();
  std::vector<std::string> got_wrong;
  for (const std::string& name : got.wrong_type_values) {
    Check(value(name).has_value(), "a value reported as of the wrong type exists");
    Check(config::WrongTypeMessage(name).find(name) != std::string::npos, "the wrong-type message names the value");
    if (std::find(known.begin(), known.end(), name) != known.end()) got_wrong.push_back(name);
  }
  std::sort(got_wrong.begin(), got_wrong.end());
  std::sort(wrong.begin(), wrong.end());
  Check(got_wrong == wrong, "every value of the wrong type is reported, once");
  std::vector<std::string> got_unsafe;
  for (const std::string& name : got.control_character_values) {
    Check(value(name).has_value(), "a value reported for a control character exists");
    if (std::find(known.begin(), known.end(), name) != known.end()) got_unsafe.push_back(name);
  }
  std::sort(got_unsafe.begin(), got_unsafe.end());
  std::sort(unsafe.begin(), unsafe.end());
  Check(got_unsafe == unsafe, "every text with a control character is reported, once");
}

// A name from the known ones, with its letters' case changed by `pattern`.
std::string MixCase(std::string name, std::uint8_t pattern) {
  for (std::size_t i = 0; i < name.size(); ++i) {
    if ((pattern >> (i % 8)) & 1) name[i] = static_cast<char>(name[i] >= 'a' && name[i] <= 'z' ? name[i] - 32 : name[i]);
  }
  return name;
}

// Numbers at the edges: signs, the count's range, the echo time-out's clamp,
// periods whose x 1000 overflows 32 bits, -1000.
constexpr std::uint32_t kEdgeNumbers[] = {0,    1,    2,        0xFFFFFFFFu, 0x7FFFFFFFu, 0x80000000u, 64,  65,
                                          3600, 3601, 2147484u, 4294968u,    0xFFFFFC18u, 600,         1024, 0x00400000u};

}  // namespace

void FuzzConfigLoader(const std::uint8_t* data, std::size_t size) {
  static const char* const kKeyPaths[] = {
      config::kConfigKey,                  // as the service names it
      "Software\\Vopa\\QOV Lumo",          // without the leading backslash
      "\\SOFTWARE\\VOPA\\qov lumo\\",      // another case, a trailing backslash
      "\\Software\\Vopa",                  // only the parent: no configuration
      "\\Software\\Vopa\\QOV Lumo\\Sub",   // a child: the key exists, empty
      "\\Software\\Vopa\\QOV Lumo2",       // a neighbour
  };
  FuzzInput in(data, size);
  platform::MemoryRegistry reg;
  const char* path = kKeyPaths[in.Byte() % std::size(kKeyPaths)];
  reg.Open(path, true);
  const auto& names = KnownValueNames();
  std::size_t long_text_budget = std::size_t{256} << 10;
  for (int n = 0; n < 64 && !in.Empty(); ++n) {
    const std::uint8_t pick = in.Byte();
    std::string name = pick < 0xF0 ? names[pick % names.size()] : in.Bytes(in.Byte() % 48);
    const std::uint8_t how = in.Byte();
    if (how & 0x80) name = MixCase(name, in.Byte());
    if ((how & 0x3C) == 0x3C) {
      reg.DeleteValue(path, name);
      continue;
    }
    RegValue v;
    switch (how & 3) {
      case 0:
        v.type = RegValue::Type::Dword;
        v.dword = in.U32();
        break;
      case 1:
        v.type = RegValue::Type::Dword;
        v.dword = kEdgeNumbers[in.Byte() % std::size(kEdgeNumbers)];
        break;
      case 2:
        v.type = RegValue::Type::String;
        if (how & 0x40) {
          // Long texts, 64 KiB and more, cheaply: one character repeated.
          const std::size_t length = std::min<std::size_t>(std::size_t{in.U16()} * 2 + 1, long_text_budget);
          long_text_budget -= length;
          v.text.assign(length, static_cast<char>(in.Byte()));
        } else {
          v.text = in.Bytes(in.Byte());
        }
        break;
      default:
        v.type = RegValue::Type::Other;
        break;
    }
    reg.Set(path, name, v);
  }
  CheckLoadedConfig(reg);
}

// ---------------------------------------------------------------------------
// REGEDIT4 files

namespace {

std::string QuotedRegText(const std::string& s) {
  std::string out = "\"";
  for (char c : s) {
    if (c == '\\' || c == '"') out += '\\';
    out += c;
  }
  return out + "\"";
}

std::string HexByte(std::uint8_t b) {
  static constexpr char kDigits[] = "0123456789abcdef";
  return {kDigits[b >> 4], kDigits[b & 15]};
}

// Text as hex(1) bytes, 32 to a line with continuations.
std::string HexText(const std::string& s) {
  std::string out = "hex(1):";
  for (std::size_t i = 0; i < s.size(); ++i) {
    if (i > 0) out += (i % 32 == 0) ? ",\\\r\n  " : ",";
    out += HexByte(static_cast<std::uint8_t>(s[i]));
  }
  return out;
}

// The configuration key's values written as a REGEDIT4 file must read back
// the same: names, order, types, numbers and texts.
void CheckRoundTrip(platform::MemoryRegistry& reg) {
  auto key = reg.Open(config::kConfigKey, false);
  if (!key) return;
  const std::vector<std::string> names = key->ValueNames();
  std::string file = "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\Software\\Vopa\\QOV Lumo]\r\n";
  for (const std::string& name : names) {
    const auto v = key->Read(name);
    Check(v.has_value(), "a listed value can be read");
    file += name.empty() ? "@" : QuotedRegText(name);
    file += '=';
    switch (v->type) {
      case RegValue::Type::Dword: {
        std::string digits;
        for (int shift = 28; shift >= 0; shift -= 4) digits += "0123456789abcdef"[(v->dword >> shift) & 15];
        file += "dword:" + digits;
        break;
      }
      case RegValue::Type::String:
        file += v->text.find_first_of(std::string_view("\n\0", 2)) == std::string::npos ? QuotedRegText(v->text)
                                                                                         : HexText(v->text);
        break;
      case RegValue::Type::Other:
        file += "hex:00";
        break;
    }
    file += "\r\n";
  }
  platform::MemoryRegistry back;
  const auto error = platform::ParseRegedit(file, back);
  if (error) std::fprintf(stderr, "%s\n", platform::FormatRegeditError("written back", *error).c_str());
  Check(!error, "the values written back parse");
  auto key_back = back.Open(config::kConfigKey, false);
  Check(key_back != nullptr, "the key written back exists");
  Check(key_back->ValueNames() == names, "the same value names in the same order");
  for (const std::string& name : names) {
    const auto a = key->Read(name);
    const auto b = key_back->Read(name);
    Check(b.has_value() && a->type == b->type, "the same type");
    if (a->type == RegValue::Type::Dword) Check(a->dword == b->dword, "the same number");
    if (a->type == RegValue::Type::String) Check(a->text == b->text, "the same text");
  }
}

}  // namespace

void FuzzRegedit(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  platform::MemoryRegistry reg;
  const auto error = platform::ParseRegedit(text, reg);
  if (error) {
    const auto lines = static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n')) + 1;
    Check(error->line >= 0 && static_cast<std::size_t>(error->line) <= lines, "the error names a line of the file");
    Check(!error->message.empty(), "the error says what was wrong");
    Check(platform::FormatRegeditError("f.reg", *error).starts_with("f.reg:"), "the error's text names the file");
  }
  CheckLoadedConfig(reg);
  CheckRoundTrip(reg);
}

// ---------------------------------------------------------------------------
// Log rotation

namespace {

bool RefNeedsRotation(std::int64_t size, std::int32_t max_size) {
  if (max_size <= 0) return size > 0;
  return size / 128 > std::int64_t{max_size} * 4;
}

void CheckThreshold(std::int64_t size, std::int32_t max_size) {
  Check(config::LogWriter::NeedsRotation(size, max_size) == RefNeedsRotation(size, max_size),
        "rotation once the 128-byte blocks exceed max_size x 4");
}

std::int32_t PickMaxSize(FuzzInput& in) {
  static constexpr std::int32_t kSizes[] = {0, -1, 1, 2, 3, std::numeric_limits<std::int32_t>::min(),
                                            std::numeric_limits<std::int32_t>::max(), 1024};
  const std::uint8_t pick = in.Byte();
  return pick < 0x80 ? kSizes[pick % std::size(kSizes)] : static_cast<std::int32_t>(pick % 8);
}

std::int64_t FileSize(const std::string& path) {
  std::error_code ec;
  const auto size = std::filesystem::file_size(path, ec);
  return ec ? -1 : static_cast<std::int64_t>(size);
}

}  // namespace

void FuzzLogRotation(const std::uint8_t* data, std::size_t size) {
  FuzzInput in(data, size);
  const auto raw_size = static_cast<std::int64_t>(in.U64());
  const auto raw_max = static_cast<std::int32_t>(in.U32());
  for (const std::int64_t s : {raw_size, raw_size / 2, raw_size % 100000}) {
    CheckThreshold(s, raw_max);
    CheckThreshold(s, static_cast<std::int32_t>(raw_max % 5000));
  }
  // Either side of the threshold of a small size.
  const std::int32_t small = static_cast<std::int32_t>(static_cast<std::uint32_t>(raw_max) % 100000) + 1;
  const std::int64_t edge = (std::int64_t{small} * 4 + 1) * 128;
  Check(config::LogWriter::NeedsRotation(edge, small) && !config::LogWriter::NeedsRotation(edge - 1, small),
        "the first size past the threshold");

  // A log writer on a real file, against a model of its sizes.
  static TempDir dir;
  const std::string path = dir.File("fuzz_log.txt");
  const std::string old = path + ".1";
  std::filesystem::remove(path);
  std::filesystem::remove(old);
  FakeClock clock;
  bool move_works = true;
  int moves = 0;
  config::LogWriter log([] { return std::string("T"); }, clock, [&](const std::string& from, const std::string& to) {
    ++moves;
    return move_works && platform::MoveFileReplacing(from, to);
  });
  std::int32_t max_size = PickMaxSize(in);
  log.Configure(path, max_size);
  log.Open();
  Check(log.IsOpen(), "the log opens in a temporary folder");

  bool open = true;
  std::int64_t current = 0;
  std::int64_t previous = -1;  // no .1 yet
  bool failed = false;
  platform::Tick failed_at = 0;
  int want_moves = 0;
  for (int op = 0; op < 48 && !in.Empty(); ++op) {
    const std::uint8_t what = in.Byte();
    switch (what % 8) {
      case 4:
        clock.Advance(platform::Tick{in.U16()} * 4);
        break;
      case 5:
        move_works = !move_works;
        break;
      case 6:
        max_size = PickMaxSize(in);
        log.Configure(path, max_size);
        failed = false;
        break;
      case 7:
        if (open) {
          log.Close();
        } else {
          log.Open();
        }
        open = !open;
        break;
      default: {
        const std::size_t length = std::size_t{in.Byte()} * ((what & 8) ? 16 : 1);
        log.Write(std::string(length, 'x'));
        if (!open) break;
        const bool may_rotate = !failed || clock.NowMs() - failed_at >= config::LogWriter::kRotationRetryMs;
        if (may_rotate && RefNeedsRotation(current, max_size)) {
          ++want_moves;
          failed = !move_works;
          if (failed) {
            failed_at = clock.NowMs();
          } else {
            previous = current;
            current = 0;
          }
        }
        current += static_cast<std::int64_t>(1 + 3 + length + 2);  // "T - " message CR LF
        break;
      }
    }
    Check(log.IsOpen() == open, "the log is open while it should be");
    Check(moves == want_moves, "a rotation when due, none while a failed one waits");
    Check(FileSize(path) == current, "the log's size");
    Check(FileSize(old) == previous, "the previous log's size");
  }
  log.Close();
}

// ---------------------------------------------------------------------------

std::span<const FuzzTarget> FuzzTargets() {
  static constexpr FuzzTarget kTargets[] = {
      {"perf_data", FuzzPerfData},         {"device_link", FuzzDeviceLink}, {"check_address", FuzzCheckAddress},
      {"command_line", FuzzCommandLine},   {"config_loader", FuzzConfigLoader}, {"regedit", FuzzRegedit},
      {"log_rotation", FuzzLogRotation},
  };
  return kTargets;
}

void SetFuzzFailureHandler(FuzzFailureHandler handler) { g_failure_handler = handler; }

}  // namespace qov::test
