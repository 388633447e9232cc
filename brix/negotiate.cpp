// The negotiation exchange with the destination.
#include "negotiate.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "brix_app_support.h"
#include "client_io.h"
#include "command_line.h"
#include "dump_set.h"
#include "interface_only.h"
#include "marshal.h"
#include "reading_state.h"

namespace {

const char* const kNegResultTexts[] = {
    "operation was successful",
    "the source could not execute the update",
    "the source could not execute the update",
    "source volume is offline, is restricted, or does not exist",
    "source is not a valid volume name or qtree path ",
    "update aborted because of network error",
    "incompatible replicator versions on systems",
    "request denied by source filer; check access permissions on source",
    "restart checkpoint not found on the source",
    "source qtree does not exist",
    "the qtree is not the source for the replicator destination",
    "a replicatored qtree cannot be a replicator source",
    "transfer attempted from busy source",
    "source contains no new data; suspending transfer to destination",
    "base snapshot for transfer no longer exists on the source",
    "destination requested snapshot that does not exist on the source",
    "source qtree does not exist in incremental snapshot",
    "too many active transfers at once on the source",
    "service not enabled on the source",
    "destination requested snapshot that is not the restartable snapshot",
};
const int kNegResultCount = sizeof(kNegResultTexts) / sizeof(kNegResultTexts[0]);

// The version word: lowest accepted version in bits 31-16, highest in 15-0.
uint32 version_low(uint32 word) { return word >> 16; }
uint32 version_high(uint32 word) { return word & 0xFFFF; }

// The refusal: the reply record alone, all zero but its error code.
void send_refusal(rpl_Session* session) {
  lr_neg_data_reply refusal;
  memset(&refusal, 0, sizeof(refusal));
  refusal.ndr_errcode = static_cast<int32>(marshal_uint4(RPL_NEG_FAIL_VERSION));
  write_exactly_once(session->client_fd, &refusal, sizeof(refusal), "Bad reply write",
                     "Short reply write\n");
}

// The first block of the dump set, which becomes the reply. It must be a
// header: nothing may be sent in its place.
bool read_start_header(rpl_Session* session) {
  int error = 0;
  if (!read_dump_block2(session, &error)) {
    if (error == READ_END) fprintf(stderr, "The dump set holds no block: no start header to reply with\n");
    return false;
  }
  if (!lr_is_header(session->in_buf)) {
    fprintf(stderr,
            "The first block of the dump set is not a stream header. (Input data corrupt?)\n");
    return false;
  }
  return true;
}

// Child mode: the dump set is the one the destination asks for. Its password
// can only come from the command line.
bool open_requested_dump_set(rpl_Session* session) {
  if (!brix_app_dump_files_path(session)) {
    fprintf(stderr, "error in getting app brix dump file paths \n");
    return false;
  }
  if (!open_input_dump(session) || !detect_container_kind(session)) return false;
  return prepare_input_dump(session);
}

}  // namespace

const char* rpl_neg_strerror(int code) {
  if (code < 0 || code >= kNegResultCount) code = RPL_NEG_FAIL_GENERIC;
  return kNegResultTexts[code];
}

void xdr_neg_request(lr_neg_data_request* in, lr_neg_data_request* out) {
  if (out != in) memcpy(out, in, sizeof(*out));
  marshal_words(&out->base_snap_id, (offsetof(lr_neg_data_request, named_snapshot) -
                                  offsetof(lr_neg_data_request, base_snap_id)) /
                                     4);
  marshal_words(
      &out->dst_root_inum,
      (offsetof(lr_neg_data_request, spares) - offsetof(lr_neg_data_request, dst_root_inum)) / 4);
}

void xdr_neg_reply(lr_neg_data_reply* in, lr_neg_data_reply* out) {
  if (out != in) memcpy(out, in, sizeof(*out));
  marshal_words(reinterpret_cast<uint32*>(&out->ndr_errcode),
             offsetof(lr_neg_data_reply, ndr_src_machine) / 4);
  out->ndr_align_flags = marshal_uint2(out->ndr_align_flags);
  out->ndr_blks_done = marshal_uint8(out->ndr_blks_done);
  marshal_words(&out->ndr_lr_maj_version, 3);
}

