// brix_destination: a loopback destination for rehearsals. It connects to a
// writer, negotiates, receives and checks the whole stream (against the dump
// set it should be, with --expect), acknowledges it and prints a summary of
// what it received and how the transfer ended, as text or as one JSON
// document; the exit status says whether the transfer was whole.
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>

#include "command_line.h"
#include "json_object.h"
#include "rehearsal/destination.h"
#include "rehearsal/expect.h"
#include "tool_support.h"

namespace {

constexpr int kUsageError = 2;
constexpr int kTransferFailed = 1;
constexpr int kMillisPerSecond = 1000;
constexpr double kBytesPerMegabyte = 1e6;

const char kUsage[] =
    "Usage: brix_destination [options]\n"
    "Connects to a writer as the destination of a transfer, receives and checks the\n"
    "whole stream, acknowledges it and prints a summary of what arrived and how the\n"
    "transfer ended. Exits 0 only when the whole stream arrived, its structure checked\n"
    "out, the acknowledgement came back and, with --expect, every block was as expected.\n"
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
    "      --expect PREFIX          compare what arrives, block for block, with the plain dump\n"
    "                               set PREFIX of the same stream; report the first lost,\n"
    "                               repeated or different block (the exit status is 1 then)\n"
    "      --timeout SECONDS        how long the writer may stay silent, and how long to keep\n"
    "                               trying to connect (default 10)\n"
    "      --json                   print the summary as one JSON document\n"
    "  -h, --help                   show this text\n"
    "      --version                show the version\n";

struct Args {
  kit::DestinationOptions dest;
  bool ipv6 = false;
  bool host_given = false;
  std::string save_path;
  std::string expect_prefix;
  bool json = false;
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
  kExpect,
  kTimeout,
  kJson,
  kVersion
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
      {"expect", required_argument, nullptr, kExpect},
      {"timeout", required_argument, nullptr, kTimeout},
      {"json", no_argument, nullptr, kJson},
      {"help", no_argument, nullptr, 'h'},
      {"version", no_argument, nullptr, kVersion},
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
      case kExpect:
        a.expect_prefix = optarg;
        break;
      case kTimeout:
        ok = tools::parse_u32(optarg, u32) && u32 > 0 && u32 <= INT32_MAX / kMillisPerSecond;
        d.io_timeout_ms = d.connect_deadline_ms = static_cast<int>(u32) * kMillisPerSecond;
        break;
      case kJson:
        a.json = true;
        break;
      case 'h':
        fputs(kUsage, stdout);
        return 0;
      case kVersion:
        printf("brix_destination %s\n", BRIX_WRITER_VERSION);
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

// How the transfer ended, in one line.
std::string ending(const kit::DestinationOptions& d, const kit::DestinationResult& r) {
  if (r.complete) return "complete, the acknowledgement came back";
  if (r.hung_up && r.error.empty()) {
    const std::string when = r.reply_kind == kit::ReplyKind::block
                                 ? " after " + std::to_string(r.stream_blocks) + " stream blocks"
                                 : std::string(" after the ") + kit::step_name(r.reached) + " step";
    return "hung up" + when + (d.send_ack ? ", as asked" : " instead of acknowledging, as asked");
  }
  if (!r.error.empty()) return r.error;
  return "the stream arrived, but its structure is faulty";
}

// What arrived and how it ended; with `expect`, how it compares.
// `last_point` is the synchronisation point of the last header that arrived.
void print_summary(const Args& a, const kit::DestinationResult& r, uint32_t last_point,
                   const std::string& expect) {
  if (r.version_answered) printf("version: offered answer %u\n", r.version_answer);
  if (r.reply_kind == kit::ReplyKind::block) {
    printf("reply: %s, ndr_blks_done %llu\n",
           hdr_type_to_string(static_cast<uint32_t>(kit::hdr_type(r.reply))),
           static_cast<unsigned long long>(kit::blks_done(r.reply)));
  } else if (r.reply_kind == kit::ReplyKind::refusal) {
    printf("reply: refused, errcode %d\n", kit::refusal_errcode(r));
  } else {
    printf("reply: none\n");
  }
  if (r.reply_kind == kit::ReplyKind::block) {
    const double mbps =
        r.elapsed_seconds > 0 ? r.bytes_received / kBytesPerMegabyte / r.elapsed_seconds : 0;
    printf("stream: %llu blocks after the reply, %llu bytes in %.3f s, %.1f MB/s\n",
           static_cast<unsigned long long>(r.stream_blocks),
           static_cast<unsigned long long>(r.bytes_received), r.elapsed_seconds, mbps);
    tools::print_header_counts(r.headers_by_type);
  }
  if (r.ack_sent) {
    if (r.ack_echoed) {
      printf("acknowledgement: echoed %u\n", r.ack_echo);
    } else {
      printf("acknowledgement: sent, no echo\n");
    }
  }
  if (!r.structure_error.empty()) {
    printf("structure: %s\n", r.structure_error.c_str());
  } else if (r.reply_kind != kit::ReplyKind::block) {
    printf("structure: not checked, no stream arrived\n");
  } else if (r.end_seen) {
    printf("structure: ok\n");
  } else {
    printf("structure: ok so far, the stream stopped before its end\n");
  }
  fputs(expect.c_str(), stdout);
  printf("end: %s\n", ending(a.dest, r).c_str());
  if (r.reply_kind == kit::ReplyKind::block && !r.complete) {
    printf("restart: --restart-sync-point %u resumes from the last point that arrived\n",
           last_point);
  }
}

// The same summary as one JSON document on one line; `expect` is null
// without --expect.
void print_json_summary(const Args& a, const kit::DestinationResult& r, uint32_t last_point,
                        const kit::ExpectFindings* expect) {
  tools::json_object reply;
  if (r.reply_kind == kit::ReplyKind::block) {
    reply.text("kind", "block")
        .text("header", hdr_type_to_string(static_cast<uint32_t>(kit::hdr_type(r.reply))))
        .number("blks_done", kit::blks_done(r.reply));
  } else if (r.reply_kind == kit::ReplyKind::refusal) {
    reply.text("kind", "refusal").number("errcode", static_cast<uint64_t>(kit::refusal_errcode(r)));
  } else {
    reply.text("kind", "none");
  }
  tools::json_object headers;
  for (const auto& h : r.headers_by_type) {
    headers.number(hdr_type_to_string(static_cast<uint32_t>(h.first)), h.second);
  }
  const double seconds = r.elapsed_seconds;
  tools::json_object stream;
  stream.number("blocks_received", r.stream_blocks)
      .number("bytes_received", r.bytes_received)
      .number("seconds", seconds, 3)
      .number("mb_per_second", seconds > 0 ? r.bytes_received / kBytesPerMegabyte / seconds : 0, 1)
      .json("headers", headers.str());
  tools::json_object ack;
  ack.flag("sent", r.ack_sent)
      .flag("echoed", r.ack_echoed)
      .number("echo", r.ack_echoed ? std::optional<uint64_t>(r.ack_echo) : std::nullopt);
  const bool checked = r.reply_kind == kit::ReplyKind::block;
  tools::json_object structure;
  structure.flag("checked", checked)
      .flag("ok", checked && r.structure_error.empty())
      .flag("end_seen", r.end_seen)
      .json("error", r.structure_error.empty() ? "null" : tools::json_string(r.structure_error));
  tools::json_object restart;
  restart.number("requested_sync_point", a.dest.restart_sync_point)
      .number("resume_sync_point",
              checked && !r.complete ? std::optional<uint64_t>(last_point) : std::nullopt);
  std::string compared = "null";
  if (expect != nullptr) {
    compared = tools::json_object()
                   .text("prefix", a.expect_prefix)
                   .flag("reply_compared", expect->reply_compared)
                   .flag("identical", expect->reply_compared && expect->identical())
                   .number("first_lost", expect->first_lost)
                   .number("first_repeated", expect->first_repeated)
                   .number("first_different", expect->first_different)
                   .number("different_blocks", expect->different_blocks)
                   .number("first_compared", expect->first_compared)
                   .number("last_compared", expect->last_compared)
                   .str();
  }
  tools::json_object summary;
  summary.flag("complete", r.complete)
      .text("end", ending(a.dest, r))
      .number("version_answer",
              r.version_answered ? std::optional<uint64_t>(r.version_answer) : std::nullopt)
      .json("reply", reply.str())
      .json("stream", stream.str())
      .json("acknowledgement", ack.str())
      .json("structure", structure.str())
      .json("restart", restart.str())
      .json("expect", compared);
  printf("%s\n", summary.str().c_str());
}

}  // namespace

int main(int argc, char** argv) {
  Args a;
  const int status = parse_args(argc, argv, a);
  if (status >= 0) return status;

  kit::DumpSetBlocks expected_set;
  std::optional<kit::ExpectCheck> expect;
  if (!a.expect_prefix.empty()) {
    if (!expected_set.open(a.expect_prefix)) {
      fprintf(stderr, "brix_destination: %s\n", expected_set.error().c_str());
      return kTransferFailed;
    }
    expect.emplace(expected_set);
  }
  FILE* save = nullptr;
  if (!a.save_path.empty()) {
    save = fopen(a.save_path.c_str(), "wbe");
    if (save == nullptr) {
      perror(("brix_destination: " + a.save_path).c_str());
      return kTransferFailed;
    }
  }
  // The reply (the start header, point 0) leaves a restart where it was.
  bool reply_seen = false;
  kit::HeaderWalker headers;
  uint32_t last_point = a.dest.restart_sync_point;
  a.dest.on_block = [&](const kit::Block& b) {
    if (save != nullptr) fwrite(b.bytes, 1, LR_BLOCK_SIZE, save);
    const bool header = headers.next(b);
    if (reply_seen && header) last_point = kit::sync_num(b);
    if (expect && reply_seen) expect->block(b);
    if (expect && !reply_seen) expect->reply(b);
    reply_seen = true;
  };
  const kit::DestinationResult r = kit::run_destination(a.dest);
  if (a.json) {
    print_json_summary(a, r, last_point, expect ? &expect->findings() : nullptr);
  } else {
    print_summary(a, r, last_point,
                  expect ? kit::describe_findings(expect->findings(), a.expect_prefix) : "");
  }
  bool saved = true;
  if (save != nullptr) {
    const bool write_failed = ferror(save) != 0;
    saved = fclose(save) == 0 && !write_failed;
  }
  if (!saved) fprintf(stderr, "brix_destination: cannot write %s\n", a.save_path.c_str());
  if (!expected_set.error().empty()) {
    fprintf(stderr, "brix_destination: %s\n", expected_set.error().c_str());
  }
  if (!r.error.empty()) fprintf(stderr, "brix_destination: %s\n", r.error.c_str());
  if (!r.structure_error.empty())
    fprintf(stderr, "brix_destination: stream structure: %s\n", r.structure_error.c_str());
  const bool as_expected = !expect || expect->findings().identical();
  if (r.complete && saved && as_expected) return 0;
  if (r.hung_up && r.error.empty()) {
    fprintf(stderr, "brix_destination: hung up after %llu stream blocks without acknowledging\n",
            static_cast<unsigned long long>(r.stream_blocks));
  }
  return kTransferFailed;
}
