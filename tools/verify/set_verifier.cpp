// The verifier's walk: the send loop's reading and checking, without a
// destination, with every fault located.
#include "verify/set_verifier.h"

#include <dirent.h>
#include <sys/stat.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <set>

#include "dump_set.h"
#include "marshal.h"
#include "stream_checks.h"
#include "verify/careful_destination.h"
#include "verify/checkpoint_check.h"
#include "verify/fault_kinds.h"
#include "verify/set_reading.h"

namespace verify {

namespace {

// Byte offsets of the container fields a fault can point at.
constexpr int64_t kDataSizeField = 40;   // data_size in either header
constexpr int64_t kDigestField = 124;    // digest_value in the encryption header
constexpr int64_t kVerifierField = 381;  // passwd_verifier in the encryption header

int64_t file_size(const std::string& name) {
  struct stat st;
  return stat(name.c_str(), &st) == 0 ? static_cast<int64_t>(st.st_size) : -1;
}

// A file of `prefix` numbered above `number`, or "" when there is none: a
// gap in the numbering, which the writer's probe stops at.
std::string file_beyond(const std::string& prefix, uint32_t number) {
  const size_t slash = prefix.rfind('/');
  const std::string dir = slash == std::string::npos ? "." : prefix.substr(0, slash + 1);
  const std::string base = (slash == std::string::npos ? prefix : prefix.substr(slash + 1)) + ".";
  std::unique_ptr<DIR, int (*)(DIR*)> d(opendir(dir.c_str()), closedir);
  if (d == nullptr) return "";
  while (const dirent* e = readdir(d.get())) {
    const std::string name = e->d_name;
    if (name.compare(0, base.size(), base) != 0 || name.size() == base.size()) continue;
    char* end = nullptr;
    const unsigned long n = strtoul(name.c_str() + base.size(), &end, 10);
    if (*end == '\0' && n > number) return prefix + "." + name.substr(base.size());
  }
  return "";
}

class walker {
 public:
  walker(const options& o, summary& s) : o_(o), s_(s), r_(o), dest_(o.hbak) {}
  void run();
  // What the checkpoint check needs once the walk is over.
  const char* start_header() const { return taken_ > 0 ? start_header_ : nullptr; }
  const std::string& password() const { return password_; }
  const std::map<uint32_t, int64_t>& point_blocks() const { return point_blocks_; }

 private:
  bool open_first_file();
  void take_start_header(const char* block);
  void walk_stream();
  void take_stream_block(const char* block);
  void finish_stream();
  void header_not_found_in_file_phase();
  void fault_at_end_without_end_header();

  void note_file();
  void note_block();
  void reading_fault(bool moved);
  bool skip_to_next_file(bool open_current);
  // Counts the blocks of the file being read that are not read.
  void skip_rest_of_file();
  place site_place(fault_site site);
  place block_place(int64_t number, const char* block);
  // A place that names only the header taken last.
  place in_header() const;
  void add(severity level, const std::string& kind, const place& at, const std::string& advice,
           bool cannot_run = false);
  void warn_at(int64_t number, const std::vector<std::string>& broken);

