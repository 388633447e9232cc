// The differential restart sweep. One generated stream is stored plain and
// as containers of every kind and several chunk layouts; transfers of each
// are interrupted at every header (every block with BRIX_RESTART_SWEEP=full,
// make check-restarts) and at random moments by a hang-up or a SIGKILL, and
// the destination then asks for the point of the last header it received.
// Whatever the layout, a restart's reply must carry the block count n of
// its record and the stream must go on with stored block n+1 to the end; a
// plain set re-sends the point's header instead (at point 101 the one block
// it repeats). A restart may be refused only when its record is missing or
// cut short on disk (a kill), and then before any reply.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <thread>

#include "e2e_support.h"
#include "kit/runner.h"
#include "kit/temp_dir.h"
#include "rehearsal/dump_writer.h"
#include "rehearsal/rng.h"
#include "rehearsal/stream_gen.h"

namespace {

const char kPassword[] = "restart sweep password";
const char kListening[] = "Use archivist start command on secondary to create a relationship\n";
constexpr off_t kRecordSize = 1812;
constexpr uint32_t kOptionalPointMax = 99;

// One way to store the stream.
struct Layout {
  const char* name;
  kit::DumpFormat format;
  std::vector<std::vector<uint64_t>> files_per_prefix;  // the rest goes into one more file
  int mode = 1;
  uint32_t chunk_blocks = 16;
  bool close_before_new_sync = true;  // chunks closed before the headers of new points
};

const Layout kLayouts[] = {
    {"plain", kit::DumpFormat::plain, {{70, 80}, {75}}},
    {"compressed", kit::DumpFormat::compressed, {{80, 70, 85}}},
    {"compressed+encrypted", kit::DumpFormat::compressed_encrypted, {{90}, {70, 80}}, 2},
    {"compressed, headers anywhere", kit::DumpFormat::compressed, {{120}}, 1, 16, false},
    {"encrypted, headers anywhere", kit::DumpFormat::encrypted, {{100, 90}}, 3, 16, false},
    {"encrypted, one-block chunks", kit::DumpFormat::encrypted, {{2400}}, 1, 1, false},
};

// Tree-phase headers get rising tree points, so that they leave checkpoint
// files too.
kit::Stream sweep_stream(uint64_t blocks) {
  kit::StreamShape shape;
  shape.seed = 61;
  shape.total_blocks = blocks;
  shape.headers_per_sync = 3;
  kit::Stream s = kit::generate_stream(shape);
  uint32_t point = 0;
  int32_t previous_type = LR_HDR_INVALID;
  for (size_t h : kit::header_indices(s)) {
    if (h == 0) continue;
    if (kit::hdr_type(s[h]) == LR_HDR_MID_STREAM) break;
    if (kit::hdr_type(s[h]) != previous_type && point < LRD_RESTART_TREE_EXTATTRS) point++;
    previous_type = kit::hdr_type(s[h]);
    kit::set_sync_num(s[h], point);
  }
  return s;
}

enum class Stop { none, hang_up, kill };

// The checkpoint file a restart will load, as it lies on disk before the run.
struct RecordOnDisk {
  bool exists = false;
  off_t size = 0;
};

class RestartSweep : public testing::TestWithParam<Layout> {
 protected:
  kit::TempDir dir;
  kit::Stream stream;
  std::vector<std::string> prefixes;
  std::vector<size_t> headers;
  kit::Rng rng{2024};
  bool container = false;
  int runs = 0, refusals = 0;

  void SetUp() override {
    const Layout& l = GetParam();
    container = kit::is_container(l.format);
    stream = sweep_stream(l.chunk_blocks == 1 ? 2500 : 300);
    headers = kit::header_indices(stream);
    for (size_t p = 0; p < l.files_per_prefix.size(); p++) {
      prefixes.push_back(dir.file("set" + std::to_string(p)));
    }
    kit::DumpSetLayout layout = kit::multi_prefix_layout(prefixes, l.files_per_prefix);
    kit::set_format(layout, l.format);
    layout.container.password = kit::has_encryption(l.format) ? kPassword : "";
    layout.container.mode = l.mode;
    layout.container.max_chunk_blocks = l.chunk_blocks;
    layout.container.close_before_new_sync = l.close_before_new_sync;
    kit::DumpSetResult r = kit::write_dump_set(layout, stream);
    ASSERT_TRUE(r.ok()) << r.error;
  }

