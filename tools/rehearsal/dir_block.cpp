// Packing, generating and checking directory data blocks.
#include "rehearsal/dir_block.h"

#include <cstring>

#include "rehearsal/rng.h"

namespace kit {

namespace {

constexpr size_t kEntryHeadSize = sizeof(lr_dir_entry_hdr);
constexpr size_t kNameHeadSize = sizeof(lr_dir_entry_name_head);
constexpr size_t kRecordAlign = 8;  // dn_record_size is a multiple of this
constexpr uint8_t kMaxNameType = LRN_NON_UNICODE_8_3;
constexpr uint32_t kMaxGeneratedEntries = 8;

size_t round_up(size_t n) { return (n + kRecordAlign - 1) / kRecordAlign * kRecordAlign; }

std::string text(const char* what, size_t offset) {
  return std::string(what) + " at offset " + std::to_string(offset);
}

void put_entry_head(unsigned char* at, uint8_t type, uint8_t action, size_t len,
                    const DirEntry* e) {
  lr_dir_entry_hdr h{};
  h.dh_magic = marshal_uint4(LR_DIR_ENTRY_MAGIC);
  h.dh_type = type;
  h.dh_action = action;
  h.dh_len = marshal_uint2(static_cast<uint16_t>(len));
  if (e != nullptr) {
    uint32_t mask = 0;
    for (const DirName& n : e->names) mask |= 1u << n.type;
    h.dh_inum = marshal_uint4(e->inum);
    h.dh_gen_num = marshal_uint4(e->gen);
    h.dh_name_mask = marshal_uint4(mask);
    h.dh_num_names = static_cast<uint8_t>(e->names.size());
  }
  memcpy(at, &h, sizeof h);
}

DirEntry generated_entry(Rng& rng, uint32_t inum) {
  DirEntry e;
  e.inum = inum;
  e.gen = 1 + rng.below(4);
  e.action = rng.chance(0.1) ? LR_DIR_DELETE : LR_DIR_CREATE;
  const std::string base = "entry_" + std::to_string(inum) + std::string(rng.below(24), 'x');
  e.names.push_back(DirName{LRN_NFS_LONG, base});
  if (inum % 3 == 0) {
    e.names.push_back(unicode_name(base + ".long"));
    e.names.push_back(DirName{LRN_NON_UNICODE_8_3, "E" + std::to_string(inum % 100000) + ".TXT"});
  }
  return e;
}

}  // namespace

DirName unicode_name(const std::string& ascii) {
  DirName n;
  n.type = LRN_UNICODE_LONG;
  for (char c : ascii) {
    n.bytes.push_back(c);
    n.bytes.push_back('\0');
  }
  return n;
}

size_t dir_name_record_size(const DirName& name) {
  return round_up(kNameHeadSize + name.bytes.size());
}

size_t dir_entry_size(const DirEntry& entry) {
  size_t n = kEntryHeadSize;
  for (const DirName& name : entry.names) n += dir_name_record_size(name);
  return n;
}

bool pack_dir_block(const std::vector<DirEntry>& entries, Block& out) {
  memset(out.bytes, 0, sizeof out.bytes);
  size_t off = 0;
  for (const DirEntry& e : entries) {
    const size_t len = dir_entry_size(e);
    if (len > LR_BLOCK_SIZE - off) return false;
    put_entry_head(out.bytes + off, LR_VALID_DIRENT_V1, e.action, len, &e);
    size_t pos = off + kEntryHeadSize;
    for (const DirName& n : e.names) {
      lr_dir_entry_name_head head{};
      head.dn_name_type = n.type;
      head.dn_record_size = marshal_uint2(static_cast<uint16_t>(dir_name_record_size(n)));
      head.dn_name_size = marshal_uint2(static_cast<uint16_t>(n.bytes.size()));
      memcpy(out.bytes + pos, &head, sizeof head);
      memcpy(out.bytes + pos + kNameHeadSize, n.bytes.data(), n.bytes.size());
      pos += dir_name_record_size(n);
    }
    off += len;
  }
  if (LR_BLOCK_SIZE - off >= kEntryHeadSize) {
    put_entry_head(out.bytes + off, LR_END_OF_DATA, 0, kEntryHeadSize, nullptr);
  }
  return true;
}

Block generated_dir_block(uint64_t seed, uint32_t first_inum, bool fill,
                          uint32_t* entries_written) {
  Rng rng(seed);
  const uint32_t wanted = fill ? UINT32_MAX : rng.between(1, kMaxGeneratedEntries);
  std::vector<DirEntry> entries;
  size_t used = 0;
  for (uint32_t inum = first_inum; entries.size() < wanted; ++inum) {
    DirEntry e = generated_entry(rng, inum);
    const size_t len = dir_entry_size(e);
    if (used + len > LR_BLOCK_SIZE) break;
    used += len;
    entries.push_back(std::move(e));
  }
  Block b;
  pack_dir_block(entries, b);  // fits by construction
  if (entries_written != nullptr) *entries_written = static_cast<uint32_t>(entries.size());
  return b;
}

std::string check_dir_block(const Block& b) {
  size_t off = 0;
  while (LR_BLOCK_SIZE - off >= kEntryHeadSize) {
    lr_dir_entry_hdr h;
    memcpy(&h, b.bytes + off, sizeof h);
    if (marshal_uint4(h.dh_magic) != LR_DIR_ENTRY_MAGIC) return text("bad entry magic", off);
    if (h.dh_type != LR_VALID_DIRENT_V1) return "";
    if (h.dh_action > LR_DIR_CREATE) return text("bad entry action", off);
    const size_t len = marshal_uint2(h.dh_len);
    if (len < kEntryHeadSize || len > LR_BLOCK_SIZE - off)
      return text("entry length out of the block", off);
    const uint32_t mask = marshal_uint4(h.dh_name_mask);
    size_t pos = off + kEntryHeadSize;
    for (unsigned i = 0; i < h.dh_num_names; ++i) {
      if (kNameHeadSize > off + len - pos) return text("name record beyond its entry", pos);
      lr_dir_entry_name_head n;
      memcpy(&n, b.bytes + pos, sizeof n);
      const size_t rec = marshal_uint2(n.dn_record_size);
      if (n.dn_name_type > kMaxNameType) return text("bad name type", pos);
      if ((mask & (1u << n.dn_name_type)) == 0) return text("name type missing from the mask", pos);
      if (rec < kNameHeadSize || rec % kRecordAlign != 0) return text("bad name record size", pos);
      if (rec > off + len - pos) return text("name record beyond its entry", pos);
      if (marshal_uint2(n.dn_name_size) > rec - kNameHeadSize)
        return text("name longer than its record", pos);
      pos += rec;
    }
    if (pos - off != len) return text("entry length differs from its records", off);
    off += len;
  }
  return "";
}

}  // namespace kit
