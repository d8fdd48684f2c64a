#include "config/config_loader.h"

namespace qov::config {
namespace {

using platform::RegValue;

class Reader {
 public:
  Reader(platform::RegKey& key, LoadResult& result) : key_(key), result_(result) {}

  void Flag(const char* name, bool& field) {
    if (auto v = Get(name, RegValue::Type::Dword)) field = v->dword != 0;
  }
  void Int(const char* name, std::int32_t& field) {
    if (auto v = Get(name, RegValue::Type::Dword)) field = static_cast<std::int32_t>(v->dword);
  }
  void Unsigned(const char* name, std::uint32_t& field) {
    if (auto v = Get(name, RegValue::Type::Dword)) field = v->dword;
  }
  void Text(const std::string& name, std::string& field) {
    auto v = Get(name, RegValue::Type::String);
    if (!v) return;
    if (HasControlCharacter(v->text)) {
      result_.control_character_values.push_back(name);
      result_.origins[name] = Origin::ControlCharacter;
      return;
    }
    field = v->text;
  }
  bool Exists(const std::string& name) { return key_.ValueExists(name); }
  // A clamp changed what was stored (or the default).
  void Clamped(const std::string& name) { result_.origins[name] = Origin::Clamped; }
  void Missing(const std::string& name) { result_.origins[name] = Origin::Missing; }

 private:
  // The value when it exists with the expected type; a wrong type is noted.
  std::optional<RegValue> Get(const std::string& name, RegValue::Type type) {
    if (!key_.ValueExists(name)) return std::nullopt;
    auto v = key_.Read(name);
    if (!v) return std::nullopt;
    if (v->type != type) {
      result_.wrong_type_values.push_back(name);
      result_.origins[name] = Origin::WrongType;
      return std::nullopt;
    }
    result_.origins[name] = Origin::Set;
    return v;
  }

  platform::RegKey& key_;
  LoadResult& result_;
};

void ReadCheckAddresses(Reader& r, TParamRec& p) {
  std::int32_t count = p.check_addr_count;
  r.Int("check_addr_count", count);
  if (count <= 0 || count > kMaxCheckAddrCount) {
    p.check_addr_count = 0;
    if (count != 0) r.Clamped("check_addr_count");
    return;
  }
  p.check_addr_count = count;
  // C + 1 entries are read; entry C is never used.
  for (int n = 0; n <= count; ++n) {
    const std::string name = "check_addr_" + std::to_string(n);
    if (r.Exists(name)) {
      r.Text(name, p.check_addr[n]);
    } else {
      p.check_addr[n].clear();
      r.Missing(name);
    }
  }
}

}  // namespace

LoadResult LoadConfig(platform::Registry& registry) {
  LoadResult result;
  TParamRec& p = result.params;
  if (!registry.KeyExists(kConfigKey)) return result;
  auto key = registry.Open(kConfigKey, false);
  if (!key) return result;
  Reader r(*key, result);

  r.Flag("connection_need_dial", p.connection_need_dial);
  r.Text("connection_name", p.connection_name);
  r.Int("wait_time_after_start_s", p.wait_time_after_start_s);
  if (p.wait_time_after_start_s <= 0) {
    p.wait_time_after_start_s = 1;
    r.Clamped("wait_time_after_start_s");
  }
  r.Unsigned("check_ok_period_s", p.check_ok_period_s);
  if (p.check_ok_period_s == 0) {
    p.check_ok_period_s = 1;
    r.Clamped("check_ok_period_s");
  }
  r.Int("check_wait_resp_s", p.check_wait_resp_s);
  r.Int("check_fail_period_s", p.check_fail_period_s);
  r.Int("check_fail_loop_count", p.check_fail_loop_count);
  r.Flag("reset_modem", p.reset_modem);
  r.Flag("reset_comp", p.reset_comp);
  r.Int("check_fail_loop_count_before_reset_comp", p.check_fail_loop_count_before_reset_comp);
  r.Text("log_file_path", p.log_file_path);
  r.Int("log_file_max_size", p.log_file_max_size);
  r.Text("qov_com_port", p.qov_com_port);
  r.Text("program_ctrl_process_name", p.program_ctrl_process_name);
  r.Text("program_ctrl_command_line", p.program_ctrl_command_line);
  r.Text("program_ctrl_token_process", p.program_ctrl_token_process);
  r.Int("program_ctrl_check_period_s", p.program_ctrl_check_period_s);
  // The life-message period is read before the check addresses.
  r.Int("life_beakon_period_ms", p.life_beakon_period_ms);
  ReadCheckAddresses(r, p);
  r.Flag("system_load_log_enable", p.system_load_log_enable);
  r.Int("system_load_log_period_s", p.system_load_log_period_s);
  r.Int("check_settle_after_reset_s", p.check_settle_after_reset_s);
  r.Int("reset_comp_max_per_day", p.reset_comp_max_per_day);
  r.Flag("check_log_details", p.check_log_details);
  r.Flag("event_log_enable", p.event_log_enable);
  r.Text("metrics_file_path", p.metrics_file_path);
  r.Int("metrics_period_s", p.metrics_period_s);
  if (p.metrics_period_s <= 0) {
    p.metrics_period_s = 1;
    r.Clamped("metrics_period_s");
  }
  return result;
}

std::string WrongTypeMessage(const std::string& value_name) {
  return "Invalid data type for '" + value_name + "', default kept";
}

std::string ControlCharacterMessage(const std::string& value_name) {
  return "Invalid control character in '" + value_name + "', default kept";
}

bool HasControlCharacter(std::string_view text) {
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7F) return true;
  }
  return false;
}

}  // namespace qov::config
