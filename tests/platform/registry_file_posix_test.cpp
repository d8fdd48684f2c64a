// The native build's configuration file: reading it from the file system into
// a registry, and the program-start hook with its "--config FILE".
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "config/config_loader.h"
#include "platform/regedit_file.h"
#include "platform/registry_posix.h"
#include "platform/registry_setup.h"
#include "support/temp_dir.h"

namespace qov::platform {
namespace {

using std::filesystem::perms;
constexpr perms kOwnerWrites = perms::owner_read | perms::owner_write | perms::group_read | perms::others_read;

// Written as an administrator would: writable by its owner (this account) only.
void WriteFile(const std::string& path, const std::string& text, std::filesystem::perms perms = kOwnerWrites) {
  std::ofstream(path, std::ios::binary) << text;
  std::filesystem::permissions(path, perms);
}

const std::string kGoodFile =
    "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\Software\\Vopa\\QOV Lumo]\r\n"
    "\"qov_com_port\"=\"ttyUSB0\"\r\n\"check_fail_loop_count\"=dword:00000003\r\n";

TEST(RegistryFile, MissingFileMeansAllDefaultsUnlessItWasNamed) {
  test::TempDir dir;
  const std::string path = dir.File("absent.reg");
  MemoryRegistry reg;
  EXPECT_EQ(LoadRegistryFile(path, reg, MissingFile::kAllDefaults), std::nullopt);
  EXPECT_FALSE(reg.KeyExists(config::kConfigKey));
  const config::LoadResult r = config::LoadConfig(reg);
  EXPECT_EQ(r.params.qov_com_port, config::TParamRec{}.qov_com_port);
  EXPECT_TRUE(r.wrong_type_values.empty());

  EXPECT_EQ(LoadRegistryFile(path, reg, MissingFile::kError), path + ": cannot open: No such file or directory");
}

TEST(RegistryFile, GoodFileGivesItsValues) {
  test::TempDir dir;
  const std::string path = dir.File("qov_lumo.reg");
  WriteFile(path, kGoodFile);
  MemoryRegistry reg;
  reg.SetDword("\\Software\\Stale", "old", 1);  // replaced by what the file holds
  ASSERT_EQ(LoadRegistryFile(path, reg, MissingFile::kError), std::nullopt);
  EXPECT_FALSE(reg.KeyExists("\\Software\\Stale"));
  const config::LoadResult r = config::LoadConfig(reg);
  EXPECT_EQ(r.params.qov_com_port, "ttyUSB0");
  EXPECT_EQ(r.params.check_fail_loop_count, 3);
  EXPECT_EQ(r.params.log_file_path, config::TParamRec{}.log_file_path);
}

TEST(RegistryFile, FailuresNameTheFileAndLeaveTheRegistryAsItWas) {
  test::TempDir dir;
  const std::string bad = dir.File("bad.reg");
  WriteFile(bad, "REGEDIT4\n[HKLM\\Software\\Vopa\\QOV Lumo]\n\"qov_com_port\"=\"COM1\"\n\"reset_modem\"=dword:yes\n");
  const std::string big = dir.File("big.reg");
  WriteFile(big, "REGEDIT4\n");
  std::filesystem::resize_file(big, kMaxRegeditFileBytes + 1);
  const std::string subdir = dir.File("a_directory");
  std::filesystem::create_directory(subdir);
  std::filesystem::permissions(subdir, kOwnerWrites | perms::owner_exec);
  const std::string file_as_dir = dir.File("bad.reg/inner.reg");

  struct Case {
    std::string path;
    std::string error;
  };
  const std::vector<Case> cases = {
      {bad, bad + ":4: dword value with a character that is not a hex digit"},
      {big, big + ": the file is larger than 16 MiB"},
      {subdir, subdir + ": cannot read: Is a directory"},
      {file_as_dir, file_as_dir + ": cannot open: Not a directory"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path);
    for (MissingFile if_missing : {MissingFile::kAllDefaults, MissingFile::kError}) {
      MemoryRegistry reg;
      reg.SetString(config::kConfigKey, "qov_com_port", "COM9");
      EXPECT_EQ(LoadRegistryFile(c.path, reg, if_missing), c.error);
      EXPECT_EQ(reg.Get(config::kConfigKey, "qov_com_port")->text, "COM9");
    }
  }
}

// The file decides which programs the service starts as root: a file that
// another account owns or that its group or everyone may write is refused.
TEST(RegistryFile, OnlyAFileNobodyElseCanChangeIsTrusted) {
  constexpr std::uint32_t kRoot = 0, kUser = 1000, kOther = 1001;
  struct Case {
    std::uint32_t owner;
    std::uint32_t mode;
    std::uint32_t euid;
    std::optional<std::string> distrust;
  };
  const std::string why = "; a configuration that others can change could make this service run any program";
  const Case cases[] = {
      {kRoot, S_IFREG | 0644, kRoot, std::nullopt},
      {kRoot, S_IFREG | 0600, kRoot, std::nullopt},
      {kRoot, S_IFREG | 0444, kRoot, std::nullopt},
      {kUser, S_IFREG | 0644, kRoot, "owned by uid 1000, not by root" + why},
      {kRoot, S_IFREG | 0664, kRoot, "writable by its group (mode 0664)" + why},
      {kRoot, S_IFREG | 0646, kRoot, "writable by everyone (mode 0646)" + why},
      {kRoot, S_IFREG | 02666, kRoot, "writable by everyone (mode 2666)" + why},
      // A daemon that does not run as root (a test, a staging run) trusts its own files too.
      {kUser, S_IFREG | 0644, kUser, std::nullopt},
      {kRoot, S_IFREG | 0644, kUser, std::nullopt},
      {kOther, S_IFREG | 0644, kUser, "owned by uid 1001, neither by root nor by this account (uid 1000)" + why},
      {kUser, S_IFREG | 0620, kUser, "writable by its group (mode 0620)" + why},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.mode);
    EXPECT_EQ(DistrustOfConfigFile(c.owner, c.mode, c.euid), c.distrust);
  }
}

TEST(RegistryFile, AFileOthersCanChangeIsRefusedAndNothingOfItIsLoaded) {
  test::TempDir dir;
  const std::string shared = dir.File("shared.reg");
  WriteFile(shared, kGoodFile, kOwnerWrites | perms::group_write | perms::others_write);
  const std::string foreign = dir.File("foreign.reg");
  WriteFile(foreign, kGoodFile);
  const bool as_root = ::geteuid() == 0;
  // Only root can give a file away; as another user that case is not run.
  if (as_root) {
    ASSERT_EQ(::chown(foreign.c_str(), 65534, 65534), 0);
  }
  const std::string why = "; a configuration that others can change could make this service run any program";
  struct Case {
    std::string path;
    std::string error;
  };
  std::vector<Case> cases = {{shared, shared + ": refused: writable by everyone (mode 0666)" + why}};
  if (as_root) cases.push_back({foreign, foreign + ": refused: owned by uid 65534, not by root" + why});
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path);
    MemoryRegistry reg;
    reg.SetString(config::kConfigKey, "qov_com_port", "COM9");
    EXPECT_EQ(LoadRegistryFile(c.path, reg, MissingFile::kAllDefaults), c.error);
    EXPECT_EQ(reg.Get(config::kConfigKey, "qov_com_port")->text, "COM9");
  }
}

