// The shipped configuration template must list every value with the default
// the service itself uses.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "config/config_loader.h"
#include "platform/memory_registry.h"
#include "platform/regedit_file.h"

namespace qov::config {
namespace {

// Imports a .reg file into `reg` with the service's own parser; the number of
// values it leaves under the configuration key, or -1 after a parse error.
int ImportReg(const std::string& path, platform::MemoryRegistry& reg) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  if (const auto error = platform::ParseRegedit(text.str(), reg)) {
    ADD_FAILURE() << platform::FormatRegeditError(path, *error);
    return -1;
  }
  auto key = reg.Open(kConfigKey, false);
  return key ? static_cast<int>(key->ValueNames().size()) : 0;
}

TEST(ConfigTemplate, ListsEveryValueWithItsDefault) {
  platform::MemoryRegistry reg;
  ASSERT_EQ(ImportReg(QOV_SOURCE_DIR "/config/qov_lumo_defaults.reg", reg), 28);
  const LoadResult loaded = LoadConfig(reg);
  EXPECT_TRUE(loaded.wrong_type_values.empty());
  const TParamRec defaults;
  const TParamRec& p = loaded.params;
  EXPECT_EQ(p.connection_need_dial, defaults.connection_need_dial);
  EXPECT_EQ(p.connection_name, defaults.connection_name);
  EXPECT_EQ(p.wait_time_after_start_s, defaults.wait_time_after_start_s);
  EXPECT_EQ(p.check_ok_period_s, defaults.check_ok_period_s);
  EXPECT_EQ(p.check_wait_resp_s, defaults.check_wait_resp_s);
  EXPECT_EQ(p.check_fail_period_s, defaults.check_fail_period_s);
  EXPECT_EQ(p.check_fail_loop_count, defaults.check_fail_loop_count);
  EXPECT_EQ(p.reset_modem, defaults.reset_modem);
  EXPECT_EQ(p.reset_comp, defaults.reset_comp);
  EXPECT_EQ(p.check_fail_loop_count_before_reset_comp, defaults.check_fail_loop_count_before_reset_comp);
  // The template is the Windows one; the Linux daemon defaults to /var/log/qov_lumo.log.
  EXPECT_EQ(p.log_file_path, "c:\\qov_log.txt");
  EXPECT_EQ(p.log_file_max_size, defaults.log_file_max_size);
  EXPECT_EQ(p.qov_com_port, defaults.qov_com_port);
  EXPECT_EQ(p.program_ctrl_process_name, defaults.program_ctrl_process_name);
  EXPECT_EQ(p.program_ctrl_command_line, defaults.program_ctrl_command_line);
  EXPECT_EQ(p.program_ctrl_token_process, defaults.program_ctrl_token_process);
  EXPECT_EQ(p.program_ctrl_check_period_s, defaults.program_ctrl_check_period_s);
  EXPECT_EQ(p.check_addr_count, defaults.check_addr_count);
  EXPECT_EQ(p.check_addr[0], defaults.check_addr[0]);
  EXPECT_EQ(p.check_addr, defaults.check_addr);
  EXPECT_EQ(p.life_beakon_period_ms, defaults.life_beakon_period_ms);
  EXPECT_EQ(p.system_load_log_enable, defaults.system_load_log_enable);
  EXPECT_EQ(p.system_load_log_period_s, defaults.system_load_log_period_s);
  EXPECT_EQ(p.check_settle_after_reset_s, defaults.check_settle_after_reset_s);
  EXPECT_EQ(p.reset_comp_max_per_day, defaults.reset_comp_max_per_day);
  EXPECT_EQ(p.check_log_details, defaults.check_log_details);
  EXPECT_EQ(p.event_log_enable, defaults.event_log_enable);
  EXPECT_EQ(p.metrics_file_path, defaults.metrics_file_path);
  EXPECT_EQ(p.metrics_period_s, defaults.metrics_period_s);
}

TEST(ConfigTemplate, DialUpExampleLoadsCleanly) {
  platform::MemoryRegistry reg;
  ASSERT_GT(ImportReg(QOV_SOURCE_DIR "/config/dialup_example.reg", reg), 0);
  const LoadResult loaded = LoadConfig(reg);
  EXPECT_TRUE(loaded.wrong_type_values.empty());
  EXPECT_TRUE(loaded.params.connection_need_dial);
  EXPECT_EQ(loaded.params.connection_name, "Provider");
  EXPECT_EQ(loaded.params.check_addr_count, 2);
  EXPECT_EQ(loaded.params.program_ctrl_command_line, "C:\\Program Files\\Telemetry\\telemetry.exe /auto");
}

}  // namespace
}  // namespace qov::config
