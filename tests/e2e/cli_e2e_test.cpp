// The real binary's command line: texts and exit statuses of the runs that
// end before anything listens.
#include <gtest/gtest.h>

#include "e2e_support.h"
#include "expected_usage.h"
#include "kit/temp_dir.h"

namespace {

using e2e::run_alone;

TEST(CommandLineE2E, VersionIsPrintedWithStatusZeroWhateverFollows) {
  for (auto args : {std::vector<std::string>{"-v"}, {"-x", "-v"}, {"-v", "-x", "no-such-prefix"}}) {
    e2e::Playback p = run_alone(args);
    EXPECT_TRUE(p.status.exited);
    EXPECT_EQ(p.status.code, 0);
    EXPECT_EQ(p.out, "Version 3.0.1\n");
  }
  EXPECT_NE(run_alone({"-x", "-v"}).err.find("invalid option"), std::string::npos);
  EXPECT_EQ(run_alone({"-v", "-x"}).err, "");
}

TEST(CommandLineE2E, RefusedCommandLinesPrintUsageAndEndWith255) {
  for (auto args :
       {std::vector<std::string>{}, {"-p", "archivist"}, {"-Q", "3", "p"}, {"-A", "p"}}) {
    e2e::Playback p = run_alone(args);
    EXPECT_EQ(p.status.code, 255) << (args.empty() ? "" : args[0]);
    EXPECT_EQ(p.out, kUsage);
  }
}

TEST(CommandLineE2E, HiddenUsageTextFails) {
  e2e::Playback p = run_alone({"-secret"});
  EXPECT_EQ(p.status.code, 255);
  EXPECT_EQ(p.out, kSecretUsage);
}

TEST(CommandLineE2E, PauseWithTwoPathsExitsWithStatusOne) {
  e2e::Playback p = run_alone({"-P", "a", "b"});
  EXPECT_EQ(p.status.code, 1);
  EXPECT_EQ(p.err, "Only one directory allowed with -P option\n");
}

TEST(CommandLineE2E, MissingFirstDumpFileFailsBeforeListening) {
  kit::TempDir dir;
  e2e::Playback p = run_alone({dir.file("vol")});
  EXPECT_EQ(p.status.code, 255);
  EXPECT_EQ(p.err, "Can't open " + dir.file("vol") + ".0: No such file or directory\n");
  EXPECT_EQ(p.out, "");
}

}  // namespace
