// A complete destination for tests and rehearsals: it connects to the
// writer, negotiates (version word, command word, 4096-byte request), takes
// the reply block or the 1380-byte refusal, receives the stream following
// its headers, acknowledges at the end-of-stream header, and records every
// step's outcome. Stop points let tests hang up early on purpose.
#ifndef REHEARSAL_DESTINATION_H
#define REHEARSAL_DESTINATION_H

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>

#include "brix.h"
#include "rehearsal/block.h"
#include "rehearsal/dest_connection.h"
#include "rehearsal/stream_check.h"

namespace kit {

// The steps of a transfer, as seen by the destination.
enum class Step { connect, version, command, request, reply, stream, ack, finished };
const char* step_name(Step step);

constexpr uint32_t kDefaultVersionWord = 0x00040004;  // versions 4 to 4
constexpr uint32_t kAckValue = 1;

struct DestinationOptions {
  std::string host = "127.0.0.1";  // or "::1"
  uint16_t port = kWriterPort;
  int connect_deadline_ms = 10000;  // keep trying while the writer is not listening yet
  // A socket already connected to the writer, used instead of connecting;
  // the transfer takes it over and closes it.
  int connected_fd = -1;
  int io_timeout_ms = kDefaultIoTimeoutMs;
  uint32_t version_word = kDefaultVersionWord;  // lowest version in bits 31-16, highest in 15-0
  uint32_t command_word = RPLCMD_ACQTREE;
  // Request fields; the rest of the request is filled plausibly.
  std::string src_path = "/vol/vol1/projects";
  uint32_t restart_sync_point = 0;
  uint32_t restart_snap_id = 0;
  std::optional<Block> raw_request;  // sent instead of the request built from the fields
  // Hang up once this step is done: Step::version, Step::command or
  // Step::request. Any other value: no early stop.
  Step stop_after = Step::finished;
  std::optional<uint64_t> hangup_after_blocks;  // hang up after this many stream blocks
  bool send_ack = true;  // false: hang up at the end-of-stream header instead
  uint32_t ack_value = kAckValue;
  bool keep_blocks = true;  // false: blocks are checked and counted, not kept
  StructureOptions structure;
  std::function<void(const Block&)> on_block;  // each block as it arrives, the reply block first
};

enum class ReplyKind { none, block, refusal };

struct DestinationResult {
  Step reached = Step::connect;  // the last step completed
  bool connected = false;
  bool version_answered = false;
  uint32_t version_answer = 0;
  bool command_echoed = false;
  uint32_t command_echo = 0;
  bool request_sent = false;
  ReplyKind reply_kind = ReplyKind::none;
  Block reply{};                                // the reply block (ReplyKind::block)
  std::string refusal;                          // the 1380-byte record (ReplyKind::refusal)
  Stream blocks;                                // the stream blocks after the reply, when kept
  uint64_t stream_blocks = 0;                   // blocks after the reply
  std::map<int32_t, uint64_t> headers_by_type;  // the reply's start header included
  bool end_seen = false;  // an end-of-stream header came where a header was due
  bool ack_sent = false;
  bool ack_echoed = false;
  uint32_t ack_echo = 0;
  bool hung_up = false;            // this side closed on purpose
  bool writer_closed = false;      // the writer closed the connection ...
  Step closed_at = Step::connect;  // ... during this step
  uint64_t bytes_received = 0;
  double elapsed_seconds = 0;   // from connection to the end
  std::string structure_error;  // first structural fault of reply and stream
  std::string error;            // anything unexpected in the exchange
  // The whole stream arrived, its structure checked out and the
  // acknowledgement came back unchanged.
  bool complete = false;
};

DestinationResult run_destination(const DestinationOptions& options);

// The request that run_destination sends (unless raw_request is given).
Block make_request(const DestinationOptions& options);
// ndr_errcode of a refusal record (0 when there is none).
int32_t refusal_errcode(const DestinationResult& result);

}  // namespace kit

#endif  // REHEARSAL_DESTINATION_H
