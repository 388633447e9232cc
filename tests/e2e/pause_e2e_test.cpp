// The pause dialogue of the real binary (-P): the prompt before each further
// file and the missing-file prompt, answered while the transfer runs.
#include <gtest/gtest.h>

#include <thread>

#include "e2e_support.h"
#include "kit/temp_dir.h"
#include "rehearsal/dump_writer.h"
#include "rehearsal/stream_gen.h"

namespace {

constexpr int kPromptTimeoutMs = 20000;

class Pause : public testing::Test {
 protected:
  kit::TempDir dir;
  std::string prefix = dir.file("vol");
  kit::Stream stream;
  kit::WriterProcess writer;
  kit::DestinationResult dest;
  std::thread destination;

  // A three-file set whose middle file is held back: the test supplies it
  // while the writer waits at the prompt.
  void SetUp() override {
    stream = e2e::sample_stream(300);
    ASSERT_TRUE(kit::write_plain_set(prefix, stream, {100, 100}).ok());
    ASSERT_EQ(rename(kit::dump_file_name(prefix, 1).c_str(), held_back().c_str()), 0);
    kit::ProcessOptions options = e2e::writer_options({"-P", prefix});
    options.stdin_mode = kit::StdinMode::stream;
    ASSERT_TRUE(writer.start(options)) << writer.error();
    destination = std::thread([this] {
      kit::DestinationOptions d;
      d.io_timeout_ms = 30000;
      d.structure.require_end = false;
      dest = kit::run_destination(d);
    });
  }
  void TearDown() override {
    writer.kill();
    if (destination.joinable()) destination.join();
  }
  std::string held_back() { return dir.file("held_back"); }
  std::string missing_prompt(int n) {
    return "Can't open " + kit::dump_file_name(prefix, n) +
           ": No such file or directory.\n(A)bort, (R)etry, (F)inish : ";
  }
  std::string next_prompt(int n) {
    return "About to read " + kit::dump_file_name(prefix, n) +
           ". Hit enter to continue, q to quit:";
  }
  bool prompted(const std::string& text) {
    return writer.wait_for_output(kit::Output::err, text, kPromptTimeoutMs);
  }
  kit::ExitStatus end() {
    kit::ExitStatus status = writer.wait(e2e::kWriterTimeoutMs);
    destination.join();
    return status;
  }
};

TEST_F(Pause, RetryAfterTheFileIsSuppliedContinuesAndFinishEndsTheSet) {
  ASSERT_TRUE(prompted(next_prompt(1)));
  writer.write_stdin("\n");
  ASSERT_TRUE(prompted(missing_prompt(1)));
  ASSERT_EQ(rename(held_back().c_str(), kit::dump_file_name(prefix, 1).c_str()), 0);
  writer.write_stdin("r\n");
  ASSERT_TRUE(prompted(next_prompt(2)));
  writer.write_stdin("\n");
  ASSERT_TRUE(prompted(next_prompt(3)));
  writer.write_stdin("\n");
  ASSERT_TRUE(prompted(missing_prompt(3)));
  writer.write_stdin("F\n");
  kit::ExitStatus status = end();
  EXPECT_EQ(status.code, 0) << writer.output(kit::Output::err);
  EXPECT_TRUE(dest.complete) << dest.error;
  EXPECT_TRUE(
      e2e::same_blocks(e2e::bytes_of(dest.blocks), e2e::bytes_of(stream, 1, stream.size() - 1)));
}

// An answer is read four characters at a time: "abcd" continues, the "Q"
// behind it answers the next prompt.
TEST_F(Pause, QuitAtThePromptEndsWithStatusZero) {
  ASSERT_TRUE(prompted(next_prompt(1)));
  ASSERT_EQ(rename(held_back().c_str(), kit::dump_file_name(prefix, 1).c_str()), 0);
  writer.write_stdin("abcdQ\n");
  EXPECT_TRUE(prompted(next_prompt(2)));
  EXPECT_EQ(end().code, 0);
  EXPECT_FALSE(dest.complete);
}

TEST_F(Pause, AbortFailsTheTransfer) {
  ASSERT_TRUE(prompted(next_prompt(1)));
  writer.write_stdin("\n");
  ASSERT_TRUE(prompted(missing_prompt(1)));
  writer.write_stdin("a\n");
  EXPECT_EQ(end().code, 255);
  // Not the end of the input, as (F)inish would make it.
  EXPECT_EQ(writer.output(kit::Output::out).find("without end stream header"), std::string::npos);
}

// An input at its end continues at the prompts before further files, as
// Enter would, and ends the run at the missing-file prompt.
TEST_F(Pause, EndOfInputContinuesToTheMissingFilePromptAndExitsWithStatusTwo) {
  ASSERT_TRUE(prompted(next_prompt(1)));
  ASSERT_EQ(rename(held_back().c_str(), kit::dump_file_name(prefix, 1).c_str()), 0);
  writer.close_stdin();
  EXPECT_EQ(end().code, 2);
  EXPECT_NE(
      writer.output(kit::Output::err)
          .find(next_prompt(2) + next_prompt(3) + missing_prompt(3) + "Error reading from stdin\n"),
      std::string::npos);
}

}  // namespace
