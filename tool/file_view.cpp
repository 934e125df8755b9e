#include "tool/file_view.h"

#include "ismgr/runtime/char_class.h"

namespace ismgr::tool::derive {

uint64_t index_leof_bytes(const FileView& f) {
  if (!tbyte(f)) return f.index_leof;
  uint64_t units = f.index_leof;
  if (addr48(f)) units |= static_cast<uint64_t>(f.index_leof_high) << 32;
  return units * 256;
}

uint64_t data_leof_bytes(const FileView& f) {
  if (!tbyte(f)) return f.data_leof;
  uint64_t high = addr48(f) ? f.data_leof_high : (f.data_leof_high & 0xFFu);
  return static_cast<uint64_t>(f.data_leof) + (high << 32);
}

uint64_t free_list_head_bytes(const FileView& f) {
  if (!tbyte(f)) return f.free_list_head;
  uint64_t units = f.free_list_head;
  if (addr48(f)) units |= static_cast<uint64_t>(f.free_list_head_high) << 32;
  return units * 256;
}

uint64_t root_address(const FileView& f, const KeyView& k) {
  if (!tbyte(f)) return k.root_low;
  uint64_t units = k.root_low;
  if (addr48(f)) units |= static_cast<uint64_t>(k.root_high) << 32;
  return units * 256;
}

int64_t prealloc_blocks(const FileView& f, uint32_t added, uint32_t allocation) {
  if ((f.file_flags2 & 0x40) == 0) return allocation;
  int64_t record = static_cast<int64_t>(f.record_size) + f.record_overhead;
  if (record < 0) return -1;
  // allocation < 2^32 and record < 2^32: the product fits in 64 bits.
  uint64_t product = static_cast<uint64_t>(allocation) * static_cast<uint64_t>(record);
  if (!tbyte(f) && product >= 0x7FFFFFFFull) return -1;
  if (product > (1ull << 62)) return -1;
  return static_cast<int64_t>((product + added + 511) / 512);
}

namespace {

// The C library's base-10 conversion over a field of `width` characters:
// leading white space, an optional sign, then digits. *used is the number of
// characters the conversion consumed (0 when there was no number).
long field_number(const char* p, size_t width, size_t* used) {
  size_t i = 0;
  while (i < width && p[i] != '\0' && is_space(static_cast<unsigned char>(p[i]))) ++i;
  bool negative = false;
  if (i < width && (p[i] == '+' || p[i] == '-')) {
    negative = p[i] == '-';
    ++i;
  }
  size_t digits_start = i;
  long value = 0;
  while (i < width && p[i] >= '0' && p[i] <= '9') {
    value = value * 10 + (p[i] - '0');
    ++i;
  }
  if (i == digits_start) {
    if (used) *used = 0;
    return 0;
  }
  if (used) *used = i;
  return negative ? -value : value;
}

}  // namespace

CreationVersion creation_version(const FileView& f) {
  CreationVersion v;
  const char* cv = f.creation_version.data();
  v.major = static_cast<int>(field_number(cv, 2, nullptr));
  v.minor = static_cast<int>(field_number(cv + 2, 2, nullptr));
  size_t used = 0;
  v.build = static_cast<int>(field_number(cv + 4, 3, &used));
  v.letter = used < 3 ? cv[4 + used] : ' ';
  // A NUL letter would end the line's text early: show it as a blank.
  if (v.letter == '\0') v.letter = ' ';
  return v;
}

std::string creation_version_text(const FileView& f) {
  const auto& cv = f.creation_version;
  size_t n = 0;
  while (n < cv.size() && cv[n] != '\0') ++n;
  return std::string(cv.data(), n);
}

std::string key_name(const KeyView& k) {
  size_t n = 0;
  while (n < 15 && k.key_name[n] != '\0') ++n;
  while (n > 0 && is_space(static_cast<unsigned char>(k.key_name[n - 1]))) --n;
  return std::string(k.key_name.data(), n);
}

}  // namespace ismgr::tool::derive
