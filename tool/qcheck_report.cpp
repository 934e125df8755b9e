#include "tool/qcheck_report.h"

#include <cinttypes>
#include <cstdio>

#include "tool/out.h"

namespace ismgr::tool {

namespace {

double percent(uint64_t part, uint64_t whole) {
  return whole == 0 ? 0.0 : 100.0 * static_cast<double>(part) / static_cast<double>(whole);
}

// Average and minimum fill of a level's used parts, in per cent.
double fill_average(const TreeLevelStats& s, uint32_t block) {
  return percent(s.used_bytes, s.blocks * block);
}
double fill_minimum(const TreeLevelStats& s, uint32_t block) {
  return s.blocks == 0 ? 0.0 : percent(s.min_used, block);
}
double prefix_average(const TreeLevelStats& s) {
  return s.entries == 0 ? 0.0
                        : static_cast<double>(s.prefix_bytes) / static_cast<double>(s.entries);
}
bool is_leaf_level(const KeyTreeStats& k, size_t level) {
  return static_cast<int>(level) + 1 >= k.depth;
}

std::string json_string(const std::string& s) {
  std::string out = "\"";
  for (unsigned char c : s) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20 || c >= 0x7F) {
      out += format_text("\\u%04x", c);
    } else {
      out += static_cast<char>(c);
    }
  }
  return out + "\"";
}

const std::string& name_of(const std::vector<std::string>& names, size_t key) {
  static const std::string none;
  return key < names.size() ? names[key] : none;
}

}  // namespace

std::string text_report(const std::string& name, const TreeCheckReport& report,
                        const std::vector<std::string>& key_names, bool statistics) {
  std::string out;
  for (const TreeProblem& p : report.problems) {
    out += format_text("%s: key %zu: block 0x%" PRIx64 ": %s: %s\n", name.c_str(), p.key, p.block,
                       tree_problem_word(p.kind), p.text.c_str());
  }
  if (statistics) {
    const uint32_t block = report.file.block_size;
    for (size_t k = 0; k < report.keys.size(); ++k) {
      const KeyTreeStats& s = report.keys[k];
      out += format_text("%s: key %zu (%s): depth %d, %" PRIu64 " leaf entries\n", name.c_str(), k,
                         name_of(key_names, k).c_str(), s.depth, s.leaf_entries);
      out += "  level     blocks    entries  fill avg  fill min  prefix avg\n";
      for (size_t j = 0; j < s.levels.size(); ++j) {
        const TreeLevelStats& l = s.levels[j];
        std::string prefix =
            is_leaf_level(s, j) ? "         -" : format_text("%10.1f", prefix_average(l));
        out += format_text("  %5zu %10" PRIu64 " %10" PRIu64 "  %6.1f %%  %6.1f %%  %s\n", j + 1,
                           l.blocks, l.entries, fill_average(l, block), fill_minimum(l, block),
                           prefix.c_str());
      }
    }
    const TreeFileStats& f = report.file;
    out += format_text("%s: %" PRIu64 " index blocks in trees, %" PRIu64
                       " on no tree, %u-byte blocks, %" PRIu64 " bytes, %.1f %% in use\n",
                       name.c_str(), f.tree_blocks, f.unaccounted, f.block_size, f.file_size,
                       100.0 * f.in_use);
  }
  if (report.problem_count == 0) {
    out += name + ": sound\n";
  } else {
    out += format_text("%s: %" PRIu64 " problem%s\n", name.c_str(), report.problem_count,
                       report.problem_count == 1 ? "" : "s");
  }
  return out;
}

std::string json_report(const std::string& name, const TreeCheckReport& report,
                        const std::vector<std::string>& key_names) {
  const uint32_t block = report.file.block_size;
  std::string out = "{\"file\":" + json_string(name);
  out += format_text(",\"sound\":%s,\"problem_count\":%" PRIu64 ",\"problems\":[",
                     report.problem_count == 0 ? "true" : "false", report.problem_count);
  for (size_t i = 0; i < report.problems.size(); ++i) {
    const TreeProblem& p = report.problems[i];
    out += format_text("%s{\"key\":%zu,\"block\":\"0x%" PRIx64 "\",\"kind\":\"%s\",\"text\":",
                       i ? "," : "", p.key, p.block, tree_problem_word(p.kind));
    out += json_string(p.text) + "}";
  }
  out += "],\"keys\":[";
  for (size_t k = 0; k < report.keys.size(); ++k) {
    const KeyTreeStats& s = report.keys[k];
    out += format_text("%s{\"key\":%zu,\"name\":", k ? "," : "", k);
    out += json_string(name_of(key_names, k));
    out += format_text(",\"depth\":%d,\"leaf_entries\":%" PRIu64 ",\"levels\":[", s.depth,
                       s.leaf_entries);
    for (size_t j = 0; j < s.levels.size(); ++j) {
      const TreeLevelStats& l = s.levels[j];
      out += format_text("%s{\"level\":%zu,\"blocks\":%" PRIu64 ",\"entries\":%" PRIu64
                         ",\"fill_average\":%.4f,\"fill_minimum\":%.4f,\"prefix_average\":%.4f}",
                         j ? "," : "", j + 1, l.blocks, l.entries, fill_average(l, block) / 100,
                         fill_minimum(l, block) / 100, prefix_average(l));
    }
    out += "]}";
  }
  const TreeFileStats& f = report.file;
  out += format_text("],\"block_size\":%u,\"file_size\":%" PRIu64 ",\"tree_blocks\":%" PRIu64
                     ",\"unaccounted_blocks\":%" PRIu64 ",\"in_use\":%.4f}\n",
                     f.block_size, f.file_size, f.tree_blocks, f.unaccounted, f.in_use);
  return out;
}

std::string json_failure(const std::string& name, int status, const char* message) {
  return "{\"file\":" + json_string(name) + format_text(",\"error\":%d,\"message\":", status) +
         json_string(message != nullptr ? message : "Unknown error code") + "}\n";
}

}  // namespace ismgr::tool
