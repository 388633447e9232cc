// Dump set layouts, the streaming set writer (plain files here, containers
// through ContainerFileWriter), and reading sets back.
#include "rehearsal/dump_writer.h"

#include <cerrno>
#include <cstring>

namespace kit {

namespace {

constexpr size_t kNameBufSize = 1024;      // the writer forms names in a buffer of this size
constexpr unsigned char kTailFill = 0xA5;  // content of trailing partial blocks

std::string errno_text(const std::string& what, const std::string& path) {
  return what + " " + path + ": " + strerror(errno);
}

}  // namespace

std::string dump_file_name(const std::string& prefix, int number) {
  char name[kNameBufSize];
  snprintf(name, sizeof name, "%s.%d", prefix.c_str(), number);
  return name;
}

std::string checkpoint_file_name(const std::string& prefix, uint32_t sync) {
  char name[kNameBufSize];
  snprintf(name, sizeof name, "%s-checkpoint-writer.%d", prefix.c_str(), static_cast<int>(sync));
  return name;
}

DumpSetLayout split_layout(const std::string& prefix,
                           const std::vector<uint64_t>& blocks_per_file) {
  return multi_prefix_layout({prefix}, {blocks_per_file});
}

DumpSetLayout multi_prefix_layout(const std::vector<std::string>& prefixes,
                                  const std::vector<std::vector<uint64_t>>& per_prefix) {
  DumpSetLayout layout;
  layout.prefixes = prefixes;
  for (size_t p = 0; p < per_prefix.size() && p < prefixes.size(); ++p) {
    int number = 0;
    for (uint64_t blocks : per_prefix[p]) {
      DumpFilePlan f;
      f.prefix = p;
      f.number = number++;
      f.blocks = blocks;
      layout.files.push_back(f);
    }
  }
  // Whatever the listed files leave goes into one more file of the last prefix.
  DumpFilePlan rest;
  rest.prefix = layout.files.empty() ? 0 : layout.files.back().prefix;
  rest.number = layout.files.empty() ? 0 : layout.files.back().number + 1;
  rest.blocks = kRestOfStream;
  layout.files.push_back(rest);
  return layout;
}

DumpSetLayout even_layout(const std::string& prefix, uint64_t total, uint64_t per_file) {
  std::vector<uint64_t> split;
  if (per_file > 0) {
    for (uint64_t left = total; left > per_file; left -= per_file) split.push_back(per_file);
  }
  return split_layout(prefix, split);
}

void leave_gap(DumpSetLayout& layout, size_t prefix, int number) {
  for (DumpFilePlan& f : layout.files) {
    if (f.prefix == prefix && f.number >= number) ++f.number;
  }
}

void set_format(DumpSetLayout& layout, DumpFormat format) {
  for (DumpFilePlan& f : layout.files) f.format = format;
}

DumpSetWriter::DumpSetWriter(DumpSetLayout layout)
    : layout_(std::move(layout)), walk_(layout_.form) {}

DumpSetWriter::~DumpSetWriter() {
  if (current_ != nullptr) fclose(current_);
}

bool DumpSetWriter::fail(const std::string& what) {
  if (result_.error.empty()) result_.error = what;
  return false;
}

bool DumpSetWriter::open_next() {
  if (next_file_ >= layout_.files.size()) return fail("the layout has no room for more blocks");
  const DumpFilePlan& plan = layout_.files[next_file_++];
  if (plan.prefix >= layout_.prefixes.size())
    return fail("a file names a prefix that is not listed");
  if (plan.tail_bytes >= LR_BLOCK_SIZE)
    return fail("a trailing partial block must be shorter than a block");
  if (plan.tail_bytes > 0 && is_container(plan.format))
    return fail("a trailing partial block belongs to plain files only");
  const std::string name = dump_file_name(layout_.prefixes[plan.prefix], plan.number);
  current_first_ = result_.blocks;
  current_left_ = plan.blocks;
  if (is_container(plan.format)) {
    const ContainerOptions& options = plan.container ? *plan.container : layout_.container;
    if (!container_.open(name, plan.format, options, container_salt(options, next_file_ - 1),
                         current_first_)) {
      return fail(container_.error());
    }
  } else {
    current_ = fopen(name.c_str(), "wbe");
    if (current_ == nullptr) return fail(errno_text("cannot create", name));
  }
  result_.files.push_back(name);
  return true;
}

bool DumpSetWriter::close_current() {
  if (container_.is_open()) {
    if (!container_.finish()) return fail(container_.error());
    result_.file_info.push_back(container_.info());
    return true;
  }
  const DumpFilePlan& plan = layout_.files[next_file_ - 1];
  const std::string tail(plan.tail_bytes, static_cast<char>(kTailFill));
  bool ok = fwrite(tail.data(), 1, tail.size(), current_) == tail.size();
  ok = fclose(current_) == 0 && ok;
  current_ = nullptr;
  result_.bytes += tail.size();
  if (!ok) return fail(errno_text("cannot write", result_.files.back()));
  DumpFileInfo info;
  info.path = result_.files.back();
  info.first_block = current_first_;
  info.blocks = result_.blocks - current_first_;
  info.size = static_cast<int64_t>(info.blocks * LR_BLOCK_SIZE + tail.size());
  result_.file_info.push_back(info);
  return true;
}

bool DumpSetWriter::add(const Block& b) {
  if (!result_.error.empty()) return false;
  bool opens_new_sync = false;
  if (walk_.next(b)) {
    opens_new_sync = seen_header_ && sync_num(b) != last_sync_;
    seen_header_ = true;
    last_sync_ = sync_num(b);
  }
  // Files that are full (or listed empty) are closed before the block goes out.
  while (!file_open() || current_left_ == 0) {
    if (file_open() && !close_current()) return false;
    if (!open_next()) return false;
  }
  if (container_.is_open()) {
    if (!container_.add(b, opens_new_sync)) return fail(container_.error());
  } else if (fwrite(b.bytes, 1, LR_BLOCK_SIZE, current_) != LR_BLOCK_SIZE) {
    return fail(errno_text("cannot write", result_.files.back()));
  }
  if (current_left_ != kRestOfStream) --current_left_;
  ++result_.blocks;
  result_.bytes += LR_BLOCK_SIZE;
  return true;
}

bool DumpSetWriter::finish() {
  if (!result_.error.empty()) return false;
  if (file_open()) {
    if (current_left_ != 0 && current_left_ != kRestOfStream) {
      return fail(result_.files.back() + " wants " + std::to_string(current_left_) +
                  " more blocks");
    }
    if (!close_current()) return false;
  }
  while (next_file_ < layout_.files.size()) {
    const DumpFilePlan& plan = layout_.files[next_file_];
    if (plan.blocks != 0 && plan.blocks != kRestOfStream) {
      return fail("the layout wants more blocks than the stream has");
    }
    // A trailing "rest" file with nothing left is not made unless it carries a tail.
    if (plan.blocks == kRestOfStream && plan.tail_bytes == 0 &&
        next_file_ + 1 == layout_.files.size()) {
      break;
    }
    if (!open_next() || !close_current()) return false;
  }
  return true;
}

DumpSetResult write_dump_set(const DumpSetLayout& layout, const Stream& blocks) {
  DumpSetWriter writer(layout);
  for (const Block& b : blocks) {
    if (!writer.add(b)) return writer.result();
  }
  writer.finish();
  return writer.result();
}

DumpSetResult write_plain_set(const std::string& prefix, const Stream& blocks,
                              const std::vector<uint64_t>& blocks_per_file) {
  return write_dump_set(split_layout(prefix, blocks_per_file), blocks);
}

DumpSetResult write_container_set(const std::string& prefix, const Stream& blocks,
                                  const std::vector<uint64_t>& blocks_per_file, DumpFormat format,
                                  const ContainerOptions& options) {
  DumpSetLayout layout = split_layout(prefix, blocks_per_file);
  set_format(layout, format);
  layout.container = options;
  return write_dump_set(layout, blocks);
}

bool read_file(const std::string& path, std::string& out, std::string& error) {
  FILE* f = fopen(path.c_str(), "rbe");
  if (f == nullptr) {
    const int cause = errno;
    error = errno_text("cannot open", path);
    errno = cause;  // callers tell a missing file from other failures
    return false;
  }
  char buf[1 << 16];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, f)) > 0) out.append(buf, n);
  const bool ok = ferror(f) == 0;
  fclose(f);
  if (!ok) error = "cannot read " + path;
  return ok;
}

SetBytes read_set_bytes(const std::vector<std::string>& prefixes) {
  SetBytes set;
  for (const std::string& prefix : prefixes) {
    for (int n = 0;; ++n) {
      const std::string name = dump_file_name(prefix, n);
      std::string error;
      if (!read_file(name, set.bytes, error)) {
        if (errno != ENOENT) set.error = error;
        break;
      }
      set.files.push_back(name);
    }
    if (!set.error.empty()) break;
  }
  return set;
}

Stream blocks_of(const std::string& bytes) {
  Stream s(bytes.size() / LR_BLOCK_SIZE);
  if (!s.empty()) memcpy(s.data(), bytes.data(), s.size() * LR_BLOCK_SIZE);
  return s;
}

}  // namespace kit
