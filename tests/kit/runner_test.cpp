// The process runner with /bin/sh as the child: output capture, exit codes
// and signals, standard input in its three forms, time-outs and kills.
#include "kit/runner.h"

#include <gtest/gtest.h>

#include <csignal>

namespace kit {
namespace {

ProcessOptions shell(const std::string& script) {
  ProcessOptions o;
  o.path = "/bin/sh";
  o.args = {"-c", script};
  return o;
}

TEST(Runner, CapturesBothOutputsAndTheExitCode) {
  WriterProcess p;
  ASSERT_TRUE(p.start(shell("echo out; echo err >&2; exit 3"))) << p.error();
  const ExitStatus st = p.wait(5000);
  EXPECT_TRUE(st.exited);
  EXPECT_EQ(st.code, 3);
  EXPECT_FALSE(st.timed_out);
  EXPECT_EQ(p.output(Output::out), "out\n");
  EXPECT_EQ(p.output(Output::err), "err\n");
}

TEST(Runner, FixedInputIsReadToItsEnd) {
  ProcessOptions o = shell("wc -c; echo done");
  o.stdin_bytes = std::string(300000, 'x');  // more than a socket buffer holds
  WriterProcess p;
  ASSERT_TRUE(p.start(o)) << p.error();
  EXPECT_EQ(p.wait(5000).code, 0);
  EXPECT_EQ(p.output(Output::out), "300000\ndone\n");
}

TEST(Runner, InteractiveInputIsAnsweredLineByLine) {
  ProcessOptions o = shell("read a; echo \"got $a\"; read b; echo \"got $b\"; read c || echo end");
  o.stdin_mode = StdinMode::stream;
  WriterProcess p;
  ASSERT_TRUE(p.start(o)) << p.error();
  ASSERT_TRUE(p.write_stdin("first\n"));
  EXPECT_TRUE(p.wait_for_output(Output::out, "got first", 5000));
  EXPECT_EQ(p.output(Output::out).find("got second"), std::string::npos);
  ASSERT_TRUE(p.write_stdin("second\n"));
  p.close_stdin();
  EXPECT_EQ(p.wait(5000).code, 0);
  EXPECT_EQ(p.output(Output::out), "got first\ngot second\nend\n");
}

TEST(Runner, TerminalInputIsNotEchoedWhileEchoIsOff) {
  ProcessOptions o = shell(
      "stty -echo; printf 'Password:'; read secret; stty echo; printf 'Name:'; read name; "
      "echo \"$secret/$name\"");
  o.stdin_mode = StdinMode::terminal;
  WriterProcess p;
  ASSERT_TRUE(p.start(o)) << p.error();
  ASSERT_TRUE(p.wait_for_output(Output::out, "Password:", 5000));
  p.write_stdin("hunter2\n");
  ASSERT_TRUE(p.wait_for_output(Output::out, "Name:", 5000));
  p.write_stdin("visible\n");
  EXPECT_EQ(p.wait(5000).code, 0);
  EXPECT_NE(p.output(Output::out).find("hunter2/visible"), std::string::npos);
  EXPECT_NE(p.output(Output::terminal).find("visible"), std::string::npos);
  EXPECT_EQ(p.output(Output::terminal).find("hunter2"), std::string::npos);
}

TEST(Runner, EndOfFileOnATerminalEndsARead) {
  ProcessOptions o = shell("read x || echo eof");
  o.stdin_mode = StdinMode::terminal;
  WriterProcess p;
  ASSERT_TRUE(p.start(o)) << p.error();
  p.close_stdin();
  EXPECT_EQ(p.wait(5000).code, 0);
  EXPECT_EQ(p.output(Output::out), "eof\n");
}

TEST(Runner, WaitTimesOutAndKillEndsTheChildWithSigkill) {
  WriterProcess p;
  ASSERT_TRUE(p.start(shell("exec sleep 30"))) << p.error();
  EXPECT_TRUE(p.wait(100).timed_out);
  ASSERT_TRUE(p.kill());
  const ExitStatus st = p.wait(5000);
  EXPECT_TRUE(st.signaled);
  EXPECT_EQ(st.signal, SIGKILL);
  EXPECT_FALSE(p.kill());  // already reaped
}

TEST(Runner, DestructorKillsAndReapsARunningChild) {
  pid_t pid;
  {
    WriterProcess p;
    ASSERT_TRUE(p.start(shell("exec sleep 30"))) << p.error();
    pid = p.pid();
  }
  EXPECT_EQ(::kill(pid, 0), -1);
  EXPECT_EQ(errno, ESRCH);
}

TEST(Runner, WaitingForOutputThatNeverComesEndsWithTheOutput) {
  WriterProcess p;
  ASSERT_TRUE(p.start(shell("echo something"))) << p.error();
  EXPECT_FALSE(p.wait_for_output(Output::out, "other", 5000));
  EXPECT_EQ(p.output(Output::out), "something\n");
}

TEST(Runner, RunsInTheGivenDirectory) {
  ProcessOptions o = shell("pwd");
  o.cwd = "/tmp";
  WriterProcess p;
  ASSERT_TRUE(p.start(o)) << p.error();
  p.wait(5000);
  EXPECT_EQ(p.output(Output::out), "/tmp\n");
}

TEST(Runner, ProgramsThatCannotRunAreReported) {
  WriterProcess p;
  ProcessOptions o;
  o.path = "/nonexistent/brix_writer";
  EXPECT_FALSE(p.start(o));
  EXPECT_EQ(p.error(), "cannot run /nonexistent/brix_writer: No such file or directory");
  o = shell("true");
  o.cwd = "/nonexistent";
  WriterProcess q;
  EXPECT_FALSE(q.start(o));
  EXPECT_EQ(q.error(), "cannot enter /nonexistent: No such file or directory");
}

}  // namespace
}  // namespace kit
