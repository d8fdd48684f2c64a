// "-CHECK" on crafted configurations: every value with its origin, each
// problem it can see with what the service will do, and the exit status.
#include "service/config_check.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "config/param_rec.h"
#include "platform/memory_registry.h"

namespace qov::service {
namespace {

using ::testing::HasSubstr;

class ConfigCheckTest : public ::testing::Test {
 public:
  ConfigCheckTest() {
    facts.serial_ports = [] { return std::vector<std::string>{"COM1", "COM3"}; };
    facts.folder_exists = [this](const std::string& f) { return f != missing_folder; };
    facts.folder_writable = [this](const std::string& f) { return f != readonly_folder; };
    facts.folder_writable_by_others = [this](const std::string& f) { return f == shared_folder; };
    facts.program_found = [this](const std::string& p) { return p == "rasdial" && rasdial_found; };
    reg.SetString(config::kConfigKey, "log_file_path", "/var/log/qov.log");
    reg.SetString(config::kConfigKey, "check_addr_0", config::kDefaultCheckAddr);
  }
  CheckReport Check() { return CheckConfiguration(reg, facts); }
  std::string Problems() {
    std::string all;
    for (const auto& p : Check().problems) all += (p.error ? "E: " : "W: ") + p.text + "\n";
    return all;
  }

