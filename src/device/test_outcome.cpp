#include "device/test_outcome.h"

#include <sstream>

namespace qov::device {
namespace {

const char* KindWord(TestKind kind) { return kind == TestKind::kModem ? "modem" : "computer"; }

const char* ResultWord(TestResult result) {
  switch (result) {
    case TestResult::kOk: return "ok";
    case TestResult::kFail: return "fail";
    case TestResult::kDropped: return "dropped";
  }
  return "fail";
}

}  // namespace

std::string FormatTestOutcome(const TestOutcome& o) {
  std::string text = std::to_string(o.sequence) + " " + KindWord(o.kind) + " " + ResultWord(o.result) + " " +
                     std::to_string(o.utc_seconds);
  if (!o.why.empty()) text += " " + o.why;
  return text;
}

std::optional<TestOutcome> ParseTestOutcome(const std::string& text) {
  std::istringstream in(text);
  TestOutcome o;
  std::string kind, result;
  if (!(in >> o.sequence >> kind >> result >> o.utc_seconds)) return std::nullopt;
  if (kind == "modem") {
    o.kind = TestKind::kModem;
  } else if (kind == "computer") {
    o.kind = TestKind::kComputer;
  } else {
    return std::nullopt;
  }
  if (result == "ok") {
    o.result = TestResult::kOk;
  } else if (result == "fail") {
    o.result = TestResult::kFail;
  } else if (result == "dropped") {
    o.result = TestResult::kDropped;
  } else {
    return std::nullopt;
  }
  in >> std::ws;
  std::getline(in, o.why);
  return o;
}

std::uint64_t LastTestSequence(platform::StateStore& store) {
  const auto text = store.Get(kTestOutcomeName);
  const auto last = text ? ParseTestOutcome(*text) : std::nullopt;
  return last ? last->sequence : 0;
}

std::optional<std::string> RecordTestOutcome(platform::StateStore& store, TestKind kind, TestResult result,
                                             std::int64_t utc_seconds, const std::string& why) {
  const TestOutcome outcome{LastTestSequence(store) + 1, kind, result, utc_seconds, why};
  std::string failure;
  if (store.Set(kTestOutcomeName, FormatTestOutcome(outcome), &failure)) return std::nullopt;
  return failure.empty() ? std::string("not stored") : failure;
}

}  // namespace qov::device
