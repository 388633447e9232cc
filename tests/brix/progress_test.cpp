// The progress lines: what the status line, the live line and the summary
// say for a given state, and where in the probed set a reading position lies.
#include "progress.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include "kit/temp_dir.h"

namespace {

progress_snapshot midway() {
  progress_snapshot s;
  s.blocks = 250;
  s.seconds = 2;
  s.sync_point = 7;
  s.file = "/d/vol.1";
  s.file_number = 2;
  s.files = 4;
  s.done = 500;
  s.done_at_start = 100;
  s.total = 1000;
  return s;
}

TEST(ProgressLines, SayTheCountsRateFileShareAndTimeLeft) {
  const struct {
    const char* what;
    void (*edit)(progress_snapshot&);
    const char* status;
    const char* live;
  } cases[] = {
      {"midway", [](progress_snapshot&) {},
       "brix_writer: 250 blocks, 1024000 bytes sent in 2.000 s, 0.5 MB/s; reading /d/vol.1; last "
       "sync point 7\n",
       "1.0 MB sent, 0.5 MB/s, file 2 of 4, 50%, ETA 0:00:03"},
      {"before anything was read", [](progress_snapshot& s) { s = progress_snapshot(); },
       "brix_writer: 0 blocks, 0 bytes sent in 0.000 s, 0.0 MB/s; no dump file read yet; last sync "
       "point 0\n",
       "0.0 MB sent, 0.0 MB/s"},
      {"a file the probe did not find", [](progress_snapshot& s) { s.file_number = 0; },
       "brix_writer: 250 blocks, 1024000 bytes sent in 2.000 s, 0.5 MB/s; reading /d/vol.1; last "
       "sync point 7\n",
       "1.0 MB sent, 0.5 MB/s"},
      {"nothing read since the start", [](progress_snapshot& s) { s.done_at_start = s.done; },
       nullptr, "1.0 MB sent, 0.5 MB/s, file 2 of 4, 50%"},
      {"hours left",
       [](progress_snapshot& s) {
         s.seconds = 10;
         s.done_at_start = 0;
         s.done = 1000000;
         s.total = 1000000000;
       },
       nullptr, "1.0 MB sent, 0.1 MB/s, file 2 of 4, 0%, ETA 2:46:30"},
      {"read past the probed sizes", [](progress_snapshot& s) { s.done = 1200; }, nullptr,
       "1.0 MB sent, 0.5 MB/s, file 2 of 4, 100%, ETA 0:00:00"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    progress_snapshot s = midway();
    c.edit(s);
    if (c.status != nullptr) {
      EXPECT_EQ(format_status_line(s), c.status);
    }
    EXPECT_EQ(format_live_line(s), c.live);
  }
  EXPECT_EQ(format_summary_line(midway()),
            "brix_writer: 250 blocks, 1024000 bytes sent in 2.000 s, 0.5 MB/s\n");
}

// The probe counts vol.0 (1000 bytes), vol.1 (3000) and more.0 (4000).
TEST(ProgressPosition, APositionCountsTheProbedFilesBeforeIt) {
  kit::TempDir dir;
  const struct {
    const char* prefix;
    uint32 batch, file;
    off_t size;
  } probed[] = {{"vol", 0, 0, 1000}, {"vol", 0, 1, 3000}, {"more", 1, 0, 4000}};
  progress_new_set();
  for (const auto& f : probed) {
    const std::string name = dir.file(std::string(f.prefix) + "." + std::to_string(f.file));
    const int fd = open(name.c_str(), O_CREAT | O_RDWR | O_CLOEXEC, 0600);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(ftruncate(fd, f.size), 0);
    progress_count_file(dir.file(f.prefix).c_str(), f.batch, f.file, fd);
    close(fd);
  }
  EXPECT_EQ(take_progress_snapshot().file, dir.file("vol.0"));  // the file the set opens with
  const struct {
    uint32 batch, file;
    int64 offset;
    const char* name;
    uint32 file_number;
    int64 done;
  } cases[] = {{0, 0, 500, "vol.0", 1, 500},
               {0, 1, 1000, "vol.1", 2, 2000},
               {1, 0, 4000, "more.0", 3, 8000},
               {0, 2, 64, "vol.2", 0, 8000}};  // supplied later: unknown, the share stays
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    progress_input_at(c.batch, c.file, c.offset);
    const progress_snapshot s = take_progress_snapshot();
    EXPECT_EQ(s.file, dir.file(c.name));
    EXPECT_EQ(s.file_number, c.file_number);
    EXPECT_EQ(s.files, 3u);
    EXPECT_EQ(s.done, c.done);
    EXPECT_EQ(s.total, 8000);
  }
}

}  // namespace
