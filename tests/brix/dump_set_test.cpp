// The dump-file set: naming, probing, batches, reading across files, the
// restart rule, damaged files and the pause dialogue.
#include "dump_set.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "reading_state.h"
#include "test_support.h"

namespace {

using testing_support::Block;
using testing_support::concat;
using testing_support::data_block;
using testing_support::TempDir;
using testing_support::TestSession;
using testing_support::write_file;

std::vector<Block> blocks(int first, int count) {
  std::vector<Block> all;
  for (int i = 0; i < count; i++) all.push_back(data_block(first + i));
  return all;
}

// Reads the whole set the way the sender does; returns the blocks and leaves
// the final result and error word in *rc and *error.
std::vector<Block> read_all(TestSession& t, bool_t* rc, int* error) {
  std::vector<Block> got;
  for (;;) {
    *rc = read_dump_block(&t.s, error);
    if (!*rc) return got;
    got.emplace_back(t.s.in_buf, LR_BLOCK_SIZE);
  }
}

// Replaces standard input with a pipe holding `text` for the object's life.
class StdinFeed {
 public:
  explicit StdinFeed(const std::string& text) {
    saved_ = dup(0);
    int fds[2];
    EXPECT_EQ(pipe(fds), 0);
    EXPECT_EQ(write(fds[1], text.data(), text.size()), static_cast<ssize_t>(text.size()));
    close(fds[1]);
    dup2(fds[0], 0);
    close(fds[0]);
    clearerr(stdin);
  }
  ~StdinFeed() {
    dup2(saved_, 0);
    close(saved_);
    clearerr(stdin);
  }

 private:
  int saved_;
};

struct Captured {
  std::string out, err;
};

class DumpSet : public testing::Test {
 protected:
  TempDir dir;
  TestSession t;
  std::string prefix(const std::string& name = "vol") { return dir.file(name); }
  void write_set(const std::string& name, const std::vector<std::vector<Block>>& files) {
    for (size_t i = 0; i < files.size(); i++) {
      write_file(prefix(name) + "." + std::to_string(i), concat(files[i]));
    }
  }
  bool_t open_set(Captured* c = nullptr) {
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    bool_t ok = open_input_dump(&t.s) && detect_container_kind(&t.s) && prepare_input_dump(&t.s)
                    ? B_TRUE
                    : B_FALSE;
    std::string out = testing::internal::GetCapturedStdout();
    std::string err = testing::internal::GetCapturedStderr();
    if (c != nullptr) *c = Captured{out, err};
    return ok;
  }
};

TEST_F(DumpSet, ProbeCountsTheFilesOfEachPrefixAndReadsThemInOrder) {
  write_set("vol", {blocks(0, 3), blocks(3, 1), blocks(4, 2)});
  t.add_prefix(prefix());
  Captured c;
  ASSERT_EQ(open_set(&c), B_TRUE) << c.err;
  EXPECT_EQ(c.out, "brix_writer: Will read 3 files from prefix " + prefix() + "\n");
  EXPECT_EQ(t.s.input_file_max[0], 3u);

  bool_t rc;
  int error;
  std::vector<Block> got = read_all(t, &rc, &error);
  EXPECT_EQ(error, 0);
  EXPECT_EQ(got, blocks(0, 6));
}

TEST_F(DumpSet, FilesBehindAGapAreNotPartOfTheSet) {
  write_set("vol", {blocks(0, 1), blocks(1, 1)});
  write_file(prefix() + ".3", concat(blocks(9, 1)));
  t.add_prefix(prefix());
  ASSERT_EQ(open_set(), B_TRUE);
  EXPECT_EQ(t.s.input_file_max[0], 2u);
  bool_t rc;
  int error;
  EXPECT_EQ(read_all(t, &rc, &error), blocks(0, 2));
  EXPECT_EQ(error, 0);
}

TEST_F(DumpSet, BatchesAreReadInPrefixOrder) {
  write_set("a", {blocks(0, 2), blocks(2, 1)});
  write_set("b", {blocks(3, 1)});
  t.add_prefix(prefix("a"));
  t.add_prefix(prefix("b"));
  Captured c;
  ASSERT_EQ(open_set(&c), B_TRUE);
  EXPECT_EQ(c.out, "brix_writer: Will read 2 files from prefix " + prefix("a") +
                       "\nbrix_writer: Will read 1 files from prefix " + prefix("b") + "\n");
  bool_t rc;
  int error;
  EXPECT_EQ(read_all(t, &rc, &error), blocks(0, 4));
  EXPECT_EQ(t.s.input_batch_index, 1u);
}

TEST_F(DumpSet, MissingFirstFileOfALaterPrefixFailsTheTransferWhenReached) {
  write_set("a", {blocks(0, 1)});
  t.add_prefix(prefix("a"));
  t.add_prefix(prefix("q"));
  Captured c;
  ASSERT_EQ(open_set(&c), B_TRUE);
  EXPECT_NE(c.out.find("Will read 0 files from prefix " + prefix("q")), std::string::npos);

  testing::internal::CaptureStderr();
  bool_t rc;
  int error;
  std::vector<Block> got = read_all(t, &rc, &error);
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "Failed to open " + prefix("q") + ".0 for reading\n");
  EXPECT_EQ(got, blocks(0, 1));
  EXPECT_EQ(error, 1);
}

