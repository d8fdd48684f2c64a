// The outcome of an operator's test reset ("-TEST MODEM", "-TEST COMPUTER"),
// kept in the service's state so that the command that asked for it can
// learn from the running service whether the board took it. Each record has
// a sequence number one above the last, so the command knows a fresh one.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "platform/state_store.h"

namespace qov::device {

enum class TestKind { kModem, kComputer };
enum class TestResult { kOk, kFail, kDropped };

struct TestOutcome {
  std::uint64_t sequence = 0;
  TestKind kind = TestKind::kModem;
  TestResult result = TestResult::kOk;
  std::int64_t utc_seconds = 0;
  // Why a dropped request was dropped; empty otherwise.
  std::string why;
  bool operator==(const TestOutcome&) const = default;
};

// The state value that holds the last outcome.
inline constexpr const char* kTestOutcomeName = "test_reset_last";

// "<sequence> <modem|computer> <ok|fail|dropped> <utc seconds> [why]".
std::string FormatTestOutcome(const TestOutcome& outcome);
std::optional<TestOutcome> ParseTestOutcome(const std::string& text);

// The last stored outcome's sequence; 0 when there is none (or it is unreadable).
std::uint64_t LastTestSequence(platform::StateStore& store);
// Stores the next outcome after the last one; nothing when stored, else why not.
std::optional<std::string> RecordTestOutcome(platform::StateStore& store, TestKind kind, TestResult result,
                                             std::int64_t utc_seconds, const std::string& why = "");

}  // namespace qov::device
