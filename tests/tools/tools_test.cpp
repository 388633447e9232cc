// The rehearsal programs' work as their users rely on it: brix_mkdump writes
// sets that read back as the generated stream, and brix_destination's
// --expect comparison names the first block lost, repeated or different.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>

#include "kit/container_decoder.h"
#include "kit/runner.h"
#include "kit/temp_dir.h"
#include "rehearsal/dump_writer.h"
#include "rehearsal/expect.h"
#include "rehearsal/stream_gen.h"

namespace kit {
namespace {

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

TEST(Tools, MkdumpWritesTheGeneratedStreamPlainOrAsContainers) {
  TempDir dir;
  // Runs brix_mkdump in `dir` with `input` on its standard input; its output.
  auto mkdump = [&dir](const std::vector<std::string>& args, const std::string& input = "") {
    ProcessOptions o;
    o.path = BRIX_MKDUMP_PATH;
    o.args = args;
    o.cwd = dir.path();
    o.stdin_bytes = input;
    WriterProcess p;
    EXPECT_TRUE(p.start(o)) << p.error();
    EXPECT_EQ(p.wait(20000).code, 0) << p.output(Output::err);
    return p.output(Output::out);
  };
  std::string out = mkdump({"--blocks", "1000", "-n", "3", "--seed", "9", "vol"});
  EXPECT_NE(out.find("wrote vol.0 (334 blocks)"), std::string::npos) << out;
  EXPECT_NE(out.find("stream: 1000 blocks, 4096000 bytes, 3 files"), std::string::npos) << out;
  EXPECT_TRUE(same_blocks(read_set_bytes({dir.file("vol")}).bytes, generated(1000, 9)));

  // The password from the first input line, without its line feed.
  out = mkdump({"-z", "-e", "--mode", "2", "--chunk-blocks", "4", "-n", "2", "--blocks", "300",
                "--seed", "9", "sealed"},
               "typed in\nnext line\n");
  EXPECT_NE(out.find("wrote sealed.0 (150 blocks, compressed+encrypted mode 2, "),
            std::string::npos)
      << out;
  const DecodedSet d = decode_dump_files({dir.file("sealed.0"), dir.file("sealed.1")}, "typed in");
  ASSERT_EQ(d.error, "");
  EXPECT_TRUE(same_blocks(d.stream, generated(300, 9)));
  for (const DecodedFile& f : d.files) {
    for (uint32_t blocks : f.chunk_blocks) EXPECT_LE(blocks, 4u);
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

TEST(Tools, ExpectNamesTheFirstLostRepeatedOrDifferentBlock) {
  TempDir dir;
  const Stream s = generate_stream(StreamShape());
  ASSERT_TRUE(write_plain_set(dir.file("expected"), s, {10}).ok());
  const size_t last = s.size() - 1;
  const size_t data = regular_data_block(s);
  const size_t header = static_cast<size_t>(find_header(s, LR_HDR_FILE, 3));
  // What arrives: the reply with count `count`, then the stream blocks from
  // `from` on, changed by `edit`.
  const struct {
    const char* what;
    uint64_t count;
    size_t from;
    std::function<void(Stream&)> edit;
    std::string line;
  } cases[] = {
      {"identical", 0, 1, [](Stream&) {},
       "expect: identical to expected: the reply and stream blocks 1 to " + std::to_string(last)},
      {"restart resuming where its count says", header - 1, header, [](Stream&) {},
       "expect: identical to expected: the reply and stream blocks " + std::to_string(header) +
           " to " + std::to_string(last)},
      {"lost", 0, 1, [&](Stream& w) { w.erase(w.begin() + data); },
       "expect: first lost block " + std::to_string(data) + ": block " + std::to_string(data + 1) +
           " came where " + std::to_string(data) + " was due"},
      {"restart resuming a block late", header - 1, header + 1, [](Stream&) {},
       "expect: first lost block " + std::to_string(header)},
      {"repeated", 0, 1, [&](Stream& w) { w.insert(w.begin() + data + 1, w[data]); },
       "expect: first repeated block " + std::to_string(data) + ": it came again where " +
           std::to_string(data + 1) + " was due"},
      {"restart resuming at its own header", header, header, [](Stream&) {},
       "expect: first repeated block " + std::to_string(header)},
      {"different", 0, 1, [&](Stream& w) { w[data].bytes[100] ^= 1; },
       "expect: first different block " + std::to_string(data) + " (1 blocks differ)"},
      {"reply different just past its count", 0, 1,
       [](Stream& w) { w[0].bytes[LR_NEG_BLKS_DONE_OFFSET + sizeof(uint64_t)] ^= 1; },
       "expect: first different block 0 (1 blocks differ)"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Stream wire(1, s[0]);
    set_blks_done(wire[0], c.count);
    wire.insert(wire.end(), s.begin() + static_cast<long>(c.from), s.end());
    c.edit(wire);
    DumpSetBlocks expected;
    ASSERT_TRUE(expected.open(dir.file("expected"))) << expected.error();
    ExpectCheck check(expected);
    check.reply(wire[0]);
    for (size_t i = 1; i < wire.size(); i++) check.block(wire[i]);
    EXPECT_NE(describe_findings(check.findings(), "expected").find(c.line), std::string::npos)
        << describe_findings(check.findings(), "expected");
  }
}

}  // namespace
}  // namespace kit
