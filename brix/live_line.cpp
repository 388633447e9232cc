// Drawing and clearing the live line, and the streams that clear it.
#include "live_line.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <mutex>

namespace {

// Back to the start of the line, and erase to its end.
const char kClearLine[] = "\r\033[K";

// The descriptors behind the two streams; the cookies of the streams.
int stdout_fd = STDOUT_FILENO;
int stderr_fd = STDERR_FILENO;

bool active = false;    // written once by begin_live_line, before other threads print
std::mutex line_mutex;  // orders the line's drawing with every write of the streams
bool shown = false;     // guarded by line_mutex: the terminal shows the line now

bool write_all(int fd, const char* bytes, size_t size) {
  while (size > 0) {
    const ssize_t n = write(fd, bytes, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    bytes += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

// Under line_mutex.
void clear_if_shown() {
  if (shown) write_all(STDERR_FILENO, kClearLine, sizeof(kClearLine) - 1);
  shown = false;
}

// The write function of both streams: the line goes before the bytes do.
ssize_t write_after_clearing(void* cookie, const char* bytes, size_t size) {
  std::lock_guard<std::mutex> lock(line_mutex);
  clear_if_shown();
  return write_all(*static_cast<int*>(cookie), bytes, size) ? static_cast<ssize_t>(size) : -1;
}

// A stream on *fd_cookie that clears the line first, buffered as `mode`; null
// when it cannot be made.
FILE* clearing_stream(int* fd_cookie, int mode) {
  cookie_io_functions_t functions = {nullptr, write_after_clearing, nullptr, nullptr};
  FILE* stream = fopencookie(fd_cookie, "w", functions);
  if (stream == nullptr) return nullptr;
  setvbuf(stream, nullptr, mode, BUFSIZ);
  // Byte-oriented from the start: perror writes through stderr itself only
  // once stderr has an orientation.
  fwide(stream, -1);
  return stream;
}

}  // namespace

bool begin_live_line() {
  if (active || !isatty(STDERR_FILENO)) return false;
  FILE* out = clearing_stream(&stdout_fd, _IOLBF);
  FILE* err = clearing_stream(&stderr_fd, _IONBF);
  if (out == nullptr || err == nullptr) {
    if (out != nullptr) fclose(out);
    if (err != nullptr) fclose(err);
    return false;
  }
  fflush(stdout);
  fflush(stderr);
  stdout = out;
  stderr = err;
  active = true;
  return true;
}

bool live_line_active() { return active; }

void show_live_line(const std::string& text) {
  winsize size;
  size_t width = text.size();
  // A line that wraps could not be cleared in place.
  if (ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0 && width >= size.ws_col) {
    width = size.ws_col - 1u;
  }
  const std::string drawn = kClearLine + text.substr(0, width);
  std::lock_guard<std::mutex> lock(line_mutex);
  shown = write_all(STDERR_FILENO, drawn.data(), drawn.size());
}

void clear_live_line() {
  std::lock_guard<std::mutex> lock(line_mutex);
  clear_if_shown();
}
