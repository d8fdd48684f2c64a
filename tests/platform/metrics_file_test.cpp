// The metrics file on the real file system: replaced whole, never seen in
// part, no temporary left, and a folder that goes away and comes back.
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

#include "metrics/metrics_writer.h"
#include "platform/file.h"
#include "support/recording_log.h"
#include "support/temp_dir.h"

namespace qov::metrics {
namespace {

namespace fs = std::filesystem;

using test::ReadAll;

std::size_t EntriesIn(const fs::path& dir) {
  return static_cast<std::size_t>(std::distance(fs::directory_iterator(dir), fs::directory_iterator()));
}

// A reader polls the file while it is replaced with texts of different
// lengths: each read is one whole text. On Windows an open that meets the
// replace in progress fails (the move holds the old file for deletion), and
// a replace may fail while the reader holds the file; neither is a part.
TEST(MetricsFileTest, ReaderSeesEitherTheOldOrTheNewTextWhole) {
  test::TempDir dir;
  const std::string path = dir.File("qov.prom");
  const std::string texts[] = {std::string(20'000, 'a') + "\n", "b\n", std::string(70'000, 'c') + "\n"};
  ASSERT_EQ(platform::ReplaceFileContents(path, texts[0]), std::nullopt);
  std::atomic<bool> done{false};
  std::atomic<int> reads{0}, partial{0}, unopened{0};
  std::thread reader([&] {
    while (!done.load() || reads.load() + unopened.load() < 50) {
      std::ifstream in(path, std::ios::binary);
      if (!in.is_open()) {
        unopened++;
        continue;
      }
      std::stringstream ss;
      ss << in.rdbuf();
      const std::string seen = ss.str();
      if (seen != texts[0] && seen != texts[1] && seen != texts[2]) partial++;
      reads++;
    }
  });
  int failed = 0;
  for (int i = 1; i <= 300; ++i) failed += platform::ReplaceFileContents(path, texts[i % 3]).has_value();
  done = true;
  reader.join();
  EXPECT_EQ(partial.load(), 0);
#ifndef _WIN32
  EXPECT_EQ(failed, 0);
  EXPECT_EQ(unopened.load(), 0);
#endif
  ASSERT_EQ(platform::ReplaceFileContents(path, texts[1]), std::nullopt);
  EXPECT_EQ(ReadAll(path), texts[1]);
  EXPECT_EQ(EntriesIn(fs::path(path).parent_path()), 1u) << "no temporary left behind";
}

TEST(MetricsFileTest, FolderThatDisappearsIsLoggedOnceAndWrittenAgainWhenBack) {
  test::TempDir dir;
  const fs::path folder = dir.File("textfile");
  const std::string path = (folder / "qov.prom").string();
  fs::create_directories(folder);
  Metrics m;
  test::RecordingLog log;
  MetricsWriter writer(m, log, path, 1);
  platform::Tick now = 0;
  const auto next_period = [&] {
    now += 1000;
    writer.WriteIfDue(now);
  };
  writer.WriteIfDue(now);
  ASSERT_NE(ReadAll(path).find("\nqov_check_cycles_total{result=\"ok\"} 0\n"), std::string::npos);

  fs::remove_all(folder);
  m.check_cycles_ok = 7;
  next_period();
  next_period();
  next_period();
  ASSERT_EQ(log.Lines().size(), 1u);
  EXPECT_EQ(log.Texts()[0].rfind("metrics file write fail (" + path + "): ", 0), 0u) << log.Texts()[0];
  EXPECT_FALSE(fs::exists(folder));

  fs::create_directories(folder);
  next_period();
  EXPECT_NE(ReadAll(path).find("\nqov_check_cycles_total{result=\"ok\"} 7\n"), std::string::npos);
  EXPECT_EQ(EntriesIn(folder), 1u);
  EXPECT_EQ(log.Lines().size(), 1u);
}

}  // namespace
}  // namespace qov::metrics
