// Byte-by-byte construction of ISAM files for tests. Every offset below is
// written out here on purpose: nothing is shared with the layer's encoders.
#include "support/isam_builder.h"

#include <algorithm>
#include <cstring>
#include <fstream>

#include "support/child_process.h"

namespace ismgr::testing {

namespace {

// Little-endian, `width` bytes of `v` at `off`.
void put(std::vector<uint8_t>& b, size_t off, uint64_t v, int width) {
  for (int i = 0; i < width; ++i) b.at(off + i) = static_cast<uint8_t>(v >> (8 * i));
}
void wstr(std::vector<uint8_t>& b, size_t off, const std::string& s, size_t width) {
  for (size_t i = 0; i < width; ++i)
    put(b, off + i, i < s.size() ? static_cast<uint8_t>(s[i]) : 0, 1);
}
uint32_t round_up(uint32_t n, uint32_t unit) {
  return (n + unit - 1) / unit * unit;
}
uint32_t pad4(uint32_t n) {
  return (n + 3) & ~3u;
}

// Fields as (offset, value, width) triples, each put() in turn.
void put_fields(std::vector<uint8_t>&) {}
template <typename V, typename... Rest>
void put_fields(std::vector<uint8_t>& b, size_t offset, V value, int width, Rest... rest) {
  put(b, offset, static_cast<uint64_t>(value), width);
  put_fields(b, rest...);
}

template <typename Pokes>
void apply_pokes(const Pokes& pokes, bool index, std::vector<uint8_t>& b) {
  for (const auto& p : pokes) {
    if (p.index != index) continue;
    if (p.offset + p.bytes.size() > b.size()) b.resize(p.offset + p.bytes.size(), 0);
    std::copy(p.bytes.begin(), p.bytes.end(), b.begin() + p.offset);
  }
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
  bool old = false, short_form = false, r6u = false;
  std::vector<KeySpec> keys;
  std::vector<uint8_t> null_area;
  uint8_t file_flags = 0, page_units = 4;
  uint32_t file_flags2 = 0;
  uint16_t max_key = 0;
  uint32_t header_size = 0, dynamic_offset = 0, root_w = 4, roots_off = 0, depths_off = 0;
  uint32_t counters_off = 0, tracking_off = 0;  // 0: no counters, no tracking area
  uint32_t dynamic_size = 0, text_location = 0, data_start = 0;
  uint32_t region = 0;      // data header region (data_header_units x 256)
  uint32_t text_alloc = 0;  // bytes of the prefixed text's allocation
};

IsamBuilder::Layout IsamBuilder::layout() const {
  Layout l;
  l.old = revision_ < 4;
  l.r6u = revision_ >= 6 && patch_flags_ == 0;
  l.short_form = !l.old && !l.r6u;  // 4, 5 and patched
  l.keys = keys_;
  l.null_area = null_area_;
  if (tracking_ && l.r6u) {
    KeySpec t;
    t.flags = 0x1E;
    t.autokey = 0x10;
    t.density = 100;
    t.segments.push_back(SegmentSpec{0x21, 0, 1});
    t.key_size = 5;
    // The creation gives the key the overhead at the moment it is added and
    // then grows the overhead by the key's 4 + 12 bytes: a header overhead
    // of 16 or more is taken as holding them (overheads below 16 are kept
    // as given, for files that bend the layout).
    t.qualifier_offset = record_overhead_ >= 16 ? record_overhead_ - 16 : record_overhead_;
    t.name = "Change Tracking";
    // Its null value (2, 0) goes at the end of the area.
    t.null_offset = static_cast<uint16_t>(l.null_area.size());
    l.null_area.push_back(2);
    l.null_area.push_back(0);
    l.keys.push_back(t);
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
      if (k.flags & 0x04) sum += tbyte_ ? 4 : 3;  // the qualifier
      k.key_size = static_cast<uint16_t>(sum);
    }
    l.max_key = std::max(l.max_key, k.key_size);
  }
  if (max_key_override_) l.max_key = *max_key_override_;

