// The kinds of dump file the rehearsal engine writes (plain, or a compressed and/or
// encrypted container), the options of a container, and the description of
// each file written: where its data and chunks lie, so that tests can aim
// damage and work out where a checkpoint restart must resume.
#ifndef REHEARSAL_DUMP_FORMAT_H
#define REHEARSAL_DUMP_FORMAT_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace kit {

enum class DumpFormat {
  plain,                // the stream blocks back to back
  compressed,           // compression header, chunks zlib-compressed
  encrypted,            // encryption header, chunks encrypted
  compressed_encrypted  // both headers; chunks compressed, then encrypted
};

inline bool is_container(DumpFormat f) { return f != DumpFormat::plain; }
inline bool has_compression(DumpFormat f) {
  return f == DumpFormat::compressed || f == DumpFormat::compressed_encrypted;
}
inline bool has_encryption(DumpFormat f) {
  return f == DumpFormat::encrypted || f == DumpFormat::compressed_encrypted;
}
// "plain", "compressed", "encrypted", "compressed+encrypted".
const char* format_name(DumpFormat f);

// Most blocks in one chunk: 65536 bytes before compression.
constexpr uint32_t kMaxChunkBlocks = 16;

// How a container file is written, as the capture tool would write it.
struct ContainerOptions {
  std::string password;  // encrypted files; at most 64 bytes (mode 1 uses 32, mode 2 48)
  int mode = 1;          // 1, 2, 3: AES-128, -192, -256 with a salt of 8, 12, 16 bytes
  // The salt (its first 4 x (mode + 1) bytes are used); when empty, each
  // file gets its own salt drawn from salt_seed and its place in the layout.
  std::vector<unsigned char> salt;
  uint64_t salt_seed = 1;
  uint32_t max_chunk_blocks = kMaxChunkBlocks;  // 1 to 16; 1 makes many chunks cheaply
  // Close the open chunk just before a header whose synchronisation point
  // differs from the previous header's (the previous header of the whole
  // set, so the rule carries over file boundaries): that header then begins
  // a chunk, where the capture tool records a checkpoint of its own.
  bool close_before_new_sync = true;
  // Stream block indices (in the whole stream) that must begin a chunk.
  std::vector<uint64_t> extra_boundaries;
};

// One stored chunk of a container.
struct ChunkInfo {
  int64_t offset = 0;        // file offset of its stored bytes
  uint32_t stored_size = 0;  // its entry in chunk_sizes
  uint64_t first_block = 0;  // index in the whole stream of its first block
  uint32_t blocks = 0;       // stream blocks it holds
  int header_number = 0;     // the chunk header of the table that lists it
  int index_in_header = 0;   // its entry in that header
};

// What was written into one dump file.
struct DumpFileInfo {
  std::string path;
  DumpFormat format = DumpFormat::plain;
  uint64_t first_block = 0;         // index in the whole stream of its first block
  uint64_t blocks = 0;              // stream blocks it holds
  int64_t data_start = 0;           // offset of the data: 0 (plain), 80, 464 or 544
  int64_t table_offset = 0;         // containers: offset of the first chunk header; plain: 0
  int chunk_headers = 0;            // containers: headers in the chunk table (at least 1)
  int mode = 0;                     // encrypted files: 1 to 3; else 0
  std::vector<unsigned char> salt;  // encrypted files: the salt_len bytes stored
  std::vector<ChunkInfo> chunks;    // containers: in data (and table) order
  int64_t size = 0;                 // length of the file
};

// Where a stream block was stored. For a header in a container, a restart
// that reads its chunk again resumes at that chunk's offset (chunk number
// index_in_header of chunk header header_number); one that goes on with the
// next chunk resumes at offset + stored_size.
struct BlockPlace {
  bool found = false;
  size_t file = 0;        // index in the list of files written
  size_t chunk = 0;       // containers: index in that file's chunks
  uint32_t in_chunk = 0;  // containers: position of the block in its chunk
};
BlockPlace find_block(const std::vector<DumpFileInfo>& files, uint64_t stream_block);

}  // namespace kit

#endif  // REHEARSAL_DUMP_FORMAT_H
