// brix_mkdump: writes a sample plain dump set holding a generated,
// well-formed replication stream, for rehearsals and benchmarks. The stream
// is produced and written block by block, so any size fits.
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "kit/dump_writer.h"
#include "kit/stream_gen.h"
#include "tool_support.h"

namespace {

constexpr int kUsageError = 2;

const char kUsage[] =
    "Usage: brix_mkdump [options] PREFIX\n"
    "Writes a plain dump set PREFIX.0, PREFIX.1, ... holding a generated, well-formed\n"
    "replication stream.\n"
    "\n"
    "Size and layout:\n"
    "  -b, --blocks N             stream length in blocks (at least what the fixed parts need)\n"
    "  -s, --size SIZE            stream length in bytes, K, M or G suffix; rounded down to "
    "blocks\n"
    "  -n, --files N              number of dump files, blocks spread evenly (default 1)\n"
    "  -p, --per-file N           blocks per dump file instead\n"
    "Stream shape:\n"
    "      --seed N               seed of the generated content (default 1)\n"
    "      --dirs N               directories in the tree phase (default 3)\n"
    "      --regular-files N      files in the file phase when no length is given (default 6)\n"
    "      --min-file-blocks N    positions per file, data blocks and holes (default 0)\n"
    "      --max-file-blocks N    (default 8); files above 512 continue in further headers\n"
    "      --hole-ratio R         share of positions that are holes, 0 to 1 (default 0.1)\n"
    "      --ext-attrs N          extended attributes in the file phase (default 2)\n"
    "      --headers-per-sync N   file-phase headers per synchronisation point (default 4)\n"
    "      --no-end               leave out the end-of-stream header\n"
    "      --stripped             write the inflating mode's input: file-phase headers only\n"
    "  -h, --help                 show this text\n";

struct Args {
  kit::StreamShape shape;
  std::string prefix;
  uint64_t files = 1;
  uint64_t per_file = 0;
};

enum LongOnly {
  kSeed = 256,
  kDirs,
  kRegularFiles,
  kMinFile,
  kMaxFile,
  kHoleRatio,
  kExtAttrs,
  kHps,
  kNoEnd,
  kStripped
};

// Returns -1 to go on, else the exit status.
int parse_args(int argc, char** argv, Args& a) {
  static const option longopts[] = {{"blocks", required_argument, nullptr, 'b'},
                                    {"size", required_argument, nullptr, 's'},
                                    {"files", required_argument, nullptr, 'n'},
                                    {"per-file", required_argument, nullptr, 'p'},
                                    {"seed", required_argument, nullptr, kSeed},
                                    {"dirs", required_argument, nullptr, kDirs},
                                    {"regular-files", required_argument, nullptr, kRegularFiles},
                                    {"min-file-blocks", required_argument, nullptr, kMinFile},
                                    {"max-file-blocks", required_argument, nullptr, kMaxFile},
                                    {"hole-ratio", required_argument, nullptr, kHoleRatio},
                                    {"ext-attrs", required_argument, nullptr, kExtAttrs},
                                    {"headers-per-sync", required_argument, nullptr, kHps},
                                    {"no-end", no_argument, nullptr, kNoEnd},
                                    {"stripped", no_argument, nullptr, kStripped},
                                    {"help", no_argument, nullptr, 'h'},
                                    {nullptr, 0, nullptr, 0}};
  kit::StreamShape& s = a.shape;
  uint64_t bytes = 0;
  int c;
  while ((c = getopt_long(argc, argv, "b:s:n:p:h", longopts, nullptr)) != -1) {
    bool ok = true;
    switch (c) {
      case 'b':
        ok = tools::parse_u64(optarg, s.total_blocks) && s.total_blocks > 0;
        break;
      case 's':
        ok = tools::parse_size(optarg, bytes) && bytes >= LR_BLOCK_SIZE;
        s.total_blocks = bytes / LR_BLOCK_SIZE;
        break;
      case 'n':
        ok = tools::parse_u64(optarg, a.files) && a.files > 0;
        break;
      case 'p':
        ok = tools::parse_u64(optarg, a.per_file) && a.per_file > 0;
        break;
      case kSeed:
        ok = tools::parse_u64(optarg, s.seed);
        break;
      case kDirs:
        ok = tools::parse_u32(optarg, s.directories);
        break;
      case kRegularFiles:
        ok = tools::parse_u32(optarg, s.files);
        break;
      case kMinFile:
        ok = tools::parse_u32(optarg, s.min_file_blocks);
        break;
      case kMaxFile:
        ok = tools::parse_u32(optarg, s.max_file_blocks);
        break;
      case kHoleRatio:
        ok = tools::parse_ratio(optarg, s.hole_ratio);
        break;
      case kExtAttrs:
        ok = tools::parse_u32(optarg, s.ext_attrs);
        break;
      case kHps:
        ok = tools::parse_u32(optarg, s.headers_per_sync);
        break;
      case kNoEnd:
        s.end_header = false;
        break;
      case kStripped:
        s.file_phase_headers_only = true;
        break;
      case 'h':
        fputs(kUsage, stdout);
        return 0;
      default:
        fputs(kUsage, stderr);
        return kUsageError;
    }
    if (!ok) {
      fprintf(stderr, "brix_mkdump: bad value '%s' for %s\n", optarg,
              tools::option_label(c, longopts).c_str());
      return kUsageError;
    }
  }
  if (optind != argc - 1) {
    fputs(kUsage, stderr);
    return kUsageError;
  }
  if (s.min_file_blocks > s.max_file_blocks) {
    fputs("brix_mkdump: --min-file-blocks is above --max-file-blocks\n", stderr);
    return kUsageError;
  }
  a.prefix = argv[optind];
  return -1;
}

uint64_t count_blocks(const kit::StreamShape& shape) {
  kit::StreamGenerator gen(shape);
  kit::Block b;
  while (gen.next(b)) {
  }
  return gen.produced();
}

// Blocks per file: `per_file` each, or spread evenly over `files`.
std::vector<uint64_t> file_sizes(uint64_t total, const Args& a) {
  std::vector<uint64_t> sizes;
  if (a.per_file > 0) {
    for (uint64_t left = total; left > 0; left -= std::min(left, a.per_file)) {
      sizes.push_back(std::min(left, a.per_file));
    }
  } else {
    for (uint64_t i = 0; i < a.files; ++i)
      sizes.push_back(total / a.files + (i < total % a.files ? 1 : 0));
  }
  return sizes;
}

}  // namespace

