// Parsing of the writer's command line into the session record.
#include "command_line.h"

#include <getopt.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "secrets.h"

bool_t apprestore = B_FALSE;

namespace {

const char kUsageText[] =
    "Usage: brix_writer [options] <list of paths>\n"
    "Options:\n"
    "\t-O <Transfer from a Data KAVIR system>\n"
    "\t-p <protocol>\t\"archivist_start\" or \"archivist_restore\" (Default archivist_start)\n"
    "\t-A Enable application backup and restore (for restore ,argument to -o is directory "
    "instead of file.App backup restore is supported only on windows with brix)\n"
    "\t-P <Pause between files>";

const char kSecretUsageText[] =
    "Usage: brix_writer [options] <list of paths>\n"
    "Options:\n"
    "\t-p <protocol>\tOne of \"replicator_init\", \"archivist_start\"\n"
    "\t\t\tor \"archivist_restore\" (Default replicator_init)\n"
    "\t-O <Disable HBAK support>\t(Default enabled)\n"
    "\t-W <enable Whole Volume support>\t(Default off)\n"
    "\t-L <enable WORM support>\t(Default off)\n"
    "\t-P <Pause between files>\n"
    "\t-Q <ZRB stream version>\tIn format major.minor (Default 0.0)";

const int32 kMaxFileSize = 0x7FFFDFFF;

// A protocol word selects its command when it begins with the keyword:
// only the keyword's own length is compared.
struct protocol_keyword {
  const char* word;
  rpl_Command cmd;
};
const protocol_keyword kProtocols[] = {
    {"replicator_init", RPLCMD_RCQTREE},
    {"archivist_start", RPLCMD_ACQTREE},
    {"archivist_restore", RPLCMD_ACRESTORE},
};

bool parse_protocol(const char* arg, rpl_Session* session) {
  for (const protocol_keyword& p : kProtocols) {
    if (strncmp(arg, p.word, strlen(p.word)) == 0) {
      session->cmd = p.cmd;
      return true;
    }
  }
  fprintf(stderr, "Invalid argument '%s' to -p option\n", arg);
  return false;
}

// "major.minor"; each part read as strtol does, truncated to 16 bits. The
// argument is cut in place at its first '.'.
bool parse_zrb_version(char* arg, rpl_Session* session) {
  char* dot = strchr(arg, '.');
  if (dot == nullptr) return false;
  *dot = '\0';
  session->zrb_maj_version = static_cast<uint32>(strtol(arg, nullptr, 10)) & 0xFFFF;
  session->zrb_min_version = static_cast<uint32>(strtol(dot + 1, nullptr, 10)) & 0xFFFF;
  return true;
}

// The field holds 64 characters. A longer password could only have been
// used in its first 64 characters when the dump set was made, so it is cut
// the same way, and said so.
void copy_password(const char* arg, rpl_Session* session) {
  size_t len = strlen(arg);
  if (len > BRIX_PASSWD_MAX) {
    fprintf(stderr, "Truncating the password to %d characters\n", BRIX_PASSWD_MAX);
    len = BRIX_PASSWD_MAX;
  }
  memcpy(session->encr_passwd, arg, len);
  session->encr_passwd[len] = '\0';
}

}  // namespace

void init_session(rpl_Session* session, char* in_buf, char* swapped_buf) {
  memset(session, 0, sizeof(*session));
  session->reader = B_FALSE;
  session->current_version = 4;
  session->cmd = RPLCMD_ACQTREE;
  session->input_file_max[0] = 1;
  session->zrb_maj_version = 0;
  session->zrb_min_version = 2;
  session->in_buf = in_buf;
  session->swapped_buf = swapped_buf;
  session->in_buf_size = LR_BLOCK_SIZE;
  session->swapped_buf_size = LR_BLOCK_SIZE;
  session->hbak = B_TRUE;
  session->compressed = B_FALSE;
  session->encrypted = B_FALSE;
  session->bIsAppTransfer = B_FALSE;
  apprestore = B_FALSE;
}

void usage() { printf("%s\n", kUsageText); }

void secret_usage() { printf("%s\n", kSecretUsageText); }

bool_t parse_args(int argc, char** argv, rpl_Session* session) {
  session->max_file_size = kMaxFileSize;

  if (argc > 1 && strncmp(argv[1], "-secret", 7) == 0) {
    secret_usage();
    return B_FALSE;
  }

  bool option_error = false;
  int opt;
  while ((opt = getopt(argc, argv, BRIX_OPTION_STRING)) != -1) {
    switch (opt) {
      case 'h':
        apprestore = B_TRUE;
        break;
      case 'a':
        session->debug = B_TRUE;
        break;
      case 'i':
        session->inflate = B_TRUE;
        break;
      case 'O':
        session->hbak = B_FALSE;
        break;
      case 'L':
        session->worm = B_TRUE;
        break;
      case 'W':
        session->whole_volume = B_TRUE;
        break;
      case 'P':
        session->pause = B_TRUE;
        break;
      case 'A':
        fprintf(stderr, "app transfer is allowed from windows machine only\n");
        option_error = true;
        break;
      case 'p':
        if (!parse_protocol(optarg, session)) option_error = true;
        break;
      case 'E':
        copy_password(optarg, session);
        hide_argument(optarg);  // or every user could read it in the process list
        break;
      case 'Q':
        if (!parse_zrb_version(optarg, session)) option_error = true;
        break;
      case 'v':
        session->verbose = B_TRUE;
        return B_TRUE;  // later options are not parsed and no path is needed
      default:          // getopt has reported the unknown option or missing argument
        option_error = true;
        break;
    }
  }

  int operands = argc - optind;
  if (option_error || operands <= 0) {
    usage();
    return B_FALSE;
  }
  if (session->pause && operands > 1) {
    fprintf(stderr, "Only one directory allowed with -P option\n");
    exit(1);
  }
  for (int i = 0; i < operands; i++) {
    if (i == BRIX_MAX_INPUT_FILES) {
      usage();
      return B_FALSE;  // the copies made so far are released by the driver
    }
    session->input_file[i] = strdup(argv[optind + i]);
    if (session->input_file[i] == nullptr) {
      fprintf(stderr, "error in allocating memory\n");
      return B_FALSE;
    }
  }
  return B_TRUE;
}
