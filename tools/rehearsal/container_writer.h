// Writing one container dump file the way the capture tool does: headers,
// chunks of up to 16 blocks (zlib's one-shot compress, then the file's
// running encryption), the chunk table at the end. The file is written a
// chunk at a time and its headers are patched in when it is finished, so a
// container of any size needs one chunk of memory.
#ifndef REHEARSAL_CONTAINER_WRITER_H
#define REHEARSAL_CONTAINER_WRITER_H

#include <cstdio>
#include <set>
#include <string>
#include <vector>

#include "fileenc.h"
#include "rehearsal/block.h"
#include "rehearsal/dump_format.h"

namespace kit {

// The salt of the file at `file_ordinal` in its layout: options.salt when
// given, else SALT_LENGTH(mode) bytes drawn from options.salt_seed and the
// ordinal (every file of a set gets its own).
std::vector<unsigned char> container_salt(const ContainerOptions& options, size_t file_ordinal);

class ContainerFileWriter {
 public:
  ContainerFileWriter() = default;
  ~ContainerFileWriter();  // an unfinished file is closed as it stands
  ContainerFileWriter(const ContainerFileWriter&) = delete;
  ContainerFileWriter& operator=(const ContainerFileWriter&) = delete;

  // Creates `path` and leaves room for its headers. `format` must be a
  // container kind; `salt` holds at least SALT_LENGTH(mode) bytes when the
  // file is encrypted. `first_block` is the stream index of the file's first
  // block, for the description and options.extra_boundaries.
  bool open(const std::string& path, DumpFormat format, const ContainerOptions& options,
            const std::vector<unsigned char>& salt, uint64_t first_block);
  // Appends the next stream block. `opens_new_sync`: the block is a header
  // whose synchronisation point differs from the previous header's.
  bool add(const Block& b, bool opens_new_sync);
  // Stores the open chunk, writes the chunk table and the headers (with the
  // digest), closes the file.
  bool finish();

  bool is_open() const { return file_ != nullptr; }
  const DumpFileInfo& info() const { return info_; }
  const std::string& error() const { return error_; }

 private:
  bool fail(const std::string& what);
  bool store_chunk();
  bool write_table();
  bool write_headers();
  void close_file();

  FILE* file_ = nullptr;
  DumpFileInfo info_;
  std::string error_;
  uint32_t max_blocks_ = kMaxChunkBlocks;
  bool close_before_new_sync_ = true;
  std::set<uint64_t> boundaries_;
  std::vector<unsigned char> chunk_;   // blocks of the open chunk, before compression
  std::vector<unsigned char> stored_;  // the chunk compressed
  uint32_t chunk_blocks_ = 0;          // blocks in chunk_
  int64_t area_bytes_ = 0;             // data area written so far
  fcrypt_ctx crypt_{};                 // running encryption of the file
  unsigned char verifier_[PWD_VER_LENGTH] = {};
};

}  // namespace kit

#endif  // REHEARSAL_CONTAINER_WRITER_H
