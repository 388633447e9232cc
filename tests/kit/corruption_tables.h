// The fixture sets and the corruption tables that more than one test runs:
// the writer's tests play each row through brix_writer, the verifier's
// tests run the same rows through brix_verify and check where it locates
// the fault.
#ifndef KIT_CORRUPTION_TABLES_H
#define KIT_CORRUPTION_TABLES_H

#include <cstddef>
#include <cstdint>
#include <fstream>

#include "lr.h"
#include "rehearsal/dump_format.h"

namespace kit {

// The container sets under tests/fixtures/containers, written by an
// independent implementation.
struct FixtureSet {
  const char* prefix;
  int files;
  const char* password;  // null: not encrypted
};
inline const FixtureSet kFixtureSets[] = {
    {"ce_mode1", 1, "thirty-two bytes count in mode 1, this tail is ignored"},
    {"ce_mode2", 1, "Mode2-Fixture-Pass"},
    {"ce_mode3", 1, "mode three keeps all 52 bytes of this long password!"},
    {"e_mode2", 1, "encrypted only, no compression"},
    {"c_only", 1, nullptr},
    {"ce2files_mode1", 2, "two files, one password"},
};

// A stored byte of a chunk flipped: what reading the file reports.
struct FlippedByteCase {
  DumpFormat format;
  const char* err;
};
inline const FlippedByteCase kFlippedByteCases[] = {
    {DumpFormat::compressed_encrypted, "Error while decompressing the data"},
    {DumpFormat::compressed, "Error while decompressing the data"},
    // Without compression nothing checks a chunk as it is read: the damage
    // shows when the file's digest is compared at its end.
    {DumpFormat::encrypted, "The data digest code does not match the expected value\n"},
};

// Damage in the file that holds the end header, found before that header
// goes out: a compressed file's data_size one more than its chunks hold, an
// encrypted file's last stored byte changed.
struct EndFileDamageCase {
  DumpFormat format;
  size_t at;  // the byte damaged in the last file: data_size of a header, or a stored byte
  const char* message;
};
// Rows for a last file of 80 blocks.
inline const EndFileDamageCase kEndFileDamageCases[] = {
    {DumpFormat::compressed, 40,
     "Damaged dump file: its chunks decode to 327680 bytes, its header says 327681\n"},
    {DumpFormat::encrypted, 0, "The data digest code does not match the expected value\n"},
};
inline void damage_end_file(const EndFileDamageCase& c, const DumpFileInfo& last) {
  std::fstream f(last.path, std::ios::in | std::ios::out | std::ios::binary);
  if (c.format == DumpFormat::compressed) {
    const uint64_t size = last.blocks * LR_BLOCK_SIZE + 1;  // one byte more than its chunks hold
    f.seekp(static_cast<std::streamoff>(c.at));
    f.write(reinterpret_cast<const char*>(&size), sizeof(size));
  } else {  // the last byte of the last chunk, which holds the end header
    const ChunkInfo& chunk = last.chunks.back();
    f.seekp(static_cast<std::streamoff>(chunk.offset + chunk.stored_size - 1));
    f.put('\x5A');
  }
}

}  // namespace kit

#endif  // KIT_CORRUPTION_TABLES_H