TEST_F(DumpSet, TwentiethPrefixIsTheLastBatch) {
  for (int i = 0; i < 20; i++) {
    write_set("p" + std::to_string(i), {blocks(i, 1)});
    t.add_prefix(prefix("p" + std::to_string(i)));
  }
  ASSERT_EQ(open_set(), B_TRUE);
  bool_t rc;
  int error;
  EXPECT_EQ(read_all(t, &rc, &error), blocks(0, 20));
  EXPECT_EQ(error, 0);
}

TEST_F(DumpSet, MissingFirstFileIsReportedWithTheSystemText) {
  t.add_prefix(prefix("none"));
  Captured c;
  EXPECT_EQ(open_set(&c), B_FALSE);
  EXPECT_EQ(c.err, "Can't open " + prefix("none") + ".0: No such file or directory\n");
}

TEST_F(DumpSet, ProbeErrorOtherThanMissingFileIsReported) {
  write_set("vol", {blocks(0, 1)});
  ASSERT_EQ(symlink((prefix() + ".1").c_str(), (prefix() + ".1").c_str()), 0);  // a loop
  t.add_prefix(prefix());
  Captured c;
  EXPECT_EQ(open_set(&c), B_FALSE);
  EXPECT_EQ(c.err, "Can't open " + prefix() + ".1: Too many levels of symbolic links\n");
}

TEST_F(DumpSet, PrefixTooLongForItsFileNamesIsRefused) {
  std::string longest = std::string("/") + std::string(DUMP_PREFIX_MAX - 1, 'x');
  t.add_prefix(longest + "y");
  Captured c;
  EXPECT_EQ(open_set(&c), B_FALSE);
  EXPECT_EQ(c.err, "Dump file prefix longer than 1011 characters: " + longest + "y\n");
}

TEST_F(DumpSet, TrailingPartialBlockIsIgnoredWhereverTheReadBoundaryFalls) {
  // 5 blocks + 100 bytes: one read returns them all; 16 blocks + 100 bytes:
  // the tail comes alone in the second read and must not count as a block.
  write_file(prefix() + ".0", concat(blocks(0, 5)) + std::string(100, 'x'));
  write_file(prefix() + ".1", concat(blocks(5, 16)) + std::string(100, 'y'));
  write_file(prefix() + ".2", concat(blocks(21, 1)));
  t.add_prefix(prefix());
  ASSERT_EQ(open_set(), B_TRUE);
  bool_t rc;
  int error;
  EXPECT_EQ(read_all(t, &rc, &error), blocks(0, 22));
  EXPECT_EQ(error, 0);
}

TEST_F(DumpSet, EmptyFileInTheMiddleDeliversNothing) {
  write_set("vol", {blocks(0, 2), {}, blocks(2, 1)});
  t.add_prefix(prefix());
  ASSERT_EQ(open_set(), B_TRUE);
  bool_t rc;
  int error;
  EXPECT_EQ(read_all(t, &rc, &error), blocks(0, 3));
}

// A FIFO, a directory or a device in the set is refused by name, before an
// open could block on it or a read take it for data: as the first file, found
// by the probe, or met while reading (it was a regular file when probed).
TEST(DumpSetFiles, FileThatIsNotARegularFileIsRefusedWithoutBlocking) {
  const struct {
    const char* what;
    int (*make)(const char* path);
  } kinds[] = {{"FIFO", [](const char* path) { return mkfifo(path, 0600); }},
               {"directory", [](const char* path) { return mkdir(path, 0700); }},
               {"device", [](const char* path) { return symlink("/dev/null", path); }}};
  enum Place { first_file, probed_file, later_file };
  alarm(60);  // an open that blocks ends the test instead of hanging it
  for (const auto& kind : kinds) {
    for (Place place : {first_file, probed_file, later_file}) {
      SCOPED_TRACE(std::string(kind.what) + " at place " + std::to_string(place));
      TempDir dir;
      TestSession t;
      const std::string prefix = dir.file("vol");
      const std::string odd = prefix + (place == first_file ? ".0" : ".1");
      if (place != first_file) write_file(prefix + ".0", concat(blocks(0, 1)));
      if (place == later_file) write_file(odd, concat(blocks(1, 1)));
      if (place != later_file) {
        ASSERT_EQ(kind.make(odd.c_str()), 0);
      }
      t.add_prefix(prefix);
      const std::string refusal = "Dump file " + odd + " is not a regular file\n";

      testing::internal::CaptureStdout();
      testing::internal::CaptureStderr();
      bool_t opened = open_input_dump(&t.s);
      testing::internal::GetCapturedStdout();
      std::string err = testing::internal::GetCapturedStderr();
      if (place != later_file) {
        EXPECT_EQ(opened, B_FALSE);
        EXPECT_EQ(err, refusal);
        continue;
      }
      ASSERT_EQ(opened, B_TRUE) << err;
      ASSERT_EQ(detect_container_kind(&t.s), B_TRUE);
      ASSERT_EQ(prepare_input_dump(&t.s), B_TRUE);
      ASSERT_EQ(unlink(odd.c_str()), 0);
      ASSERT_EQ(kind.make(odd.c_str()), 0);
      testing::internal::CaptureStderr();
      bool_t rc;
      int error;
      EXPECT_EQ(read_all(t, &rc, &error), blocks(0, 1));
      EXPECT_EQ(testing::internal::GetCapturedStderr(), refusal);
      EXPECT_EQ(error, 1);
    }
  }
  alarm(0);
}

