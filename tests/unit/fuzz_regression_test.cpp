// Replays the fuzz targets' committed inputs through the same bodies the
// fuzzers run: every regression input (an input that once broke a check or
// crashed, kept under tests/fuzz/regressions/TARGET/) and every seed of the
// corpus (tests/fuzz/corpus/TARGET/). A broken check fails the test with the
// file's name instead of aborting the suite.
#include "support/fuzz_bodies.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <vector>

namespace qov::test {
namespace {

namespace fs = std::filesystem;

const fs::path kFuzzDir = fs::path(QOV_SOURCE_DIR) / "tests" / "fuzz";

struct CheckFailed : std::runtime_error {
  using std::runtime_error::runtime_error;
};

[[noreturn]] void ThrowCheckFailed(const char* what) { throw CheckFailed(what); }

// The regular files of a folder, by name; none when it does not exist.
std::vector<fs::path> FilesIn(const fs::path& dir) {
  std::vector<fs::path> files;
  std::error_code ec;
  for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
    if (it->is_regular_file() && it->path().filename().string().front() != '.') files.push_back(it->path());
  }
  std::sort(files.begin(), files.end());
  return files;
}

std::vector<std::uint8_t> ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Runs every file of `dir` through `target`; the number of files.
int Replay(const FuzzTarget& target, const fs::path& dir) {
  SetFuzzFailureHandler(ThrowCheckFailed);
  const std::vector<fs::path> files = FilesIn(dir);
  for (const fs::path& file : files) {
    const std::vector<std::uint8_t> input = ReadFile(file);
    try {
      target.body(input.data(), input.size());
    } catch (const CheckFailed& e) {
      ADD_FAILURE() << target.name << " on " << file.string() << ": " << e.what();
    }
  }
  SetFuzzFailureHandler(nullptr);
  return static_cast<int>(files.size());
}

const FuzzTarget& Target(const std::string& name) {
  for (const FuzzTarget& t : FuzzTargets()) {
    if (name == t.name) return t;
  }
  throw std::logic_error("no fuzz target " + name);
}

class FuzzRegression : public ::testing::TestWithParam<std::string> {};

TEST_P(FuzzRegression, SeedsAndRegressionsPassEveryCheck) {
  const FuzzTarget& target = Target(GetParam());
  EXPECT_GT(Replay(target, kFuzzDir / "corpus" / target.name), 0) << "no seed corpus for " << target.name;
  Replay(target, kFuzzDir / "regressions" / target.name);
}

std::vector<std::string> TargetNames() {
  std::vector<std::string> names;
  for (const FuzzTarget& t : FuzzTargets()) names.emplace_back(t.name);
  return names;
}

INSTANTIATE_TEST_SUITE_P(Targets, FuzzRegression, ::testing::ValuesIn(TargetNames()),
                         [](const ::testing::TestParamInfo<std::string>& info) { return info.param; });

// A regression kept in a folder that names no target would never run.
TEST(FuzzRegressionFolders, NameTargets) {
  const std::vector<std::string> names = TargetNames();
  std::error_code ec;
  for (fs::directory_iterator it(kFuzzDir / "regressions", ec), end; !ec && it != end; it.increment(ec)) {
    if (!it->is_directory()) continue;
    const std::string folder = it->path().filename().string();
    EXPECT_NE(std::find(names.begin(), names.end(), folder), names.end()) << "no fuzz target " << folder;
  }
}

}  // namespace
}  // namespace qov::test
