// The fixed dump sets of the checkpoint and negotiation targets.
#include "fixed_sets.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <unordered_set>

#include "brix_comp_encr.h"
#include "dump_set.h"
#include "fuzz_support.h"
#include "reading_state.h"
#include "rehearsal/dump_writer.h"
#include "rehearsal/stream_gen.h"
#include "send_stream.h"

namespace fuzz {

namespace {

// Small, but with every header kind, several synchronisation points and
// (in the container) several chunks per file.
kit::Stream fixed_stream() {
  kit::StreamShape shape;
  shape.seed = 7;
  shape.directories = 2;
  shape.files = 4;
  shape.max_file_blocks = 5;
  shape.headers_per_sync = 2;
  return kit::generate_stream(shape);
}

// Two prefixes: <name>.0 and .1 under the first, <name>_b.0 and .1 under
// the second.
kit::DumpSetLayout fixed_layout(const std::string& dir, FixedSet which) {
  const std::string prefix = dir + "/" + fixed_set_name(which);
  kit::DumpSetLayout layout = kit::multi_prefix_layout({prefix, prefix + "_b"}, {{6, 9}, {7}});
  if (which == FixedSet::sealed) {
    kit::set_format(layout, kit::DumpFormat::compressed_encrypted);
    layout.container.password = kFuzzPassword;
    layout.container.mode = 2;
    layout.container.max_chunk_blocks = 3;
  }
  return layout;
}

void remove_checkpoint_files(const std::string& dir) {
  for (const CheckpointFile& file : checkpoint_files_in(dir)) unlink(file.path.c_str());
}

// Plays the set once as a fresh archivist transfer into a sink and keeps the
// checkpoint files it writes, in the order of their points.
std::vector<FixedCheckpoint> record_checkpoints(const std::string& dir, FixedSet which) {
  {
    FuzzSession f;
    MemorySink sink;
    f.s.client_fd = sink.fd();
    int error = 0;
    for (const std::string& prefix : fixed_layout(dir, which).prefixes) f.add_prefix(prefix);
    require(open_fixed_set(&f.s) && read_dump_block2(&f.s, &error) && send_rpl_stream(&f.s) &&
                f.s.cur_hdr == LR_HDR_END_OF_STREAM,
            "a fixed set does not play");
    close_input_file(&f.s);
    close_input_dump(&f.s);
  }
  std::vector<FixedCheckpoint> records;
  for (const CheckpointFile& file : checkpoint_files_in(dir)) {
    std::string bytes, error;
    require(kit::read_file(file.path, bytes, error), "a checkpoint file cannot be read back");
    records.push_back(FixedCheckpoint{file.point, bytes});
  }
  remove_checkpoint_files(dir);
  std::sort(records.begin(), records.end(),
            [](const FixedCheckpoint& a, const FixedCheckpoint& b) { return a.point < b.point; });
  require(!records.empty(), "a fixed set left no checkpoint file");
  return records;
}

struct Sets {
  std::string dir;
  kit::Stream stream;
  std::unordered_set<std::string> blocks;  // the stream's blocks, for lookups
  std::vector<FixedCheckpoint> checkpoints[2];
};

const Sets& sets() {
  static const Sets made = [] {
    Sets s;
    s.dir = scratch_dir() + "/sets";
    require(mkdir(s.dir.c_str(), 0700) == 0, "cannot make the fixed sets directory");
    s.stream = fixed_stream();
    for (const kit::Block& b : s.stream) {
      s.blocks.emplace(reinterpret_cast<const char*>(b.bytes), LR_BLOCK_SIZE);
    }
    for (FixedSet which : {FixedSet::plain, FixedSet::sealed}) {
      require(kit::write_dump_set(fixed_layout(s.dir, which), s.stream).ok(),
              "cannot write a fixed set");
      s.checkpoints[static_cast<int>(which)] = record_checkpoints(s.dir, which);
    }
    return s;
  }();
  return made;
}

}  // namespace

const char* fixed_set_name(FixedSet which) { return which == FixedSet::plain ? "plain" : "sealed"; }

void prepare_fixed_sets() { sets(); }

const std::string& fixed_sets_dir() { return sets().dir; }

std::vector<std::string> fixed_set_prefixes(FixedSet which) {
  return fixed_layout(fixed_sets_dir(), which).prefixes;
}

bool is_fixed_stream_block(const char* block) {
  return sets().blocks.count(std::string(block, LR_BLOCK_SIZE)) == 1;
}

const kit::Stream& fixed_set_stream() { return sets().stream; }

const std::vector<FixedCheckpoint>& fixed_set_checkpoints(FixedSet which) {
  return sets().checkpoints[static_cast<int>(which)];
}

void restore_fixed_set_checkpoints() {
  remove_checkpoint_files(fixed_sets_dir());
  for (FixedSet which : {FixedSet::plain, FixedSet::sealed}) {
    const std::string first_prefix = fixed_set_prefixes(which)[0];
    for (const FixedCheckpoint& c : fixed_set_checkpoints(which)) {
      write_whole_file(kit::checkpoint_file_name(first_prefix, c.point), c.bytes.data(),
                       c.bytes.size());
    }
  }
}

bool open_fixed_set(rpl_Session* session) {
  snprintf(session->encr_passwd, sizeof(session->encr_passwd), "%s", kFuzzPassword);
  if (!open_input_dump(session)) return false;
  detect_container_kind(session);
  return prepare_input_dump(session) == B_TRUE;
}

}  // namespace fuzz
