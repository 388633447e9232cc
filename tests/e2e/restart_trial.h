// One trial of interruptions and restarts against a stored set: a fresh
// transfer, then runs that each ask for the point the destination last
// reached, each cut short by a hang-up or a SIGKILL or left to finish. Every
// run is checked against what the checkpoint rules fix: the outcome, the
// reply's block count, every block sent, the digest checks.
#ifndef TESTS_E2E_RESTART_TRIAL_H
#define TESTS_E2E_RESTART_TRIAL_H

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "e2e_support.h"
#include "restart_model.h"

namespace restarts {

// How a run began, as the rules predict it from the checkpoint files on disk.
enum class Outcome {
  fresh,            // point 0: the transfer from the start (no file, or an intact one, of point 0)
  resumed,          // a checkpoint was loaded; the stream goes on from the block the rules name
  stopped_at_data,  // ... and that block is a file's data: it goes out, the header check fails
  nothing_left,     // ... and the rules name no block at all: the input ends there
  started_over,     // plain set, tree-phase point without a file: the stream from its first block
  not_found,        // "could not find checkpoint file \n"
  corrupted,        // "checkpoint file is corrupted\n" (a file cut short by a kill)
  refused           // container, point without a file: no position to resume from
};
constexpr int kOutcomes = static_cast<int>(Outcome::refused) + 1;
const char* outcome_name(Outcome outcome);

enum class Interruption { none, hang_up, kill };

struct RunPlan {
  Interruption stop = Interruption::none;
  // Hang-up: after this many stream blocks. Kill: the clock starts when this
  // many have arrived (0: at the reply) ...
  uint64_t after_blocks = 0;
  // ... and the signal goes out this much later, while the destination goes
  // on reading; a writer that has finished by then is not cut short.
  int kill_delay_us = 0;
};

struct RunResult {
  bool cut_short = false;  // the run was interrupted as planned
  double seconds = 0;      // the destination's time from connecting to the end
};

// What the next run will do, before it runs.
struct Expectation {
  uint32_t point = 0;  // the point the destination asks for
  Outcome outcome = Outcome::fresh;
  size_t first = 0;    // stream index of the first block sent after the reply
  uint64_t count = 0;  // ndr_blks_done of the reply
  size_t stream_size = 0;

  // Stream blocks the run sends when nothing stops it.
  uint64_t blocks() const;
  // The run sends the whole rest of the stream and waits for the
  // acknowledgement: it can be cut short at any of its blocks.
  bool reaches_ack() const;
};

class Trial {
 public:
  explicit Trial(const StoredSet& set) : set_(set) {}

  // Removes every checkpoint file: the next run is a fresh transfer.
  void reset();
  // The outcome the rules predict for the next run, from the files on disk.
  // Fails the test (and returns nullopt) when the files on disk cannot be
  // explained by the runs so far.
  std::optional<Expectation> expect();
  // Runs the writer once as planned and checks everything against `e`,
  // which must come from expect() just before.
  RunResult run(const Expectation& e, const RunPlan& plan);

  // Most points by which a hung-up writer's checkpoint files ran ahead of
  // the destination's point.
  uint32_t most_run_ahead() const { return most_run_ahead_; }
  // Restarts that resumed inside a chunk listed by a later chunk header
  // than the first of its file's table.
  uint64_t resumed_under_later_chunk_headers() const { return resumed_later_header_; }
  // Makes the destination ask for `point` next, whether or not any run
  // left a file for it.
  void ask_for(uint32_t point);

 private:
  e2e::Playback play(const Expectation& e, const RunPlan& plan);
  // Checks a run that was to fail before its reply; false for the others.
  bool check_refusal(const Expectation& e, const e2e::Playback& p);
  // Checks a run that sent its reply; true when it was cut short.
  bool check_stream(const Expectation& e, const RunPlan& plan, const e2e::Playback& p);
  void note_run_ahead(const Expectation& e, size_t received);
  // What the run left behind: its checkpoints, the destination's point.
  void remember(const Expectation& e, Interruption stop, size_t received);
  bool missing_file_explained(uint32_t point) const;
  std::string checkpoint_name(uint32_t point) const;
  // Points of the checkpoint files on disk.
  std::vector<uint32_t> checkpoint_points() const;

  const StoredSet& set_;
  CheckpointModel model_;
  uint32_t dest_point_ = 0;  // the point of the last header the destination received
  // The last run was killed right after sending the header that opens this
  // point: its checkpoint file may be missing, empty, or still the one an
  // earlier run left (kill_window_previous_).
  std::optional<uint32_t> kill_window_point_;
  std::optional<Checkpoint> kill_window_previous_;
  bool asked_ = false;  // the point was named by the test, not reached by the destination
  uint32_t most_run_ahead_ = 0;
  uint64_t resumed_later_header_ = 0;
};

}  // namespace restarts

#endif  // TESTS_E2E_RESTART_TRIAL_H