  platform::MemoryRegistry reg;
  CheckFacts facts;
  std::string missing_folder = "/nonexistent";
  std::string readonly_folder = "/readonly";
  std::string shared_folder = "/shared";
  bool rasdial_found = true;
};

TEST_F(ConfigCheckTest, AGoodConfigurationListsEveryValueWithItsOriginAndExitsZero) {
  reg.SetDword(config::kConfigKey, "check_ok_period_s", 0);          // clamped to 1
  reg.SetString(config::kConfigKey, "check_fail_period_s", "sixty");  // wrong type
  reg.SetDword(config::kConfigKey, "check_wait_resp_s", 0xFFFFFFFF);  // -1: bounded to 1 s
  const CheckReport r = Check();
  const std::string text = r.Text();
  EXPECT_THAT(text, HasSubstr("  log_file_path = \"/var/log/qov.log\" (set)\n"));
  EXPECT_THAT(text, HasSubstr("  qov_com_port = \"COM3\" (default)\n"));
  EXPECT_THAT(text, HasSubstr("  check_ok_period_s = 1 (clamped)\n"));
  EXPECT_THAT(text, HasSubstr("  check_fail_period_s = 60 (wrong type, so default)\n"));
  EXPECT_THAT(text, HasSubstr("  check_wait_resp_s = 1 (clamped)\n"));
  EXPECT_THAT(text, HasSubstr("  check_addr_0 = \"HTTP - www.msftconnecttest.com/connecttest.txt\" (set)\n"));
  EXPECT_EQ(r.problems.size(), 1u) << text;  // the wrong type
  EXPECT_EQ(r.ExitStatus(), 1);
  reg.SetDword(config::kConfigKey, "check_fail_period_s", 60);
  EXPECT_EQ(Check().ExitStatus(), 0) << Check().Text();
  EXPECT_THAT(Check().Text(), HasSubstr("No problems found."));
}

// Each crafted fault, the words that must appear, and whether it stops the
// service from doing its job (exit 2) or only makes it do it badly (exit 1).
TEST_F(ConfigCheckTest, EachProblemIsFoundWithWhatTheServiceWillDo) {
  struct Case {
    const char* what;
    std::function<void(ConfigCheckTest&)> craft;
    const char* says;
    int status;
  };
  const Case cases[] = {
      {"a count stored without its entries",
       [](ConfigCheckTest& t) {
         platform::MemoryRegistry bare;
         t.reg.Swap(bare);
         t.reg.SetDword(config::kConfigKey, "check_addr_count", 2);
       },
       "check_addr_count is 2 but check_addr_0 is missing: that address always fails", 2},
      {"HTTP target without a host",
       [](ConfigCheckTest& t) { t.reg.SetString(config::kConfigKey, "check_addr_0", "HTTP - /path"); },
       "names no host: that address always fails", 1},
      {"loop count 0 with resets",
       [](ConfigCheckTest& t) {
         t.reg.SetDword(config::kConfigKey, "check_fail_loop_count", 0);
         t.reg.SetDword(config::kConfigKey, "reset_comp", 1);
         t.reg.SetDword(config::kConfigKey, "wait_time_after_start_s", 600);
       },
       "every failed cycle escalates to a reset", 1},
      {"resets with a short start-up delay",
       [](ConfigCheckTest& t) {
         t.reg.SetDword(config::kConfigKey, "reset_modem", 1);
         t.reg.SetDword(config::kConfigKey, "wait_time_after_start_s", 30);
       },
       "start-up delay of 30 s", 1},
      {"a dry run with resets",
       [](ConfigCheckTest& t) {
         t.reg.SetDword(config::kConfigKey, "reset_modem", 1);
         t.reg.SetDword(config::kConfigKey, "wait_time_after_start_s", 600);
         t.reg.SetDword(config::kConfigKey, "reset_dry_run", 1);
       },
       "reset_dry_run is set: escalations are logged, reported and counted, but no reset command is sent to the board",
       1},
      {"process name without command line",
       [](ConfigCheckTest& t) { t.reg.SetString(config::kConfigKey, "program_ctrl_process_name", "agent.exe"); },
       "program_ctrl_process_name is set without program_ctrl_command_line: program control does nothing", 1},
      {"command line without process name",
       [](ConfigCheckTest& t) { t.reg.SetString(config::kConfigKey, "program_ctrl_command_line", "agent -q"); },
       "program_ctrl_command_line is set without program_ctrl_process_name", 1},
      {"log folder missing",
       [](ConfigCheckTest& t) { t.reg.SetString(config::kConfigKey, "log_file_path", "/nonexistent/qov.log"); },
       "the log folder \"/nonexistent\" does not exist", 1},
      {"log folder read-only",
       [](ConfigCheckTest& t) { t.reg.SetString(config::kConfigKey, "log_file_path", "/readonly/qov.log"); },
       "the log folder \"/readonly\" cannot be written", 1},
      {"metrics folder missing",
       [](ConfigCheckTest& t) { t.reg.SetString(config::kConfigKey, "metrics_file_path", "/nonexistent/qov.prom"); },
       "the metrics folder \"/nonexistent\" does not exist or cannot be written", 1},
      {"log folder others may write",
       [](ConfigCheckTest& t) { t.reg.SetString(config::kConfigKey, "log_file_path", "/shared/qov.log"); },
       "the log folder \"/shared\" can be written by accounts other than root: they can delete or replace the log, "
       "or stop it with a link at its name",
       1},
      {"metrics folder others may write",
       [](ConfigCheckTest& t) { t.reg.SetString(config::kConfigKey, "metrics_file_path", "/shared/qov.prom"); },
       "the metrics folder \"/shared\" can be written by accounts other than root: they can replace the metrics "
       "file, or stop it with a link at its name",
       1},
      {"state folder others may write", [](ConfigCheckTest& t) { t.facts.state_folder = "/shared"; },
       "the state folder \"/shared\" can be written by accounts other than root: they can replace the record of "
       "computer resets that reset_comp_max_per_day counts",
       1},
      {"a control character in a text",
       [](ConfigCheckTest& t) { t.reg.SetString(config::kConfigKey, "program_ctrl_command_line", "a\nb"); },
       "'program_ctrl_command_line' holds a control character (a line break, a tab, an escape...): the default is "
       "used and the log says so at every start",
       1},
      {"port not listed",
       [](ConfigCheckTest& t) { t.reg.SetString(config::kConfigKey, "qov_com_port", "com3"); },
       "qov_com_port \"com3\" is not a serial port of this system (listed: COM1, COM3)", 2},
      {"no rasdial in dial mode",
       [](ConfigCheckTest& t) {
         t.reg.SetDword(config::kConfigKey, "connection_need_dial", 1);
         t.reg.SetString(config::kConfigKey, "connection_name", "ISP");
         t.rasdial_found = false;
       },
       "no \"rasdial\" program is found", 2},
      {"dial without a name",
       [](ConfigCheckTest& t) { t.reg.SetDword(config::kConfigKey, "connection_need_dial", 1); },
       "connection_name is empty: the checker never starts", 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    platform::MemoryRegistry fresh;
    reg.Swap(fresh);
    reg.SetString(config::kConfigKey, "log_file_path", "/var/log/qov.log");
    reg.SetString(config::kConfigKey, "check_addr_0", config::kDefaultCheckAddr);
    rasdial_found = true;
    facts.state_folder.clear();
    c.craft(*this);
    EXPECT_THAT(Problems(), HasSubstr(c.says));
    EXPECT_EQ(Check().ExitStatus(), c.status) << Problems();
  }
}

TEST_F(ConfigCheckTest, ATextWithAControlCharacterShowsItsDefault) {
  reg.SetString(config::kConfigKey, "qov_com_port", "COM1\r\n");
  EXPECT_THAT(Check().Text(), HasSubstr("  qov_com_port = \"COM3\" (control character, so default)\n"));
}

// A key that lists other values but not check_addr_0 leaves no address at
// all (a missing entry reads as empty): the check says so.
TEST_F(ConfigCheckTest, AKeyWithoutItsFirstAddressIsCaught) {
  platform::MemoryRegistry bare;
  reg.Swap(bare);
  reg.SetString(config::kConfigKey, "qov_com_port", "COM3");
  EXPECT_THAT(Check().Text(), HasSubstr("  check_addr_0 = \"\" (not stored, so empty)\n"));
  EXPECT_EQ(Check().ExitStatus(), 2);
}

TEST_F(ConfigCheckTest, ACountWithoutItsFirstEntryFailsEveryCycle) {
  reg.SetDword(config::kConfigKey, "check_addr_count", 1);
  reg.SetString(config::kConfigKey, "check_addr_0", "");
  reg.SetDword(config::kConfigKey, "reset_modem", 1);
  reg.SetDword(config::kConfigKey, "wait_time_after_start_s", 600);
  EXPECT_THAT(Problems(), HasSubstr("check_addr_0 is missing: that address always fails, so every cycle fails and "
                                    "escalates to resets"));
  EXPECT_EQ(Check().ExitStatus(), 2);
}

}  // namespace
}  // namespace qov::service
