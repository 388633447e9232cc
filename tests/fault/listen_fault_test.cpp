// Faults while the writer listens: no IPv6 (the IPv4 fall-back), bind and
// listen refused on one family or both, accept failing, select interrupted.
// Each gives the exact perror lines, the right status, and a transfer that
// either completes or never starts.
#include <gtest/gtest.h>

#include <cerrno>

#include "fault_support.h"
#include "rehearsal/dump_writer.h"
#include "rehearsal/stream_gen.h"

namespace {

using e2e::Playback;
using fault::perror_line;

class ListenFault : public testing::Test, protected fault::StoredSet {
 protected:
  void SetUp() override { store(11, 40, {}); }

  void expect_complete(const Playback& p) {
    EXPECT_EQ(p.status.code, 0) << p.err;
    EXPECT_TRUE(p.dest.complete) << p.dest.error << p.dest.structure_error;
    EXPECT_TRUE(e2e::same_blocks(e2e::bytes_of(p.dest.blocks),
                                 e2e::bytes_of(stream, 1, stream.size() - 1)));
  }
};

TEST_F(ListenFault, OneFamilyFailingFallsBackToIpv4AndTheTransferCompletes) {
  struct Case {
    const char* rules;
    std::string reported;
  } cases[] = {
      {"socket:inet6@1=EAFNOSUPPORT", perror_line("Error in socket (inet6)", EAFNOSUPPORT)},
      {"bind:inet6@1=EADDRINUSE", perror_line("Error in bind (inet6)", EADDRINUSE)},
      {"listen:inet6@1=EADDRINUSE", perror_line("Error in listen (inet6)", EADDRINUSE)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.rules);
    fault::FaultyRun run(dir, c.rules);
    Playback p = run.play({prefix}, kit::DestinationOptions());
    expect_complete(p);
    EXPECT_EQ(p.err, c.reported + fault::kArchivistHint);
    EXPECT_NE(p.out.find("Waiting for connection (inet)\nConnection accepted from 127.0.0.1\n"),
              std::string::npos)
        << p.out;
    EXPECT_NE(run.fired(), "");
  }
}

TEST_F(ListenFault, NeitherFamilyListeningEndsTheRunBeforeWaiting) {
  struct Case {
    const char* rules;
    std::string reported;
  } cases[] = {
      {"socket@1+=EAFNOSUPPORT", perror_line("Error in socket (inet6)", EAFNOSUPPORT) +
                                     perror_line("Error in socket (inet)", EAFNOSUPPORT)},
      {"bind@1+=EADDRINUSE", perror_line("Error in bind (inet6)", EADDRINUSE) +
                                 perror_line("Error in bind (inet)", EADDRINUSE)},
      {"listen@1+=EADDRINUSE", perror_line("Error in listen (inet6)", EADDRINUSE) +
                                   perror_line("Error in listen (inet)", EADDRINUSE)},
      {"socket:inet6@1=EAFNOSUPPORT;bind:inet@1=EACCES",
       perror_line("Error in socket (inet6)", EAFNOSUPPORT) +
           perror_line("Error in bind (inet)", EACCES)},
      {"bind:inet6@1=EADDRINUSE;socket:inet@1=ENFILE",
       perror_line("Error in bind (inet6)", EADDRINUSE) +
           perror_line("Error in socket (inet)", ENFILE)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.rules);
    Playback p = fault::FaultyRun(dir, c.rules).run_alone({prefix});
    EXPECT_EQ(p.status.code, 255);
    EXPECT_EQ(p.err, c.reported);
    EXPECT_EQ(p.out, "brix_writer: Will read 1 files from prefix " + prefix + "\n");
  }
}

TEST_F(ListenFault, FailedAcceptEndsTheRunWithItsFamilysMessage) {
  struct Case {
    const char* rules;
    std::string before_hint;  // the fall-back's line, when there is one
    std::string reported;
  } cases[] = {
      {"accept:inet6@1=ECONNABORTED", "", perror_line("Error in accept (inet6)", ECONNABORTED)},
      {"socket:inet6@1=EAFNOSUPPORT;accept:inet@1=ENOBUFS",
       perror_line("Error in socket (inet6)", EAFNOSUPPORT),
       perror_line("Error in accept (inet)", ENOBUFS)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.rules);
    kit::DestinationOptions d;
    d.io_timeout_ms = 5000;
    Playback p = fault::FaultyRun(dir, c.rules).play({prefix}, d);
    EXPECT_EQ(p.status.code, 255);
    EXPECT_EQ(p.err, c.before_hint + fault::kArchivistHint + c.reported);
    EXPECT_EQ(p.out.find("Connection accepted"), std::string::npos);
    EXPECT_EQ(p.dest.reply_kind, kit::ReplyKind::none);
  }
}

TEST_F(ListenFault, InterruptedSelectIsSilentAndTheWaitGoesOn) {
  fault::FaultyRun run(dir, "select@1=EINTR");
  Playback p = run.play({prefix}, kit::DestinationOptions());
  expect_complete(p);
  EXPECT_EQ(p.err, fault::kArchivistHint);
  EXPECT_EQ(p.out, e2e::archivist_transcript(prefix, 1));
  EXPECT_EQ(run.fired(), "select@1\n");
}

}  // namespace
