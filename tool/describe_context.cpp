#include "tool/describe_context.h"

#include <cstring>

#include "ismgr/platform/platform.h"

namespace ismgr::tool {

namespace {
// Larger file texts are taken as damage: they are not read into memory.
constexpr uint32_t kMaxFileText = 16u << 20;
}  // namespace

int64_t DescribeContext::now() const {
  int64_t t = clock ? clock() : platform::now_seconds();
  return t < 0 ? 0 : t;
}

const std::string& DescribeContext::time_text(int64_t seconds) {
  for (const KnownTime& k : known_times_) {
    if (k.seconds == seconds && seconds >= 0) return k.text;
  }
  KnownTime& k = known_times_[next_known_];
  next_known_ = (next_known_ + 1) % (sizeof known_times_ / sizeof known_times_[0]);
  k.seconds = seconds;
  k.text = ismgr::tool::time_text(seconds);
  return k.text;
}

std::string time_text(int64_t seconds) {
  return platform::ctime_text(seconds);
}

FileText read_file_text(const FileView& f, DescribeIo& io) {
  FileText t;
  t.present = derive::has_file_text(f);
  if (!t.present) return t;
  t.length = f.text_length;
  // The open has read the 8-byte prefix (u32 allocation word, u32 length in
  // use) already; the view carries both. The text follows the prefix.
  t.alloc_word = f.text_alloc_word;
  t.start = f.text_location + ((f.file_flags2 & 0x08) ? 8 : 0);
  bool ok = true;
  if (t.length != 0) {
    if (t.length > kMaxFileText) {
      ok = false;
    } else {
      t.text.resize(t.length);
      ok = io.read_data(t.start, t.text.data(), t.length);
      if (!ok) t.text.clear();
    }
  }
  t.readable = ok;
  return t;
}

}  // namespace ismgr::tool
