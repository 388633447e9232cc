// Damaged containers are refused with the message of the damage: headers and
// chunk tables of the independently written fixtures damaged one field at a
// time, and a kit-made container cut at every length or with flipped bytes.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "brix_comp_encr.h"
#include "dump_set.h"
#include "kit/corruption_tables.h"
#include "kit/owned_session.h"
#include "kit/temp_dir.h"
#include "reading_state.h"
#include "rehearsal/dump_writer.h"
#include "rehearsal/stream_gen.h"

namespace {

// Byte offsets inside a container with both headers.
constexpr size_t kEncr = COMP_HEADER_SIZE;  // the encryption header behind the compression header
constexpr size_t kDataStart = COMP_HEADER_SIZE + ENCR_HEADER_SIZE;

std::string read_file(const std::string& path) {
  std::string bytes, error;
  EXPECT_TRUE(kit::read_file(path, bytes, error)) << error;
  return bytes;
}

void write_file(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

// Opens the one-file set `prefix` as the driver does, reads it to its end and
// checks what the end of the file must pass: the messages printed, whether
// any step failed, the blocks delivered.
struct Outcome {
  std::string err;
  bool failed = false;
  size_t blocks = 0;
};

Outcome read_through(const std::string& prefix, const char* password) {
  kit::OwnedSession t;
  t.add_prefix(prefix);
  strcpy(t.s.encr_passwd, password);
  Outcome o;
  testing::internal::CaptureStdout();
  testing::internal::CaptureStderr();
  if (!open_input_dump(&t.s) || !detect_container_kind(&t.s) || !prepare_input_dump(&t.s)) {
    o.failed = true;
  } else {
    int error = 0;
    while (read_dump_block(&t.s, &error)) o.blocks++;
    o.failed = error != 0 || !check_rest_of_input_file(&t.s);
  }
  testing::internal::GetCapturedStdout();
  o.err = testing::internal::GetCapturedStderr();
  return o;
}

// A fixture's first file as bytes, damaged by a row and read through.
struct Copy {
  std::string bytes;
  uint32_t u32(size_t at) const {
    uint32_t v;
    memcpy(&v, &bytes[at], 4);
    return v;
  }
  void put(size_t at, const std::string& with) { bytes.replace(at, with.size(), with); }
  void put_u32(size_t at, uint32_t v) { put(at, std::string(reinterpret_cast<char*>(&v), 4)); }
  size_t table() const { return bytes.size() - CHUNK_HEADER_SIZE; }  // its one chunk header
};

TEST(ContainerDamage, DamagedHeadersAndChunkTablesAreRefusedWithTheirMessages) {
  const std::string no_last = "Error while reading the chunk header information\n";
  // Bytes written over ce_mode2.0 at an offset (negative: from the start of
  // its one chunk header), and the message.
  const struct {
    const char* what;
    long at;
    std::string bytes;
    std::string err;
  } patches[] = {
      {"verifier", kEncr + 381, "\xAA\x55", "The password is incorrect\n"},
      // The file cannot switch its integrity checks off or shorten them.
      {"verifier of 3 bytes", kEncr + 380, "\x03",
       "Damaged encryption header: password verifier of 3 bytes instead of 2\n"},
      {"verifier of 1 byte", kEncr + 380, "\x01",
       "Damaged encryption header: password verifier of 1 bytes instead of 2\n"},
      {"digest of 65 bytes", kEncr + 122, std::string("\x41\x00", 2),
       "Damaged encryption header: digest of 65 bytes instead of 64\n"},
      {"no digest", kEncr + 122, std::string("\x00\x00", 2),
       "Damaged encryption header: digest of 0 bytes instead of 64\n"},
      {"a digest that differs", kEncr + 124, "\x01\x02\x03",
       "The data digest code does not match the expected value\n"},
      {"table without its last header", -8204, std::string(1, '\0'), no_last},
      {"2049 chunks in the header", -4, std::string("\x01\x08\x00\x00", 4),
       "No chunk headers found\n"},
  };
  for (const auto& c : patches) {
    SCOPED_TRACE(c.what);
    kit::TempDir dir;
    Copy copy{read_file(std::string(BRIX_FIXTURES_DIR) + "/ce_mode2.0")};
    copy.put(c.at >= 0 ? static_cast<size_t>(c.at) : copy.table() - c.at, c.bytes);
    write_file(dir.file("set.0"), copy.bytes);
    Outcome o = read_through(dir.file("set"), "Mode2-Fixture-Pass");
    EXPECT_TRUE(o.failed);
    EXPECT_EQ(o.err, c.err);
  }
  // Changed lengths, and (compressed files have no digest) chunk tables
  // that do not account for the data area or the file's length.
  const struct {
    const char* what;
    const char* fixture;
    std::string (*damage)(Copy&);  // returns the message expected
  } cases[] = {
      {"a partial chunk header at the end", "ce_mode2",
       [](Copy& c) {
         c.bytes.resize(c.bytes.size() + 100);
         return std::string("Error while reading the chunk header information\n");
       }},
      {"no table", "ce_mode2",
       [](Copy& c) {
         c.bytes.resize(c.table());
         return std::string("No chunk headers found\n");
       }},
      {"a chunk's size raised", "c_only",
       [](Copy& c) {
         const uint32_t area = c.u32(offsetof(comp_header_type, compressed_size));
         c.put_u32(c.table() + 12, c.u32(c.table() + 12) + 1);
         return "Damaged dump file: its chunk table lists " + std::to_string(area + 1) +
                " stored bytes, its header " + std::to_string(area) + "\n";
       }},
      {"the chunk count lowered", "c_only",
       [](Copy& c) {
         const uint32_t area = c.u32(offsetof(comp_header_type, compressed_size));
         const uint32_t count = c.u32(c.table() + 4);
         const uint32_t last = c.u32(c.table() + 12 + 4 * (count - 1));
         c.put_u32(c.table() + 4, count - 1);
         return "Damaged dump file: its chunk table lists " + std::to_string(area - last) +
                " stored bytes, its header " + std::to_string(area) + "\n";
       }},
      {"a chunk header of garbage appended", "c_only",
       [](Copy& c) {
         c.bytes.resize(c.bytes.size() + CHUNK_HEADER_SIZE, '\xFF');
         return "Damaged dump file: " + std::to_string(c.bytes.size()) +
                " bytes long where its headers, data and chunk table take " +
                std::to_string(c.bytes.size() - CHUNK_HEADER_SIZE) + "\n";
       }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    kit::TempDir dir;
    Copy copy{read_file(std::string(BRIX_FIXTURES_DIR) + "/" + c.fixture + ".0")};
    const std::string expected = c.damage(copy);
    write_file(dir.file("set.0"), copy.bytes);
    Outcome o = read_through(dir.file("set"), "Mode2-Fixture-Pass");
    EXPECT_TRUE(o.failed);
    EXPECT_EQ(o.err, expected);
  }
}

// A container made by the kit: 60 blocks in a few chunks.
struct KitContainer {
  static constexpr const char* kPassword = "corruption tests";
  kit::TempDir dir;
  std::string prefix = dir.file("kit");
  kit::DumpFileInfo info;
  std::string bytes;

  explicit KitContainer(kit::DumpFormat format) {
    kit::StreamShape shape;
    shape.total_blocks = 60;
    kit::ContainerOptions options;
    options.password = kPassword;
    kit::DumpSetResult r =
        kit::write_container_set(prefix, kit::generate_stream(shape), {}, format, options);
    EXPECT_TRUE(r.ok()) << r.error;
    info = r.file_info[0];
    bytes = read_file(info.path);
  }
};

// What a file cut at `length` must report, by the part of the file the cut
// falls in.
std::string expected_for_cut(size_t length, const kit::DumpFileInfo& f) {
  const std::string shrt = "Short read from Source";
  const std::string no_table = "No chunk headers found\n";
  if (length == 0) return "";                         // an empty plain file
  if (length < COMP_HEADER_SIZE) return shrt + shrt;  // read as a plain file, no block in it
  if (length < ENCR_HEADER_SIZE) return (length > COMP_HEADER_SIZE ? shrt + shrt : shrt) + no_table;
  if (length < kDataStart) return shrt + no_table;  // compressed only, table out of reach
  if (length <= static_cast<size_t>(f.table_offset)) return no_table;
  return "Error while reading the chunk header information\n";  // a partial chunk header
}

TEST(ContainerDamage, EveryCutOfTheFileIsRefusedWithTheMessageOfWhereItFalls) {
  KitContainer c(kit::DumpFormat::compressed_encrypted);
  const size_t size = c.bytes.size();
  std::vector<size_t> cuts;
  for (size_t l = 0; l <= kDataStart + 8; l++) cuts.push_back(l);  // every header byte
  for (size_t l = kDataStart; l < size; l += 97) cuts.push_back(l);
  for (size_t l = c.info.table_offset - 2; l < size; l += 13) cuts.push_back(l);
  cuts.push_back(size - 1);
  for (size_t cut : cuts) {
    write_file(c.info.path, c.bytes.substr(0, cut));
    Outcome o = read_through(c.prefix, KitContainer::kPassword);
    EXPECT_EQ(o.err, expected_for_cut(cut, c.info)) << "cut at " << cut << " of " << size;
    EXPECT_EQ(o.blocks, 0u) << "cut at " << cut;
  }
}

TEST(ContainerDamage, FlippedStoredBytesAreCaughtByDecompressionOrByTheDigest) {
  for (const kit::FlippedByteCase& k : kit::kFlippedByteCases) {
    KitContainer c(k.format);
    for (const kit::ChunkInfo& chunk : c.info.chunks) {
      for (uint32_t at : {0u, chunk.stored_size / 2, chunk.stored_size - 1}) {
        SCOPED_TRACE(std::string(kit::format_name(k.format)) + " at " +
                     std::to_string(chunk.offset + at));
        std::string damaged = c.bytes;
        damaged[chunk.offset + at] = static_cast<char>(damaged[chunk.offset + at] ^ 0x5A);
        write_file(c.info.path, damaged);
        Outcome o = read_through(c.prefix, KitContainer::kPassword);
        EXPECT_TRUE(o.failed);
        EXPECT_EQ(o.err, k.err);
      }
    }
  }
}

}  // namespace
