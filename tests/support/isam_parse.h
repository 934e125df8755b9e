// Test helper: runs the parsing steps of an ISAM open over crafted files.
#ifndef ISMGR_TESTS_SUPPORT_ISAM_PARSE_H_
#define ISMGR_TESTS_SUPPORT_ISAM_PARSE_H_

#include <algorithm>
#include <string>
#include <vector>

#include "ismgr/isam/file_control.h"
#include "ismgr/isam/isam_format.h"
#include "ismgr/runtime/status.h"
#include "support/isam_builder.h"

namespace ismgr::testing {

// Runs the parsing steps of an open over crafted files, the way the open
// reads them: a zero-filled 4096-byte page, the bytes beyond it when
// header_size asks for them, then dynamic_size bytes at dynamic_offset, then
// the file-text prefix from the data file.
struct Opened {
  int status = 0;
  const char* detail = nullptr;
  IsamFileControl fc;
};

inline Opened parse_files(const std::vector<uint8_t>& index, const std::vector<uint8_t>& data,
                          uint16_t expected = kMagicIndex) {
  Opened o;
  std::vector<uint8_t> page(kHeaderPageReadSize, 0);
  const size_t got = std::min(index.size(), page.size());
  std::copy(index.begin(), index.begin() + got, page.begin());
  o.status = check_header_page(page.data(), got, expected, &o.detail);
  if (o.status) return o;
  const size_t extra = header_extra_bytes(page.data(), page.size());
  if (extra) {
    page.resize(page.size() + extra, 0);
    if (index.size() > kHeaderPageReadSize) {
      const size_t n = std::min(extra, index.size() - kHeaderPageReadSize);
      std::copy(index.begin() + kHeaderPageReadSize, index.begin() + kHeaderPageReadSize + n,
                page.begin() + kHeaderPageReadSize);
    }
  }
  o.status = build_file_control(page.data(), page.size(), &o.fc, &o.detail);
  if (o.status) return o;
  o.status = check_dynamic_size(o.fc);
  if (o.status) return o;
  const size_t off = o.fc.header.dynamic_offset;
  const size_t len = o.fc.header.dynamic_size;
  if (off + len > index.size()) {
    o.status = kStatusReadFailure;  // what the open's short read gives
    return o;
  }
  o.status = load_dynamic_header(index.data() + off, len, &o.fc);
  if (o.status) return o;
  const uint64_t at = file_text_location(o.fc);
  const uint8_t* prefix = at + 8 <= data.size() ? data.data() + at : nullptr;
  o.status = resolve_file_text(&o.fc, prefix, prefix ? 8 : 0, data.size(), &o.detail);
  return o;
}

inline Opened parse(const IsamBuilder& b) {
  return parse_files(b.index_file(), b.data_file());
}

inline std::string key_name(const KeyDescriptor& k) {
  std::string s(k.key_name.data(), k.key_name.size());
  return s.substr(0, s.find('\0'));
}

}  // namespace ismgr::testing

#endif  // ISMGR_TESTS_SUPPORT_ISAM_PARSE_H_
