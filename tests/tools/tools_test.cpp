// The rehearsal programs run as their users run them: brix_mkdump writes
// sets that read back as the generated stream; brix_destination, against a
// fake writer, says what it received, how the transfer ended and, with
// --expect, which block was lost, repeated or different.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>

#include "kit/container_decoder.h"
#include "kit/fake_writer.h"
#include "kit/runner.h"
#include "kit/temp_dir.h"
#include "rehearsal/destination.h"
#include "rehearsal/dump_writer.h"
#include "rehearsal/stream_gen.h"

namespace kit {
namespace {

constexpr int kWaitMs = 20000;

bool same_blocks(const std::string& bytes, const Stream& s) {
  return bytes.size() == s.size() * LR_BLOCK_SIZE &&
         memcmp(bytes.data(), s.data(), bytes.size()) == 0;
}

Stream generated(uint64_t blocks, uint64_t seed) {
  StreamShape shape;
  shape.total_blocks = blocks;
  shape.seed = seed;
  return generate_stream(shape);
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

TEST_F(Tools, MkdumpWritesTheGeneratedStreamPlainOrAsContainers) {
  ASSERT_EQ(run(BRIX_MKDUMP_PATH, {"--blocks", "1000", "-n", "3", "--seed", "9", "vol"}), 0)
      << err_;
  EXPECT_NE(out_.find("wrote vol.0 (334 blocks)"), std::string::npos) << out_;
  EXPECT_NE(out_.find("stream: 1000 blocks, 4096000 bytes, 3 files"), std::string::npos) << out_;
  EXPECT_TRUE(same_blocks(read_set_bytes({dir_.file("vol")}).bytes, generated(1000, 9)));

  // The password from the first input line, without its line feed.
  ASSERT_EQ(run(BRIX_MKDUMP_PATH,
                {"-z", "-e", "--mode", "2", "--chunk-blocks", "4", "-n", "2", "--blocks", "300",
                 "--seed", "9", "sealed"},
                "typed in\nnext line\n"),
            0)
      << err_;
  EXPECT_NE(out_.find("wrote sealed.0 (150 blocks, compressed+encrypted mode 2, "),
            std::string::npos)
      << out_;
  const DecodedSet d =
      decode_dump_files({dir_.file("sealed.0"), dir_.file("sealed.1")}, "typed in");
  ASSERT_EQ(d.error, "");
  EXPECT_TRUE(same_blocks(d.stream, generated(300, 9)));
  for (const DecodedFile& f : d.files) {
    for (uint32_t blocks : f.chunk_blocks) EXPECT_LE(blocks, 4u);
  }
}

TEST_F(Tools, BadCommandLinesGiveTheUsageStatusAndVersionsAreShown) {
  const struct {
    const char* tool;
    std::vector<std::string> args;
    int status;
    const char* out;  // the start of standard output, when it matters
  } cases[] = {
      {BRIX_MKDUMP_PATH, {"-b", "x", "vol"}, 2, ""},
      {BRIX_MKDUMP_PATH, {"--hole-ratio", "2", "vol"}, 2, ""},
      {BRIX_MKDUMP_PATH, {}, 2, ""},
      {BRIX_MKDUMP_PATH, {"--min-file-blocks", "9", "--max-file-blocks", "3", "vol"}, 2, ""},
      {BRIX_MKDUMP_PATH, {"-e", "--mode", "4", "vol"}, 2, ""},
      {BRIX_MKDUMP_PATH, {"-z", "--chunk-blocks", "17", "vol"}, 2, ""},
      {BRIX_MKDUMP_PATH, {"--password", "pw", "vol"}, 2, ""},
      {BRIX_MKDUMP_PATH, {"--chunk-blocks", "4", "vol"}, 2, ""},
      {BRIX_MKDUMP_PATH, {"--version"}, 0, "brix_mkdump 3.0.1\n"},
      {BRIX_DESTINATION_PATH, {"-c", "archivist_stop"}, 2, ""},
      {BRIX_DESTINATION_PATH, {"-P", "70000"}, 2, ""},
      {BRIX_DESTINATION_PATH, {"--timeout", "0"}, 2, ""},
      {BRIX_DESTINATION_PATH, {"extra"}, 2, ""},
      {BRIX_DESTINATION_PATH, {"--version"}, 0, "brix_destination 3.0.1\n"},
      {BRIX_DESTINATION_PATH, {"--help"}, 0, "Usage: brix_destination"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.tool) + (c.args.empty() ? "" : " " + c.args[0]));
    EXPECT_EQ(run(c.tool, c.args), c.status);
    EXPECT_EQ(out_.rfind(c.out, 0), 0u) << out_;
    EXPECT_EQ(err_.empty(), c.status == 0) << err_;
  }
  EXPECT_EQ(run(BRIX_MKDUMP_PATH, {"-e", "vol"}, std::string(65, 'p') + "\n"), 2);
  EXPECT_EQ(err_, "brix_mkdump: the password is longer than 64 bytes\n");
}

// Plays the writer's side of a good negotiation; false when the peer left.
bool negotiate(FakeWriterSide& w) {
  if (w.read_u32() == 0 || !w.write_u32(4)) return false;
  const uint32_t command = w.read_u32();
  return command != 0 && w.write_u32(command) && w.read(LR_BLOCK_SIZE).size() == LR_BLOCK_SIZE;
}

// Serves `blocks` (the reply first); with `ack`, echoes the acknowledgement,
// else closes the connection after the last block.
FakeWriter::Script serve(const Stream& blocks, bool ack) {
  return [blocks, ack](FakeWriterSide& w) {
    if (!negotiate(w)) return;
    for (const Block& b : blocks) w.write(b.bytes, LR_BLOCK_SIZE);
    if (ack && w.read_u32() == kAckValue) w.write_u32(kAckValue);
  };
}

TEST_F(Tools, DestinationSummarySaysWhatArrivedAndHowTheTransferEnded) {
  const Stream s = generate_stream(StreamShape());
  const std::string all = std::to_string(s.size() - 1);
  const struct {
    const char* what;
    FakeWriter::Script script;
    std::vector<std::string> args;
    int status;
    std::vector<std::string> lines;
  } cases[] = {
      {"complete",
       serve(s, true),
       {},
       0,
       {"reply: LR_HDR_START_STREAM, ndr_blks_done 0\n",
        "stream: " + all + " blocks after the reply", "acknowledgement: echoed 1\n",
        "structure: ok\n", "end: complete, the acknowledgement came back\n"}},
      {"hung up",
       serve(s, false),
       {"--hangup-after", "2"},
       1,
       {"stream: 2 blocks after the reply",
        "structure: ok so far, the stream stopped before its end\n",
        "end: hung up after 2 stream blocks, as asked\n",
        "restart: --restart-sync-point 0 resumes from the last point that arrived\n"}},
      {"nothing received",
       [](FakeWriterSide&) {},
       {},
       1,
       {"reply: none\n", "structure: not checked, no stream arrived\n",
        "end: the writer closed the connection instead of answering the version\n"}},
      {"refused",
       [](FakeWriterSide& w) {
         if (!negotiate(w)) return;
         lr_neg_data_reply refusal{};
         refusal.ndr_errcode = static_cast<int32_t>(marshal_uint4(RPL_NEG_FAIL_VERSION));
         w.write(&refusal, sizeof refusal);
       },
       {},
       1,
       {"reply: refused, errcode 6\n", "structure: not checked, no stream arrived\n",
        "end: the writer closed the connection after refusing the request (errcode 6)\n"}},
      {"closed mid-stream",
       serve(Stream(s.begin(), s.begin() + 3), false),
       {},
       1,
       {"structure: block 3: the stream ends",
        "end: the writer closed the connection after 2 stream blocks\n"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    FakeWriter writer(c.script);
    std::vector<std::string> args = c.args;
    args.insert(args.end(), {"-P", std::to_string(writer.port()), "--timeout", "3"});
    EXPECT_EQ(run(BRIX_DESTINATION_PATH, args), c.status) << err_;
    for (const std::string& line : c.lines) EXPECT_NE(out_.find(line), std::string::npos) << out_;
  }
}

// A regular file's first data block: altering it breaks no structure.
size_t regular_data_block(const Stream& s) {
  for (size_t h : header_indices(s)) {
    if (hdr_type(s[h]) == LR_HDR_FILE && file_type(s[h]) == FILE_TYPE_REGULAR &&
        following_blocks(s[h]) > 0)
      return h + 1;
  }
  ADD_FAILURE() << "no regular data block";
  return 1;
}

TEST_F(Tools, DestinationExpectNamesTheFirstLostRepeatedOrDifferentBlock) {
  const Stream s = generate_stream(StreamShape());
  ASSERT_TRUE(write_plain_set(dir_.file("expected"), s, {10}).ok());
  const size_t last = s.size() - 1;
  const size_t data = regular_data_block(s);
  const size_t header = static_cast<size_t>(find_header(s, LR_HDR_FILE, 3));
  // What the fake writer sends: the reply with count `count`, then the
  // stream blocks from `from` on, changed by `edit`.
  const struct {
    const char* what;
    uint64_t count;
    size_t from;
    std::function<void(Stream&)> edit;
    bool ack;
    std::string line;
  } cases[] = {
      {"identical", 0, 1, [](Stream&) {}, true,
       "expect: identical to expected: the reply and stream blocks 1 to " + std::to_string(last)},
      {"restart resuming where its count says", header - 1, header, [](Stream&) {}, true,
       "expect: identical to expected: the reply and stream blocks " + std::to_string(header) +
           " to " + std::to_string(last)},
      {"lost", 0, 1, [&](Stream& w) { w.erase(w.begin() + data); }, false,
       "expect: first lost block " + std::to_string(data) + ": block " + std::to_string(data + 1) +
           " came where " + std::to_string(data) + " was due"},
      {"restart resuming a block late", header - 1, header + 1, [](Stream&) {}, false,
       "expect: first lost block " + std::to_string(header)},
      {"repeated", 0, 1, [&](Stream& w) { w.insert(w.begin() + data + 1, w[data]); }, false,
       "expect: first repeated block " + std::to_string(data) + ": it came again where " +
           std::to_string(data + 1) + " was due"},
      {"restart resuming at its own header", header, header, [](Stream&) {}, false,
       "expect: first repeated block " + std::to_string(header)},
      {"different", 0, 1, [&](Stream& w) { w[data].bytes[100] ^= 1; }, true,
       "expect: first different block " + std::to_string(data) + " (1 blocks differ)"},
      {"reply different just past its count", 0, 1,
       [](Stream& w) { w[0].bytes[LR_NEG_BLKS_DONE_OFFSET + sizeof(uint64_t)] ^= 1; }, true,
       "expect: first different block 0 (1 blocks differ)"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Stream wire(1, s[0]);
    set_blks_done(wire[0], c.count);
    wire.insert(wire.end(), s.begin() + static_cast<long>(c.from), s.end());
    c.edit(wire);
    FakeWriter writer(serve(wire, c.ack));
    EXPECT_EQ(run(BRIX_DESTINATION_PATH,
                  {"-P", std::to_string(writer.port()), "--timeout", "3", "--expect", "expected"}),
              c.line.find("identical") != std::string::npos ? 0 : 1)
        << err_;
    EXPECT_NE(out_.find(c.line), std::string::npos) << out_;
  }
}

}  // namespace
}  // namespace kit
