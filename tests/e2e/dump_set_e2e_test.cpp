// Dump sets of every irregular shape played by the real binary: what belongs
// to the set, what is skipped, and what is refused by name before a wrong
// block could go out.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>

#include "dump_set.h"
#include "e2e_support.h"
#include "kit/temp_dir.h"
#include "rehearsal/dump_writer.h"
#include "rehearsal/stream_gen.h"

namespace {

using e2e::bytes_of;

const char kHint[] = "Use archivist start command on secondary to create a relationship\n";

struct SetOnDisk {
  kit::TempDir dir;
  kit::Stream stream = e2e::sample_stream(300);
  std::vector<std::string> prefixes = {dir.file("vol")};

  std::string file(int n) const { return kit::dump_file_name(prefixes[0], n); }
  void write(const kit::DumpSetLayout& layout) {
    ASSERT_TRUE(kit::write_dump_set(layout, stream).ok());
  }
  void write_split(const std::vector<uint64_t>& split) {
    write(kit::split_layout(prefixes[0], split));
  }
};

// Each row lays out its set and returns what the writer must say after the
// listening hint ("": the transfer completes), or before listening.
TEST(DumpSetE2E, SetsOfEveryShape) {
  struct Case {
    const char* what;
    std::string (*lay_out)(SetOnDisk& s);
    bool listens = true;
  } cases[] = {
      {"a partial block behind the blocks of a file, at either end of a read",
       [](SetOnDisk& s) {
         kit::DumpSetLayout layout = kit::split_layout(s.prefixes[0], {5, 16});
         layout.files[0].tail_bytes = layout.files[1].tail_bytes = 100;
         s.write(layout);
         return std::string();
       }},
      {"an empty file between two",
       [](SetOnDisk& s) {
         s.write_split({100, 0});
         return std::string();
       }},
      {"a file behind a gap in the numbering",
       [](SetOnDisk& s) {
         s.write_split({100});
         std::ofstream(s.file(3)) << std::string(LR_BLOCK_SIZE, 'x');
         return std::string();
       }},
      {"twenty prefixes",
       [](SetOnDisk& s) {
         std::vector<std::vector<uint64_t>> per_prefix(20, {10});
         for (int p = 1; p < 20; p++) s.prefixes.push_back(s.dir.file("p" + std::to_string(p)));
         s.write(kit::multi_prefix_layout(s.prefixes, per_prefix));
         return std::string();
       }},
      {"a later prefix without files",
       [](SetOnDisk& s) {
         s.write_split({});
         s.prefixes.push_back(s.dir.file("none"));
         return "Failed to open " + s.dir.file("none") + ".0 for reading\n";
       }},
      {"a first block that is not a header",
       [](SetOnDisk& s) {
         s.stream.insert(s.stream.begin(), kit::data_block(1));
         s.write_split({});
         return std::string(
             "The first block of the dump set is not a stream header. (Input data corrupt?)\n");
       }},
      {"an empty first file",
       [](SetOnDisk& s) {
         std::ofstream(s.file(0)) << "";
         return std::string("The dump set holds no block: no start header to reply with\n");
       }},
      {"a prefix too long for its file names",
       [](SetOnDisk& s) {
         s.prefixes[0] = "/" + std::string(DUMP_PREFIX_MAX, 'x');
         return "Dump file prefix longer than 1011 characters: " + s.prefixes[0] + "\n";
       },
       false},
      // Never opened for data: a FIFO or a directory (or a device) would
      // block the writer or be read as blocks.
      {"a FIFO as the first file",
       [](SetOnDisk& s) {
         mkfifo(s.file(0).c_str(), 0600);
         return "Dump file " + s.file(0) + " is not a regular file\n";
       },
       false},
      {"a directory found by the probe",
       [](SetOnDisk& s) {
         s.write_split({});
         mkdir(s.file(1).c_str(), 0700);
         return "Dump file " + s.file(1) + " is not a regular file\n";
       },
       false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    SetOnDisk set;
    const std::string err = c.lay_out(set);
    e2e::Playback p = c.listens ? e2e::play(set.prefixes, kit::DestinationOptions())
                                : e2e::run_alone(set.prefixes);
    EXPECT_EQ(p.err, (c.listens ? kHint : "") + err);
    if (!err.empty()) {
      EXPECT_EQ(p.status.code, 255);
      continue;
    }
    EXPECT_EQ(p.status.code, 0);
    EXPECT_TRUE(p.dest.complete) << p.dest.error << p.dest.structure_error;
    EXPECT_TRUE(
        e2e::same_blocks(bytes_of(p.dest.blocks), bytes_of(set.stream, 1, set.stream.size() - 1)));
  }
}

}  // namespace
