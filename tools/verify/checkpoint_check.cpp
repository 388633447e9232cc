// Following each checkpoint file as a restart would.
#include "verify/checkpoint_check.h"

#include <dirent.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "checkpoint.h"
#include "restart.h"
#include "verify/fault_kinds.h"
#include "verify/set_reading.h"

namespace verify {

namespace {

const char kNameMark[] = "-checkpoint-writer.";

// The points whose checkpoint files lie beside the set (the writer's
// half-written ".new" files are not records).
std::vector<uint32_t> points_with_files(const std::string& first_prefix) {
  const size_t slash = first_prefix.rfind('/');
  const std::string dir = slash == std::string::npos ? "." : first_prefix.substr(0, slash + 1);
  const std::string base =
      (slash == std::string::npos ? first_prefix : first_prefix.substr(slash + 1)) + kNameMark;
  std::vector<uint32_t> points;
  std::unique_ptr<DIR, int (*)(DIR*)> d(opendir(dir.c_str()), closedir);
  if (d == nullptr) return points;
  while (const dirent* e = readdir(d.get())) {
    const std::string name = e->d_name;
    if (name.compare(0, base.size(), base) != 0 || name.size() == base.size()) continue;
    char* end = nullptr;
    const unsigned long point = strtoul(name.c_str() + base.size(), &end, 10);
    if (*end == '\0' && point <= UINT32_MAX) points.push_back(static_cast<uint32_t>(point));
  }
  std::sort(points.begin(), points.end());
  return points;
}

// The block count a record of `point` must report: the blocks before the
// point's header, and the header too at the first file-phase point.
int64_t expected_count(uint32_t point, int64_t header_block) {
  return header_block - 1 + (point == LRD_RESTART_FILE_PHASE_BASE ? 1 : 0);
}

}  // namespace

void check_checkpoints(const options& o, const std::string& password, const char* start_header,
                       const std::map<uint32_t, int64_t>& point_blocks, summary& s) {
  if (!o.hbak) return;  // without hbak support the writer loads no record
  s.checkpoints_checked = true;
  for (uint32_t point : points_with_files(o.prefixes[0])) {
    checkpoint_summary c;
    c.point = point;
    c.file = o.prefixes[0] + kNameMark + std::to_string(point);
    kept_report told;
    writer_reports_to quiet(told);
    set_reading r(o);
    r.session.cmd = RPLCMD_ACQTREE;
    r.session.restart_checkpoint = point;
    restart_state restart;
    restart.chkpoint = B_TRUE;
    checkpoint_state records;
    int error = 0;
    const char* first = nullptr;
    // As the writer: the set opened and its first block read for the reply,
    // then the restart prepared from the record.
    bool ok = r.open_first(told) && r.prepare(password, told) &&
              r.source().next_block(&first, &error, told) &&
              (memcpy(r.session.in_buf, start_header, LR_BLOCK_SIZE), true) &&
              prepare_restart(&r.session, restart, records, r.container(), r.source(), told);
    const auto header = point_blocks.find(point);
    std::string advice;
    if (!ok) {
      advice = "a restart from point " + std::to_string(point) +
               " would be refused (see the message): delete this file; the restart must then "
               "begin at an earlier point";
    } else if (!records.record_loaded || header == point_blocks.end() ||
               records.cp1.blk_num != expected_count(point, header->second)) {
      ok = false;
      advice = "the record counts " + std::to_string(records.cp1.blk_num) +
               " blocks before the header of point " + std::to_string(point) +
               (header == point_blocks.end()
                    ? ", a point the stream does not hold"
                    : ", which is stream block " + std::to_string(header->second)) +
               ": it belongs to another capture of this set; delete it";
    } else {
      c.resumes_at_block = records.cp1.blk_num + 1;
    }
    c.ok = ok;
    s.checkpoints.push_back(c);
    if (ok) continue;
    finding f;
    f.kind = "checkpoint_refused";
    f.at.file = c.file;
    f.at.header_sync = point;
    if (header != point_blocks.end()) f.at.block = header->second;
    f.message = one_line(told.text());
    f.advice = advice;
    s.faults.push_back(f);
  }
}

}  // namespace verify
