// Container dump sets written by an independent implementation (the Python
// fixtures under tests/fixtures/containers) played back by the real binary:
// every mode decodes byte-exact, the password prompt is the one that counts,
// and restarts resume where the checkpoint rules say.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

#include "e2e_support.h"
#include "kit/corruption_tables.h"
#include "kit/temp_dir.h"
#include "rehearsal/dump_writer.h"

namespace {

using e2e::bytes_of;
using e2e::Playback;

using Fixture = kit::FixtureSet;
const auto& kFixtures = kit::kFixtureSets;

const char kPrompt[] = "Enter the decryption password:";

// A private copy of a fixture set (checkpoint files are written beside it).
class FixtureSet {
 public:
  explicit FixtureSet(const Fixture& f) : prefix_(dir_.file(f.prefix)) {
    for (int n = 0; n < f.files; n++) {
      std::filesystem::copy_file(
          std::string(BRIX_FIXTURES_DIR) + "/" + f.prefix + "." + std::to_string(n),
          kit::dump_file_name(prefix_, n));
    }
    std::string bytes, error;
    kit::read_file(std::string(BRIX_FIXTURES_DIR) + "/" + f.prefix + ".stream", bytes, error);
    stream_ = kit::blocks_of(bytes);
  }
  const std::string& prefix() const { return prefix_; }
  const kit::Stream& stream() const { return stream_; }

 private:
  kit::TempDir dir_;
  std::string prefix_;
  kit::Stream stream_;
};

std::string answer(const char* password) { return std::string(password ? password : "") + "\n"; }

// Each set decoded on the read-ahead thread and, with BRIX_DECODE_THREAD=0,
// in place by the sender.
TEST(FixtureE2E, EveryContainerKindAndModePlaysBackByteExactOnEitherThread) {
  for (const Fixture& f : kFixtures) {
    for (const bool read_ahead : {true, false}) {
      FixtureSet set(f);
      ASSERT_FALSE(set.stream().empty()) << f.prefix;
      kit::ProcessOptions options = e2e::writer_options({set.prefix()}, answer(f.password));
      if (!read_ahead) options.env.push_back("BRIX_DECODE_THREAD=0");
      Playback p = e2e::play_with(options, kit::DestinationOptions());
      EXPECT_EQ(p.status.code, 0) << f.prefix << ": " << p.err;
      EXPECT_TRUE(p.dest.complete) << f.prefix << ": " << p.dest.error;
      EXPECT_TRUE(
          e2e::same_blocks(bytes_of({p.dest.reply}), e2e::expected_reply(set.stream()[0], 0)))
          << f.prefix;
      EXPECT_TRUE(e2e::same_blocks(bytes_of(p.dest.blocks),
                                   bytes_of(set.stream(), 1, set.stream().size() - 1)))
          << f.prefix;
      EXPECT_EQ(p.err.find(kPrompt) != std::string::npos, f.password != nullptr) << f.prefix;
    }
  }
}

// The answer to the prompt counts, not -E, and only as far as its mode
// takes it; a wrong one is refused before anything listens.
TEST(FixtureE2E, PasswordsAreTheAnswerToThePromptCutToTheModesLength) {
  const struct {
    const Fixture& fixture;
    std::vector<std::string> args;
    std::string typed;
    bool accepted;
  } cases[] = {
      {kFixtures[1], {"-E", "not the password"}, answer(kFixtures[1].password), true},
      {kFixtures[0], {}, "thirty-two bytes count in mode 1 but another tail\n", true},
      {kFixtures[2], {}, "mode three keeps all 52 bytes of this long password?\n", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.typed);
    FixtureSet set(c.fixture);
    std::vector<std::string> args = c.args;
    args.push_back(set.prefix());
    if (c.accepted) {
      EXPECT_EQ(e2e::play(args, kit::DestinationOptions(), c.typed).status.code, 0);
      continue;
    }
    Playback p = e2e::run_alone(args, c.typed);
    EXPECT_EQ(p.status.code, 255);
    EXPECT_EQ(p.err, std::string(kPrompt) + "The password is incorrect\n");
    EXPECT_EQ(p.out, "brix_writer: Will read 1 files from prefix " + set.prefix() + "\n");
  }
}

// ce_mode1: chunks start at blocks 0, 3, 19, 21 and 27; the headers that
// open points 101, 102 and 103 are blocks 3, 21 and 27. Every restart goes on
// with block n+1 of its reply's count n, the file's last chunk included.
TEST(FixtureE2E, RestartsGoOnWithTheBlockAfterTheReplysCount) {
  FixtureSet set(kFixtures[0]);
  kit::DestinationOptions interrupted;
  interrupted.send_ack = false;  // the writer fails at the acknowledgement; checkpoints stay
  ASSERT_EQ(e2e::play({set.prefix()}, interrupted, answer(kFixtures[0].password)).status.code, 255);
  for (uint32_t point : {101u, 102u, 103u}) {
    SCOPED_TRACE("restart from point " + std::to_string(point));
    const e2e::ResumePlace resume = e2e::restart_place(set.stream(), point, true);
    kit::DestinationOptions d;
    d.restart_sync_point = point;
    d.send_ack = false;  // the checkpoint files stay for the next restart
    Playback p = e2e::play({set.prefix()}, d, answer(kFixtures[0].password));
    EXPECT_TRUE(p.dest.end_seen) << p.err;
    EXPECT_EQ(kit::blks_done(p.dest.reply), resume.blks_done);
    EXPECT_TRUE(
        e2e::same_blocks(bytes_of(p.dest.blocks),
                         bytes_of(set.stream(), resume.block, set.stream().size() - resume.block)));
  }
}

}  // namespace
