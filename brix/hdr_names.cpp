// Names of header types and file types for the writer's messages.
#include <cstdio>

#include "lr.h"

namespace {

// Shared by both functions: a fallback text stays valid only until the next
// call of either.
char fallback_name[64];

const char* const file_type_names[] = {nullptr,
                                       "FILE_TYPE_REGULAR",
                                       "FILE_TYPE_DIRECTORY",
                                       "FILE_TYPE_BLOCK_DEV",
                                       "FILE_TYPE_CHAR_DEV",
                                       "FILE_TYPE_SYMLINK",
                                       "FILE_TYPE_SOCKET",
                                       "FILE_TYPE_FIFO",
                                       "FILE_TYPE_RSVD1",
                                       "FILE_TYPE_RSVD2",
                                       "FILE_TYPE_RSVD3",
                                       "FILE_TYPE_NTACL",
                                       "FILE_TYPE_NTSTREAM_DIR",
                                       "FILE_TYPE_NTSTREAM",
                                       "FILE_TYPE_RSVD4",
                                       "FILE_TYPE_VDISK"};

}  // namespace

const char* hdr_type_to_string(uint32 type) {
  switch (type) {
    case LR_HDR_START_STREAM:
      return "LR_HDR_START_STREAM";
    case LR_HDR_MID_STREAM:
      return "LR_HDR_MID_STREAM";
    case LR_HDR_END_OF_STREAM:
      return "LR_HDR_END_OF_STREAM";
    case LR_HDR_DELETED_FILE:
      return "LR_HDR_DELETED_FILE";
    case LR_HDR_STRMDIR_RELATIONSHIP:
      return "LR_HDR_STRMDIR_RELATIONSHIP";
    case LR_HDR_DISCARD_DATA:
      return "LR_HDR_DISCARD_DATA";
    case LR_HDR_FILE:
      return "LR_HDR_FILE";
    case LR_HDR_EXT_ATTR:
      return "LR_HDR_EXT_ATTR";
    default:
      snprintf(fallback_name, sizeof(fallback_name), "LR_HDR_BOGUS(%d)", static_cast<int>(type));
      return fallback_name;
  }
}

const char* file_type_to_string(uint32 type) {
  if (type >= FILE_TYPE_REGULAR && type <= FILE_TYPE_VDISK) return file_type_names[type];
  snprintf(fallback_name, sizeof(fallback_name), "FILETYPE_BOGUS(%d)", static_cast<int>(type));
  return fallback_name;
}
