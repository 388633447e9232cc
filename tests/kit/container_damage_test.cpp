// The damage helpers change exactly the bytes they name, and the damage is
// the kind the independent decoder then reports.
#include "kit/container_damage.h"

#include <gtest/gtest.h>

#include <functional>

#include "kit/container_decoder.h"
#include "kit/dump_writer.h"
#include "kit/stream_gen.h"
#include "kit/temp_dir.h"

namespace kit {
namespace {

const char kPassword[] = "damage";

class ContainerDamage : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_NE(dir_.path(), ""); }

  // Writes a one-file set of `format`; its description goes into info_, its bytes into original_.
  void write(DumpFormat format, const std::string& name) {
    StreamShape shape;
    shape.total_blocks = 120;
    ContainerOptions options;
    options.password = kPassword;
    const DumpSetResult r =
        write_container_set(dir_.file(name), generate_stream(shape), {}, format, options);
    ASSERT_TRUE(r.ok()) << r.error;
    info_ = r.file_info.at(0);
    ASSERT_GE(info_.chunks.size(), 3u);
    std::string error;
    original_.clear();
    ASSERT_TRUE(read_file(info_.path, original_, error)) << error;
  }

  std::string now() {
    std::string bytes, error;
    EXPECT_TRUE(read_file(info_.path, bytes, error)) << error;
    return bytes;
  }

  TempDir dir_;
  DumpFileInfo info_;
  std::string original_;
};

struct Case {
  const char* what;
  DumpFormat format;
  std::function<std::string(const DumpFileInfo&)> damage;
  // The byte range that must differ from the original, or, for a cut, the length left.
  std::function<int64_t(const DumpFileInfo&)> at;
  size_t len;  // 0: the file was cut to at()
  DecodeError expect;
};

constexpr int64_t kEncrInBoth = 80;  // the encryption header behind the compression header

TEST_F(ContainerDamage, EachHelperChangesOnlyWhatItNamesAndTheDecoderSeesIt) {
  const DumpFormat both = DumpFormat::compressed_encrypted;
  const std::vector<Case> cases = {
      {"digest", both, damage_digest, [](const DumpFileInfo&) { return kEncrInBoth + 124; }, 1,
       DecodeError::digest_mismatch},
      {"verifier", both, damage_verifier, [](const DumpFileInfo&) { return kEncrInBoth + 381; }, 1,
       DecodeError::wrong_password},
      {"verifier alone", DumpFormat::encrypted, damage_verifier,
       [](const DumpFileInfo&) { return int64_t{381}; }, 1, DecodeError::wrong_password},
      {"digest_len", both, [](const DumpFileInfo& f) { return damage_digest_len(f, 65); },
       [](const DumpFileInfo&) { return kEncrInBoth + 122; }, 2, DecodeError::digest_too_long},
      {"passwd_verifier_len", both, [](const DumpFileInfo& f) { return damage_verifier_len(f, 3); },
       [](const DumpFileInfo&) { return kEncrInBoth + 380; }, 1, DecodeError::verifier_too_long},
      {"last flag", both, damage_drop_last_flag,
       [](const DumpFileInfo& f) { return f.table_offset + 8204; }, 1, DecodeError::no_last_header},
      {"chunk size", both,
       [](const DumpFileInfo& f) { return damage_chunk_size(f, 1, kOversizedChunk); },
       [](const DumpFileInfo& f) { return f.table_offset + 12 + 4; }, 4,
       DecodeError::oversized_chunk},
      {"ciphertext", both, [](const DumpFileInfo& f) { return damage_flip_stored_byte(f, 2, 5); },
       [](const DumpFileInfo& f) { return f.chunks[2].offset + 5; }, 1,
       DecodeError::digest_mismatch},
      {"compressed data", DumpFormat::compressed,
       [](const DumpFileInfo& f) { return damage_flip_stored_byte(f, 2, 5, 0x10); },
       [](const DumpFileInfo& f) { return f.chunks[2].offset + 5; }, 1,
       DecodeError::inflate_failed},
      {"cut in last header", both,
       [](const DumpFileInfo& f) { return damage_cut_last_chunk_header(f, 100); },
       [](const DumpFileInfo& f) { return f.table_offset + 100; }, 0,
       DecodeError::partial_chunk_header},
      {"cut at the table", both,
       [](const DumpFileInfo& f) { return damage_truncate(f, f.table_offset); },
       [](const DumpFileInfo& f) { return f.table_offset; }, 0, DecodeError::no_chunk_header},
      {"cut in the data", both,
       [](const DumpFileInfo& f) { return damage_truncate(f, f.data_start + 10); },
       [](const DumpFileInfo& f) { return f.data_start + 10; }, 0, DecodeError::short_data},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    write(c.format, "vol");
    ASSERT_EQ(c.damage(info_), "");
    const std::string after = now();
    const int64_t at = c.at(info_);
    if (c.len == 0) {
      ASSERT_EQ(static_cast<int64_t>(after.size()), at);
      EXPECT_EQ(after, original_.substr(0, static_cast<size_t>(at)));
    } else {
      ASSERT_EQ(after.size(), original_.size());
      const size_t from = static_cast<size_t>(at);
      EXPECT_NE(after.substr(from, c.len), original_.substr(from, c.len));
      EXPECT_EQ(after.substr(0, from), original_.substr(0, from));
      EXPECT_EQ(after.substr(from + c.len), original_.substr(from + c.len));
    }
    EXPECT_EQ(decode_error_name(decode_dump_file(after, kPassword).error),
              std::string(decode_error_name(c.expect)));
  }
}

TEST_F(ContainerDamage, FieldsGetTheValuesAsked) {
  write(DumpFormat::encrypted, "values");
  ASSERT_EQ(damage_digest_len(info_, 0x1234), "");
  ASSERT_EQ(damage_verifier_len(info_, 33), "");
  ASSERT_EQ(damage_chunk_size(info_, 0, 0x01020304), "");
  const std::string b = now();
  EXPECT_EQ(b.substr(122, 2), std::string("\x34\x12", 2));
  EXPECT_EQ(b[380], 33);
  EXPECT_EQ(b.substr(static_cast<size_t>(info_.table_offset) + 12, 4), "\x04\x03\x02\x01");
}

TEST_F(ContainerDamage, HelpersRefuseWhatTheFileDoesNotHave) {
  write(DumpFormat::compressed, "refuse");
  EXPECT_EQ(damage_digest(info_), info_.path + " is not encrypted");
  EXPECT_EQ(damage_verifier_len(info_, 3), info_.path + " is not encrypted");
  EXPECT_EQ(damage_chunk_size(info_, 999, 1), info_.path + " has no chunk 999");
  EXPECT_EQ(damage_flip_stored_byte(info_, 0, info_.chunks[0].stored_size),
            "chunk 0 has no byte " + std::to_string(info_.chunks[0].stored_size));
  EXPECT_EQ(damage_cut_last_chunk_header(info_, 8232), "keep 1 to 8231 bytes of a chunk header");
  EXPECT_EQ(damage_truncate(info_, info_.size + 1),
            "cannot cut " + info_.path + " to " + std::to_string(info_.size + 1));
  DumpFileInfo plain = info_;
  plain.format = DumpFormat::plain;
  EXPECT_EQ(damage_drop_last_flag(plain), info_.path + " is not a container");
  EXPECT_EQ(now(), original_);
}

}  // namespace
}  // namespace kit
