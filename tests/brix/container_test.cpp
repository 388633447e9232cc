// Reading containers: detection, decoding of every kind and mode (from the
// independently written fixtures), and damaged files refused with their
// exact messages, built by damaging a good copy.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "brix_comp_encr.h"
#include "dump_set.h"
#include "kit/container_damage.h"
#include "kit/corruption_tables.h"
#include "reading_state.h"
#include "rehearsal/dump_writer.h"
#include "rehearsal/stream_gen.h"
#include "test_support.h"

namespace {

using testing_support::read_file;
using testing_support::TempDir;
using testing_support::TestSession;
using testing_support::write_file;

struct Fixture {
  const char* prefix;
  bool compressed, encrypted;
  const char* password;
};
const Fixture kCeMode1 = {"ce_mode1", true, true,
                          "thirty-two bytes count in mode 1, this tail is ignored"};
const Fixture kCeMode2 = {"ce_mode2", true, true, "Mode2-Fixture-Pass"};
const Fixture kCeMode3 = {"ce_mode3", true, true,
                          "mode three keeps all 52 bytes of this long password!"};
const Fixture kEMode2 = {"e_mode2", false, true, "encrypted only, no compression"};
const Fixture kCOnly = {"c_only", true, false, ""};

std::string fixture_path(const std::string& name) {
  return std::string(BRIX_FIXTURES_DIR) + "/" + name;
}

// Byte offsets inside a container with both headers.
constexpr size_t kEncr = COMP_HEADER_SIZE;  // the encryption header behind the compression header
constexpr size_t kDataStart = COMP_HEADER_SIZE + ENCR_HEADER_SIZE;

// A working copy of a fixture's first file, opened through a fresh session.
struct WorkingCopy {
  TempDir dir;
  TestSession t;
  std::string file = dir.file("set.0");
  std::string bytes;

  explicit WorkingCopy(const Fixture& f) {
    bytes = read_file(fixture_path(std::string(f.prefix) + ".0"));
    write_file(file, bytes);
    strcpy(t.s.encr_passwd, f.password);
    t.add_prefix(dir.file("set"));
  }
  // The reading state is process-wide; leave none behind for the next copy.
  ~WorkingCopy() { reset_reading_state(); }
  void damage(size_t offset, const std::string& with) {
    bytes.replace(offset, with.size(), with);
    write_file(file, bytes);
  }
  void put_u32(size_t offset, uint32_t v) {
    damage(offset, std::string(reinterpret_cast<char*>(&v), 4));
  }
  void resize(size_t size, char fill = '\0') {
    bytes.resize(size, fill);
    write_file(file, bytes);
  }
  size_t table_offset() const { return bytes.size() - CHUNK_HEADER_SIZE; }  // one chunk header