TEST_F(DumpSet, DebugModeReportsEachOpeningAndTheEndOfTheSet) {
  write_set("vol", {blocks(0, 1), blocks(1, 1)});
  t.add_prefix(prefix());
  t.s.debug = B_TRUE;
  ASSERT_EQ(open_set(), B_TRUE);
  testing::internal::CaptureStdout();
  testing::internal::CaptureStderr();
  bool_t rc;
  int error;
  read_all(t, &rc, &error);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "Opening " + prefix() + ".1 for reading..\n");
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "No more input files\n");
}

class PauseDialogue : public DumpSet {
 protected:
  void SetUp() override {
    write_set("vol", {blocks(0, 1), blocks(1, 1)});
    t.add_prefix(prefix());
    t.s.pause = B_TRUE;
    ASSERT_EQ(open_set(), B_TRUE);
  }
  std::string prompt(int n) {
    return "About to read " + prefix() + "." + std::to_string(n) +
           ". Hit enter to continue, q to quit:";
  }
  std::string missing(int n) {
    return "Can't open " + prefix() + "." + std::to_string(n) +
           ": No such file or directory.\n(A)bort, (R)etry, (F)inish : ";
  }
};

TEST_F(PauseDialogue, EnterContinuesAndFinishEndsTheInputNormally) {
  StdinFeed answers("\nx\nF\n");
  testing::internal::CaptureStderr();
  bool_t rc;
  int error;
  std::vector<Block> got = read_all(t, &rc, &error);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), prompt(1) + prompt(2) + missing(2));
  EXPECT_EQ(got, blocks(0, 2));
  EXPECT_EQ(error, 0);
}

TEST_F(PauseDialogue, RetryAsksAgainAndAbortFailsTheTransfer) {
  StdinFeed answers("\n\nr\na\n");
  testing::internal::CaptureStderr();
  bool_t rc;
  int error;
  read_all(t, &rc, &error);
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            prompt(1) + prompt(2) + missing(2) + missing(2));
  EXPECT_EQ(error, 1);
}

TEST_F(PauseDialogue, OnlyFourCharactersOfAnAnswerAreReadAtOnce) {
  // "abcdq": the first prompt takes "abcd", the next one the remaining "q".
  StdinFeed answers("abcdq\n");
  EXPECT_EXIT(
      {
        bool_t rc;
        int error;
        read_all(t, &rc, &error);
      },
      testing::ExitedWithCode(0), "");
}

TEST_F(PauseDialogue, QuitEndsTheProcessWithStatusZero) {
  StdinFeed answers("Q\n");
  EXPECT_EXIT(
      {
        bool_t rc;
        int error;
        read_all(t, &rc, &error);
      },
      testing::ExitedWithCode(0), "About to read");
}

TEST_F(PauseDialogue, EndOfInputAtTheMissingFilePromptExitsWithStatusTwo) {
  StdinFeed answers("\n\n");  // both files, then nothing left to answer with
  EXPECT_EXIT(
      {
        bool_t rc;
        int error;
        read_all(t, &rc, &error);
      },
      testing::ExitedWithCode(2), "Error reading from stdin\n$");
}

TEST_F(PauseDialogue, EndOfInputAtTheNextFilePromptContinuesAsEnterWould) {
  // Both prompts before the next files pass on an exhausted input; only the
  // missing-file prompt needs an answer.
  StdinFeed answers("");
  EXPECT_EXIT(
      {
        bool_t rc;
        int error;
        read_all(t, &rc, &error);
      },
      testing::ExitedWithCode(2),
      "About to read .*\\.1\\. .*About to read .*\\.2\\. .*Can't open .*Error reading from "
      "stdin\n$");
}

}  // namespace
