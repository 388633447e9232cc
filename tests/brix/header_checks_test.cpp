// Inflating-mode header validation: every rule, with its exact message.
#include "header_checks.h"

#include <gtest/gtest.h>

#include <string>

#include "test_support.h"

namespace {

using testing_support::Block;
using testing_support::file_header;
using testing_support::header_block;
using testing_support::HeaderFields;
using testing_support::info_of;
using testing_support::TestSession;

struct Outcome {
  bool_t ok;
  std::string err;
};

Outcome check_all(TestSession& t, Block block) {
  testing::internal::CaptureStderr();
  bool_t ok = check_header_fully(&t.s, &info_of(block));
  return Outcome{ok, testing::internal::GetCapturedStderr()};
}

Outcome check_in_stage(int stage, Block block, uint32 restart = 0) {
  TestSession t;
  t.s.data_stage = stage;
  t.s.restart_checkpoint = restart;
  return check_all(t, block);
}

TEST(HeaderChecks, StageTableAdmitsAndRefusesTypes) {
  struct Case {
    int32 type;
    bool tree, files, ended;
  } cases[] = {
      {LR_HDR_START_STREAM, true, true, false},
      {LR_HDR_MID_STREAM, true, false, false},
      {LR_HDR_END_OF_STREAM, true, true, false},
      {LR_HDR_DELETED_FILE, true, false, false},
      {LR_HDR_STRMDIR_RELATIONSHIP, true, false, false},
      {LR_HDR_DISCARD_DATA, false, true, false},
      {LR_HDR_FILE, true, true, false},
      {LR_HDR_EXT_ATTR, true, true, false},
  };
  for (const Case& c : cases) {
    const bool admitted[] = {c.tree, c.files, c.ended};
    for (int stage = STAGE_TREE; stage <= STAGE_ENDED; stage++) {
      TestSession t;
      t.s.data_stage = stage;
      Block block = header_block(c.type, 0);
      testing::internal::CaptureStderr();
      bool_t ok = check_hdr_type(&t.s, &info_of(block));
      std::string err = testing::internal::GetCapturedStderr();
      EXPECT_EQ(ok == B_TRUE, admitted[stage]) << c.type << " in stage " << stage;
      if (!admitted[stage]) {
        EXPECT_EQ(err, "brix_reader: invalid stage " + std::to_string(stage) +
                           " header type : " + hdr_type_to_string(c.type) + "\n");
      }
    }
  }
}

TEST(HeaderChecks, TypesOutsideTheEnumerationAreInvalidInEveryStage) {
  for (int32 type : {0, -1, 7, 1023, 1026}) {
    Outcome o = check_in_stage(STAGE_TREE, header_block(type, 0));
    EXPECT_EQ(o.ok, B_FALSE);
    EXPECT_EQ(o.err,
              "brix_reader: invalid header type : LR_HDR_BOGUS(" + std::to_string(type) + ")\n");
  }
}

TEST(HeaderChecks, StageMovesAtMidStreamAndAtEndOfStreamInTheFilePhaseOnly) {
  TestSession t;
  Block end = header_block(LR_HDR_END_OF_STREAM, 0);
  ASSERT_EQ(check_hdr_type(&t.s, &info_of(end)), B_TRUE);
  EXPECT_EQ(t.s.data_stage, STAGE_TREE);  // an end header in the tree phase stays there
  Block mid = header_block(LR_HDR_MID_STREAM, 101);
  ASSERT_EQ(check_hdr_type(&t.s, &info_of(mid)), B_TRUE);
  EXPECT_EQ(t.s.data_stage, STAGE_FILES);
  Block end2 = header_block(LR_HDR_END_OF_STREAM, 101);
  ASSERT_EQ(check_hdr_type(&t.s, &info_of(end2)), B_TRUE);
  EXPECT_EQ(t.s.data_stage, STAGE_ENDED);
}

TEST(HeaderChecks, MidStreamHeaderMustAlreadyCarryAFilePhasePoint) {
  Outcome o = check_in_stage(STAGE_TREE, header_block(LR_HDR_MID_STREAM, 0));
  EXPECT_EQ(o.ok, B_FALSE);
  EXPECT_EQ(o.err, "brix_reader: invalid stage 1 checkpoint: 0\n");
}

TEST(HeaderChecks, SynchronisationPointRules) {
  struct Case {
    int stage;
    uint32 restart, sync;
    const char* err;  // null when accepted
  } cases[] = {
      {STAGE_TREE, 0, 0, nullptr},
      {STAGE_TREE, 0, 5, "brix_reader: invalid stage 0 checkpoint: 5\n"},
      {STAGE_FILES, 0, 101, nullptr},
      {STAGE_FILES, 120, 120, nullptr},
      {STAGE_FILES, 0, 100, "brix_reader: invalid stage 1 checkpoint: 100\n"},
      {STAGE_FILES, 120, 119, "brix_reader: checkpoint in reverse: 120 to 119\n"},
      {STAGE_FILES, 120, 7, "brix_reader: invalid stage 1 checkpoint: 7\n"},
  };
  for (const Case& c : cases) {
    TestSession t;
    t.s.data_stage = c.stage;
    t.s.restart_checkpoint = c.restart;
    Block block = header_block(LR_HDR_DISCARD_DATA, c.sync);
    testing::internal::CaptureStderr();
    bool_t ok = check_sync_num(&t.s, &info_of(block));
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(ok == B_TRUE, c.err == nullptr) << c.sync;
    EXPECT_EQ(err, c.err ? c.err : "") << c.sync;
    if (ok) {
      EXPECT_EQ(t.s.restart_checkpoint, c.sync);
    }
  }
}

TEST(HeaderChecks, PointIsFollowedOnlyForArchivistBaselineWithHbak) {
  for (rpl_Command cmd : {RPLCMD_RCQTREE, RPLCMD_ACRESTORE}) {
    TestSession t;
    t.s.cmd = cmd;
    t.s.data_stage = STAGE_FILES;
    Block block = header_block(LR_HDR_DISCARD_DATA, 150);
    EXPECT_EQ(check_sync_num(&t.s, &info_of(block)), B_TRUE);
    EXPECT_EQ(t.s.restart_checkpoint, 0u);
  }
  TestSession t;
  t.s.hbak = B_FALSE;
  t.s.data_stage = STAGE_FILES;
  Block block = header_block(LR_HDR_DISCARD_DATA, 150);
  EXPECT_EQ(check_sync_num(&t.s, &info_of(block)), B_TRUE);
  EXPECT_EQ(t.s.restart_checkpoint, 0u);
}

TEST(HeaderChecks, FollowingBlocks) {
  Outcome o = check_in_stage(STAGE_TREE, header_block(LR_HDR_DELETED_FILE, 0, 1));
  EXPECT_EQ(o.err, "brix_reader: invalid number of following blocks for standalone header: 1\n");

  o = check_in_stage(STAGE_FILES, file_header(101, 513, 0, FILE_TYPE_REGULAR));
  EXPECT_EQ(o.err, "brix_reader: invalid following blocks: 513\n");

  TestSession t;
  t.s.data_stage = STAGE_FILES;
  Outcome ok = check_all(t, file_header(101, 512, 0, FILE_TYPE_REGULAR));
  EXPECT_EQ(ok.ok, B_TRUE) << ok.err;
  EXPECT_EQ(t.s.data_blks_til_header, 512u);
}

TEST(HeaderChecks, EntryCounts) {
  struct Case {
    int32 type;
    uint32 following, entries, holes;
    const char* err;
  } cases[] = {
      {LR_HDR_DELETED_FILE, 0, 256, 0, nullptr},
      {LR_HDR_STRMDIR_RELATIONSHIP, 0, 257, 0,
       "brix_reader: invalid following entries 257 for header type: LR_HDR_STRMDIR_RELATIONSHIP\n"},
      {LR_HDR_FILE, 0, 513, 0,
       "brix_reader: invalid following entries 513 for header type: LR_HDR_FILE\n"},
      {LR_HDR_EXT_ATTR, 3, 2, 0, "brix_reader: more blocks 3 than following entries: 2\n"},
      {LR_HDR_FILE, 3, 5, 1, "brix_reader: mismatch between entries 5 blocks 3 and holes 1\n"},
      {LR_HDR_FILE, 3, 5, 2, nullptr},
  };
  for (const Case& c : cases) {
    HeaderFields f;
    f.type = c.type;
    f.following = c.following;
    f.entries = c.entries;
    f.holes = c.holes;
    TestSession t;
    Block block = header_block(f);
    testing::internal::CaptureStderr();
    bool_t ok = check_valid_entries(&t.s, &info_of(block));
    EXPECT_EQ(testing::internal::GetCapturedStderr(), c.err ? c.err : "");
    EXPECT_EQ(ok == B_TRUE, c.err == nullptr);
  }
}

TEST(HeaderChecks, EntryCountsAreNotCheckedWithoutHbak) {
  HeaderFields f;
  f.type = LR_HDR_FILE;
  f.sync = 101;
  f.following = 3;
  f.entries = 1;
  TestSession t;
  t.s.hbak = B_FALSE;
  t.s.data_stage = STAGE_FILES;
  EXPECT_EQ(check_all(t, header_block(f)).ok, B_TRUE);
}

TEST(HeaderChecks, HoleBytesMustBeZeroOrOneAndMatchTheCount) {
  Block bad = file_header(101, 3, 2, FILE_TYPE_REGULAR);
  info_of(bad).h_holes[7] = 'A';  // found before the count is compared
  TestSession t;
  testing::internal::CaptureStderr();
  EXPECT_EQ(check_holes(&t.s, &info_of(bad)), B_FALSE);
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "brix_reader: invalid hole value: A, offset 7\n");

