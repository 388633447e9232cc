// Running the writer under the fault shim.
#include "fault_support.h"

#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <cstring>

#include "rehearsal/dump_writer.h"
#include "rehearsal/stream_gen.h"

namespace fault {

const char kArchivistHint[] = "Use archivist start command on secondary to create a relationship\n";
const char kNoEndOfStream[] =
    "Transfer completed without end stream header. Aborting transfer. (Missing input files?)\n";

namespace {

const char kPassword[] = "fault injection password";

// The writer's program name, so that a launcher in front of it (valgrind)
// loads the shim without arming it.
const char kWriterProgram[] = "brix_writer";

std::string next_log_name(const kit::TempDir& dir) {
  static std::atomic<int> runs{0};
  return dir.file("fault-log." + std::to_string(runs++));
}

// The shim is not the first library of a sanitized writer: its runtime
// must be told not to mind.
std::string sanitizer_options() {
  const char* inherited = getenv("ASAN_OPTIONS");
  std::string options = inherited != nullptr ? inherited : "";
  if (!options.empty()) options += ":";
  return "ASAN_OPTIONS=" + options + "verify_asan_link_order=0";
}

}  // namespace

FaultyRun::FaultyRun(const kit::TempDir& dir, const std::string& rules)
    : rules_(rules), log_(next_log_name(dir)) {}

kit::ProcessOptions FaultyRun::options(const std::vector<std::string>& args,
                                       const std::string& stdin_bytes) const {
  kit::ProcessOptions o = e2e::writer_options(args, stdin_bytes);
  o.env = {std::string("LD_PRELOAD=") + BRIX_FAULT_SHIM_PATH, "BRIX_FAULT=" + rules_,
           std::string("BRIX_FAULT_PROGRAM=") + kWriterProgram, "BRIX_FAULT_LOG=" + log_,
           sanitizer_options()};
  return o;
}

e2e::Playback FaultyRun::play(const std::vector<std::string>& args,
                              const kit::DestinationOptions& destination,
                              const std::string& stdin_bytes) const {
  return e2e::play_with(options(args, stdin_bytes), destination);
}

e2e::Playback FaultyRun::run_alone(const std::vector<std::string>& args,
                                   const std::string& stdin_bytes) const {
  return e2e::run_alone_with(options(args, stdin_bytes));
}

std::string FaultyRun::fired() const {
  std::string text, error;
  if (!kit::read_file(log_, text, error)) return "";
  return text;
}

std::vector<uint32_t> checkpointed_points(const std::string& prefix, uint32_t below) {
  std::vector<uint32_t> points;
  for (uint32_t point = 0; point < below; point++) {
    if (access(kit::checkpoint_file_name(prefix, point).c_str(), F_OK) == 0) {
      points.push_back(point);
    }
  }
  return points;
}

std::string perror_line(const std::string& text, int error) {
  return text + ": " + strerror(error) + "\n";
}

void StoredSet::store(uint64_t seed, uint64_t blocks, const std::vector<uint64_t>& split,
                      kit::DumpFormat format) {
  kit::StreamShape shape;
  shape.seed = seed;
  shape.total_blocks = blocks;
  stream = kit::generate_stream(shape);
  kit::DumpSetResult r;
  if (format == kit::DumpFormat::plain) {
    r = kit::write_plain_set(prefix, stream, split);
  } else {
    kit::ContainerOptions options;
    options.password = kPassword;
    answer = std::string(kPassword) + "\n";
    r = kit::write_container_set(prefix, stream, split, format, options);
  }
  ASSERT_TRUE(r.ok()) << r.error;
  files = r.file_info;
}

std::vector<uint32_t> StoredSet::points_in_order() const {
  std::vector<uint32_t> points;
  uint32_t last = 0;
  for (const kit::Block& b : stream) {
    if (kit::is_header(b) && kit::sync_num(b) != last) points.push_back(last = kit::sync_num(b));
  }
  return points;
}

void StoredSet::interrupt_at_the_acknowledgement() {
  kit::DestinationOptions d;
  d.send_ack = false;
  d.keep_blocks = false;
  ASSERT_EQ(e2e::play({prefix}, d, answer).status.code, 255);
}

std::string StoredSet::prompt() const {
  return answer.empty() ? "" : "Enter the decryption password:";
}

e2e::Playback StoredSet::play_failing(const std::string& rules, const std::string& reported,
                                      uint32_t restart) {
  kit::DestinationOptions d;
  d.restart_sync_point = restart;
  d.structure.require_end = false;
  d.io_timeout_ms = 10000;
  e2e::Playback p = FaultyRun(dir, rules).play({prefix}, d, answer);
  EXPECT_EQ(p.status.code, 255);
  EXPECT_EQ(p.err, prompt() + kArchivistHint + reported);
  return p;
}

void expect_restart_continues(const std::string& prefix, const kit::Stream& stream,
                              const std::vector<kit::DumpFileInfo>& files, uint32_t point,
                              const std::string& stdin_bytes) {
  SCOPED_TRACE("restart from point " + std::to_string(point));
  const e2e::ResumePlace resume =
      e2e::restart_place(stream, point, kit::is_container(files[0].format));
  ASSERT_TRUE(resume.found);
  kit::DestinationOptions d;
  d.restart_sync_point = point;
  d.structure.start_header_first = true;
  e2e::Playback p = e2e::play({prefix}, d, stdin_bytes);
  EXPECT_TRUE(e2e::same_blocks(e2e::bytes_of({p.dest.reply}),
                               e2e::expected_reply(stream[0], resume.blks_done)));
  EXPECT_EQ(p.status.code, 0) << p.err;
  EXPECT_TRUE(p.dest.complete) << p.dest.error << p.dest.structure_error;
  EXPECT_TRUE(e2e::same_blocks(e2e::bytes_of(p.dest.blocks),
                               e2e::bytes_of(stream, resume.block, stream.size() - resume.block)));
}

}  // namespace fault
