// The session record: everything one run of the writer needs, owned by the
// driver and handed by pointer to every operation. The record is shared with
// the capture tool, so some fields serve only that tool and stay at their
// initial values here.
#ifndef BRIX_BRIX_H
#define BRIX_BRIX_H

#include <cstdio>

#include "lr.h"
#include "types.h"

enum { BRIX_MAX_INPUT_FILES = 20, BRIX_NAME_BUF_SIZE = 1024, BRIX_PASSWD_MAX = 64 };

// Transfer commands; the destination must request the one the writer serves.
enum rpl_Command : int32_t {
  RPLCMD_RCQTREE = 4,    // replicator tree initialisation
  RPLCMD_ACQTREE = 21,   // archivist baseline transfer (the default)
  RPLCMD_ACRESTORE = 22  // archivist restore
};

enum connection_mode_t : int32_t {
  RPL_CONNECTION_MODE_UNSPEC = 0,
  RPL_CONNECTION_MODE_INET = 1,
  RPL_CONNECTION_MODE_INET6 = 2
};

typedef struct _rpl_Session {
  rpl_Command cmd;
  bool_t verbose;                                // -v: print the version and stop
  bool_t logging;                                // capture tool only
  bool_t inflate;                                // -i: inflating mode of sending
  bool_t pause;                                  // -P: pause before each further dump file
  bool_t reader;                                 // B_FALSE in the writer
  char* input_file[BRIX_MAX_INPUT_FILES];        // owned prefix copies; null ends the list
  uint32 input_file_max[BRIX_MAX_INPUT_FILES];   // files found under each prefix
  char* output_file[BRIX_MAX_INPUT_FILES];       // capture tool only
  char output_path[BRIX_NAME_BUF_SIZE];          // capture tool only
  uint32 output_file_max[BRIX_MAX_INPUT_FILES];  // capture tool only
  uint32 input_file_index;                       // file number being read within the batch
  uint32 input_batch_index;                      // index of the prefix being read
  uint32 output_file_index;                      // capture tool only
  uint32 output_batch_index;                     // capture tool only
  bool_t debug;                                  // -a: messages while dump files are opened
  const char* log_file;                          // capture tool only
  int src_fd;                                    // open dump file, -1 when none
  int dst_fd;                                    // capture tool only
  int dst_file_size;                             // capture tool only
  int log_fd;                                    // not used
  FILE* logfile;                                 // capture tool only
  int listen_fd_inet;                            // IPv4 listening socket, -1 when closed
  int listen_fd_inet6;                           // IPv6 listening socket, -1 when closed
  int client_fd;                                 // the destination connection, -1 when closed
  connection_mode_t connection_mode;             // capture tool only
  const char* host;                              // capture tool only
  char* qtree;                                   // owned copy of the requested source path
  const char* dst_filer;                         // capture tool only
  const char* dst_path;                          // capture tool only
  const char* dst_nvramid;                       // capture tool only
  uint32 send_version;                           // capture tool only
  uint16 accept_version;                         // capture tool only
  uint16 current_version;                        // the protocol version the writer speaks: 4
  uint32 zrb_maj_version;                        // -Q, read only by the capture tool's request
  uint32 zrb_min_version;
  uint32 zrb_accepted_maj_version;  // capture tool only
  uint32 zrb_accepted_min_version;  // capture tool only
  int data_stage;                   // inflating mode: 0 tree phase, 1 file phase, 2 ended
  int64 blk_num;                    // blocks sent; restored from a checkpoint on restart
  uint32 data_blks_til_header;      // inflating mode: data blocks due before a header
  char* in_buf;                     // the 4096-byte block buffer
  char* swapped_buf;                // 4096-byte buffer for byte-order conversion
  int in_buf_size;
  int swapped_buf_size;
  uint32 restart_checkpoint;              // requested restart point, then the point reached
  bool_t input_stdin;                     // not used
  bool_t hbak;                            // hbak stream extensions (cleared by -O)
  bool_t whole_volume;                    // -W, capture tool's request only
  bool_t worm;                            // -L, capture tool's request only
  bool_t test;                            // not used
  int32 max_file_size;                    // capture tool only
  uint32 hbak_conf_inum;                  // capture tool only
  uint32 hbak_conf_file_size;             // capture tool only
  bool_t null_out;                        // capture tool only
  lr_hdr_type cur_hdr;                    // type of the last header sent
  bool_t compressed;                      // the current dump file is compressed
  bool_t encrypted;                       // the current dump file is encrypted
  uint16 key_size;                        // AES key length in bytes of the encrypted dump
  char encr_passwd[BRIX_PASSWD_MAX + 1];  // decryption password and its NUL
  bool_t bIsAppTransfer;                  // always B_FALSE on this platform
  int hbak_conf_fd;                       // capture tool only
  bool_t chkpoint;                        // capture tool's restart flag; B_FALSE here
} rpl_Session;

#endif  // BRIX_BRIX_H
