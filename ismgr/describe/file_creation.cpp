#include "ismgr/describe/file_creation.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

#include "ismgr/describe/create_options.h"
#include "ismgr/fileio/file_io.h"
#include "ismgr/fileio/names.h"
#include "ismgr/isam/isam_names.h"
#include "ismgr/isam/key_builder.h"
#include "ismgr/platform/platform.h"
#include "ismgr/runtime/context.h"
#include "ismgr/runtime/keyword.h"
#include "ismgr/runtime/status.h"

namespace ismgr {

namespace {

constexpr int kStatusNoDiskSpace = 16;
constexpr int kStatusKeySpansRecord = 39;
constexpr int kStatusUndefinedKeys = 41;
constexpr int kStatusInvalidRecordLength = 35;
constexpr int kStatusNumericOverlay = 68;

// Open flags of both new files: read and write, create, truncate, not
// inherited, no text translation.
constexpr int kCreateFlags = kOpenReadWrite | kOpenCreate | kOpenTruncate | 0x80 | 0x8000;

// Largest index file end the preallocation may reach.
constexpr uint64_t kMaxIndexEnd = 0x7FFFFF00ull;
constexpr uint64_t kMaxIndexEndTbyte = 0xFFFFFFFFFF00ull;

// The type bits that make a field numeric: decimal, integer, unsigned.
constexpr uint8_t kNumericTypes = kSegDecimal | kSegInteger | kSegUnsigned;

uint32_t round_up(uint32_t v, uint32_t unit) {
  return (v + unit - 1) / unit * unit;
}
uint32_t pad4(uint32_t v) {
  return round_up(v, 4);
}

int type_bit_count(uint8_t type) {
  int n = 0;
  for (uint8_t t = type & kSegTypeMask; t != 0; t &= static_cast<uint8_t>(t - 1)) ++n;
  return n;
}

void detail(const char* text) {
  report_detail(nullptr, kDetailMessage, text, 0);
}

template <typename... Args>
void detail_format(const char* format, Args... args) {
  char text[160];
  std::snprintf(text, sizeof text, format, args...);
  report_detail(nullptr, kDetailMessage, text, 0);
}

void detail_key_number(int key) {
  const std::string text = std::to_string(key);
  report_detail(nullptr, kDetailKeyNumber, text.c_str(), key);
}

bool is_autokey(const KeyDescriptor& k) {
  return (k.autokey_flags & kAutoAny) != 0;
}

// Converts the null value of a non-replicating null key at `offset` of the
// null area into the key's index form, segment after segment over the value
// bytes. The value was checked by the parser not to cut a numeric segment.
void convert_null_value(const KeyDescriptor& k, std::vector<uint8_t>& area, size_t offset) {
  if (offset >= area.size()) raise_status(kStatusInvalidNull);
  const size_t entry = area[offset];
  if (entry < 1 || offset + entry > area.size()) raise_status(kStatusInvalidNull);
  const size_t length = entry - 1;
  uint8_t* value = area.data() + offset + 1;
  std::vector<uint8_t> out(value, value + length);
  size_t pos = 0;
  for (int s = 0; s < segment_count(k) && pos < length; ++s) {
    const size_t n = std::min<size_t>(k.seg_length[s], length - pos);
    encode_key_segment(k.seg_type[s], value + pos, n, n, out.data() + pos);
    pos += n;
  }
  std::copy(out.begin(), out.end(), value);
}

// Stores an address in `width` little-endian bytes at `p`.
void put_address(uint8_t* p, uint64_t value, uint32_t width) {
  for (uint32_t i = 0; i < width; ++i) p[i] = static_cast<uint8_t>(value >> (8 * i));
}

}  // namespace

// ---------------------------------------------------------------------------
// Rendering.
// ---------------------------------------------------------------------------
std::vector<uint8_t> HeaderImage::render(bool with_text) const {
  std::vector<uint8_t> out(image_size, 0);
  uint8_t* p = out.data();
  const size_t size = out.size();
  const auto need = [&](size_t offset, size_t len) {
    if (offset > size || len > size - offset) raise_status(kStatusBadFileControl);
  };
  need(0, kIsamHeaderSize);
  encode_isam_header(header, p, size);
  size_t at = kIsamHeaderSize;
  for (const KeyDescriptor& k : keys) {
    need(at, kKeyDescriptorSize);
    encode_key_descriptor(k, p + at, size - at);
    at += kKeyDescriptorSize;
  }
  for (const PortIntSpec& s : port_ints) {
    need(at, kPortIntSpecSize);
    encode_port_int_spec(s, p + at, size - at);
    at += kPortIntSpecSize;
  }
  need(at, pad4(static_cast<uint32_t>(null_area.size())));
  std::copy(null_area.begin(), null_area.end(), p + at);
  at += pad4(static_cast<uint32_t>(null_area.size()));
  if (has_extension) {
    need(at, kR6ExtensionSize);
    encode_r6_extension(extension, p + at, size - at);
  }

  const size_t dyn = header.dynamic_offset;
  need(dyn, header.dynamic_size);
  if (has_counters) {
    encode_free_list_part(free_list, p + dyn, size - dyn);
  } else {
    ShortFreeListPart s;
    s.slot_count = static_cast<uint8_t>(std::min<size_t>(free_list.slot_count, kFreeSlotsShort));
    s.vector_count = free_list.vector_count;
    for (size_t i = 0; i < kFreeSlotsShort; ++i) {
      s.slots[i].address_low = free_list.slots[i].address_low;
      s.slots[i].address_high = static_cast<uint8_t>(free_list.slots[i].address_high);
      s.slots[i].size = free_list.slots[i].size;
    }
    encode_short_free_list_part(s, p + dyn, size - dyn);
  }
  for (size_t i = 0; i < roots.size(); ++i) {
    need(dyn + roots_offset + i * root_width, root_width);
    put_address(p + dyn + roots_offset + i * root_width, roots[i], root_width);
  }
  need(dyn + depths_offset, depths.size());
  std::copy(depths.begin(), depths.end(), p + dyn + depths_offset);
  if (has_counters) {
    need(dyn + counters_offset, kFileCountersSize);
    encode_file_counters(counters, p + dyn + counters_offset, size - dyn - counters_offset);
  }
  if (has_tracking) {
    need(dyn + tracking_offset, kChangeTrackingSize);
    encode_change_tracking(tracking, p + dyn + tracking_offset, size - dyn - tracking_offset);
  }
  if (with_text && text_in_image) {
    const size_t t = dyn + header.dynamic_size;
    need(t, kFileTextPrefixSize + text.size());
    encode_file_text_prefix(text_prefix, p + t, size - t);
    std::copy(text.begin(), text.end(), p + t + kFileTextPrefixSize);
  }
  return out;
}

// ---------------------------------------------------------------------------
// Free-slot table.
// ---------------------------------------------------------------------------
std::vector<FreeSlot> initial_free_slots(const IsamHeader& h) {
  std::vector<FreeSlot> slots;
  if (h.file_flags & kFileMultiple) return slots;
  const bool tbyte = (h.file_flags & kFileTbyte) != 0;
  const bool r6 = h.revision >= 6;
  FreeSlot none;
  none.address_low = 0xFFFFFFFFu;
  none.address_high = tbyte ? (r6 ? 0xFFFF : 0xFF) : 0;
  const auto add = [&](uint32_t size) {
    none.size = static_cast<uint16_t>(size);
    slots.push_back(none);
  };
  uint32_t b = static_cast<uint32_t>(h.record_overhead) + h.record_size;
  if (!(h.file_flags & kFileSizedHeaders)) {
    add(b);
    return slots;
  }
  if (h.file_flags & kFileCompressed) ++b;
  const uint32_t vector_part = (h.file_flags & kFileStaticVectoring) ? 9 : 3;

  if (!r6) {
    // Revision 4: 32 sizes spread evenly from the record overhead up to b.
    const uint32_t c = h.record_overhead;
    const uint32_t minimum = vector_part + (tbyte ? 5 : 4);
    const uint32_t span = b > c ? b - c : 0;
    const uint32_t step = span / kFreeSlotsShort;
    uint32_t r = span % kFreeSlotsShort;
    for (uint32_t d = c + step; d < b && slots.size() < kFreeSlotsShort; d += step) {
      if (r > 0) {
        ++d;
        --r;
      }
      if (d < minimum) d = minimum;
      add(d);
    }
    if (!slots.empty() && slots.back().size < b) {
      if (slots.size() == kFreeSlotsShort) slots.pop_back();
      add(b);
    } else if (slots.empty()) {
      add(b);
    }
    return slots;
  }

  // Revision 6: up to 132 sizes in steps of a power of two.
  uint32_t m = vector_part + (tbyte ? 6 : 4);
  m = std::max<uint32_t>(m, static_cast<uint32_t>(h.record_overhead) + 1);
  const uint32_t q = b / kFreeSlotsFull;
  uint32_t g = 1;
  int64_t e = 0;
  if (q >= 2) {
    uint32_t pow = 1;
    while (pow < m) pow <<= 1;
    m = pow;
    while (g * 2 <= q) g <<= 1;
    e = static_cast<int64_t>(b) - static_cast<int64_t>(kFreeSlotsFull) * g;
  } else {
    m = std::min(m, b);
    e = q == 1 ? static_cast<int64_t>(b) - static_cast<int64_t>(kFreeSlotsFull) : 0;
  }
  for (uint32_t l = g; l <= b && slots.size() < kFreeSlotsFull;) {
    uint32_t size;
    if (l < m) {
      size = m;
      if (e > 0) e += static_cast<int64_t>(g) - m;
    } else {
      size = l;
      if (e > 0) {
        size += g;
        e -= g;
      }
    }
    add(size);
    l = size + g;
  }
  if (slots.empty()) {
    add(b);
  } else if (slots.back().size < b) {
    slots.pop_back();
    add(b);
  }
  return slots;
}

// ---------------------------------------------------------------------------
// Key overlap.
// ---------------------------------------------------------------------------
int check_key_overlap(const std::vector<KeyDescriptor>& keys, const FileDescription& description,
                      std::vector<uint8_t>& byte_map, int* bad_key) {
  if (byte_map.size() < description.record_size) byte_map.resize(description.record_size, 0);
  for (size_t i = 0; i < keys.size(); ++i) {
    const KeyDescriptor& k = keys[i];
    if (k.autokey_flags & kAutoChangeTracking) continue;
    const bool autokey = is_autokey(k);
    const auto fail = [&] {
      if (bad_key != nullptr) *bad_key = static_cast<int>(i);
      return -1;
    };
    for (int s = 0; s < segment_count(k); ++s) {
      const size_t start = k.seg_start[s];
      const size_t length = k.seg_length[s];
      const uint8_t r = k.seg_type[s] & kSegTypeMask;
      if (start + length > byte_map.size()) return fail();
      const size_t last = start + length - 1;
      // Set once the segment's first byte lies on the first byte of an
      // earlier numeric field (or is numeric itself on an earlier field):
      // from then on the earlier field must run to this segment's last byte.
      bool overlay = false;
      for (size_t b = start; b <= last; ++b) {
        const uint8_t m = byte_map[b];
        if (m != 0 && ((m | r) & kNumericTypes)) {
          if (b == start) {
            if (!(m & kMapFieldStart)) return fail();
            overlay = true;
          } else if (!overlay) {
            // An earlier numeric field begins inside this segment.
            return fail();
          }
          if (length > 1) {
            if (b != last && (m & kMapFieldEnd)) return fail();
            if (b == last && !(m & kMapFieldEnd)) return fail();
          }
          if ((m & kSegTypeMask) != r) return fail();
          if (autokey || (m & kMapAutokey)) return fail();
        } else if (overlay) {
          // The earlier numeric field ended before this segment does.
          return fail();
        }
        uint8_t mark = r;
        if (b == start) {
          mark |= kMapFieldStart;
          if (autokey) mark |= kMapAutokey;
        } else if (b == last) {
          mark |= kMapFieldEnd;
        }
        byte_map[b] = mark;
      }
      // A one-byte segment on the first byte of a longer numeric field.
      if (overlay && length == 1 && last + 1 < byte_map.size()) {
        const uint8_t next = byte_map[last + 1];
        if (next != 0 && !(next & kMapFieldStart) && (next & kNumericTypes)) return fail();
      }
    }
  }
  return 0;
}

// ---------------------------------------------------------------------------
// Header image.
// ---------------------------------------------------------------------------
HeaderImage build_header(FileDescription& d, const std::string& name, int revision) {
  if (revision != 4 && revision != 6) raise_status(kStatusCannotCreate);
  const bool r6 = revision == 6;
  if (d.keys.size() != d.key_count || d.null_area_size > kNullAreaSize) {
    raise_status(kStatusBadFileControl);
  }
  if (d.record_size < 4 || d.record_size > 65534) raise_status(kStatusInvalidRecordLength);
  if (d.keys.empty()) raise_status(kStatusUndefinedKeys);

  HeaderImage img;
  img.unit = r6 ? kHeaderUnitRev6 : kHeaderUnitRev4;

  // 1-2. Record-byte map and the creation option string.
  std::vector<uint8_t> map(d.record_size, 0);
  std::vector<PortIntEntry> port_ints = d.port_ints;
  std::string text = d.has_text ? d.text : std::string();
  if (name.find(',') != std::string::npos) {
    std::string copy = name;
    CreateText option_text;
    apply_create_options(&copy, d, &port_ints, &map, &option_text, revision);
    if (option_text.given) text = option_text.text;
  }
  if (port_ints.size() > 255) raise_status(kStatusInvalidOption);

  // 3. Flags fixed by the revision; the change-tracking key.
  uint8_t& ff = d.file_flags;
  uint32_t& ff2 = d.file_flags2;
  bool tracking = false;
  img.root_width = (ff & kFileTbyte) ? kRootWidthTbyte : kRootWidth;
  if (r6) {
    ff |= kFileStaticRfa | kFileStaticVectoring;
    if (!((ff & kFileSizedHeaders) && !(ff & kFileMultiple))) {
      ff &= static_cast<uint8_t>(~kFileStaticVectoring);
    }
    if (ff2 & kFlags2ChangeTracking) {
      if (d.keys.size() >= 255) {
        detail_format("Too many keys specified with TRACK_CHANGES: %d", 254);
        raise_status(kStatusCannotCreate);
      }
      ff |= kFileStaticRfa | kFileStaticVectoring | kFileTbyte;
      tracking = true;
    }
    if (ff & kFileTbyte) {
      img.root_width = kRootWidthTbyte;
      ff2 |= kFlags2Address48;
    }
  }
  const uint32_t k = static_cast<uint32_t>(d.keys.size()) + (tracking ? 1 : 0);
  const uint32_t described_null = d.null_area_size;
  const uint32_t n = described_null + (tracking ? 2 : 0);
  const uint32_t p = static_cast<uint32_t>(port_ints.size());

  // 4-6. Layout: the header page and the dynamic block, each rounded up to
  // the unit. The size is taken from the parts laid out.
  IsamHeader& h = img.header;
  uint32_t header_size =
      static_cast<uint32_t>(kIsamHeaderSize + kKeyDescriptorSize * k + kPortIntSpecSize * p) +
      pad4(n) + (r6 ? static_cast<uint32_t>(kR6ExtensionSize) : 0);
  const uint32_t dynamic_offset = round_up(header_size, img.unit);
  const uint32_t free_list_size =
      static_cast<uint32_t>(r6 ? kFreeListFullSize : kFreeListShortSize);
  img.roots_offset = free_list_size;
  img.depths_offset = img.roots_offset + pad4(k * img.root_width);
  img.counters_offset = img.depths_offset + pad4(k);
  uint32_t dynamic_size = img.counters_offset;
  if (r6) {
    img.has_counters = true;
    dynamic_size += static_cast<uint32_t>(kFileCountersSize);
    if (tracking) {
      img.has_tracking = true;
      img.tracking_offset = dynamic_size;
      dynamic_size += static_cast<uint32_t>(kChangeTrackingSize);
    }
  }
  img.image_size = dynamic_offset + round_up(dynamic_size, img.unit);
  if (img.image_size / 256 > 255 || header_size > 0xFFFF) raise_status(kStatusCannotCreate);
  h.header_size = static_cast<uint16_t>(header_size);
  h.dynamic_offset = dynamic_offset;
  h.dynamic_size = static_cast<uint16_t>(dynamic_size);
  h.data_header_units = static_cast<uint8_t>(img.image_size / 256);
  img.data_header_bytes = img.image_size;

  // 7. Revision 6: flags2, preallocation, file text, change tracking.
  if (r6) {
    img.has_extension = true;
    R6Extension& ext = img.extension;
    if (ff2 & kFlags2Prealloc) ext.allocation = d.allocation;
    if (text.size() > kMaxFileText) {
      detail_format("Specified file text too big: %d", static_cast<int>(text.size()));
      raise_status(kStatusInvalidOption);
    }
    const uint32_t length = static_cast<uint32_t>(text.size());
    uint32_t allocation;
    bool in_kb = true;
    if (d.text_alloc_kb != 0) {
      allocation = d.text_alloc_kb * 1024u;
      if (length > allocation) {
        detail("Specified file text exceeds allocation size");
        raise_status(kStatusInvalidOption);
      }
    } else if (length >= 1024) {
      allocation = round_up(length, 1024);
    } else {
      allocation = std::max<uint32_t>(length, 32);
      in_kb = false;
    }
    img.text = text;
    img.text_allocation = allocation;
    if (round_up(dynamic_size + allocation + 8, img.unit) == round_up(dynamic_size, img.unit)) {
      img.text_in_image = true;
      img.text_prefix.allocation_word =
          in_kb ? (allocation / 1024) | kTextAllocInKb : allocation | kTextAllocByteMark;
      img.text_prefix.length = length;
      ff2 |= kFlags2PrefixedText;
      ext.text_offset = dynamic_offset + dynamic_size;
    } else {
      ext.text_alloc_kb = static_cast<uint8_t>((allocation + 1023) / 1024);
      ff2 |= kFlags2ExtensionText;
      ext.text_offset = img.data_header_bytes;
      img.data_header_bytes += round_up(allocation, 1024);
      img.counters.text_length = length;
    }
    if (tracking && d.change_tracking_start != -1) {
      const int32_t s = d.change_tracking_start;
      const int32_t slot = s % 255;
      img.counters.snapshot_count = static_cast<uint8_t>(slot + 1);
      img.counters.tracking_slot = static_cast<uint8_t>(slot);
      img.counters.snapshot_base = static_cast<uint32_t>(s - slot);
      img.counters.tracking_mark = 1;
      img.tracking.times[img.counters.tracking_slot] =
          static_cast<uint32_t>(platform::now_seconds());
    }
    ext.data_start = img.data_header_bytes;
    h.file_flags2 = ff2;
  }

  // 8-11. Sizes, dates, page size, flags.
  h.record_size = d.record_size;
  h.key_count = static_cast<uint8_t>(k);
  uint32_t overhead = 1;
  h.created = static_cast<uint32_t>(platform::now_seconds());
  if (d.page_units >= 2 && d.page_units <= 128) {
    h.page_units = d.page_units;
  } else if (r6) {
    h.page_units = 16;
  } else {
    h.page_units = 4;
    for (const KeyDescription& key : d.keys) {
      if (key.key_size >= 60) h.page_units = 8;
    }
  }
  h.file_flags = ff;
  h.null_area_size = static_cast<uint16_t>(n);
  h.port_int_count = static_cast<uint8_t>(p);
  for (const PortIntEntry& e : port_ints) img.port_ints.push_back({e.kind, e.length, e.position});
  if ((ff & kFileTbyte) && d.record_size < (is_address48(h) ? 6 : 5)) {
    raise_status(kStatusInvalidRecordLength);
  }

  // 12. Record overhead of the data record header.
  if (ff & kFileSizedHeaders) {
    overhead += (ff & kFileStaticVectoring) ? 8 : 2;
    if (ff & kFileVariable) overhead += (ff2 & kFlags2LongRecordLength) ? 4 : 2;
  } else if (ff & kFileStaticVectoring) {
    overhead += 6;
  }
  if (ff2 & kFlags2StoredGrfa) overhead += 4;

  // 13. Null values.
  img.null_area.assign(n, 0);
  std::copy(d.null_area.begin(), d.null_area.begin() + described_null, img.null_area.begin());

  // 14. Key descriptors, roots and depths.
  const uint32_t qualifier = (ff & kFileTbyte) ? 4 : 3;
  const uint64_t page = static_cast<uint64_t>(h.page_units) * 256;
  int highest_converted = -1;
  for (uint32_t i = 0; i < k; ++i) {
    KeyDescriptor kd;
    const uint64_t root = static_cast<uint64_t>(h.data_header_units) * 256 + i * page;
    img.roots.push_back((ff & kFileTbyte) ? root / 256 : root);
    img.depths.push_back(1);
    if (tracking && i == k - 1) {
      kd.key_flags = kKeyFifo | kKeyDuplicates | kKeyModifiable | kKeyNullReplicating;
      kd.autokey_flags = kAutoChangeTracking;
      kd.density = 100;
      kd.seg_type[0] = kSegAlpha | kSegAscending;
      kd.seg_start[0] = 0;
      kd.seg_length[0] = 1;
      std::memcpy(kd.key_name.data(), kChangeTrackingKeyName, sizeof kChangeTrackingKeyName - 1);
      kd.qualifier_offset = static_cast<uint16_t>(overhead);
      kd.key_size = 5;
      overhead += 4 + 12;
      kd.null_offset = static_cast<uint16_t>(described_null);
      img.null_area[described_null] = 2;
      img.null_area[described_null + 1] = 0;
      img.keys.push_back(kd);
      continue;
    }
    const KeyDescription& key = d.keys[i];
    const int key_number = static_cast<int>(i);
    if (key.key_size == 0) raise_status(kStatusUndefinedKeys);
    kd.key_flags = key.key_flags;
    kd.autokey_flags = key.autokey_flags;
    if (i == 0 && (key.key_flags & kKeyModifiable)) {
      detail_format("Key %d cannot be modified", 0);
      raise_status(kStatusIllegalKey);
    }
    if (i == 0 && (key.key_flags & kKeyNullRules)) {
      detail("Primary key does not allow null keys");
      raise_status(kStatusIllegalKey);
    }
    if (key.density >= 50 && key.density <= 100) {
      kd.density = key.density;
    } else if (d.density >= 50 && d.density <= 100) {
      kd.density = static_cast<uint8_t>(d.density);
    }
    const bool autokey = (key.autokey_flags & kAutoAny) != 0;
    for (size_t s = 0; s < kMaxSegments && key.seg_length[s] != 0; ++s) {
      uint8_t type = key.seg_type[s];
      if (autokey && !r6) {
        detail_format("Autokeys not supported by REV %d", revision);
        detail_key_number(key_number);
        raise_status(kStatusIllegalKey);
      }
      if (type_bit_count(type) > 1) {
        detail("Invalid segment type specified");
        detail_key_number(key_number);
        raise_status(kStatusIllegalKey);
      }
      if (s == 0 && (key.autokey_flags & (kAutoTimestamp | kAutoSequence))) type |= kSegInteger;
      if (!autokey && !(type & kSegTypeMask)) type |= kSegAlpha;
      if (static_cast<uint32_t>(key.seg_start[s]) + key.seg_length[s] > d.record_size) {
        report_detail(nullptr, kDetailMessageNumber, "Key specified:", key_number);
        raise_status(kStatusKeySpansRecord);
      }
      kd.seg_type[s] = type;
      kd.seg_start[s] = key.seg_start[s];
      kd.seg_length[s] = key.seg_length[s];
    }
    if (key.autokey_flags & kAutoSequence) {
      img.extension.seed = static_cast<uint64_t>(d.seed);
      img.counters.autoseed = d.seed != 0 ? d.seed : 1;
    }
    std::memcpy(kd.key_name.data(), key.key_name.data(), kKeyNameSize);
    kd.qualifier_offset = static_cast<uint16_t>(overhead);
    uint32_t key_size = key.key_size;
    if (key.key_flags & kKeyDuplicates) {
      overhead += qualifier;
      key_size += qualifier;
    }
    if (key_size > 254) {
      detail_format("Invalid key length, Key %d Length %d", key_number, static_cast<int>(key_size));
      raise_status(kStatusIllegalKey);
    }
    if (h.page_units == 2 && key_size > 100) {
      detail("Key size invalid for 512 byte page");
      raise_status(kStatusInvalidOption);
    }
    kd.key_size = static_cast<uint16_t>(key_size);
    if (key.key_flags & (kKeyNullReplicating | kKeyNullNonReplicating)) {
      kd.null_offset = key.null_offset;
      if ((key.key_flags & kKeyNullNonReplicating) &&
          key.null_offset<described_null&& static_cast<int>(key.null_offset)> highest_converted) {
        std::vector<uint8_t> described(img.null_area.begin(),
                                       img.null_area.begin() + described_null);
        convert_null_value(kd, described, key.null_offset);
        std::copy(described.begin(), described.end(), img.null_area.begin());
        highest_converted = key.null_offset;
      }
    }
    if ((kd.key_flags & kKeyNullShort) && !(ff & kFileVariable)) {
      kd.key_flags &= static_cast<uint8_t>(~kKeyNullShort);
    }
    img.keys.push_back(kd);
  }
  if (overhead > 0xFFFF) raise_status(kStatusInvalidRecordLength);
  h.record_overhead = static_cast<uint16_t>(overhead);

  // 15. Keys against one another and the portable integers.
  int bad_key = 0;
  if (check_key_overlap(img.keys, d, map, &bad_key) != 0) {
    detail_format("Key %d specified", bad_key);
    raise_status(kStatusNumericOverlay);
  }

  // 16. Preallocation counted in records must be representable.
  if (r6 && (ff2 & kFlags2AllocInRecords) &&
      preallocation_blocks(h, img.data_header_bytes, d.allocation) < 0) {
    raise_status(kStatusNoDiskSpace);
  }

  // 17-20.
  h.revision = static_cast<uint8_t>(revision);
  const std::vector<FreeSlot> slots = initial_free_slots(h);
  img.free_list.slot_count = static_cast<uint8_t>(slots.size());
  std::copy(slots.begin(), slots.end(), img.free_list.slots.begin());
  const uint32_t slot_size = overhead + d.record_size;
  if (slot_size >= 65536) {
    report_detail(nullptr, kDetailRecordTooLong, nullptr, slot_size);
    raise_status(kStatusInvalidRecordLength);
  }
  for (const KeyDescriptor& kd : img.keys) h.max_key_size = std::max(h.max_key_size, kd.key_size);

  // 21. Version of the layer that created the file.
  if (r6) {
    char version[16];
    std::snprintf(version, sizeof version, "%02d%02d%02d%c", kLayerVersionMajor, kLayerVersionMinor,
                  kLayerVersionBuild, kLayerVersionLetter);
    std::memcpy(h.creation_version.data(), version, 7);
    h.creation_version[7] = 0;
  } else {
    std::memcpy(h.creation_version.data(), kLayerVersionText, sizeof kLayerVersionText - 1);
  }
  h.magic = kMagicIndex;
  return img;
}

// ---------------------------------------------------------------------------
// Index block estimate of a preallocation.
//
// Per key: the entries a leaf block holds are the usable bytes (the block
// less its 12-byte header, 14 with 48-bit addressing, filled to p percent:
// the key's density less 5, or 90 for densities of 56 and below) divided by
// an entry (the index-entry address and the key); every upper level holds
// p percent of the block (less 8 bytes, 10 above 1024-byte blocks) per entry
// and adds at least one block until a single block remains. Each key is
// estimated on its own.
// ---------------------------------------------------------------------------
uint64_t estimate_index_blocks(const IsamHeader& h, const std::vector<KeyDescriptor>& keys,
                               uint64_t records) {
  if (records == 0) return 0;
  const uint64_t block = page_bytes(h);
  const uint64_t header = is_address48(h) ? 14 : 12;
  if (block <= header + 10) return 0;
  const uint64_t entry_address = static_cast<uint64_t>(index_entry_width(h));
  uint64_t total = 0;
  for (const KeyDescriptor& k : keys) {
    const uint64_t percent = k.density > 56 ? k.density - 5u : 90u;
    const uint64_t entry =
        entry_address + k.key_size + ((k.autokey_flags & kAutoChangeTracking) ? 1 : 0);
    const uint64_t per_leaf = std::max<uint64_t>(1, (block - header) * percent / 100 / entry);
    const uint64_t upper_bytes = block - (block > 1024 ? 10 : 8);
    const uint64_t per_upper = std::max<uint64_t>(2, percent * upper_bytes / 100 / entry);
    uint64_t level = (records + per_leaf - 1) / per_leaf;
    uint64_t blocks = level;
    while (level > 1) {
      level = (level + per_upper - 1) / per_upper;
      blocks += level;
    }
    total += blocks;
    if (total > (uint64_t{1} << 48)) return total;  // far beyond any limit
  }
  return total;
}

// ---------------------------------------------------------------------------
// Names.
// ---------------------------------------------------------------------------
int creation_file_names(const std::string& name, std::string* index_name, std::string* data_name) {
  const std::string plain = name.substr(0, name.find(','));
  // A name without a file part (empty, or a directory) names no file.
  if (last_component_start(plain) >= plain.find_last_not_of(" \t") + 1) return kStatusBadFileSpec;
  const ismgr_config* config = process_config();
  NameRequest request;
  request.default_name =
      config != nullptr && config->default_ext_isam != nullptr ? config->default_ext_isam : ".ISM";
  request.type = kNameDefault;
  request.search = false;  // a new file: the first element of a search list
  request.max_length = kMaxIsamName - 1;
  std::string expanded;
  bool blank = false;
  const int status = expand_file_name(plain, request, &expanded, &blank);
  if (status != 0) return status;
  if (blank) return kStatusBadFileSpec;
  if (!last_component_has_dot(expanded)) return kStatusBadFileSpec;
  *index_name = expanded;
  *data_name = data_file_name(expanded);
  return 0;
}

// ---------------------------------------------------------------------------
// Creation.
// ---------------------------------------------------------------------------
namespace {

// The two new files: closed, and deleted unless kept, when it goes away.
class NewFiles {
 public:
  NewFiles(const std::string& index_name, const std::string& data_name)
      : index_name_(index_name), data_name_(data_name) {}
  ~NewFiles() {
    close();
    if (!keep_) {
      if (data_created_) file_delete(data_name_.c_str());
      if (index_created_) file_delete(index_name_.c_str());
    }
  }
  NewFiles(const NewFiles&) = delete;
  NewFiles& operator=(const NewFiles&) = delete;

