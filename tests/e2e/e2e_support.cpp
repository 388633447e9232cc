// End-to-end helpers.
#include "e2e_support.h"

#include <cstdlib>
#include <cstring>
#include <sstream>

#include "rehearsal/stream_gen.h"

namespace e2e {

kit::ProcessOptions writer_options(const std::vector<std::string>& args,
                                   const std::string& stdin_bytes) {
  kit::ProcessOptions options;
  options.path = BRIX_WRITER_PATH;
  options.args = args;
  // `make check-valgrind` runs the writer under a checker: its command words
  // come first, the writer and its arguments after them.
  if (const char* wrapper = getenv("BRIX_WRITER_WRAPPER")) {
    std::istringstream words(wrapper);
    std::vector<std::string> command(std::istream_iterator<std::string>{words},
                                     std::istream_iterator<std::string>{});
    if (!command.empty()) {
      options.path = command.front();
      command.erase(command.begin());
      command.push_back(BRIX_WRITER_PATH);
      command.insert(command.end(), args.begin(), args.end());
      options.args = command;
    }
  }
  options.stdin_mode = kit::StdinMode::bytes;
  options.stdin_bytes = stdin_bytes;
  return options;
}

namespace {

void finish(kit::WriterProcess& writer, Playback& p) {
  p.status = writer.wait(kWriterTimeoutMs);
  p.out = writer.output(kit::Output::out);
  p.err = writer.output(kit::Output::err);
}

}  // namespace

Playback play(const std::vector<std::string>& args, const kit::DestinationOptions& destination,
              const std::string& stdin_bytes) {
  return play_with(writer_options(args, stdin_bytes), destination);
}

Playback play_with(const kit::ProcessOptions& options, const kit::DestinationOptions& destination) {
  Playback p;
  kit::WriterProcess writer;
  if (!writer.start(options)) {
    p.err = writer.error();
    return p;
  }
  p.dest = kit::run_destination(destination);
  finish(writer, p);
  return p;
}

Playback play_child(const std::vector<std::string>& args, kit::DestinationOptions destination) {
  Playback p;
  kit::WriterProcess writer;
  kit::ProcessOptions options = writer_options(args);
  options.stdin_mode = kit::StdinMode::stream;
  if (!writer.start(options)) {
    p.err = writer.error();
    return p;
  }
  destination.connected_fd = writer.take_stdin_socket();
  p.dest = kit::run_destination(destination);
  finish(writer, p);
  return p;
}

Playback run_alone(const std::vector<std::string>& args, const std::string& stdin_bytes) {
  return run_alone_with(writer_options(args, stdin_bytes));
}

Playback run_alone_with(const kit::ProcessOptions& options) {
  Playback p;
  kit::WriterProcess writer;
  if (!writer.start(options)) {
    p.err = writer.error();
    return p;
  }
  finish(writer, p);
  return p;
}

kit::Stream sample_stream(uint64_t blocks, uint64_t seed) {
  kit::StreamShape shape;
  shape.seed = seed;
  shape.total_blocks = blocks;
  return kit::generate_stream(shape);
}

std::string bytes_of(const kit::Stream& blocks) { return bytes_of(blocks, 0, blocks.size()); }

std::string bytes_of(const kit::Stream& blocks, size_t first, size_t count) {
  std::string all;
  for (size_t i = first; i < first + count && i < blocks.size(); i++) {
    all.append(reinterpret_cast<const char*>(blocks[i].bytes), LR_BLOCK_SIZE);
  }
  return all;
}

testing::AssertionResult same_blocks(const std::string& got, const std::string& expected) {
  if (got == expected) return testing::AssertionSuccess();
  size_t first = 0;
  while (first < got.size() && first < expected.size() && got[first] == expected[first]) first++;
  return testing::AssertionFailure()
         << "got " << got.size() / LR_BLOCK_SIZE << " blocks (" << got.size()
         << " bytes), expected " << expected.size() / LR_BLOCK_SIZE << " (" << expected.size()
         << " bytes); first difference in block " << first / LR_BLOCK_SIZE << " at byte "
         << first % LR_BLOCK_SIZE;
}

std::string expected_reply(const kit::Block& start, uint64_t blks_done) {
  kit::Block reply = start;
  kit::set_blks_done(reply, blks_done);
  return std::string(reinterpret_cast<const char*>(reply.bytes), LR_BLOCK_SIZE);
}

size_t opening_header(const kit::Stream& stream, uint32_t point) {
  size_t h = 0;
  while (h < stream.size() && !(kit::is_header(stream[h]) && kit::sync_num(stream[h]) == point))
    h++;
  return h;
}

ResumePlace restart_place(const kit::Stream& stream, uint32_t point, bool container) {
  const size_t h = opening_header(stream, point);
  if (h == stream.size()) return ResumePlace();
  return restart_place_at(h, point, container);
}

ResumePlace restart_place_at(size_t h, uint32_t point, bool container) {
  ResumePlace place;
  place.found = true;
  // The first file-phase point counts its own header as sent.
  place.blks_done = h - 1 + (point == LRD_RESTART_FILE_PHASE_BASE ? 1 : 0);
  // Nothing is skipped: a container goes on with block n+1, a plain set
  // with the point's header (sent once more at the first file-phase point).
  place.block = container ? place.blks_done + 1 : h;
  return place;
}

std::string archivist_transcript(const std::string& prefix, unsigned files,
                                 const std::string& peer) {
  return "brix_writer: Will read " + std::to_string(files) + " files from prefix " + prefix +
         "\nWaiting for connection (inet6, inet)\nConnection accepted from " + peer +
         "\nTransfer started.\nUse 'archivist status' on source to monitor progress.\n"
         "Transfer done.\nVerify by using 'archivist status' on destination.\n";
}

}  // namespace e2e
