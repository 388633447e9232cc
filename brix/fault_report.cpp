// Printing and keeping the reading layers' messages.
#include "fault_report.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>

void fault_report::sayf(const char* format, ...) {
  char text[2048];
  va_list args;
  va_start(args, format);
  vsnprintf(text, sizeof(text), format, args);
  va_end(args);
  say(text);
}

void fault_report::say_errno(const char* prefix) {
  const int error = errno;
  sayf("%s: %s\n", prefix, strerror(error));
}

void stderr_report::say(const char* text) { fputs(text, stderr); }

fault_report& writer_report() {
  static stderr_report report;
  return report;
}
