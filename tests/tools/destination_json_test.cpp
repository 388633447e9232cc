// brix_destination --json against the real writer: the summary is one JSON
// document that python3's json module reads, with what arrived, the
// acknowledgement, where to restart and the first difference from --expect;
// and the texts in it are escaped as JSON requires.
#include <gtest/gtest.h>

#include "e2e_support.h"
#include "json_object.h"
#include "kit/runner.h"
#include "kit/temp_dir.h"
#include "rehearsal/destination.h"
#include "rehearsal/dump_writer.h"
#include "rehearsal/stream_gen.h"

namespace kit {
namespace {

constexpr int kWaitMs = 20000;

TEST(JsonText, QuotesBackslashesControlsAndStrayBytesAreEscaped) {
  const struct {
    std::string text, json;
  } cases[] = {
      {"plain", "\"plain\""},
      {"a\"b\\c", "\"a\\\"b\\\\c\""},
      {"tab\tend\n", "\"tab\\u0009end\\u000a\""},
      {"caf\xc3\xa9", "\"caf\xc3\xa9\""},                   // UTF-8 stays as it is
      {"caf\xc3\xa9\xff", "\"caf\\u00c3\\u00a9\\u00ff\""},  // not UTF-8: every high byte escaped
  };
  for (const auto& c : cases) EXPECT_EQ(tools::json_string(c.text), c.json) << c.text;
}

// Runs `program` with `args` and `input`; its standard output, or "" when it failed.
std::string output_of(const std::string& program, const std::vector<std::string>& args,
                      const std::string& input = "") {
  ProcessOptions o;
  o.path = program;
  o.args = args;
  o.stdin_bytes = input;
  WriterProcess p;
  if (!p.start(o)) return "";
  p.wait(kWaitMs);
  return p.output(Output::out);
}

// What python3 reads from the document, in one line.
const char kReadFields[] =
    "import json, sys\n"
    "d = json.load(sys.stdin)\n"
    "print(d['complete'], d['reply']['kind'], d['stream']['blocks_received'],\n"
    "      d['stream']['mb_per_second'] > 0, d['acknowledgement']['echo'],\n"
    "      d['restart']['resume_sync_point'], d['expect']['first_different'],\n"
    "      d['expect']['identical'])\n";

TEST(DestinationJson, SummaryIsOneDocumentWithTheArrivalAckRestartPointAndFirstDifference) {
  TempDir dir;
  StreamShape shape;
  shape.total_blocks = 400;
  const Stream s = generate_stream(shape);
  ASSERT_TRUE(write_plain_set(dir.file("expected"), s, {}).ok());
  size_t data = 0;  // the first data block of a regular file; its header is just before it
  for (size_t h : header_indices(s)) {
    if (data == 0 && hdr_type(s[h]) == LR_HDR_FILE && following_blocks(s[h]) > 0) data = h + 1;
  }
  ASSERT_GT(data, 0u);
  const std::string all = std::to_string(s.size() - 1);
  const struct {
    const char* what;
    bool damage;
    std::vector<std::string> args;
    std::string fields;
  } cases[] = {
      {"complete", false, {}, "True block " + all + " True 1 None None True\n"},
      {"damaged, then hung up",
       true,
       {"--hangup-after", std::to_string(data)},
       "False block " + std::to_string(data) + " True None " +
           std::to_string(sync_num(s[data - 1])) + " " + std::to_string(data) + " False\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Stream sent = s;
    if (c.damage) sent[data].bytes[100] ^= 1;
    ASSERT_TRUE(write_plain_set(dir.file("sent"), sent, {}).ok());
    WriterProcess writer;
    ASSERT_TRUE(writer.start(e2e::writer_options({dir.file("sent")})));
    std::vector<std::string> args = {"--json", "--expect", dir.file("expected"), "--timeout", "3"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    const std::string document = output_of(BRIX_DESTINATION_PATH, args);
    EXPECT_EQ(document.find('\n'), document.size() - 1) << document;  // one line
    EXPECT_EQ(output_of("/usr/bin/env", {"python3", "-c", kReadFields}, document), c.fields)
        << document;
    EXPECT_EQ(writer.wait(kWaitMs).code, c.damage ? 255 : 0) << writer.output(Output::err);
  }
}

}  // namespace
}  // namespace kit
