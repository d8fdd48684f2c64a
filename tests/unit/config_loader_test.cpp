#include "config/config_loader.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "platform/memory_registry.h"

namespace qov::config {
namespace {

class ConfigLoaderTest : public ::testing::Test {
 protected:
  void Dword(const std::string& name, std::uint32_t v) { reg_.SetDword(kConfigKey, name, v); }
  void Text(const std::string& name, const std::string& v) { reg_.SetString(kConfigKey, name, v); }
  LoadResult Load() { return LoadConfig(reg_); }

  platform::MemoryRegistry reg_;
};

TEST_F(ConfigLoaderTest, NoKeyGivesAllDefaults) {
  const TParamRec p = Load().params;
  EXPECT_EQ(p.qov_com_port, "COM3");
  EXPECT_EQ(p.log_file_path, platform::DefaultLogFilePath());
  EXPECT_EQ(p.check_addr_count, 1);
  EXPECT_EQ(p.check_addr[0], kDefaultCheckAddr);
  EXPECT_EQ(p.check_addr[1], "");
  EXPECT_EQ(p.wait_time_after_start_s, 600);
  EXPECT_EQ(p.check_ok_period_s, 180u);
  EXPECT_EQ(p.check_wait_resp_s, 20);
  EXPECT_EQ(p.check_fail_period_s, 60);
  EXPECT_EQ(p.check_fail_loop_count, 10);
  EXPECT_EQ(p.check_fail_loop_count_before_reset_comp, 2);
  EXPECT_EQ(p.log_file_max_size, 1024);
  EXPECT_EQ(p.program_ctrl_token_process, "explorer.exe");
  EXPECT_EQ(p.program_ctrl_check_period_s, 60);
  EXPECT_EQ(p.life_beakon_period_ms, 60000);
  EXPECT_EQ(p.system_load_log_period_s, 300);
  EXPECT_FALSE(p.connection_need_dial || p.reset_modem || p.reset_comp || p.system_load_log_enable);
}

TEST_F(ConfigLoaderTest, ValuesOverwriteDefaults) {
  Dword("connection_need_dial", 7);
  Text("connection_name", "isp");
  Dword("reset_modem", 1);
  Dword("check_fail_period_s", 0xFFFFFFFF);
  Text("qov_com_port", "COM7");
  Dword("life_beakon_period_ms", 0);
  Dword("system_load_log_enable", 1);
  const TParamRec p = Load().params;
  EXPECT_TRUE(p.connection_need_dial);
  EXPECT_EQ(p.connection_name, "isp");
  EXPECT_TRUE(p.reset_modem);
  EXPECT_EQ(p.check_fail_period_s, -1);  // taken as stored, negative included
  EXPECT_EQ(p.qov_com_port, "COM7");
  EXPECT_EQ(p.life_beakon_period_ms, 0);
  EXPECT_TRUE(p.system_load_log_enable);
}

TEST_F(ConfigLoaderTest, Clamps) {
  Dword("wait_time_after_start_s", static_cast<std::uint32_t>(-5));
  Dword("check_ok_period_s", 0);
  TParamRec p = Load().params;
  EXPECT_EQ(p.wait_time_after_start_s, 1);
  EXPECT_EQ(p.check_ok_period_s, 1u);

  Dword("wait_time_after_start_s", 0);
  Dword("check_ok_period_s", 0xFFFFFFFF);  // unsigned: kept
  p = Load().params;
  EXPECT_EQ(p.wait_time_after_start_s, 1);
  EXPECT_EQ(p.check_ok_period_s, 0xFFFFFFFFu);
}

TEST_F(ConfigLoaderTest, AddressCountOutOfRangeMeansNoAddresses) {
  for (std::uint32_t count : {0u, static_cast<std::uint32_t>(-1), 65u}) {
    Dword("check_addr_count", count);
    Text("check_addr_0", "ICMP - 10.0.0.1");
    const TParamRec p = Load().params;
    EXPECT_EQ(p.check_addr_count, 0) << count;
    EXPECT_EQ(p.check_addr[0], kDefaultCheckAddr) << "entry 0 keeps its default, unused";
  }
}

TEST_F(ConfigLoaderTest, ReadsCountPlusOneEntriesAndEmptiesMissingOnes) {
  Dword("check_addr_count", 3);
  Text("check_addr_0", "a");
  Text("check_addr_2", "c");
  Text("check_addr_3", "d");
  Text("check_addr_4", "never read");
  const TParamRec p = Load().params;
  EXPECT_EQ(p.check_addr_count, 3);
  EXPECT_EQ(p.check_addr[0], "a");
  EXPECT_EQ(p.check_addr[1], "");
  EXPECT_EQ(p.check_addr[2], "c");
  EXPECT_EQ(p.check_addr[3], "d");
  EXPECT_EQ(p.check_addr[4], "");
}

TEST_F(ConfigLoaderTest, FullCountReadsSixtyFiveEntries) {
  Dword("check_addr_count", 64);
  for (int n = 0; n <= 64; ++n) Text("check_addr_" + std::to_string(n), "h" + std::to_string(n));
  const TParamRec p = Load().params;
  EXPECT_EQ(p.check_addr_count, 64);
  EXPECT_EQ(p.check_addr[63], "h63");
  EXPECT_EQ(p.check_addr[64], "h64");
}

TEST_F(ConfigLoaderTest, MissingEntryZeroIsEmptyNotDefault) {
  Dword("check_addr_count", 2);
  Text("check_addr_1", "b");
  const TParamRec p = Load().params;
  EXPECT_EQ(p.check_addr[0], "");
  EXPECT_EQ(p.check_addr[1], "b");
}

TEST_F(ConfigLoaderTest, WrongTypesKeepDefaultsAndLoadingGoesOn) {
  Text("check_fail_loop_count", "12");    // string where a number belongs
  Dword("qov_com_port", 4);                // number where a string belongs
  reg_.SetBinary(kConfigKey, "reset_comp");  // neither
  Dword("check_addr_count", 1);
  Dword("check_addr_0", 9);
  Dword("system_load_log_period_s", 30);  // read after all of them
  const LoadResult r = Load();
  EXPECT_EQ(r.params.check_fail_loop_count, 10);
  EXPECT_EQ(r.params.qov_com_port, "COM3");
  EXPECT_FALSE(r.params.reset_comp);
  EXPECT_EQ(r.params.check_addr[0], kDefaultCheckAddr);
  EXPECT_EQ(r.params.system_load_log_period_s, 30);
  EXPECT_EQ(r.wrong_type_values,
            (std::vector<std::string>{"check_fail_loop_count", "reset_comp", "qov_com_port", "check_addr_0"}));
  EXPECT_EQ(WrongTypeMessage("qov_com_port"), "Invalid data type for 'qov_com_port', default kept");
}

// A text value that holds a control character is never taken: a line break
// would forge log lines, and any of them would reach command lines. Every
// byte from 0x80 up (UTF-8, a code page) is taken as stored.
TEST_F(ConfigLoaderTest, TextsWithControlCharactersKeepDefaultsAndAreNamed) {
  struct Case {
    const char* name;
    std::string text;
    bool taken;
  };
  const Case cases[] = {
      {"program_ctrl_command_line", "app.exe\r\nInjected line", false},
      {"connection_name", "isp\n", false},
      {"qov_com_port", "COM\t3", false},
      {"log_file_path", "/var/log/\x1b[2Jqov.log", false},
      {"program_ctrl_process_name", std::string("app\x7f.exe"), false},
      {"metrics_file_path", std::string("/m/\x01.prom"), false},
      {"check_addr_0", "HTTP - host/\x1f", false},
      {"program_ctrl_token_process", "expl\xC3\xB6rer.exe ~", true},
  };
  for (const auto& c : cases) Text(c.name, c.text);
  Dword("check_addr_count", 1);
  const LoadResult r = Load();
  const TParamRec defaults;
  EXPECT_EQ(r.params.program_ctrl_command_line, defaults.program_ctrl_command_line);
  EXPECT_EQ(r.params.connection_name, defaults.connection_name);
  EXPECT_EQ(r.params.qov_com_port, "COM3");
  EXPECT_EQ(r.params.log_file_path, defaults.log_file_path);
  EXPECT_EQ(r.params.program_ctrl_process_name, defaults.program_ctrl_process_name);
  EXPECT_EQ(r.params.metrics_file_path, defaults.metrics_file_path);
  EXPECT_EQ(r.params.check_addr[0], kDefaultCheckAddr);
  EXPECT_EQ(r.params.program_ctrl_token_process, "expl\xC3\xB6rer.exe ~");
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const bool named = std::count(r.control_character_values.begin(), r.control_character_values.end(),
                                  std::string(c.name)) == 1;
    EXPECT_EQ(named, !c.taken);
    EXPECT_EQ(r.OriginOf(c.name), c.taken ? Origin::Set : Origin::ControlCharacter);
  }
  EXPECT_EQ(r.control_character_values.size(), std::size(cases) - 1);
  EXPECT_TRUE(r.wrong_type_values.empty());
  EXPECT_EQ(ControlCharacterMessage("connection_name"), "Invalid control character in 'connection_name', default kept");
}

}  // namespace
}  // namespace qov::config
