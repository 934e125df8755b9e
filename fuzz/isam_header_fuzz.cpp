// Feeds arbitrary bytes to the header-page and dynamic-header parsing of the
// ISAM open: nothing may read outside its buffer, whatever the counts say.
// Input: the index file's bytes; the same bytes serve as the data file.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "ismgr/isam/file_control.h"
#include "ismgr/isam/isam_format.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace ismgr;
  std::vector<uint8_t> page(kHeaderPageReadSize, 0);
  const size_t got = std::min(size, page.size());
  std::copy(data, data + got, page.begin());
  uint16_t magic = got >= 2 ? get_u16(page.data()) : 0;
  if (check_header_page(page.data(), got, magic, nullptr) != 0) return 0;
  const size_t extra = header_extra_bytes(page.data(), page.size());
  page.resize(page.size() + extra, 0);
  if (size > kHeaderPageReadSize) {
    const size_t n = std::min(extra, size - kHeaderPageReadSize);
    std::copy(data + kHeaderPageReadSize, data + kHeaderPageReadSize + n,
              page.begin() + kHeaderPageReadSize);
  }
  IsamFileControl fc;
  if (build_file_control(page.data(), page.size(), &fc, nullptr) != 0) return 0;
  if (check_dynamic_size(fc) != 0) return 0;
  const uint64_t off = fc.header.dynamic_offset;
  const uint64_t len = fc.header.dynamic_size;
  if (off + len > size) return 0;
  if (load_dynamic_header(data + off, len, &fc) != 0) return 0;
  const uint64_t at = file_text_location(fc);
  const uint8_t* prefix = at + 8 <= size ? data + at : nullptr;
  resolve_file_text(&fc, prefix, prefix ? 8 : 0, size, nullptr);
  std::vector<uint8_t> back = dynamic_header_bytes(fc);
  (void)back;
  return 0;
}
