// Two small dump sets that the checkpoint and negotiation targets play
// against: a plain set and a compressed and encrypted one, each of two
// prefixes and several files, made with the rehearsal engine in a directory of the
// scratch directory once per process, and the checkpoint files that a fresh
// archivist transfer of each leaves behind.
#ifndef FUZZ_FIXED_SETS_H
#define FUZZ_FIXED_SETS_H

#include <cstdint>
#include <string>
#include <vector>

#include "brix.h"
#include "rehearsal/block.h"

namespace fuzz {

enum class FixedSet { plain, sealed };

// Set names inside the directory: the first prefix of each set, the name a
// child-mode request asks for.
const char* fixed_set_name(FixedSet which);

// Makes both sets and records their checkpoint files, once per process.
// Making them plays a transfer, which resets the process-wide reading state:
// call this before an input's session exists. Every function below calls it.
void prepare_fixed_sets();

// The directory holding both sets.
const std::string& fixed_sets_dir();
// The prefixes of a set, in order (full paths).
std::vector<std::string> fixed_set_prefixes(FixedSet which);

// Whether the block (4096 bytes) is one of the blocks both sets store.
bool is_fixed_stream_block(const char* block);
// The stream both sets store.
const kit::Stream& fixed_set_stream();

// A checkpoint file of a set: its synchronisation point and its bytes.
struct FixedCheckpoint {
  uint32_t point = 0;
  std::string bytes;
};
// What a fresh archivist transfer of the set writes, by rising point.
const std::vector<FixedCheckpoint>& fixed_set_checkpoints(FixedSet which);

// Removes every checkpoint file in the sets directory and puts back those of
// fixed_set_checkpoints, so that each input meets the same files.
void restore_fixed_set_checkpoints();

// With the prefixes of a set in the session: gives it the password, opens
// the first file and prepares it, as the driver does before it listens.
bool open_fixed_set(rpl_Session* session);

}  // namespace fuzz

#endif  // FUZZ_FIXED_SETS_H
