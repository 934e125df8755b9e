// Building the IsamFileControl from the header page and the dynamic header,
// and the dynamic header's on-disk form for the write-back.
#include "ismgr/isam/file_control.h"

#include <algorithm>
#include <cstring>

#include "ismgr/runtime/status.h"

namespace ismgr {

namespace {

constexpr size_t pad4(size_t n) {
  return (n + 3) & ~static_cast<size_t>(3);
}

// Bytes of the header page from offset 52 that the counts of `h` lay out:
// key descriptors, port ints, null values (padded to 4) and the extension.
size_t header_areas_size(const IsamHeader& h) {
  return kKeyDescriptorSize * h.key_count + kPortIntSpecSize * h.port_int_count +
         pad4(h.null_area_size) + (is_r6_unpatched(h) ? kR6ExtensionSize : 0);
}

// Checks the keys against the record, the key buffers and the null values,
// with the bounds the creation lays them out by: a segment starts at a
// 0-based offset and ends at most at the record's last byte; a portable
// integer's position counts from 1, so it ends at position + length - 1,
// which may be the record size itself; a duplicate qualifier lies within the
// record as stored; only a replicating or non-replicating null key has a
// null value (a short null key has none).
int check_keys(const IsamFileControl& fc) {
  const IsamHeader& h = fc.header;
  const uint64_t record = h.record_size;
  const uint64_t stored_record = static_cast<uint64_t>(h.record_size) + h.record_overhead;
  for (const KeyDescriptor& k : fc.keys) {
    // Key buffers are max_key_size long: no key may be longer.
    if (k.key_size > h.max_key_size) return kStatusBadFileControl;
    uint64_t total = 0;
    const int segments = segment_count(k);
    for (int s = 0; s < segments; ++s) {
      // Every segment lies within the record.
      if (static_cast<uint64_t>(k.seg_start[s]) + k.seg_length[s] > record) {
        return kStatusBadFileControl;
      }
      total += k.seg_length[s];
    }
    // The segments are copied into a key of key_size bytes.
    if (total > k.key_size) return kStatusBadFileControl;
    if (k.key_flags & (kKeyNullReplicating | kKeyNullNonReplicating)) {
      if (!null_value_at(fc.null_area, k.null_offset, nullptr, nullptr)) {
        return kStatusBadFileControl;
      }
    }
    if (k.key_flags & kKeyDuplicates) {
      // The qualifier is copied out of the stored record.
      if (static_cast<uint64_t>(k.qualifier_offset) + qualifier_width(h) > stored_record) {
        return kStatusBadFileControl;
      }
    }
  }
  for (const PortIntSpec& p : fc.port_ints) {
    if (p.kind != kPortIntKind) continue;
    if (p.position < 1 || static_cast<uint64_t>(p.position) + p.length - 1 > record) {
      return kStatusBadFileControl;
    }
  }
  return 0;
}

// Header, keys and areas of revisions 0 to 3.
int build_old(const uint8_t* page, size_t len, IsamFileControl* fc) {
  OldHeaderBlock b;
  if (len < kOldHeaderPageSize || !decode_old_header_block(page, len, &b)) {
    return kStatusBadFileControl;
  }
  if (b.key_count > kOldMaxKeys) return kStatusBadFileControl;
  fc->header =
      old_header_to_isam_header(b, reinterpret_cast<const char*>(page + kOldVersionOffset));
  fc->keys.clear();
  for (size_t i = 0; i < b.key_count; ++i) fc->keys.push_back(old_key_to_key_descriptor(b.keys[i]));
  fc->port_ints.clear();
  fc->null_area.bytes.assign(b.null_area.begin(), b.null_area.end());
  fc->has_old_header = true;
  fc->old_header = b;
  fc->has_extension = false;
  fc->extension = R6Extension{};
  return 0;
}

// Header, keys and areas of revision 4 and later.
int build_current(const uint8_t* page, size_t len, IsamFileControl* fc, const char** detail) {
  IsamHeader h;
  if (!decode_isam_header(page, len, &h)) return kStatusBadFileControl;
  if (h.revision < 6) h.file_flags2 = 0;  // meaningful in revision 6 only
  const size_t areas = header_areas_size(h);
  // The counts must fit within header_size, and header_size within the
  // bytes the caller read.
  if (h.header_size < kIsamHeaderSize + areas) return kStatusBadFileControl;
  if (h.header_size > len) return kStatusBadFileControl;
  // Bytes beyond the first 4096 go into the same areas: refuse more than
  // they hold.
  if (h.header_size > kHeaderPageReadSize && h.header_size > kIsamHeaderSize + areas) {
    return kStatusBadFileControl;
  }
  fc->header = h;
  size_t off = kIsamHeaderSize;
  fc->keys.assign(h.key_count, KeyDescriptor{});
  for (size_t i = 0; i < h.key_count; ++i, off += kKeyDescriptorSize) {
    decode_key_descriptor(page + off, len - off, &fc->keys[i]);
  }
  fc->port_ints.assign(h.port_int_count, PortIntSpec{});
  for (size_t i = 0; i < h.port_int_count; ++i, off += kPortIntSpecSize) {
    decode_port_int_spec(page + off, len - off, &fc->port_ints[i]);
  }
  fc->null_area.bytes.assign(page + off, page + off + h.null_area_size);
  off += pad4(h.null_area_size);
  fc->has_old_header = false;
  fc->has_extension = is_r6_unpatched(h);
  fc->extension = R6Extension{};
  if (fc->has_extension) {
    decode_r6_extension(page + off, len - off, &fc->extension);
    if (int status = check_compat_level(fc->extension, detail)) return status;
  }
  return 0;
}

}  // namespace

int autokey_summary_key(uint64_t summary, int shift) {
  const uint64_t v = (summary >> shift) & 0xFFFF;
  return v >= 0x100 ? static_cast<int>(v - 0x100) : -1;
}

DynamicLayout dynamic_layout(const IsamHeader& h) {
  DynamicLayout d;
  if (is_old_layout(h)) {
    d.form = DynamicForm::kOld;
    d.free_list_size = static_cast<uint32_t>(kOldHeaderBlockSize);
    d.root_width = kRootWidth;
    d.size = d.free_list_size;
    return d;
  }
  const bool short_form = uses_short_free_list(h);
  d.form = short_form ? DynamicForm::kShort : DynamicForm::kFull;
  d.free_list_size = static_cast<uint32_t>(short_form ? kFreeListShortSize : kFreeListFullSize);
  d.root_width = static_cast<uint32_t>(root_width(h));
  d.roots_offset = d.free_list_size;
  d.depths_offset = static_cast<uint32_t>(d.roots_offset + pad4(h.key_count * d.root_width));
  d.counters_offset = static_cast<uint32_t>(d.depths_offset + pad4(h.key_count));
  uint32_t end = d.counters_offset + static_cast<uint32_t>(kFileCountersSize);
  if (!short_form && (h.file_flags2 & kFlags2ChangeTracking)) {
    d.tracking_offset = end;
    end += static_cast<uint32_t>(kChangeTrackingSize);
  }
  d.size = end;
  return d;
}

bool file_control_valid(const IsamFileControl* fc) {
  if (fc == nullptr) return false;
  const bool index = fc->index_handle != platform::kInvalidHandle;
  const bool data = fc->data_handle != platform::kInvalidHandle;
  switch (fc->header.magic) {
    case kMagicIndex:
      return index && data;
    case kMagicData:
      return data && !index;
    case kMagicTempIndex:
      return index;
    default:
      return false;
  }
}

uint64_t key_root_address(const IsamFileControl& fc, size_t key) {
  if (key >= fc.roots.size()) return 0;
  const uint64_t raw = fc.roots[key];
  if (!is_tbyte(fc.header)) return raw & 0xFFFFFFFFu;
  uint64_t units = raw & 0xFFFFFFFFu;
  if (is_address48(fc.header)) units |= raw & 0xFF00000000ull;
  return units * kIndexUnit;
}

size_t header_extra_bytes(const uint8_t* page, size_t len) {
  if (page == nullptr || len < kIsamHeaderSize || page[2] < 4) return 0;
  const uint16_t header_size = get_u16(page + 10);
  return header_size > kHeaderPageReadSize ? header_size - kHeaderPageReadSize : 0;
}

int build_file_control(const uint8_t* page, size_t len, IsamFileControl* fc, const char** detail) {
  if (detail) *detail = nullptr;
  if (page == nullptr || fc == nullptr || len < 4) return kStatusBadFileControl;
  const int status = page[2] < 4 ? build_old(page, len, fc) : build_current(page, len, fc, detail);
  if (status != 0) return status;

  IsamHeader& h = fc->header;
  if (h.page_units == 0) return kStatusBadFileControl;  // no index block size
  if (int s = check_keys(*fc)) return s;

  fc->rfa_width = rfa_width(h);
  fc->index_entry_width = index_entry_width(h);
  fc->wide_page = page_bytes(h) > 1024;
  fc->record_size = h.record_size;
  fc->record_overhead = h.record_overhead;
  fc->record_buffer_size = fc->record_size + fc->record_overhead + 1;

  // Data start and preallocation.
  const uint32_t header_bytes = static_cast<uint32_t>(h.data_header_units) * 256u;
  fc->data_start = header_bytes;
  fc->prealloc_blocks = 0;
  if (fc->has_extension) {
    fc->data_start = fc->extension.data_start;
    if ((h.file_flags2 & (kFlags2ExtensionText | kFlags2ChangeTracking)) == 0 &&
        fc->data_start != header_bytes) {
      fc->data_start = header_bytes;
    }
    if (h.file_flags2 & kFlags2Prealloc) {
      fc->prealloc_blocks = preallocation_blocks(h, fc->data_start, fc->extension.allocation);
    }
  }

  // Keys: fill limits, the duplicate qualifier, autokeys.
  const bool autokeys_valid = is_r6_unpatched(h);
  const int qualifier = qualifier_width(h);
  fc->fill_limits.assign(fc->keys.size(), 0);
  fc->autokey_summary = 0;
  for (size_t i = 0; i < fc->keys.size(); ++i) {
    KeyDescriptor& k = fc->keys[i];
    fc->fill_limits[i] = key_fill_limit(h, k);
    if ((k.key_flags & kKeyDuplicates) && !is_segmented(k) && k.seg_length[0] == k.key_size &&
        k.seg_length[0] > qualifier) {
      k.seg_length[0] = static_cast<uint16_t>(k.seg_length[0] - qualifier);
    }
    // Older files may hold anything in this byte: clear it before it is read.
    if (!autokeys_valid) k.autokey_flags = 0;
    const uint64_t slot = 0x100 + i;
    if (k.autokey_flags & kAutoSequence) {
      fc->autokey_summary &= ~(0xFFFFull << kAutokeySequenceShift);
      fc->autokey_summary |= slot << kAutokeySequenceShift;
    }
    if (k.autokey_flags & kAutoTimestamp) {
      fc->autokey_summary &= ~(0xFFFFull << kAutokeyTimestampShift);
      fc->autokey_summary |= slot << kAutokeyTimestampShift;
    }
    if (k.autokey_flags & kAutoGuid) {
      fc->autokey_summary &= ~(0xFFFFull << kAutokeyGuidShift);
      fc->autokey_summary |= slot << kAutokeyGuidShift;
    }
  }

  // Buffers and per-key tables.
  fc->index_block.assign(page_bytes(h), 0);
  const size_t key_buffer = (static_cast<size_t>(h.max_key_size) + 7) & ~static_cast<size_t>(7);
  for (auto& b : fc->key_buffers) b.assign(key_buffer, 0);
  fc->key_record_addresses.assign(fc->keys.size(), 0);
  fc->roots.assign(fc->keys.size(), 0);
  fc->depths.assign(fc->keys.size(), 0);
  fc->search_capacity = block_search_capacity(h);

  fc->dynamic = dynamic_layout(h);
  fc->dynamic_image.assign(fc->dynamic.size, 0);
  fc->free_list = FreeListPart{};
  fc->short_free_list = ShortFreeListPart{};
  fc->counters = FileCounters{};
  fc->tracking = ChangeTrackingArea{};
  fc->has_tracking = false;
  fc->tracking_file_offset = 0;
  return 0;
}

int check_dynamic_size(const IsamFileControl& fc) {
  return fc.header.dynamic_size > fc.dynamic.size ? kStatusBadFileControl : 0;
}

int load_dynamic_header(const uint8_t* block, size_t len, IsamFileControl* fc, bool keep_tracking) {
  const DynamicLayout& d = fc->dynamic;
  if (d.size == 0 || len > d.size || (len > 0 && block == nullptr)) return kStatusBadFileControl;
  std::vector<uint8_t> image(d.size, 0);
  if (len > 0) std::memcpy(image.data(), block, len);
  const uint8_t* p = image.data();
  const IsamHeader& h = fc->header;
  const size_t keys = fc->keys.size();

  FreeListPart free_list;
  FileCounters counters;
  std::vector<uint64_t> roots(keys, 0);
  std::vector<uint8_t> depths(keys, 0);
  uint32_t bound = 0;

  if (d.form == DynamicForm::kOld) {
    OldHeaderBlock b;
    decode_old_header_block(p, d.size, &b);
    if (b.slot_count > kOldMaxSlots) return kStatusBadFileControl;
    old_header_to_dynamic(b, &free_list, &counters);
    for (size_t i = 0; i < keys && i < kOldMaxKeys; ++i) {
      roots[i] = b.keys[i].root;
      depths[i] = b.keys[i].depth;
    }
    fc->old_header = b;
    fc->has_old_header = true;
    bound = kOldMaxSlots;
  } else {
    if (d.form == DynamicForm::kShort) {
      ShortFreeListPart s;
      decode_short_free_list_part(p, d.size, &s);
      if (s.slot_count > kFreeSlotsShort) return kStatusBadFileControl;
      // Counters first: the 280-byte part's 16-bit counts replace theirs.
      decode_file_counters(p + d.counters_offset, d.size - d.counters_offset, &counters);
      short_to_full_free_list(s, &free_list, &counters);
      fc->short_free_list = s;
      bound = kFreeSlotsShort;
    } else {
      decode_free_list_part(p, d.size, &free_list);
      if (free_list.slot_count > kFreeSlotsFull) return kStatusBadFileControl;
      decode_file_counters(p + d.counters_offset, d.size - d.counters_offset, &counters);
      bound = (h.file_flags & kFileMultiple) ? kFreeSlotsFull : free_list.slot_count;
    }
    for (size_t i = 0; i < keys; ++i) {
      // Root: u32 low part, and in tbyte files a fifth byte (bits 32-39).
      const uint8_t* r = p + d.roots_offset + i * d.root_width;
      roots[i] = get_u32(r);
      if (d.root_width == static_cast<uint32_t>(kRootWidthTbyte)) {
        roots[i] |= static_cast<uint64_t>(r[4]) << 32;
      }
      depths[i] = p[d.depths_offset + i];  // u8 tree depth per key
    }
  }

  // The change-tracking area is taken only when the read covered it whole;
  // it then lies at the end of the block, in both files.
  fc->has_tracking = false;
  fc->tracking_file_offset = 0;
  if (d.tracking_offset != 0 && h.dynamic_size >= d.tracking_offset + kChangeTrackingSize) {
    if (!keep_tracking) {
      decode_change_tracking(p + d.tracking_offset, d.size - d.tracking_offset, &fc->tracking);
    }
    fc->has_tracking = true;
    fc->tracking_file_offset =
        static_cast<uint64_t>(h.dynamic_offset) + h.dynamic_size - kChangeTrackingSize;
  } else {
    fc->tracking = ChangeTrackingArea{};
  }

  fc->free_list = free_list;
  fc->counters = counters;
  fc->roots = std::move(roots);
  fc->depths = std::move(depths);
  fc->free_slot_bound = bound;
  fc->dynamic_image = std::move(image);
  return 0;
}

std::vector<uint8_t> dynamic_header_bytes(const IsamFileControl& fc) {
  const DynamicLayout& d = fc.dynamic;
  std::vector<uint8_t> image = fc.dynamic_image;
  image.resize(d.size, 0);
  if (d.size == 0) return image;
  uint8_t* p = image.data();
  size_t length = std::min<size_t>(fc.header.dynamic_size, d.size);

  if (d.form == DynamicForm::kOld) {
    OldHeaderBlock b = fc.old_header;
    dynamic_to_old_header(fc.free_list, fc.counters, fc.roots, fc.depths, &b);
    encode_old_header_block(b, p, d.size);
    length = kOldHeaderBlockSize;
  } else {
    if (d.form == DynamicForm::kShort) {
      ShortFreeListPart s = fc.short_free_list;
      full_to_short_free_list(fc.free_list, fc.counters, &s);
      encode_short_free_list_part(s, p, d.size);
    } else {
      encode_free_list_part(fc.free_list, p, d.size);
    }
    const size_t keys = std::min(fc.roots.size(), fc.depths.size());
    for (size_t i = 0; i < keys && i < fc.header.key_count; ++i) {
      uint8_t* r = p + d.roots_offset + i * d.root_width;
      put_u32(r, static_cast<uint32_t>(fc.roots[i]));
      if (d.root_width == static_cast<uint32_t>(kRootWidthTbyte)) {
        r[4] = static_cast<uint8_t>(fc.roots[i] >> 32);
      }
      p[d.depths_offset + i] = fc.depths[i];
    }
    encode_file_counters(fc.counters, p + d.counters_offset, d.size - d.counters_offset);
    // The change-tracking area is never written with the dynamic header.
    if (d.tracking_offset != 0) length = std::min<size_t>(length, d.tracking_offset);
  }
  image.resize(length);
  return image;
}

bool has_file_text(const IsamFileControl& fc) {
  return fc.header.revision >= 6 &&
         (fc.header.file_flags2 & (kFlags2PrefixedText | kFlags2ExtensionText)) != 0;
}

bool file_text_prefixed(const IsamFileControl& fc) {
  return has_file_text(fc) && (fc.header.file_flags2 & kFlags2PrefixedText) != 0;
}

uint64_t file_text_location(const IsamFileControl& fc) {
  if (!has_file_text(fc)) return 0;
  if (file_text_prefixed(fc) && is_patched(fc.header)) {
    return static_cast<uint64_t>(fc.header.dynamic_offset) + fc.header.dynamic_size;
  }
  return fc.has_extension ? fc.extension.text_offset : 0;
}

int resolve_file_text(IsamFileControl* fc, const uint8_t* prefix, size_t prefix_len,
                      uint64_t data_file_size, const char** detail) {
  if (detail) *detail = nullptr;
  fc->text_allocation = 0;
  fc->text_allocation_word = 0;
  fc->text_length = 0;
  fc->text_location = 0;
  if (!has_file_text(*fc)) return 0;
  const uint64_t location = file_text_location(*fc);
  uint64_t text_start = location;
  uint64_t allocation = 0;
  uint32_t length = 0;
  uint32_t word = 0;
  if (file_text_prefixed(*fc)) {
    FileTextPrefix t;
    if (decode_file_text_prefix(prefix, prefix_len, &t)) {
      word = t.allocation_word;
      allocation = text_allocation_bytes(t.allocation_word);
      length = t.length;
    }
    text_start += kFileTextPrefixSize;
  } else {
    allocation = static_cast<uint64_t>(fc->extension.text_alloc_kb) * 1024;
    word = kTextAllocInKb + fc->extension.text_alloc_kb;
    length = fc->counters.text_length;
  }
  if (fc->header.file_flags2 & kFlags2ExtensionText) {
    const uint64_t header_bytes = static_cast<uint64_t>(fc->header.data_header_units) * 256;
    const uint64_t ext_allocation = static_cast<uint64_t>(fc->extension.text_alloc_kb) * 1024;
    if (header_bytes + ext_allocation != fc->data_start) {
      if (detail) *detail = "File text allocation wrong in header";
      return kStatusBadFileControl;
    }
  }
  // The length in use is read from the data file later: it must lie within
  // its allocation and within the file.
  if (length > allocation) return kStatusBadFileControl;
  if (length > 0 && (text_start > data_file_size || length > data_file_size - text_start)) {
    return kStatusBadFileControl;
  }
  fc->text_allocation = allocation;
  fc->text_allocation_word = word;
  fc->text_length = length;
  fc->text_location = location;
  return 0;
}

std::string is2_marker_name(const std::string& index_name) {
  std::string name = index_name;
  const size_t dot = name.rfind('.');
  if (dot != std::string::npos) name[dot] = '_';
  return name + ".is2";
}

bool is_work_file(const uint8_t* page, size_t len) {
  return page != nullptr && len >= 2 && get_u16(page) == kMagicWorkFile;
}

bool work_file_target(const uint8_t* page, size_t len, std::string* name) {
  if (!is_work_file(page, len) || len <= kWorkFileNameOffset) return false;
  const uint8_t* begin = page + kWorkFileNameOffset;
  const uint8_t* end = page + len;
  const uint8_t* nul = std::find(begin, end, uint8_t{0});
  if (nul == begin) return false;
  name->assign(reinterpret_cast<const char*>(begin), static_cast<size_t>(nul - begin));
  return true;
}

std::string last_name_component(const std::string& name) {
  size_t cut = name.find_last_of("\\/");
  if (cut == std::string::npos) cut = name.rfind(':');
  return cut == std::string::npos ? name : name.substr(cut + 1);
}

}  // namespace ismgr
