// Writing the verifier's report as text and as JSON.
#include "verify/report_output.h"

#include <cstdio>

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

std::string quoted(const std::string& text) {
  std::string out = "\"";
  for (unsigned char c : text) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20) {
      char escaped[8];
      snprintf(escaped, sizeof(escaped), "\\u%04x", c);
      out += escaped;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out + "\"";
}

std::string number_or_null(int64_t n) { return n < 0 ? "null" : std::to_string(n); }

std::string json_finding(const finding& f) {
  const place& at = f.at;
  std::string header = "null";
  if (at.header_type != 0 && at.header_block >= 0) {
    header = "{\"type\": " + quoted(hdr_type_to_string(static_cast<uint32_t>(at.header_type))) +
             ", \"sync_point\": " + number_or_null(at.header_sync) +
             ", \"block\": " + std::to_string(at.header_block) + "}";
  }
  return "{\"kind\": " + quoted(f.kind) +
         ", \"file\": " + (at.file.empty() ? "null" : quoted(at.file)) +
         ", \"offset\": " + number_or_null(at.offset) + ", \"chunk\": " + number_or_null(at.chunk) +
         ", \"block\": " + number_or_null(at.block) + ", \"header\": " + header +
         ", \"message\": " + quoted(f.message) + ", \"sentence\": " + quoted(located_sentence(f)) +
         "}";
}

std::string json_list(const std::vector<finding>& list) {
  std::string out = "[";
  for (size_t i = 0; i < list.size(); i++)
    out += (i ? ",\n    " : "\n    ") + json_finding(list[i]);
  return out + (list.empty() ? "]" : "\n  ]");
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
  std::string out = "{\n  \"schema_version\": 1,\n";
  out += "  \"result\": " + quoted(result_name(s)) + ",\n";
  out += "  \"exit_status\": " + std::to_string(s.exit_status()) + ",\n";
  out += "  \"prefixes\": [";
  for (size_t i = 0; i < s.prefixes.size(); i++) out += (i ? ", " : "") + quoted(s.prefixes[i]);
  out += "],\n  \"files\": [";
  for (size_t i = 0; i < s.files.size(); i++) {
    const file_summary& f = s.files[i];
    out += std::string(i ? ",\n    " : "\n    ") + "{\"name\": " + quoted(f.name) +
           ", \"kind\": " + quoted(f.kind) +
           ", \"stored_bytes\": " + std::to_string(f.stored_bytes) +
           ", \"blocks\": " + std::to_string(f.blocks) + "}";
  }
  out += s.files.empty() ? "],\n" : "\n  ],\n";
  out += "  \"stored_bytes\": " + std::to_string(s.stored_bytes) + ",\n";
  out += "  \"stream_bytes\": " + std::to_string(s.stream_bytes()) + ",\n";
  out += "  \"blocks\": " + std::to_string(s.blocks) + ",\n";
  out += "  \"headers\": {";
  const char* sep = "";
  for (const auto& h : s.headers_by_type) {
    out += sep + quoted(hdr_type_to_string(static_cast<uint32_t>(h.first))) + ": " +
           std::to_string(h.second);
    sep = ", ";
  }
  out += "},\n";
  const bool points = s.point_count > 0;
  out += "  \"sync_points\": {\"first\": " + (points ? std::to_string(s.first_point) : "null") +
         ", \"last\": " + (points ? std::to_string(s.last_point) : "null") +
         ", \"count\": " + std::to_string(s.point_count) + "},\n";
  out += "  \"source\": {\"machine\": " + quoted(s.source_machine) +
         ", \"path\": " + quoted(s.source_path) + "},\n";
  out += "  \"elapsed_seconds\": " + format("%.6f", s.elapsed_seconds) + ",\n";
  out += "  \"mb_per_second\": " + format("%.3f", s.megabytes_per_second()) + ",\n";
  out += "  \"faults\": " + json_list(s.faults) + ",\n";
  out += "  \"warnings\": " + json_list(s.warnings) + ",\n";
  out += "  \"checkpoints\": ";
  if (!s.checkpoints_checked) {
    out += "null\n}\n";
    return out;
  }
  out += "[";
  for (size_t i = 0; i < s.checkpoints.size(); i++) {
    const checkpoint_summary& c = s.checkpoints[i];
    out += std::string(i ? ",\n    " : "\n    ") + "{\"file\": " + quoted(c.file) +
           ", \"point\": " + std::to_string(c.point) + ", \"ok\": " + (c.ok ? "true" : "false") +
           ", \"resumes_at_block\": " + number_or_null(c.resumes_at_block) + "}";
  }
  out += s.checkpoints.empty() ? "]\n}\n" : "\n  ]\n}\n";
  return out;
}

}  // namespace verify