  std::string record_of(uint32_t point) const {
    return kit::checkpoint_file_name(prefixes[0], point);
  }
  RecordOnDisk on_disk(uint32_t point) const {
    struct stat st;
    if (stat(record_of(point).c_str(), &st) != 0) return RecordOnDisk();
    return RecordOnDisk{true, st.st_size};
  }
  void remove_records() {
    for (size_t h : headers) unlink(record_of(kit::sync_num(stream[h])).c_str());
  }

  // One writer run asked for `point`, stopped as planned after `after`
  // stream blocks (a kill `delay_us` after them); the destination's side.
  e2e::Playback run(uint32_t point, Stop stop, uint64_t after, int delay_us = 0) {
    runs++;
    e2e::Playback p;
    kit::WriterProcess writer;
    const std::string password =
        kit::has_encryption(GetParam().format) ? std::string(kPassword) + "\n" : std::string();
    if (!writer.start(e2e::writer_options(prefixes, password))) {
      ADD_FAILURE() << writer.error();
      return p;
    }
    writer.wait_for_output(kit::Output::err, kListening, e2e::kWriterTimeoutMs);
    kit::DestinationOptions d;
    d.restart_sync_point = point;
    if (stop == Stop::hang_up) d.hangup_after_blocks = after;
    std::thread killer;
    if (stop == Stop::kill) {
      int64_t seen = -1;  // the reply comes first
      d.on_block = [&, seen](const kit::Block&) mutable {
        if (++seen != static_cast<int64_t>(after)) return;
        killer = std::thread([&writer, delay_us] {
          std::this_thread::sleep_for(std::chrono::microseconds(delay_us));
          writer.kill();
        });
      };
    }
    p.dest = kit::run_destination(d);
    if (killer.joinable()) killer.join();
    p.status = writer.wait(e2e::kWriterTimeoutMs);
    p.out = writer.output(kit::Output::out);
    p.err = writer.output(kit::Output::err);
    return p;
  }

  // The point the destination asks for after a run that began at stream
  // block `first` (asked for `from`) and received `got` blocks.
  uint32_t last_point(uint32_t from, size_t first, size_t got) const {
    uint32_t point = from;
    for (size_t i = first; i < first + got && i < stream.size(); i++) {
      if (kit::is_header(stream[i])) point = kit::sync_num(stream[i]);
    }
    return point;
  }

  // Checks a run asked for `point` (with `record` on disk before it) against
  // the stored stream, whatever stopped it. Returns the stream index of the
  // first block it sent, or stream.size() when it sent no reply.
  size_t check(uint32_t point, const RecordOnDisk& record, const e2e::Playback& p, bool killed) {
    SCOPED_TRACE("run asked for point " + std::to_string(point));
    if (p.dest.reply_kind != kit::ReplyKind::block) {
      if (!(killed && p.status.signaled)) check_refusal(point, record, p, killed);
      return stream.size();
    }
    const uint64_t n = kit::blks_done(p.dest.reply);
    EXPECT_TRUE(e2e::same_blocks(e2e::bytes_of({p.dest.reply}), e2e::expected_reply(stream[0], n)));
    size_t first = 1;  // a transfer from the start
    if (point != 0 && record.exists) {
      const e2e::ResumePlace resume = e2e::restart_place(stream, point, container);
      EXPECT_TRUE(resume.found);
      EXPECT_EQ(n, resume.blks_done);
      first = resume.block;
    } else if (point != 0) {
      EXPECT_FALSE(container) << "a container started over without its record";
      EXPECT_EQ(n, 0u);  // a plain set starts again from its first block
      first = 0;
    }
    const size_t blocks = std::min(p.dest.blocks.size(), stream.size() - first);
    EXPECT_TRUE(
        e2e::same_blocks(e2e::bytes_of(p.dest.blocks), e2e::bytes_of(stream, first, blocks)));
    if (p.dest.complete) {
      EXPECT_EQ(p.dest.blocks.size(), stream.size() - first);
      // A kill may still come after the acknowledgement.
      if (!(killed && p.status.signaled)) {
        EXPECT_EQ(p.status.code, 0) << p.err;
      }
    }
    return first;
  }

