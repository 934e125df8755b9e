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

std::string time_text(int64_t seconds) {
  return platform::ctime_text(seconds);
}

FileText read_file_text(const FileView& f, DescribeIo& io) {
  FileText t;
  t.present = derive::has_file_text(f);
  if (!t.present) return t;
  t.length = f.text_length;
  t.start = f.text_location;
  bool ok = true;
  if (f.file_flags2 & 0x08) {
    // 8-byte prefix: u32 allocation word, u32 length in use; the text follows.
    uint8_t prefix[8];
    ok = io.read_data(f.text_location, prefix, sizeof prefix);
    t.alloc_word = ok ? static_cast<uint32_t>(prefix[0]) | static_cast<uint32_t>(prefix[1]) << 8 |
                            static_cast<uint32_t>(prefix[2]) << 16 |
                            static_cast<uint32_t>(prefix[3]) << 24
                      : 0;
    t.start = f.text_location + 8;
  } else {
    t.alloc_word = kAllocInKb + f.text_alloc_kb;
  }
  if (ok && t.length != 0) {
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
