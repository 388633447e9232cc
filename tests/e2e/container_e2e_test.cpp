// Container dump sets made by the kit (compressed, encrypted in every mode,
// both; several files; tables of more than one chunk header) played back by
// the real binary: byte-exact playback, digest failures where the rules put
// them, and restarts that resume at the chunk the checkpoint rules name.
#include <gtest/gtest.h>

#include <cstring>

#include "e2e_support.h"
#include "kit/container_damage.h"
#include "kit/temp_dir.h"
#include "rehearsal/dump_writer.h"
#include "rehearsal/stream_gen.h"
#include "restart_model.h"

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
    EXPECT_EQ(bytes_of({p.dest.reply}), e2e::expected_reply(stream[0], 0));
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
  }
}

TEST_F(ContainerPlayback, TableOfMoreThan2048ChunksCrossesIntoItsSecondHeader) {
  kit::ContainerOptions options;
  options.max_chunk_blocks = 1;
  store(sample_stream(2100), {}, kit::DumpFormat::compressed_encrypted, options);
  ASSERT_EQ(files[0].chunk_headers, 2);
  expect_whole_stream(play());
}

TEST_F(ContainerPlayback, DigestMismatchOnTheLastFileIsReportedAfterTheAcknowledgement) {
  store(sample_stream(300), {150}, kit::DumpFormat::encrypted);
  ASSERT_EQ(kit::damage_digest(files[1]), "");
  Playback p = play();
  EXPECT_EQ(p.status.code, 0);  // the transfer completed; the check comes when the file closes
  EXPECT_TRUE(p.dest.complete);
  EXPECT_NE(p.out.find("Transfer done."), std::string::npos);
  EXPECT_EQ(p.err.substr(p.err.size() - strlen(kDigestMismatch)), kDigestMismatch);
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

// Restarts: the first run is interrupted at its acknowledgement, so every
// checkpoint of the stream is on disk; each restart must then resume where
// the rules say. A header whose data area begins with 0 (and the first
// file-phase point) resumes with the chunk after its own; any other header is
// read again with its chunk, under the context from before that chunk.
class ContainerRestart : public ContainerPlayback {
 protected:
  void interrupt() {
    kit::DestinationOptions d;
    d.send_ack = false;
    Playback p = play(d);
    ASSERT_EQ(p.status.code, 255) << p.err;
    uint32_t last = kit::sync_num(stream.back());
    ASSERT_LE(last - LRD_RESTART_FILE_PHASE_BASE, 9u) << "checkpoint files would rotate away";
  }
  void expect_restart(uint32_t point) {
    std::optional<size_t> opening = restarts::opening_header(stream, point);
    ASSERT_TRUE(opening) << "no header opens point " << point;
    size_t h = *opening;
    size_t resume = restarts::resume_block(stream, files, h, point);
    uint64_t blks_done = h - 1 + (point == LRD_RESTART_FILE_PHASE_BASE ? 1 : 0);

    kit::DestinationOptions d;
    d.restart_sync_point = point;
    d.structure.start_header_first = true;
    Playback p = play(d);
    SCOPED_TRACE("restart at point " + std::to_string(point) + ", header " + std::to_string(h) +
                 ", resuming at block " + std::to_string(resume));
    EXPECT_EQ(kit::blks_done(p.dest.reply), blks_done);
    if (resume < stream.size() && !kit::is_header(stream[resume])) {
      // The chunk the rules name begins inside a file's data: that block goes
      // out, and the header check ends the transfer.
      EXPECT_TRUE(same_blocks(bytes_of(p.dest.blocks), bytes_of(stream, resume, 1)));
      EXPECT_NE(p.err.find("Fatal Error. Header not found where expected."), std::string::npos);
      return;
    }
    EXPECT_TRUE(
        same_blocks(bytes_of(p.dest.blocks), bytes_of(stream, resume, stream.size() - resume)));
    EXPECT_EQ(p.status.code, 0) << p.err;
    EXPECT_EQ(p.err.find(kDigestMismatch), std::string::npos);  // the digests checked out
  }
  // Gives the header of `point` a non-zero first data word, so that a
  // restart reads its chunk again.
  static void mark_nonzero(kit::Stream& s, uint32_t point) {
    for (kit::Block& b : s) {
      if (kit::is_header(b) && kit::sync_num(b) == point && kit::hdr_type(b) == LR_HDR_FILE) {
        kit::put_u32(b, LR_HDR_DATA_OFFSET, 4242);
        return;
      }
    }
  }
};

TEST_F(ContainerRestart, HeaderThatBeginsItsChunkIsReadAgainWithThatChunk) {
  kit::Stream s = few_points_stream();
  mark_nonzero(s, 105);
  store(s, {500}, kit::DumpFormat::compressed_encrypted);
  interrupt();
  expect_restart(105);
}

TEST_F(ContainerRestart, HeaderWithZeroDataWordResumesWithTheNextChunk) {
  store(few_points_stream(), {500}, kit::DumpFormat::compressed_encrypted);
  interrupt();
  expect_restart(104);
  expect_restart(LRD_RESTART_FILE_PHASE_BASE);
}

TEST_F(ContainerRestart, HeaderInsideItsChunkResumesAtTheChunkTheRulesName) {
  kit::ContainerOptions options;
  options.close_before_new_sync = false;  // chunks of 16 blocks wherever the headers fall
  kit::Stream s = few_points_stream();
  store(s, {500}, kit::DumpFormat::encrypted, options);
  // A file header that opens its point somewhere inside its chunk.
  uint32_t point = 0;
  for (uint32_t p = LRD_RESTART_FILE_PHASE_BASE + 1; p < kit::sync_num(s.back()) && !point; p++) {
    std::optional<size_t> h = restarts::opening_header(s, p);
    if (h && kit::hdr_type(s[*h]) == LR_HDR_FILE && kit::find_block(files, *h).in_chunk > 0) {
      point = p;
    }
  }
  ASSERT_NE(point, 0u);
  mark_nonzero(s, point);  // the chunks stay as they were
  store(s, {500}, kit::DumpFormat::encrypted, options);
  ASSERT_GT(kit::find_block(files, *restarts::opening_header(s, point)).in_chunk, 0u);
  interrupt();
  expect_restart(point);
}

TEST_F(ContainerRestart, HeaderOpeningALaterFileResumesUnderThatFilesOwnContext) {
  kit::Stream s = few_points_stream();
  mark_nonzero(s, 107);
  size_t h = 0;
  for (size_t i = 0; i < s.size(); i++) {
    if (kit::is_header(s[i]) && kit::sync_num(s[i]) == 107) {
      h = i;
      break;
    }
  }
  ASSERT_GT(h, 0u);
  store(s, {h}, kit::DumpFormat::compressed_encrypted);  // file 1 begins with that header
  ASSERT_EQ(files[1].chunks[0].first_block, h);
  interrupt();
  expect_restart(107);
}

}  // namespace
