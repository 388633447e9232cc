// The writer's progress reports seen from outside: on a terminal the live
// line, cleared before any other output, and the closing summary; into pipes
// today's bytes and nothing more but the status lines that SIGUSR1 asks for,
// at any time, while the stream still arrives whole.
#include <gtest/gtest.h>

#include <csignal>
#include <cstring>
#include <regex>
#include <thread>

#include "e2e_support.h"
#include "kit/temp_dir.h"
#include "rehearsal/dump_writer.h"
#include "rehearsal/stream_gen.h"

namespace {

// About 24 MB: more than the loopback socket buffers hold, so that the
// writer is still sending while the paced destination reads.
constexpr uint64_t kBlocks = 6000;
constexpr int kWaitMs = 20000;
const char kHint[] = "Use archivist start command on secondary to create a relationship\n";
const char kClear[] = "\r\x1b[K";
const std::regex kStatusLine(
    "brix_writer: ([0-9]+) blocks, ([0-9]+) bytes sent in [0-9.]+ s, [0-9.]+ MB/s; "
    "(reading (.+)\\.[0-2]|no dump file read yet); last sync point [0-9]+\n");

// `text` without every `what` in it.
std::string without(std::string text, const std::string& what) {
  for (size_t at; (at = text.find(what)) != std::string::npos;) text.erase(at, what.size());
  return text;
}

// One drawing of the live line.
const std::regex kDrawn(
    "\r\x1b\\[K[0-9]+\\.[0-9] MB sent, [0-9]+\\.[0-9] MB/s, file [1-3] of 3, [0-9]+%"
    "(, ETA [0-9]+:[0-9]{2}:[0-9]{2})?");

std::ptrdiff_t matches(const std::string& text, const std::regex& pattern) {
  return std::distance(std::sregex_iterator(text.begin(), text.end(), pattern),
                       std::sregex_iterator());
}

class Progress : public testing::Test {
 protected:
  kit::TempDir dir;
  std::string prefix = dir.file("vol");
  kit::Stream stream;
  kit::WriterProcess writer;
  kit::DestinationResult dest;
  std::thread destination;

