// The structure check and the inflating-mode rules catch each kind of
// damage done to a well-formed stream, with the block where it lies.
#include "kit/stream_check.h"

#include <gtest/gtest.h>

#include <functional>

#include "kit/inflate.h"
#include "kit/stream_gen.h"

namespace kit {
namespace {

Stream sample() {
  StreamShape shape;
  shape.directories = 2;
  shape.files = 4;
  shape.headers_per_sync = 1;
  return generate_stream(shape);
}

size_t at(const Stream& s, int32_t type, size_t nth = 0, Form form = Form::full) {
  const long i = find_header(s, type, nth, form);
  EXPECT_GE(i, 0) << "no header of type " << type;
  return static_cast<size_t>(i);
}

// One damaged block: the n-th header of a type, or a block `skip` places after it.
struct Damage {
  const char* what;
  int32_t type;
  size_t nth;
  size_t skip;
  std::function<void(Block&)> edit;
  const char* fault;
};

// Applies the damage and expects the checker's first fault at that block.
void expect_fault(const Damage& c, Stream s, Form form,
                  const std::function<std::string(const Stream&)>& check) {
  ASSERT_EQ(check(s), "") << c.what;
  const size_t i = at(s, c.type, c.nth, form) + c.skip;
  c.edit(s[i]);
  const std::string fault = check(s);
  EXPECT_EQ(fault.rfind("block " + std::to_string(i) + ": ", 0), 0u) << c.what << ": " << fault;
  EXPECT_NE(fault.find(c.fault), std::string::npos) << c.what << ": " << fault;
}

TEST(StructureCheck, EachDamageIsReportedAtItsBlock) {
  const Damage cases[] = {
      {"missing magic", LR_HDR_MID_STREAM, 0, 0, break_magic,
       "header expected, found a data block"},
      {"invalid type", LR_HDR_DISCARD_DATA, 0, 0, [](Block& b) { set_hdr_type(b, 7); },
       "invalid header type LR_HDR_BOGUS(7)"},
      {"standalone with data", LR_HDR_DISCARD_DATA, 0, 0,
       [](Block& b) { set_following_blocks(b, 1); },
       "LR_HDR_DISCARD_DATA announces 1 following blocks"},
      {"too many following", LR_HDR_FILE, 3, 0, [](Block& b) { set_following_blocks(b, 513); },
       "more than 512"},
      {"no start header", LR_HDR_START_STREAM, 0, 0,
       [](Block& b) { set_hdr_type(b, LR_HDR_DELETED_FILE); },
       "does not begin with a start-of-stream header"},
      {"directory block", LR_HDR_FILE, 0, 1, [](Block& b) { b.bytes[0] ^= 1; },
       "directory block: bad entry magic at offset 0"},
  };
  for (const Damage& c : cases) {
    expect_fault(c, sample(), Form::full,
                 [](const Stream& s) { return check_stream_structure(s); });
  }
}

TEST(StructureCheck, BlocksAfterTheEndHeaderAreReported) {
  Stream s = sample();
  s.push_back(s[1]);
  EXPECT_EQ(check_stream_structure(s),
            "block " + std::to_string(s.size() - 1) + ": block after the end-of-stream header");
}

TEST(StructureCheck, StreamsThatStopEarlyAreIncomplete) {
  Stream s = sample();
  s.pop_back();
  EXPECT_NE(check_stream_structure(s).find("ends without an end-of-stream header"),
            std::string::npos);
  StructureOptions no_end;
  no_end.require_end = false;
  EXPECT_EQ(check_stream_structure(s, no_end), "");
  const size_t file = at(s, LR_HDR_FILE, 2);
  s.resize(file + 1);
  ASSERT_GT(following_blocks(s[file]), 0u);
  EXPECT_NE(check_stream_structure(s).find("data blocks still due"), std::string::npos);
}

TEST(StructureCheck, IncrementalCheckerKnowsWhenTheStreamHasEnded) {
  const Stream s = sample();
  StructureChecker checker;
  for (size_t i = 0; i < s.size(); ++i) {
    EXPECT_FALSE(checker.at_end()) << i;
    checker.feed(s[i]);
  }
  EXPECT_TRUE(checker.at_end());
  checker.finish();
  EXPECT_TRUE(checker.ok()) << checker.error();
  EXPECT_EQ(checker.blocks(), s.size());
  EXPECT_EQ(checker.headers_by_type().at(LR_HDR_FILE),
            static_cast<uint64_t>(std::count_if(s.begin(), s.end(), [](const Block& b) {
              return is_header(b) && hdr_type(b) == LR_HDR_FILE;
            })));
}

TEST(InflatingRules, EachBrokenRuleIsReportedAtItsHeader) {
  const Damage cases[] = {
      {"mid-stream at point 0", LR_HDR_MID_STREAM, 0, 0, [](Block& b) { set_sync_num(b, 0); },
       "synchronisation point 0 in stage 1"},
      {"tree header at point 5", LR_HDR_DELETED_FILE, 0, 0, [](Block& b) { set_sync_num(b, 5); },
       "synchronisation point 5 in stage 0"},
      {"point going back", LR_HDR_FILE, 4, 0, [](Block& b) { set_sync_num(b, 101); },
       "synchronisation point back from"},
      {"deleted list in file phase", LR_HDR_DISCARD_DATA, 0, 0,
       [](Block& b) { set_hdr_type(b, LR_HDR_DELETED_FILE); },
       "LR_HDR_DELETED_FILE refused in stage 1"},
      {"discard in tree phase", LR_HDR_DELETED_FILE, 0, 0,
       [](Block& b) { set_hdr_type(b, LR_HDR_DISCARD_DATA); },
       "LR_HDR_DISCARD_DATA refused in stage 0"},
      {"list too long", LR_HDR_DELETED_FILE, 0, 0, [](Block& b) { set_valid_entries(b, 257); },
       "257 entries, more than 256"},
      {"entries mismatch", LR_HDR_FILE, 3, 0,
       [](Block& b) { set_valid_entries(b, valid_entries(b) + 1); },
       "differ from blocks plus holes"},
      {"hole byte 2", LR_HDR_FILE, 3, 0, [](Block& b) { hdr(b).h_holes[300] = 2; },
       "hole byte 2 at index 300"},
      {"regular file in tree phase", LR_HDR_FILE, 0, 0,
       [](Block& b) { set_file_type(b, FILE_TYPE_REGULAR); },
       "file type FILE_TYPE_REGULAR in stage 0"},
      {"directory in file phase", LR_HDR_FILE, 3, 0,
       [](Block& b) { set_file_type(b, FILE_TYPE_NTSTREAM_DIR); },
       "file type FILE_TYPE_NTSTREAM_DIR in stage 1"},
      {"attribute type 18", LR_HDR_EXT_ATTR, 0, 0,
       [](Block& b) { set_ea_type(b, EXT_ATTR_TYPE_FAKE); }, "invalid attribute type 18"},
  };
  for (const Damage& c : cases) {
    expect_fault(c, strip_file_phase_data(sample()), Form::stripped,
                 [](const Stream& s) { return check_inflating_rules(s); });
  }
  Stream s = strip_file_phase_data(sample());
  s.push_back(s[at(s, LR_HDR_DISCARD_DATA, 0, Form::stripped)]);
  EXPECT_EQ(check_inflating_rules(s),
            "block " + std::to_string(s.size() - 1) + ": LR_HDR_DISCARD_DATA refused in stage 2");
}

TEST(InflatingRules, EntryRulesApplyOnlyWithHbakAndRestartPointsOnlyWhenTracked) {
  Stream s = strip_file_phase_data(sample());
  set_valid_entries(s[at(s, LR_HDR_FILE, 3, Form::stripped)], 600);
  EXPECT_NE(check_inflating_rules(s), "");
  InflateRules no_hbak;
  no_hbak.hbak = false;
  EXPECT_EQ(check_inflating_rules(s, no_hbak), "");

  s = strip_file_phase_data(sample());
  set_sync_num(s[at(s, LR_HDR_FILE, 4, Form::stripped)], 101);
  InflateRules untracked;
  untracked.track_restart = false;
  EXPECT_EQ(check_inflating_rules(s, untracked), "");
}

TEST(InflatingRules, FilePhaseDataInTheInputIsAFaultUnlessDeclared) {
  const Stream full = sample();
  EXPECT_NE(check_inflating_rules(full).find("data block where a header is due"),
            std::string::npos);
  InflateRules with_data;
  with_data.data_present = true;
  EXPECT_EQ(check_inflating_rules(full, with_data), "");
}

}  // namespace
}  // namespace kit