  const options& o_;
  summary& s_;
  set_reading r_;
  kept_report told_;  // what the reading core said since it was last cleared
  stream_walk walk_;
  careful_destination dest_;
  kit::Block copy_{};
  std::string password_;
  bool password_proven_ = false;  // an encrypted file of the set opened with it
  uint64_t taken_ = 0;            // stream blocks taken: the number of the next one
  bool stream_lost_ = false;      // a fault stopped the stream checks
  // Past a damaged file its headers' decoded size tells where the next file
  // begins; past a missing one nothing does.
  bool block_numbers_known_ = true;
  uint64_t file_first_block_ = 0;  // the stream block the file being read begins with
  bool stopped_ = false;           // a fault ended the run
  bool past_end_ = false;          // blocks follow the end header: the writer reads no further
  place header_;                   // the last header taken
  std::set<uint32_t> points_;
  std::map<uint32_t, int64_t> point_blocks_;  // each point's first header
  char start_header_[LR_BLOCK_SIZE] = {};
  // The file being read and the last block it delivered.
  uint32_t batch_ = UINT32_MAX, file_ = UINT32_MAX;
  std::string file_name_;
  bool container_file_ = false;
  int64_t chunks_in_file_ = 0;  // chunks of the file delivered so far
  block_position last_;
  bool any_block_in_file_ = false;
};

void walker::add(severity level, const std::string& kind, const place& at,
                 const std::string& advice, bool cannot_run) {
  finding f;
  f.kind = kind;
  f.level = level;
  f.at = at;
  f.message = one_line(told_.text());
  f.advice = advice;
  f.cannot_run = cannot_run;
  if (stream_lost_) f.at.header_type = 0;  // the headers after a fault are not followed
  if (!block_numbers_known_) f.at.block = -1;
  if (level == severity::warning && o_.strict) f.level = severity::fault;
  std::vector<finding>& list = f.level == severity::fault ? s_.faults : s_.warnings;
  for (const finding& seen : list) {
    if (seen.kind == f.kind && seen.at.file == f.at.file && f.level == severity::fault) return;
  }
  list.push_back(f);
  if (f.level == severity::fault && (!o_.all || kind == "wrong_password" || cannot_run)) {
    stopped_ = true;
  }
}

place walker::in_header() const {
  place at;
  at.header_type = header_.header_type;
  at.header_sync = header_.header_sync;
  at.header_block = header_.header_block;
  return at;
}

void walker::warn_at(int64_t number, const std::vector<std::string>& broken) {
  for (const std::string& what : broken) {
    place at = in_header();
    at.file = file_name_;
    at.block = number;
    add(severity::warning, "structure", at, what + "; a careful destination would refuse it");
  }
}

void walker::note_file() {
  const rpl_Session& s = r_.session;
  if (s.input_batch_index == batch_ && s.input_file_index == file_) return;
  batch_ = s.input_batch_index;
  file_ = s.input_file_index;
  file_name_ = r_.file_name();
  file_first_block_ = taken_;
  container_file_ = s.compressed || s.encrypted;
  chunks_in_file_ = 0;
  last_ = block_position();
  any_block_in_file_ = false;
  file_summary f;
  f.name = file_name_;
  f.kind = file_kind(s);
  f.stored_bytes = file_size(file_name_);
  s_.files.push_back(f);
  s_.stored_bytes += f.stored_bytes > 0 ? f.stored_bytes : 0;
}

void walker::note_block() {
  const block_position at = r_.source().last_block_position();
  // A container's chunks never begin at offset 0, where a new file's count starts.
  if (container_file_ && at.chunk.offset != last_.chunk.offset) {
    chunks_in_file_++;
  }
  last_ = at;
  any_block_in_file_ = true;
  if (r_.session.encrypted) password_proven_ = true;  // the file opened with it
  s_.blocks++;
  s_.files.back().blocks++;
}

place walker::block_place(int64_t number, const char* block) {
  place at = in_header();
  at.file = file_name_;
  at.block = number;
  if (container_file_) {
    at.offset = last_.chunk.offset;
    at.chunk = chunks_in_file_ - 1;
  } else {
    at.offset = last_.offset;
  }
  if (block != nullptr && lr_is_header(block)) {
    alignas(8) lr_hdr copy;
    alignas(8) lr_hdr swapped;
    memcpy(&copy, block, sizeof(copy));
    const lr_hdr_info& h = marshal_hdr(&copy, &swapped)->u_lr_hdr_info.hdr;
    at.header_type = h.h_hdr_type;
    at.header_sync = static_cast<uint32_t>(h.h_sync_num);
    at.header_block = number;
  }
  return at;
}

place walker::site_place(fault_site site) {
  const rpl_Session& s = r_.session;
  place at = in_header();
  at.file = site == fault_site::file_end ? file_name_ : r_.file_name();
  at.block = static_cast<int64_t>(taken_);
  const int64_t encryption_header = s.compressed ? COMP_HEADER_SIZE : 0;
  switch (site) {
    case fault_site::file_open:
      break;
    case fault_site::header:
      at.offset = encryption_header +
                  (told_.text().find("password") != std::string::npos ? kVerifierField : 0);
      break;
    case fault_site::chunk_table:
      at.offset = r_.container().get_chunk_offset();
      break;
    case fault_site::chunk: {
      const bool same_file = at.file == file_name_ && any_block_in_file_;
      if (!s.compressed && !s.encrypted) {
        at.offset = same_file ? last_.offset + LR_BLOCK_SIZE : 0;
      } else {
        at.offset = same_file ? last_.chunk.offset + last_.chunk.stored_len
                              : encryption_header + (s.encrypted ? ENCR_HEADER_SIZE : 0);
        at.chunk = same_file ? chunks_in_file_ : 0;
      }
      break;
    }
    case fault_site::file_end:
      at.block = static_cast<int64_t>(taken_) - 1;  // the file's last block
      at.offset = told_.text().find("digest") != std::string::npos
                      ? encryption_header + kDigestField
                      : (s.compressed ? 0 : encryption_header) + kDataSizeField;
      break;
    case fault_site::stream_block:
      break;
  }
  return at;
}

void walker::reading_fault(bool moved) {
  fault_kind k = classify_fault(told_.text(), password_proven_);
  if (k.site != fault_site::file_end && k.site != fault_site::file_open && moved) note_file();
  place at = site_place(k.site);
  if (k.site == fault_site::chunk_table && file_size(at.file) < at.offset + CHUNK_HEADER_SIZE) {
    // The table would lie beyond the file's end: the file is cut short.
    k = {"short_file", fault_site::chunk_table,
         "%s is cut short: its chunk table would begin beyond its end; copy %s again from where "
         "it was written"};
    at.offset = file_size(at.file);
  }
  if (k.site == fault_site::file_open && file_size(at.file) >= 0) {
    k = {"unreadable_file", fault_site::file_open,
         "%s is there but cannot be opened (the system says why above); make it readable", true};
  }
  add(severity::fault, k.kind, at, advice_for(k, at.file), k.cannot_run);
}

bool walker::open_first_file() {
  told_.clear();
  if (!r_.open_first(told_)) {
    reading_fault(false);
    return false;
  }
  note_file();
  rpl_Session& s = r_.session;
  if (s.encrypted && (!o_.ask_password || !o_.ask_password(&password_))) {
    add(severity::fault, "no_password", site_place(fault_site::header),
        "the set is encrypted and no password could be read; give it on standard input or with "
        "--password-file",
        true);
    return false;
  }
  if (!r_.prepare(password_, told_)) {
    reading_fault(false);
    return false;
  }
  return true;
}

void walker::take_start_header(const char* block) {
  memcpy(start_header_, block, LR_BLOCK_SIZE);
  const lr_hdr* h = reinterpret_cast<const lr_hdr*>(start_header_);
  const lr_neg_data_reply& reply = h->u_lr_hdr_data.d_neg;
  s_.source_machine.assign(reply.ndr_src_machine,
                           strnlen(reply.ndr_src_machine, sizeof(reply.ndr_src_machine)));
  s_.source_path.assign(reply.ndr_src_path,
                        strnlen(reply.ndr_src_path, sizeof(reply.ndr_src_path)));
  memcpy(copy_.bytes, block, LR_BLOCK_SIZE);
  header_.header_type = kit::hdr_type(copy_);
  header_.header_sync = kit::sync_num(copy_);
  header_.header_block = 0;
  s_.headers_by_type[header_.header_type]++;
  points_.insert(kit::sync_num(copy_));
  point_blocks_.emplace(kit::sync_num(copy_), 0);
  warn_at(0, dest_.take(copy_, true));
  taken_ = 1;
}

void walker::take_stream_block(const char* block) {
  rpl_Session& s = r_.session;
  const int64_t number = static_cast<int64_t>(taken_);
  if (block_follows_end(&s, walk_)) {
    add(severity::warning, "blocks_after_end", block_place(number, nullptr),
        "blocks follow the end-of-stream header; the writer does not send them (a rest of the "
        "file or a stale file of an earlier capture): remove them if they do not belong here");
    past_end_ = true;
    return;
  }
  const bool checked = block_is_checked(&s, walk_);
  if (checked) block = static_cast<const char*>(memcpy(s.in_buf, block, LR_BLOCK_SIZE));
  const bool due =
      s.inflate ? s.data_blks_til_header == 0 && lr_is_header(block) : walk_.blks_till_hdr == 0;
  const bool ending = checked && block_ends_stream(&s, walk_);
  told_.clear();
  if (ending && !check_rest_of_dump_file(&s, r_.container(), r_.source(), told_)) {
    const fault_kind k = classify_fault(told_.text(), password_proven_);
    place at = site_place(k.site);
    at.block = number;  // the file's end is checked at the end header
    add(severity::fault, k.kind, at, advice_for(k, at.file), k.cannot_run);
    if (stopped_) return;
    told_.clear();
  }
  uint32 generated = 0;
  if (!check_taken_block(&s, walk_, ending, nullptr, &generated)) {
    // The inflating mode refuses a file-phase data block without a word.
    if (told_.empty()) header_not_found_in_file_phase();
    const fault_kind k = classify_fault(told_.text(), password_proven_);
    add(severity::fault, k.kind, block_place(number, block), advice_for(k, file_name_));
    stream_lost_ = true;
    taken_++;
    return;
  }
  if (due) {
    header_ = block_place(number, block);
    const uint32_t point = static_cast<uint32_t>(header_.header_sync);
    s_.headers_by_type[header_.header_type]++;
    points_.insert(point);
    point_blocks_.emplace(point, number);
  }
  memcpy(copy_.bytes, block, LR_BLOCK_SIZE);
  warn_at(number, dest_.take(copy_, due));
  static const kit::Block kGenerated{};  // the inflating mode's data blocks are zero-filled
  for (; generated > 0; generated--) {
    warn_at(number, dest_.take(kGenerated, false));
    s.data_blks_til_header--;
  }
  s.blk_num++;
  taken_++;
}

void walker::skip_rest_of_file() {
  const rpl_Session& s = r_.session;
  const int64_t bytes = s.compressed || s.encrypted
                            ? static_cast<int64_t>(r_.container().stream_size())
                            : file_size(r_.file_name());
  taken_ = file_first_block_ + static_cast<uint64_t>(bytes < 0 ? 0 : bytes / LR_BLOCK_SIZE);
}

bool walker::skip_to_next_file(bool open_current) {
  rpl_Session& s = r_.session;
  if (!open_current) skip_rest_of_file();
  kept_report ignored;
  end_dump_file(&s, r_.container(), B_TRUE, ignored);  // nothing compared: it was read part-way
  close_input_dump(&s);
  stream_lost_ = true;
  char name[BRIX_NAME_BUF_SIZE];
  bool have = true;
  if (open_current) {
    snprintf(name, sizeof(name), "%s", r_.file_name().c_str());
  } else {
    have = get_next_input_file(name, &s);
  }
  for (; have && !stopped_; have = get_next_input_file(name, &s)) {
    told_.clear();
    bool refused = false;
    s.src_fd = open_dump_file(name, &refused);
    if (s.src_fd < 0) {
      if (!refused) told_.sayf("Failed to open %s for reading\n", name);
      reading_fault(false);
      block_numbers_known_ = false;
      continue;
    }
    if (detect_dump_file(&s, r_.container(), told_) &&
        prepare_dump_file(&s, r_.container(), r_.source(), told_)) {
      return true;
    }
    reading_fault(true);
    skip_rest_of_file();
    end_dump_file(&s, r_.container(), B_TRUE, ignored);
    close_input_dump(&s);
  }
  return false;
}

void walker::walk_stream() {
  rpl_Session& s = r_.session;
  s.cur_hdr = LR_HDR_INVALID;
  s.blk_num = 0;
  r_.source().read_ahead_from_now();
  while (!stopped_ && !past_end_) {
    told_.clear();
    const uint32 batch = s.input_batch_index, file = s.input_file_index;
    const char* block = nullptr;
    int error = 0;
    if (!read_set_block(&s, r_.container(), r_.source(), &block, &error, told_)) {
      if (error == 0 && told_.empty()) return;  // the end of the set
      const bool moved = batch != s.input_batch_index || file != s.input_file_index;
      reading_fault(moved);
      const fault_site site = classify_fault(told_.text(), password_proven_).site;
      const bool end_of_old_file = moved && site == fault_site::file_end;
      if (site == fault_site::file_open) block_numbers_known_ = false;
      if (stopped_ || !skip_to_next_file(end_of_old_file)) return;
      continue;
    }
    note_file();
    note_block();
    if (stream_lost_) {
      taken_++;
    } else {
      take_stream_block(block);
    }
  }
}

void walker::fault_at_end_without_end_header() {
  rpl_Session& s = r_.session;
  told_.clear();
  if (!check_rest_of_dump_file(&s, r_.container(), r_.source(), told_)) {
    reading_fault(false);
    return;
  }
  place at = in_header();
  at.file = file_name_;
  at.block = static_cast<int64_t>(taken_);
  const int64_t size = file_size(file_name_);
  const std::string prefix = s.input_file[batch_];
  char next[BRIX_NAME_BUF_SIZE];
  format_dump_file_name(next, prefix.c_str(), file_ + 1);
  const std::string beyond = file_beyond(prefix, file_);
  const bool data_due = s.inflate ? s.data_blks_til_header > 0 : walk_.blks_till_hdr > 0;
  if (!container_file_ && size % LR_BLOCK_SIZE != 0) {
    at.offset = size - size % LR_BLOCK_SIZE;
    add(severity::fault, "short_file", at,
        file_name_ +
            " ends inside a block and the stream has no end-of-stream header: it is "
            "cut short; copy " +
            file_name_ + " again from where it was written");
  } else if (!beyond.empty()) {
    at.file = next;
    add(severity::fault, "missing_file", at,
        std::string(next) + " is missing from the set (" + beyond +
            " is there, and the writer stops before the gap): put it beside the other files");
  } else if (data_due && !container_file_) {
    at.offset = size;
    add(severity::fault, "short_file", at,
        "the stream stops inside the data of its last header: " + file_name_ +
            " is cut short or the file after it (" + next +
            ") is missing; copy the set again from where it was written");
  } else {
    at.file = next;
    add(severity::fault, "missing_file", at,
        "the set ends after " + file_name_ + " without its end-of-stream header: " + next +
            " is missing" + (container_file_ ? "" : " (or " + file_name_ + " was cut at a block)") +
            "; put it beside the other files");
  }
}

void walker::header_not_found_in_file_phase() {
  told_.say(
      "Fatal Error. Header not found where expected. (Input data corrupt?)\n"
      "(with -i the file phase holds headers only: is this set the inflating mode's input?)\n");
}

void walker::finish_stream() {
  if (stopped_ || past_end_) return;
  if (stream_lost_) {
    // The last file read was not checked at an end header: its end is now.
    told_.clear();
    if (!check_rest_of_dump_file(&r_.session, r_.container(), r_.source(), told_)) {
      reading_fault(false);
    }
    return;
  }
  if (r_.session.cur_hdr != LR_HDR_END_OF_STREAM) {
    fault_at_end_without_end_header();
    return;
  }
  warn_at(static_cast<int64_t>(taken_), dest_.finish());
}

void walker::run() {
  const auto started = std::chrono::steady_clock::now();
  writer_reports_to quiet(told_);
  if (open_first_file()) {
    const char* block = nullptr;
    int error = 0;
    told_.clear();
    if (!r_.source().next_block(&block, &error, told_)) {
      if (error != 0 || !told_.empty()) {
        reading_fault(false);
      } else {
        add(severity::fault, "no_start_header", site_place(fault_site::file_open),
            "the set holds no block, so no start-of-stream header: copy its files again");
      }
    } else if (!lr_is_header(block)) {
      note_block();
      add(severity::fault, "no_start_header", block_place(0, nullptr),
          "the set's first block is not a stream header: the first file is not the start of "
          "the set, or it is damaged");
    } else {
      note_block();
      take_start_header(block);
      walk_stream();
      finish_stream();
    }
  }
  r_.source().reset();
  s_.point_count = points_.size();
  if (!points_.empty()) {
    s_.first_point = *points_.begin();
    s_.last_point = *points_.rbegin();
  }
  s_.elapsed_seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
}

}  // namespace

summary verify_set(const options& o) {
  summary s;
  s.prefixes = o.prefixes;
  walker w(o, s);
  w.run();
  if (o.checkpoints && w.start_header() != nullptr) {
    check_checkpoints(o, w.password(), w.start_header(), w.point_blocks(), s);
  }
  return s;
}

}  // namespace verify
