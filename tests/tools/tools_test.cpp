// The helper tools run as their users run them: brix_mkdump writes sets the
// kit reads back and checks; brix_destination talks to a fake writer and
// reports through its exit status.
#include <gtest/gtest.h>

#include <cstring>

#include "kit/container_decoder.h"
#include "kit/fake_writer.h"
#include "kit/inflate.h"
#include "kit/runner.h"
#include "kit/temp_dir.h"
#include "rehearsal/destination.h"
#include "rehearsal/dump_writer.h"
#include "rehearsal/stream_check.h"
#include "rehearsal/stream_gen.h"

namespace kit {
namespace {

constexpr int kWaitMs = 20000;

// `bytes` are the stream that brix_mkdump generates for --blocks and --seed.
void expect_generated_stream(const std::string& bytes, uint64_t blocks, uint64_t seed) {
  StreamShape shape;
  shape.total_blocks = blocks;
  shape.seed = seed;
  const Stream expected = generate_stream(shape);
  ASSERT_EQ(bytes.size(), expected.size() * LR_BLOCK_SIZE);
  EXPECT_EQ(memcmp(bytes.data(), expected.data(), bytes.size()), 0);
}

class Tools : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_NE(dir_.path(), ""); }

  // Runs a tool to its end with `input` on its standard input; returns its exit code.
  int run(const char* tool, const std::vector<std::string>& args, const std::string& input = "") {
    ProcessOptions o;
    o.path = tool;
    o.args = args;
    o.cwd = dir_.path();
    o.stdin_bytes = input;
    WriterProcess p;
    if (!p.start(o)) {
      ADD_FAILURE() << p.error();
      return -1;
    }
    const ExitStatus st = p.wait(kWaitMs);
    out_ = p.output(Output::out);
    err_ = p.output(Output::err);
    return st.exited ? st.code : -1;
  }

  TempDir dir_;
  std::string out_, err_;
};

TEST_F(Tools, MkdumpWritesTheGeneratedStreamSpreadOverTheFiles) {
  ASSERT_EQ(run(BRIX_MKDUMP_PATH, {"--blocks", "1000", "-n", "3", "--seed", "9", "vol"}), 0)
      << err_;
  EXPECT_NE(out_.find("wrote vol.0 (334 blocks)"), std::string::npos) << out_;
  EXPECT_NE(out_.find("stream: 1000 blocks, 4096000 bytes, 3 files"), std::string::npos) << out_;
  const SetBytes set = read_set_bytes({dir_.file("vol")});
  ASSERT_EQ(set.files.size(), 3u);
  expect_generated_stream(set.bytes, 1000, 9);
}

TEST_F(Tools, MkdumpStrippedSetWithoutEndFollowsTheInflatingRules) {
  ASSERT_EQ(run(BRIX_MKDUMP_PATH, {"--stripped", "--no-end", "--per-file", "7", "vol"}), 0) << err_;
  const SetBytes set = read_set_bytes({dir_.file("vol")});
  const Stream s = blocks_of(set.bytes);
  EXPECT_EQ(check_inflating_rules(s), "");
  const std::vector<size_t> headers = header_indices(s, Form::stripped);
  ASSERT_FALSE(headers.empty());
  EXPECT_NE(hdr_type(s[headers.back()]), LR_HDR_END_OF_STREAM);
  EXPECT_EQ(set.files.size(), (s.size() + 6) / 7);
}

TEST_F(Tools, MkdumpWritesContainersThatDecodeToTheGeneratedStream) {
  ASSERT_EQ(run(BRIX_MKDUMP_PATH, {"-z", "-e", "--password", "pw", "--mode", "2", "--chunk-blocks",
                                   "4", "-n", "2", "--blocks", "300", "--seed", "9", "vol"}),
            0)
      << err_;
  EXPECT_NE(out_.find("wrote vol.0 (150 blocks, compressed+encrypted mode 2, "), std::string::npos)
      << out_;
  const DecodedSet d = decode_dump_files({dir_.file("vol.0"), dir_.file("vol.1")}, "pw");
  ASSERT_EQ(d.error, "");
  expect_generated_stream(d.stream, 300, 9);
  for (const DecodedFile& f : d.files) {
    EXPECT_EQ(f.mode, 2);
    EXPECT_NE(out_.find(", " + std::to_string(f.stored_sizes.size()) + " chunks, "),
              std::string::npos);
    for (uint32_t blocks : f.chunk_blocks) EXPECT_LE(blocks, 4u);
  }
}

TEST_F(Tools, MkdumpTakesThePasswordFromTheFirstInputLineWhenNoneIsGiven) {
  ASSERT_EQ(run(BRIX_MKDUMP_PATH, {"-e", "--blocks", "60", "vol"}, "typed in\nnext line\n"), 0)
      << err_;
  EXPECT_NE(out_.find("encrypted mode 1"), std::string::npos) << out_;
  EXPECT_EQ(decode_dump_files({dir_.file("vol.0")}, "typed in").error, "");
  EXPECT_NE(decode_dump_files({dir_.file("vol.0")}, "typed in\n").error, "");
  EXPECT_EQ(run(BRIX_MKDUMP_PATH, {"-e", "vol"}, std::string(65, 'p') + "\n"), 2);
  EXPECT_EQ(err_, "brix_mkdump: the password is longer than 64 bytes\n");
}

