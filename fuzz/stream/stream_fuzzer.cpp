// Fuzz target: the send path over an arbitrary block sequence. The first input
// byte chooses the mode (plain or inflating) and the transfer
// (target_options.h); the rest is a one-file plain dump set. As after a
// negotiation, its first block goes out as the reply when it is a header, then
// send_rpl_stream plays the rest into an in-memory sink, checking headers (and
// writing checkpoints) on the way. What was sent must be the stored blocks in
// order, plus only the zero-filled blocks the inflating mode generates; every
// checkpoint file written must name the header it was taken at.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "checkpoint_record.h"
#include "dump_set.h"
#include "fuzz_support.h"
#include "marshal.h"
#include "reading_state.h"
#include "rehearsal/block.h"
#include "rehearsal/dump_writer.h"
#include "send_stream.h"
#include "target_options.h"

namespace {

bool is_zero_block(const char* block) {
  for (size_t i = 0; i < LR_BLOCK_SIZE; i++) {
    if (block[i] != 0) return false;
  }
  return true;
}

// The sent blocks must be the stored ones in order, with generated (zero)
// blocks between them only in the inflating mode; all stored blocks when the
// send succeeded. In plain mode every block that was read went out.
void check_sent(const std::string& sent, const uint8_t* stored, size_t stored_blocks, bool inflate,
                bool succeeded) {
  fuzz::require(sent.size() % LR_BLOCK_SIZE == 0, "a partial block was sent");
  size_t next_stored = 0;
  for (size_t at = 0; at < sent.size(); at += LR_BLOCK_SIZE) {
    const char* block = sent.data() + at;
    if (next_stored < stored_blocks &&
        memcmp(block, stored + next_stored * LR_BLOCK_SIZE, LR_BLOCK_SIZE) == 0) {
      next_stored++;
      continue;
    }
    fuzz::require(inflate && is_zero_block(block), "a block that is not in the dump set was sent");
  }
  if (succeeded) fuzz::require(next_stored == stored_blocks, "a stored block was not sent");
}

// A plain set's checkpoint record holds the offset of the header it was
// taken at, and that header carries the point the file is named after.
void check_checkpoints(const uint8_t* stored, size_t stored_blocks) {
  for (const fuzz::CheckpointFile& file : fuzz::checkpoint_files_in(fuzz::scratch_dir())) {
    std::string bytes, error;
    fuzz::require(kit::read_file(file.path, bytes, error) && bytes.size() == sizeof(check_point),
                  "a checkpoint file does not hold one record");
    check_point record;
    memcpy(&record, bytes.data(), sizeof(record));
    fuzz::require(record.h_magic == CHECKPOINT_MAGIC && record.restart_sync_point == file.point,
                  "a checkpoint record does not carry its magic and its point");
    const size_t at = static_cast<size_t>(record.offset);
    fuzz::require(
        record.offset >= 0 && at % LR_BLOCK_SIZE == 0 && at / LR_BLOCK_SIZE < stored_blocks,
        "a checkpoint record does not name a stored block");
    kit::Block header;  // aligned, unlike the input bytes behind the options byte
    memcpy(header.bytes, stored + at, LR_BLOCK_SIZE);
    fuzz::require(kit::is_header(header) && kit::sync_num(header) == file.point,
                  "a checkpoint record does not name the header of its point");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const fuzz::StreamOptions options = fuzz::decode_stream_options(data[0]);
  const uint8_t* stored = data + 1;
  const size_t stored_size = size - 1;

  fuzz::clear_scratch_dir();  // checkpoint files of earlier inputs
  fuzz::FuzzSession f;
  const std::string prefix = fuzz::scratch_file("stream");
  fuzz::write_whole_file(prefix + ".0", stored, stored_size);
  f.add_prefix(prefix);
  fuzz::apply_options(options, &f.s);
  fuzz::MemorySink sink;
  f.s.client_fd = sink.fd();

  if (open_input_dump(&f.s)) {
    // The negotiation's reply: the first block, which must be a header.
    int error = 0;
    if (read_dump_block2(&f.s, &error) && lr_is_header(f.s.in_buf) &&
        write(sink.fd(), f.s.in_buf, LR_BLOCK_SIZE) == LR_BLOCK_SIZE) {
      bool_t sent_all = send_rpl_stream(&f.s);
      check_sent(sink.contents(), stored, stored_size / LR_BLOCK_SIZE, options.inflate,
                 sent_all == B_TRUE);
      check_checkpoints(stored, stored_size / LR_BLOCK_SIZE);
    }
  }
  close_input_dump(&f.s);
  return 0;
}