  Block miscounted = file_header(101, 3, 2, FILE_TYPE_REGULAR);
  info_of(miscounted).h_holes[300] = 1;
  testing::internal::CaptureStderr();
  EXPECT_EQ(check_holes(&t.s, &info_of(miscounted)), B_FALSE);
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "brix_reader: invalid num holes found: 3, expected 2\n");

  Block standalone = header_block(LR_HDR_DISCARD_DATA, 101);
  info_of(standalone).h_holes[0] = 9;  // not looked at for standalone headers
  EXPECT_EQ(check_holes(&t.s, &info_of(standalone)), B_TRUE);
}

TEST(HeaderChecks, FileTypesMustSuitTheStage) {
  struct Case {
    int stage;
    uint32 file_type;
    const char* err;
  } cases[] = {
      {STAGE_TREE, FILE_TYPE_DIRECTORY, nullptr},
      {STAGE_TREE, FILE_TYPE_SYMLINK, nullptr},
      {STAGE_TREE, FILE_TYPE_REGULAR,
       "brix_reader: invalid stage 0 file type : FILE_TYPE_REGULAR\n"},
      {STAGE_TREE, FILE_TYPE_VDISK, "brix_reader: invalid stage 0 file type : FILE_TYPE_VDISK\n"},
      {STAGE_FILES, FILE_TYPE_NTSTREAM, nullptr},
      {STAGE_FILES, FILE_TYPE_FIFO, nullptr},
      {STAGE_FILES, FILE_TYPE_NTSTREAM_DIR,
       "brix_reader: invalid stage 1 file type : FILE_TYPE_NTSTREAM_DIR\n"},
      {STAGE_ENDED, FILE_TYPE_DIRECTORY,
       "brix_reader: invalid stage 2 file type : FILE_TYPE_DIRECTORY\n"},
      {STAGE_FILES, 0, "brix_reader: Invalid filetype: FILETYPE_BOGUS(0)\n"},
      {STAGE_TREE, 16, "brix_reader: Invalid filetype: FILETYPE_BOGUS(16)\n"},
  };
  for (const Case& c : cases) {
    TestSession t;
    t.s.data_stage = c.stage;
    Block block = file_header(101, 0, 0, c.file_type);
    testing::internal::CaptureStderr();
    bool_t ok = check_metadata(&t.s, &info_of(block));
    EXPECT_EQ(testing::internal::GetCapturedStderr(), c.err ? c.err : "") << c.file_type;
    EXPECT_EQ(ok == B_TRUE, c.err == nullptr);
  }
}

TEST(HeaderChecks, ExtendedAttributeTypeMustBeOneToSeventeen) {
  for (uint32 type : {0u, 1u, 17u, 18u}) {
    HeaderFields f;
    f.type = LR_HDR_EXT_ATTR;
    f.ea_type = type;
    TestSession t;
    Block block = header_block(f);
    testing::internal::CaptureStderr();
    bool_t ok = check_ea_metadata(&t.s, &info_of(block));
    std::string err = testing::internal::GetCapturedStderr();
    bool valid = type >= 1 && type <= 17;
    EXPECT_EQ(ok == B_TRUE, valid) << type;
    EXPECT_EQ(err,
              valid ? "" : "brix_reader: Invalid metafiletype: " + std::to_string(type) + "\n");
  }
}

}  // namespace
