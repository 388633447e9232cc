// Fuzz target: one dump file of arbitrary bytes, read as the driver reads the
// first file of a set: detection of the container kinds, preparation of a
// container (password check, chunk table), every block through the chunk
// refill with decryption and decompression, and the close with its digest
// check. A file that is no container must come back block for block.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "brix_comp_encr.h"
#include "dump_reader.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::FuzzSession f;
  const std::string prefix = fuzz::scratch_file("dump");
  fuzz::write_whole_file(prefix + ".0", data, size);
  f.add_prefix(prefix);
  f.set_password(fuzz::kFuzzPassword);

  if (open_input_dump(&f.s)) {
    detect_container_kind(&f.s);
    if (prepare_if_container(&f.s)) {
      const bool plain = !f.s.compressed && !f.s.encrypted;
      size_t blocks = 0;
      int error = 0;
      while (read_dump_block(&f.s, &error)) {
        if (plain) {
          // A plain file is its stream blocks back to back.
          fuzz::require((blocks + 1) * LR_BLOCK_SIZE <= size, "a plain file gave more blocks than it holds");
          fuzz::require(memcmp(f.s.in_buf, data + blocks * LR_BLOCK_SIZE, LR_BLOCK_SIZE) == 0,
                        "a plain file gave a block it does not hold there");
        }
        blocks++;
      }
      if (plain) {
        fuzz::require(error == 0 && blocks == size / LR_BLOCK_SIZE,
                      "a plain file did not give all its whole blocks");
      }
      close_input_file(&f.s);
    }
  }
  close_input_dump(&f.s);
  return 0;
}
