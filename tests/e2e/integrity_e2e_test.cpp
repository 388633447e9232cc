// Nothing wrong is delivered as a complete stream: damage in the file that
// holds the end header keeps that header back, a digest failure in an earlier
// file ends the input there; blocks after the end of the stream are not
// sent; a checkpoint record of another capture is refused; a record is never
// written through a planted link. Sizes: chunk tables of more than one
// header; files of 4 GiB and more play and restart.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <vector>

#include "brix_comp_encr.h"
#include "e2e_support.h"
#include "kit/corruption_tables.h"
#include "kit/temp_dir.h"
#include "rehearsal/block_builders.h"
#include "rehearsal/dump_writer.h"
#include "rehearsal/stream_gen.h"

namespace {

using e2e::bytes_of;
using e2e::Playback;
using e2e::same_blocks;

const char kPassword[] = "integrity password";

std::string writer_input(kit::DumpFormat format) {
  return kit::has_encryption(format) ? std::string(kPassword) + "\n" : std::string();
}

// What followed the end header must not go out, and the writer says where
// it begins; the transfer itself completes.
void expect_stream_without(const Playback& p, const kit::Stream& stream, size_t first_extra,
                           const std::string& file) {
  EXPECT_EQ(p.status.code, 0) << p.err;
  EXPECT_TRUE(p.dest.complete) << p.dest.error << p.dest.structure_error;
  EXPECT_TRUE(same_blocks(bytes_of(p.dest.blocks), bytes_of(stream, 1, stream.size() - 1)));
  EXPECT_NE(p.err.find("Warning: blocks follow the end-of-stream header and are not sent; the "
                       "first is stream block " +
                       std::to_string(first_extra) + ", in " + file + "\n"),
            std::string::npos)
      << p.err;
}

TEST(EndOfStream, BlocksAfterTheEndHeaderAreNotSent) {
  const kit::Stream stream = e2e::sample_stream(200);
  kit::Stream longer = stream;
  for (uint64_t i = 0; i < 5; i++) longer.push_back(kit::data_block(900 + i));
  for (kit::DumpFormat format : {kit::DumpFormat::plain, kit::DumpFormat::compressed_encrypted}) {
    SCOPED_TRACE(kit::format_name(format));
    kit::TempDir dir;
    kit::ContainerOptions options;
    options.password = kPassword;
    // The rest of the last file ...
    const std::string prefix = dir.file("rest");
    ASSERT_TRUE(kit::write_container_set(prefix, longer, {120}, format, options).ok());
    expect_stream_without(e2e::play({prefix}, {}, writer_input(format)), stream, stream.size(),
                          prefix + ".1");
    // ... or a stale file of an earlier capture behind the set.
    const std::string stale = dir.file("stale");
    ASSERT_TRUE(kit::write_container_set(stale, stream, {120}, format, options).ok());
    ASSERT_TRUE(kit::write_container_set(dir.file("earlier"), e2e::sample_stream(50, 9), {}, format,
                                         options)
                    .ok());
    ASSERT_EQ(rename(dir.file("earlier.0").c_str(), (stale + ".2").c_str()), 0);
    expect_stream_without(e2e::play({stale}, {}, writer_input(format)), stream, stream.size(),
                          stale + ".2");
  }
}

// The file that holds the end header is read and checked to its end before
// that header goes out: its decoded size (compressed) and its digest
// (encrypted). On a failure only that failure is told, the end header is
// kept back and the checkpoints stay.
TEST(EndOfStream, DamageInTheEndHeadersFileKeepsTheEndHeaderBack) {
  const kit::Stream stream = e2e::sample_stream(200);
  for (const kit::EndFileDamageCase& c : kit::kEndFileDamageCases) {
    const std::string message = c.message;
    SCOPED_TRACE(kit::format_name(c.format));
    kit::TempDir dir;
    kit::ContainerOptions options;
    options.password = kPassword;
    const std::string prefix = dir.file("vol");
    kit::DumpSetResult r = kit::write_container_set(prefix, stream, {120}, c.format, options);
    ASSERT_TRUE(r.ok());
    kit::damage_end_file(c, r.file_info[1]);
    Playback p = e2e::play({prefix}, {}, writer_input(c.format));
    EXPECT_EQ(p.status.code, 255);
    EXPECT_FALSE(p.dest.end_seen);
    EXPECT_EQ(p.out.find("Transfer completed without end stream header"), std::string::npos);
    uint32_t last_sent = 0;  // the point of the last header that went out: its record stays
    for (size_t i = 0; i + 1 < stream.size(); i++) {
      if (kit::is_header(stream[i])) last_sent = kit::sync_num(stream[i]);
    }
    EXPECT_EQ(access(kit::checkpoint_file_name(prefix, last_sent).c_str(), F_OK), 0);
    ASSERT_GE(p.err.size(), message.size());
    EXPECT_EQ(p.err.substr(p.err.size() - message.size()), message) << p.err;
  }
}

// A digest that fails in an earlier file ends the input there.
TEST(EndOfStream, DigestMismatchInAnEarlierFileEndsTheInputThere) {
  kit::TempDir dir;
  const kit::Stream stream = e2e::sample_stream(300);
  kit::ContainerOptions options;
  options.password = kPassword;
  const kit::DumpFormat format = kit::DumpFormat::compressed_encrypted;
  kit::DumpSetResult r = kit::write_container_set(dir.file("vol"), stream, {150}, format, options);
  ASSERT_TRUE(r.ok()) << r.error;
  const kit::DumpFileInfo& first = r.file_info[0];
  std::string bytes, error;
  ASSERT_TRUE(kit::read_file(first.path, bytes, error)) << error;
  bytes[first.data_start - ENCR_HEADER_SIZE + offsetof(encr_header_type, digest_value)] ^= 1;
  std::ofstream(first.path, std::ios::binary) << bytes;
  kit::DestinationOptions d;
  d.structure.require_end = false;
  Playback p = e2e::play({dir.file("vol")}, d, writer_input(format));
  EXPECT_EQ(p.status.code, 255);
  EXPECT_NE(p.err.find("The data digest code does not match the expected value\n"),
            std::string::npos);
  EXPECT_NE(p.out.find("Transfer completed without end stream header."), std::string::npos);
  EXPECT_TRUE(same_blocks(bytes_of(p.dest.blocks), bytes_of(stream, 1, 149)));
}

// A chunk table of more than 2048 chunks goes on in a second chunk header.
TEST(Containers, TableOfMoreThan2048ChunksCrossesIntoItsSecondHeader) {
  kit::TempDir dir;
  const kit::Stream stream = e2e::sample_stream(2100);
  kit::ContainerOptions options;
  options.password = kPassword;
  options.max_chunk_blocks = 1;
  const kit::DumpFormat format = kit::DumpFormat::compressed_encrypted;
  kit::DumpSetResult r = kit::write_container_set(dir.file("vol"), stream, {}, format, options);
  ASSERT_TRUE(r.ok()) << r.error;
  ASSERT_EQ(r.file_info[0].chunk_headers, 2);
  Playback p = e2e::play({dir.file("vol")}, {}, writer_input(format));
  EXPECT_EQ(p.status.code, 0) << p.err;
  EXPECT_TRUE(p.dest.complete) << p.dest.error << p.dest.structure_error;
  EXPECT_TRUE(same_blocks(bytes_of(p.dest.blocks), bytes_of(stream, 1, stream.size() - 1)));
}

// A record made for another capture under the same prefix is refused:
// another source, or the same stream encrypted under another password (the
// record's keys are not those the password derives).
TEST(Checkpoints, RecordOfAnotherCaptureIsRefused) {
  for (const bool encrypted : {false, true}) {
    SCOPED_TRACE(encrypted ? "another password" : "another source");
    kit::TempDir dir;
    const std::string prefix = dir.file("vol");
    kit::StreamShape shape;
    shape.total_blocks = 300;
    const kit::Stream first = kit::generate_stream(shape);
    auto store = [&](const kit::Stream& s, const char* password) {
      kit::ContainerOptions options;
      options.password = password;
      return encrypted
                 ? kit::write_container_set(prefix, s, {}, kit::DumpFormat::encrypted, options)
                 : kit::write_plain_set(prefix, s, {});
    };
    ASSERT_TRUE(store(first, kPassword).ok());
    kit::DestinationOptions interrupted;
    interrupted.send_ack = false;
    const std::string typed = encrypted ? std::string(kPassword) + "\n" : "";
    ASSERT_EQ(e2e::play({prefix}, interrupted, typed).status.code, 255);

    shape.start.src_machine = "another-source";  // the same layout, another capture
    ASSERT_TRUE(store(encrypted ? first : kit::generate_stream(shape), "another password").ok());
    kit::DestinationOptions restart;
    restart.restart_sync_point = kit::sync_num(first.back());
    Playback p = e2e::play({prefix}, restart, encrypted ? "another password\n" : "");
    EXPECT_EQ(p.status.code, 255);
    EXPECT_NE(p.err.find("checkpoint file is corrupted\n"), std::string::npos) << p.err;
    EXPECT_EQ(p.dest.reply_kind, kit::ReplyKind::none);
  }
}

// A link planted where a checkpoint file goes is replaced, never followed.
TEST(Checkpoints, PlantedLinkIsReplacedNotFollowed) {
  kit::TempDir dir;
  const std::string prefix = dir.file("vol");
  const kit::Stream stream = e2e::sample_stream(300);
  ASSERT_TRUE(kit::write_plain_set(prefix, stream, {}).ok());
  const std::string victim = dir.file("victim");
  std::ofstream(victim) << "precious";
  const uint32_t point = kit::sync_num(stream.back());
  const std::string record = kit::checkpoint_file_name(prefix, point);
  ASSERT_EQ(symlink(victim.c_str(), record.c_str()), 0);
  ASSERT_EQ(symlink(victim.c_str(), (record + ".new").c_str()), 0);
  kit::DestinationOptions interrupted;
  interrupted.send_ack = false;
  ASSERT_EQ(e2e::play({prefix}, interrupted).status.code, 255);
  std::string text, error;
  ASSERT_TRUE(kit::read_file(victim, text, error));
  EXPECT_EQ(text, "precious");
  struct stat st;
  ASSERT_EQ(lstat(record.c_str(), &st), 0);
  EXPECT_TRUE(S_ISREG(st.st_mode));
  EXPECT_EQ(st.st_size, 1812);
}

// A plain file of more than 4 GiB (sparse: its data blocks are holes) plays,
// and a restart from a point recorded beyond 4 GiB (the offset's high word
// in use) goes on with its header.
TEST(LargeFiles, PlainFileBeyond4GiBPlaysAndRestarts) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "4 GiB through the sanitizers takes minutes";
#endif
  if (getenv("BRIX_WRITER_WRAPPER") != nullptr) GTEST_SKIP() << "too slow under a memory checker";
  constexpr uint32_t kFiles = 2050;  // FILE headers of 512 data blocks each
  constexpr uint32_t kFirstPoint = LRD_RESTART_FILE_PHASE_BASE + 1;
  kit::TempDir dir;
  const std::string prefix = dir.file("big");
  const int fd = open((prefix + ".0").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  ASSERT_GE(fd, 0);
  auto put = [fd](const kit::Block& b, uint64_t index) {
    return pwrite(fd, b.bytes, LR_BLOCK_SIZE, static_cast<off_t>(index * LR_BLOCK_SIZE)) ==
           static_cast<ssize_t>(LR_BLOCK_SIZE);
  };
  ASSERT_TRUE(put(kit::start_header(), 0));
  ASSERT_TRUE(put(kit::mid_stream_header(LRD_RESTART_FILE_PHASE_BASE, 1), 1));
  uint64_t index = 2;
  std::vector<uint64_t> headers;
  for (uint32_t n = 0; n < kFiles; n++) {
    kit::FileHeaderFields f;
    f.sync = kFirstPoint + n;
    f.blk_num = static_cast<uint32_t>(index);
    f.holes.assign(LR_MAX_FOLLOWING_BLKS, 0);
    headers.push_back(index);
    ASSERT_TRUE(put(kit::file_header(f), index));
    index += 1 + LR_MAX_FOLLOWING_BLKS;
  }
  ASSERT_TRUE(put(kit::end_of_stream_header(kFirstPoint + kFiles - 1, 0), index));
  close(fd);
  const uint64_t total = index + 1;
  ASSERT_GT(headers.back() * LR_BLOCK_SIZE, 4ull << 30);

  kit::DestinationOptions first;
  first.keep_blocks = false;
  first.send_ack = false;  // the writer fails at the acknowledgement; the last points stay
  ASSERT_EQ(e2e::play({prefix}, first).status.code, 255);

  const uint64_t header = headers.back();
  kit::DestinationOptions restart;
  restart.restart_sync_point = kFirstPoint + kFiles - 1;
  restart.keep_blocks = false;
  kit::Block first_sent{};
  uint64_t seen = 0;
  restart.on_block = [&](const kit::Block& b) {
    if (seen++ == 1) first_sent = b;  // the reply comes first
  };
  Playback p = e2e::play({prefix}, restart);
  const e2e::ResumePlace resume = e2e::restart_place_at(header, restart.restart_sync_point, false);
  EXPECT_EQ(p.status.code, 0) << p.err;
  EXPECT_EQ(kit::blks_done(p.dest.reply), resume.blks_done);
  EXPECT_TRUE(kit::is_header(first_sent));
  EXPECT_EQ(kit::sync_num(first_sent), kFirstPoint + kFiles - 1);
  EXPECT_EQ(p.dest.stream_blocks, total - resume.block);
}

}  // namespace
