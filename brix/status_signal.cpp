// The thread that answers SIGUSR1 with the status line.
#include "status_signal.h"

#include <pthread.h>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>

#include "progress.h"

namespace {

pthread_t status_thread;
bool running = false;          // the driver's thread alone starts and stops the thread
bool stopped_at_exit = false;  // stop_status_thread is registered with atexit
std::atomic<bool> quitting{false};

sigset_t status_signal_set() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGUSR1);
  return set;
}

void* answer_status_signal(void*) {
  const sigset_t set = status_signal_set();
  for (;;) {
    int taken = 0;
    if (sigwait(&set, &taken) != 0) continue;
    if (quitting.load()) return nullptr;
    // One call: stdio's lock keeps the line whole beside the writer's own output.
    fputs(format_status_line(take_progress_snapshot()).c_str(), stderr);
  }
}

}  // namespace

void block_status_signal() {
  const sigset_t set = status_signal_set();
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

bool start_status_thread() {
  if (running) return true;
  quitting = false;
  running = pthread_create(&status_thread, nullptr, answer_status_signal, nullptr) == 0;
  // The paths that end the process with exit() (the pause dialogue) join it
  // too: no thread is left behind, nor what it holds.
  if (!stopped_at_exit) stopped_at_exit = atexit(stop_status_thread) == 0;
  return running;
}

void stop_status_thread() {
  if (!running) return;
  quitting = true;
  pthread_kill(status_thread, SIGUSR1);  // blocked there too: sigwait takes it
  pthread_join(status_thread, nullptr);
  running = false;
}
