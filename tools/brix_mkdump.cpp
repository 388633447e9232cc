// brix_mkdump: writes a sample dump set holding a generated, well-formed
// replication stream, plain or as compressed and/or encrypted containers,
// for rehearsals and benchmarks. The stream is produced and written block by
// block (a container a chunk at a time), so any size fits.
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "command_line.h"
#include "rehearsal/dump_writer.h"
#include "rehearsal/stream_gen.h"
#include "tool_support.h"

namespace {

constexpr int kUsageError = 2;
constexpr size_t kPasswordLineSize = 1024;  // room for a line well past the longest password

const char kUsage[] =
    "Usage: brix_mkdump [options] PREFIX\n"
    "Writes a dump set PREFIX.0, PREFIX.1, ... holding a generated, well-formed\n"
    "replication stream, plain or as compressed and/or encrypted containers.\n"
    "\n"
    "Size and layout:\n"
    "  -b, --blocks N             stream length in blocks (at least what the fixed parts need)\n"
    "  -s, --size SIZE            stream length in bytes, K, M or G suffix; rounded down to "
    "blocks\n"
    "  -n, --files N              number of dump files, blocks spread evenly (default 1)\n"
    "  -p, --per-file N           blocks per dump file instead\n"
    "Containers:\n"
    "  -z, --compress             compress each chunk with zlib\n"
    "  -e, --encrypt              encrypt each chunk; the password comes from --password,\n"
    "                             else from the first line of standard input\n"
    "      --password PW          the encryption password (at most 64 bytes)\n"
    "      --mode 1|2|3           AES-128, -192 or -256 with a salt of 8, 12, 16 bytes "
    "(default 1)\n"
    "      --chunk-blocks N       blocks per chunk, 1 to 16 (default 16)\n"
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
    "  -h, --help                 show this text\n"
    "      --version              show the version\n";

struct Args {
  kit::StreamShape shape;
  std::string prefix;
  uint64_t files = 1;
  uint64_t per_file = 0;
  bool compress = false;
  bool encrypt = false;
  bool password_given = false;
  bool mode_given = false;
  bool chunk_blocks_given = false;
  kit::ContainerOptions container;
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
  kStripped,
  kPassword,
  kMode,
  kChunkBlocks,
  kVersion
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
                                    {"compress", no_argument, nullptr, 'z'},
                                    {"encrypt", no_argument, nullptr, 'e'},
                                    {"password", required_argument, nullptr, kPassword},
                                    {"mode", required_argument, nullptr, kMode},
                                    {"chunk-blocks", required_argument, nullptr, kChunkBlocks},
                                    {"help", no_argument, nullptr, 'h'},
                                    {"version", no_argument, nullptr, kVersion},
                                    {nullptr, 0, nullptr, 0}};
  kit::StreamShape& s = a.shape;
  uint64_t bytes = 0;
  int c;
  uint32_t number = 0;
  while ((c = getopt_long(argc, argv, "b:s:n:p:zeh", longopts, nullptr)) != -1) {
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
      case 'z':
        a.compress = true;
        break;
      case 'e':
        a.encrypt = true;
        break;
      case kPassword:
        a.container.password = optarg;
        a.password_given = true;
        ok = a.container.password.size() <= MAX_PWD_LENGTH;
        break;
      case kMode:
        ok = tools::parse_u32(optarg, number) && number >= 1 && number <= 3;
        a.container.mode = static_cast<int>(number);
        a.mode_given = true;
        break;
      case kChunkBlocks:
        ok = tools::parse_u32(optarg, number) && number >= 1 && number <= kit::kMaxChunkBlocks;
        a.container.max_chunk_blocks = number;
        a.chunk_blocks_given = true;
        break;
      case 'h':
        fputs(kUsage, stdout);
        return 0;
      case kVersion:
        printf("brix_mkdump %s\n", BRIX_WRITER_VERSION);
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
  if ((a.password_given || a.mode_given) && !a.encrypt) {
    fputs("brix_mkdump: --password and --mode need --encrypt\n", stderr);
    return kUsageError;
  }
  if (a.chunk_blocks_given && !a.compress && !a.encrypt) {
    fputs("brix_mkdump: --chunk-blocks needs --compress or --encrypt\n", stderr);
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

kit::DumpFormat format_of(const Args& a) {
  if (a.compress && a.encrypt) return kit::DumpFormat::compressed_encrypted;
  if (a.compress) return kit::DumpFormat::compressed;
  return a.encrypt ? kit::DumpFormat::encrypted : kit::DumpFormat::plain;
}

// The first line of standard input without its line feed (a carriage return
// before it stays, as the writer's password prompt keeps it). Returns -1 to
// go on, else the exit status.
int read_password(std::string& password) {
  char line[kPasswordLineSize] = "";
  if (fgets(line, sizeof line, stdin) == nullptr) line[0] = '\0';  // no input: the empty password
  const size_t len = strlen(line);
  if (len > 0 && line[len - 1] == '\n') line[len - 1] = '\0';
  password = line;
  if (password.size() > MAX_PWD_LENGTH) {
    fprintf(stderr, "brix_mkdump: the password is longer than %d bytes\n", MAX_PWD_LENGTH);
    return kUsageError;
  }
  return -1;
}

void print_files(const kit::DumpSetResult& r) {
  for (const kit::DumpFileInfo& f : r.file_info) {
    printf("wrote %s (%llu blocks", f.path.c_str(), static_cast<unsigned long long>(f.blocks));
    if (kit::is_container(f.format)) {
      printf(", %s", kit::format_name(f.format));
      if (f.mode != 0) printf(" mode %d", f.mode);
      printf(", %zu chunks, %lld bytes", f.chunks.size(), static_cast<long long>(f.size));
    }
    puts(")");
  }
}

}  // namespace

int main(int argc, char** argv) {
  Args a;
  const int status = parse_args(argc, argv, a);
  if (status >= 0) return status;

  if (a.encrypt && !a.password_given) {
    const int password_status = read_password(a.container.password);
    if (password_status >= 0) return password_status;
  }
  a.container.salt_seed = a.shape.seed;

  const uint64_t total = count_blocks(a.shape);
  kit::DumpSetLayout layout = kit::split_layout(a.prefix, file_sizes(total, a));
  kit::set_format(layout, format_of(a));
  layout.container = a.container;
  layout.form = a.shape.file_phase_headers_only ? kit::Form::stripped : kit::Form::full;
  kit::DumpSetWriter writer(layout);
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
  print_files(r);
  printf("stream: %llu blocks, %llu bytes, %zu files%s%s\n",
         static_cast<unsigned long long>(r.blocks), static_cast<unsigned long long>(r.bytes),
         r.files.size(), a.shape.file_phase_headers_only ? ", file-phase data left out" : "",
         a.shape.end_header ? "" : ", no end-of-stream header");
  tools::print_header_counts(headers);
  return 0;
}
