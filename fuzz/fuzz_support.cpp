// Scratch files, sessions and checks for the fuzz targets.
#include "fuzz_support.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "kit/temp_dir.h"

namespace fuzz {

namespace {

// Taken before the fuzzer closes or redirects standard error.
const int kReportFd = dup(STDERR_FILENO);

[[noreturn]] void fail(const char* what, const std::string& detail) {
  dprintf(kReportFd >= 0 ? kReportFd : STDERR_FILENO, "fuzz: %s%s\n", what, detail.c_str());
  abort();
}

}  // namespace

const std::string& scratch_dir() {
  static const kit::TempDir dir;
  if (dir.path().empty()) fail("no scratch directory", "");
  return dir.path();
}

std::string scratch_file(const std::string& name) { return scratch_dir() + "/" + name; }

void clear_scratch_dir() {
  DIR* dir = opendir(scratch_dir().c_str());
  if (dir == nullptr) fail("cannot list the scratch directory", "");
  while (const dirent* entry = readdir(dir)) {
    if (entry->d_type == DT_DIR) continue;  // ".", ".." and fixed sets of their own
    unlink(scratch_file(entry->d_name).c_str());
  }
  closedir(dir);
}

std::vector<CheckpointFile> checkpoint_files_in(const std::string& dir) {
  static const char kInfix[] = "-checkpoint-writer.";
  std::vector<CheckpointFile> files;
  DIR* d = opendir(dir.c_str());
  if (d == nullptr) fail("cannot list ", dir);
  while (const dirent* entry = readdir(d)) {
    const char* infix = strstr(entry->d_name, kInfix);
    if (infix == nullptr) continue;
    const long point = strtol(infix + strlen(kInfix), nullptr, 10);
    files.push_back(CheckpointFile{dir + "/" + entry->d_name, static_cast<uint32_t>(point)});
  }
  closedir(d);
  return files;
}

void write_whole_file(const std::string& path, const void* data, size_t size) {
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd < 0) fail("cannot create ", path);
  const char* p = static_cast<const char*>(data);
  while (size > 0) {
    ssize_t n = write(fd, p, size);
    if (n <= 0) fail("cannot write ", path);
    p += n;
    size -= static_cast<size_t>(n);
  }
  close(fd);
}

FuzzSession::FuzzSession() {
  // The driver ignores SIGPIPE so that a hung-up destination is a failed
  // write; the targets play the same way.
  signal(SIGPIPE, SIG_IGN);
}

void FuzzSession::add_prefix(const std::string& prefix) {
  if (!OwnedSession::add_prefix(prefix)) fail("too many prefixes", "");
}

void FuzzSession::set_password(const char* password) {
  snprintf(s.encr_passwd, sizeof(s.encr_passwd), "%s", password);
}

MemorySink::MemorySink() {
  fd_ = memfd_create("brix_fuzz_sink", MFD_CLOEXEC);
  if (fd_ < 0) fail("no in-memory file for the sink", "");
}

MemorySink::~MemorySink() { close(fd_); }

std::string MemorySink::contents() const {
  std::string all;
  char chunk[LR_BLOCK_SIZE];
  off_t offset = 0;
  for (;;) {
    ssize_t n = pread(fd_, chunk, sizeof(chunk), offset);
    if (n < 0) fail("cannot read the sink back", "");
    if (n == 0) return all;
    all.append(chunk, static_cast<size_t>(n));
    offset += n;
  }
}

void require(bool ok, const char* what) {
  if (!ok) fail("check failed: ", what);
}

}  // namespace fuzz
