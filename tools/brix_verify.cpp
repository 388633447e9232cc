// brix_verify: checks a dump set without a destination, before a transfer
// window opens. It reads every file as brix_writer would send it, checks
// the stream as the writer's send loop does and as a careful destination
// would, locates the first fault (or, with --all, each one) and prints a
// summary, as text or as JSON. The exit status says whether the set is whole.
#include <getopt.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "command_line.h"
#include "getpass.h"
#include "secrets.h"
#include "verify/report_output.h"
#include "verify/set_verifier.h"
#include "wipe.h"

namespace {

constexpr int kCouldNotRun = 2;

const char kUsage[] =
    "Usage: brix_verify [options] PREFIX...\n"
    "Checks the dump set(s) PREFIX.0, PREFIX.1, ... without a destination: every file is\n"
    "read as brix_writer would send it (container headers, chunk tables, the password,\n"
    "every chunk decoded, every digest) and the stream is checked as the writer checks it\n"
    "and as a careful destination would. The first fault is located (file, byte offset,\n"
    "chunk, stream block, header) and a summary follows. The password of an encrypted set\n"
    "is read from standard input (without echo on a terminal) or from --password-file.\n"
    "\n"
    "  -i                       check as the writer's inflating mode (-i) would send\n"
    "  -O                       without hbak support, as the writer's -O\n"
    "      --all                go on past faults where the format allows and list each\n"
    "      --strict             the careful destination's warnings count as faults\n"
    "      --checkpoints        also check the writer's checkpoint files beside the set\n"
    "      --password-file FILE the password is the first line of FILE\n"
    "      --json               write the report as one JSON document (see brix_verify(1))\n"
    "  -h, --help               show this text\n"
    "      --version            show the version\n"
    "\n"
    "Exit status: 0 the set is whole, 1 faults were found (a wrong password included),\n"
    "2 it could not run (usage, a file that cannot be read).\n";

struct args {
  verify::options verify;
  std::string password_file;
  bool json = false;
};

enum long_only { kAll = 256, kStrict, kCheckpoints, kPasswordFile, kJson, kVersion };

// Returns -1 to go on, else the exit status.
int parse_args(int argc, char** argv, args& a) {
  static const option longopts[] = {{"all", no_argument, nullptr, kAll},
                                    {"strict", no_argument, nullptr, kStrict},
                                    {"checkpoints", no_argument, nullptr, kCheckpoints},
                                    {"password-file", required_argument, nullptr, kPasswordFile},
                                    {"json", no_argument, nullptr, kJson},
                                    {"help", no_argument, nullptr, 'h'},
                                    {"version", no_argument, nullptr, kVersion},
                                    {nullptr, 0, nullptr, 0}};
  int c;
  while ((c = getopt_long(argc, argv, "iOh", longopts, nullptr)) != -1) {
    switch (c) {
      case 'i':
        a.verify.inflate = true;
        break;
      case 'O':
        a.verify.hbak = false;
        break;
      case kAll:
        a.verify.all = true;
        break;
      case kStrict:
        a.verify.strict = true;
        break;
      case kCheckpoints:
        a.verify.checkpoints = true;
        break;
      case kPasswordFile:
        a.password_file = optarg;
        break;
      case kJson:
        a.json = true;
        break;
      case 'h':
        fputs(kUsage, stdout);
        return 0;
      case kVersion:
        printf("brix_verify %s\n", BRIX_WRITER_VERSION);
        return 0;
      default:
        fputs(kUsage, stderr);
        return kCouldNotRun;
    }
  }
  if (optind == argc || argc - optind > BRIX_MAX_INPUT_FILES) {
    if (argc - optind > BRIX_MAX_INPUT_FILES) {
      fprintf(stderr, "brix_verify: at most %d prefixes\n", BRIX_MAX_INPUT_FILES);
    }
    fputs(kUsage, stderr);
    return kCouldNotRun;
  }
  for (int i = optind; i < argc; i++) a.verify.prefixes.push_back(argv[i]);
  return -1;
}

// The first line of `path` without its line end, cut to the writer's 64
// characters; false (reported) when it cannot be read.
bool read_password_file(const std::string& path, std::string* password) {
  FILE* f = fopen(path.c_str(), "re");
  if (f == nullptr) {
    perror(("brix_verify: " + path).c_str());
    return false;
  }
  char line[BRIX_PASSWD_MAX + 2] = {};
  const bool got = fgets(line, sizeof(line), f) != nullptr;
  fclose(f);
  size_t len = got ? strlen(line) : 0;
  if (len > 0 && line[len - 1] == '\n') line[--len] = '\0';
  password->assign(line, std::min(len, static_cast<size_t>(BRIX_PASSWD_MAX)));
  wipe_secret(line, sizeof(line));
  return true;
}

// The password as the writer reads it: the prompt on standard error, a line
// from standard input without echo on a terminal.
bool read_password_prompt(std::string* password) {
  char* typed = getpassword(DECRYPTION_PROMPT);
  if (typed == nullptr) return false;
  password->assign(typed);
  wipe_secret(typed, BRIX_PASSWD_MAX + 1);
  free(typed);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  args a;
  const int status = parse_args(argc, argv, a);
  if (status >= 0) return status;
  a.verify.ask_password = [&a](std::string* password) {
    keep_out_of_dumps();
    return a.password_file.empty() ? read_password_prompt(password)
                                   : read_password_file(a.password_file, password);
  };
  const verify::summary s = verify::verify_set(a.verify);
  const std::string report = a.json ? verify::json_report(s) : verify::text_report(s);
  fputs(report.c_str(), stdout);
  return s.exit_status();
}
