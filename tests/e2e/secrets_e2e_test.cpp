// What a writer waiting for its connection shows other processes: never the
// -E password in its command line, and, once it holds a password or keys,
// not its memory or environment either, even to another process of its user.
#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

#include "e2e_support.h"
#include "kit/temp_dir.h"
#include "rehearsal/dump_writer.h"
#include "rehearsal/stream_gen.h"

namespace {

const char kPassword[] = "hunter2-secret";

std::string command_line_of(pid_t pid) {
  std::string text, error;
  kit::read_file("/proc/" + std::to_string(pid) + "/cmdline", text, error);
  return text;
}

// A user other than root for the writer and the process that looks at it:
// root may look into any process.
const uid_t kNobody = 65534;

// Whether another process of the writer's user may open /proc/<pid>/environ:
// only while the writer is dumpable.
bool environment_readable(pid_t pid, uid_t user) {
  pid_t probe = fork();
  if (probe == 0) {
    if (user != geteuid() &&
        (setgroups(0, nullptr) != 0 || setgid(user) != 0 || setuid(user) != 0)) {
      _exit(2);
    }
    _exit(open(("/proc/" + std::to_string(pid) + "/environ").c_str(), O_RDONLY) >= 0 ? 0 : 1);
  }
  int status = 0;
  waitpid(probe, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) <= 1) << status;
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// The writer, run as `user`.
kit::ProcessOptions writer_as(uid_t user, const std::vector<std::string>& args,
                              const std::string& stdin_bytes) {
  kit::ProcessOptions o = e2e::writer_options(args, stdin_bytes);
  if (user == geteuid()) return o;
  const std::string id = std::to_string(user);
  o.args.insert(o.args.begin(), {"--reuid=" + id, "--regid=" + id, "--clear-groups", o.path});
  o.path = "/usr/bin/setpriv";
  return o;
}

TEST(Secrets, WaitingWriterShowsNoPasswordAndNoMemoryWhileItHoldsOne) {
  const uid_t user = geteuid() == 0 ? kNobody : geteuid();
  kit::TempDir dir;
  ASSERT_EQ(chmod(dir.path().c_str(), 0755), 0);  // the set is read as `user`
  const kit::Stream stream = kit::minimal_stream();
  ASSERT_TRUE(kit::write_plain_set(dir.file("plain"), stream, {}).ok());
  kit::ContainerOptions options;
  options.password = kPassword;
  ASSERT_TRUE(
      kit::write_container_set(dir.file("secret"), stream, {}, kit::DumpFormat::encrypted, options)
          .ok());
  const std::string typed = std::string(kPassword) + "\n";
  const struct {
    std::vector<std::string> args;
    std::string stdin_bytes;
    bool holds_secret;
  } cases[] = {
      {{dir.file("plain")}, "", false},
      {{"-E", kPassword, dir.file("plain")}, "", true},
      {{std::string("-E") + kPassword, dir.file("plain")}, "", true},
      {{dir.file("secret")}, typed, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args.front());
    kit::WriterProcess writer;
    ASSERT_TRUE(writer.start(writer_as(user, c.args, c.stdin_bytes))) << writer.error();
    ASSERT_TRUE(writer.wait_for_output(kit::Output::out, "Waiting for connection", 20000))
        << writer.output(kit::Output::err);
    EXPECT_EQ(command_line_of(writer.pid()).find(kPassword), std::string::npos);
    EXPECT_EQ(environment_readable(writer.pid(), user), !c.holds_secret);
    writer.kill();
  }
}

}  // namespace
