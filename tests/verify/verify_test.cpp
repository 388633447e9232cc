// brix_verify against the writer's fixtures and corruption tables, and
// against damage of every other kind: each fault is reported at the right
// file, byte offset, chunk and stream block, told apart from its look-alikes;
// good sets verify clean; the careful destination's findings are warnings.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <functional>
#include <string>

#include "kit/container_damage.h"
#include "kit/corruption_tables.h"
#include "kit/inflate.h"
#include "kit/temp_dir.h"
#include "rehearsal/block_builders.h"
#include "rehearsal/dump_writer.h"
#include "rehearsal/stream_gen.h"
#include "verify/fault_kinds.h"
#include "verify/report_output.h"
#include "verify/set_verifier.h"

namespace {

const char kPassword[] = "verify password";
constexpr int64_t kEncrHeader = 80;  // behind the compression header
constexpr int64_t kVerifier = 381, kDigest = 124, kDataSize = 40;

verify::summary verify_prefix(const std::string& prefix, const std::string& password,
                              bool all = false, bool strict = false, bool inflate = false,
                              const std::vector<std::string>& more = {}) {
  verify::options o;
  o.prefixes = {prefix};
  o.prefixes.insert(o.prefixes.end(), more.begin(), more.end());
  o.all = all;
  o.strict = strict;
  o.inflate = inflate;
  o.ask_password = [password](std::string* p) {
    *p = password;
    return true;
  };
  return verify::verify_set(o);
}

// A set written by the kit from a generated stream, with its description.
struct Set {
  kit::TempDir dir;
  std::string prefix = dir.file("vol");
  kit::Stream stream;
  std::vector<kit::DumpFileInfo> files;

