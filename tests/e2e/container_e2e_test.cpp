// Container dump sets made by the kit (compressed, encrypted in every mode,
// both; several files; tables of more than one chunk header) played back by
// the real binary: byte-exact playback, digest failures where the rules put
// them, and restarts from every checkpoint of a set.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>

#include "e2e_support.h"
#include "kit/container_damage.h"
#include "kit/temp_dir.h"
#include "rehearsal/dump_writer.h"
#include "rehearsal/stream_gen.h"

namespace {

using e2e::bytes_of;
using e2e::Playback;
using e2e::same_blocks;

const char kPassword[] = "brix container password";
const char kDigestMismatch[] = "The data digest code does not match the expected value\n";

kit::Stream sample_stream(uint64_t blocks, uint64_t seed = 3) {
  kit::StreamShape shape;
  shape.seed = seed;
  shape.total_blocks = blocks;
  return kit::generate_stream(shape);
}

// Few synchronisation points, so that all their checkpoint files are kept.
kit::Stream few_points_stream() {
  kit::StreamShape shape;
  shape.seed = 5;
  shape.total_blocks = 1200;
  shape.headers_per_sync = 30;
  return kit::generate_stream(shape);
}

class ContainerPlayback : public testing::Test {
 protected:
  kit::TempDir dir;
  std::string prefix = dir.file("vol");
  kit::Stream stream;
  std::vector<kit::DumpFileInfo> files;

