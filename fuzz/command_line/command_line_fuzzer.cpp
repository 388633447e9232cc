// Fuzz target: parse_args over an arbitrary argument vector. The input is
// split at NUL bytes into the words after the program name. Every input
// starts from a fresh session and a fully re-initialised option parser
// (optind 0). The one refusal that ends the process, -P with more than one
// path (status 1 by design), is intercepted: the target is linked with
// exit wrapped, and an exit inside parse_args returns here instead.
#include <getopt.h>

#include <csetjmp>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "command_line.h"
#include "fuzz_support.h"

namespace {

// More words than the writer accepts operands, and room for options.
const size_t kMaxWords = 64;
const int kPauseExitStatus = 1;

jmp_buf exit_jump;
bool intercepting_exit = false;

}  // namespace

extern "C" [[noreturn]] void __real_exit(int status);

// Every call of exit in the linked program comes here (-Wl,--wrap=exit).
extern "C" [[noreturn]] void __wrap_exit(int status) {
  if (intercepting_exit) {
    intercepting_exit = false;
    longjmp(exit_jump, status == 0 ? -1 : status);
  }
  __real_exit(status);
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // argv: the program name, then each NUL-terminated word of the input (the
  // last one terminated here). The words live in one writable buffer: -Q
  // cuts its argument in place.
  std::vector<char> words(data, data + size);
  words.push_back('\0');
  std::vector<char*> argv;
  char program[] = "brix_writer";
  argv.push_back(program);
  for (size_t at = 0; at < words.size() && argv.size() <= kMaxWords;) {
    argv.push_back(&words[at]);
    at += strlen(&words[at]) + 1;
  }
  argv.push_back(nullptr);
  const int argc = static_cast<int>(argv.size() - 1);

  fuzz::FuzzSession f;
  optind = 0;  // a full re-initialisation of getopt, as for a new process
  const int jumped = setjmp(exit_jump);
  if (jumped == 0) {
    intercepting_exit = true;
    bool_t ok = parse_args(argc, argv.data(), &f.s);
    intercepting_exit = false;
    if (ok && !f.s.verbose) {
      int operands = 0;
      while (operands < BRIX_MAX_INPUT_FILES && f.s.input_file[operands] != nullptr) operands++;
      fuzz::require(operands >= 1, "a command line without a path was accepted");
      fuzz::require(!f.s.pause || operands == 1, "-P was accepted with several paths");
    }
  } else {
    fuzz::require(jumped == kPauseExitStatus,
                  "parse_args ended the process with a status other than 1");
    fuzz::require(f.s.pause == B_TRUE, "parse_args ended the process without -P");
  }
  fuzz::require(memchr(f.s.encr_passwd, '\0', sizeof(f.s.encr_passwd)) != nullptr,
                "the password field lost its terminating NUL");
  return 0;
}