TEST_F(Tools, BadCommandLinesGiveTheUsageStatus) {
  const std::vector<std::vector<std::string>> mkdump_lines = {
      {"-b", "x", "vol"},
      {"--hole-ratio", "2", "vol"},
      {},
      {"--min-file-blocks", "9", "--max-file-blocks", "3", "vol"},
      {"-e", "--mode", "4", "vol"},
      {"-z", "--chunk-blocks", "17", "vol"},
      {"-z", "--chunk-blocks", "0", "vol"},
      {"--password", "pw", "vol"},
      {"--chunk-blocks", "4", "vol"}};
  for (const auto& line : mkdump_lines) {
    EXPECT_EQ(run(BRIX_MKDUMP_PATH, line), 2) << (line.empty() ? "" : line[0]);
    EXPECT_NE(err_, "");
  }
  const std::vector<std::vector<std::string>> dest_lines = {
      {"-c", "archivist_stop"}, {"-P", "70000"}, {"--timeout", "0"}, {"extra"}};
  for (const auto& line : dest_lines) {
    EXPECT_EQ(run(BRIX_DESTINATION_PATH, line), 2) << line[0];
    EXPECT_NE(err_, "");
  }
  EXPECT_EQ(run(BRIX_DESTINATION_PATH, {"--help"}), 0);
  EXPECT_EQ(out_.rfind("Usage: brix_destination", 0), 0u);
}

// A fake writer that serves a stream and records the command word and request.
struct RecordingWriter {
  explicit RecordingWriter(Stream s)
      : stream(std::move(s)), fake([this](FakeWriterSide& w) {
          w.read_u32();
          w.write_u32(4);
          command = w.read_u32();
          w.write_u32(command);
          request = w.read(LR_BLOCK_SIZE);
          for (const Block& b : stream) w.write(b.bytes, LR_BLOCK_SIZE);
          if (w.read_u32() == kAckValue) w.write_u32(kAckValue);
        }) {}
  const Stream stream;
  uint32_t command = 0;
  std::string request;
  FakeWriter fake;  // last: its script uses the members above
};

TEST_F(Tools, DestinationReceivesTheWholeStreamAndSavesIt) {
  const Stream s = generate_stream(StreamShape());
  RecordingWriter writer(s);
  ASSERT_EQ(
      run(BRIX_DESTINATION_PATH, {"-P", std::to_string(writer.fake.port()), "--discard", "--save",
                                  "got", "-c", "replicator_init", "--restart-sync-point", "105"}),
      0)
      << err_ << out_;
  writer.fake.wait();
  EXPECT_EQ(writer.command, static_cast<uint32_t>(RPLCMD_RCQTREE));
  ASSERT_EQ(writer.request.size(), LR_BLOCK_SIZE);
  EXPECT_EQ(
      marshal_uint4(
          reinterpret_cast<const lr_neg_data_request*>(writer.request.data())->restart_sync_point),
      105u);
  EXPECT_NE(out_.find("reply: LR_HDR_START_STREAM, ndr_blks_done 0"), std::string::npos) << out_;
  EXPECT_NE(out_.find("stream: " + std::to_string(s.size() - 1) + " blocks after the reply"),
            std::string::npos);
  EXPECT_NE(out_.find("acknowledgement: echoed 1"), std::string::npos);
  EXPECT_NE(out_.find("structure: ok"), std::string::npos);
  std::string saved, error;
  ASSERT_TRUE(read_file(dir_.file("got"), saved, error)) << error;
  ASSERT_EQ(saved.size(), s.size() * LR_BLOCK_SIZE);
  EXPECT_EQ(memcmp(saved.data(), s.data(), saved.size()), 0);
}

TEST_F(Tools, DestinationFailsOnARefusalAndOnAHangUp) {
  FakeWriter refusing([](FakeWriterSide& w) {
    w.read_u32();
    w.write_u32(4);
    w.write_u32(w.read_u32());
    w.read(LR_BLOCK_SIZE);
    lr_neg_data_reply refusal{};
    refusal.ndr_errcode = static_cast<int32_t>(marshal_uint4(RPL_NEG_FAIL_VERSION));
    w.write(&refusal, sizeof refusal);
  });
  EXPECT_EQ(run(BRIX_DESTINATION_PATH, {"-P", std::to_string(refusing.port())}), 1);
  EXPECT_NE(out_.find("reply: refused, errcode 6"), std::string::npos) << out_;
  EXPECT_NE(err_.find("after refusing the request (errcode 6)"), std::string::npos) << err_;

  RecordingWriter writer(minimal_stream());
  EXPECT_EQ(
      run(BRIX_DESTINATION_PATH, {"-P", std::to_string(writer.fake.port()), "--hangup-after", "2"}),
      1);
  EXPECT_NE(err_.find("hung up after 2 stream blocks without acknowledging"), std::string::npos)
      << err_;
}

}  // namespace
}  // namespace kit
