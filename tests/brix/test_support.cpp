// Helpers for the writer's unit tests.
#include "test_support.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace testing_support {

Block header_block(const HeaderFields& f) {
  Block block(LR_BLOCK_SIZE, '\0');
  lr_hdr_info& h = info_of(block);
  h.h_magic = LR_HDR_MAGIC;
  h.h_hdr_type = f.type;
  h.h_sync_num = static_cast<int32>(f.sync);
  h.h_blks_until_hdr = f.following;
  h.h_valid_data_entries = f.entries;
  h.h_hole_entries = f.holes;
  h.h_file_metadata.ri_file_type = f.file_type;
  h.h_attr_metadata.rea_type = f.ea_type;
  return block;
}

Block header_block(int32 type, uint32 sync, uint32 following) {
  HeaderFields f;
  f.type = type;
  f.sync = sync;
  f.following = following;
  return header_block(f);
}

Block file_header(uint32 sync, uint32 following, uint32 holes, uint32 file_type) {
  HeaderFields f;
  f.type = LR_HDR_FILE;
  f.sync = sync;
  f.following = following;
  f.holes = holes;
  f.entries = following + holes;
  f.file_type = file_type;
  Block block = header_block(f);
  for (uint32 i = 0; i < holes; i++) info_of(block).h_holes[i] = 1;
  return block;
}

Block data_block(int seed) {
  Block block(LR_BLOCK_SIZE, '\0');
  for (size_t i = 0; i < block.size(); i++) {
    block[i] = static_cast<char>((seed * 131 + static_cast<int>(i) * 7) % 251 + 1);
  }
  return block;
}

lr_hdr_info& info_of(Block& block) { return *reinterpret_cast<lr_hdr_info*>(&block[0]); }

std::string concat(const std::vector<Block>& blocks) {
  std::string all;
  for (const Block& b : blocks) all += b;
  return all;
}

void write_file(const std::string& path, const std::string& content) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(content.data(), static_cast<std::streamsize>(content.size()));
}

std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream all;
  all << in.rdbuf();
  return all.str();
}

bool file_exists(const std::string& path) { return access(path.c_str(), F_OK) == 0; }

SocketPair::SocketPair() {
  int fds[2];
  if (socketpair(AF_UNIX, SOCK_STREAM, 0, fds) != 0) throw std::runtime_error("socketpair");
  writer = fds[0];
  destination = fds[1];
}

SocketPair::~SocketPair() {
  if (writer >= 0) close(writer);
  close_destination();
}

void SocketPair::close_destination() {
  if (destination >= 0) close(destination);
  destination = -1;
}

std::string SocketPair::drain() {
  std::string all;
  char chunk[LR_BLOCK_SIZE];
  for (;;) {
    pollfd p = {destination, POLLIN, 0};
    if (poll(&p, 1, 200) <= 0) break;
    ssize_t n = read(destination, chunk, sizeof(chunk));
    if (n <= 0) break;
    all.append(chunk, static_cast<size_t>(n));
  }
  return all;
}

}  // namespace testing_support
