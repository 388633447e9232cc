// Inflating-mode header validation. The header is the host-order view that
// marshal_hdr gives.
#include "header_checks.h"

#include "fault_report.h"

namespace {

bool is_standalone(int32 type) {
  return type >= LR_HDR_START_STREAM && type <= LR_HDR_DISCARD_DATA;
}
bool has_data_blocks(int32 type) { return type == LR_HDR_FILE || type == LR_HDR_EXT_ATTR; }
bool is_valid_type(int32 type) { return is_standalone(type) || has_data_blocks(type); }

// Whether the stage admits the header type.
bool stage_admits(int stage, int32 type) {
  switch (stage) {
    case STAGE_TREE:
      return type != LR_HDR_DISCARD_DATA;
    case STAGE_FILES:
      return type == LR_HDR_START_STREAM || type == LR_HDR_END_OF_STREAM ||
             type == LR_HDR_DISCARD_DATA || has_data_blocks(type);
    default:
      return false;
  }
}

bool is_tree_phase_type(uint32 f) {
  return f == FILE_TYPE_DIRECTORY || f == FILE_TYPE_NTSTREAM_DIR;
}
bool is_file_phase_type(uint32 f) {
  return f == FILE_TYPE_REGULAR || f == FILE_TYPE_NTSTREAM || f == FILE_TYPE_VDISK;
}

}  // namespace

bool check_hdr_is_expected(const rpl_Session* session) {
  return session->data_blks_til_header == 0;
}

bool_t check_hdr_type(rpl_Session* session, const lr_hdr_info* hdr) {
  int32 type = hdr->h_hdr_type;
  if (!is_valid_type(type)) {
    writer_report().sayf("brix_reader: invalid header type : %s\n",
                         hdr_type_to_string(static_cast<uint32>(type)));
    return B_FALSE;
  }
  if (!stage_admits(session->data_stage, type)) {
    writer_report().sayf("brix_reader: invalid stage %d header type : %s\n", session->data_stage,
                         hdr_type_to_string(static_cast<uint32>(type)));
    return B_FALSE;
  }
  if (type == LR_HDR_MID_STREAM) session->data_stage = STAGE_FILES;
  if (type == LR_HDR_END_OF_STREAM && session->data_stage == STAGE_FILES) {
    session->data_stage = STAGE_ENDED;
  }
  return B_TRUE;
}

bool_t check_sync_num(rpl_Session* session, const lr_hdr_info* hdr) {
  uint32 sync = static_cast<uint32>(hdr->h_sync_num);
  bool valid;
  if (session->data_stage == STAGE_TREE) {
    valid = sync == LRD_RESTART_BASE;
  } else {
    valid = sync > LRD_RESTART_DST_TREE_MAX;
    if (valid && sync < session->restart_checkpoint) {
      writer_report().sayf("brix_reader: checkpoint in reverse: %d to %d\n",
                           static_cast<int>(session->restart_checkpoint), static_cast<int>(sync));
      return B_FALSE;
    }
  }
  if (!valid) {
    writer_report().sayf("brix_reader: invalid stage %d checkpoint: %d\n", session->data_stage,
                         static_cast<int>(sync));
    return B_FALSE;
  }
  if (session->cmd == RPLCMD_ACQTREE && session->hbak) session->restart_checkpoint = sync;
  return B_TRUE;
}

bool_t check_following_blks(rpl_Session* session, const lr_hdr_info* hdr) {
  int32 type = hdr->h_hdr_type;
  uint32 following = hdr->h_blks_until_hdr;
  if (!has_data_blocks(type) && following != 0) {
    writer_report().sayf(
        "brix_reader: invalid number of following blocks for standalone header: %d\n",
        static_cast<int>(following));
    return B_FALSE;
  }
  if (has_data_blocks(type) && following > LR_MAX_FOLLOWING_BLKS) {
    writer_report().sayf("brix_reader: invalid following blocks: %d\n",
                         static_cast<int>(following));
    return B_FALSE;
  }
  session->data_blks_til_header = following;
  return B_TRUE;
}