bool_t negotiate_dst_version(rpl_Session* session) {
  uint32 word;
  if (!read_word_whole(session->client_fd, &word, sizeof(word), "Bad version read",
                       "Short version read\n")) {
    return B_FALSE;
  }
  word = marshal_uint4(word);
  if (word == 0) {
    fprintf(stderr, "Negotiation Canceled by destination\n");
    return B_FALSE;
  }
  uint32 lowest = version_low(word), highest = version_high(word);
  if (lowest > highest) {
    fprintf(stderr, "Invalid version range from destination: lowest %u above highest %u\n", lowest,
            highest);
    return B_FALSE;
  }
  uint32 answer = (session->current_version >= lowest && session->current_version <= highest)
                      ? session->current_version
                      : 0;
  answer = marshal_uint4(answer);
  // An answer of 0 still goes on: a destination that gives up drops the
  // connection, and the command read then fails.
  return write_exactly_once(session->client_fd, &answer, sizeof(answer), "Bad version write",
                            "Short version write\n");
}

bool_t get_command(rpl_Session* session) {
  uint32 word;
  if (!read_word_whole(session->client_fd, &word, sizeof(word), "Bad command read",
                       "Short command read\n")) {
    return B_FALSE;
  }
  int32 command = static_cast<int32>(marshal_uint4(word));
  if (command != session->cmd) {
    fprintf(stderr, "Unknown/Unsupported command received %d\n", command);
    return B_FALSE;
  }
  return write_exactly_once(session->client_fd, &word, sizeof(word), "Bad command write",
                            "Short command write\n");
}

bool_t rpl_verify_req(rpl_Session* session) {
  lr_neg_data_request* request = reinterpret_cast<lr_neg_data_request*>(session->in_buf);
  const char* end =
      static_cast<const char*>(memchr(request->src_path, '\0', sizeof(request->src_path)));
  if (end == nullptr) {
    fprintf(stderr, "The source path of the request is not terminated\n");
    return B_FALSE;
  }
  size_t length = static_cast<size_t>(end - request->src_path);
  char* qtree = static_cast<char*>(malloc(length + 1));
  if (qtree == nullptr) {
    fprintf(stderr, "error in allocating memory\n");
    return B_FALSE;
  }
  xdr_neg_request(request, request);
  memcpy(qtree, request->src_path, length);
  qtree[length] = '\0';
  free(session->qtree);
  session->qtree = qtree;

  session->restart_checkpoint = request->restart_sync_point;
  if (session->restart_checkpoint != 0) request_restart();

  // Archivist baseline restarts are served from the writer checkpoint.
  if (session->cmd == RPLCMD_ACQTREE && session->hbak) return B_TRUE;
  if (request->restart_snap_id == 0) return B_TRUE;
  fprintf(stderr, "Cannot handle checkpoint restarts yet.\n");
  return B_FALSE;
}

bool_t negotiate_dst(rpl_Session* session) {
  if (!negotiate_dst_version(session) || !get_command(session) || !read_client_block(session)) {
    return B_FALSE;
  }
  if (!rpl_verify_req(session)) {
    send_refusal(session);
    return B_FALSE;
  }
  if (apprestore && !open_requested_dump_set(session)) return B_FALSE;
  if (!read_start_header(session) || !serve_restart_request(session)) return B_FALSE;
  uint64_t blks_done = marshal_uint8(static_cast<uint64_t>(session->blk_num));
  memcpy(session->in_buf + LR_NEG_BLKS_DONE_OFFSET, &blks_done, sizeof(blks_done));
  return write_exactly_once(session->client_fd, session->in_buf, LR_BLOCK_SIZE, "Bad reply write",
                            "Short reply write\n");
}
