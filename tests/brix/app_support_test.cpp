// Choosing the dump sets of the application-restore child mode from the
// requested path.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <string>

#include "brix_app_support.h"
#include "test_support.h"

namespace {

using testing_support::TempDir;
using testing_support::TestSession;
using testing_support::write_file;

class AppSupport : public testing::Test {
 protected:
  TempDir root;
  TestSession t;
  std::string dir(const std::string& name) {
    std::string path = root.file(name);
    mkdir(path.c_str(), 0700);
    return path;
  }
  bool_t choose(const char* requested, std::string* err = nullptr) {
    t.s.qtree = strdup(requested);
    testing::internal::CaptureStderr();
    bool_t ok = brix_app_dump_files_path(&t.s);
    std::string e = testing::internal::GetCapturedStderr();
    if (err != nullptr) *err = e;
    return ok;
  }
};

TEST_F(AppSupport, SetIsFoundInTheDirectoriesThatHoldItsFirstFile) {
  std::string d1 = dir("d1"), d2 = dir("d2"), d3 = dir("d3");
  write_file(d2 + "/db1.0", "x");
  write_file(d3 + "/db1.0", "x");
  write_file(d1 + "/db1.1", "x");  // a later file alone does not count
  for (const std::string& d : {d1, d2, d3}) t.add_prefix(d);
  ASSERT_EQ(choose("/vol/app/db1.mdf"), B_TRUE);
  EXPECT_EQ(std::string(t.s.input_file[0]), d2 + "/db1");
  EXPECT_EQ(std::string(t.s.input_file[1]), d3 + "/db1");
  EXPECT_EQ(t.s.input_file[2], nullptr);
}

TEST_F(AppSupport, FixedSetNamesAreTakenWhole) {
  std::string d1 = dir("d1");
  write_file(d1 + "/HBAK__APP__CONFIG__.0", "x");
  write_file(d1 + "/TLogs.0", "x");
  t.add_prefix(d1);
  ASSERT_EQ(choose("/app/HBAK__APP__CONFIG__"), B_TRUE);
  EXPECT_EQ(std::string(t.s.input_file[0]), d1 + "/HBAK__APP__CONFIG__");

  TestSession u;
  u.add_prefix(d1);
  u.s.qtree = strdup("/app/TLogs");
  ASSERT_EQ(brix_app_dump_files_path(&u.s), B_TRUE);
  EXPECT_EQ(std::string(u.s.input_file[0]), d1 + "/TLogs");
}

TEST_F(AppSupport, LeadingDotsAreSkippedAndTheFirstTokenIsTheName) {
  std::string d1 = dir("d1");
  write_file(d1 + "/db2.0", "x");
  t.add_prefix(d1);
  ASSERT_EQ(choose("/a/..db2.x.y"), B_TRUE);
  EXPECT_EQ(std::string(t.s.input_file[0]), d1 + "/db2");
}

TEST_F(AppSupport, PathWithoutSlashOrWithoutTokenIsRefused) {
  t.add_prefix(dir("d1"));
  EXPECT_EQ(choose("nodirectory"), B_FALSE);
  TestSession u;
  u.add_prefix(dir("d1"));
  u.s.qtree = strdup("/a/...");
  EXPECT_EQ(brix_app_dump_files_path(&u.s), B_FALSE);
}

TEST_F(AppSupport, NoDirectoryHoldingTheSetLeavesAnEmptyList) {
  t.add_prefix(dir("d1"));
  ASSERT_EQ(choose("/vol/app/missing.db"), B_TRUE);
  EXPECT_EQ(t.s.input_file[0], nullptr);
}

TEST_F(AppSupport, CandidatePathTooLongForItsBufferIsRefused) {
  std::string deep = root.path() + "/" + std::string(1000, 'd');
  t.add_prefix(deep);
  std::string err;
  EXPECT_EQ(choose("/app/db1", &err), B_FALSE);
  EXPECT_EQ(err, "Dump set path longer than 1023 characters: " + deep + "/db1.0\n");
}

TEST_F(AppSupport, FirstFileThatIsAFifoIsRefusedWithoutBlocking) {
  std::string d1 = dir("d1");
  ASSERT_EQ(mkfifo((d1 + "/db1.0").c_str(), 0600), 0);
  t.add_prefix(d1);
  std::string err;
  alarm(60);  // an open that blocks ends the test instead of hanging it
  EXPECT_EQ(choose("/vol/app/db1", &err), B_FALSE);
  alarm(0);
  EXPECT_EQ(err, "Dump file " + d1 + "/db1.0 is not a regular file\n");
}

TEST_F(AppSupport, NamedPipeHandOverDoesNothingHere) {
  t.s.client_fd = 0;
  EXPECT_EQ(ReadNamedPipe(&t.s), B_FALSE);
  EXPECT_EQ(t.s.client_fd, 0);
}

}  // namespace
