// The real binary's command line: the texts and exit statuses of the runs
// that end before anything listens. The usage texts are pinned here, byte for
// byte, as a user sees them.
#include <gtest/gtest.h>

#include "e2e_support.h"
#include "kit/temp_dir.h"

namespace {

const char kUsage[] =
    "Usage: brix_writer [options] <list of paths>\n"
    "Options:\n"
    "\t-O <Transfer from a Data KAVIR system>\n"
    "\t-p <protocol>\t\"archivist_start\" or \"archivist_restore\" (Default archivist_start)\n"
    "\t-A Enable application backup and restore (for restore ,argument to -o is directory "
    "instead of file.App backup restore is supported only on windows with brix)\n"
    "\t-P <Pause between files>\n";

const char kSecretUsage[] =
    "Usage: brix_writer [options] <list of paths>\n"
    "Options:\n"
    "\t-p <protocol>\tOne of \"replicator_init\", \"archivist_start\"\n"
    "\t\t\tor \"archivist_restore\" (Default replicator_init)\n"
    "\t-O <Disable HBAK support>\t(Default enabled)\n"
    "\t-W <enable Whole Volume support>\t(Default off)\n"
    "\t-L <enable WORM support>\t(Default off)\n"
    "\t-P <Pause between files>\n"
    "\t-Q <ZRB stream version>\tIn format major.minor (Default 0.0)\n";

const char kVersion[] = "Version 3.0.1\n";

TEST(CommandLineE2E, RunsThatEndBeforeListeningPrintTheirTextsWithTheirStatus) {
  kit::TempDir dir;
  const std::string set = dir.file("vol");
  const std::string missing = "Can't open " + set + ".0: No such file or directory\n";
  std::vector<std::string> too_many_paths;
  for (int i = 0; i < 21; i++) too_many_paths.push_back("p" + std::to_string(i));
  struct Case {
    std::vector<std::string> args;
    int status;
    std::string out;
    std::string err;  // a part of standard error; empty: nothing there
  } cases[] = {
      {{"-v"}, 0, kVersion, ""},
      {{"-x", "-v"}, 0, kVersion, "invalid option"},      // -v wins over an earlier error
      {{"-v", "-x", "no-such-prefix"}, 0, kVersion, ""},  // and nothing after it is read
      {{}, 255, kUsage, ""},
      {{"-a"}, 255, kUsage, ""},
      {{"-z", "p"}, 255, kUsage, "invalid option"},
      {{"p", "-E"}, 255, kUsage, "requires an argument"},
      {{"-p", "archivist", "p"}, 255, kUsage, "Invalid argument 'archivist' to -p option\n"},
      {{"-Q", "3", "p"}, 255, kUsage, ""},
      {{"-A", "p"}, 255, kUsage, "app transfer is allowed from windows machine only\n"},
      {too_many_paths, 255, kUsage, ""},
      {{"-secretX", "p"}, 255, kSecretUsage, ""},
      {{"p", "-secret"}, 255, kUsage, "invalid option"},  // only as the first argument
      {{"-P", "a", "b"}, 1, "", "Only one directory allowed with -P option\n"},
      {{set}, 255, "", missing},
      {{"-p", "archivist_restoreXYZ", "-Q", " -2.x", "-E", std::string(64, 'x'), set},
       255,
       "",
       missing},
      {{"-E", std::string(65, 'x'), set},
       255,
       "",
       "Truncating the password to 64 characters\n" + missing},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args.empty() ? "no arguments"
                                : c.args[0] + ", " + std::to_string(c.args.size()));
    e2e::Playback p = e2e::run_alone(c.args);
    EXPECT_TRUE(p.status.exited);
    EXPECT_EQ(p.status.code, c.status);
    EXPECT_EQ(p.out, c.out);
    if (c.err.empty()) {
      EXPECT_EQ(p.err, "");
    } else {
      EXPECT_NE(p.err.find(c.err), std::string::npos) << p.err;
    }
  }
}

}  // namespace
