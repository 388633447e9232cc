// The application-restore child mode: the connection handed over by a parent
// process, and the choice of the dump sets from the path the destination
// requests (the operands are then directories holding dump sets).
#ifndef BRIX_BRIX_APP_SUPPORT_H
#define BRIX_BRIX_APP_SUPPORT_H

#include "brix.h"

// Dump-set names of an application restore that are taken whole.
#define APP_CONFIG_SET_NAME "HBAK__APP__CONFIG__"
#define APP_TLOGS_SET_NAME "TLogs"

// Receives the connection from the parent process. There is no parent side
// on this platform: it does nothing, and the connection is descriptor 0.
bool_t ReadNamedPipe(rpl_Session* session);

// Replaces the directories in input_file with the prefixes of the set named
// by the last component of qtree.
bool_t brix_app_dump_files_path(rpl_Session* session);

// Keeps "<directory>/<file_path>" for each directory holding
// "<file_path>.0", in the order of the directories; drops the others.
bool_t check_files_in_path(rpl_Session* session, const char* file_path);

#endif  // BRIX_BRIX_APP_SUPPORT_H
