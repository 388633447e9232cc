// The usage texts as a user sees them, byte for byte: written out here, not
// taken from the program, so that a changed text fails the tests.
#ifndef TESTS_BRIX_EXPECTED_USAGE_H
#define TESTS_BRIX_EXPECTED_USAGE_H

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

}  // namespace

#endif  // TESTS_BRIX_EXPECTED_USAGE_H
