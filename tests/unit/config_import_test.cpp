// The installer's CONFIG_FILE import: which files are refused before anything
// is written (with the line and the reason), and which edits a good file
// makes, in file order, deletions included.
#include "config/config_import.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace qov::config {
namespace {

using Kind = RegistryEdit::Kind;
using Type = platform::RegValue::Type;

const std::string kHead = "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\Software\\Vopa\\QOV Lumo]\r\n";

struct RefusedCase {
  std::string text;
  int line;
  std::string message;
};

TEST(ConfigImport, RefusesTheWholeFileWithTheLineAndReason) {
  const std::vector<RefusedCase> cases = {
      {"", 1, "the file is empty; its first line must be \"REGEDIT4\""},
      {"hello\r\n", 1, "the first line must be \"REGEDIT4\" or \"Windows Registry Editor Version 5.00\""},
      {kHead + "\"check_ok_period_s\"=dword:zz\r\n", 4, "dword value with a character that is not a hex digit"},
      {kHead + "\"reset_comp\"=dword:1\r\n[HKEY_LOCAL_MACHINE\\Software\\Vopa]\r\n", 5,
       "the key \"HKEY_LOCAL_MACHINE\\Software\\Vopa\" is outside the service's configuration key "
       "\"HKEY_LOCAL_MACHINE\\Software\\Vopa\\QOV Lumo\""},
      // A name that only starts like the key is another key.
      {"REGEDIT4\r\n[HKLM\\Software\\Vopa\\QOV Lumo2]\r\n", 2,
       "the key \"HKEY_LOCAL_MACHINE\\Software\\Vopa\\QOV Lumo2\" is outside the service's configuration key "
       "\"HKEY_LOCAL_MACHINE\\Software\\Vopa\\QOV Lumo\""},
      {"REGEDIT4\r\n[-HKEY_LOCAL_MACHINE\\Software\\Microsoft]\r\n", 2,
       "the key \"HKEY_LOCAL_MACHINE\\Software\\Microsoft\" is outside the service's configuration key "
       "\"HKEY_LOCAL_MACHINE\\Software\\Vopa\\QOV Lumo\""},
      {"REGEDIT4\r\n[HKEY_CURRENT_USER\\Software\\Vopa\\QOV Lumo]\r\n", 2,
       "the key's root \"HKEY_CURRENT_USER\" is not HKEY_LOCAL_MACHINE"},
      {kHead + "\"blob\"=hex:01,02\r\n", 4, "value \"blob\" is neither text nor a DWORD: the service reads no other type"},
      {kHead + "\"check_ok_period_s\"=\"60\"\r\n", 4,
       "value \"check_ok_period_s\" is text; the service reads it as a DWORD"},
      {kHead + "\"LOG_FILE_PATH\"=dword:1\r\n", 4, "value \"LOG_FILE_PATH\" is a DWORD; the service reads it as text"},
      {kHead + "\"check_addr_3\"=dword:1\r\n", 4, "value \"check_addr_3\" is a DWORD; the service reads it as text"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    const ConfigImport plan = PlanConfigImport(c.text);
    ASSERT_TRUE(plan.error.has_value());
    EXPECT_EQ(plan.error->line, c.line);
    EXPECT_EQ(plan.error->message, c.message);
    // Nothing of the lines before the error is left to write.
    EXPECT_TRUE(plan.edits.empty());
    EXPECT_EQ(plan.value_count, 0);
  }
}

TEST(ConfigImport, AGoodFileGivesItsEditsInFileOrder) {
  const std::string text = kHead +
                           "\"check_ok_period_s\"=dword:0000003c\r\n"
                           "\"check_addr_0\"=\"ICMP - 127.0.0.1\"\r\n"
                           "\"not_known_here\"=dword:1\r\n"
                           "\"old\"=-\r\n"
                           "[hklm\\software\\vopa\\qov lumo\\State]\r\n"
                           "\"marker\"=\"x\"\r\n"
                           "[-HKEY_LOCAL_MACHINE\\Software\\Vopa\\QOV Lumo\\Stale]\r\n";
  const ConfigImport plan = PlanConfigImport(text);
  ASSERT_FALSE(plan.error.has_value()) << plan.error->message;
  const std::string key = "\\Software\\Vopa\\QOV Lumo";
  struct Expected {
    Kind kind;
    std::string key;
    std::string name;
  };
  const std::vector<Expected> expected = {
      {Kind::kCreateKey, key, ""},
      {Kind::kSetValue, key, "check_ok_period_s"},
      {Kind::kSetValue, key, "check_addr_0"},
      {Kind::kSetValue, key, "not_known_here"},
      {Kind::kDeleteValue, key, "old"},
      {Kind::kCreateKey, "\\software\\vopa\\qov lumo\\State", ""},
      {Kind::kSetValue, "\\software\\vopa\\qov lumo\\State", "marker"},
      {Kind::kDeleteKey, key + "\\Stale", ""},
  };
  ASSERT_EQ(plan.edits.size(), expected.size());
  for (std::size_t i = 0; i < expected.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(plan.edits[i].kind, expected[i].kind);
    EXPECT_EQ(plan.edits[i].key, expected[i].key);
    EXPECT_EQ(plan.edits[i].name, expected[i].name);
  }
  EXPECT_EQ(plan.edits[1].value.type, Type::Dword);
  EXPECT_EQ(plan.edits[1].value.dword, 60u);
  EXPECT_EQ(plan.edits[2].value.text, "ICMP - 127.0.0.1");
  EXPECT_EQ(plan.value_count, 4);
}

}  // namespace
}  // namespace qov::config
