// The command line of brix_writer: the option parser that fills the session
// record, and the two usage texts.
#ifndef BRIX_COMMAND_LINE_H
#define BRIX_COMMAND_LINE_H

#include "brix.h"

#define BRIX_WRITER_VERSION "3.0.1"
#define BRIX_OPTION_STRING "haiOLAWPp:E:Q:v"

// Set by -h: the application-restore child mode.
extern bool_t apprestore;

// The initial state of the record (and of apprestore) before the command
// line is read. The two 4096-byte buffers belong to the caller.
void init_session(rpl_Session* session, char* in_buf, char* swapped_buf);

// B_TRUE when the run may go on; B_FALSE when the command line was refused
// (a usage text has been printed). Ends the process with status 1 when -P is
// given with more than one path.
bool_t parse_args(int argc, char** argv, rpl_Session* session);

void usage();
void secret_usage();

#endif  // BRIX_COMMAND_LINE_H
