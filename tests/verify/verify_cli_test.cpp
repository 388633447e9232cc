// The installed brix_verify: its exit statuses and password sources, its
// JSON report checked against the schema of its manual page and against
// its text report, and its check of the checkpoint files that a real
// interrupted transfer left.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>
#include <string>
#include <vector>

#include "e2e_support.h"
#include "kit/container_damage.h"
#include "kit/runner.h"
#include "kit/temp_dir.h"
#include "rehearsal/dump_writer.h"
#include "rehearsal/stream_gen.h"
#include "verify/set_verifier.h"

namespace {

const char kPassword[] = "cli password";

struct Outcome {
  kit::ExitStatus status;
  std::string out, err;
};

Outcome run_verify(const std::vector<std::string>& args, const std::string& input = "") {
  kit::ProcessOptions o;
  o.path = BRIX_VERIFY_PATH;
  o.args = args;
  o.stdin_bytes = input;
  kit::WriterProcess p;
  Outcome r;
  if (!p.start(o)) return r;
  r.status = p.wait(60000);
  r.out = p.output(kit::Output::out);
  r.err = p.output(kit::Output::err);
  return r;
}

class VerifyCli : public testing::Test {
 protected:
  kit::TempDir dir;
  std::string prefix = dir.file("vol");
  kit::Stream stream;
  std::vector<kit::DumpFileInfo> files;

  void SetUp() override {
    kit::StreamShape shape;
    shape.total_blocks = 400;
    shape.headers_per_sync = 30;  // few points: every checkpoint file is kept
    stream = kit::generate_stream(shape);
    kit::ContainerOptions options;
    options.password = kPassword;
    kit::DumpSetResult r = kit::write_container_set(prefix, stream, {150, 150},
                                                    kit::DumpFormat::compressed_encrypted, options);
    ASSERT_TRUE(r.ok()) << r.error;
    files = r.file_info;
    std::ofstream(dir.file("pw")) << kPassword << "\n";
  }
};

TEST_F(VerifyCli, ExitStatusTellsWholeFaultyOrCouldNotRun) {
  ASSERT_EQ(mkdir(dir.file("odd.0").c_str(), 0700), 0);
  struct Case {
    const char* what;
    std::vector<std::string> args;
    std::string input;
    int status;
  } cases[] = {
      {"no prefix", {}, "", 2},
      {"an unknown option", {"--fast", prefix}, "", 2},
      {"the password on standard input", {prefix}, std::string(kPassword) + "\n", 0},
      {"the password from a file", {"--password-file", dir.file("pw"), prefix}, "", 0},
      {"a password file that is not there", {"--password-file", dir.file("none"), prefix}, "", 2},
      {"a wrong password", {prefix}, "not it\n", 1},
      {"a directory in a file's place", {dir.file("odd")}, "", 2},
      {"a set that is not there", {dir.file("none")}, "", 1},
  };
  for (const Case& c : cases) {
    const Outcome r = run_verify(c.args, c.input);
    EXPECT_EQ(r.status.code, c.status) << c.what << "\n" << r.out << r.err;
  }
  const Outcome version = run_verify({"--version"});
  EXPECT_EQ(version.out, "brix_verify 3.0.1\n");
}

TEST_F(VerifyCli, JsonFollowsTheManualsSchemaAndSaysWhatTheTextSays) {
  ASSERT_EQ(kit::damage_flip_stored_byte(files[0], 1, 3), "");
  ASSERT_EQ(kit::damage_digest(files[2]), "");
  for (const std::vector<std::string>& extra :
       {std::vector<std::string>{"--all"}, std::vector<std::string>{}}) {
    std::vector<std::string> args = extra;
    args.insert(args.end(), {"--password-file", dir.file("pw"), prefix});
    const Outcome text = run_verify(args);
    args.insert(args.begin(), "--json");
    const Outcome json = run_verify(args);
    EXPECT_EQ(json.status.code, 1);
    std::ofstream(dir.file("report.json")) << json.out;
    std::ofstream(dir.file("report.txt")) << text.out;
    kit::ProcessOptions check;
    check.path = "/usr/bin/python3";
    check.args = {BRIX_VERIFY_CHECK_SCRIPT, BRIX_VERIFY_MANUAL, dir.file("report.json"),
                  dir.file("report.txt")};
    kit::WriterProcess p;
    ASSERT_TRUE(p.start(check));
    EXPECT_EQ(p.wait(60000).code, 0) << p.output(kit::Output::out) << json.out << text.out;
  }
}

// A real transfer interrupted at its acknowledgement leaves a checkpoint
// file at every point: each must lead a restart on with the block that a
// restart really sends; a damaged one is a fault.
TEST_F(VerifyCli, CheckpointsOfAnInterruptedTransferAreFollowedAsARestartWould) {
  kit::DestinationOptions interrupted;
  interrupted.send_ack = false;
  ASSERT_EQ(e2e::play({prefix}, interrupted, std::string(kPassword) + "\n").status.code, 255);
  verify::options o;
  o.prefixes = {prefix};
  o.checkpoints = true;
  o.ask_password = [](std::string* p) {
    *p = kPassword;
    return true;
  };
  verify::summary s = verify::verify_set(o);
  EXPECT_EQ(s.exit_status(), 0);
  ASSERT_GE(s.checkpoints.size(), 2u);
  for (const verify::checkpoint_summary& c : s.checkpoints) {
    const e2e::ResumePlace place = e2e::restart_place(stream, c.point, true);
    EXPECT_TRUE(c.ok) << c.file;
    EXPECT_EQ(c.resumes_at_block, static_cast<int64_t>(place.block)) << c.file;
  }
  const verify::checkpoint_summary damaged = s.checkpoints[1];
  std::fstream f(damaged.file, std::ios::in | std::ios::out | std::ios::binary);
  f.seekp(48);  // the block count
  f.put('\x7F');
  f.close();
  s = verify::verify_set(o);
  ASSERT_EQ(s.faults.size(), 1u);
  EXPECT_EQ(s.faults[0].kind, "checkpoint_refused");
  EXPECT_EQ(s.faults[0].at.file, damaged.file);
  EXPECT_EQ(s.faults[0].message, "checkpoint file is corrupted");
}

}  // namespace
