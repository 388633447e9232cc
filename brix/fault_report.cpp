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

void stdout_report::say(const char* text) { fputs(text, stdout); }

namespace {

stderr_report standard_error;
stdout_report standard_output;
fault_report* faults_told_to = &standard_error;
fault_report* progress_told_to = &standard_output;

}  // namespace

fault_report& writer_report() { return *faults_told_to; }

fault_report& writer_progress() { return *progress_told_to; }

void redirect_writer_reports(fault_report* faults, fault_report* progress) {
  faults_told_to = faults != nullptr ? faults : &standard_error;
  progress_told_to = progress != nullptr ? progress : &standard_output;
}