int main(int argc, char** argv) {
  Args a;
  const int status = parse_args(argc, argv, a);
  if (status >= 0) return status;

  const uint64_t total = count_blocks(a.shape);
  const std::vector<uint64_t> sizes = file_sizes(total, a);
  kit::DumpSetWriter writer(kit::split_layout(a.prefix, sizes));
  kit::StreamGenerator gen(a.shape);
  std::map<int32_t, uint64_t> headers;
  kit::Block b;
  while (gen.next(b)) {
    if (kit::is_header(b)) ++headers[kit::hdr_type(b)];
    if (!writer.add(b)) break;
  }
  if (!writer.finish()) {
    fprintf(stderr, "brix_mkdump: %s\n", writer.result().error.c_str());
    return 1;
  }
  const kit::DumpSetResult& r = writer.result();
  for (size_t i = 0; i < r.files.size(); ++i) {
    printf("wrote %s (%llu blocks)\n", r.files[i].c_str(),
           static_cast<unsigned long long>(sizes[i]));
  }
  printf("stream: %llu blocks, %llu bytes, %zu files%s%s\n",
         static_cast<unsigned long long>(r.blocks), static_cast<unsigned long long>(r.bytes),
         r.files.size(), a.shape.file_phase_headers_only ? ", file-phase data left out" : "",
         a.shape.end_header ? "" : ", no end-of-stream header");
  tools::print_header_counts(headers);
  return 0;
}
