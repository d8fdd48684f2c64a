// The service's configuration record: every tunable value, with its default.
// Each field's name is also the name of the registry value that sets it.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "platform/default_paths.h"

namespace qov::config {

inline constexpr const char* kConfigKey = "\\Software\\Vopa\\QOV Lumo";
inline constexpr int kMaxCheckAddrCount = 64;
inline constexpr const char* kDefaultCheckAddr = "HTTP - www.msftconnecttest.com/connecttest.txt";

struct TParamRec {
  bool connection_need_dial = false;
  std::string connection_name;
  std::int32_t wait_time_after_start_s = 600;
  std::uint32_t check_ok_period_s = 180;
  std::int32_t check_wait_resp_s = 20;
  std::int32_t check_fail_period_s = 60;
  std::int32_t check_fail_loop_count = 10;
  bool reset_modem = false;
  bool reset_comp = false;
  std::int32_t check_fail_loop_count_before_reset_comp = 2;
  std::string log_file_path = platform::DefaultLogFilePath();
  std::int32_t log_file_max_size = 1024;  // in 512-byte units
  std::string qov_com_port = "COM3";
  std::string program_ctrl_process_name;
  std::string program_ctrl_command_line;
  std::string program_ctrl_token_process = "explorer.exe";
  std::int32_t program_ctrl_check_period_s = 60;
  std::int32_t check_addr_count = 1;
  // Entries 0 to check_addr_count are read; 0 to check_addr_count - 1 are used.
  std::array<std::string, kMaxCheckAddrCount + 1> check_addr{kDefaultCheckAddr};
  std::int32_t life_beakon_period_ms = 60000;
  bool system_load_log_enable = false;
  std::int32_t system_load_log_period_s = 300;
  // Seconds after a modem reset or a successful dial during which failed
  // cycles are logged but not counted; 0 (the default) counts them all.
  std::int32_t check_settle_after_reset_s = 0;
  // Computer resets allowed in any 24 hours; 0 (the default) sets no limit.
  std::int32_t reset_comp_max_per_day = 0;
  // A failed cycle logs, before "ping fail", why each address failed.
  bool check_log_details = false;
  // Events also go to the system's event log (the journal on Linux).
  bool event_log_enable = false;
  // Where the metrics text is rewritten every metrics_period_s; empty: off.
  std::string metrics_file_path;
  std::int32_t metrics_period_s = 15;
};

}  // namespace qov::config