  void create_data() {
    data_ = file_open(data_name_.c_str(), kCreateFlags, kShareDenyNone, 0666);
    if (data_ == kInvalidFileHandle) raise_status(kStatusCannotCreate);
    data_created_ = true;
  }
  void create_index() {
    index_ = file_open(index_name_.c_str(), kCreateFlags, kShareDenyNone, 0666);
    if (index_ == kInvalidFileHandle) raise_status(kStatusCannotCreate);
    index_created_ = true;
  }
  // Closes both; false when a close failed.
  bool close() {
    bool ok = true;
    if (data_ != kInvalidFileHandle && file_close(data_) != 0) ok = false;
    if (index_ != kInvalidFileHandle && file_close(index_) != 0) ok = false;
    data_ = index_ = kInvalidFileHandle;
    return ok;
  }
  void keep() { keep_ = true; }
  FileHandle data() const { return data_; }
  FileHandle index() const { return index_; }

 private:
  std::string index_name_;
  std::string data_name_;
  FileHandle data_ = kInvalidFileHandle;
  FileHandle index_ = kInvalidFileHandle;
  bool data_created_ = false;
  bool index_created_ = false;
  bool keep_ = false;
};

// Raises the status of a failed write: 16 for a full disk or a file too
// large, 30 otherwise.
[[noreturn]] void write_failed() {
  raise_status((errno == ENOSPC || errno == EFBIG) ? kStatusNoDiskSpace : kStatusCannotCreate);
}

void write_all(FileHandle h, const uint8_t* data, size_t length) {
  while (length > 0) {
    const uint32_t piece = static_cast<uint32_t>(std::min<size_t>(length, 1u << 20));
    errno = 0;
    const int64_t done = file_write(h, data, piece);
    if (done != piece) write_failed();
    data += piece;
    length -= piece;
  }
}

// Sets the end of the file to `size` bytes.
void set_size(FileHandle h, uint64_t size) {
  errno = 0;
  if (file_seek_plain(h, static_cast<int64_t>(size), platform::kSeekBegin) < 0 ||
      !platform::set_end_of_file(h)) {
    map_os_error(-1);
    write_failed();
  }
}

ismgr_control* control_of(const FileDescription& d) {
  if (d.control != nullptr) return static_cast<ismgr_control*>(d.control);
  return current_context();
}

void store_status(ismgr_control* ctl, int code) {
  ismgr_status* status = ctl != nullptr && ctl->status != nullptr ? ctl->status : default_status();
  status->code = code;
}

void write_files(FileDescription& d, HeaderImage& img, const std::string& index_name,
                 const std::string& data_name, bool replace) {
  platform::FileStatus st;
  if (!replace && (platform::file_status(index_name.c_str(), &st) ||
                   platform::file_status(data_name.c_str(), &st))) {
    raise_status(kStatusExistingFile);
  }
  NewFiles files(index_name, data_name);
  files.create_data();
  files.create_index();
  IsamHeader& h = img.header;

  if (h.file_flags & kFileTbyte) {
    if (large_file_probe(files.index(), index_name.c_str()) == 0) {
      detail("Terabyte files not supported on this platform");
      raise_status(kStatusInvalidOption);
    }
  }

  // Data file: the header image with its text, and a text too large to
  // stand beside the dynamic block in its own area after it.
  h.magic = kMagicData;
  std::vector<uint8_t> data_image = img.render(true);
  if (file_seek_plain(files.data(), 0, platform::kSeekBegin) < 0) write_failed();
  write_all(files.data(), data_image.data(), data_image.size());
  uint64_t data_end = data_image.size();
  if (img.has_extension && (h.file_flags2 & kFlags2ExtensionText)) {
    std::vector<uint8_t> area(static_cast<size_t>(img.extension.text_alloc_kb) * 1024, 0);
    std::copy(img.text.begin(), img.text.end(), area.begin());
    write_all(files.data(), area.data(), area.size());
    data_end += area.size();
  }
  h.magic = kMagicIndex;

  // Preallocation: a free record spanning the data file up to the target
  // size, and room for the index blocks the records will need.
  uint64_t index_end = 0;
  if (img.has_extension && (h.file_flags2 & kFlags2Prealloc)) {
    const uint32_t b = static_cast<uint32_t>(h.record_overhead) + h.record_size;
    const uint64_t start = img.extension.data_start;
    const uint32_t allocation = img.extension.allocation;
    uint64_t records;
    if (h.file_flags2 & kFlags2AllocInRecords) {
      records = allocation;
    } else {
      const uint64_t bytes = static_cast<uint64_t>(allocation) * 512;
      records = bytes > start ? (bytes - start) / b : 0;
    }
    int64_t blocks;
    if (h.file_flags & kFileCompressed) {
      const uint64_t per_record = b - static_cast<uint64_t>(h.record_size) * 70 / 100;
      blocks = static_cast<int64_t>((records * per_record + start + 511) / 512);
    } else {
      blocks = preallocation_blocks(h, start, allocation);
    }
    const uint32_t width = static_cast<uint32_t>(rfa_width(h));
    uint32_t header_length = width + 1;
    if (h.file_flags & kFileSizedHeaders) header_length += 2;
    if (h.file_flags & kFileStaticVectoring) header_length += 6;
    const uint64_t target = blocks > 0 ? static_cast<uint64_t>(blocks) * 512 : 0;
    const uint64_t limit =
        (h.file_flags & kFileTbyte) ? (uint64_t{1} << (8 * width)) : (uint64_t{1} << 32);
    // A target that leaves no room for the free record (or cannot be
    // addressed) preallocates nothing.
    if (target > data_end + header_length && target < limit) {
      std::vector<uint8_t> free_record(header_length, 0);
      size_t at = 0;
      if (h.file_flags & kFileSizedHeaders) {
        put_u16(free_record.data(), static_cast<uint16_t>(header_length));
        at = 2;
      }
      free_record[at] = 0x80;
      put_address(free_record.data() + header_length - width, target, width);
      write_all(files.data(), free_record.data(), free_record.size());
      set_size(files.data(), target);
      img.counters.data_leof = static_cast<uint32_t>(data_end);
      img.counters.data_leof_high = static_cast<uint16_t>(data_end >> 32);
      const uint64_t page = page_bytes(h);
      const uint64_t base = static_cast<uint64_t>(h.data_header_units) * 256 + page * h.key_count;
      const uint64_t extra = estimate_index_blocks(h, img.keys, records);
      const uint64_t max_end = (h.file_flags & kFileTbyte) ? kMaxIndexEndTbyte : kMaxIndexEnd;
      if (extra > 0 && extra <= max_end / page && base + extra * page <= max_end) {
        index_end = base + extra * page;
        const uint64_t leof = (h.file_flags & kFileTbyte) ? base / 256 : base;
        img.counters.index_leof = static_cast<uint32_t>(leof);
        img.counters.index_leof_high = static_cast<uint8_t>(leof >> 32);
      }
    }
    if (file_seek_plain(files.data(), 0, platform::kSeekBegin) < 0) write_failed();
  }

  // Index file: the image without the text, then one empty root per key.
  const std::vector<uint8_t> index_image = img.render(false);
  if (file_seek_plain(files.index(), 0, platform::kSeekBegin) < 0) write_failed();
  const FileHandle index = files.index();
  errno = 0;
  const int written = write_initial_index(
      index_image.data(), index_image.size(), [index](const uint8_t* data, size_t len) {
        return file_write(index, data, static_cast<uint32_t>(len));
      });
  if (written != 0) write_failed();
  if (index_end != 0) set_size(files.index(), index_end);

  if (!files.close()) raise_status(kStatusCannotCreate);
  files.keep();
  (void)d;
}

}  // namespace

int create_isam_file(FileDescription& d, const std::string& name, bool replace, int revision) {
  ismgr_control* ctl = control_of(d);
  if (d.magic != kFileDescriptionMagic) {
    store_status(ctl, kStatusBadFileControl);
    return -1;
  }
  if (revision != 4 && revision != 6) {
    store_status(ctl, kStatusCannotCreate);
    return -1;
  }
  try {
    if (d.record_size < 4 || d.record_size > 65534) raise_status(kStatusInvalidRecordLength);
    if (d.key_count == 0) raise_status(kStatusUndefinedKeys);
    const std::string copy = name;
    HeaderImage img = build_header(d, copy, revision);
    std::string index_name;
    std::string data_name;
    const int name_status = creation_file_names(copy, &index_name, &data_name);
    if (name_status != 0) raise_status(name_status);
    if (ctl != nullptr && ctl->current_name != nullptr) {
      const size_t n = std::min(index_name.size(), kCurrentNameSize - 1);
      std::memcpy(ctl->current_name, index_name.data(), n);
      ctl->current_name[n] = '\0';
    }
    write_files(d, img, index_name, data_name, replace);
  } catch (const StatusError& e) {
    report_detail(nullptr, kDetailCreateFailed, nullptr, 0);
    store_status(ctl, e.code());
    return -1;
  } catch (const std::bad_alloc&) {
    report_detail(nullptr, kDetailCreateFailed, nullptr, 0);
    store_status(ctl, kStatusNoMemory);
    return -1;
  }
  d.magic = 0;
  return 0;
}

}  // namespace ismgr
