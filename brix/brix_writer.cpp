// brix_writer: plays a captured replication stream back to a destination.
// main runs one transfer: command line, dump set, connection, negotiation,
// stream, acknowledgement, clean-up; every step prints its own failure.
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <initializer_list>

#include "brix.h"
#include "brix_app_support.h"
#include "command_line.h"
#include "core/sys.h"
#include "dump_set.h"
#include "getpass.h"
#include "listen.h"
#include "live_line.h"
#include "negotiate.h"
#include "peer_watch.h"
#include "progress.h"
#include "reading_state.h"
#include "secrets.h"
#include "send_stream.h"
#include "status_signal.h"
#include "wipe.h"

namespace {

// Closes the listening sockets and the connection (a field still at its
// initial 0 was never opened and is left alone), then the dump file.
bool_t close_input_dump_and_src(rpl_Session* session) {
  for (int* fd : {&session->listen_fd_inet6, &session->listen_fd_inet, &session->client_fd}) {
    if (*fd == 0) continue;
    if (*fd != -1) close(*fd);
    *fd = -1;
  }
  return close_input_dump(session);
}

void release_paths(rpl_Session* session) {
  for (int i = 0; i < BRIX_MAX_INPUT_FILES && session->input_file[i] != nullptr; i++) {
    free(session->input_file[i]);
    session->input_file[i] = nullptr;
  }
  free(session->qtree);
  session->qtree = nullptr;
}

const char* status_command_name(const rpl_Session* session) {
  return session->cmd == RPLCMD_RCQTREE ? "replicator" : "archivist";
}

// Opens the first dump file and prepares it when it is a container. An
// encrypted set always asks for its password, whatever -E gave.
bool prepare_dump_set(rpl_Session* session) {
  if (!open_input_dump(session) || !detect_container_kind(session)) return false;
  if (session->encrypted && !get_decryption_password(session)) return false;
  return prepare_input_dump(session);
}

// The connection: accepted on the replication port, or, in the child mode,
// handed over by the parent (descriptor 0 here), whose dump set is chosen
// during the negotiation.
bool connect_destination(rpl_Session* session) {
  if (apprestore) {
    SysSleep(1);
    ReadNamedPipe(session);
    return true;
  }
  return prepare_dump_set(session) && listen_for_connect(session) &&
         watch_connection(session->client_fd);
}

// Everything from the dump set to the acknowledgement; false on failure.
bool run_transfer(rpl_Session* session) {
  if (!load_keepalive_settings() || !connect_destination(session)) return false;
  if (!negotiate_dst(session)) return false;
  if (!session->hbak) {
    printf("Warning: HBAK support NOT enabled. Do not use -O option for HBAK transfers.\n");
  }
  printf("Transfer started.\nUse '%s status' on source to monitor progress.\n",
         status_command_name(session));
  progress_start_sending();
  if (!send_rpl_stream(session)) return false;
  if (session->cur_hdr != LR_HDR_END_OF_STREAM) {
    printf(
        "Transfer completed without end stream header. Aborting transfer. (Missing input "
        "files?)\n");
    return false;
  }
  if (!rpl_get_ack(session)) return false;
  printf("Transfer done.\nVerify by using '%s status' on destination.\n",
         status_command_name(session));
  // On a terminal the live line gives way to a closing summary.
  if (live_line_active()) fputs(format_summary_line(take_progress_snapshot()).c_str(), stderr);
  if (!delete_checkpoint_file(session)) fprintf(stderr, "unable to delete checkpoint files \n");
  close_input_file(session);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  // Progress lines reach a log or a pipe as they happen.
  setvbuf(stdout, nullptr, _IOLBF, 0);
  // A destination that hangs up must show as a failed write, not kill the
  // process silently.
  signal(SIGPIPE, SIG_IGN);
  // SIGUSR1 asks for a status line. Blocked before any thread exists, every
  // thread inherits the mask: the signal never interrupts a read or a write,
  // and only the status thread takes it.
  block_status_signal();

  alignas(8) static lr_hdr block_buffer;
  alignas(8) static lr_hdr conversion_buffer;
  rpl_Session session;
  init_session(&session, reinterpret_cast<char*>(&block_buffer),
               reinterpret_cast<char*>(&conversion_buffer));
  int ret = -1;

  if (parse_args(argc, argv, &session)) {
    if (session.verbose) {
      printf("Version %s\n", BRIX_WRITER_VERSION);
      exit(0);
    }
    if (session.encr_passwd[0] != '\0') keep_out_of_dumps();  // -E
    begin_live_line();  // on a terminal only; before the status thread prints
    start_status_thread();
    if (run_transfer(&session)) ret = 0;
  }
  stop_status_thread();
  clear_live_line();
  // The read-ahead thread stops, and the keys are wiped, before the dump
  // file it reads is closed; the password goes with them.
  reset_reading_state();
  wipe_secret(session.encr_passwd, sizeof(session.encr_passwd));
  close_input_dump_and_src(&session);
  release_paths(&session);
  return ret;
}
