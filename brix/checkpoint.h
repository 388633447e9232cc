// Writer checkpoint files: at every new synchronisation point of an
// archivist baseline transfer, where in the dump set the point's header lies
// is written to a small file named after the first prefix and the point;
// a restart request loads it back; a completed transfer removes them. The
// position comes from the block source; this module never moves it.
#ifndef BRIX_CHECKPOINT_H
#define BRIX_CHECKPOINT_H

#include "block_source.h"
#include "brix.h"
#include "checkpoint_record.h"
#include "fault_report.h"

struct checkpoint_state {
  check_point cp{};   // the record last written; made afresh for each file
  check_point cp1{};  // the record last loaded; all zero on a transfer from the start
  int files_kept = 0;             // checkpoint files believed to exist (0 to 10)
  bool files_kept_known = false;  // files_kept was taken from cp1 at the first creation
  bool record_loaded = false;     // cp1 holds a record loaded in this run
  // What binds a record to this set: a digest of its start-of-stream header
  // (set_binding_from, before any record is made or loaded).
  unsigned char binding[CHECKPOINT_BINDING_SIZE] = {};
};

// Takes the binding of this run's records from the set's start header (its
// block count, bytes 2384-2391, left out: the reply changes it).
void set_binding_from(checkpoint_state& state, const char* start_header);

// Writes the record's checksum into it (its rng bytes), over everything
// else the record holds.
void seal_checkpoint_record(check_point* record);

// "<first prefix>-checkpoint-writer.<point>"; false (with a message) when the
// name does not fit its BRIX_NAME_BUF_SIZE buffer.
bool format_checkpoint_name(char* name, const rpl_Session* session, int32 point);

// Records the header block just sent, which lies at `at`, as the checkpoint
// of sync_num and writes its file, keeping at most ten.
bool_t create_checkpoint(rpl_Session* session, checkpoint_state& state, const block_position& at,
                         uint32 sync_num, fault_report& report);

// Loads the file of restart_checkpoint into cp1 and sets blk_num from it. A
// missing file of a point up to 99 restores nothing. A record that is not
// whole, not sealed by its checksum, or bound to another set is refused as
// corrupted.
bool_t load_checkpoint(rpl_Session* session, checkpoint_state& state, fault_report& report);

// Removes the files of the last ten points after a completed transfer.
bool_t delete_checkpoints(rpl_Session* session);

#endif  // BRIX_CHECKPOINT_H
