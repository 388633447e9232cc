// Writes the seed corpus of every fuzz target from the rehearsal engine: well-formed
// dump files of every kind and mode, streams for both sending modes,
// checkpoint records of the fixed sets, destination conversations and
// command lines. Run as `fuzz_make_seeds <fuzz directory>`; the files go to
// <target>/corpus/seed-<name> and are committed.
#include <zlib.h>

#include <cctype>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "brix.h"
#include "brix_comp_encr.h"
#include "fixed_sets.h"
#include "fuzz_support.h"
#include "kit/lenient_chunks.h"
#include "kit/temp_dir.h"
#include "lr.h"
#include "rehearsal/dump_writer.h"
#include "rehearsal/rng.h"
#include "rehearsal/stream_gen.h"
#include "target_options.h"

namespace {

using kit::DumpFormat;

std::string g_fuzz_dir;
int g_written = 0;

void seed(const std::string& target, const std::string& name, const std::string& bytes) {
  std::filesystem::create_directories(g_fuzz_dir + "/" + target + "/corpus");
  fuzz::write_whole_file(g_fuzz_dir + "/" + target + "/corpus/seed-" + name, bytes.data(),
                         bytes.size());
  g_written++;
}

std::string bytes_of(const kit::Stream& stream) {
  std::string all;
  for (const kit::Block& b : stream)
    all.append(reinterpret_cast<const char*>(b.bytes), LR_BLOCK_SIZE);
  return all;
}

std::string u32(uint32_t v) {
  unsigned char b[4] = {static_cast<unsigned char>(v), static_cast<unsigned char>(v >> 8),
                        static_cast<unsigned char>(v >> 16), static_cast<unsigned char>(v >> 24)};
  return std::string(reinterpret_cast<char*>(b), 4);
}

// A stream with a little of everything, small enough for a seed.
kit::Stream small_stream(uint64_t seed_value, bool file_phase_headers_only) {
  kit::StreamShape shape;
  shape.seed = seed_value;
  shape.directories = 1;
  shape.files = 2;
  shape.max_file_blocks = 3;
  shape.headers_per_sync = 1;
  shape.file_phase_headers_only = file_phase_headers_only;
  return kit::generate_stream(shape);
}

// The one file of a set of that format holding the stream.
std::string dump_file(const kit::Stream& stream, DumpFormat format, int mode,
                      uint32_t max_chunk_blocks) {
  kit::TempDir dir;
  kit::ContainerOptions options;
  options.password = fuzz::kFuzzPassword;
  options.mode = mode;
  options.max_chunk_blocks = max_chunk_blocks;
  kit::DumpSetLayout layout = kit::split_layout(dir.file("seed"), {});
  kit::set_format(layout, format);
  layout.container = options;
  kit::DumpSetResult result = kit::write_dump_set(layout, stream);
  std::string bytes, error;
  fuzz::require(result.ok() && kit::read_file(result.files.at(0), bytes, error),
                "a seed dump file cannot be written");
  return bytes;
}

void dump_file_seeds() {
  const kit::Stream minimal = kit::minimal_stream();
  seed("dump_file", "plain", bytes_of(minimal));
  seed("dump_file", "plain-partial-tail",
       bytes_of(kit::Stream(minimal.begin(), minimal.begin() + 2)) + std::string(100, 'x'));
  seed("dump_file", "compressed", dump_file(minimal, DumpFormat::compressed, 1, 2));
  for (int mode = 1; mode <= 3; mode++) {
    const std::string m = std::to_string(mode);
    seed("dump_file", "encrypted-mode" + m, dump_file(minimal, DumpFormat::encrypted, mode, 3));
    seed("dump_file", "compressed-encrypted-mode" + m,
         dump_file(minimal, DumpFormat::compressed_encrypted, mode, 3));
  }
  // One chunk per block and more chunks than a chunk header lists: a table
  // of two headers. Zero blocks keep the file small.
  kit::Stream many(2 + CHUNK_TABLE_ENTRIES, kit::Block{});
  many.front() = minimal.front();
  many.back() = minimal.back();
  seed("dump_file", "compressed-two-chunk-headers", dump_file(many, DumpFormat::compressed, 1, 1));
}

void stream_seeds() {
  struct Case {
    const char* name;
    fuzz::StreamOptions options;
    kit::Stream stream;
  };
  fuzz::StreamOptions archivist;  // plain mode, checkpoints written
  fuzz::StreamOptions replicator;
  replicator.cmd = RPLCMD_RCQTREE;
  fuzz::StreamOptions no_hbak;
  no_hbak.hbak = false;
  fuzz::StreamOptions inflating;
  inflating.inflate = true;
  fuzz::StreamOptions inflating_restore = inflating;
  inflating_restore.cmd = RPLCMD_ACRESTORE;
  kit::Stream unended = small_stream(5, false);
  unended.pop_back();
  const Case cases[] = {
      {"plain-minimal", archivist, kit::minimal_stream()},
      {"plain-archivist", archivist, small_stream(3, false)},
      {"plain-replicator", replicator, small_stream(4, false)},
      {"plain-no-hbak-no-end", no_hbak, unended},
      {"inflating-archivist", inflating, small_stream(3, true)},
      {"inflating-restore", inflating_restore, small_stream(6, true)},
  };
  for (const Case& c : cases) {
    seed("stream", c.name,
         std::string(1, static_cast<char>(fuzz::encode_stream_options(c.options))) +
             bytes_of(c.stream));
  }
}

void checkpoint_seeds() {
  for (fuzz::FixedSet which : {fuzz::FixedSet::plain, fuzz::FixedSet::sealed}) {
    const char selector = which == fuzz::FixedSet::sealed ? 1 : 0;
    for (const fuzz::FixedCheckpoint& c : fuzz::fixed_set_checkpoints(which)) {
      seed("checkpoint", std::string(fuzz::fixed_set_name(which)) + "-" + std::to_string(c.point),
           std::string(1, selector) + c.bytes);
    }
  }
}

// The destination's side: version word, command word, request, acknowledgement.
std::string conversation(uint32_t versions, uint32_t command, const char* src_path,
                         uint32_t restart_point, uint32_t restart_snap_id, uint32_t ack) {
  lr_neg_data_request request;
  memset(&request, 0, sizeof(request));
  snprintf(request.src_path, sizeof(request.src_path), "%s", src_path);
  request.restart_sync_point = restart_point;
  request.restart_snap_id = restart_snap_id;
  return u32(versions) + u32(command) +
         std::string(reinterpret_cast<const char*>(&request), sizeof(request)) + u32(ack);
}

void negotiation_seeds() {
  const uint32_t kVersion4 = 0x00040004;
  struct Case {
    std::string name;
    fuzz::NegotiationOptions options;
    std::string said;
  };
  fuzz::NegotiationOptions plain, sealed, inflating, restore, child;
  sealed.set = fuzz::FixedSet::sealed;
  inflating.inflate = true;
  restore.cmd = RPLCMD_ACRESTORE;
  child.child_mode = true;
  const char* path = "/vol/vol1/projects";
  std::vector<Case> cases = {
      {"fresh-plain", plain, conversation(kVersion4, RPLCMD_ACQTREE, path, 0, 0, 1)},
      {"fresh-sealed", sealed, conversation(0x00010007, RPLCMD_ACQTREE, path, 0, 0, 1)},
      {"fresh-inflating", inflating, conversation(kVersion4, RPLCMD_ACQTREE, path, 0, 0, 1)},
      {"bad-ack", plain, conversation(kVersion4, RPLCMD_ACQTREE, path, 0, 0, 2)},
      {"restart-without-file", plain, conversation(kVersion4, RPLCMD_ACQTREE, path, 57, 0, 1)},
      {"restore-refused", restore, conversation(kVersion4, RPLCMD_ACRESTORE, path, 0, 9, 1)},
      {"versions-1-to-3", plain, conversation(0x00010003, RPLCMD_ACQTREE, path, 0, 0, 1)},
      {"canceled", plain, u32(0)},
      {"child-plain", child,
       conversation(kVersion4, RPLCMD_ACQTREE, "/vol/app/plain.mdf", 0, 0, 1)},
      {"child-sealed", child, conversation(kVersion4, RPLCMD_ACQTREE, "/vol/app/sealed", 0, 0, 1)},
  };
  for (fuzz::FixedSet which : {fuzz::FixedSet::plain, fuzz::FixedSet::sealed}) {
    fuzz::NegotiationOptions options;
    options.set = which;
    for (const fuzz::FixedCheckpoint& c : fuzz::fixed_set_checkpoints(which)) {
      cases.push_back(
          {std::string("restart-") + fuzz::fixed_set_name(which) + "-" + std::to_string(c.point),
           options, conversation(kVersion4, RPLCMD_ACQTREE, path, c.point, 0, 1)});
    }
  }
  for (const Case& c : cases) {
    seed("negotiation", c.name,
         std::string(1, static_cast<char>(fuzz::encode_negotiation_options(c.options))) + c.said);
  }
}

void command_line_seeds() {
  auto words = [](const std::vector<std::string>& list) {
    std::string all;
    for (size_t i = 0; i < list.size(); i++) all += (i > 0 ? std::string(1, '\0') : "") + list[i];
    return all;
  };
  std::vector<std::string> many_paths;
  for (int i = 0; i <= BRIX_MAX_INPUT_FILES; i++) many_paths.push_back("d" + std::to_string(i));
  seed("command_line", "switches", words({"-a", "-i", "-O", "-L", "-W", "-E", "pw", "d1", "d2"}));
  seed("command_line", "protocol", words({"-p", "archivist_restoreXYZ", "d"}));
  seed("command_line", "protocol-refused", words({"-p", "archivist", "d"}));
  seed("command_line", "zrb-version", words({"-Q", "1.70000", "d"}));
  seed("command_line", "zrb-version-refused", words({"-Q3", "d"}));
  seed("command_line", "pause-two-paths", words({"-P", "a", "b"}));
  seed("command_line", "pause-one-path", words({"-P", "a"}));
  seed("command_line", "version", words({"-x", "-v", "-y"}));
  seed("command_line", "secret", words({"-secretive", "d"}));
  seed("command_line", "child-mode", words({"-h", "-E", std::string(70, 'p'), "dir"}));
  seed("command_line", "app-refused", words({"-A", "d"}));
  seed("command_line", "too-many-paths", words(many_paths));
  seed("command_line", "no-path", words({"-i"}));
}

std::string zlib_compressed(const std::string& data, int level) {
  uLongf size = compressBound(data.size());
  std::string out(size, '\0');
  fuzz::require(compress2(reinterpret_cast<Bytef*>(&out[0]), &size,
                          reinterpret_cast<const Bytef*>(data.data()), data.size(), level) == Z_OK,
                "a seed chunk cannot be compressed");
  out.resize(size);
  return out;
}

// A zlib header of that CMF and flag bits, its check bits made right.
std::string zlib_header(unsigned cmf, unsigned flags) {
  flags += 31 - (cmf * 256 + flags) % 31;
  return std::string{static_cast<char>(cmf), static_cast<char>(flags)};
}

// Chunks as zlib's compressor writes them, at several levels, and damaged:
// cut, flipped, followed by more bytes, with a wrong checksum, a dictionary,
// a window too large, a length above the decoded limit, and each construct
// that libdeflate accepts and zlib refuses.
void chunk_inflate_seeds() {
  const std::string stream = bytes_of(small_stream(7, false));
  std::string blocks = stream.substr(0, 12 * LR_BLOCK_SIZE);
  kit::Rng rng(13);
  while (blocks.size() < 16 * LR_BLOCK_SIZE) blocks += static_cast<char>(rng.next());
  for (int level : {0, 1, 6, 9}) {
    seed("chunk_inflate", "level" + std::to_string(level), zlib_compressed(blocks, level));
  }
  const std::string good = zlib_compressed(stream.substr(0, 4 * LR_BLOCK_SIZE), 6);
  std::string flipped = good;
  flipped[good.size() / 2] = static_cast<char>(flipped[good.size() / 2] ^ 0x5A);
  std::string bad_adler = good;
  bad_adler.back() = static_cast<char>(bad_adler.back() ^ 1);
  seed("chunk_inflate", "truncated", good.substr(0, good.size() / 2));
  seed("chunk_inflate", "flipped", flipped);
  seed("chunk_inflate", "trailing-bytes", good + "trailing");
  seed("chunk_inflate", "bad-adler", bad_adler);
  seed("chunk_inflate", "dictionary", zlib_header(0x78, 0x20) + "\0\0\0\1" + good.substr(2));
  seed("chunk_inflate", "window-too-large", zlib_header(0x88, 0) + good.substr(2));
  seed("chunk_inflate", "over-limit", zlib_compressed(std::string(CHUNK_DECODED_MAX + 1, '\0'), 6));
  for (const kit::LenientChunk& c : kit::lenient_chunks()) {
    std::string name =
        "lenient-";  // "fixed code: length symbol 286": lenient-fixed-code-length-...
    for (const char* p = c.construct; *p != '\0'; p++) {
      if (isalnum(static_cast<unsigned char>(*p))) {
        name += *p;
      } else if (name.back() != '-') {
        name += '-';
      }
    }
    seed("chunk_inflate", name, c.chunk);
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    fprintf(stderr, "usage: fuzz_make_seeds <fuzz directory>\n");
    return 2;
  }
  g_fuzz_dir = argv[1];
  dump_file_seeds();
  stream_seeds();
  checkpoint_seeds();
  negotiation_seeds();
  command_line_seeds();
  chunk_inflate_seeds();
  printf("%d seeds written under %s\n", g_written, g_fuzz_dir.c_str());
  return 0;
}
