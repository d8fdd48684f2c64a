// Files the service writes as root in folders others may write: a link
// planted at a name it writes (the metrics file's temporary, the log, a new
// file) is never written through, and what it creates gets its own mode
// whatever the umask.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <string>

#include "config/log_writer.h"
#include "metrics/metrics_writer.h"
#include "platform/file.h"
#include "platform/system_facts.h"
#include "support/recording_log.h"
#include "support/temp_dir.h"

namespace qov::platform {
namespace {

namespace fs = std::filesystem;
using test::ReadAll;

constexpr const char* kVictimText = "root:x:0:0:root:/root:/bin/bash\n";

void WriteFile(const std::string& path, const std::string& text) { std::ofstream(path, std::ios::binary) << text; }

unsigned ModeOf(const std::string& path) {
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0 ? static_cast<unsigned>(st.st_mode & 07777) : 0;
}

bool IsLink(const std::string& path) { return fs::is_symlink(fs::symlink_status(path)); }

// Sets the process's umask for a scope.
class ScopedUmask {
 public:
  explicit ScopedUmask(mode_t mask) : previous_(::umask(mask)) {}
  ~ScopedUmask() { ::umask(previous_); }

 private:
  mode_t previous_;
};

// The daemon's two writers against a folder where someone planted links at
// the log's name and at the metrics file's former temporary name, both to a
// file only root may change. Nothing reaches that file; the metrics file is
// written all the same, and the log stays closed, its lines counted as lost.
TEST(PlantedLinkTest, NeitherTheLogNorTheMetricsAreWrittenThroughALink) {
  test::TempDir dir;
  const std::string victim = dir.File("shadow");
  WriteFile(victim, kVictimText);
  const std::string log_path = dir.File("qov.log");
  const std::string metrics_path = dir.File("qov.prom");
  fs::create_symlink(victim, log_path);
  fs::create_symlink(victim, metrics_path + ".tmp");

  metrics::Counter lost{0};
  config::LogWriter log([] { return std::string("T"); });
  log.CountFailuresIn(&lost);
  log.Configure(log_path, 1024);
  log.Open();
  log.Write("Service started");
  EXPECT_FALSE(log.IsOpen());
  EXPECT_EQ(lost.load(), 1u);

  metrics::Metrics m;
  test::RecordingLog metrics_log;
  metrics::MetricsWriter writer(m, metrics_log, metrics_path, 1);
  writer.WriteIfDue(0);

  EXPECT_EQ(ReadAll(victim), kVictimText);
  EXPECT_FALSE(IsLink(metrics_path));
  EXPECT_NE(ReadAll(metrics_path).find("qov_up 1"), std::string::npos) << ReadAll(metrics_path);
  EXPECT_TRUE(metrics_log.Lines().empty());
  EXPECT_EQ(ModeOf(metrics_path), 0644u);
  // The planted links are left as they were.
  EXPECT_TRUE(IsLink(log_path));
  EXPECT_EQ(fs::read_symlink(metrics_path + ".tmp"), victim);
}

// Whatever stands at the log's name and is not a plain file of its own is
// refused like a file that cannot be opened, without blocking and without
// creating or changing anything elsewhere.
TEST(FilePosixTest, AppendingRefusesWhatIsNotAPlainFileOfItsOwn) {
  struct Case {
    const char* what;
    std::function<void(const std::string& at, const std::string& victim)> plant;
    bool needs_root = false;
  };
  const Case cases[] = {
      {"a link to a file", [](const std::string& at, const std::string& v) { fs::create_symlink(v, at); }},
      {"a link to where a file would be created",
       [](const std::string& at, const std::string& v) { fs::create_symlink(v + ".new", at); }},
      {"a hard link to a file", [](const std::string& at, const std::string& v) { fs::create_hard_link(v, at); }},
      {"a FIFO", [](const std::string& at, const std::string&) { ASSERT_EQ(::mkfifo(at.c_str(), 0666), 0); }},
      {"a folder", [](const std::string& at, const std::string&) { fs::create_directory(at); }},
      {"a file another account made",
       [](const std::string& at, const std::string&) {
         WriteFile(at, "");
         ASSERT_EQ(::chown(at.c_str(), 65534, 65534), 0);
       },
       true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    if (c.needs_root && ::geteuid() != 0) continue;  // only root can give a file away
    test::TempDir dir;
    const std::string victim = dir.File("shadow");
    WriteFile(victim, kVictimText);
    const std::string log_path = dir.File("qov.log");
    c.plant(log_path, victim);
    EXPECT_EQ(AppendFile::Open(log_path), nullptr);
    EXPECT_EQ(ReadAll(victim), kVictimText);
    EXPECT_FALSE(fs::exists(victim + ".new"));
  }
}

TEST(FilePosixTest, ANewFileIsCreatedOnlyWhereNothingIsYet) {
  test::TempDir dir;
  const std::string victim = dir.File("shadow");
  WriteFile(victim, kVictimText);
  const std::string unit = dir.File("qov.service");
  fs::create_symlink(victim, unit);
  EXPECT_EQ(CreateNewFile(unit, "[Unit]\n", kPublicFileMode), std::string("File exists"));
  fs::remove(unit);
  fs::create_symlink(victim + ".new", unit);
  EXPECT_NE(CreateNewFile(unit, "[Unit]\n", kPublicFileMode), std::nullopt);
  EXPECT_FALSE(fs::exists(victim + ".new"));
  EXPECT_EQ(CreateNewFile(victim, "[Unit]\n", kPublicFileMode), std::string("File exists"));
  EXPECT_EQ(ReadAll(victim), kVictimText);
  fs::remove(unit);
  EXPECT_EQ(CreateNewFile(unit, "[Unit]\n", kPublicFileMode), std::nullopt);
  EXPECT_EQ(ReadAll(unit), "[Unit]\n");
}

// The modes are set after the create, so neither a tight nor an open umask
// (inherited from whoever started the service) decides who may read.
TEST(FilePosixTest, CreatedFilesGetTheirModeWhateverTheUmask) {
  for (const mode_t mask : {mode_t{0077}, mode_t{0000}}) {
    SCOPED_TRACE(mask);
    ScopedUmask umask(mask);
    test::TempDir dir;
    ASSERT_NE(AppendFile::Open(dir.File("qov.log")), nullptr);
    EXPECT_EQ(ModeOf(dir.File("qov.log")), 0640u);
    ASSERT_EQ(ReplaceFileContents(dir.File("qov.prom"), "qov_up 1\n"), std::nullopt);
    EXPECT_EQ(ModeOf(dir.File("qov.prom")), 0644u);
    ASSERT_EQ(ReplaceFileContents(dir.File("state"), "a=1\n", kPrivateFileMode), std::nullopt);
    EXPECT_EQ(ModeOf(dir.File("state")), 0600u);
    ASSERT_EQ(CreateNewFile(dir.File("qov.service"), "[Unit]\n", kPublicFileMode), std::nullopt);
    EXPECT_EQ(ModeOf(dir.File("qov.service")), 0644u);
    // A log that exists keeps the mode its owner gave it.
    ASSERT_EQ(::chmod(dir.File("qov.log").c_str(), 0600), 0);
    ASSERT_NE(AppendFile::Open(dir.File("qov.log")), nullptr);
    EXPECT_EQ(ModeOf(dir.File("qov.log")), 0600u);
  }
}

TEST(FilePosixTest, TemporaryNamesCannotBeForeseen) {
  const std::string a = TemporaryNameFor("/m/qov.prom");
  const std::string b = TemporaryNameFor("/m/qov.prom");
  EXPECT_EQ(a.rfind("/m/qov.prom.tmp.", 0), 0u) << a;
  EXPECT_EQ(a.size(), std::string("/m/qov.prom.tmp.").size() + 12);
  EXPECT_NE(a, b);
}

// Where others could plant links or replace the service's files, the
// configuration check warns: a folder another user owns, or one its group or
// everyone may write unless the sticky bit keeps them to their own files.
TEST(FilePosixTest, FoldersOthersMayWriteAreTold) {
  struct Case {
    mode_t mode;
    bool other_owner;
    bool open_to_others;
  };
  const Case cases[] = {
      {0755, false, false}, {0700, false, false}, {0775, false, true},  {0757, false, true},
      {0777, false, true},  {01777, false, false}, {01775, false, false}, {0755, true, true},
  };
  test::TempDir dir;
  EXPECT_FALSE(FolderWritableByOthers(dir.File("missing")));
  int n = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(n);
    const std::string folder = dir.File("f" + std::to_string(n++));
    fs::create_directory(folder);
    ASSERT_EQ(::chmod(folder.c_str(), c.mode), 0);
    if (c.other_owner) {
      // Only root can give a folder away; as another user this case is not run.
      if (::geteuid() != 0) continue;
      ASSERT_EQ(::chown(folder.c_str(), 65534, 65534), 0);
    }
    EXPECT_EQ(FolderWritableByOthers(folder), c.open_to_others);
  }
}

}  // namespace
}  // namespace qov::platform
