// The chunk table at the end of a container: loaded into a list of chunk
// headers when the file is prepared, walked by the chunk refill, and
// selected by number when a restart repositions inside the file.
#ifndef BRIX_CHUNK_TABLE_H
#define BRIX_CHUNK_TABLE_H

#include "brix_comp_encr.h"
#include "list.h"

// The chunk headers of the open file, each in its own allocated record.
extern List_t chunk_list;
// Position behind curr_chunk in chunk_list.
extern POSITION chunk_list_pos;
// The chunk header that holds the next chunk; chunk_index is the index in it
// of the next chunk to read, chunk_header_num its number in the table.
extern chunk_header_type* curr_chunk;
extern int chunk_index;

// Offset of the chunk table: behind the headers and the data area.
long get_chunk_offset(rpl_Session* session);

// Reads the whole table, up to the end of the file, into chunk_list.
bool_t read_chunk_headers(rpl_Session* session, long offset);
bool_t read_chunk_header(rpl_Session* session, chunk_header_type* record);

// Releases every chunk header record held by the list.
void free_chunk_list_data(List_t* list);

// Releases every chunk header and empties the table.
void release_chunk_table();

// Makes the first chunk header current.
void select_first_chunk_header();

// Makes chunk header number chunk_header_count of cp the current one.
bool_t set_curr_chunk();

#endif  // BRIX_CHUNK_TABLE_H
