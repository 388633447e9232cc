// brix_destination: a loopback destination for rehearsals. It connects to a
// writer, negotiates, receives and checks the whole stream, acknowledges it
// and prints a summary; the exit status says whether the transfer was whole.
#include <cstdio>
#include <cstring>
#include <string>

#include "rehearsal/destination.h"
#include "tool_support.h"

namespace {

constexpr int kUsageError = 2;
constexpr int kTransferFailed = 1;
constexpr int kMillisPerSecond = 1000;
constexpr double kBytesPerMegabyte = 1e6;

const char kUsage[] =
    "Usage: brix_destination [options]\n"
    "Connects to a writer as the destination of a transfer, receives and checks the\n"
    "whole stream, acknowledges it and prints a summary. Exits 0 only when the whole\n"
    "stream arrived, its structure checked out and the acknowledgement came back.\n"
    "\n"
    "  -H, --host ADDR              writer's numeric address (default 127.0.0.1, ::1 with -6)\n"
    "  -4, -6                       IPv4 (default) or IPv6\n"
    "  -P, --port N                 writer's port (default 10566)\n"
    "  -c, --command NAME           archivist_start (default), archivist_restore or\n"
    "                               replicator_init\n"
    "  -s, --src-path PATH          source path to request\n"
    "      --restart-sync-point N   restart from this synchronisation point\n"
    "      --restart-snap-id N      restart from this snapshot\n"
    "      --version-word N         versions offered (default 0x00040004)\n"
    "      --hangup-after N         hang up after N stream blocks\n"
    "      --no-ack                 hang up at the end-of-stream header instead of acknowledging\n"
    "      --ack-value N            acknowledgement to send (default 1)\n"
    "      --discard                keep no blocks in memory (for long streams)\n"
    "      --save FILE              write the reply and every stream block to FILE\n"
    "      --timeout SECONDS        how long the writer may stay silent, and how long to keep\n"
    "                               trying to connect (default 10)\n"
    "  -h, --help                   show this text\n";

struct Args {
  kit::DestinationOptions dest;
  bool ipv6 = false;
  bool host_given = false;
  std::string save_path;
};

enum LongOnly {
  kRestartSync = 256,
  kRestartSnap,
  kVersionWord,
  kHangup,
  kNoAck,
  kAckValue,
  kDiscard,
  kSave,
  kTimeout
};

bool parse_command(const char* name, uint32_t& cmd) {
  if (strcmp(name, "archivist_start") == 0) {
    cmd = RPLCMD_ACQTREE;
  } else if (strcmp(name, "archivist_restore") == 0) {
    cmd = RPLCMD_ACRESTORE;
  } else if (strcmp(name, "replicator_init") == 0) {
    cmd = RPLCMD_RCQTREE;
  } else {
    return false;
  }
  return true;
}

// Returns -1 to go on, else the exit status.
int parse_args(int argc, char** argv, Args& a) {
  static const option longopts[] = {
      {"host", required_argument, nullptr, 'H'},
      {"port", required_argument, nullptr, 'P'},
      {"command", required_argument, nullptr, 'c'},
      {"src-path", required_argument, nullptr, 's'},
      {"restart-sync-point", required_argument, nullptr, kRestartSync},
      {"restart-snap-id", required_argument, nullptr, kRestartSnap},
      {"version-word", required_argument, nullptr, kVersionWord},
      {"hangup-after", required_argument, nullptr, kHangup},
      {"no-ack", no_argument, nullptr, kNoAck},
      {"ack-value", required_argument, nullptr, kAckValue},
      {"discard", no_argument, nullptr, kDiscard},
      {"save", required_argument, nullptr, kSave},
      {"timeout", required_argument, nullptr, kTimeout},
      {"help", no_argument, nullptr, 'h'},
      {nullptr, 0, nullptr, 0}};
  kit::DestinationOptions& d = a.dest;
  uint32_t u32 = 0;
  uint64_t u64 = 0;
  int c;
  while ((c = getopt_long(argc, argv, "H:P:c:s:46h", longopts, nullptr)) != -1) {
    bool ok = true;
    switch (c) {
      case 'H':
        d.host = optarg;
        a.host_given = true;
        break;
      case '4':
        a.ipv6 = false;
        break;
      case '6':
        a.ipv6 = true;
        break;
      case 'P':
        ok = tools::parse_u32(optarg, u32) && u32 > 0 && u32 <= UINT16_MAX;
        d.port = static_cast<uint16_t>(u32);
        break;
      case 'c':
        ok = parse_command(optarg, d.command_word);
        break;
      case 's':
        d.src_path = optarg;
        break;
      case kRestartSync:
        ok = tools::parse_u32(optarg, d.restart_sync_point);
        break;
      case kRestartSnap:
        ok = tools::parse_u32(optarg, d.restart_snap_id);
        break;
      case kVersionWord:
        ok = tools::parse_u32(optarg, d.version_word);
        break;
      case kHangup:
        ok = tools::parse_u64(optarg, u64);
        d.hangup_after_blocks = u64;
        break;
      case kNoAck:
        d.send_ack = false;
        break;
      case kAckValue:
        ok = tools::parse_u32(optarg, d.ack_value);
        break;
      case kDiscard:
        d.keep_blocks = false;
        break;
      case kSave:
        a.save_path = optarg;
        break;
      case kTimeout:
        ok = tools::parse_u32(optarg, u32) && u32 > 0 && u32 <= INT32_MAX / kMillisPerSecond;
        d.io_timeout_ms = d.connect_deadline_ms = static_cast<int>(u32) * kMillisPerSecond;
        break;
      case 'h':
        fputs(kUsage, stdout);
        return 0;
      default:
        fputs(kUsage, stderr);
        return kUsageError;
    }
    if (!ok) {
      fprintf(stderr, "brix_destination: bad value '%s' for %s\n", optarg,
              tools::option_label(c, longopts).c_str());
      return kUsageError;
    }
  }
  if (optind != argc) {
    fputs(kUsage, stderr);
    return kUsageError;
  }
  if (a.ipv6 && !a.host_given) d.host = "::1";
  return -1;
}

void print_summary(const kit::DestinationResult& r) {
  if (r.version_answered) printf("version: offered answer %u\n", r.version_answer);
  if (r.reply_kind == kit::ReplyKind::block) {
    printf("reply: %s, ndr_blks_done %llu\n",
           hdr_type_to_string(static_cast<uint32_t>(kit::hdr_type(r.reply))),
           static_cast<unsigned long long>(kit::blks_done(r.reply)));
  } else if (r.reply_kind == kit::ReplyKind::refusal) {
    printf("reply: refused, errcode %d\n", kit::refusal_errcode(r));
  }
  const double mbps =
      r.elapsed_seconds > 0 ? r.bytes_received / kBytesPerMegabyte / r.elapsed_seconds : 0;
  printf("stream: %llu blocks after the reply, %llu bytes in %.3f s, %.1f MB/s\n",
         static_cast<unsigned long long>(r.stream_blocks),
         static_cast<unsigned long long>(r.bytes_received), r.elapsed_seconds, mbps);
  tools::print_header_counts(r.headers_by_type);
  if (r.ack_sent) {
    if (r.ack_echoed) {
      printf("acknowledgement: echoed %u\n", r.ack_echo);
    } else {
      printf("acknowledgement: sent, no echo\n");
    }
  }
  printf("structure: %s\n", r.structure_error.empty() ? "ok" : r.structure_error.c_str());
}

}  // namespace

