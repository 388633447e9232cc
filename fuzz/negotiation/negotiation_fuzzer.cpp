// Fuzz target: the destination's side of the conversation as arbitrary bytes
// from the peer. The first input byte says how the writer was started (see
// target_options.h); the rest is everything the destination sends, queued on a
// socket pair before the writer starts. The writer negotiates (version,
// command, request, perhaps a restart from the fixed set's checkpoint files)
// and, when that succeeds, sends the stream of a fixed set and waits for the
// acknowledgement, as the driver does. Whatever the peer said, the reply must
// be the set's start header with the block count filled in, and every block
// after it one that the set stores (or, in the inflating mode, a generated zero
// block); a plain set restarted from one of its checkpoint files goes on with
// the header of the requested point.
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <thread>

#include "checkpoint_record.h"
#include "command_line.h"
#include "dump_set.h"
#include "fixed_sets.h"
#include "fuzz_support.h"
#include "marshal.h"
#include "negotiate.h"
#include "reading_state.h"
#include "rehearsal/block.h"
#include "rehearsal/dump_writer.h"
#include "send_stream.h"
#include "target_options.h"

namespace {

// More than the whole conversation of the destination: version, command,
// request and acknowledgement.
const size_t kMaxPeerBytes = 2 * LR_BLOCK_SIZE;
const size_t kWordSize = 4;

// The destination's end of the connection: what it says is queued at the
// start; what the writer sends is collected by a thread until the writer's
// end is shut, so that the writer never waits on a full socket.
class Peer {
 public:
  Peer(const uint8_t* said, size_t size) {
    int fds[2];
    fuzz::require(socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) == 0, "no socket pair");
    writer_ = fds[0];
    destination_ = fds[1];
    fuzz::require(write(destination_, said, size) == static_cast<ssize_t>(size),
                  "the peer's bytes do not fit the socket");
    shutdown(destination_, SHUT_WR);
    collector_ = std::thread([this] {
      char chunk[LR_BLOCK_SIZE];
      ssize_t n;
      while ((n = read(destination_, chunk, sizeof(chunk))) > 0)
        heard_.append(chunk, static_cast<size_t>(n));
    });
  }
  ~Peer() {
    if (collector_.joinable()) finish();
    close(writer_);
    close(destination_);
  }
  int writer_end() const { return writer_; }
  // Everything the writer sent; call once the writer is done.
  const std::string& finish() {
    shutdown(writer_, SHUT_WR);
    collector_.join();
    return heard_;
  }

 private:
  int writer_ = -1;
  int destination_ = -1;
  std::thread collector_;
  std::string heard_;
};

bool is_zero_block(const char* block) {
  return std::all_of(block, block + LR_BLOCK_SIZE, [](char c) { return c == 0; });
}

// What the writer knew when the negotiation had succeeded.
struct Negotiated {
  uint64_t blks_done = 0;
  bool inflate = false;
  bool container = false;  // the set is compressed or encrypted
  bool record = false;     // a checkpoint file of the requested point was there
  uint32 point = 0;        // the requested point
};

// After the version answer and the command echo: the reply, then the
// stream, then perhaps the 4-byte acknowledgement echo.
void check_heard(const std::string& heard, const Negotiated& n, bool acknowledged) {
  const size_t reply_at = 2 * kWordSize;
  fuzz::require(heard.size() >= reply_at + LR_BLOCK_SIZE,
                "no reply after a successful negotiation");
  std::string expected(reinterpret_cast<const char*>(fuzz::fixed_set_stream()[0].bytes),
                       LR_BLOCK_SIZE);
  const uint64_t blks_done = marshal_uint8(n.blks_done);
  memcpy(&expected[LR_NEG_BLKS_DONE_OFFSET], &blks_done, sizeof(blks_done));
  fuzz::require(heard.compare(reply_at, LR_BLOCK_SIZE, expected) == 0,
                "the reply is not the start header with the block count");

  const size_t stream_end = heard.size() - (acknowledged ? kWordSize : 0);
  fuzz::require((stream_end - reply_at) % LR_BLOCK_SIZE == 0, "a partial block was sent");
  for (size_t at = reply_at + LR_BLOCK_SIZE; at < stream_end; at += LR_BLOCK_SIZE) {
    const char* block = heard.data() + at;
    fuzz::require(fuzz::is_fixed_stream_block(block) || (n.inflate && is_zero_block(block)),
                  "a block the set does not store was sent");
  }
  // A restart never skips a block: a container goes on with block n+1, a
  // plain set with the header of its point, or without a record from the
  // first block again.
  const size_t first_at = reply_at + LR_BLOCK_SIZE;
  if (n.point == 0 || first_at >= stream_end || n.inflate) return;
  kit::Block first;
  memcpy(first.bytes, heard.data() + first_at, LR_BLOCK_SIZE);
  const kit::Stream& stored = fuzz::fixed_set_stream();
  if (n.container && n.record) {
    fuzz::require(n.blks_done + 1 < stored.size() &&
                      memcmp(first.bytes, stored[n.blks_done + 1].bytes, LR_BLOCK_SIZE) == 0,
                  "a container restart did not go on with block n+1");
  } else if (!n.container && n.record) {
    fuzz::require(kit::is_header(first) && kit::sync_num(first) == n.point,
                  "a plain restart did not go on with the header of its point");
  } else if (!n.container) {
    fuzz::require(memcmp(first.bytes, stored[0].bytes, LR_BLOCK_SIZE) == 0,
                  "a plain restart without a record did not start again");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1 || size - 1 > kMaxPeerBytes) return 0;
  const fuzz::NegotiationOptions options = fuzz::decode_negotiation_options(data[0]);
  fuzz::prepare_fixed_sets();
  fuzz::restore_fixed_set_checkpoints();

  fuzz::FuzzSession f;
  fuzz::apply_options(options, &f.s);
  if (options.child_mode) {
    // The operands name directories; the request names the set in them.
    apprestore = B_TRUE;
    f.add_prefix(fuzz::fixed_sets_dir());
    f.set_password(fuzz::kFuzzPassword);
  } else {
    for (const std::string& prefix : fuzz::fixed_set_prefixes(options.set)) f.add_prefix(prefix);
    fuzz::require(fuzz::open_fixed_set(&f.s), "a fixed set cannot be opened");
  }

  Peer peer(data + 1, size - 1);
  f.s.client_fd = peer.writer_end();
  if (negotiate_dst(&f.s)) {
    Negotiated n;
    n.blks_done = static_cast<uint64_t>(f.s.blk_num);
    n.inflate = options.inflate;
    n.container = f.s.compressed || f.s.encrypted;
    n.point = f.s.restart_checkpoint;
    n.record = n.point != 0 && f.s.cmd == RPLCMD_ACQTREE && f.s.hbak &&
               access(kit::checkpoint_file_name(f.s.input_file[0], n.point).c_str(), F_OK) == 0;
    bool acknowledged = false;
    if (send_rpl_stream(&f.s) && f.s.cur_hdr == LR_HDR_END_OF_STREAM && rpl_get_ack(&f.s)) {
      acknowledged = true;
      delete_checkpoint_file(&f.s);
      close_input_file(&f.s);
    }
    check_heard(peer.finish(), n, acknowledged);
  }
  f.s.client_fd = -1;
  close_input_dump(&f.s);
  return 0;
}
