// Replays a fuzz target's committed inputs (its seed corpus and the inputs
// that once made it fail) through the target's own entry point, in the
// ordinary test build: every regression stays checked in every build,
// without the fuzzing engine.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

namespace fs = std::filesystem;

// The files of a directory, in name order; none when it does not exist.
std::vector<fs::path> inputs_in(const fs::path& dir) {
  std::vector<fs::path> files;
  std::error_code ignored;
  for (const fs::directory_entry& entry : fs::directory_iterator(dir, ignored)) {
    if (entry.is_regular_file() && entry.path().filename().string()[0] != '.') {
      files.push_back(entry.path());
    }
  }
  std::sort(files.begin(), files.end());
  return files;
}

std::vector<uint8_t> contents(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// A failure inside the target aborts the process; the name printed last is
// the input that did it.
size_t replay(const fs::path& dir) {
  size_t count = 0;
  for (const fs::path& file : inputs_in(dir)) {
    fprintf(stderr, "replaying %s\n", file.c_str());
    const std::vector<uint8_t> bytes = contents(file);
    EXPECT_EQ(LLVMFuzzerTestOneInput(bytes.data(), bytes.size()), 0) << file;
    count++;
  }
  return count;
}

// FUZZ_REPLAY_SUITE is the target's suite name (DumpFileFuzzInputs, ...).
// The inputs that once failed come first: they are the likelier to fail again.
TEST(FUZZ_REPLAY_SUITE, EveryCommittedInputRunsCleanly) {
  replay(fs::path(FUZZ_TARGET_DIR) / "regressions");
  EXPECT_GT(replay(fs::path(FUZZ_TARGET_DIR) / "corpus"), 0u) << "the corpus is missing";
}

}  // namespace