  void SetUp() override {
    kit::StreamShape shape;
    shape.total_blocks = kBlocks;
    stream = kit::generate_stream(shape);
    ASSERT_TRUE(kit::write_plain_set(prefix, stream, {2000, 2000}).ok());
  }
  void TearDown() override {
    writer.kill();
    if (destination.joinable()) destination.join();
  }
  // A destination that takes over a second for the stream.
  void start_destination() {
    destination = std::thread([this] {
      kit::DestinationOptions paced;
      uint64_t received = 0;
      paced.on_block = [&received](const kit::Block&) {
        if (++received % 20 == 0) std::this_thread::sleep_for(std::chrono::milliseconds(5));
      };
      dest = kit::run_destination(paced);
    });
  }
  // What the writer printed there; on the terminal without the CR that the
  // terminal puts before each line feed.
  std::string output(kit::Output where) {
    std::string text = writer.output(where);
    for (size_t at; (at = text.find("\r\n")) != std::string::npos;) text.erase(at, 1);
    return text;
  }
  void ask_for_status_line(std::ptrdiff_t lines_then, kit::Output where) {
    ASSERT_EQ(kill(writer.pid(), SIGUSR1), 0);
    for (int waited = 0; matches(output(where), kStatusLine) < lines_then; waited += 10) {
      ASSERT_LT(waited, kWaitMs) << "no status line " << lines_then;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  }
  // The writer ended with status 0, the destination received the stream
  // byte for byte, and standard output holds today's transcript.
  void expect_complete_transfer(kit::Output out) {
    EXPECT_EQ(writer.wait(e2e::kWriterTimeoutMs).code, 0) << writer.output(kit::Output::err);
    destination.join();
    EXPECT_TRUE(dest.complete) << dest.error << dest.structure_error;
    EXPECT_TRUE(
        e2e::same_blocks(e2e::bytes_of(dest.blocks), e2e::bytes_of(stream, 1, stream.size() - 1)));
    std::string today = e2e::archivist_transcript(prefix, 3);
    std::string shown = std::regex_replace(output(out), kStatusLine, "");
    if (out == kit::Output::terminal) {  // stderr's hint among them, and the live line
      const std::string waiting = "Waiting for connection (inet6, inet)\n";
      today.insert(today.find(waiting) + waiting.size(), kHint);
      shown = without(std::regex_replace(shown, kDrawn, ""), kClear);
    }
    EXPECT_EQ(shown.substr(0, today.size()), today);
    transcript_end = shown.substr(std::min(today.size(), shown.size()));
  }
  std::string transcript_end;  // what follows today's transcript
};

TEST_F(Progress, OnATerminalTheLiveLineIsClearedBeforeAnyOtherOutputAndASummaryEnds) {
  kit::ProcessOptions options = e2e::writer_options({prefix});
  options.stdin_mode = kit::StdinMode::terminal;
  ASSERT_TRUE(writer.start(options)) << writer.error();
  start_destination();
  // A status line asked for while the live line shows goes to the same terminal.
  ASSERT_TRUE(writer.wait_for_output(kit::Output::terminal, " MB sent, ", kWaitMs));
  ask_for_status_line(1, kit::Output::terminal);

  // Every drawing of the live line is cleared before anything follows it.
  EXPECT_EQ(writer.wait(e2e::kWriterTimeoutMs).code, 0);
  const std::string shown = writer.output(kit::Output::terminal);
  for (auto m = std::sregex_iterator(shown.begin(), shown.end(), kDrawn);
       m != std::sregex_iterator(); ++m) {
    EXPECT_EQ(shown.compare(m->position() + m->length(), strlen(kClear), kClear), 0)
        << "not cleared: " << m->str();
  }
  EXPECT_GE(matches(shown, kDrawn), 1) << shown;

  // Without the live line, the terminal shows today's lines, the status line
  // and the summary.
  expect_complete_transfer(kit::Output::terminal);
  EXPECT_EQ(matches(output(kit::Output::terminal), kStatusLine), 1);
  EXPECT_TRUE(std::regex_match(
      transcript_end, std::regex("brix_writer: " + std::to_string(kBlocks - 1) + " blocks, " +
                                 std::to_string((kBlocks - 1) * LR_BLOCK_SIZE) +
                                 " bytes sent in [0-9]+\\.[0-9]{3} s, [0-9]+\\.[0-9] MB/s\n")))
      << transcript_end;
}

TEST_F(Progress, StatusSignalPrintsALineAtAnyTimeAndPipesGetNothingElseNew) {
  ASSERT_TRUE(writer.start(e2e::writer_options({prefix}))) << writer.error();
  ASSERT_TRUE(writer.wait_for_output(kit::Output::err, kHint, kWaitMs));
  ask_for_status_line(1, kit::Output::err);  // still waiting for the destination
  EXPECT_EQ(writer.output(kit::Output::err),
            std::string(kHint) + "brix_writer: 0 blocks, 0 bytes sent in 0.000 s, 0.0 MB/s; " +
                "reading " + kit::dump_file_name(prefix, 0) + "; last sync point 0\n");

  start_destination();
  ASSERT_TRUE(writer.wait_for_output(kit::Output::out, "Transfer started.", kWaitMs));
  const std::ptrdiff_t asked = 6;
  for (std::ptrdiff_t n = 2; n <= asked; n++) ask_for_status_line(n, kit::Output::err);
  expect_complete_transfer(kit::Output::out);
  EXPECT_EQ(transcript_end, "");

  const std::string err = writer.output(kit::Output::err);
  EXPECT_EQ(std::regex_replace(err, kStatusLine, ""), kHint);
  EXPECT_EQ(matches(err, kStatusLine), asked);
  size_t midway = 0;
  for (auto m = std::sregex_iterator(err.begin(), err.end(), kStatusLine);
       m != std::sregex_iterator(); ++m) {
    const uint64_t blocks = std::stoull((*m)[1]);
    EXPECT_EQ(std::stoull((*m)[2]), blocks * LR_BLOCK_SIZE);
    EXPECT_EQ((*m)[4], prefix);
    if (blocks > 0 && blocks < kBlocks - 1) midway++;
  }
  EXPECT_GE(midway, 1u) << err;
}

}  // namespace
