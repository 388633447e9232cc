// The destination's side of a transfer: negotiation, stream, acknowledgement.
#include "rehearsal/destination.h"

#include <chrono>
#include <cstring>
#include <vector>

namespace kit {

namespace {

// Request options a capture of an hbak stream sets: always 0x2 and 0x20000,
// 0x4 and 0x8 together for the hbak format.
constexpr uint32_t kReqOptionsHbak = 0x2 | 0x20000 | 0x4 | 0x8;
constexpr size_t kReadBuffer = 256 * 1024;

void copy_text(char* dst, size_t width, const std::string& text) {
  const size_t n = std::min(text.size(), width - 1);
  memcpy(dst, text.data(), n);
  dst[n] = '\0';
}

// Splits what arrives into 4096-byte blocks; what is left of a block that
// never completed stays visible (a refusal record, an acknowledgement echo).
class BlockReader {
 public:
  explicit BlockReader(DestinationConnection& c) : conn_(c), buf_(kReadBuffer) {}

  Io next(Block& out, uint64_t& bytes) {
    while (end_ - start_ < LR_BLOCK_SIZE) {
      if (start_ > 0) {
        memmove(buf_.data(), buf_.data() + start_, end_ - start_);
        end_ -= start_;
        start_ = 0;
      }
      size_t got = 0;
      const Io io = conn_.recv_some(buf_.data() + end_, buf_.size() - end_, got);
      if (io != Io::ok) return io;
      end_ += got;
      bytes += got;
    }
    memcpy(out.bytes, buf_.data() + start_, LR_BLOCK_SIZE);
    start_ += LR_BLOCK_SIZE;
    return Io::ok;
  }
  std::string partial() const { return std::string(buf_.data() + start_, end_ - start_); }

 private:
  DestinationConnection& conn_;
  std::vector<char> buf_;
  size_t start_ = 0;  // first byte not yet handed out
  size_t end_ = 0;    // end of the bytes received
};

class Transfer {
 public:
  Transfer(const DestinationOptions& o, DestinationResult& r)
      : opt_(o), res_(r), reader_(conn_), checker_(o.structure) {}

  void run() {
    conn_.set_timeout_ms(opt_.io_timeout_ms);
    if (opt_.connected_fd >= 0) {
      conn_.adopt(opt_.connected_fd);
    } else if (!conn_.connect(opt_.host, opt_.port, opt_.connect_deadline_ms)) {
      res_.error = conn_.error();
      return;
    }
    res_.connected = true;
    const auto start = std::chrono::steady_clock::now();
    if (negotiate() && take_reply()) receive_stream();
    res_.elapsed_seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    res_.structure_error = checker_.error();
    res_.headers_by_type = checker_.headers_by_type();
    res_.end_seen = checker_.end_seen();
    res_.complete = res_.reply_kind == ReplyKind::block && res_.ack_echoed &&
                    res_.ack_echo == opt_.ack_value && res_.error.empty() &&
                    res_.structure_error.empty();
  }

 private:
  // Records an exchange that did not go through; false always.
  bool trouble(Io io, Step step, const std::string& what) {
    if (io == Io::closed) {
      res_.writer_closed = true;
      res_.closed_at = step;
      res_.error = "the writer closed the connection " + what;
    } else {
      res_.error = std::string(step_name(step)) + ": " + conn_.error();
    }
    return false;
  }

  bool hang_up() {
    conn_.close();
    res_.hung_up = true;
    return false;
  }

  bool negotiate() {
    Io io = conn_.send_u32(opt_.version_word);
    if (io == Io::ok) io = conn_.recv_u32(res_.version_answer);
    if (io != Io::ok) return trouble(io, Step::version, "instead of answering the version");
    res_.bytes_received += sizeof(uint32_t);
    res_.version_answered = true;
    res_.reached = Step::version;
    if (opt_.stop_after == Step::version) return hang_up();
    if (res_.version_answer == 0) {
      res_.error = "the writer speaks none of the offered versions";
      return hang_up();
    }
    io = conn_.send_u32(opt_.command_word);
    if (io == Io::ok) io = conn_.recv_u32(res_.command_echo);
    if (io != Io::ok) return trouble(io, Step::command, "instead of echoing the command");
    res_.bytes_received += sizeof(uint32_t);
    res_.command_echoed = true;
    res_.reached = Step::command;
    if (res_.command_echo != opt_.command_word) {
      res_.error = "the command echo " + std::to_string(res_.command_echo) + " differs";
      return hang_up();
    }
    if (opt_.stop_after == Step::command) return hang_up();
    const Block request = opt_.raw_request ? *opt_.raw_request : make_request(opt_);
    io = conn_.send_bytes(request.bytes, LR_BLOCK_SIZE);
    if (io != Io::ok) return trouble(io, Step::request, "while the request was sent");
    res_.request_sent = true;
    res_.reached = Step::request;
    if (opt_.stop_after == Step::request) return hang_up();
    return true;
  }

