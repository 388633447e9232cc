// Writing the verifier's report as text and as JSON.
#include "verify/report_output.h"

#include <cstdio>
#include <optional>
#include <vector>

#include "json_object.h"
#include "lr.h"

namespace verify {

namespace {

const char* result_name(const summary& s) {
  static const char* const kNames[] = {"whole", "faulty", "unreadable"};
  return kNames[s.exit_status()];
}

std::string format(const char* fmt, double value) {
  char text[64];
  snprintf(text, sizeof(text), fmt, value);
  return text;
}

std::optional<uint64_t> unless_negative(int64_t n) {
  return n < 0 ? std::nullopt : std::optional<uint64_t>(static_cast<uint64_t>(n));
}

std::string json_finding(const finding& f) {
  const place& at = f.at;
  std::string header = "null";
  if (at.header_type != 0 && at.header_block >= 0) {
    header = tools::json_object()
                 .text("type", hdr_type_to_string(static_cast<uint32_t>(at.header_type)))
                 .number("sync_point", unless_negative(at.header_sync))
                 .number("block", static_cast<uint64_t>(at.header_block))
                 .str();
  }
  return tools::json_object()
      .text("kind", f.kind)
      .json("file", at.file.empty() ? "null" : tools::json_string(at.file))
      .number("offset", unless_negative(at.offset))
      .number("chunk", unless_negative(at.chunk))
      .number("block", unless_negative(at.block))
      .json("header", header)
      .text("message", f.message)
      .text("sentence", located_sentence(f))
      .str();
}

// A JSON array of values already written as JSON.
std::string json_array(const std::vector<std::string>& values) {
  std::string out = "[";
  for (size_t i = 0; i < values.size(); i++) out += (i ? ", " : "") + values[i];
  return out + "]";
}

std::string json_findings(const std::vector<finding>& list) {
  std::vector<std::string> values;
  for (const finding& f : list) values.push_back(json_finding(f));
  return json_array(values);
}

}  // namespace

std::string text_report(const summary& s) {
  std::string out;
  for (const file_summary& f : s.files) {
    out += "file " + f.name + ": " + f.kind + ", " + std::to_string(f.stored_bytes) + " bytes, " +
           std::to_string(f.blocks) + " blocks\n";
  }
  for (const finding& f : s.faults) {
    out += "fault: " + located_sentence(f) + "\n";
    if (!f.message.empty()) out += "  the reader said: " + f.message + "\n";
  }
  for (const finding& f : s.warnings) out += "warning: " + located_sentence(f) + "\n";
  for (const checkpoint_summary& c : s.checkpoints) {
    out += "checkpoint " + c.file + ": " +
           (c.ok ? "a restart from point " + std::to_string(c.point) +
                       " goes on with stream block " + std::to_string(c.resumes_at_block)
                 : std::string("refused (see the fault above)")) +
           "\n";
  }
  out += "files: " + std::to_string(s.files.size()) + ", " + std::to_string(s.stored_bytes) +
         " bytes stored\n";
  out += "stream: " + std::to_string(s.blocks) + " blocks, " + std::to_string(s.stream_bytes()) +
         " bytes\n";
  if (!s.headers_by_type.empty()) {
    out += "headers:";
    const char* sep = " ";
    for (const auto& h : s.headers_by_type) {
      out += std::string(sep) + hdr_type_to_string(static_cast<uint32_t>(h.first)) + " " +
             std::to_string(h.second);
      sep = ", ";
    }
    out += "\n";
  }
  if (s.point_count > 0) {
    out += "sync points: first " + std::to_string(s.first_point) + ", last " +
           std::to_string(s.last_point) + ", " + std::to_string(s.point_count) + " in all\n";
  }
  if (s.blocks > 0) out += "source: " + s.source_machine + ":" + s.source_path + "\n";
  out += "time: " + format("%.3f", s.elapsed_seconds) + " s, " +
         format("%.1f", s.megabytes_per_second()) + " MB/s\n";
  out += "result: ";
  if (s.exit_status() == 0) {
    out += "the set is whole";
  } else {
    out += std::to_string(s.faults.size()) + (s.faults.size() == 1 ? " fault" : " faults");
  }
  out += ", " + std::to_string(s.warnings.size()) +
         (s.warnings.size() == 1 ? " warning\n" : " warnings\n");
  return out;
}

std::string json_report(const summary& s) {
  std::vector<std::string> prefixes, files, checkpoints;
  for (const std::string& p : s.prefixes) prefixes.push_back(tools::json_string(p));
  for (const file_summary& f : s.files) {
    files.push_back(tools::json_object()
                        .text("name", f.name)
                        .text("kind", f.kind)
                        .number("stored_bytes", static_cast<uint64_t>(f.stored_bytes))
                        .number("blocks", f.blocks)
                        .str());
  }
  tools::json_object headers;
  for (const auto& h : s.headers_by_type) {
    headers.number(hdr_type_to_string(static_cast<uint32_t>(h.first)), h.second);
  }
  const bool any = s.point_count > 0;
  for (const checkpoint_summary& c : s.checkpoints) {
    checkpoints.push_back(tools::json_object()
                              .text("file", c.file)
                              .number("point", static_cast<uint64_t>(c.point))
                              .flag("ok", c.ok)
                              .number("resumes_at_block", unless_negative(c.resumes_at_block))
                              .str());
  }
  return tools::json_object()
             .number("schema_version", static_cast<uint64_t>(1))
             .text("result", result_name(s))
             .number("exit_status", static_cast<uint64_t>(s.exit_status()))
             .json("prefixes", json_array(prefixes))
             .json("files", json_array(files))
             .number("stored_bytes", static_cast<uint64_t>(s.stored_bytes))
             .number("stream_bytes", s.stream_bytes())
             .number("blocks", s.blocks)
             .json("headers", headers.str())
             .json("sync_points",
                   tools::json_object()
                       .number("first", any ? std::optional<uint64_t>(s.first_point) : std::nullopt)
                       .number("last", any ? std::optional<uint64_t>(s.last_point) : std::nullopt)
                       .number("count", s.point_count)
                       .str())
             .json("source", tools::json_object()
                                 .text("machine", s.source_machine)
                                 .text("path", s.source_path)
                                 .str())
             .number("elapsed_seconds", s.elapsed_seconds, 6)
             .number("mb_per_second", s.megabytes_per_second(), 3)
             .json("faults", json_findings(s.faults))
             .json("warnings", json_findings(s.warnings))
             .json("checkpoints", s.checkpoints_checked ? json_array(checkpoints) : "null")
             .str() +
         "\n";
}

}  // namespace verify