  // Opens and prepares the set as the driver does.
  bool_t prepare(std::string* err = nullptr) {
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    bool_t ok = open_input_dump(&t.s);
    if (ok) {
      detect_container_kind(&t.s);
      ok = prepare_input_dump(&t.s);
    }
    testing::internal::GetCapturedStdout();
    std::string e = testing::internal::GetCapturedStderr();
    if (err != nullptr) *err = e;
    return ok;
  }
  // Reads to the end: the bytes delivered, the error word, the messages.
  std::string read_all(int* error, std::string* err) {
    std::string got;
    testing::internal::CaptureStderr();
    while (read_dump_block(&t.s, error)) got.append(t.s.in_buf, LR_BLOCK_SIZE);
    *err = testing::internal::GetCapturedStderr();
    return got;
  }
};

TEST(Container, KindIsDetectedFromTheHeadersAndAPlainFileStaysAtItsStart) {
  TempDir dir;
  struct Case {
    Fixture f;
    off_t position;  // after detection
  } cases[] = {{kCeMode1, kDataStart}, {kEMode2, ENCR_HEADER_SIZE}, {kCOnly, 0}};
  for (const Case& c : cases) {
    TestSession s;
    write_file(dir.file("k.0"), read_file(fixture_path(std::string(c.f.prefix) + ".0")));
    s.add_prefix(dir.file("k"));
    testing::internal::CaptureStdout();
    ASSERT_EQ(open_input_dump(&s.s), B_TRUE);
    testing::internal::GetCapturedStdout();
    detect_container_kind(&s.s);
    EXPECT_EQ(s.s.compressed, c.f.compressed ? B_TRUE : B_FALSE) << c.f.prefix;
    EXPECT_EQ(s.s.encrypted, c.f.encrypted ? B_TRUE : B_FALSE) << c.f.prefix;
    EXPECT_EQ(lseek(s.s.src_fd, 0, SEEK_CUR), c.position) << c.f.prefix;
  }
  TestSession plain;
  write_file(dir.file("p.0"), read_file(fixture_path("c_only.stream")));
  plain.add_prefix(dir.file("p"));
  testing::internal::CaptureStdout();
  ASSERT_EQ(open_input_dump(&plain.s), B_TRUE);
  testing::internal::GetCapturedStdout();
  detect_container_kind(&plain.s);
  EXPECT_EQ(plain.s.compressed, B_FALSE);
  EXPECT_EQ(plain.s.encrypted, B_FALSE);
  EXPECT_EQ(lseek(plain.s.src_fd, 0, SEEK_CUR), 0);
}

TEST(Container, EveryKindAndModeDecodesToItsStreamAndItsDigestMatches) {
  for (const Fixture& f : {kCeMode1, kCeMode2, kCeMode3, kEMode2, kCOnly}) {
    WorkingCopy w(f);
    ASSERT_EQ(w.prepare(), B_TRUE) << f.prefix;
    int error = 0;
    std::string err;
    EXPECT_TRUE(w.read_all(&error, &err) ==
                read_file(fixture_path(std::string(f.prefix) + ".stream")))
        << f.prefix;
    EXPECT_EQ(error, 0) << f.prefix;
    EXPECT_EQ(close_input_file(&w.t.s), B_TRUE) << f.prefix;
  }
}

TEST(Container, WrongPasswordIsRefusedWhenTheFileIsPrepared) {
  WorkingCopy w(kCeMode3);
  strcpy(w.t.s.encr_passwd, "mode three keeps all 52 bytes of this long password?");
  std::string err;
  EXPECT_EQ(w.prepare(&err), B_FALSE);
  EXPECT_EQ(err, "The password is incorrect\n");
}

TEST(Container, DamagedHeadersAndTablesAreRefusedWithTheirMessages) {
  struct Case {
    const char* what;
    void (*damage)(WorkingCopy&);
    std::string err;
  } cases[] = {
      {"verifier", [](WorkingCopy& w) { w.damage(kEncr + 381, "\xAA\x55"); },
       "The password is incorrect\n"},
      // The file cannot switch its integrity checks off or shorten them.
      {"verifier longer than computed", [](WorkingCopy& w) { w.damage(kEncr + 380, "\x03"); },
       "Damaged encryption header: password verifier of 3 bytes instead of 2\n"},
      {"verifier of one byte", [](WorkingCopy& w) { w.damage(kEncr + 380, "\x01"); },
       "Damaged encryption header: password verifier of 1 bytes instead of 2\n"},
      {"digest longer than computed",
       [](WorkingCopy& w) { w.damage(kEncr + 122, std::string("\x41\x00", 2)); },
       "Damaged encryption header: digest of 65 bytes instead of 64\n"},
      {"no digest", [](WorkingCopy& w) { w.damage(kEncr + 122, std::string("\x00\x00", 2)); },
       "Damaged encryption header: digest of 0 bytes instead of 64\n"},
      {"shortened digest",
       [](WorkingCopy& w) { w.damage(kEncr + 122, std::string("\x3F\x00", 2)); },
       "Damaged encryption header: digest of 63 bytes instead of 64\n"},

      {"table without its last header",
       [](WorkingCopy& w) { w.damage(w.table_offset() + 8204, std::string(1, '\0')); },
       "Error while reading the chunk header information\n"},
      {"partial chunk header at the end", [](WorkingCopy& w) { w.resize(w.bytes.size() + 100); },
       "Error while reading the chunk header information\n"},
      {"no table", [](WorkingCopy& w) { w.resize(w.table_offset()); }, "No chunk headers found\n"},
      {"too many chunks in the header",
       [](WorkingCopy& w) { w.put_u32(w.table_offset() + 4, CHUNK_TABLE_ENTRIES + 1); },
       "No chunk headers found\n"},
  };
  for (const Case& c : cases) {
    WorkingCopy w(kCeMode2);
    c.damage(w);
    std::string err;
    EXPECT_EQ(w.prepare(&err), B_FALSE) << c.what;
    EXPECT_EQ(err, c.err) << c.what;
  }
}

// Compressed files have no digest: the chunk table must account for the
// data area, and the file's parts for its length.
TEST(Container, ChunkTableThatDoesNotAccountForTheFileIsRefused) {
  struct Case {
    const char* what;
    int64_t table_change;     // added to the first chunk's stored size
    uint32_t chunks_dropped;  // from the chunk header's count
    size_t appended;          // bytes added behind the table
  } cases[] = {
      {"a chunk's size raised", 1, 0, 0},
      {"a chunk's size lowered", -1, 0, 0},
      {"the chunk count lowered", 0, 1, 0},
      {"a chunk header of garbage appended", 0, 0, CHUNK_HEADER_SIZE},
  };
  for (const Case& c : cases) {
    WorkingCopy w(kCOnly);
    uint64_t area;
    memcpy(&area, &w.bytes[offsetof(comp_header_type, compressed_size)], sizeof(area));
    uint32_t count, first, last;
    memcpy(&count, &w.bytes[w.table_offset() + 4], 4);
    memcpy(&first, &w.bytes[w.table_offset() + 12], 4);
    memcpy(&last, &w.bytes[w.table_offset() + 12 + 4 * (count - 1)], 4);
    std::string expected;
    if (c.appended > 0) {
      // Loading stops at a header of too many chunks; the bytes behind the
      // table must still be accounted for.
      w.resize(w.bytes.size() + c.appended, '\xFF');
      expected = "Damaged dump file: " + std::to_string(w.bytes.size()) +
                 " bytes long where its headers, data and chunk table take " +
                 std::to_string(w.bytes.size() - c.appended) + "\n";
    } else {
      w.put_u32(w.table_offset() + 12, static_cast<uint32_t>(first + c.table_change));
      w.put_u32(w.table_offset() + 4, count - c.chunks_dropped);
      const uint64_t listed = area + c.table_change - (c.chunks_dropped ? last : 0);
      expected = "Damaged dump file: its chunk table lists " + std::to_string(listed) +
                 " stored bytes, its header " + std::to_string(area) + "\n";
    }
    std::string err;
    EXPECT_EQ(w.prepare(&err), B_FALSE) << c.what;
    EXPECT_EQ(err, expected) << c.what;
  }
}

// The digest of the file that holds the end header is compared before that
// header goes out.
TEST(Container, DigestMismatchIsFoundBeforeTheEndOfTheStream) {
  WorkingCopy w(kCeMode2);
  w.damage(kEncr + 124, "\x01\x02\x03");
  ASSERT_EQ(w.prepare(), B_TRUE);
  int error = 0;
  std::string err;
  EXPECT_TRUE(w.read_all(&error, &err) == read_file(fixture_path("ce_mode2.stream")));
  testing::internal::CaptureStderr();
  EXPECT_EQ(check_rest_of_input_file(&w.t.s), B_FALSE);
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "The data digest code does not match the expected value\n");
}

