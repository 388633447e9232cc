// Interrupted and restarted writer runs, each checked against the rules.
#include "restart_trial.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <thread>

namespace restarts {

namespace {

// The checkpoint file as the writer stores it, known independently of the
// writer's own record declaration.
constexpr off_t kRecordSize = 1812;
constexpr uint32_t kOptionalPointMax = 99;  // a missing file up to here restores nothing
constexpr uint32_t kFilesKept = 10;

// The writer is listening once it has printed this.
const char kListening[] = "Use archivist start command on secondary to create a relationship\n";
const char kNotFound[] = "could not find checkpoint file \n";
const char kCorrupted[] = "checkpoint file is corrupted\n";
const char kHeaderCheck[] = "Fatal Error. Header not found where expected. (Input data corrupt?)\n";
const char kDigestMismatch[] = "The data digest code does not match the expected value";
const char kInputEnded[] = "Transfer completed without end stream header.";

std::string refusal_text(uint32_t point) {
  return "Cannot restart a compressed or encrypted dump set from point " + std::to_string(point) +
         " without its checkpoint file\n";
}

bool contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

}  // namespace

const char* outcome_name(Outcome outcome) {
  switch (outcome) {
    case Outcome::fresh:
      return "fresh";
    case Outcome::resumed:
      return "resumed";
    case Outcome::stopped_at_data:
      return "stopped at data";
    case Outcome::nothing_left:
      return "nothing left";
    case Outcome::started_over:
      return "started over";
    case Outcome::not_found:
      return "not found";
    case Outcome::corrupted:
      return "corrupted";
    case Outcome::refused:
      return "refused";
  }
  return "?";
}

bool Expectation::reaches_ack() const {
  return outcome == Outcome::fresh || outcome == Outcome::resumed ||
         outcome == Outcome::started_over;
}

uint64_t Expectation::blocks() const {
  if (reaches_ack()) return stream_size - first;
  return outcome == Outcome::stopped_at_data ? 1 : 0;
}

std::string Trial::checkpoint_name(uint32_t point) const {
  return kit::checkpoint_file_name(set_.prefixes()[0], point);
}

std::vector<uint32_t> Trial::checkpoint_points() const {
  const std::filesystem::path prefix(set_.prefixes()[0]);
  const std::string base = prefix.filename().string() + "-checkpoint-writer.";
  const std::filesystem::path dir = prefix.parent_path();
  std::vector<uint32_t> points;
  for (const auto& entry : std::filesystem::directory_iterator(dir)) {
    const std::string name = entry.path().filename().string();
    if (name.compare(0, base.size(), base) != 0) continue;
    points.push_back(static_cast<uint32_t>(std::stol(name.substr(base.size()))));
  }
  return points;
}

void Trial::reset() {
  for (uint32_t point : checkpoint_points()) unlink(checkpoint_name(point).c_str());
  model_.clear();
  dest_point_ = 0;
  kill_window_point_.reset();
  kill_window_previous_.reset();
  asked_ = false;
}

void Trial::ask_for(uint32_t point) {
  dest_point_ = point;
  asked_ = true;
}

bool Trial::missing_file_explained(uint32_t point) const {
  if (asked_ || kill_window_point_ == point) return true;
  // Rotation removes the file of point P when the file of P + 10 is made.
  for (uint32_t p : checkpoint_points()) {
    if (p >= point + kFilesKept) return true;
  }
  return false;
}

std::optional<Expectation> Trial::expect() {
  Expectation e;
  e.point = dest_point_;
  e.stream_size = set_.stream().size();
  const std::string name = checkpoint_name(e.point);
  struct stat st;
  const bool file_exists = stat(name.c_str(), &st) == 0;
  // A transfer from the start still loads a file of point 0 when there is
  // one. Only a plain restart that started over makes one, at block 0 with
  // the count 0; a damaged one refuses the transfer.
  if (e.point == 0 && (!file_exists || st.st_size == kRecordSize)) {
    e.outcome = Outcome::fresh;
    e.first = 1;
    if (file_exists) {
      EXPECT_EQ(recorded_count(name), 0) << name;
    }
    return e;
  }
  if (file_exists) {
    if (st.st_size != kRecordSize) {
      if (kill_window_point_ != e.point) {
        ADD_FAILURE() << name << " holds " << st.st_size
                      << " bytes, yet no run was cut short there";
        return std::nullopt;
      }
      // Killed between the creation and the one write of the record.
      EXPECT_EQ(st.st_size, 0) << name;
      e.outcome = Outcome::corrupted;
      return e;
    }
    std::optional<Checkpoint> cp = model_.at(e.point);
    if (!cp) {
      ADD_FAILURE() << name << " exists, yet no run passed a header that opens point " << e.point;
      return std::nullopt;
    }
    const int64_t recorded = recorded_count(name);
    if (kill_window_point_ == e.point && kill_window_previous_ &&
        recorded == static_cast<int64_t>(kill_window_previous_->count)) {
      cp = kill_window_previous_;  // killed before the file was made again
    }
    EXPECT_EQ(recorded, static_cast<int64_t>(cp->count))
        << "blk_num recorded for point " << e.point << " at header " << cp->header;
    e.count = cp->count;
    e.first = set_.resume_block(cp->header, e.point);
    e.outcome = e.first >= e.stream_size   ? Outcome::nothing_left
                : !set_.header_at(e.first) ? Outcome::stopped_at_data
                                           : Outcome::resumed;
    return e;
  }
  if (!missing_file_explained(e.point)) {
    std::string on_disk;
    for (uint32_t p : checkpoint_points()) on_disk += " " + std::to_string(p);
    ADD_FAILURE() << "no checkpoint file for point " << e.point
                  << ", yet neither rotation nor a kill removed it; files for points" << on_disk;
    return std::nullopt;
  }
  if (e.point > kOptionalPointMax) {
    e.outcome = Outcome::not_found;
  } else if (set_.container()) {
    e.outcome = Outcome::refused;
  } else {
    e.outcome = Outcome::started_over;  // from offset 0 of the first file: block 0 again
    e.first = 0;
  }
  return e;
}

e2e::Playback Trial::play(const Expectation& e, const RunPlan& plan) {
  e2e::Playback p;
  const std::string password = kit::has_encryption(set_.recipe().format)
                                   ? set_.recipe().container.password + "\n"
                                   : std::string();
  kit::WriterProcess writer;
  if (!writer.start(e2e::writer_options(set_.writer_args(), password))) {
    ADD_FAILURE() << writer.error();
    return p;
  }
  // Connecting only once it listens spares the destination's retry pauses.
  writer.wait_for_output(kit::Output::err, kListening, e2e::kWriterTimeoutMs);

  kit::DestinationOptions d;
  d.restart_sync_point = e.point;
  if (plan.stop == Interruption::hang_up) d.hangup_after_blocks = plan.after_blocks;
  std::thread killer;
  if (plan.stop == Interruption::kill) {
    int64_t seen = -1;  // the reply is the block before the stream's first
    d.on_block = [&writer, &killer, &plan, seen](const kit::Block&) mutable {
      if (++seen != static_cast<int64_t>(plan.after_blocks)) return;
      killer = std::thread([&writer, delay = plan.kill_delay_us] {
        std::this_thread::sleep_for(std::chrono::microseconds(delay));
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

RunResult Trial::run(const Expectation& e, const RunPlan& requested) {
  asked_ = false;
  // Only a run that would reach its acknowledgement can be cut short at a
  // chosen block; the others end by themselves.
  RunPlan plan = requested;
  if (!e.reaches_ack() || plan.after_blocks > e.blocks() ||
      (plan.stop == Interruption::kill && plan.after_blocks == e.blocks())) {
    plan.stop = Interruption::none;
  }
  std::string how = "to the end";
  if (plan.stop == Interruption::hang_up) {
    how = "hung up after " + std::to_string(plan.after_blocks) + " blocks";
  } else if (plan.stop == Interruption::kill) {
    how = "killed " + std::to_string(plan.kill_delay_us) + " us after block " +
          std::to_string(plan.after_blocks);
  }
  SCOPED_TRACE(set_.recipe().name + ": restart point " + std::to_string(e.point) + ", " +
               outcome_name(e.outcome) + " at block " + std::to_string(e.first) + ", count " +
               std::to_string(e.count) + ", " + how);
  if (e.outcome == Outcome::resumed && set_.chunk_header_of(e.first) > 0) resumed_later_header_++;
  const e2e::Playback p = play(e, plan);
  RunResult result;
  result.seconds = p.dest.elapsed_seconds;
  if (check_refusal(e, p)) return result;
  result.cut_short = check_stream(e, plan, p);
  remember(e, result.cut_short ? plan.stop : Interruption::none, p.dest.blocks.size());
  return result;
}

bool Trial::check_refusal(const Expectation& e, const e2e::Playback& p) {
  const char* message = nullptr;
  std::string refused;
  switch (e.outcome) {
    case Outcome::not_found:
      message = kNotFound;
      break;
    case Outcome::corrupted:
      message = kCorrupted;
      break;
    case Outcome::refused:
      refused = refusal_text(e.point);
      message = refused.c_str();
      break;
    default:
      return false;
  }
  EXPECT_TRUE(p.status.exited && p.status.code == 255) << p.err;
  EXPECT_TRUE(contains(p.err, message)) << p.err;
  EXPECT_EQ(p.dest.reply_kind, kit::ReplyKind::none);
  return true;
}

bool Trial::check_stream(const Expectation& e, const RunPlan& plan, const e2e::Playback& p) {
  const size_t received = p.dest.blocks.size();
  if (p.dest.reply_kind != kit::ReplyKind::block) {
    ADD_FAILURE() << "no reply: " << p.err << p.dest.error;
    return false;
  }
  EXPECT_EQ(e2e::bytes_of({p.dest.reply}), e2e::expected_reply(set_.stream()[0], e.count));
  // Every block that arrived is the stored stream from the block the rules name.
  EXPECT_TRUE(e2e::same_blocks(e2e::bytes_of(p.dest.blocks),
                               e2e::bytes_of(set_.stream(), e.first, received)));
  EXPECT_LE(received, e.blocks());

  if (e.outcome == Outcome::nothing_left) {
    EXPECT_EQ(p.status.code, 255) << p.err;
    EXPECT_TRUE(contains(p.out, kInputEnded)) << p.out;
  } else if (e.outcome == Outcome::stopped_at_data) {
    EXPECT_EQ(p.status.code, 255) << p.err;
    EXPECT_TRUE(contains(p.err, kHeaderCheck)) << p.err;
    EXPECT_EQ(received, 1u);
  } else if (plan.stop == Interruption::hang_up) {
    EXPECT_TRUE(p.status.exited && p.status.code == 255) << p.err;
    EXPECT_EQ(received, plan.after_blocks);
    note_run_ahead(e, received);
    return true;
  } else if (plan.stop == Interruption::kill && !p.status.exited && !p.dest.complete) {
    EXPECT_TRUE(p.status.signaled && p.status.signal == SIGKILL) << p.err;
    EXPECT_GE(received, plan.after_blocks);
    return true;
  } else if (plan.stop == Interruption::kill && !p.status.exited) {
    // Killed after it echoed the acknowledgement, on its way out: the
    // transfer is complete and nothing is restarted.
    EXPECT_EQ(received, e.blocks());
  } else {
    EXPECT_EQ(p.status.code, 0) << p.err;
    EXPECT_EQ(received, e.blocks());
    if (!p.dest.complete) {
      ADD_FAILURE() << "incomplete: " << p.dest.error << p.dest.structure_error;
      return false;
    }
    EXPECT_FALSE(contains(p.err, kDigestMismatch)) << p.err;
    // The files of the last ten points are removed after the acknowledgement.
    const uint32_t end_point = kit::sync_num(set_.stream().back());
    for (uint32_t k = 0; k < kFilesKept && k <= end_point; k++) {
      EXPECT_NE(access(checkpoint_name(end_point - k).c_str(), F_OK), 0)
          << "point " << end_point - k;
    }
  }
  return false;
}

void Trial::note_run_ahead(const Expectation& e, size_t received) {
  // File-phase points are consecutive: the highest file on disk says how
  // far the writer got past what arrived.
  const std::optional<uint32_t> reached = set_.last_point(e.first, e.first + received);
  if (e.outcome != Outcome::fresh || !reached || *reached < LRD_RESTART_FILE_PHASE_BASE) return;
  for (uint32_t point : checkpoint_points()) {
    if (point > *reached) most_run_ahead_ = std::max(most_run_ahead_, point - *reached);
  }
}

void Trial::remember(const Expectation& e, Interruption stop, size_t received) {
  // Killed before its first block was out: it made no checkpoint, and what
  // an earlier kill left stays as it was.
  if (stop == Interruption::kill && received == 0) return;
  // A kill just after a header that opened its point may have come before
  // that point's checkpoint file was made, or before it was written.
  const size_t last_sent = e.first + received - 1;
  const bool killed_after_header =
      stop == Interruption::kill && received > 0 && set_.header_at(last_sent);
  const uint32_t header_point = killed_after_header ? kit::sync_num(set_.stream()[last_sent]) : 0;
  const std::optional<Checkpoint> before = model_.at(header_point);

  if (e.reaches_ack() || e.outcome == Outcome::stopped_at_data) {
    model_.run(set_, e.point, e.first, e.count, e.first + received);
    if (std::optional<uint32_t> point = set_.last_point(e.first, e.first + received)) {
      dest_point_ = *point;
    }
  }
  kill_window_point_.reset();
  kill_window_previous_.reset();
  const std::optional<Checkpoint> opened = model_.at(header_point);
  if (killed_after_header && opened && opened->header == last_sent) {
    kill_window_point_ = header_point;
    kill_window_previous_ = before;
  }
}

}  // namespace restarts
