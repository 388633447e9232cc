// Names of the dump file kinds and look-ups in the description of a set.
#include "rehearsal/dump_format.h"

namespace kit {

const char* format_name(DumpFormat f) {
  switch (f) {
    case DumpFormat::plain:
      return "plain";
    case DumpFormat::compressed:
      return "compressed";
    case DumpFormat::encrypted:
      return "encrypted";
    case DumpFormat::compressed_encrypted:
      return "compressed+encrypted";
  }
  return "?";
}

BlockPlace find_block(const std::vector<DumpFileInfo>& files, uint64_t stream_block) {
  BlockPlace place;
  for (size_t f = 0; f < files.size(); ++f) {
    const DumpFileInfo& file = files[f];
    if (stream_block < file.first_block || stream_block - file.first_block >= file.blocks) {
      continue;
    }
    place.found = true;
    place.file = f;
    for (size_t c = 0; c < file.chunks.size(); ++c) {
      const ChunkInfo& chunk = file.chunks[c];
      if (stream_block - chunk.first_block < chunk.blocks && stream_block >= chunk.first_block) {
        place.chunk = c;
        place.in_chunk = static_cast<uint32_t>(stream_block - chunk.first_block);
        break;
      }
    }
    break;
  }
  return place;
}

}  // namespace kit