  bool take_reply() {
    const Io io = reader_.next(res_.reply, res_.bytes_received);
    if (io == Io::ok) {
      res_.reply_kind = ReplyKind::block;
      res_.reached = Step::reply;
      checker_.feed(res_.reply);
      if (opt_.on_block) opt_.on_block(res_.reply);
      return true;
    }
    const std::string part = reader_.partial();
    if (io == Io::closed && part.size() == LR_NEG_REPLY_SIZE) {
      res_.reply_kind = ReplyKind::refusal;
      res_.refusal = part;
      res_.reached = Step::reply;
      trouble(io, Step::reply,
              "after refusing the request (errcode " + std::to_string(refusal_errcode(res_)) + ")");
      return false;
    }
    return trouble(io, Step::reply, "after " + std::to_string(part.size()) + " bytes of the reply");
  }

  void receive_stream() {
    Block b;
    for (;;) {
      if (opt_.hangup_after_blocks && res_.stream_blocks == *opt_.hangup_after_blocks) {
        hang_up();
        return;
      }
      if (checker_.at_end() && !res_.ack_sent) {
        res_.reached = Step::stream;
        if (!opt_.send_ack) {
          hang_up();
          return;
        }
        const Io io = conn_.send_u32(opt_.ack_value);
        if (io != Io::ok) {
          trouble(io, Step::ack, "before the acknowledgement was sent");
          return;
        }
        res_.ack_sent = true;
      }
      const Io io = reader_.next(b, res_.bytes_received);
      if (io != Io::ok) {
        stream_stopped(io);
        return;
      }
      ++res_.stream_blocks;
      checker_.feed(b);
      if (opt_.keep_blocks) res_.blocks.push_back(b);
      if (opt_.on_block) opt_.on_block(b);
    }
  }

  // The writer stopped sending blocks: after the acknowledgement its echo,
  // 4 bytes, must be all that is left, followed by the close.
  void stream_stopped(Io io) {
    const std::string part = reader_.partial();
    if (res_.ack_sent && part.size() == sizeof(uint32_t)) {
      uint32_t wire;
      memcpy(&wire, part.data(), sizeof wire);
      res_.ack_echo = marshal_uint4(wire);
      res_.ack_echoed = true;
      res_.reached = Step::ack;
      if (res_.ack_echo != opt_.ack_value) {
        res_.error = "the acknowledgement echo " + std::to_string(res_.ack_echo) +
                     " differs from " + std::to_string(opt_.ack_value);
      }
      if (io == Io::closed) {
        res_.writer_closed = true;
        res_.closed_at = Step::finished;
        res_.reached = Step::finished;
        checker_.finish();
      } else {
        res_.error = "the writer did not close after echoing the acknowledgement: " + conn_.error();
      }
      return;
    }
    const Step step = res_.ack_sent ? Step::ack : Step::stream;
    if (io == Io::closed) checker_.finish();
    if (!part.empty()) {
      trouble(io, step, "after " + std::to_string(part.size()) + " bytes of a block");
    } else if (res_.ack_sent) {
      trouble(io, step, "without echoing the acknowledgement");
    } else {
      trouble(io, step, "after " + std::to_string(res_.stream_blocks) + " stream blocks");
    }
  }

  const DestinationOptions& opt_;
  DestinationResult& res_;
  DestinationConnection conn_;
  BlockReader reader_;
  StructureChecker checker_;
};

}  // namespace

const char* step_name(Step step) {
  switch (step) {
    case Step::connect:
      return "connect";
    case Step::version:
      return "version";
    case Step::command:
      return "command";
    case Step::request:
      return "request";
    case Step::reply:
      return "reply";
    case Step::stream:
      return "stream";
    case Step::ack:
      return "acknowledgement";
    case Step::finished:
      return "finished";
  }
  return "?";
}

Block make_request(const DestinationOptions& options) {
  Block b{};
  auto& req = *reinterpret_cast<lr_neg_data_request*>(b.bytes);
  copy_text(req.dst_filer, sizeof req.dst_filer, "brix-destination");
  copy_text(req.dst_path, sizeof req.dst_path, "/vol/archive/projects");
  copy_text(req.src_path, sizeof req.src_path, options.src_path);
  req.restart_snap_id = marshal_uint4(options.restart_snap_id);
  req.restart_sync_point = marshal_uint4(options.restart_sync_point);
  req.req_options = marshal_uint4(kReqOptionsHbak);
  return b;
}

int32_t refusal_errcode(const DestinationResult& result) {
  if (result.refusal.size() < sizeof(int32_t)) return 0;
  uint32_t wire;
  memcpy(&wire, result.refusal.data(), sizeof wire);
  return static_cast<int32_t>(marshal_uint4(wire));
}

DestinationResult run_destination(const DestinationOptions& options) {
  DestinationResult result;
  Transfer(options, result).run();
  return result;
}

}  // namespace kit