  Set(kit::DumpFormat format, uint64_t blocks, const std::vector<uint64_t>& split,
      const std::function<void(kit::Stream&)>& edit = nullptr) {
    kit::StreamShape shape;
    shape.total_blocks = blocks;
    stream = kit::generate_stream(shape);
    if (edit) edit(stream);
    kit::ContainerOptions options;
    options.password = kPassword;
    kit::DumpSetResult r = kit::write_container_set(prefix, stream, split, format, options);
    EXPECT_TRUE(r.ok()) << r.error;
    files = r.file_info;
  }
  verify::summary verify(bool all = false, bool strict = false, bool inflate = false) const {
    return verify_prefix(prefix, kPassword, all, strict, inflate);
  }
  int64_t last_block(size_t f) const { return files[f].first_block + files[f].blocks - 1; }
};

// Where a fault must be found.
struct Expected {
  std::string kind;
  std::string file;
  int64_t offset, chunk, block;
  std::string says = "";  // part of the advice
};

void expect_fault(const verify::summary& s, const Expected& e, const std::string& what) {
  ASSERT_EQ(s.faults.size(), 1u) << what << "\n" << verify::text_report(s);
  const verify::finding& f = s.faults[0];
  EXPECT_EQ(f.kind, e.kind) << what << ": " << f.message;
  EXPECT_EQ(f.at.file, e.file) << what;
  EXPECT_EQ(f.at.offset, e.offset) << what;
  EXPECT_EQ(f.at.chunk, e.chunk) << what;
  EXPECT_EQ(f.at.block, e.block) << what;
  EXPECT_NE(f.advice.find(e.says), std::string::npos) << what << ": " << f.advice;
  EXPECT_EQ(s.exit_status(), 1) << what;
}

TEST(VerifyFixtures, EveryKindVerifiesCleanAndAWrongPasswordIsNotDamage) {
  for (const kit::FixtureSet& f : kit::kFixtureSets) {
    const std::string prefix = std::string(BRIX_FIXTURES_DIR) + "/" + f.prefix;
    const verify::summary s = verify_prefix(prefix, f.password ? f.password : "");
    EXPECT_EQ(s.exit_status(), 0) << verify::text_report(s);
    EXPECT_TRUE(s.warnings.empty()) << verify::text_report(s);
    EXPECT_EQ(s.files.size(), static_cast<size_t>(f.files)) << f.prefix;
    struct stat st;
    ASSERT_EQ(stat((prefix + ".stream").c_str(), &st), 0);
    EXPECT_EQ(s.stream_bytes(), static_cast<uint64_t>(st.st_size)) << f.prefix;
    if (f.password == nullptr) continue;
    const bool compressed = f.prefix[0] == 'c';
    expect_fault(
        verify_prefix(prefix, "not the password"),
        {"wrong_password", prefix + ".0", (compressed ? kEncrHeader : 0) + kVerifier, -1, 0},
        f.prefix);
  }
}

TEST(VerifyCorruption, FlippedStoredByteIsFoundAtItsChunkOrByTheDigest) {
  for (const kit::FlippedByteCase& k : kit::kFlippedByteCases) {
    Set set(k.format, 300, {150});
    const kit::DumpFileInfo& f = set.files[1];
    // A byte of a data block (a damaged header would be found first as such).
    size_t chunk = 2;
    while (kit::is_header(set.stream[f.chunks[chunk].first_block])) chunk++;
    ASSERT_EQ(kit::damage_flip_stored_byte(f, chunk, 10, 0x5A), "");
    const verify::summary s = set.verify();
    const bool decompression = kit::has_compression(k.format);
    expect_fault(
        s,
        decompression
            ? Expected{"chunk_damaged", f.path, f.chunks[chunk].offset, static_cast<int64_t>(chunk),
                       static_cast<int64_t>(f.chunks[chunk].first_block)}
            : Expected{"digest_mismatch", f.path, kDigest, -1, set.last_block(1)},
        kit::format_name(k.format));
    if (!s.faults.empty()) {
      EXPECT_EQ(s.faults[0].message, verify::one_line(k.err));
    }
  }
}

TEST(VerifyCorruption, DamageInTheEndHeadersFileIsFoundAtTheEndHeader) {
  for (const kit::EndFileDamageCase& c : kit::kEndFileDamageCases) {
    Set set(c.format, 200, {120});
    kit::damage_end_file(c, set.files[1]);
    const verify::summary s = set.verify();
    const bool digest = kit::has_encryption(c.format);
    expect_fault(s,
                 {digest ? "digest_mismatch" : "size_mismatch", set.files[1].path,
                  digest ? kDigest : kDataSize, -1, 199},
                 kit::format_name(c.format));
    if (!s.faults.empty()) {
      EXPECT_EQ(s.faults[0].message, verify::one_line(c.message));
    }
  }
}

// Damage of every other kind, each told apart from its look-alikes: a file
// missing or cut short, a header or a table damaged, a header missing.
TEST(VerifyCorruption, EachFaultIsLocatedAndToldApart) {
  using kit::DumpFormat;
  struct Case {
    const char* what;
    DumpFormat format;
    std::function<std::string(Set&)> damage;
    std::function<Expected(const Set&)> expected;
  } cases[] = {
      {"verifier of a later file", DumpFormat::compressed_encrypted,
       [](Set& s) { return kit::damage_verifier(s.files[1]); },
       [](const Set& s) {
         return Expected{"password_mismatch", s.files[1].path, kEncrHeader + kVerifier, -1,
                         static_cast<int64_t>(s.files[1].first_block)};
       }},
      {"digest length", DumpFormat::compressed_encrypted,
       [](Set& s) { return kit::damage_digest_len(s.files[0], 65); },
       [](const Set& s) {
         return Expected{"header_damaged", s.files[0].path, kEncrHeader, -1, 0};
       }},
      {"table without its last header", DumpFormat::compressed,
       [](Set& s) { return kit::damage_drop_last_flag(s.files[2]); },
       [](const Set& s) {
         return Expected{"table_damaged", s.files[2].path, s.files[2].table_offset, -1,
                         static_cast<int64_t>(s.files[2].first_block)};
       }},
      {"a chunk size in the table", DumpFormat::compressed,
       [](Set& s) {
         return kit::damage_chunk_size(s.files[1], 0, s.files[1].chunks[0].stored_size + 1);
       },
       [](const Set& s) {
         return Expected{"table_damaged", s.files[1].path, s.files[1].table_offset, -1,
                         static_cast<int64_t>(s.files[1].first_block)};
       }},
      {"a file cut inside its data", DumpFormat::encrypted,
       [](Set& s) { return kit::damage_truncate(s.files[1], 5000); },
       [](const Set& s) {
         return Expected{"short_file", s.files[1].path, 5000, -1,
                         static_cast<int64_t>(s.files[1].first_block)};
       }},
      {"a file cut inside its chunk table", DumpFormat::compressed,
       [](Set& s) { return kit::damage_cut_last_chunk_header(s.files[1], 100); },
       [](const Set& s) {
         return Expected{"short_file", s.files[1].path, s.files[1].table_offset + 100, -1,
                         static_cast<int64_t>(s.files[1].first_block)};
       }},
      {"a file missing in the middle", DumpFormat::compressed_encrypted,
       [](Set& s) { return unlink(s.files[1].path.c_str()) == 0 ? "" : "unlink"; },
       [](const Set& s) {
         return Expected{"missing_file",
                         s.files[1].path,
                         -1,
                         -1,
                         static_cast<int64_t>(s.files[1].first_block),
                         s.files[2].path + " is there"};
       }},
      {"the last file missing", DumpFormat::compressed,
       [](Set& s) { return unlink(s.files[2].path.c_str()) == 0 ? "" : "unlink"; },
       [](const Set& s) {
         return Expected{
             "missing_file", s.files[2].path, -1, -1, static_cast<int64_t>(s.files[2].first_block),
             "ends after"};
       }},
      {"a plain file cut inside a block", DumpFormat::plain,
       [](Set& s) { return kit::damage_truncate(s.files[2], s.files[2].size - 100); },
       [](const Set& s) {
         return Expected{"short_file", s.files[2].path, s.files[2].size - LR_BLOCK_SIZE, -1,
                         s.last_block(2)};
       }},
      {"a plain file cut at a block inside a header's data", DumpFormat::plain,
       [](Set& s) { return kit::damage_truncate(s.files[2], 3 * LR_BLOCK_SIZE); },
       [](const Set& s) {
         return Expected{"short_file",
                         s.files[2].path,
                         3 * LR_BLOCK_SIZE,
                         -1,
                         static_cast<int64_t>(s.files[2].first_block + 3),
                         "cut short"};
       }},
      {"a header without its magic", DumpFormat::plain,
       [](Set& s) {
         const long at = kit::find_header(s.stream, LR_HDR_FILE, 40);
         kit::break_magic(s.stream[at]);
         std::string bytes(reinterpret_cast<const char*>(s.stream[at].bytes), LR_BLOCK_SIZE);
         FILE* f = fopen(s.files[1].path.c_str(), "r+b");
         fseek(f, (at - s.files[1].first_block) * LR_BLOCK_SIZE, SEEK_SET);
         fwrite(bytes.data(), 1, bytes.size(), f);
         return fclose(f) == 0 ? "" : "write";
       },
       [](const Set& s) {
         const int64_t at = kit::find_header(s.stream, LR_HDR_FILE, 40);
         return Expected{"header_missing", s.files[1].path,
                         static_cast<int64_t>((at - s.files[1].first_block) * LR_BLOCK_SIZE), -1,
                         at};
       }},
  };
  for (const Case& c : cases) {
    Set set(c.format, 300, {100, 100});
    ASSERT_EQ(set.files.size(), 3u);
    ASSERT_LT(static_cast<size_t>(kit::find_header(set.stream, LR_HDR_FILE, 40)), 200u);
    ASSERT_FALSE(kit::is_header(set.stream[203])) << "the cut must fall inside a header's data";
    const Expected e = c.expected(set);  // before the damage: a missing file has no description
    ASSERT_EQ(c.damage(set), "") << c.what;
    expect_fault(set.verify(), e, c.what);
  }
}

// --all lists every damaged file in order, without it the first ends the
// check. A digest is compared when its file has been read, at its last
// block; past a missing file nothing tells where the stream stands: later
// faults have no block number rather than a wrong one.
TEST(VerifyCorruption, AllListsEveryFaultAndAfterAMissingFileNoBlockNumber) {
  kit::TempDir dir;
  kit::StreamShape shape;
  shape.total_blocks = 400;
  const std::vector<std::string> prefixes = {dir.file("p"), dir.file("q"), dir.file("r"),
                                             dir.file("s")};
  kit::DumpSetLayout layout = kit::multi_prefix_layout(prefixes, {{100}, {100}, {100}, {100}});
  kit::set_format(layout, kit::DumpFormat::compressed_encrypted);
  layout.container.password = kPassword;
  const kit::DumpSetResult r = kit::write_dump_set(layout, kit::generate_stream(shape));
  ASSERT_TRUE(r.ok()) << r.error;
  ASSERT_EQ(kit::damage_flip_stored_byte(r.file_info[0], 1, 5), "");
  ASSERT_EQ(kit::damage_digest(r.file_info[1]), "");
  ASSERT_EQ(unlink(r.files[2].c_str()), 0);
  ASSERT_EQ(kit::damage_digest(r.file_info[3]), "");
  const std::vector<std::string> more(prefixes.begin() + 1, prefixes.end());
  const verify::summary s = verify_prefix(prefixes[0], kPassword, true, false, false, more);
  const struct {
    const char* kind;
    int file;
    int64_t block;
  } expected[] = {{"chunk_damaged", 0, static_cast<int64_t>(r.file_info[0].chunks[1].first_block)},
                  {"digest_mismatch", 1, 199},
                  {"missing_file", 2, 200},
                  {"digest_mismatch", 3, -1}};
  ASSERT_EQ(s.faults.size(), 4u) << verify::text_report(s);
  for (size_t i = 0; i < 4; i++) {
    EXPECT_EQ(s.faults[i].kind, expected[i].kind) << i;
    EXPECT_EQ(s.faults[i].at.file, r.files[expected[i].file]) << i;
    EXPECT_EQ(s.faults[i].at.block, expected[i].block) << i;
  }
  EXPECT_EQ(verify_prefix(prefixes[0], kPassword, false, false, false, more).faults.size(), 1u);
}

// -i: the inflating mode's input verifies clean, with the careful
// destination fed the generated blocks; a header the mode refuses is found
// at its block, the mode's own messages kept.
TEST(VerifyInflating, StrippedInputIsCleanAndARefusedHeaderIsLocated) {
  Set clean(kit::DumpFormat::compressed, 400, {},
            [](kit::Stream& s) { s = kit::strip_file_phase_data(s); });
  verify::summary s = clean.verify(false, true, true);
  EXPECT_EQ(s.exit_status(), 0) << verify::text_report(s);
  EXPECT_EQ(s.blocks, clean.stream.size());
  long bad = -1;
  Set damaged(kit::DumpFormat::plain, 300, {}, [&bad](kit::Stream& s) {
    s = kit::strip_file_phase_data(s);
    bad = kit::find_header(s, LR_HDR_FILE, 3, kit::Form::stripped);
    kit::set_sync_num(s[bad], 50);  // a tree-phase number in the file phase
  });
  expect_fault(damaged.verify(false, false, true),
               {"header_invalid", damaged.files[0].path, bad * LR_BLOCK_SIZE, -1, bad},
               "a tree-phase point in the file phase");
  // The full stream is not the inflating mode's input: its first file-phase data block is refused.
  s = Set(kit::DumpFormat::plain, 300, {}).verify(false, false, true);
  ASSERT_EQ(s.faults.size(), 1u);
  EXPECT_EQ(s.faults[0].kind, "header_missing");
}

// What a careful destination would refuse but the writer sends: warnings,
// faults with --strict.
TEST(VerifyWarnings, CarefulDestinationFindingsAreWarningsUnlessStrict) {
  struct Case {
    const char* what;
    std::function<void(kit::Stream&)> edit;
    const char* kind;
  } cases[] = {
      {"a point that goes back",
       [](kit::Stream& s) {
         const long at = kit::find_header(s, LR_HDR_FILE, 30);
         kit::set_sync_num(s[at], kit::sync_num(s[at]) - 3);
       },
       "structure"},
      {"holes that do not add up",
       [](kit::Stream& s) {
         const long at = kit::find_header(s, LR_HDR_FILE, 30);
         kit::hdr(s[at]).h_holes[LR_MAX_HOLE_ENTRIES - 1] ^= 1;
       },
       "structure"},
      {"blocks after the end header",
       [](kit::Stream& s) {
         for (uint64_t i = 0; i < 3; i++) s.push_back(kit::data_block(900 + i));
       },
       "blocks_after_end"},
  };
  for (const Case& c : cases) {
    Set set(kit::DumpFormat::plain, 300, {}, c.edit);
    verify::summary s = set.verify();
    EXPECT_EQ(s.exit_status(), 0) << c.what;
    ASSERT_EQ(s.warnings.size(), 1u) << c.what << verify::text_report(s);
    EXPECT_EQ(s.warnings[0].kind, c.kind) << c.what;
    s = set.verify(false, true);
    EXPECT_EQ(s.exit_status(), 1) << c.what;
  }
}

TEST(VerifyWarnings, GoodSetsOfEveryKindVerifyClean) {
  for (kit::DumpFormat format :
       {kit::DumpFormat::plain, kit::DumpFormat::compressed, kit::DumpFormat::encrypted,
        kit::DumpFormat::compressed_encrypted}) {
    Set set(format, 600, {200, 200});
    const verify::summary s = set.verify(true, true);
    EXPECT_EQ(s.exit_status(), 0) << verify::text_report(s);
    EXPECT_EQ(s.blocks, set.stream.size());
    EXPECT_EQ(s.files.size(), 3u);
    EXPECT_EQ(s.last_point, kit::sync_num(set.stream.back()));
  }
}

}  // namespace
