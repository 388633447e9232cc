// Small helpers for the writer's unit tests: a temporary directory, stream
// blocks built field by field, a ready session record, and a socket pair
// standing in for the destination connection.
#ifndef TESTS_BRIX_TEST_SUPPORT_H
#define TESTS_BRIX_TEST_SUPPORT_H

#include <string>
#include <vector>

#include "brix.h"
#include "kit/owned_session.h"
#include "kit/temp_dir.h"
#include "lr.h"

namespace testing_support {

using TempDir = kit::TempDir;

using Block = std::string;  // exactly LR_BLOCK_SIZE bytes

struct HeaderFields {
  int32 type = LR_HDR_FILE;
  uint32 sync = 0;
  uint32 following = 0;
  uint32 entries = 0;
  uint32 holes = 0;
  uint32 file_type = FILE_TYPE_REGULAR;
  uint32 ea_type = EXT_ATTR_TYPE_NT_ACL;
};
Block header_block(const HeaderFields& fields);
Block header_block(int32 type, uint32 sync, uint32 following = 0);
// A FILE or EXT_ATTR header with `holes` holes placed first and consistent
// counts: entries = following + holes.
Block file_header(uint32 sync, uint32 following, uint32 holes, uint32 file_type);
Block data_block(int seed);  // never starts with the header magic
lr_hdr_info& info_of(Block& block);

std::string concat(const std::vector<Block>& blocks);
void write_file(const std::string& path, const std::string& content);
std::string read_file(const std::string& path);
bool file_exists(const std::string& path);

// A session in its initial state, with its own buffers.
using TestSession = kit::OwnedSession;

// Both ends of a local stream socket pair; the writer side goes into
// client_fd, the test plays the destination on the other.
struct SocketPair {
  SocketPair();
  ~SocketPair();
  int writer = -1;
  int destination = -1;
  void close_destination();
  // Everything readable on the destination end until the writer end closes
  // or nothing more arrives.
  std::string drain();
};

}  // namespace testing_support

#endif  // TESTS_BRIX_TEST_SUPPORT_H