bool_t check_valid_entries(rpl_Session*, const lr_hdr_info* hdr) {
  int32 type = hdr->h_hdr_type;
  uint32 entries = hdr->h_valid_data_entries;
  uint32 limit;
  if (type == LR_HDR_DELETED_FILE || type == LR_HDR_STRMDIR_RELATIONSHIP) {
    limit = LR_MAX_LIST_ENTRIES;
  } else if (has_data_blocks(type)) {
    limit = LR_MAX_HOLE_ENTRIES;
  } else {
    return B_TRUE;
  }
  if (entries > limit) {
    writer_report().sayf("brix_reader: invalid following entries %d for header type: %s\n",
                         static_cast<int>(entries), hdr_type_to_string(static_cast<uint32>(type)));
    return B_FALSE;
  }
  if (!has_data_blocks(type)) return B_TRUE;

  uint32 blocks = hdr->h_blks_until_hdr;
  uint32 holes = hdr->h_hole_entries;
  if (entries < blocks) {
    writer_report().sayf("brix_reader: more blocks %d than following entries: %d\n",
                         static_cast<int>(blocks), static_cast<int>(entries));
    return B_FALSE;
  }
  if (entries != holes + blocks) {
    writer_report().sayf("brix_reader: mismatch between entries %d blocks %d and holes %d\n",
                         static_cast<int>(entries), static_cast<int>(blocks),
                         static_cast<int>(holes));
    return B_FALSE;
  }
  return B_TRUE;
}

bool_t check_holes(rpl_Session*, const lr_hdr_info* hdr) {
  if (!has_data_blocks(hdr->h_hdr_type)) return B_TRUE;
  uint32 found = 0;
  for (uint32 i = 0; i < LR_MAX_HOLE_ENTRIES; i++) {
    unsigned char value = static_cast<unsigned char>(hdr->h_holes[i]);
    if (value > 1) {
      writer_report().sayf("brix_reader: invalid hole value: %c, offset %d\n", value,
                           static_cast<int>(i));
      return B_FALSE;
    }
    found += value;
  }
  uint32 expected = hdr->h_hole_entries;
  if (found != expected) {
    writer_report().sayf("brix_reader: invalid num holes found: %d, expected %d\n",
                         static_cast<int>(found), static_cast<int>(expected));
    return B_FALSE;
  }
  return B_TRUE;
}

bool_t check_metadata(rpl_Session* session, const lr_hdr_info* hdr) {
  if (hdr->h_hdr_type != LR_HDR_FILE) return B_TRUE;
  uint32 file_type = hdr->h_file_metadata.ri_file_type;
  if (file_type < FILE_TYPE_REGULAR || file_type > FILE_TYPE_VDISK) {
    writer_report().sayf("brix_reader: Invalid filetype: %s\n", file_type_to_string(file_type));
    return B_FALSE;
  }
  bool refused = session->data_stage == STAGE_TREE ? is_file_phase_type(file_type)
                                                   : is_tree_phase_type(file_type);
  if (refused) {
    writer_report().sayf("brix_reader: invalid stage %d file type : %s\n", session->data_stage,
                         file_type_to_string(file_type));
    return B_FALSE;
  }
  return B_TRUE;
}

bool_t check_ea_metadata(rpl_Session*, const lr_hdr_info* hdr) {
  if (hdr->h_hdr_type != LR_HDR_EXT_ATTR) return B_TRUE;
  uint32 type = hdr->h_attr_metadata.rea_type;
  if (type < EXT_ATTR_TYPE_NT_ACL || type > EXT_ATTR_TYPE_COMPRESS_NT_ALTERNATE_DATA) {
    writer_report().sayf("brix_reader: Invalid metafiletype: %d\n", static_cast<int>(type));
    return B_FALSE;
  }
  return B_TRUE;
}

bool_t check_header_fully(rpl_Session* session, const lr_hdr_info* hdr) {
  return (check_hdr_type(session, hdr) && check_sync_num(session, hdr) &&
          check_following_blks(session, hdr) &&
          (!session->hbak || check_valid_entries(session, hdr)) && check_holes(session, hdr) &&
          check_metadata(session, hdr) && check_ea_metadata(session, hdr))
             ? B_TRUE
             : B_FALSE;
}
