// A restart, told from the destination's request to the first block sent.
//
// 1. Request. The destination's negotiation request names a synchronisation
//    point; any point but 0 asks for a restart (rpl_verify_req sets
//    `chkpoint`). The negotiation then reads the set's first block, the
//    start-of-stream header that becomes its reply.
// 2. Record. In an archivist baseline transfer with hbak support the
//    checkpoint file of the point is loaded (load_checkpoint) and trusted
//    only whole, sealed by its checksum and bound to this set by the digest
//    of its start header (an encrypted set's keys are compared with what the
//    password derives in step 3): it gives the
//    count n of blocks the destination already holds, which the reply
//    reports, and where the point's header lies: the dump file, and in a
//    plain file the header's offset; in a container the chunk that holds the
//    header (its chunk header and entry, its offset, the decryption context
//    before it) and the header's index among the chunk's blocks. A point up
//    to 99 may have no file: the transfer then starts again from the first
//    block of a plain set (a container set cannot start over without its
//    context and is refused).
// 3. Reposition. The file being read is left (a container's digest is not
//    compared: it was read part-way), the recorded file is opened, detected
//    and prepared (the password is checked against its own header and its
//    chunk table loaded), and the recorded place is read: the 16 blocks at
//    the header's offset, or the recorded chunk, decrypted under the
//    recorded context and decompressed.
// 4. First block. The block at the recorded place must be the point's
//    header; otherwise the record does not describe this set and the restart
//    is refused before any reply. The stream then continues with block n+1:
//      - plain sets with the point's header itself: the header is sent once
//        more (at point 101 the count n already includes it);
//      - containers with the header too, except at point 101, where n counts
//        the header and the continuation is the block behind it, wherever the
//        header lies in its chunk. The sender still learns from that header
//        how many data blocks follow (take_counted_header).
//    A restart thus never skips a block; the re-sent header of a plain set
//    and the plain restart from the first block are its only repeats, and
//    the re-sent header at point 101, which the reply counted, is not
//    counted again.
#include "restart.h"

#include <cstdio>
#include <cstring>

#include "dump_set.h"
#include "marshal.h"
#include "source_io.h"

namespace {

// Whether `block` is the header of synchronisation point `point`.
bool is_header_of(const char* block, uint32 point) {
  alignas(8) lr_hdr copy;
  alignas(8) lr_hdr swapped;
  memcpy(&copy, block, sizeof(copy));
  const lr_hdr* hdr = marshal_hdr(&copy, &swapped);
  return hdr != nullptr && static_cast<uint32>(hdr->u_lr_hdr_info.hdr.h_sync_num) == point;
}

// Opens, detects and prepares file `file` of batch `batch` as the file being
// read, leaving the one read so far.
bool open_recorded_file(rpl_Session* session, uint32 batch, uint32 file, dump_container& container,
                        block_source& source, fault_report& report) {
  if (!end_dump_file(session, container, B_TRUE, report)) return false;
  close_input_dump(session);
  session->input_batch_index = batch;
  session->input_file_index = file;
  return open_input_dump(session) && detect_dump_file(session, container, report) &&
         prepare_dump_file(session, container, source, report);
}

void refuse(const rpl_Session* session, const char* why, fault_report& report) {
  char name[BRIX_NAME_BUF_SIZE];
  format_dump_file_name(name, session->input_file[session->input_batch_index],
                        session->input_file_index);
  report.sayf("Cannot restart from point %u: its checkpoint file %s in %s\n",
              session->restart_checkpoint, why, name);
}

// Step 3 and 4 for the record in `record`: reads the recorded place and
// leaves the block source at the continuation.
bool resume_at_record(rpl_Session* session, restart_state& restart, const check_point& record,
                      dump_container& container, block_source& source, fault_report& report) {
  const uint32 point = session->restart_checkpoint;
  if (!open_recorded_file(session, static_cast<uint32>(record.batch_index),
                          static_cast<uint32>(record.file_num), container, source, report)) {
    return false;
  }
  const int64 offset = checkpoint_offset(record);
  int error = 0;
  if (!session->compressed && !session->encrypted) {
    if (!seek_source(session->src_fd, static_cast<off_t>(offset), report)) return false;
    source.attach(session->src_fd, nullptr, session->input_batch_index, session->input_file_index,
                  offset);
    if (!source.refill_now(&error, report) || !is_header_of(source.staged_block(0), point)) {
      refuse(session, "does not lead to the header of that point", report);
      return false;
    }
    source.deliver_from(0);
    restart.repeated_blocks = point == LRD_RESTART_FILE_PHASE_BASE ? 1 : 0;
    return true;
  }

  if (!container.lists_chunk(record.chunk_header_count, record.chunk_index, offset) ||
      (session->encrypted && !container.matches_key_material(record.zcx))) {
    report.say("checkpoint file is corrupted\n");
    return false;
  }
  if (!container.seek_chunk(session->src_fd, record.chunk_header_count, record.chunk_index, offset,
                            record.zcx, report)) {
    return false;
  }
  if (!source.refill_now(&error, report)) {
    refuse(session, "names a chunk that cannot be read", report);
    return false;
  }
  const bool behind_header = point == LRD_RESTART_FILE_PHASE_BASE;
  const int next = record.data_stage;
  const int header = behind_header ? next - 1 : next;
  if (header < 0 || header >= source.staged_blocks() ||
      !is_header_of(source.staged_block(header), point)) {
    refuse(session, "does not lead to the header of that point", report);
    return false;
  }
  if (behind_header) {
    memcpy(restart.counted_header, source.staged_block(header), LR_BLOCK_SIZE);
    restart.header_counted = true;
  }
  source.deliver_from(next);
  return true;
}

}  // namespace

bool_t prepare_restart(rpl_Session* session, restart_state& restart, checkpoint_state& checkpoints,
                       dump_container& container, block_source& source, fault_report& report) {
  set_binding_from(checkpoints, session->in_buf);
  if (session->cmd == RPLCMD_ACQTREE && session->hbak &&
      !load_checkpoint(session, checkpoints, report)) {
    return B_FALSE;
  }
  if (!restart.chkpoint) return B_TRUE;
  restart.chkpoint = B_FALSE;

  if (checkpoints.record_loaded) {
    return resume_at_record(session, restart, checkpoints.cp1, container, source, report) ? B_TRUE
                                                                                          : B_FALSE;
  }
  if (session->compressed || session->encrypted) {
    report.sayf(
        "Cannot restart a compressed or encrypted dump set from point %u without its "
        "checkpoint file\n",
        session->restart_checkpoint);
    return B_FALSE;
  }
  // Without a record a plain set starts again from its first block, which
  // the reply (a count of 0) did not count.
  if (!open_recorded_file(session, 0, 0, container, source, report)) return B_FALSE;
  restart.repeated_blocks = 1;
  return B_TRUE;
}

int64 take_repeated_blocks(restart_state& restart) {
  const int64 repeated = restart.repeated_blocks;
  restart.repeated_blocks = 0;
  return repeated;
}

bool take_counted_header(restart_state& restart, char* in_buf) {
  if (!restart.header_counted) return false;
  memcpy(in_buf, restart.counted_header, LR_BLOCK_SIZE);
  restart.header_counted = false;
  return true;
}
