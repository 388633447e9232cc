// Loading and walking the chunk table of a container.
#include "chunk_table.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "checkpoint.h"
#include "marshal.h"
#include "source_io.h"

List_t chunk_list = {nullptr, nullptr, 0};
POSITION chunk_list_pos = nullptr;
chunk_header_type* curr_chunk = nullptr;
int chunk_index = 0;

namespace {

// Set when the table ends in a partial chunk header: a damaged table, not
// one more header.
bool partial_header_found = false;

}  // namespace

long get_chunk_offset(rpl_Session* session) {
  // Sizes are taken as 32-bit values; computed in 64 bits so that a damaged
  // size can only point past the end of the file, never before its start.
  int64 offset = 0;
  if (session->compressed) offset += COMP_HEADER_SIZE;
  if (session->encrypted) offset += ENCR_HEADER_SIZE;
  if (session->compressed) {
    offset += static_cast<uint32>(marshal_uint8(comp_header.compressed_size));
  } else if (session->encrypted) {
    offset += static_cast<uint32>(marshal_uint8(encr_header.encrypted_size));
  }
  return static_cast<long>(offset);
}

bool_t read_chunk_header(rpl_Session* session, chunk_header_type* record) {
  ssize_t n = read_up_to(session->src_fd, record, sizeof(*record));
  if (n < 0) {
    perror("Bad read from Source");
    return B_FALSE;
  }
  if (n == 0) return B_FALSE;  // the end of the table
  if (n != static_cast<ssize_t>(sizeof(*record))) {
    partial_header_found = true;
    return B_FALSE;
  }
  return marshal_uint4(record->num_chunks) <= CHUNK_TABLE_ENTRIES ? B_TRUE : B_FALSE;
}

bool_t read_chunk_headers(rpl_Session* session, long offset) {
  partial_header_found = false;
  if (lseek(session->src_fd, offset, SEEK_SET) < 0) {
    perror("Bad read from Source");
    return B_FALSE;
  }
  for (;;) {
    chunk_header_type* record = static_cast<chunk_header_type*>(malloc(sizeof(chunk_header_type)));
    if (record == nullptr) break;
    if (!read_chunk_header(session, record) || !List_AddTail(&chunk_list, record)) {
      free(record);
      break;
    }
  }
  if (List_GetCount(&chunk_list) == 0 && !partial_header_found) {
    fprintf(stderr, "No chunk headers found\n");
    return B_FALSE;
  }
  const chunk_header_type* last = static_cast<const chunk_header_type*>(List_GetTail(&chunk_list));
  if (partial_header_found || last->last == 0) {
    fprintf(stderr, "Error while reading the chunk header information\n");
    return B_FALSE;
  }
  return B_TRUE;
}

void free_chunk_list_data(List_t* list) {
  POSITION pos = List_GetHeadPosition(list);
  while (pos != nullptr) free(List_GetNext(&pos));
}

void release_chunk_table() {
  free_chunk_list_data(&chunk_list);
  List_RemoveAll(&chunk_list);
  curr_chunk = nullptr;
  chunk_list_pos = nullptr;
}

void select_first_chunk_header() {
  chunk_list_pos = List_GetHeadPosition(&chunk_list);
  curr_chunk = chunk_list_pos != nullptr
                   ? static_cast<chunk_header_type*>(List_GetNext(&chunk_list_pos))
                   : nullptr;
}

bool_t set_curr_chunk() {
  chunk_list_pos = List_GetHeadPosition(&chunk_list);
  if (cp.chunk_header_count < 0) {
    curr_chunk = nullptr;
    return B_TRUE;
  }
  for (int i = 0; i <= cp.chunk_header_count; i++) {
    if (chunk_list_pos == nullptr) return B_FALSE;  // the table holds fewer headers
    curr_chunk = static_cast<chunk_header_type*>(List_GetNext(&chunk_list_pos));
  }
  return B_TRUE;
}
