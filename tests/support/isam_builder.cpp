// Byte-by-byte construction of ISAM files for tests. Every offset below is
// written out here on purpose: nothing is shared with the layer's encoders.
#include "support/isam_builder.h"

#include <algorithm>
#include <cstring>
#include <fstream>

#include "support/child_process.h"

namespace ismgr::testing {

namespace {

void w8(std::vector<uint8_t>& b, size_t off, uint64_t v) {
  b.at(off) = static_cast<uint8_t>(v);
}
void w16(std::vector<uint8_t>& b, size_t off, uint64_t v) {
  w8(b, off, v);
  w8(b, off + 1, v >> 8);
}
void w32(std::vector<uint8_t>& b, size_t off, uint64_t v) {
  w16(b, off, v);
  w16(b, off + 2, v >> 16);
}
void w64(std::vector<uint8_t>& b, size_t off, uint64_t v) {
  w32(b, off, v);
  w32(b, off + 4, v >> 32);
}
void wstr(std::vector<uint8_t>& b, size_t off, const std::string& s, size_t width) {
  for (size_t i = 0; i < width; ++i) w8(b, off + i, i < s.size() ? static_cast<uint8_t>(s[i]) : 0);
}
uint32_t round_up(uint32_t n, uint32_t unit) {
  return (n + unit - 1) / unit * unit;
}
uint32_t pad4(uint32_t n) {
  return (n + 3) & ~3u;
}

}  // namespace

KeySpec KeySpec::alpha(const std::string& name, uint16_t start, uint16_t length, uint8_t flags) {
  KeySpec k;
  k.name = name;
  k.flags = flags;
  k.segments.push_back(SegmentSpec{0x21, start, length});
  return k;
}

struct IsamBuilder::Layout {
  bool old = false;
  bool short_form = false;
  bool r6u = false;
  uint32_t unit = 1024;
  std::vector<KeySpec> keys;
  std::vector<uint8_t> null_area;
  uint8_t file_flags = 0;
  uint32_t file_flags2 = 0;
  uint8_t page_units = 4;
  uint16_t max_key = 0;
  uint32_t header_size = 0;
  uint32_t dynamic_offset = 0;
  uint32_t free_size = 0;
  uint32_t root_w = 4;
  uint32_t roots_off = 0;
  uint32_t depths_off = 0;
  uint32_t counters_off = 0;  // 0: no counters
  uint32_t tracking_off = 0;  // 0: no tracking area
  uint32_t dynamic_size = 0;
  uint32_t region = 0;  // data header region (data_header_units x 256)
  uint32_t text_location = 0;
  uint32_t text_alloc = 0;  // bytes of the prefixed text's allocation
  uint32_t data_start = 0;
  int qualifier = 3;
};

IsamBuilder::IsamBuilder() = default;

IsamBuilder& IsamBuilder::revision(int r) {
  revision_ = r;
  return *this;
}
IsamBuilder& IsamBuilder::patched_from(int r) {
  revision_ = 6;
  patch_flags_ = (r == 4) ? 0x01 : 0x02;
  return *this;
}
IsamBuilder& IsamBuilder::magic(uint16_t m) {
  magic_ = m;
  return *this;
}
IsamBuilder& IsamBuilder::record_length(uint16_t n) {
  record_length_ = n;
  return *this;
}
IsamBuilder& IsamBuilder::record_overhead(uint16_t n) {
  record_overhead_ = n;
  return *this;
}
IsamBuilder& IsamBuilder::file_flags(uint8_t f) {
  file_flags_ = f;
  return *this;
}
IsamBuilder& IsamBuilder::file_flags2(uint32_t f) {
  file_flags2_ = f;
  return *this;
}
IsamBuilder& IsamBuilder::tbyte(bool address48) {
  tbyte_ = true;
  address48_ = address48;
  return *this;
}
IsamBuilder& IsamBuilder::page_units(uint8_t units) {
  page_units_ = units;
  return *this;
}
IsamBuilder& IsamBuilder::add_key(const KeySpec& key) {
  keys_.push_back(key);
  return *this;
}
IsamBuilder& IsamBuilder::port_int(uint16_t position, uint8_t length, uint8_t kind) {
  port_ints_.push_back(PortInt{position, length, kind});
  return *this;
}
IsamBuilder& IsamBuilder::null_values(const std::vector<uint8_t>& area) {
  null_area_ = area;
  return *this;
}
IsamBuilder& IsamBuilder::times(uint32_t created, uint32_t cleared, uint32_t verified,
                                uint32_t reindexed) {
  times_[0] = created;
  times_[1] = cleared;
  times_[2] = verified;
  times_[3] = reindexed;
  return *this;
}
IsamBuilder& IsamBuilder::creation_version(const std::string& text) {
  version_ = text;
  return *this;
}
IsamBuilder& IsamBuilder::seed(uint64_t s) {
  seed_ = s;
  return *this;
}
IsamBuilder& IsamBuilder::preallocation(uint32_t allocation, bool in_records) {
  prealloc_ = true;
  allocation_ = allocation;
  alloc_in_records_ = in_records;
  return *this;
}
IsamBuilder& IsamBuilder::compat_level(uint8_t level) {
  compat_ = level;
  return *this;
}
IsamBuilder& IsamBuilder::reorganized(uint32_t t) {
  reorganized_ = t;
  return *this;
}
IsamBuilder& IsamBuilder::change_tracking(uint8_t slot, uint8_t snapshot_count,
                                          uint32_t snapshot_base, uint32_t start_time,
                                          uint16_t mark) {
  tracking_ = true;
  tracking_slot_ = slot;
  snapshot_count_ = snapshot_count;
  snapshot_base_ = snapshot_base;
  tracking_time_ = start_time;
  tracking_mark_ = mark;
  tbyte_ = true;  // change tracking requires tbyte, with 48-bit addressing
  address48_ = true;
  return *this;
}
IsamBuilder& IsamBuilder::file_text_prefixed(const std::string& text, uint32_t allocation_word) {
  text_form_ = 8;
  text_ = text;
  text_word_ = allocation_word;
  return *this;
}
IsamBuilder& IsamBuilder::file_text_extension(const std::string& text, uint8_t alloc_kb) {
  text_form_ = 16;
  text_ = text;
  text_kb_ = alloc_kb;
  return *this;
}
IsamBuilder& IsamBuilder::counts(uint32_t record_count, uint32_t free_record_count,
                                 uint32_t update_count, uint32_t free_index_blocks) {
  record_count_ = record_count;
  free_record_count_ = free_record_count;
  update_count_ = update_count;
  free_index_blocks_ = free_index_blocks;
  return *this;
}
IsamBuilder& IsamBuilder::vectors(uint16_t vector_count, uint32_t unusable_space) {
  vector_count_ = vector_count;
  unusable_ = unusable_space;
  return *this;
}
IsamBuilder& IsamBuilder::free_list_head(uint64_t v) {
  free_head_ = v;
  return *this;
}
IsamBuilder& IsamBuilder::free_slot(uint64_t address, uint16_t size) {
  slots_.push_back(Slot{address, size});
  return *this;
}
IsamBuilder& IsamBuilder::slot_count_override(uint8_t n) {
  slot_count_override_ = n;
  return *this;
}
IsamBuilder& IsamBuilder::dynamic_flags(uint8_t f) {
  dynamic_flags_ = f;
  return *this;
}
IsamBuilder& IsamBuilder::autoseed(int64_t v) {
  autoseed_ = v;
  return *this;
}
IsamBuilder& IsamBuilder::leofs(uint64_t data_leof_bytes, uint64_t index_leof_raw) {
  data_leof_ = data_leof_bytes;
  index_leof_ = index_leof_raw;
  return *this;
}
IsamBuilder& IsamBuilder::short_with_counters(bool on) {
  short_counters_ = on;
  return *this;
}
IsamBuilder& IsamBuilder::header_size_override(uint16_t n) {
  header_size_override_ = n;
  return *this;
}
IsamBuilder& IsamBuilder::dynamic_size_override(uint16_t n) {
  dynamic_size_override_ = n;
  return *this;
}
IsamBuilder& IsamBuilder::key_count_override(uint8_t n) {
  key_count_override_ = n;
  return *this;
}
IsamBuilder& IsamBuilder::max_key_size_override(uint16_t n) {
  max_key_override_ = n;
  return *this;
}
IsamBuilder& IsamBuilder::data_start_override(uint32_t n) {
  data_start_override_ = n;
  return *this;
}
IsamBuilder& IsamBuilder::text_offset_override(uint32_t n) {
  text_offset_override_ = n;
  return *this;
}
IsamBuilder& IsamBuilder::data_records(size_t bytes) {
  data_records_ = bytes;
  return *this;
}
IsamBuilder& IsamBuilder::poke_index(size_t offset, const std::vector<uint8_t>& bytes) {
  pokes_.push_back(Poke{true, offset, bytes});
  return *this;
}
IsamBuilder& IsamBuilder::poke_data(size_t offset, const std::vector<uint8_t>& bytes) {
  pokes_.push_back(Poke{false, offset, bytes});
  return *this;
}
IsamBuilder& IsamBuilder::truncate_index(size_t length) {
  index_length_ = length;
  return *this;
}
IsamBuilder& IsamBuilder::truncate_data(size_t length) {
  data_length_ = length;
  return *this;
}

bool IsamBuilder::is_r6_unpatched() const {
  return revision_ >= 6 && patch_flags_ == 0;
}
bool IsamBuilder::is_short() const {
  return revision_ == 4 || revision_ == 5 || (revision_ >= 6 && patch_flags_ != 0);
}

std::vector<KeySpec> IsamBuilder::all_keys() const {
  std::vector<KeySpec> keys = keys_;
  if (tracking_ && is_r6_unpatched()) {
    KeySpec t;
    t.flags = 0x1E;
    t.autokey = 0x10;
    t.density = 100;
    t.segments.push_back(SegmentSpec{0x21, 0, 1});
    t.key_size = 5;
    t.qualifier_offset = record_overhead_;
    t.name = "Change Tracking";
    keys.push_back(t);
  }
  return keys;
}

IsamBuilder::Layout IsamBuilder::layout() const {
  Layout l;
  l.old = revision_ < 4;
  l.short_form = is_short();
  l.r6u = is_r6_unpatched();
  l.keys = all_keys();
  l.null_area = null_area_;
  l.qualifier = tbyte_ ? 4 : 3;
  if (tracking_ && l.r6u) {
    // The tracking key's null value (2, 0) goes at the end of the area.
    l.keys.back().null_offset = static_cast<uint16_t>(l.null_area.size());
    l.null_area.push_back(2);
    l.null_area.push_back(0);
  }
  l.file_flags = static_cast<uint8_t>(file_flags_ | (tbyte_ ? 0x40 : 0));
  l.file_flags2 = file_flags2_ | patch_flags_;
  if (revision_ >= 6) {
    if (tbyte_ && address48_) l.file_flags2 |= 0x20;
    if (prealloc_) l.file_flags2 |= 0x100 | (alloc_in_records_ ? 0x40 : 0);
    if (tracking_) l.file_flags2 |= 0x200;
    l.file_flags2 |= static_cast<uint32_t>(text_form_);
  }
  l.page_units = page_units_ ? page_units_ : (l.r6u ? 16 : 4);
  for (KeySpec& k : l.keys) {
    if (k.key_size == 0) {
      uint32_t sum = 0;
      for (const auto& s : k.segments) sum += s.length;
      if (k.flags & 0x04) sum += static_cast<uint32_t>(l.qualifier);
      k.key_size = static_cast<uint16_t>(sum);
    }
    l.max_key = std::max(l.max_key, k.key_size);
  }
  if (max_key_override_) l.max_key = *max_key_override_;

  const uint32_t k = static_cast<uint32_t>(l.keys.size());
  if (l.old) {
    l.unit = 1024;
    l.header_size = 1024;
    l.dynamic_offset = 0;
    l.dynamic_size = 836;
    l.region = 1024;
    l.data_start = 1024;
    return l;
  }
  l.unit = l.r6u ? 4096 : 1024;
  l.header_size = 52 + 68 * k + 4 * static_cast<uint32_t>(port_ints_.size()) +
                  pad4(static_cast<uint32_t>(l.null_area.size())) + (l.r6u ? 40 : 0);
  l.dynamic_offset = round_up(l.header_size, l.unit);
  l.root_w = tbyte_ ? 5 : 4;
  l.free_size = l.short_form ? 280 : 1616;
  l.roots_off = l.free_size;
  l.depths_off = l.roots_off + pad4(k * l.root_w);
  uint32_t end = l.depths_off + pad4(k);
  if (!l.short_form || short_counters_) {
    l.counters_off = end;
    end += 52;
  }
  if (l.r6u && tracking_) {
    l.tracking_off = end;
    end += 1028;
  }
  l.dynamic_size = end;
  const uint32_t dyn_size = dynamic_size_override_ ? *dynamic_size_override_ : end;
  if (text_form_ == 8) {
    l.text_alloc = static_cast<uint32_t>(text_word_ ? 0 : std::max<size_t>(text_.size(), 32));
    if (text_word_) {
      const uint32_t v = text_word_ & 0x03FFFFFF;
      l.text_alloc = (text_word_ & 0x08000000) ? v * 1024 : v;
    }
    l.text_location = l.dynamic_offset + dyn_size;
    l.region = round_up(l.text_location + 8 + l.text_alloc, l.unit);
  } else {
    l.region = round_up(l.dynamic_offset + dyn_size, l.unit);
  }
  l.data_start = l.region;
  if (text_form_ == 16) {
    l.text_location = l.region;
    l.data_start = l.region + static_cast<uint32_t>(text_kb_) * 1024;
  }
  if (text_offset_override_) l.text_location = *text_offset_override_;
  if (data_start_override_) l.data_start = *data_start_override_;
  return l;
}

std::vector<uint8_t> IsamBuilder::build_old_page() const {
  const Layout l = layout();
  std::vector<uint8_t> b(1024, 0);
  w16(b, 0, magic_);
  w8(b, 2, revision_);
  w8(b, 3, l.file_flags);
  w8(b, 4, key_count_override_ ? *key_count_override_ : l.keys.size());
  w8(b, 5, slot_count_override_ ? *slot_count_override_ : slots_.size());
  w8(b, 7, static_cast<uint8_t>(static_cast<int8_t>(record_overhead_)));
  w16(b, 8, free_index_blocks_);
  w16(b, 10, l.max_key);
  w16(b, 12, record_length_);
  w16(b, 14, vector_count_);
  w32(b, 16, free_head_);
  w32(b, 20, record_count_);
  w32(b, 24, free_record_count_);
  for (size_t i = 0; i < l.keys.size() && i < 8; ++i) {
    const KeySpec& k = l.keys[i];
    const size_t o = 28 + 60 * i;
    const bool ascending = !k.segments.empty() && (k.segments[0].type & 0x20);
    w8(b, o + 0, (k.flags & ~1) | (ascending ? 1 : 0));
    w8(b, o + 2, k.depth);
    w8(b, o + 3, k.qualifier_offset);
    w32(b, o + 4, k.root ? *k.root : 1024 + 1024 * i);
    for (size_t s = 0; s < k.segments.size() && s < 8; ++s) {
      w16(b, o + 8 + 2 * s, k.segments[s].start);
      w16(b, o + 24 + 2 * s, k.segments[s].length);
    }
    w16(b, o + 40, k.key_size);
    w8(b, o + 42, k.null_offset);
    wstr(b, o + 44, k.name, 16);
  }
  for (size_t i = 0; i < slots_.size() && i < 32; ++i) {
    w16(b, 508 + 8 * i, slots_[i].size);
    w32(b, 508 + 8 * i + 4, slots_[i].address);
  }
  w32(b, 764, unusable_);
  for (size_t i = 0; i < l.null_area.size() && i < 64; ++i) w8(b, 768 + i, l.null_area[i]);
  w32(b, 832, update_count_);
  wstr(b, 1018, version_.empty() ? "9.4.3b" : version_, 6);
  return b;
}

// The header image as the creation writes it: header page, dynamic header
// and (prefixed form) the file text, up to the end of the header region.
std::vector<uint8_t> IsamBuilder::build_image(bool data_copy) const {
  if (revision_ < 4) {
    std::vector<uint8_t> b = build_old_page();
    if (data_copy) w16(b, 0, 0x5CB5);
    return b;
  }
  const Layout l = layout();
  const uint32_t k = static_cast<uint32_t>(l.keys.size());
  std::vector<uint8_t> b(std::max({l.region, l.dynamic_offset + l.dynamic_size, l.header_size}), 0);

  // IsamHeader.
  const uint32_t header_size = header_size_override_ ? *header_size_override_ : l.header_size;
  const uint32_t dyn_size = dynamic_size_override_ ? *dynamic_size_override_ : l.dynamic_size;
  w16(b, 0, data_copy ? 0x5CB5 : magic_);
  w8(b, 2, revision_);
  w8(b, 3, l.file_flags);
  w8(b, 4, key_count_override_ ? *key_count_override_ : k);
  w8(b, 5, l.page_units);
  w8(b, 6, port_ints_.size());
  w8(b, 7, l.region / 256);
  w16(b, 8, record_overhead_);
  w16(b, 10, header_size);
  w16(b, 12, dyn_size);
  w16(b, 14, l.max_key);
  w16(b, 16, record_length_);
  w16(b, 18, l.null_area.size());
  w32(b, 20, l.file_flags2);
  w32(b, 24, l.dynamic_offset);
  for (int i = 0; i < 4; ++i) w32(b, 28 + 4 * i, times_[i]);
  wstr(b, 44, version_.empty() ? (revision_ >= 6 ? "100101c" : "10.1.1c") : version_, 8);

  // Key descriptors from offset 52.
  size_t o = 52;
  for (uint32_t i = 0; i < k; ++i, o += 68) {
    const KeySpec& key = l.keys[i];
    w8(b, o + 0, key.flags);
    w8(b, o + 1, key.autokey);
    w8(b, o + 2, key.density);
    for (size_t s = 0; s < key.segments.size() && s < 8; ++s) {
      w8(b, o + 4 + s, key.segments[s].type);
      w16(b, o + 12 + 2 * s, key.segments[s].start);
      w16(b, o + 28 + 2 * s, key.segments[s].length);
    }
    w16(b, o + 44, key.null_offset);
    w16(b, o + 46, key.key_size);
    w16(b, o + 48, key.qualifier_offset);
    wstr(b, o + 52, key.name, 16);
  }
  for (const PortInt& p : port_ints_) {
    w8(b, o + 0, p.kind);
    w8(b, o + 1, p.length);
    w16(b, o + 2, p.position);
    o += 4;
  }
  for (size_t i = 0; i < l.null_area.size(); ++i) w8(b, o + i, l.null_area[i]);
  o += pad4(static_cast<uint32_t>(l.null_area.size()));
  if (l.r6u) {
    w64(b, o + 0, seed_);
    w32(b, o + 8, allocation_);
    w32(b, o + 12, l.data_start);
    w32(b, o + 16, l.text_location);
    w32(b, o + 20, reorganized_);
    w8(b, o + 36, compat_);
    w8(b, o + 37, text_kb_);
  }

  // Dynamic header.
  const size_t d = l.dynamic_offset;
  const uint8_t slot_count =
      slot_count_override_ ? *slot_count_override_ : static_cast<uint8_t>(slots_.size());
  w8(b, d + 0, slot_count);
  w8(b, d + 1, dynamic_flags_);
  w16(b, d + 6, vector_count_);
  w32(b, d + 8, record_count_);
  w32(b, d + 12, free_record_count_);
  w32(b, d + 16, unusable_);
  w32(b, d + 20, free_head_);
  if (l.short_form) {
    w16(b, d + 2, update_count_);
    w16(b, d + 4, free_index_blocks_);
    for (size_t i = 0; i < slots_.size() && i < 32; ++i) {
      const size_t e = d + 24 + 8 * i;
      w32(b, e + 0, slots_[i].address);
      w8(b, e + 4, slots_[i].address >> 32);
      w16(b, e + 6, slots_[i].size);
    }
  } else {
    w8(b, d + 24, free_head_ >> 32);
    for (size_t i = 0; i < slots_.size() && i < 132; ++i) {
      const size_t e = d + 32 + 12 * i;
      w32(b, e + 0, slots_[i].address);
      if (address48_) {
        w16(b, e + 4, slots_[i].address >> 32);
      } else {
        w8(b, e + 4, slots_[i].address >> 32);
      }
      w16(b, e + 6, slots_[i].size);
    }
  }
  for (uint32_t i = 0; i < k; ++i) {
    const KeySpec& key = l.keys[i];
    uint64_t root = l.region + i * l.page_units * 256ull;
    if (tbyte_) root /= 256;
    if (key.root) root = *key.root;
    w32(b, d + l.roots_off + l.root_w * i, root);
    if (l.root_w == 5) w8(b, d + l.roots_off + l.root_w * i + 4, root >> 32);
    w8(b, d + l.depths_off + i, key.depth);
  }
  if (l.counters_off) {
    const size_t c = d + l.counters_off;
    w64(b, c + 0, static_cast<uint64_t>(autoseed_));
    w32(b, c + 8, update_count_);
    w32(b, c + 12, free_index_blocks_);
    w32(b, c + 16, data_leof_);
    if (address48_) {
      w16(b, c + 20, data_leof_ >> 32);
    } else {
      w8(b, c + 20, data_leof_ >> 32);
    }
    w8(b, c + 22, snapshot_count_);
    w8(b, c + 23, tracking_slot_);
    w32(b, c + 24, index_leof_);
    w8(b, c + 28, index_leof_ >> 32);
    w16(b, c + 30, tracking_mark_);
    w32(b, c + 32, snapshot_base_);
    w32(b, c + 36, text_form_ == 16 ? text_.size() : 0);
  }
  if (l.tracking_off) w32(b, d + l.tracking_off + 4 * tracking_slot_, tracking_time_);

  // Prefixed file text: only the data file's copy holds it.
  if (text_form_ == 8 && data_copy) {
    const size_t t = l.text_location;
    if (t + 8 + text_.size() > b.size()) b.resize(t + 8 + text_.size(), 0);
    const uint32_t word = text_word_ ? text_word_ : (l.text_alloc | 0x04000000);
    w32(b, t + 0, word);
    w32(b, t + 4, text_.size());
    wstr(b, t + 8, text_, text_.size());
  }
  return b;
}

std::vector<uint8_t> IsamBuilder::header_page() const {
  std::vector<uint8_t> b = build_image(false);
  const Layout l = layout();
  b.resize(l.old ? 1024 : l.header_size, 0);
  return b;
}

std::vector<uint8_t> IsamBuilder::dynamic_header() const {
  std::vector<uint8_t> b = build_image(false);
  const Layout l = layout();
  const size_t size = dynamic_size_override_ ? *dynamic_size_override_ : l.dynamic_size;
  b.resize(std::max(b.size(), l.dynamic_offset + size), 0);
  return std::vector<uint8_t>(b.begin() + l.dynamic_offset, b.begin() + l.dynamic_offset + size);
}

std::vector<uint8_t> IsamBuilder::index_file() const {
  std::vector<uint8_t> b = build_image(false);
  const Layout l = layout();
  if (!l.old) b.resize(std::max<size_t>(b.size(), l.region), 0);
  const size_t block = static_cast<size_t>(l.page_units) * 256;
  for (size_t i = 0; i < l.keys.size(); ++i) {
    const size_t at = b.size();
    b.resize(at + block, 0);
    b[at] = 0xFF;
  }
  for (const Poke& p : pokes_) {
    if (!p.index) continue;
    if (p.offset + p.bytes.size() > b.size()) b.resize(p.offset + p.bytes.size(), 0);
    std::copy(p.bytes.begin(), p.bytes.end(), b.begin() + p.offset);
  }
  if (index_length_) b.resize(*index_length_);
  return b;
}

std::vector<uint8_t> IsamBuilder::temp_index_file() const {
  std::vector<uint8_t> b = index_file();
  if (b.size() >= 2) {
    b[0] = 0xE7;
    b[1] = 0x5C;
  }
  return b;
}

std::vector<uint8_t> IsamBuilder::data_file() const {
  std::vector<uint8_t> b = build_image(true);
  const Layout l = layout();
  if (!l.old) b.resize(std::max<size_t>(b.size(), l.region), 0);
  if (text_form_ == 16) {
    const size_t at = l.text_location;
    b.resize(std::max<size_t>(b.size(), at + static_cast<size_t>(text_kb_) * 1024), 0);
    for (size_t i = 0; i < text_.size() && at + i < b.size(); ++i) {
      b[at + i] = static_cast<uint8_t>(text_[i]);
    }
  }
  b.resize(b.size() + data_records_, 0);
  for (const Poke& p : pokes_) {
    if (p.index) continue;
    if (p.offset + p.bytes.size() > b.size()) b.resize(p.offset + p.bytes.size(), 0);
    std::copy(p.bytes.begin(), p.bytes.end(), b.begin() + p.offset);
  }
  if (data_length_) b.resize(*data_length_);
  return b;
}

std::vector<uint8_t> IsamBuilder::shifted_data_file() const {
  std::vector<uint8_t> b(0x8000, 0x5A);
  const std::vector<uint8_t> data = data_file();
  b.insert(b.end(), data.begin(), data.end());
  return b;
}

uint16_t IsamBuilder::header_size() const {
  return header_size_override_ ? *header_size_override_
                               : static_cast<uint16_t>(layout().old ? 0 : layout().header_size);
}
uint32_t IsamBuilder::dynamic_offset() const {
  return layout().dynamic_offset;
}
uint16_t IsamBuilder::dynamic_size() const {
  return dynamic_size_override_ ? *dynamic_size_override_
                                : static_cast<uint16_t>(layout().dynamic_size);
}
uint32_t IsamBuilder::data_header_bytes() const {
  return layout().region;
}
uint32_t IsamBuilder::data_start() const {
  return layout().data_start;
}
uint32_t IsamBuilder::text_location() const {
  return layout().text_location;
}
uint8_t IsamBuilder::key_count() const {
  return key_count_override_ ? *key_count_override_ : static_cast<uint8_t>(all_keys().size());
}

std::vector<uint8_t> IsamBuilder::work_file_page(const std::string& target, bool terminate,
                                                 size_t page_len) {
  std::vector<uint8_t> b(page_len, terminate ? 0 : 'x');
  if (page_len >= 2) {
    b[0] = 0xBF;
    b[1] = 0xA2;
  }
  for (size_t i = 2; i < 16 && i < page_len; ++i) b[i] = 0;
  for (size_t i = 0; i < target.size() && 16 + i < page_len; ++i) {
    b[16 + i] = static_cast<uint8_t>(target[i]);
  }
  if (terminate && 16 + target.size() < page_len) b[16 + target.size()] = 0;
  return b;
}

bool IsamBuilder::write_file(const std::string& path, const std::vector<uint8_t>& bytes) {
  if (test::in_child_rerun()) return true;  // the parent's file, left as it is
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  if (!out) return false;
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
  return static_cast<bool>(out);
}

bool IsamBuilder::write_files(const std::string& dir, const std::string& base,
                              const std::string& ext) const {
  const std::string index = dir + "/" + base + ext;
  std::string data = index;
  data.back() = '1';
  return write_file(index, index_file()) && write_file(data, data_file());
}

}  // namespace ismgr::testing
