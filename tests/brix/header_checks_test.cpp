// The inflating mode's header rules: which types each stage admits, how the
// stage moves, and every rule on points, counts, holes and types, each with
// its exact message.
#include "header_checks.h"

#include <gtest/gtest.h>

#include <string>

#include "kit/owned_session.h"

namespace {

struct Outcome {
  bool ok;
  std::string err;
};

// Checks `h` fully in a fresh session at `stage`, after point `restart`.
Outcome check(const lr_hdr_info& h, int stage, uint32 restart = 0, bool hbak = true,
              kit::OwnedSession* session = nullptr) {
  kit::OwnedSession fresh;
  rpl_Session& s = (session != nullptr ? *session : fresh).s;
  s.data_stage = stage;
  s.restart_checkpoint = restart;
  s.hbak = hbak ? B_TRUE : B_FALSE;
  testing::internal::CaptureStderr();
  bool_t ok = check_header_fully(&s, &h);
  return Outcome{ok == B_TRUE, testing::internal::GetCapturedStderr()};
}

// A FILE header that passes every rule of its stage: a directory at point 0
// in the tree phase, a regular file at 101 in the file phase.
lr_hdr_info good_header(int stage) {
  lr_hdr_info h{};
  h.h_magic = LR_HDR_MAGIC;
  h.h_hdr_type = LR_HDR_FILE;
  h.h_sync_num = stage == STAGE_TREE ? 0 : 101;
  h.h_file_metadata.ri_file_type = stage == STAGE_TREE ? FILE_TYPE_DIRECTORY : FILE_TYPE_REGULAR;
  h.h_attr_metadata.rea_type = EXT_ATTR_TYPE_NT_ACL;
  return h;
}

TEST(HeaderChecks, EachStageAdmitsItsHeaderTypes) {
  struct Case {
    int32 type;
    bool tree, files;  // no type is admitted once the stream has ended
  } cases[] = {
      {LR_HDR_START_STREAM, true, true},
      {LR_HDR_MID_STREAM, true, false},
      {LR_HDR_END_OF_STREAM, true, true},
      {LR_HDR_DELETED_FILE, true, false},
      {LR_HDR_STRMDIR_RELATIONSHIP, true, false},
      {LR_HDR_DISCARD_DATA, false, true},
      {LR_HDR_FILE, true, true},
      {LR_HDR_EXT_ATTR, true, true},
  };
  for (const Case& c : cases) {
    for (int stage : {STAGE_TREE, STAGE_FILES, STAGE_ENDED}) {
      kit::OwnedSession t;
      t.s.data_stage = stage;
      lr_hdr_info h = good_header(STAGE_TREE);
      h.h_hdr_type = c.type;
      testing::internal::CaptureStderr();
      bool_t ok = check_hdr_type(&t.s, &h);
      std::string err = testing::internal::GetCapturedStderr();
      const bool admitted = stage == STAGE_TREE ? c.tree : stage == STAGE_FILES && c.files;
      EXPECT_EQ(ok == B_TRUE, admitted) << c.type << " in stage " << stage;
      EXPECT_EQ(err, admitted ? ""
                              : "brix_reader: invalid stage " + std::to_string(stage) +
                                    " header type : " + hdr_type_to_string(c.type) + "\n");
    }
  }
}

// The file phase begins at the mid-stream header; an end header ends the
// stream only there: one in the tree phase leaves tree headers admitted.
TEST(HeaderChecks, StageMovesAtMidStreamAndAtEndOfStreamInTheFilePhaseOnly) {
  kit::OwnedSession t;
  const struct {
    int32 type;
    uint32 sync;
    int stage_after;
  } steps[] = {{LR_HDR_END_OF_STREAM, 0, STAGE_TREE},
               {LR_HDR_DELETED_FILE, 0, STAGE_TREE},
               {LR_HDR_MID_STREAM, 101, STAGE_FILES},
               {LR_HDR_END_OF_STREAM, 101, STAGE_ENDED}};
  for (const auto& step : steps) {
    lr_hdr_info h = good_header(STAGE_TREE);
    h.h_hdr_type = step.type;
    h.h_sync_num = static_cast<int32>(step.sync);
    EXPECT_TRUE(check(h, t.s.data_stage, t.s.restart_checkpoint, true, &t).ok) << step.type;
    EXPECT_EQ(t.s.data_stage, step.stage_after) << step.type;
  }
}

// A header for a rule's row: good_header(stage) with the fields changed.
struct Row {
  explicit Row(int stage_, uint32 restart_ = 0)
      : h(good_header(stage_)), stage(stage_), restart(restart_) {}
  Row& type(int32 t) {
    h.h_hdr_type = t;
    return *this;
  }
  Row& sync(uint32 point) {
    h.h_sync_num = static_cast<int32>(point);
    return *this;
  }
  // Blocks, then holes at the start of h_holes; entries are their sum.
  Row& entries(uint32 blocks, uint32 holes = 0) { return counts(blocks, blocks + holes, holes); }
  Row& counts(uint32 blocks, uint32 entries, uint32 holes) {
    h.h_blks_until_hdr = blocks;
    h.h_valid_data_entries = entries;
    h.h_hole_entries = holes;
    for (uint32 i = 0; i < holes; i++) h.h_holes[i] = 1;
    return *this;
  }
  Row& hole_byte(int at, char value) {
    h.h_holes[at] = value;
    return *this;
  }
  Row& file_type(uint32 f) {
    h.h_file_metadata.ri_file_type = f;
    return *this;
  }
  Row& attribute(uint32 a) {
    h.h_hdr_type = LR_HDR_EXT_ATTR;
    h.h_attr_metadata.rea_type = a;
    return *this;
  }
  Row& without_hbak() {
    hbak = false;
    return *this;
  }
  lr_hdr_info h;
  int stage;
  uint32 restart;
  bool hbak = true;
};

TEST(HeaderChecks, EveryRuleRefusesWithItsMessage) {
  const int tree = STAGE_TREE, files = STAGE_FILES;
  const struct {
    const char* what;
    Row row;
    const char* err;  // null: accepted
  } cases[] = {
      {"unknown type", Row(tree).type(7), "brix_reader: invalid header type : LR_HDR_BOGUS(7)\n"},
      {"type 0", Row(tree).type(0), "brix_reader: invalid header type : LR_HDR_BOGUS(0)\n"},
      {"mid-stream header at a tree point", Row(tree).type(LR_HDR_MID_STREAM),
       "brix_reader: invalid stage 1 checkpoint: 0\n"},
      {"tree header past point 0", Row(tree).sync(5),
       "brix_reader: invalid stage 0 checkpoint: 5\n"},
      {"file-phase point 100", Row(files).sync(100),
       "brix_reader: invalid stage 1 checkpoint: 100\n"},
      {"the same point again", Row(files, 120).sync(120), nullptr},
      {"a point going back", Row(files, 120).sync(119),
       "brix_reader: checkpoint in reverse: 120 to 119\n"},
      {"a tree point after file-phase ones", Row(files, 120).sync(7),
       "brix_reader: invalid stage 1 checkpoint: 7\n"},
      {"standalone header with blocks", Row(tree).type(LR_HDR_DELETED_FILE).counts(1, 0, 0),
       "brix_reader: invalid number of following blocks for standalone header: 1\n"},
      {"512 blocks", Row(files).entries(512), nullptr},
      {"513 blocks", Row(files).entries(513), "brix_reader: invalid following blocks: 513\n"},
      {"256 deleted files", Row(tree).type(LR_HDR_DELETED_FILE).counts(0, 256, 0), nullptr},
      {"257 stream directory entries",
       Row(tree).type(LR_HDR_STRMDIR_RELATIONSHIP).counts(0, 257, 0),
       "brix_reader: invalid following entries 257 for header type: "
       "LR_HDR_STRMDIR_RELATIONSHIP\n"},
      {"513 entries", Row(files).counts(0, 513, 0),
       "brix_reader: invalid following entries 513 for header type: LR_HDR_FILE\n"},
      {"more blocks than entries", Row(files).attribute(1).counts(3, 2, 0),
       "brix_reader: more blocks 3 than following entries: 2\n"},
      {"more blocks than entries, without hbak", Row(files).counts(3, 2, 0).without_hbak(),
       nullptr},
      {"entries neither blocks nor holes", Row(files).counts(3, 5, 1),
       "brix_reader: mismatch between entries 5 blocks 3 and holes 1\n"},
      {"blocks and holes", Row(files).entries(3, 2), nullptr},
      {"a hole byte neither 0 nor 1", Row(files).hole_byte(7, 'A'),
       "brix_reader: invalid hole value: A, offset 7\n"},
      {"more hole bytes than holes", Row(files).hole_byte(300, 1),
       "brix_reader: invalid num holes found: 1, expected 0\n"},
      {"hole bytes of a standalone header", Row(files).type(LR_HDR_DISCARD_DATA).hole_byte(0, 9),
       nullptr},
      {"symbolic link in the tree", Row(tree).file_type(FILE_TYPE_SYMLINK), nullptr},
      {"regular file in the tree", Row(tree).file_type(FILE_TYPE_REGULAR),
       "brix_reader: invalid stage 0 file type : FILE_TYPE_REGULAR\n"},
      {"virtual disk in the tree", Row(tree).file_type(FILE_TYPE_VDISK),
       "brix_reader: invalid stage 0 file type : FILE_TYPE_VDISK\n"},
      {"FIFO among the files", Row(files).file_type(FILE_TYPE_FIFO), nullptr},
      {"stream directory among the files", Row(files).file_type(FILE_TYPE_NTSTREAM_DIR),
       "brix_reader: invalid stage 1 file type : FILE_TYPE_NTSTREAM_DIR\n"},
      {"file type 0", Row(files).file_type(0),
       "brix_reader: Invalid filetype: FILETYPE_BOGUS(0)\n"},
      {"file type 16", Row(tree).file_type(16),
       "brix_reader: Invalid filetype: FILETYPE_BOGUS(16)\n"},
      {"attribute type 17", Row(files).attribute(17), nullptr},
      {"attribute type 18", Row(files).attribute(18), "brix_reader: Invalid metafiletype: 18\n"},
      {"attribute type 0", Row(files).attribute(0), "brix_reader: Invalid metafiletype: 0\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Outcome o = check(c.row.h, c.row.stage, c.row.restart, c.row.hbak);
    EXPECT_EQ(o.ok, c.err == nullptr);
    EXPECT_EQ(o.err, c.err != nullptr ? c.err : "");
  }
}

}  // namespace