  const uint32_t k = static_cast<uint32_t>(l.keys.size());
  if (l.old) {  // one 1024-byte page, the dynamic part from 0
    l.header_size = l.region = l.data_start = 1024;
    l.dynamic_size = 836;
    return l;
  }
  const uint32_t unit = l.r6u ? 4096 : 1024;
  l.header_size = 52 + 68 * k + 4 * static_cast<uint32_t>(port_ints_.size()) +
                  pad4(static_cast<uint32_t>(l.null_area.size())) + (l.r6u ? 40 : 0);
  l.dynamic_offset = round_up(l.header_size, unit);
  l.root_w = tbyte_ ? 5 : 4;
  l.roots_off = l.short_form ? 280 : 1616;  // after the free-list part
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
  if (text_form_ == 8) {  // allocation word: 0x08000000 in kilobytes, 0x04000000 in bytes
    const uint32_t v = text_word_ & 0x03FFFFFF;
    l.text_alloc = !text_word_                 ? std::max<uint32_t>(text_.size(), 32)
                   : (text_word_ & 0x08000000) ? v * 1024
                                               : v;
    l.text_location = l.dynamic_offset + dyn_size;
  }
  l.region = round_up(l.dynamic_offset + dyn_size + (text_form_ == 8 ? 8 + l.text_alloc : 0), unit);
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
  put_fields(b, 0, magic_, 2, 2, revision_, 1, 3, l.file_flags, 1, 4,
             key_count_override_ ? *key_count_override_ : l.keys.size(), 1, 5,
             slot_count_override_ ? *slot_count_override_ : slots_.size(), 1, 7,
             static_cast<uint8_t>(static_cast<int8_t>(record_overhead_)), 1, 8, free_index_blocks_,
             2, 10, l.max_key, 2, 12, record_length_, 2, 14, vector_count_, 2, 16, free_head_, 4,
             20, record_count_, 4, 24, free_record_count_, 4);
  for (size_t i = 0; i < l.keys.size() && i < 8; ++i) {
    const KeySpec& k = l.keys[i];
    const size_t o = 28 + 60 * i;
    const bool ascending = !k.segments.empty() && (k.segments[0].type & 0x20);
    put_fields(b, o + 0, (k.flags & ~1) | (ascending ? 1 : 0), 1, o + 2, k.depth, 1, o + 3,
               k.qualifier_offset, 1, o + 4, k.root ? *k.root : 1024 + 1024 * i, 4);
    for (size_t s = 0; s < k.segments.size() && s < 8; ++s)
      put_fields(b, o + 8 + 2 * s, k.segments[s].start, 2, o + 24 + 2 * s, k.segments[s].length, 2);
    put_fields(b, o + 40, k.key_size, 2, o + 42, k.null_offset, 1);
    wstr(b, o + 44, k.name, 16);
  }
  for (size_t i = 0; i < slots_.size() && i < 32; ++i)
    put_fields(b, 508 + 8 * i, slots_[i].size, 2, 508 + 8 * i + 4, slots_[i].address, 4);
  put(b, 764, unusable_, 4);
  for (size_t i = 0; i < l.null_area.size() && i < 64; ++i) put(b, 768 + i, l.null_area[i], 1);
  put(b, 832, update_count_, 4);
  wstr(b, 1018, version_.empty() ? "9.4.3b" : version_, 6);
  return b;
}

// The header image as the creation writes it: header page, dynamic header
// and (prefixed form) the file text, up to the end of the header region.
std::vector<uint8_t> IsamBuilder::build_image(bool data_copy) const {
  if (revision_ < 4) {
    std::vector<uint8_t> b = build_old_page();
    if (data_copy) put(b, 0, 0x5CB5, 2);
    return b;
  }
  const Layout l = layout();
  const uint32_t k = static_cast<uint32_t>(l.keys.size());
  std::vector<uint8_t> b(std::max({l.region, l.dynamic_offset + l.dynamic_size, l.header_size}), 0);

  // IsamHeader.
  const uint32_t header_size = header_size_override_ ? *header_size_override_ : l.header_size;
  const uint32_t dyn_size = dynamic_size_override_ ? *dynamic_size_override_ : l.dynamic_size;
  put_fields(b, 0, data_copy ? 0x5CB5 : magic_, 2, 2, revision_, 1, 3, l.file_flags, 1, 4,
             key_count_override_ ? *key_count_override_ : k, 1, 5, l.page_units, 1, 6,
             port_ints_.size(), 1, 7, l.region / 256, 1, 8, record_overhead_, 2, 10, header_size, 2,
             12, dyn_size, 2, 14, l.max_key, 2, 16, record_length_, 2, 18, l.null_area.size(), 2,
             20, l.file_flags2, 4, 24, l.dynamic_offset, 4);
  for (int i = 0; i < 4; ++i) put(b, 28 + 4 * i, times_[i], 4);
  wstr(b, 44, version_.empty() ? (revision_ >= 6 ? "100101c" : "10.1.1c") : version_, 8);

  // Key descriptors from offset 52.
  size_t o = 52;
  for (uint32_t i = 0; i < k; ++i, o += 68) {
    const KeySpec& key = l.keys[i];
    put_fields(b, o + 0, key.flags, 1, o + 1, key.autokey, 1, o + 2, key.density, 1);
    for (size_t s = 0; s < key.segments.size() && s < 8; ++s) {
      put_fields(b, o + 4 + s, key.segments[s].type, 1, o + 12 + 2 * s, key.segments[s].start, 2,
                 o + 28 + 2 * s, key.segments[s].length, 2);
    }
    put_fields(b, o + 44, key.null_offset, 2, o + 46, key.key_size, 2, o + 48, key.qualifier_offset,
               2);
    wstr(b, o + 52, key.name, 16);
  }
  for (const PortInt& p : port_ints_) {
    put_fields(b, o + 0, p.kind, 1, o + 1, p.length, 1, o + 2, p.position, 2);
    o += 4;
  }
  for (size_t i = 0; i < l.null_area.size(); ++i) put(b, o + i, l.null_area[i], 1);
  o += pad4(static_cast<uint32_t>(l.null_area.size()));
  if (l.r6u) {
    put_fields(b, o + 0, seed_, 8, o + 8, allocation_, 4, o + 12, l.data_start, 4, o + 16,
               l.text_location, 4, o + 36, compat_, 1, o + 37, text_kb_, 1);
  }

  // Dynamic header.
  const size_t d = l.dynamic_offset;
  const uint8_t slot_count =
      slot_count_override_ ? *slot_count_override_ : static_cast<uint8_t>(slots_.size());
  put_fields(b, d + 0, slot_count, 1, d + 1, dynamic_flags_, 1, d + 6, vector_count_, 2, d + 8,
             record_count_, 4, d + 12, free_record_count_, 4, d + 16, unusable_, 4, d + 20,
             free_head_, 4);
  if (l.short_form) {
    put_fields(b, d + 2, update_count_, 2, d + 4, free_index_blocks_, 2);
    for (size_t i = 0; i < slots_.size() && i < 32; ++i) {
      const size_t e = d + 24 + 8 * i;
      put_fields(b, e + 0, slots_[i].address, 4, e + 4, slots_[i].address >> 32, 1, e + 6,
                 slots_[i].size, 2);
    }
  } else {
    put(b, d + 24, free_head_ >> 32, 1);
    for (size_t i = 0; i < slots_.size() && i < 132; ++i) {
      const size_t e = d + 32 + 12 * i;
      put_fields(b, e + 0, slots_[i].address, 4, e + 6, slots_[i].size, 2);
      put(b, e + 4, slots_[i].address >> 32, address48_ ? 2 : 1);
    }
  }
  for (uint32_t i = 0; i < k; ++i) {
    const KeySpec& key = l.keys[i];
    uint64_t root = l.region + i * l.page_units * 256ull;
    if (tbyte_) root /= 256;
    if (key.root) root = *key.root;
    put(b, d + l.roots_off + l.root_w * i, root, 4);
    if (l.root_w == 5) put(b, d + l.roots_off + l.root_w * i + 4, root >> 32, 1);
    put(b, d + l.depths_off + i, key.depth, 1);
  }
  if (l.counters_off) {
    const size_t c = d + l.counters_off;
    put_fields(b, c + 0, static_cast<uint64_t>(autoseed_), 8, c + 8, update_count_, 4, c + 12,
               free_index_blocks_, 4, c + 16, data_leof_, 4);
    put(b, c + 20, data_leof_ >> 32, address48_ ? 2 : 1);
    put_fields(b, c + 22, snapshot_count_, 1, c + 23, tracking_slot_, 1, c + 24, index_leof_, 4,
               c + 28, index_leof_ >> 32, 1, c + 30, tracking_mark_, 2, c + 32, snapshot_base_, 4,
               c + 36, text_form_ == 16 ? text_.size() : 0, 4);
  }
  if (l.tracking_off) put(b, d + l.tracking_off + 4 * tracking_slot_, tracking_time_, 4);

  // Prefixed file text: only the data file's copy holds it.
  if (text_form_ == 8 && data_copy) {
    const size_t t = l.text_location;
    if (t + 8 + text_.size() > b.size()) b.resize(t + 8 + text_.size(), 0);
    const uint32_t word = text_word_ ? text_word_ : (l.text_alloc | 0x04000000);
    put_fields(b, t + 0, word, 4, t + 4, text_.size(), 4);
    wstr(b, t + 8, text_, text_.size());
  }
  return b;
}

std::vector<uint8_t> IsamBuilder::index_file() const {
  std::vector<uint8_t> b = build_image(false);  // the whole header region
  const Layout l = layout();
  const size_t block = static_cast<size_t>(l.page_units) * 256;
  for (size_t i = 0; i < l.keys.size(); ++i) {
    const size_t at = b.size();
    b.resize(at + block, 0);
    b[at] = 0xFF;
  }
  apply_pokes(pokes_, true, b);
  if (index_length_) b.resize(*index_length_);
  return b;
}

std::vector<uint8_t> IsamBuilder::data_file() const {
  std::vector<uint8_t> b = build_image(true);
  const Layout l = layout();
  if (text_form_ == 16) {
    const size_t at = l.text_location;
    b.resize(std::max<size_t>(b.size(), at + static_cast<size_t>(text_kb_) * 1024), 0);
    for (size_t i = 0; i < text_.size() && at + i < b.size(); ++i) b[at + i] = text_[i];
  }
  b.resize(b.size() + data_records_, 0);
  apply_pokes(pokes_, false, b);
  return b;
}

uint32_t IsamBuilder::data_header_bytes() const {
  return layout().region;
}
uint32_t IsamBuilder::text_location() const {
  return layout().text_location;
}

std::vector<uint8_t> IsamBuilder::work_file_page(const std::string& target) {
  std::vector<uint8_t> b(4096, 0);
  b[0] = 0xBF;
  b[1] = 0xA2;
  std::copy(target.begin(), target.end(), b.begin() + 16);
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
