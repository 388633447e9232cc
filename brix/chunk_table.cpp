// Loading the chunk table of a container.
#include "chunk_table.h"

#include <new>

#include "marshal.h"
#include "source_io.h"

chunk_table::header_read chunk_table::read_chunk_header(int fd, chunk_header_type* record) {
  ssize_t n = read_up_to(fd, record, sizeof(*record));
  if (n < 0) return header_read::failed;
  if (n == 0) return header_read::end;
  if (n != static_cast<ssize_t>(sizeof(*record))) return header_read::partial;
  if (marshal_uint4(record->num_chunks) > CHUNK_TABLE_ENTRIES) return header_read::too_many_chunks;
  return header_read::whole;
}

bool_t chunk_table::read_chunk_headers(int fd, int64 offset, fault_report& report) {
  clear();
  if (!seek_source(fd, static_cast<off_t>(offset), report)) return B_FALSE;
  bool partial = false;
  for (;;) {
    chunk_header_type record;
    header_read got = read_chunk_header(fd, &record);
    if (got == header_read::failed) report.say_errno("Bad read from Source");
    if (got == header_read::partial) partial = true;
    if (got != header_read::whole) break;
    try {
      chunk_list.push_back(record);
    } catch (const std::bad_alloc&) {
      report.say("Not enough memory to load the chunk table\n");
      clear();
      return B_FALSE;
    }
  }
  // A trailing piece shorter than a chunk header is a damaged table, not one
  // more header.
  if (chunk_list.empty() && !partial) {
    report.say("No chunk headers found\n");
    return B_FALSE;
  }
  if (partial || chunk_list.back().last == 0) {
    report.say("Error while reading the chunk header information\n");
    return B_FALSE;
  }
  return B_TRUE;
}

bool chunk_table::next_chunk(chunk_cursor* at, uint32* stored_size) const {
  if (at->chunk_header_num < 0 || at->chunk_header_num >= count()) return false;
  const chunk_header_type* header = &chunk_list[static_cast<size_t>(at->chunk_header_num)];
  if (static_cast<uint32>(at->chunk_index) >= marshal_uint4(header->num_chunks)) {
    if (header->last || at->chunk_header_num + 1 >= count()) return false;  // the file is used up
    header = &chunk_list[static_cast<size_t>(++at->chunk_header_num)];
    at->chunk_index = 0;
  }
  *stored_size = marshal_uint4(header->chunk_sizes[at->chunk_index]);
  return true;
}

uint64_t chunk_table::stored_total() const {
  uint64_t total = 0;
  for (const chunk_header_type& header : chunk_list) {
    const uint32 used = marshal_uint4(header.num_chunks);
    for (uint32 i = 0; i < used; i++) total += marshal_uint4(header.chunk_sizes[i]);
  }
  return total;
}
