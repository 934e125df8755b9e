// The state one qdesc run shares between its writers: the options, the
// output routine with its held text, the error sink, the clock, the
// in-progress-sort mark of the current file and, with -t, the main file's
// values the temporary key index is compared against.
#ifndef ISMGR_TOOL_DESCRIBE_CONTEXT_H_
#define ISMGR_TOOL_DESCRIBE_CONTEXT_H_

#include <cstdint>
#include <functional>
#include <string>

#include "tool/file_view.h"
#include "tool/options.h"
#include "tool/out.h"

namespace ismgr::tool {

// The main file's values kept when a temporary key index is described.
struct TempKeyCompare {
  uint32_t created = 0;
  uint32_t cleared = 0;
  uint32_t reindexed = 0;
  uint32_t update_count = 0;
  int key_count = 0;
};

struct DescribeContext {
  RunOptions options;
  Output output;
  Sink* err = nullptr;             // the error reporters write here
  std::function<int64_t()> clock;  // seconds since 1970; null: the system clock
  TempKeyCompare main_file;        // set by the open with -t
  bool in_progress_sort = false;   // the file's first open met a sort in progress
  StringSink described;            // the description of the current file, written whole

  int64_t now() const;
  // time_text() of `seconds`, remembered for the rest of the run: the files
  // of one run mostly share their dates, and the banner's time changes once
  // a second.
  const std::string& time_text(int64_t seconds);

 private:
  struct KnownTime {
    int64_t seconds = -1;
    std::string text;
  };
  KnownTime known_times_[8];
  size_t next_known_ = 0;  // the entry replaced next
};

// The local-time text of a time ("Thu Jan 01 00:00:00 1970\n").
std::string time_text(int64_t seconds);

// The file text of a revision-6 file: allocation word and length from the
// view, the text itself read through `io`.
struct FileText {
  bool present = false;     // revision 6 with file_flags2 0x08 or 0x10
  uint32_t alloc_word = 0;  // bit 0x08000000: the low 26 bits are kilobytes
  uint32_t length = 0;      // bytes in use, as the control block says
  uint64_t start = 0;       // file offset where the text begins
  bool readable = false;    // the text could be read
  std::string text;         // the text (empty when unreadable)
};
FileText read_file_text(const FileView& f, DescribeIo& io);

constexpr uint32_t kAllocInKb = 0x08000000;
inline uint32_t alloc_kb(uint32_t word) {
  return word & 0x03FFFFFF;
}

}  // namespace ismgr::tool

#endif  // ISMGR_TOOL_DESCRIBE_CONTEXT_H_
