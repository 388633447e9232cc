// The command line: options, operands, refusals and the two usage texts.
#include "command_line.h"

#include <getopt.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "expected_usage.h"
#include "test_support.h"

namespace {

using testing_support::TestSession;

struct ParseResult {
  bool_t ok;
  std::string out;
  std::string err;
};

// Runs parse_args on the words (program name first) with fresh option state.
bool_t parse_uncaptured(TestSession& t, std::vector<std::string> words) {
  std::vector<char*> argv;
  for (std::string& w : words) argv.push_back(&w[0]);
  argv.push_back(nullptr);
  optind = 0;  // full re-initialisation of the option parser
  return parse_args(static_cast<int>(words.size()), argv.data(), &t.s);
}

ParseResult parse(TestSession& t, const std::vector<std::string>& words) {
  testing::internal::CaptureStdout();
  testing::internal::CaptureStderr();
  bool_t ok = parse_uncaptured(t, words);
  return ParseResult{ok, testing::internal::GetCapturedStdout(),
                     testing::internal::GetCapturedStderr()};
}

TEST(CommandLine, InitialStateHasTheRunDefaults) {
  TestSession t;
  EXPECT_EQ(t.s.cmd, RPLCMD_ACQTREE);
  EXPECT_EQ(t.s.current_version, 4);
  EXPECT_EQ(t.s.zrb_maj_version, 0u);
  EXPECT_EQ(t.s.zrb_min_version, 2u);
  EXPECT_EQ(t.s.input_file_max[0], 1u);
  EXPECT_EQ(t.s.hbak, B_TRUE);
  EXPECT_EQ(t.s.in_buf_size, LR_BLOCK_SIZE);
  EXPECT_EQ(t.s.swapped_buf_size, LR_BLOCK_SIZE);
}

TEST(CommandLine, SwitchesSetTheirFieldsAndOperandsAreCopiedInOrder) {
  TestSession t;
  ParseResult r = parse(t, {"brix_writer", "-a", "-i", "-O", "-L", "-W", "-E", "pw", "d1", "d2"});
  ASSERT_EQ(r.ok, B_TRUE) << r.err;
  EXPECT_EQ(t.s.debug, B_TRUE);
  EXPECT_EQ(t.s.inflate, B_TRUE);
  EXPECT_EQ(t.s.hbak, B_FALSE);
  EXPECT_EQ(t.s.worm, B_TRUE);
  EXPECT_EQ(t.s.whole_volume, B_TRUE);
  EXPECT_STREQ(t.s.encr_passwd, "pw");
  EXPECT_STREQ(t.s.input_file[0], "d1");
  EXPECT_STREQ(t.s.input_file[1], "d2");
  EXPECT_EQ(t.s.input_file[2], nullptr);
  EXPECT_EQ(t.s.max_file_size, 0x7FFFDFFF);
  EXPECT_EQ(apprestore, B_FALSE);
}

TEST(CommandLine, ProtocolWordIsMatchedOverTheKeywordLengthOnly) {
  struct Case {
    const char* word;
    rpl_Command cmd;
  } cases[] = {{"replicator_init", RPLCMD_RCQTREE},
               {"archivist_start", RPLCMD_ACQTREE},
               {"archivist_restore", RPLCMD_ACRESTORE},
               {"archivist_restoreXYZ", RPLCMD_ACRESTORE},
               {"replicator_initialise", RPLCMD_RCQTREE}};
  for (const Case& c : cases) {
    TestSession t;
    t.s.cmd = static_cast<rpl_Command>(0);
    ParseResult r = parse(t, {"brix_writer", "-p", c.word, "d"});
    EXPECT_EQ(r.ok, B_TRUE) << c.word;
    EXPECT_EQ(t.s.cmd, c.cmd) << c.word;
  }
}

TEST(CommandLine, UnknownProtocolWordIsRefusedWithTheWordShown) {
  TestSession t;
  ParseResult r = parse(t, {"brix_writer", "-p", "archivist", "d"});
  EXPECT_EQ(r.ok, B_FALSE);
  EXPECT_EQ(r.err, "Invalid argument 'archivist' to -p option\n");
  EXPECT_EQ(r.out, kUsage);
}

TEST(CommandLine, ZrbVersionIsSplitAtTheDotAndTruncatedTo16Bits) {
  TestSession t;
  ParseResult r = parse(t, {"brix_writer", "-Q", "1.70000", "d"});
  ASSERT_EQ(r.ok, B_TRUE);
  EXPECT_EQ(t.s.zrb_maj_version, 1u);
  EXPECT_EQ(t.s.zrb_min_version, 70000u & 0xFFFF);

  TestSession u;
  r = parse(u, {"brix_writer", "-Q", " -2.x", "d"});
  ASSERT_EQ(r.ok, B_TRUE);
  EXPECT_EQ(u.s.zrb_maj_version, 0xFFFEu);
  EXPECT_EQ(u.s.zrb_min_version, 0u);
}

TEST(CommandLine, ZrbVersionWithoutDotIsRefused) {
  TestSession t;
  ParseResult r = parse(t, {"brix_writer", "-Q", "3", "d"});
  EXPECT_EQ(r.ok, B_FALSE);
  EXPECT_EQ(r.out, kUsage);
}

TEST(CommandLine, VersionStopsParsingAndOverridesEarlierErrors) {
  TestSession a;
  ParseResult r = parse(a, {"brix_writer", "-v"});
  EXPECT_EQ(r.ok, B_TRUE);
  EXPECT_EQ(a.s.verbose, B_TRUE);

  TestSession b;  // the parser still complains about -x
  r = parse(b, {"brix_writer", "-x", "-v"});
  EXPECT_EQ(r.ok, B_TRUE);
  EXPECT_NE(r.err.find("invalid option"), std::string::npos);
  EXPECT_EQ(r.out, "");

  TestSession c;  // -x is never looked at
  r = parse(c, {"brix_writer", "-v", "-x"});
  EXPECT_EQ(r.ok, B_TRUE);
  EXPECT_EQ(r.err, "");
}

TEST(CommandLine, SecretPrefixPrintsTheHiddenTextOnlyAsFirstArgument) {
  TestSession a;
  ParseResult r = parse(a, {"brix_writer", "-secretX", "d"});
  EXPECT_EQ(r.ok, B_FALSE);
  EXPECT_EQ(r.out, kSecretUsage);

  TestSession b;  // later on it is an ordinary cluster of options; -c is unknown
  r = parse(b, {"brix_writer", "d", "-secret"});
  EXPECT_EQ(r.ok, B_FALSE);
  EXPECT_EQ(r.out, kUsage);
}

TEST(CommandLine, RefusalsPrintTheShortUsageText) {
  const std::vector<std::vector<std::string>> refused = {
      {"brix_writer"},             // no path
      {"brix_writer", "-a"},       // options but no path
      {"brix_writer", "-z", "d"},  // unknown option
      {"brix_writer", "d", "-E"},  // missing argument
  };
  for (const auto& words : refused) {
    TestSession t;
    ParseResult r = parse(t, words);
    EXPECT_EQ(r.ok, B_FALSE) << words.size();
    EXPECT_EQ(r.out, kUsage);
  }
}

TEST(CommandLine, ApplicationTransferIsRefusedOnThisPlatform) {
  TestSession t;
  ParseResult r = parse(t, {"brix_writer", "-A", "d"});
  EXPECT_EQ(r.ok, B_FALSE);
  EXPECT_EQ(r.err, "app transfer is allowed from windows machine only\n");
  EXPECT_EQ(r.out, kUsage);
}

TEST(CommandLine, TwentyPathsAreAcceptedAndTwentyOneRefused) {
  std::vector<std::string> words = {"brix_writer"};
  for (int i = 0; i < 20; i++) words.push_back("p" + std::to_string(i));
  TestSession t;
  EXPECT_EQ(parse(t, words).ok, B_TRUE);
  EXPECT_STREQ(t.s.input_file[19], "p19");

  words.push_back("p20");
  TestSession u;
  ParseResult r = parse(u, words);
  EXPECT_EQ(r.ok, B_FALSE);
  EXPECT_EQ(r.out, kUsage);
  EXPECT_STREQ(u.s.input_file[19], "p19");  // released by the caller
}

TEST(CommandLine, PauseAllowsOnePathOnly) {
  TestSession t;
  EXPECT_EQ(parse(t, {"brix_writer", "-P", "a"}).ok, B_TRUE);
  EXPECT_EQ(t.s.pause, B_TRUE);
  TestSession u;
  EXPECT_EXIT(parse_uncaptured(u, {"brix_writer", "-P", "a", "b"}), testing::ExitedWithCode(1),
              "^Only one directory allowed with -P option\n$");
}

TEST(CommandLine, ChildModeFlagIsSetByH) {
  TestSession t;
  EXPECT_EQ(parse(t, {"brix_writer", "-h", "dir"}).ok, B_TRUE);
  EXPECT_EQ(apprestore, B_TRUE);
}

TEST(CommandLine, PasswordLongerThanTheFieldIsCutTo64WithAMessage) {
  const std::string exact(64, 'x');
  TestSession t;
  ParseResult r = parse(t, {"brix_writer", "-E", exact, "d"});
  EXPECT_EQ(r.ok, B_TRUE);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(std::string(t.s.encr_passwd), exact);

  TestSession u;
  r = parse(u, {"brix_writer", "-E", exact + "yz", "d"});
  EXPECT_EQ(r.ok, B_TRUE);
  EXPECT_EQ(r.err, "Truncating the password to 64 characters\n");
  EXPECT_EQ(std::string(u.s.encr_passwd), exact);
}

TEST(CommandLine, LastOccurrenceOfAnOptionWins) {
  TestSession t;
  ParseResult r = parse(t, {"brix_writer", "-p", "replicator_init", "-E", "one", "-p",
                            "archivist_restore", "-E", "two", "d"});
  ASSERT_EQ(r.ok, B_TRUE);
  EXPECT_EQ(t.s.cmd, RPLCMD_ACRESTORE);
  EXPECT_STREQ(t.s.encr_passwd, "two");
}

}  // namespace
