// Host-order view of header blocks.
#include "marshal.h"

#include <cstring>

#if __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
namespace {

// Converts the header record and the data-area member of its type.
void convert_header(lr_hdr* out) {
  lr_hdr_info* h = &out->u_lr_hdr_info.hdr;
  marshal_words(reinterpret_cast<uint32*>(h), 10);  // h_magic .. h_gennum
  marshal_words(reinterpret_cast<uint32*>(&h->h_file_metadata), 20);
  h->h_hole_entries = marshal_uint4(h->h_hole_entries);
  h->h_dir_num = marshal_uint4(h->h_dir_num);
  lr_ext_attr_info* ea = &h->h_attr_metadata;
  marshal_words(reinterpret_cast<uint32*>(ea), 5);
  ea->rea_attr_name_size = marshal_uint2(ea->rea_attr_name_size);
  h->h_attr_flags = marshal_uint4(h->h_attr_flags);
  switch (h->h_hdr_type) {
    case LR_HDR_MID_STREAM:
    case LR_HDR_FILE:
      marshal_words(out->u_lr_hdr_data.d_blknos, LR_MAX_FOLLOWING_BLKS);
      break;
    case LR_HDR_DELETED_FILE:
    case LR_HDR_STRMDIR_RELATIONSHIP:
      marshal_words(reinterpret_cast<uint32*>(out->u_lr_hdr_data.padding), 2 * LR_MAX_LIST_ENTRIES);
      break;
    default:
      break;
  }
}

}  // namespace
#endif

lr_hdr* marshal_hdr(lr_hdr* hdr_in, lr_hdr* hdr_out) {
  if (!lr_is_header(hdr_in)) return nullptr;
#if __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
  memcpy(hdr_out, hdr_in, sizeof(*hdr_out));
  convert_header(hdr_out);
  return hdr_out;
#else
  (void)hdr_out;
  return hdr_in;
#endif
}