// The hook fills the process's own SystemRegistry(): each case that loads
// replaces it entirely, so the cases do not depend on each other's order.
class PrepareSystemRegistryTest : public ::testing::Test {
 protected:
  // Runs the hook on `args` (after the program name); the arguments it leaves.
  bool Run(std::vector<std::string> args, std::vector<std::string>& left) {
    args.insert(args.begin(), "qov_lumo_service");
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    int argc = static_cast<int>(args.size());
    if (!PrepareSystemRegistry(argc, argv.data())) return false;
    left.assign(argv.begin() + 1, argv.begin() + argc);
    EXPECT_EQ(argv[static_cast<std::size_t>(argc)], nullptr);
    return true;
  }

  std::string Port() { return config::LoadConfig(SystemRegistry()).params.qov_com_port; }

  test::TempDir dir_;
};

TEST_F(PrepareSystemRegistryTest, ConfigOptionLoadsTheFileAndLeavesTheOtherArguments) {
  const std::string path = dir_.File("site.reg");
  WriteFile(path, kGoodFile);
  struct Case {
    std::vector<std::string> args;
    std::vector<std::string> left;
  };
  const std::vector<Case> cases = {
      {{"--config", path}, {}},
      {{"--config", path, "-install", "-silent"}, {"-install", "-silent"}},
      {{"-install", "--config", path, "/silent"}, {"-install", "/silent"}},
      {{"x", "--config", path}, {"x"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args.size());
    std::vector<std::string> left;
    ASSERT_TRUE(Run(c.args, left));
    EXPECT_EQ(left, c.left);
    EXPECT_EQ(Port(), "ttyUSB0");
  }
}

TEST_F(PrepareSystemRegistryTest, FailuresGoToStderr) {
  const std::string good = dir_.File("good.reg");
  WriteFile(good, kGoodFile);
  const std::string bad = dir_.File("bad.reg");
  WriteFile(bad, "REGEDIT4\n[HKCU\\Software]\n");
  const std::string absent = dir_.File("absent.reg");
  const std::string shared = dir_.File("shared.reg");
  WriteFile(shared, kGoodFile, kOwnerWrites | perms::group_write);
  std::filesystem::permissions(dir_.File(""), kOwnerWrites | perms::owner_exec);  // read as a file below
  struct Case {
    std::vector<std::string> args;
    std::string stderr_text;
  };
  const std::vector<Case> cases = {
      {{"--config", bad}, bad + ":2: the key's root \"HKCU\" is not HKEY_LOCAL_MACHINE\n"},
      {{"--config", absent}, absent + ": cannot open: No such file or directory\n"},
      {{"--config", shared},
       shared + ": refused: writable by its group (mode 0664); a configuration that others can change could make this "
                "service run any program\n"},
      {{"--config", dir_.File("")}, dir_.File("") + ": cannot read: Is a directory\n"},
      {{"-install", "--config"}, "--config needs a file name\n"},
      {{"--config", good, "--config", good}, "--config given more than once\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.stderr_text);
    std::vector<std::string> left;
    ::testing::internal::CaptureStderr();
    const bool ok = Run(c.args, left);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), c.stderr_text);
    EXPECT_FALSE(ok);
  }
}

}  // namespace
}  // namespace qov::platform