  // A refusal is right only where the record on disk cannot serve.
  void check_refusal(uint32_t point, const RecordOnDisk& record, const e2e::Playback& p,
                     bool killed) {
    refusals++;
    std::string expected;
    if (!record.exists && point > kOptionalPointMax) {
      expected = "could not find checkpoint file \n";
    } else if (!record.exists) {
      EXPECT_TRUE(container);
      expected = "Cannot restart a compressed or encrypted dump set from point " +
                 std::to_string(point) + " without its checkpoint file\n";
    } else {
      EXPECT_TRUE(killed) << "a whole record was refused";
      EXPECT_LT(record.size, kRecordSize);
      expected = "checkpoint file is corrupted\n";
    }
    EXPECT_NE(p.err.find(expected), std::string::npos) << p.err;
    EXPECT_EQ(p.status.code, 255);
  }

  // A fresh transfer stopped after `after` blocks, then restarts from the
  // destination's point: with `again`, the first restart is stopped too,
  // after `again_after` blocks or at a random block.
  void trial(Stop stop, uint64_t after, bool again, int delay_us = 0,
             std::optional<uint64_t> again_after = std::nullopt) {
    SCOPED_TRACE("a fresh transfer stopped after " + std::to_string(after) + " blocks");
    remove_records();
    const bool killed = stop == Stop::kill;
    e2e::Playback p = run(0, stop, after, delay_us);
    check(0, RecordOnDisk(), p, killed);
    if (p.dest.reply_kind != kit::ReplyKind::block || p.dest.complete) return;
    uint32_t point = last_point(0, 0, p.dest.blocks.size() + 1);
    if (point == 0) return;
    if (again) {
      const RecordOnDisk record = on_disk(point);
      const uint64_t second =
          again_after ? *again_after : rng.below(static_cast<uint32_t>(stream.size()));
      e2e::Playback q = run(point, stop, second, delay_us);
      const size_t first = check(point, record, q, killed);
      if (first == stream.size() || q.dest.complete) return;
      point = last_point(point, first, q.dest.blocks.size());
    }
    const RecordOnDisk record = on_disk(point);
    check(point, record, run(point, Stop::none, 0), killed);
  }
};

TEST_P(RestartSweep, EveryRestartGoesOnWithTheStoredStreamFromBlockNPlusOne) {
  const char* sweep = getenv("BRIX_RESTART_SWEEP");
  const bool full = sweep != nullptr && strcmp(sweep, "full") == 0;
  const bool slow = getenv("BRIX_WRITER_WRAPPER") != nullptr;  // under a memory checker
#ifdef BRIX_RESTART_SWEEP_SANITIZED
  const size_t most_positions = 30;
#else
  const size_t most_positions = slow ? 3 : full ? SIZE_MAX : 80;
#endif
  // Hang-ups just after a header (every block in the full sweep of small sets).
  std::vector<uint64_t> positions;
  if (full && stream.size() <= 500) {
    for (uint64_t b = 0; b < stream.size(); b++) positions.push_back(b);
  } else {
    for (size_t i = 1; i < headers.size(); i++) positions.push_back(headers[i]);
  }
  const size_t stride = (positions.size() + most_positions - 1) / most_positions;
  for (size_t i = 0; i < positions.size() && !HasFailure(); i += stride) {
    trial(Stop::hang_up, positions[i], false);
  }
  // A restart from the first file-phase point, itself stopped half-way: the
  // records it writes count the header it sends once more only once.
  trial(Stop::hang_up, e2e::opening_header(stream, LRD_RESTART_FILE_PHASE_BASE), true, 0,
        stream.size() / 2);
  const uint32_t random_trials = slow ? 1 : full ? 300 : 12;
  for (uint32_t k = 0; k < random_trials && !HasFailure(); k++) {
    trial(Stop::hang_up, rng.below(static_cast<uint32_t>(stream.size())), k % 2 == 0);
  }
  // SIGKILLs: after a random block, within about one block's sending time.
  for (uint32_t k = 0; k < random_trials && !HasFailure(); k++) {
    trial(Stop::kill, rng.below(static_cast<uint32_t>(stream.size())), k % 2 == 0,
          static_cast<int>(rng.below(200)));
  }
  printf("[ sweep    ] %s: %d writer runs, %d refused\n", GetParam().name, runs, refusals);
}

INSTANTIATE_TEST_SUITE_P(Layouts, RestartSweep, testing::ValuesIn(kLayouts),
                         [](const testing::TestParamInfo<Layout>& info) {
                           std::string name;
                           for (const char* c = info.param.name; *c; c++) {
                             if (isalnum(static_cast<unsigned char>(*c))) name += *c;
                           }
                           return name;
                         });

}  // namespace