TEST(Container, DamagedChunksFailTheRead) {
  WorkingCopy w(kCeMode2);
  w.damage(kDataStart + 40, "\xFF\xFF\xFF\xFF");
  ASSERT_EQ(w.prepare(), B_TRUE);
  int error = 0;
  std::string err;
  EXPECT_EQ(w.read_all(&error, &err), "");
  EXPECT_EQ(err, "Error while decompressing the data");
  EXPECT_NE(error, 0);
}

}  // namespace

namespace {

// A compressed and encrypted file made by the kit: 60 blocks in a few chunks.
struct KitContainer {
  TempDir dir;
  std::string prefix = dir.file("kit");
  kit::DumpFileInfo info;
  std::string bytes;
  static constexpr const char* kPassword = "corruption tests";

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

// Opens the file as the driver does and reads it to the end: the messages
// printed and whether any step failed.
struct Outcome {
  std::string err;
  bool failed = false;
  size_t blocks = 0;
};

Outcome read_through(const std::string& prefix, const char* password) {
  TestSession t;
  t.add_prefix(prefix);
  strcpy(t.s.encr_passwd, password);
  Outcome o;
  testing::internal::CaptureStdout();
  testing::internal::CaptureStderr();
  if (!open_input_dump(&t.s)) {
    o.failed = true;
  } else {
    detect_container_kind(&t.s);
    if (!prepare_input_dump(&t.s)) {
      o.failed = true;
    } else {
      int error = 0;
      while (read_dump_block(&t.s, &error)) o.blocks++;
      if (error != 0 || !check_rest_of_input_file(&t.s)) o.failed = true;
    }
  }
  testing::internal::GetCapturedStdout();
  o.err = testing::internal::GetCapturedStderr();
  reset_reading_state();
  return o;
}

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
  size_t size = c.bytes.size();
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
        std::string damaged = c.bytes;
        damaged[chunk.offset + at] = static_cast<char>(damaged[chunk.offset + at] ^ 0x5A);
        write_file(c.info.path, damaged);
        Outcome o = read_through(c.prefix, KitContainer::kPassword);
        EXPECT_TRUE(o.failed) << kit::format_name(k.format) << " at " << chunk.offset + at;
        EXPECT_EQ(o.err, k.err) << kit::format_name(k.format) << " at " << chunk.offset + at;
      }
    }
  }
}

}  // namespace
