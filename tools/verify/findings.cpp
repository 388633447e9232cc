// Sentences and totals of the verifier's findings.
#include "verify/findings.h"

#include "lr.h"

namespace verify {

namespace {

constexpr double kBytesPerMegabyte = 1e6;

}  // namespace

std::string located_sentence(const finding& f) {
  const place& at = f.at;
  std::string where = at.file.empty() ? "the set" : at.file;
  if (at.offset >= 0) where += " at byte " + std::to_string(at.offset);
  if (at.chunk >= 0) where += " (chunk " + std::to_string(at.chunk) + ")";
  if (at.block >= 0) where += ", stream block " + std::to_string(at.block);
  if (at.header_type != 0 && at.header_block >= 0) {
    where += at.header_block == at.block ? ", the " : ", in the data of the ";
    where += hdr_type_to_string(static_cast<uint32_t>(at.header_type));
    where += " header";
    if (at.header_block != at.block) where += " at block " + std::to_string(at.header_block);
    if (at.header_sync >= 0) where += " (point " + std::to_string(at.header_sync) + ")";
  }
  return where + ": " + f.advice;
}

uint64_t summary::stream_bytes() const { return blocks * LR_BLOCK_SIZE; }

double summary::megabytes_per_second() const {
  return elapsed_seconds > 0 ? stream_bytes() / kBytesPerMegabyte / elapsed_seconds : 0;
}

int summary::exit_status() const {
  for (const finding& f : faults) {
    if (f.cannot_run) return 2;
  }
  return faults.empty() ? 0 : 1;
}

}  // namespace verify
