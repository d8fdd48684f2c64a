// The shipped configuration template must list every value with the default
// the service itself uses.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string_view>
#include <type_traits>

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
  const TParamRec defaults;
  // One registry value per field; the check addresses, one per counted entry.
  int values = 0;
#define QOV_PARAM(name, type, default_value, limit, shown_at) \
  values += std::is_same_v<type, CheckAddrList> ? defaults.check_addr_count : 1;
#include "config/param_fields.def"
  platform::MemoryRegistry reg;
  ASSERT_EQ(ImportReg(QOV_SOURCE_DIR "/config/qov_lumo_defaults.reg", reg), values);
  const auto key = reg.Open(kConfigKey, false);
  ASSERT_TRUE(key);
#define QOV_PARAM(name, type, default_value, limit, shown_at) \
  EXPECT_TRUE(key->ValueExists(std::is_same_v<type, CheckAddrList> ? #name "_0" : #name)) << #name;
#include "config/param_fields.def"
  const LoadResult loaded = LoadConfig(reg);
  EXPECT_TRUE(loaded.wrong_type_values.empty());
  const TParamRec& p = loaded.params;
  // The template is the Windows one; the Linux daemon defaults to /var/log/qov_lumo.log.
  EXPECT_EQ(p.log_file_path, "c:\\qov_log.txt");
#define QOV_PARAM(name, type, default_value, limit, shown_at) \
  if (std::string_view(#name) != "log_file_path") {          \
    EXPECT_EQ(p.name, defaults.name) << #name;                \
  }
#include "config/param_fields.def"
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
