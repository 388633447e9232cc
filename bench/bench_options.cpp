// Parsing the playback benchmarks' command lines with getopt_long.
#include "bench_options.h"

#include <getopt.h>

#include <cstdio>

#include "tool_support.h"

namespace bench {

namespace {

constexpr int kUsageError = 2;
// getopt values of the long options: above every character.
enum { kSize = 256, kFiles, kRounds, kWriter, kFirstExtra };

}  // namespace

bool parse_playback_options(int argc, char** argv, const char* program, const char* usage,
                            const std::vector<ExtraOption>& extras, PlaybackOptions& o,
                            int& status) {
  std::vector<option> longopts = {{"size", required_argument, nullptr, kSize},
                                  {"files", required_argument, nullptr, kFiles},
                                  {"rounds", required_argument, nullptr, kRounds},
                                  {"writer", required_argument, nullptr, kWriter},
                                  {"help", no_argument, nullptr, 'h'}};
  for (size_t i = 0; i < extras.size(); ++i) {
    longopts.push_back({extras[i].name, extras[i].takes_value ? required_argument : no_argument,
                        nullptr, kFirstExtra + static_cast<int>(i)});
  }
  longopts.push_back({nullptr, 0, nullptr, 0});
  status = kUsageError;
  int c;
  while ((c = getopt_long(argc, argv, "h", longopts.data(), nullptr)) != -1) {
    bool ok = true;
    if (c == kSize) {
      ok = tools::parse_size(optarg, o.set_bytes);
    } else if (c == kFiles) {
      ok = tools::parse_u32(optarg, o.files) && o.files > 0;
    } else if (c == kRounds) {
      ok = tools::parse_u32(optarg, o.rounds) && o.rounds > 0;
    } else if (c == kWriter) {
      o.writer = optarg;
    } else if (c >= kFirstExtra && static_cast<size_t>(c - kFirstExtra) < extras.size()) {
      ok = extras[static_cast<size_t>(c - kFirstExtra)].apply(optarg);
    } else if (c == 'h') {
      fputs(usage, stdout);
      status = 0;
      return false;
    } else {
      fputs(usage, stderr);
      return false;
    }
    if (!ok) {
      fprintf(stderr, "%s: bad value '%s' for %s\n", program, optarg ? optarg : "",
              tools::option_label(c, longopts.data()).c_str());
      return false;
    }
  }
  if (optind == argc) return true;
  fputs(usage, stderr);
  return false;
}

}  // namespace bench