  void store(const kit::Stream& s, const std::vector<uint64_t>& split, kit::DumpFormat format,
             kit::ContainerOptions options = kit::ContainerOptions()) {
    stream = s;
    if (options.password.empty()) options.password = kPassword;
    kit::DumpSetResult r = kit::write_container_set(prefix, stream, split, format, options);
    ASSERT_TRUE(r.ok()) << r.error;
    files = r.file_info;
  }
  Playback play(const kit::DestinationOptions& d = kit::DestinationOptions(),
                const std::string& answer = std::string(kPassword) + "\n") {
    return e2e::play({prefix}, d, answer);
  }
  void expect_whole_stream(const Playback& p) {
    EXPECT_EQ(p.status.code, 0) << p.err;
    EXPECT_TRUE(p.dest.complete) << p.dest.error << p.dest.structure_error;
    EXPECT_TRUE(same_blocks(bytes_of({p.dest.reply}), e2e::expected_reply(stream[0], 0)));
    EXPECT_TRUE(same_blocks(bytes_of(p.dest.blocks), bytes_of(stream, 1, stream.size() - 1)));
  }
};

TEST_F(ContainerPlayback, EveryKindAndModePlaysBackByteExactAcrossFiles) {
  struct Case {
    kit::DumpFormat format;
    int mode;
  } cases[] = {{kit::DumpFormat::compressed, 1},
               {kit::DumpFormat::encrypted, 1},
               {kit::DumpFormat::encrypted, 2},
               {kit::DumpFormat::encrypted, 3},
               {kit::DumpFormat::compressed_encrypted, 2}};
  for (const Case& c : cases) {
    kit::ContainerOptions options;
    options.mode = c.mode;
    store(sample_stream(900), {300, 250}, c.format, options);
    SCOPED_TRACE(std::string(kit::format_name(c.format)) + " mode " + std::to_string(c.mode));
    expect_whole_stream(play());
    // The same, read in place instead of on the read-ahead thread.
    kit::ProcessOptions one_thread = e2e::writer_options({prefix}, std::string(kPassword) + "\n");
    one_thread.env.push_back("BRIX_DECODE_THREAD=0");
    expect_whole_stream(e2e::play_with(one_thread, kit::DestinationOptions()));
  }
}

TEST_F(ContainerPlayback, TableOfMoreThan2048ChunksCrossesIntoItsSecondHeader) {
  kit::ContainerOptions options;
  options.max_chunk_blocks = 1;
  store(sample_stream(2100), {}, kit::DumpFormat::compressed_encrypted, options);
  ASSERT_EQ(files[0].chunk_headers, 2);
  expect_whole_stream(play());
}

// The file that holds the end header is checked to its end before that
// header goes out: a damaged digest keeps the end header back, the
// checkpoints stay, and only the digest's message is printed.
TEST_F(ContainerPlayback, DigestMismatchOnTheLastFileKeepsTheEndHeaderBack) {
  store(sample_stream(300), {150}, kit::DumpFormat::encrypted);
  ASSERT_EQ(kit::damage_digest(files[1]), "");
  Playback p = play();
  EXPECT_EQ(p.status.code, 255);
  EXPECT_FALSE(p.dest.end_seen);
  EXPECT_TRUE(same_blocks(bytes_of(p.dest.blocks), bytes_of(stream, 1, stream.size() - 2)));
  EXPECT_EQ(p.err.substr(p.err.find('\n', p.err.find("relationship")) + 1), kDigestMismatch);
  EXPECT_EQ(p.out.find("Transfer completed without end stream header"), std::string::npos);
  uint32_t last_sent = 0;  // the point of the last header that went out
  for (size_t i = 0; i + 1 < stream.size(); i++) {
    if (kit::is_header(stream[i])) last_sent = kit::sync_num(stream[i]);
  }
  EXPECT_EQ(access(kit::checkpoint_file_name(prefix, last_sent).c_str(), F_OK), 0);
}

TEST_F(ContainerPlayback, DigestMismatchOnAnEarlierFileEndsTheInputThere) {
  store(sample_stream(300), {150}, kit::DumpFormat::compressed_encrypted);
  ASSERT_EQ(kit::damage_digest(files[0]), "");
  kit::DestinationOptions d;
  d.structure.require_end = false;
  Playback p = play(d);
  EXPECT_EQ(p.status.code, 255);
  EXPECT_NE(p.err.find(kDigestMismatch), std::string::npos);
  EXPECT_NE(p.out.find("Transfer completed without end stream header."), std::string::npos);
  EXPECT_TRUE(same_blocks(bytes_of(p.dest.blocks), bytes_of(stream, 1, 149)));
}

TEST_F(ContainerPlayback, WrongPasswordFailsBeforeListening) {
  store(sample_stream(100), {}, kit::DumpFormat::encrypted);
  Playback p = e2e::run_alone({prefix}, "not it\n");
  EXPECT_EQ(p.status.code, 255);
  EXPECT_EQ(p.err, "Enter the decryption password:The password is incorrect\n");
  EXPECT_EQ(p.out.find("Waiting for connection"), std::string::npos);
}

TEST_F(ContainerPlayback, DamagedChunkTableFailsBeforeListening) {
  store(sample_stream(100), {}, kit::DumpFormat::compressed);
  ASSERT_EQ(kit::damage_drop_last_flag(files[0]), "");
  Playback p = e2e::run_alone({prefix});
  EXPECT_EQ(p.status.code, 255);
  EXPECT_EQ(p.err, "Error while reading the chunk header information\n");
}

// The first run is interrupted at its acknowledgement, so every checkpoint of
// the stream is on disk; a restart from each point, the one whose header
// opens the second file included, must go on with block n+1 and check its
// digests.
TEST_F(ContainerPlayback, RestartFromEveryCheckpointGoesOnWithBlockNPlusOne) {
  kit::Stream s = few_points_stream();
  const size_t second_file = e2e::opening_header(s, 107);
  store(s, {second_file}, kit::DumpFormat::compressed_encrypted);
  kit::DestinationOptions interrupted;
  interrupted.send_ack = false;
  ASSERT_EQ(play(interrupted).status.code, 255);
  const uint32_t last = kit::sync_num(stream.back());
  ASSERT_LE(last - LRD_RESTART_FILE_PHASE_BASE, 9u) << "checkpoint files would rotate away";
  for (uint32_t point = LRD_RESTART_FILE_PHASE_BASE; point <= last; point++) {
    SCOPED_TRACE("restart from point " + std::to_string(point));
    const e2e::ResumePlace resume = e2e::restart_place(stream, point, true);
    kit::DestinationOptions d;
    d.restart_sync_point = point;
    d.send_ack = false;  // the checkpoint files stay for the next restart
    Playback p = play(d);
    EXPECT_TRUE(p.dest.end_seen) << p.err;
    EXPECT_EQ(kit::blks_done(p.dest.reply), resume.blks_done);
    EXPECT_TRUE(same_blocks(bytes_of(p.dest.blocks),
                            bytes_of(stream, resume.block, stream.size() - resume.block)));
  }
}

}  // namespace
