// The chunk table at the end of a container: every chunk header of the file,
// loaded once when the file is prepared and looked up by number as the
// chunks are read.
#ifndef BRIX_CHUNK_TABLE_H
#define BRIX_CHUNK_TABLE_H

#include <vector>

#include "container_format.h"
#include "fault_report.h"

// Where the next chunk of a container is listed and stored.
struct chunk_cursor {
  int chunk_header_num = 0;  // the chunk header that lists it
  int chunk_index = 0;       // its entry there; may equal that header's num_chunks
  int64 offset = 0;          // where its stored bytes begin
};

class chunk_table {
 public:
  // Reads the whole table, from offset up to the end of the file on fd. A
  // chunk header that lists more than 2048 chunks ends the table; the last
  // header loaded must be marked last. B_FALSE, reported, otherwise.
  bool_t read_chunk_headers(int fd, int64 offset, fault_report& report);

  // Releases every chunk header.
  void clear() { std::vector<chunk_header_type>().swap(chunk_list); }

  int count() const { return static_cast<int>(chunk_list.size()); }

  // Moves `at` past a used-up chunk header to the next one and gives the
  // stored size of the chunk it then names; false, `at` unchanged, when the
  // file's chunks are used up.
  bool next_chunk(chunk_cursor* at, uint32* stored_size) const;
  // The total of every chunk's stored size.
  uint64_t stored_total() const;
  // Chunk header n, 0 <= n < count().
  const chunk_header_type& header(int n) const { return chunk_list[static_cast<size_t>(n)]; }

 private:
  enum class header_read { whole, end, partial, failed, too_many_chunks };
  static header_read read_chunk_header(int fd, chunk_header_type* record);

  std::vector<chunk_header_type> chunk_list;  // in file order
};

#endif  // BRIX_CHUNK_TABLE_H