int main(int argc, char** argv) {
  Args a;
  const int status = parse_args(argc, argv, a);
  if (status >= 0) return status;

  FILE* save = nullptr;
  if (!a.save_path.empty()) {
    save = fopen(a.save_path.c_str(), "wbe");
    if (save == nullptr) {
      perror(("brix_destination: " + a.save_path).c_str());
      return kTransferFailed;
    }
    a.dest.on_block = [save](const kit::Block& b) { fwrite(b.bytes, 1, LR_BLOCK_SIZE, save); };
  }
  const kit::DestinationResult r = kit::run_destination(a.dest);
  if (r.connected) print_summary(r);
  bool saved = true;
  if (save != nullptr) {
    const bool write_failed = ferror(save) != 0;
    saved = fclose(save) == 0 && !write_failed;
  }
  if (!saved) fprintf(stderr, "brix_destination: cannot write %s\n", a.save_path.c_str());
  if (!r.error.empty()) fprintf(stderr, "brix_destination: %s\n", r.error.c_str());
  if (!r.structure_error.empty())
    fprintf(stderr, "brix_destination: stream structure: %s\n", r.structure_error.c_str());
  if (r.complete && saved) return 0;
  if (r.hung_up && r.error.empty()) {
    fprintf(stderr, "brix_destination: hung up after %llu stream blocks without acknowledging\n",
            static_cast<unsigned long long>(r.stream_blocks));
  }
  return kTransferFailed;
}
