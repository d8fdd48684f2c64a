// The event IDs are fixed: the catalogue, the exe's message table and the
// journal fields must agree on every one of them.
#include "config/events.h"

#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <sstream>

#include "platform/journal_fields.h"

namespace qov::config {
namespace {

// MessageId -> text of every message in the .mc source.
std::map<unsigned, std::string> MessageTable(const std::string& path) {
  std::ifstream in(path);
  std::map<unsigned, std::string> out;
  std::string line;
  unsigned id = 0;
  bool in_text = false;
  std::string text;
  while (std::getline(in, line)) {
    if (in_text) {
      if (line == ".") {
        out[id] = text;
        in_text = false;
      } else {
        text += (text.empty() ? "" : "\n") + line;
      }
    } else if (line.rfind("MessageId=", 0) == 0) {
      id = static_cast<unsigned>(std::stoul(line.substr(10)));
    } else if (line.rfind("Language=", 0) == 0) {
      in_text = true;
      text.clear();
    }
  }
  return out;
}

TEST(EventCatalogueTest, MessageTableHoldsEveryEventWithTheSameText) {
  const auto table = MessageTable(QOV_SOURCE_DIR "/src/service/resources/messages.mc");
  ASSERT_EQ(table.count(0), 1u);
  EXPECT_EQ(table.at(0), "%1") << "the host's error texts";
  ASSERT_EQ(table.size(), EventCatalogue().size() + 1);
  unsigned previous = 0;
  for (const EventInfo& e : EventCatalogue()) {
    const auto id = static_cast<unsigned>(e.id);
    EXPECT_GT(id, previous) << "in ID order, each once";
    previous = id;
    ASSERT_EQ(table.count(id), 1u) << id;
    EXPECT_EQ(table.at(id), e.text) << id;
    EXPECT_EQ(&Describe(e.id), &e);
  }
}

TEST(EventCatalogueTest, TextsFillTheirArgumentsInPlace) {
  const struct {
    EventId id;
    std::vector<std::string> args;
    const char* want;
  } cases[] = {
      {EventId::kServiceStarted, {}, "The service started."},
      {EventId::kDeviceNotFound, {"COM3", "port open fail"}, "The watchdog board was not found on COM3 (port open fail)."},
      {EventId::kDeviceNotFound, {"COM3"}, "The watchdog board was not found on COM3 ()."},
      {EventId::kChecksFailing, {"10", "unused"}, "Connectivity checks have failed for 10 cycles in a row."},
      {EventId::kConfigurationProblem, {"100% %1 kept"}, "Configuration problem: 100% %1 kept"},
      {EventId::kComputerResetRequested, {"11 failed cycles in a row, 3 modem resets"},
       "A computer reset was requested (11 failed cycles in a row, 3 modem resets)."},
  };
  for (const auto& c : cases) EXPECT_EQ(FormatEvent(c.id, c.args), c.want);
}

TEST(JournalFieldsTest, EachEventCarriesItsTextPriorityAndFixedIds) {
  const platform::EventRecord e{platform::EventType::Warning, 1300, {"x"}, "A modem reset was requested (x)."};
  EXPECT_EQ(platform::JournalFields(e, "qov_lumo_service"),
            (std::vector<std::string>{"MESSAGE=A modem reset was requested (x).", "PRIORITY=4",
                                      "MESSAGE_ID=6d1f0a4c93b84e27a5c0e3b900000514", "QOV_EVENT_ID=1300",
                                      "SYSLOG_IDENTIFIER=qov_lumo_service"}));
  EXPECT_EQ(platform::JournalFields({platform::EventType::Error, 1301, {}, ""}, "q")[1], "PRIORITY=3");
  EXPECT_EQ(platform::JournalFields({platform::EventType::Information, 1000, {}, ""}, "q")[1], "PRIORITY=6");
  std::map<std::string, unsigned> seen;
  for (const EventInfo& info : EventCatalogue()) {
    const std::string id = platform::JournalMessageId(static_cast<unsigned>(info.id));
    EXPECT_EQ(id.size(), 32u);
    EXPECT_EQ(id.find_first_not_of("0123456789abcdef"), std::string::npos) << id;
    EXPECT_TRUE(seen.emplace(id, static_cast<unsigned>(info.id)).second) << id;
  }
}

}  // namespace
}  // namespace qov::config
