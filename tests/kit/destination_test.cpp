// The destination client against a scripted fake writer: negotiation
// outcomes, reply and refusal, the stream, hang-ups, the acknowledgement and
// time-outs.
#include "kit/destination.h"

#include <gtest/gtest.h>

#include <cstring>
#include <optional>

#include "kit/fake_writer.h"
#include "kit/stream_gen.h"

namespace kit {
namespace {

// Plays the writer's side of a good negotiation; false when the peer left.
bool negotiate(FakeWriterSide& w, std::string* request = nullptr) {
  if (w.read_u32() == 0 || !w.write_u32(4)) return false;
  const uint32_t cmd = w.read_u32();
  if (cmd == 0 || !w.write_u32(cmd)) return false;
  const std::string req = w.read(LR_BLOCK_SIZE);
  if (request != nullptr) *request = req;
  return req.size() == LR_BLOCK_SIZE;
}

// Sends the stream (reply first), then serves the acknowledgement: echoes
// it when it is 1 (or sends `echo` instead, when given).
void serve(FakeWriterSide& w, const Stream& s, uint32_t* ack_seen = nullptr,
           std::optional<uint32_t> echo = std::nullopt) {
  if (!negotiate(w)) return;
  for (const Block& b : s) {
    if (!w.write(b.bytes, LR_BLOCK_SIZE)) return;
  }
  const uint32_t ack = w.read_u32();
  if (ack_seen != nullptr) *ack_seen = ack;
  if (echo) {
    w.write_u32(*echo);
  } else if (ack == kAckValue) {
    w.write_u32(ack);
  }
}

DestinationOptions to(const FakeWriter& fake) {
  DestinationOptions o;
  o.port = fake.port();
  o.io_timeout_ms = 2000;
  return o;
}

TEST(Destination, ReceivesTheWholeStreamAndGetsItsAcknowledgementBack) {
  const Stream s = generate_stream(StreamShape());
  std::string request;
  FakeWriter fake([&](FakeWriterSide& w) {
    if (!negotiate(w, &request)) return;
    for (const Block& b : s) w.write(b.bytes, LR_BLOCK_SIZE);
    if (w.read_u32() == kAckValue) w.write_u32(kAckValue);
  });
  DestinationOptions o = to(fake);
  o.src_path = "/vol/vol9/q";
  o.restart_sync_point = 103;
  const DestinationResult r = run_destination(o);
  EXPECT_TRUE(r.complete) << r.error << r.structure_error;
  EXPECT_EQ(r.version_answer, 4u);
  EXPECT_EQ(r.command_echo, static_cast<uint32_t>(RPLCMD_ACQTREE));
  EXPECT_EQ(r.reply_kind, ReplyKind::block);
  EXPECT_EQ(memcmp(r.reply.bytes, s[0].bytes, LR_BLOCK_SIZE), 0);
  ASSERT_EQ(r.blocks.size(), s.size() - 1);
  EXPECT_EQ(memcmp(r.blocks.data(), s.data() + 1, r.blocks.size() * LR_BLOCK_SIZE), 0);
  EXPECT_EQ(r.stream_blocks, s.size() - 1);
  EXPECT_EQ(r.headers_by_type.at(LR_HDR_START_STREAM), 1u);
  EXPECT_EQ(r.headers_by_type.at(LR_HDR_END_OF_STREAM), 1u);
  EXPECT_TRUE(r.end_seen);
  EXPECT_TRUE(r.ack_echoed);
  EXPECT_EQ(r.ack_echo, kAckValue);
  EXPECT_TRUE(r.writer_closed);
  EXPECT_EQ(r.closed_at, Step::finished);
  EXPECT_EQ(r.bytes_received, 8 + s.size() * LR_BLOCK_SIZE + 4);
  ASSERT_EQ(request.size(), LR_BLOCK_SIZE);
  const auto& req = *reinterpret_cast<const lr_neg_data_request*>(request.data());
  EXPECT_STREQ(req.src_path, "/vol/vol9/q");
  EXPECT_EQ(marshal_uint4(req.restart_sync_point), 103u);
}

TEST(Destination, RefusalRecordIsRecognisedWhenTheWriterClosesAfter1380Bytes) {
  FakeWriter fake([](FakeWriterSide& w) {
    if (!negotiate(w)) return;
    lr_neg_data_reply refusal{};
    refusal.ndr_errcode = static_cast<int32_t>(marshal_uint4(RPL_NEG_FAIL_VERSION));
    w.write(&refusal, sizeof refusal);
  });
  const DestinationResult r = run_destination(to(fake));
  EXPECT_EQ(r.reply_kind, ReplyKind::refusal);
  EXPECT_EQ(r.refusal.size(), LR_NEG_REPLY_SIZE);
  EXPECT_EQ(refusal_errcode(r), RPL_NEG_FAIL_VERSION);
  EXPECT_TRUE(r.writer_closed);
  EXPECT_EQ(r.closed_at, Step::reply);
  EXPECT_FALSE(r.complete);
}

TEST(Destination, ShortReplyIsAnErrorNotARefusal) {
  FakeWriter fake([](FakeWriterSide& w) {
    if (negotiate(w)) w.write(std::string(100, 'x').data(), 100);
  });
  const DestinationResult r = run_destination(to(fake));
  EXPECT_EQ(r.reply_kind, ReplyKind::none);
  EXPECT_EQ(r.error, "the writer closed the connection after 100 bytes of the reply");
}

TEST(Destination, HangsUpAfterTheRequestedNumberOfStreamBlocks) {
  StreamShape shape;
  shape.total_blocks = 4000;  // more than the socket buffers hold
  const Stream s = generate_stream(shape);
  bool writer_saw_close = false;
  FakeWriter fake([&](FakeWriterSide& w) {
    if (!negotiate(w)) return;
    for (const Block& b : s) {
      if (!w.write(b.bytes, LR_BLOCK_SIZE)) {
        writer_saw_close = true;
        return;
      }
    }
  });
  DestinationOptions o = to(fake);
  o.hangup_after_blocks = 10;
  const DestinationResult r = run_destination(o);
  EXPECT_TRUE(r.hung_up);
  EXPECT_EQ(r.stream_blocks, 10u);
  EXPECT_FALSE(r.ack_sent);
  EXPECT_FALSE(r.complete);
  EXPECT_EQ(r.error, "");
  fake.wait();
  EXPECT_TRUE(writer_saw_close);
}

TEST(Destination, AckOtherThanOneGetsNoEchoAndIsReported) {
  const Stream s = minimal_stream();
  uint32_t ack_seen = 0;
  FakeWriter fake([&](FakeWriterSide& w) { serve(w, s, &ack_seen); });
  DestinationOptions o = to(fake);
  o.ack_value = 2;
  const DestinationResult r = run_destination(o);
  EXPECT_TRUE(r.ack_sent);
  EXPECT_FALSE(r.ack_echoed);
  EXPECT_EQ(r.closed_at, Step::ack);
  EXPECT_EQ(r.error, "the writer closed the connection without echoing the acknowledgement");
  EXPECT_FALSE(r.complete);
  EXPECT_EQ(r.structure_error, "");
}

TEST(Destination, EchoThatDiffersFromTheAckIsReported) {
  const Stream s = minimal_stream();
  FakeWriter fake([&](FakeWriterSide& w) { serve(w, s, nullptr, 5); });
  const DestinationResult r = run_destination(to(fake));
  EXPECT_TRUE(r.ack_echoed);
  EXPECT_EQ(r.ack_echo, 5u);
  EXPECT_EQ(r.error, "the acknowledgement echo 5 differs from 1");
  EXPECT_FALSE(r.complete);
}

TEST(Destination, WithoutAckItHangsUpAtTheEndHeader) {
  const Stream s = minimal_stream();
  uint32_t ack_seen = 99;
  FakeWriter fake([&](FakeWriterSide& w) { serve(w, s, &ack_seen); });
  DestinationOptions o = to(fake);
  o.send_ack = false;
  const DestinationResult r = run_destination(o);
  EXPECT_TRUE(r.end_seen);
  EXPECT_TRUE(r.hung_up);
  EXPECT_FALSE(r.ack_sent);
  EXPECT_FALSE(r.complete);
  fake.wait();
  EXPECT_EQ(ack_seen, 0u);  // the writer's read found the connection closed
}

TEST(Destination, StopPointsEndTheNegotiationEarly) {
  for (Step stop : {Step::version, Step::command, Step::request}) {
    std::string seen_after;
    FakeWriter fake([&](FakeWriterSide& w) {
      w.read_u32();
      w.write_u32(4);
      if (stop == Step::version) {
        seen_after = w.peer_closes() ? "closed" : "more";
        return;
      }
      w.write_u32(w.read_u32());
      if (stop == Step::command) {
        seen_after = w.peer_closes() ? "closed" : "more";
        return;
      }
      w.read(LR_BLOCK_SIZE);
      seen_after = w.peer_closes() ? "closed" : "more";
    });
    DestinationOptions o = to(fake);
    o.stop_after = stop;
    const DestinationResult r = run_destination(o);
    EXPECT_EQ(r.reached, stop);
    EXPECT_TRUE(r.hung_up);
    fake.wait();
    EXPECT_EQ(seen_after, "closed") << step_name(stop);
  }
}

TEST(Destination, VersionAnswerZeroEndsTheNegotiation) {
  FakeWriter fake([](FakeWriterSide& w) {
    w.read_u32();
    w.write_u32(0);
    w.peer_closes();
  });
  DestinationOptions o = to(fake);
  o.version_word = 0x00010003;
  const DestinationResult r = run_destination(o);
  EXPECT_TRUE(r.version_answered);
  EXPECT_EQ(r.version_answer, 0u);
  EXPECT_FALSE(r.command_echoed);
  EXPECT_EQ(r.error, "the writer speaks none of the offered versions");
}

TEST(Destination, WriterClosingMidStreamIsReportedWithTheStructureFault) {
  const Stream s = minimal_stream();
  FakeWriter fake([&](FakeWriterSide& w) {
    if (!negotiate(w)) return;
    for (size_t i = 0; i < 6; ++i) w.write(s[i].bytes, LR_BLOCK_SIZE);
  });
  const DestinationResult r = run_destination(to(fake));
  EXPECT_EQ(r.stream_blocks, 5u);
  EXPECT_EQ(r.closed_at, Step::stream);
  EXPECT_EQ(r.error, "the writer closed the connection after 5 stream blocks");
  EXPECT_EQ(r.structure_error, "block 6: the stream ends with 1 data blocks still due");
  EXPECT_FALSE(r.end_seen);
}

TEST(Destination, StructureFaultIsRecordedAndTheStreamStillAcknowledged) {
  Stream s = minimal_stream();
  set_hdr_type(s[3], 7);
  FakeWriter fake([&](FakeWriterSide& w) { serve(w, s); });
  const DestinationResult r = run_destination(to(fake));
  EXPECT_EQ(r.structure_error, "block 3: invalid header type LR_HDR_BOGUS(7)");
  EXPECT_TRUE(r.ack_echoed);
  EXPECT_FALSE(r.complete);
}

TEST(Destination, SilentWriterTimesOut) {
  FakeWriter fake([](FakeWriterSide& w) {
    w.read_u32();
    w.peer_closes();
  });
  DestinationOptions o = to(fake);
  o.io_timeout_ms = 200;
  const DestinationResult r = run_destination(o);
  EXPECT_EQ(r.error, "version: no progress within 200 ms");
  EXPECT_LT(r.elapsed_seconds, 2.0);
}

TEST(Destination, ConnectingIsRetriedUntilTheWriterListens) {
  const Stream s = minimal_stream();
  FakeWriter fake([&](FakeWriterSide& w) { serve(w, s); }, "127.0.0.1", 300);
  const DestinationResult r = run_destination(to(fake));
  EXPECT_TRUE(r.complete) << r.error;
}

TEST(Destination, ConnectsOverIpv6Loopback) {
  const Stream s = minimal_stream();
  FakeWriter fake([&](FakeWriterSide& w) { serve(w, s); }, "::1");
  if (!fake.listening()) GTEST_SKIP() << "no IPv6 loopback on this machine";
  DestinationOptions o = to(fake);
  o.host = "::1";
  const DestinationResult r = run_destination(o);
  EXPECT_TRUE(r.complete) << r.error;
}

TEST(Destination, NoListenerBeforeTheDeadlineIsAConnectError) {
  DestinationOptions o;
  o.port = 1;  // privileged, nothing listens there
  o.connect_deadline_ms = 100;
  const DestinationResult r = run_destination(o);
  EXPECT_FALSE(r.connected);
  EXPECT_NE(r.error.find("connect to 127.0.0.1 port 1: Connection refused"), std::string::npos)
      << r.error;
}

}  // namespace
}  // namespace kit
