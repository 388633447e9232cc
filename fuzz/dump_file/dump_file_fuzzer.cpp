// Fuzz target: one dump file of arbitrary bytes, read as the driver reads the
// first file of a set: detection of the container kinds, preparation of a
// container (password check, chunk table), every block through the chunk
// refill with decryption and decompression, and the close with its digest
// check. Two oracles: a file that is no container must come back block for
// block; a container that the kit's independent decoder (OpenSSL and zlib,
// no shared code) reads without fault must come back as that decoder reads
// it, with its digest accepted.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "brix_comp_encr.h"
#include "dump_set.h"
#include "reading_state.h"
#include "fuzz_support.h"
#include "kit/container_decoder.h"

namespace {

// What the writer made of the file.
struct Reading {
  bool opened = false;
  bool prepared = false;
  bool compressed = false;
  bool encrypted = false;
  std::string blocks;   // every block delivered, in order
  int error = 0;        // the error word of the last read
  bool closed = false;  // the close (digest check) succeeded
};

Reading read_as_the_driver_does(const std::string& prefix) {
  Reading r;
  fuzz::FuzzSession f;
  f.add_prefix(prefix);
  f.set_password(fuzz::kFuzzPassword);
  r.opened = open_input_dump(&f.s) == B_TRUE;
  if (r.opened) {
    detect_container_kind(&f.s);
    r.compressed = f.s.compressed == B_TRUE;
    r.encrypted = f.s.encrypted == B_TRUE;
    r.prepared = prepare_input_dump(&f.s) == B_TRUE;
    if (r.prepared) {
      while (read_dump_block(&f.s, &r.error)) r.blocks.append(f.s.in_buf, LR_BLOCK_SIZE);
      r.closed = close_input_file(&f.s) == B_TRUE;
    }
  }
  close_input_dump(&f.s);
  return r;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string prefix = fuzz::scratch_file("dump");
  fuzz::write_whole_file(prefix + ".0", data, size);
  const Reading r = read_as_the_driver_does(prefix);
  fuzz::require(r.opened, "an existing dump file could not be opened");

  if (!r.compressed && !r.encrypted) {
    // A plain file is its stream blocks back to back; a partial tail is no block.
    const size_t whole = size / LR_BLOCK_SIZE * LR_BLOCK_SIZE;
    fuzz::require(r.prepared && r.error == 0 && r.closed, "a plain file was not read to its end");
    fuzz::require(r.blocks.size() == whole && memcmp(r.blocks.data(), data, whole) == 0,
                  "a plain file did not come back block for block");
    return 0;
  }

  const kit::DecodedFile decoded = kit::decode_dump_file(
      std::string(reinterpret_cast<const char*>(data), size), fuzz::kFuzzPassword);
  if (decoded.error == kit::DecodeError::none && (decoded.compressed || decoded.encrypted)) {
    fuzz::require(r.compressed == decoded.compressed && r.encrypted == decoded.encrypted,
                  "the container kind differs from the independent decoder's");
    fuzz::require(r.prepared && r.error == 0 && r.closed,
                  "a container the independent decoder reads whole was refused");
    fuzz::require(r.blocks == decoded.stream,
                  "a container's blocks differ from the independent decoder's");
  }
  return 0;
}
