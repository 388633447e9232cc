// Header field access and structural walking of generated streams.
#include "rehearsal/block.h"

#include <cstring>

namespace kit {

lr_hdr& hdr_block(Block& b) { return *reinterpret_cast<lr_hdr*>(b.bytes); }
const lr_hdr& hdr_block(const Block& b) { return *reinterpret_cast<const lr_hdr*>(b.bytes); }
lr_hdr_info& hdr(Block& b) { return hdr_block(b).u_lr_hdr_info.hdr; }
const lr_hdr_info& hdr(const Block& b) { return hdr_block(b).u_lr_hdr_info.hdr; }

namespace {
uint32_t host(int32_t field) { return marshal_uint4(static_cast<uint32_t>(field)); }
uint32_t host(uint32_t field) { return marshal_uint4(field); }
int32_t wire_signed(uint32_t value) { return static_cast<int32_t>(marshal_uint4(value)); }
}  // namespace

int32_t hdr_type(const Block& b) { return static_cast<int32_t>(host(hdr(b).h_hdr_type)); }
uint32_t sync_num(const Block& b) { return host(hdr(b).h_sync_num); }
uint32_t blk_num(const Block& b) { return host(hdr(b).h_blk_num); }
uint32_t following_blocks(const Block& b) { return host(hdr(b).h_blks_until_hdr); }
uint32_t valid_entries(const Block& b) { return host(hdr(b).h_valid_data_entries); }
uint32_t hole_entries(const Block& b) { return host(hdr(b).h_hole_entries); }
uint32_t file_type(const Block& b) { return host(hdr(b).h_file_metadata.ri_file_type); }
uint32_t ea_type(const Block& b) { return host(hdr(b).h_attr_metadata.rea_type); }

uint64_t blks_done(const Block& b) {
  uint64_t wire;
  memcpy(&wire, b.bytes + LR_NEG_BLKS_DONE_OFFSET, sizeof wire);
  return marshal_uint8(wire);
}

bool is_valid_hdr_type(int32_t type) {
  return (type >= LR_HDR_START_STREAM && type <= LR_HDR_DISCARD_DATA) || carries_data(type);
}

void set_hdr_type(Block& b, int32_t type) {
  hdr(b).h_hdr_type = wire_signed(static_cast<uint32_t>(type));
}
void set_sync_num(Block& b, uint32_t sync) { hdr(b).h_sync_num = wire_signed(sync); }
void set_blk_num(Block& b, uint32_t num) { hdr(b).h_blk_num = marshal_uint4(num); }
void set_following_blocks(Block& b, uint32_t n) { hdr(b).h_blks_until_hdr = marshal_uint4(n); }
void set_valid_entries(Block& b, uint32_t n) { hdr(b).h_valid_data_entries = marshal_uint4(n); }
void set_hole_entries(Block& b, uint32_t n) { hdr(b).h_hole_entries = marshal_uint4(n); }
void set_file_type(Block& b, uint32_t type) {
  hdr(b).h_file_metadata.ri_file_type = marshal_uint4(type);
}
void set_ea_type(Block& b, uint32_t type) { hdr(b).h_attr_metadata.rea_type = marshal_uint4(type); }

void set_blks_done(Block& b, uint64_t n) {
  const uint64_t wire = marshal_uint8(n);
  memcpy(b.bytes + LR_NEG_BLKS_DONE_OFFSET, &wire, sizeof wire);
}

void break_magic(Block& b) { put_u32(b, 0, LR_HDR_MAGIC ^ 0xFFu); }
void put_magic(Block& b) { put_u32(b, 0, LR_HDR_MAGIC); }

uint32_t get_u32(const Block& b, size_t offset) {
  uint32_t wire;
  memcpy(&wire, b.bytes + offset, sizeof wire);
  return marshal_uint4(wire);
}

void put_u32(Block& b, size_t offset, uint32_t value) {
  const uint32_t wire = marshal_uint4(value);
  memcpy(b.bytes + offset, &wire, sizeof wire);
}

bool HeaderWalker::next(const Block& b) {
  if (lost_) return false;
  if (data_due_ > 0) {
    --data_due_;
    return false;
  }
  if (!is_header(b)) {
    lost_ = true;
    return false;
  }
  const bool data_left_out = form_ == Form::stripped && file_phase_;
  data_due_ = data_left_out ? 0 : following_blocks(b);
  if (hdr_type(b) == LR_HDR_MID_STREAM) file_phase_ = true;
  return true;
}

std::vector<size_t> header_indices(const Stream& s, Form form) {
  std::vector<size_t> found;
  HeaderWalker walk(form);
  for (size_t i = 0; i < s.size() && !walk.lost(); ++i) {
    if (walk.next(s[i])) found.push_back(i);
  }
  return found;
}

long find_header(const Stream& s, int32_t type, size_t nth, Form form) {
  for (size_t i : header_indices(s, form)) {
    if (hdr_type(s[i]) == type && nth-- == 0) return static_cast<long>(i);
  }
  return -1;
}

void renumber_headers(Stream& s) {
  for (size_t i : header_indices(s)) set_blk_num(s[i], static_cast<uint32_t>(i));
}

}  // namespace kit
