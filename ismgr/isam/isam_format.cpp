// Little-endian decoding and encoding of the ISAM on-disk records, their
// conversions, and the initial index writer.
#include "ismgr/isam/isam_format.h"

#include <algorithm>
#include <cstring>

#include "ismgr/runtime/status.h"

namespace ismgr {

bool is_isam_index_kind(uint16_t magic) {
  return magic == kMagicIndex || magic == kMagicOtherIsamA || magic == kMagicOtherIsamB;
}

// ---------------------------------------------------------------------------
// IsamHeader
// ---------------------------------------------------------------------------
bool decode_isam_header(const uint8_t* p, size_t len, IsamHeader* out) {
  if (p == nullptr || len < kIsamHeaderSize) return false;
  IsamHeader h;
  h.magic = get_u16(p + 0);            // 0  u16 magic word
  h.revision = p[2];                   // 2  u8  revision 0..6
  h.file_flags = p[3];                 // 3  u8  file_flags
  h.key_count = p[4];                  // 4  u8  keys (incl. change tracking)
  h.page_units = p[5];                 // 5  u8  index block / 256
  h.port_int_count = p[6];             // 6  u8  PortIntSpecs
  h.data_header_units = p[7];          // 7  u8  data header region / 256
  h.record_overhead = get_u16(p + 8);  // 8  u16 bytes added per record
  h.header_size = get_u16(p + 10);     // 10 u16 header page contents
  h.dynamic_size = get_u16(p + 12);    // 12 u16 dynamic header length
  h.max_key_size = get_u16(p + 14);    // 14 u16 longest key
  h.record_size = get_u16(p + 16);     // 16 u16 record size
  h.null_area_size = get_u16(p + 18);  // 18 u16 NullValueArea length
  h.file_flags2 = get_u32(p + 20);     // 20 u32 file_flags2 (revision 6)
  h.dynamic_offset = get_u32(p + 24);  // 24 u32 dynamic header offset
  h.created = get_u32(p + 28);         // 28 u32 creation time
  h.cleared = get_u32(p + 32);         // 32 u32 last clear
  h.verified = get_u32(p + 36);        // 36 u32 last verify
  h.reindexed = get_u32(p + 40);       // 40 u32 last re-index
  std::memcpy(h.creation_version.data(), p + 44, kCreationVersionSize);  // 44 char[8]
  *out = h;
  return true;
}

bool encode_isam_header(const IsamHeader& h, uint8_t* p, size_t len) {
  if (p == nullptr || len < kIsamHeaderSize) return false;
  put_u16(p + 0, h.magic);
  p[2] = h.revision;
  p[3] = h.file_flags;
  p[4] = h.key_count;
  p[5] = h.page_units;
  p[6] = h.port_int_count;
  p[7] = h.data_header_units;
  put_u16(p + 8, h.record_overhead);
  put_u16(p + 10, h.header_size);
  put_u16(p + 12, h.dynamic_size);
  put_u16(p + 14, h.max_key_size);
  put_u16(p + 16, h.record_size);
  put_u16(p + 18, h.null_area_size);
  put_u32(p + 20, h.file_flags2);
  put_u32(p + 24, h.dynamic_offset);
  put_u32(p + 28, h.created);
  put_u32(p + 32, h.cleared);
  put_u32(p + 36, h.verified);
  put_u32(p + 40, h.reindexed);
  std::memcpy(p + 44, h.creation_version.data(), kCreationVersionSize);
  return true;
}

bool is_old_layout(const IsamHeader& h) {
  return h.revision < 4;
}
bool is_patched(const IsamHeader& h) {
  return h.revision >= 6 && (h.file_flags2 & kFlags2PatchedMask) != 0;
}
bool is_r6_unpatched(const IsamHeader& h) {
  return h.revision >= 6 && (h.file_flags2 & kFlags2PatchedMask) == 0;
}
bool uses_short_free_list(const IsamHeader& h) {
  return h.revision == 4 || h.revision == 5 || is_patched(h);
}
int patched_from(const IsamHeader& h) {
  return (h.file_flags2 & kFlags2PatchedFrom4) ? 4 : 5;
}
bool is_tbyte(const IsamHeader& h) {
  return (h.file_flags & kFileTbyte) != 0;
}
bool is_address48(const IsamHeader& h) {
  return is_tbyte(h) && (h.file_flags2 & kFlags2Address48) != 0;
}
int rfa_width(const IsamHeader& h) {
  if (!is_tbyte(h)) return kRfaWidth32;
  return is_address48(h) ? kRfaWidth48 : kRfaWidth40;
}
int root_width(const IsamHeader& h) {
  return is_tbyte(h) ? kRootWidthTbyte : kRootWidth;
}
int index_entry_width(const IsamHeader& h) {
  return rfa_width(h) + ((h.file_flags & kFileSizedHeaders) ? 2 : 0);
}
uint32_t page_bytes(const IsamHeader& h) {
  return static_cast<uint32_t>(h.page_units) * 256u;
}
int address_bits(const IsamHeader& h) {
  return rfa_width(h) * 8;
}

namespace {

bool is_digit(char c) {
  return c >= '0' && c <= '9';
}

int two_digits(char a, char b) {
  int v = 0;
  if (is_digit(a)) v = a - '0';
  if (is_digit(b)) v = is_digit(a) ? v * 10 + (b - '0') : b - '0';
  return v;
}

}  // namespace

CreationVersion parse_creation_version(const IsamHeader& h) {
  const auto& v = h.creation_version;
  CreationVersion out;
  out.major = two_digits(v[0], v[1]);
  out.minor = two_digits(v[2], v[3]);
  // Build: the decimal number at the start of offsets 4-6, then the first
  // character that is not part of it (a blank when all three are digits).
  int i = 4;
  int build = 0;
  while (i < 7 && is_digit(v[i])) build = build * 10 + (v[i++] - '0');
  out.build = build;
  out.letter = (i < 7) ? v[i] : ' ';
  return out;
}

// ---------------------------------------------------------------------------
// KeyDescriptor
// ---------------------------------------------------------------------------
bool decode_key_descriptor(const uint8_t* p, size_t len, KeyDescriptor* out) {
  if (p == nullptr || len < kKeyDescriptorSize) return false;
  KeyDescriptor k;
  k.key_flags = p[0];      // 0 u8 key_flags
  k.autokey_flags = p[1];  // 1 u8 autokey_flags
  k.density = p[2];        // 2 u8 fill percentage, 0 default
  k.reserved1 = p[3];      // 3 reserved
  for (size_t i = 0; i < kMaxSegments; ++i) {
    k.seg_type[i] = p[4 + i];                   // 4  u8[8]  type | 0x20 ascending
    k.seg_start[i] = get_u16(p + 12 + 2 * i);   // 12 u16[8] start in the record
    k.seg_length[i] = get_u16(p + 28 + 2 * i);  // 28 u16[8] length, 0 ends
  }
  k.null_offset = get_u16(p + 44);                       // 44 u16 null value offset
  k.key_size = get_u16(p + 46);                          // 46 u16 key length in the index
  k.qualifier_offset = get_u16(p + 48);                  // 48 u16 duplicate qualifier offset
  k.reserved2 = {p[50], p[51]};                          // 50 reserved
  std::memcpy(k.key_name.data(), p + 52, kKeyNameSize);  // 52 char[16] name
  *out = k;
  return true;
}

bool encode_key_descriptor(const KeyDescriptor& k, uint8_t* p, size_t len) {
  if (p == nullptr || len < kKeyDescriptorSize) return false;
  p[0] = k.key_flags;
  p[1] = k.autokey_flags;
  p[2] = k.density;
  p[3] = k.reserved1;
  for (size_t i = 0; i < kMaxSegments; ++i) {
    p[4 + i] = k.seg_type[i];
    put_u16(p + 12 + 2 * i, k.seg_start[i]);
    put_u16(p + 28 + 2 * i, k.seg_length[i]);
  }
  put_u16(p + 44, k.null_offset);
  put_u16(p + 46, k.key_size);
  put_u16(p + 48, k.qualifier_offset);
  p[50] = k.reserved2[0];
  p[51] = k.reserved2[1];
  std::memcpy(p + 52, k.key_name.data(), kKeyNameSize);
  return true;
}

int segment_count(const KeyDescriptor& k) {
  return segment_count(k.seg_length);
}
int segment_count(const std::array<uint16_t, kMaxSegments>& seg_length) {
  int n = 0;
  while (n < static_cast<int>(kMaxSegments) && seg_length[n] != 0) ++n;
  return n;
}
bool is_segmented(const KeyDescriptor& k) {
  return k.seg_length[1] != 0;
}
int qualifier_width(const IsamHeader& h) {
  return is_tbyte(h) ? 4 : 3;
}

// ---------------------------------------------------------------------------
// PortIntSpec
// ---------------------------------------------------------------------------
bool decode_port_int_spec(const uint8_t* p, size_t len, PortIntSpec* out) {
  if (p == nullptr || len < kPortIntSpecSize) return false;
  out->kind = p[0];                // 0 u8 kind (4: portable integer)
  out->length = p[1];              // 1 u8 length
  out->position = get_u16(p + 2);  // 2 u16 position in the record
  return true;
}

bool encode_port_int_spec(const PortIntSpec& s, uint8_t* p, size_t len) {
  if (p == nullptr || len < kPortIntSpecSize) return false;
  p[0] = s.kind;
  p[1] = s.length;
  put_u16(p + 2, s.position);
  return true;
}

// ---------------------------------------------------------------------------
// NullValueArea
// ---------------------------------------------------------------------------
bool null_value_at(const NullValueArea& area, size_t offset, const uint8_t** value,
                   size_t* value_len) {
  return null_value_at(area.bytes, offset, value, value_len);
}
bool null_value_at(const std::vector<uint8_t>& area, size_t offset, const uint8_t** value,
                   size_t* value_len) {
  if (offset >= area.size()) return false;
  size_t n = area[offset];  // count byte: itself plus n-1 value bytes
  size_t vlen = n > 0 ? n - 1 : 0;
  if (vlen > area.size() - offset - 1) return false;
  if (value) *value = area.data() + offset + 1;
  if (value_len) *value_len = vlen;
  return true;
}

// ---------------------------------------------------------------------------
// R6Extension
// ---------------------------------------------------------------------------
bool decode_r6_extension(const uint8_t* p, size_t len, R6Extension* out) {
  if (p == nullptr || len < kR6ExtensionSize) return false;
  R6Extension e;
  e.seed = get_u64(p + 0);                      // 0  u64 sequence autokey start
  e.allocation = get_u32(p + 8);                // 8  u32 preallocation
  e.data_start = get_u32(p + 12);               // 12 u32 bytes before the first record
  e.text_offset = get_u32(p + 16);              // 16 u32 file text offset
  e.reorganized = get_u32(p + 20);              // 20 u32 last data re-organization
  std::memcpy(e.reserved1.data(), p + 24, 12);  // 24 reserved
  e.compat_level = p[36];                       // 36 u8 must be 0
  e.text_alloc_kb = p[37];                      // 37 u8 file text KB
  e.reserved2 = {p[38], p[39]};                 // 38 reserved
  *out = e;
  return true;
}

bool encode_r6_extension(const R6Extension& e, uint8_t* p, size_t len) {
  if (p == nullptr || len < kR6ExtensionSize) return false;
  put_u64(p + 0, e.seed);
  put_u32(p + 8, e.allocation);
  put_u32(p + 12, e.data_start);
  put_u32(p + 16, e.text_offset);
  put_u32(p + 20, e.reorganized);
  std::memcpy(p + 24, e.reserved1.data(), 12);
  p[36] = e.compat_level;
  p[37] = e.text_alloc_kb;
  p[38] = e.reserved2[0];
  p[39] = e.reserved2[1];
  return true;
}

// ---------------------------------------------------------------------------
// Free-list parts
// ---------------------------------------------------------------------------
bool decode_free_list_part(const uint8_t* p, size_t len, FreeListPart* out) {
  if (p == nullptr || len < kFreeListFullSize) return false;
  FreeListPart f;
  f.slot_count = p[0];                           // 0  u8 entries in use
  f.dynamic_flags = p[1];                        // 1  u8 0x01 freelist overflow
  std::memcpy(f.reserved1.data(), p + 2, 4);     // 2  reserved
  f.vector_count = get_u16(p + 6);               // 6  u16 vectors
  f.record_count = get_u32(p + 8);               // 8  u32 records
  f.free_record_count = get_u32(p + 12);         // 12 u32 free record slots
  f.unusable_space = get_u32(p + 16);            // 16 u32 unusable bytes
  f.free_list_head = get_u32(p + 20);            // 20 u32 index free list head
  f.free_list_head_high = p[24];                 // 24 u8  bits 32-39
  std::memcpy(f.reserved2.data(), p + 25, 7);    // 25 reserved
  for (size_t i = 0; i < kFreeSlotsFull; ++i) {  // 32 entries of 12 bytes
    const uint8_t* e = p + 32 + i * kFreeSlotFullSize;
    FreeSlot& s = f.slots[i];
    s.address_low = get_u32(e + 0);   // 0 u32 slot address, low 32 bits
    s.address_high = get_u16(e + 4);  // 4 high part (u8, u16 with 48-bit)
    s.size = get_u16(e + 6);          // 6 u16 slot size
    std::memcpy(s.reserved.data(), e + 8, 4);
  }
  *out = f;
  return true;
}

bool encode_free_list_part(const FreeListPart& f, uint8_t* p, size_t len) {
  if (p == nullptr || len < kFreeListFullSize) return false;
  p[0] = f.slot_count;
  p[1] = f.dynamic_flags;
  std::memcpy(p + 2, f.reserved1.data(), 4);
  put_u16(p + 6, f.vector_count);
  put_u32(p + 8, f.record_count);
  put_u32(p + 12, f.free_record_count);
  put_u32(p + 16, f.unusable_space);
  put_u32(p + 20, f.free_list_head);
  p[24] = f.free_list_head_high;
  std::memcpy(p + 25, f.reserved2.data(), 7);
  for (size_t i = 0; i < kFreeSlotsFull; ++i) {
    uint8_t* e = p + 32 + i * kFreeSlotFullSize;
    const FreeSlot& s = f.slots[i];
    put_u32(e + 0, s.address_low);
    put_u16(e + 4, s.address_high);
    put_u16(e + 6, s.size);
    std::memcpy(e + 8, s.reserved.data(), 4);
  }
  return true;
}

uint64_t free_slot_address(const FreeSlot& s, const IsamHeader& h) {
  uint64_t a = s.address_low;
  if (is_address48(h)) {
    a |= static_cast<uint64_t>(s.address_high) << 32;
  } else if (is_tbyte(h)) {
    a |= static_cast<uint64_t>(s.address_high & 0xFF) << 32;
  }
  return a;
}

bool decode_short_free_list_part(const uint8_t* p, size_t len, ShortFreeListPart* out) {
  if (p == nullptr || len < kFreeListShortSize) return false;
  ShortFreeListPart f;
  f.slot_count = p[0];                            // 0  u8  entries in use
  f.dynamic_flags = p[1];                         // 1  u8  dynamic flags
  f.update_count = get_u16(p + 2);                // 2  u16 update revision count
  f.free_index_blocks = get_u16(p + 4);           // 4  u16 free index blocks
  f.vector_count = get_u16(p + 6);                // 6  u16 vectors
  f.record_count = get_u32(p + 8);                // 8  u32 records
  f.free_record_count = get_u32(p + 12);          // 12 u32 free record slots
  f.unusable_space = get_u32(p + 16);             // 16 u32 unusable bytes
  f.free_list_head = get_u32(p + 20);             // 20 u32 index free list head
  for (size_t i = 0; i < kFreeSlotsShort; ++i) {  // 24 entries of 8 bytes
    const uint8_t* e = p + 24 + i * kFreeSlotShortSize;
    ShortFreeSlot& s = f.slots[i];
    s.address_low = get_u32(e + 0);  // 0 u32 slot address
    s.address_high = e[4];           // 4 u8  high address byte
    s.reserved = e[5];               // 5 reserved
    s.size = get_u16(e + 6);         // 6 u16 slot size
  }
  *out = f;
  return true;
}

bool encode_short_free_list_part(const ShortFreeListPart& f, uint8_t* p, size_t len) {
  if (p == nullptr || len < kFreeListShortSize) return false;
  p[0] = f.slot_count;
  p[1] = f.dynamic_flags;
  put_u16(p + 2, f.update_count);
  put_u16(p + 4, f.free_index_blocks);
  put_u16(p + 6, f.vector_count);
  put_u32(p + 8, f.record_count);
  put_u32(p + 12, f.free_record_count);
  put_u32(p + 16, f.unusable_space);
  put_u32(p + 20, f.free_list_head);
  for (size_t i = 0; i < kFreeSlotsShort; ++i) {
    uint8_t* e = p + 24 + i * kFreeSlotShortSize;
    const ShortFreeSlot& s = f.slots[i];
    put_u32(e + 0, s.address_low);
    e[4] = s.address_high;
    e[5] = s.reserved;
    put_u16(e + 6, s.size);
  }
  return true;
}

// ---------------------------------------------------------------------------
// FileCounters
// ---------------------------------------------------------------------------
bool decode_file_counters(const uint8_t* p, size_t len, FileCounters* out) {
  if (p == nullptr || len < kFileCountersSize) return false;
  FileCounters c;
  c.autoseed = static_cast<int64_t>(get_u64(p + 0));  // 0  i64 next sequence value
  c.update_count = get_u32(p + 8);                    // 8  u32 update revision count
  c.free_index_blocks = get_u32(p + 12);              // 12 u32 free index blocks
  c.data_leof = get_u32(p + 16);                      // 16 u32 data LEOF low 32
  c.data_leof_high = get_u16(p + 20);                 // 20 u8/u16 data LEOF high
  c.snapshot_count = p[22];                           // 22 u8  snapshot slots used
  c.tracking_slot = p[23];                            // 23 u8  current tracking slot
  c.index_leof = get_u32(p + 24);                     // 24 u32 index LEOF low 32
  c.index_leof_high = p[28];                          // 28 u8  index LEOF high byte
  c.reserved1 = p[29];                                // 29 reserved
  c.tracking_mark = get_u16(p + 30);                  // 30 u16 change-tracking mark
  c.snapshot_base = get_u32(p + 32);                  // 32 u32 first snapshot slot
  c.text_length = get_u32(p + 36);                    // 36 u32 file text in use
  std::memcpy(c.reserved2.data(), p + 40, 12);        // 40 reserved
  *out = c;
  return true;
}

bool encode_file_counters(const FileCounters& c, uint8_t* p, size_t len) {
  if (p == nullptr || len < kFileCountersSize) return false;
  put_u64(p + 0, static_cast<uint64_t>(c.autoseed));
  put_u32(p + 8, c.update_count);
  put_u32(p + 12, c.free_index_blocks);
  put_u32(p + 16, c.data_leof);
  put_u16(p + 20, c.data_leof_high);
  p[22] = c.snapshot_count;
  p[23] = c.tracking_slot;
  put_u32(p + 24, c.index_leof);
  p[28] = c.index_leof_high;
  p[29] = c.reserved1;
  put_u16(p + 30, c.tracking_mark);
  put_u32(p + 32, c.snapshot_base);
  put_u32(p + 36, c.text_length);
  std::memcpy(p + 40, c.reserved2.data(), 12);
  return true;
}

uint64_t data_leof_bytes(const FileCounters& c, const IsamHeader& h) {
  uint64_t v = c.data_leof;
  if (is_address48(h)) {
    v |= static_cast<uint64_t>(c.data_leof_high) << 32;
  } else if (is_tbyte(h)) {
    v |= static_cast<uint64_t>(c.data_leof_high & 0xFF) << 32;
  }
  return v;
}

uint64_t index_leof_bytes(const FileCounters& c, const IsamHeader& h) {
  if (!is_tbyte(h)) return c.index_leof;
  uint64_t units = c.index_leof;
  if (is_address48(h)) units |= static_cast<uint64_t>(c.index_leof_high) << 32;
  return units * kIndexUnit;
}

uint64_t free_list_head_bytes(const FreeListPart& f, const IsamHeader& h) {
  if (!is_tbyte(h)) return f.free_list_head;
  uint64_t units = f.free_list_head;
  if (is_address48(h)) units |= static_cast<uint64_t>(f.free_list_head_high) << 32;
  return units * kIndexUnit;
}

// ---------------------------------------------------------------------------
// ChangeTrackingArea and file-text prefix
// ---------------------------------------------------------------------------
bool decode_change_tracking(const uint8_t* p, size_t len, ChangeTrackingArea* out) {
  if (p == nullptr || len < kChangeTrackingSize) return false;
  for (size_t i = 0; i < kChangeTrackingSlots; ++i) out->times[i] = get_u32(p + 4 * i);
  return true;
}

bool encode_change_tracking(const ChangeTrackingArea& a, uint8_t* p, size_t len) {
  if (p == nullptr || len < kChangeTrackingSize) return false;
  for (size_t i = 0; i < kChangeTrackingSlots; ++i) put_u32(p + 4 * i, a.times[i]);
  return true;
}

uint32_t tracking_time(const ChangeTrackingArea& a, uint8_t slot) {
  return a.times[slot];
}

bool decode_file_text_prefix(const uint8_t* p, size_t len, FileTextPrefix* out) {
  if (p == nullptr || len < kFileTextPrefixSize) return false;
  out->allocation_word = get_u32(p + 0);  // 0 u32 allocation word
  out->length = get_u32(p + 4);           // 4 u32 length in use
  return true;
}

bool encode_file_text_prefix(const FileTextPrefix& t, uint8_t* p, size_t len) {
  if (p == nullptr || len < kFileTextPrefixSize) return false;
  put_u32(p + 0, t.allocation_word);
  put_u32(p + 4, t.length);
  return true;
}

uint64_t text_allocation_bytes(uint32_t allocation_word) {
  uint64_t v = allocation_word & kTextAllocValueMask;
  return (allocation_word & kTextAllocInKb) ? v * 1024 : v;
}

// ---------------------------------------------------------------------------
// Old layout
// ---------------------------------------------------------------------------
bool decode_old_key_record(const uint8_t* p, size_t len, OldKeyRecord* out) {
  if (p == nullptr || len < kOldKeyRecordSize) return false;
  OldKeyRecord k;
  k.flags = p[0];                                  // 0 u8 flags (0x01 ascending)
  k.reserved1 = p[1];                              // 1 reserved
  k.depth = p[2];                                  // 2 u8 tree depth
  k.qualifier_offset = static_cast<int8_t>(p[3]);  // 3 i8 qualifier offset
  k.root = get_u32(p + 4);                         // 4 u32 root block
  for (size_t i = 0; i < kMaxSegments; ++i) {
    k.starts[i] = get_u16(p + 8 + 2 * i);    // 8  u16[8] starts
    k.lengths[i] = get_u16(p + 24 + 2 * i);  // 24 u16[8] lengths
  }
  k.key_size = get_u16(p + 40);                      // 40 u16 key size
  k.null_offset = static_cast<int8_t>(p[42]);        // 42 i8 null offset
  k.reserved2 = p[43];                               // 43 reserved
  std::memcpy(k.name.data(), p + 44, kKeyNameSize);  // 44 char[16] name
  *out = k;
  return true;
}

bool encode_old_key_record(const OldKeyRecord& k, uint8_t* p, size_t len) {
  if (p == nullptr || len < kOldKeyRecordSize) return false;
  p[0] = k.flags;
  p[1] = k.reserved1;
  p[2] = k.depth;
  p[3] = static_cast<uint8_t>(k.qualifier_offset);
  put_u32(p + 4, k.root);
  for (size_t i = 0; i < kMaxSegments; ++i) {
    put_u16(p + 8 + 2 * i, k.starts[i]);
    put_u16(p + 24 + 2 * i, k.lengths[i]);
  }
  put_u16(p + 40, k.key_size);
  p[42] = static_cast<uint8_t>(k.null_offset);
  p[43] = k.reserved2;
  std::memcpy(p + 44, k.name.data(), kKeyNameSize);
  return true;
}

bool decode_old_header_block(const uint8_t* p, size_t len, OldHeaderBlock* out) {
  if (p == nullptr || len < kOldHeaderBlockSize) return false;
  OldHeaderBlock b;
  b.magic = get_u16(p + 0);                       // 0  u16 magic
  b.revision = p[2];                              // 2  u8  revision
  b.file_flags = p[3];                            // 3  u8  file_flags
  b.key_count = p[4];                             // 4  u8  keys
  b.slot_count = p[5];                            // 5  u8  free slots in use
  b.reserved6 = p[6];                             // 6  reserved
  b.record_overhead = static_cast<int8_t>(p[7]);  // 7  i8  record overhead
  b.free_index_blocks = get_u16(p + 8);           // 8  u16 free index blocks
  b.max_key_size = get_u16(p + 10);               // 10 u16 longest key
  b.record_size = get_u16(p + 12);                // 12 u16 record size
  b.vector_count = get_u16(p + 14);               // 14 u16 vectors
  b.free_list_head = get_u32(p + 16);             // 16 u32 index free list
  b.record_count = get_u32(p + 20);               // 20 u32 records
  b.free_record_count = get_u32(p + 24);          // 24 u32 free records
  for (size_t i = 0; i < kOldMaxKeys; ++i) {      // 28 key records of 60
    decode_old_key_record(p + kOldKeysOffset + i * kOldKeyRecordSize, kOldKeyRecordSize,
                          &b.keys[i]);
  }
  for (size_t i = 0; i < kOldMaxSlots; ++i) {  // 508 free slots of 8
    const uint8_t* e = p + kOldSlotsOffset + i * kOldFreeSlotSize;
    b.slots[i].size = get_u16(e + 0);      // 0 u16 slot size (0 ends)
    b.slots[i].reserved = get_u16(e + 2);  // 2 reserved
    b.slots[i].address = get_u32(e + 4);   // 4 u32 address
  }
  b.unusable_space = get_u32(p + 764);                         // 764 u32
  std::memcpy(b.null_area.data(), p + 768, kOldNullAreaSize);  // 768 64 bytes
  b.update_count = get_u32(p + 832);                           // 832 u32
  *out = b;
  return true;
}

bool encode_old_header_block(const OldHeaderBlock& b, uint8_t* p, size_t len) {
  if (p == nullptr || len < kOldHeaderBlockSize) return false;
  put_u16(p + 0, b.magic);
  p[2] = b.revision;
  p[3] = b.file_flags;
  p[4] = b.key_count;
  p[5] = b.slot_count;
  p[6] = b.reserved6;
  p[7] = static_cast<uint8_t>(b.record_overhead);
  put_u16(p + 8, b.free_index_blocks);
  put_u16(p + 10, b.max_key_size);
  put_u16(p + 12, b.record_size);
  put_u16(p + 14, b.vector_count);
  put_u32(p + 16, b.free_list_head);
  put_u32(p + 20, b.record_count);
  put_u32(p + 24, b.free_record_count);
  for (size_t i = 0; i < kOldMaxKeys; ++i) {
    encode_old_key_record(b.keys[i], p + kOldKeysOffset + i * kOldKeyRecordSize, kOldKeyRecordSize);
  }
  for (size_t i = 0; i < kOldMaxSlots; ++i) {
    uint8_t* e = p + kOldSlotsOffset + i * kOldFreeSlotSize;
    put_u16(e + 0, b.slots[i].size);
    put_u16(e + 2, b.slots[i].reserved);
    put_u32(e + 4, b.slots[i].address);
  }
  put_u32(p + 764, b.unusable_space);
  std::memcpy(p + 768, b.null_area.data(), kOldNullAreaSize);
  put_u32(p + 832, b.update_count);
  return true;
}

// ---------------------------------------------------------------------------
// Conversions
// ---------------------------------------------------------------------------
IsamHeader old_header_to_isam_header(const OldHeaderBlock& b, const char* version6) {
  IsamHeader h;
  h.magic = b.magic;
  h.revision = b.revision;
  h.file_flags = b.file_flags;
  h.key_count = b.key_count;
  h.page_units = 4;
  h.port_int_count = 0;
  h.data_header_units = 4;
  h.record_overhead = static_cast<uint16_t>(static_cast<int16_t>(b.record_overhead));
  h.header_size = 0;
  h.dynamic_size = static_cast<uint16_t>(kOldHeaderBlockSize);
  h.max_key_size = b.max_key_size;
  h.record_size = b.record_size;
  h.null_area_size = static_cast<uint16_t>(kOldNullAreaSize);
  h.file_flags2 = 0;
  h.dynamic_offset = 0;
  h.creation_version.fill('\0');
  if (version6 != nullptr) std::memcpy(h.creation_version.data(), version6, kOldVersionSize);
  return h;
}

KeyDescriptor old_key_to_key_descriptor(const OldKeyRecord& k) {
  KeyDescriptor d;
  d.key_flags = static_cast<uint8_t>(k.flags & ~kOldKeyAscending);
  const uint8_t type =
      static_cast<uint8_t>(kSegAlpha | ((k.flags & kOldKeyAscending) ? kSegAscending : 0));
  d.seg_type.fill(type);
  d.seg_start = k.starts;
  d.seg_length = k.lengths;
  d.key_size = k.key_size;
  d.null_offset = static_cast<uint16_t>(static_cast<int16_t>(k.null_offset));
  d.qualifier_offset = static_cast<uint16_t>(static_cast<int16_t>(k.qualifier_offset));
  d.key_name = k.name;
  return d;
}

void old_header_to_dynamic(const OldHeaderBlock& b, FreeListPart* f, FileCounters* c) {
  f->slot_count = b.slot_count;
  f->vector_count = b.vector_count;
  f->free_list_head = b.free_list_head;
  f->record_count = b.record_count;
  f->free_record_count = b.free_record_count;
  f->unusable_space = b.unusable_space;
  for (size_t i = 0; i < kFreeSlotsFull; ++i) f->slots[i] = FreeSlot{};
  for (size_t i = 0; i < kOldMaxSlots; ++i) {
    f->slots[i].size = b.slots[i].size;
    f->slots[i].address_low = b.slots[i].address;
  }
  c->free_index_blocks = b.free_index_blocks;
  c->update_count = b.update_count;
}

void dynamic_to_old_header(const FreeListPart& f, const FileCounters& c,
                           const std::vector<uint64_t>& roots, const std::vector<uint8_t>& depths,
                           OldHeaderBlock* b) {
  b->slot_count = f.slot_count;
  b->vector_count = f.vector_count;
  b->free_list_head = f.free_list_head;
  b->record_count = f.record_count;
  b->free_record_count = f.free_record_count;
  b->unusable_space = f.unusable_space;
  for (size_t i = 0; i < kOldMaxSlots; ++i) {
    b->slots[i].size = f.slots[i].size;
    b->slots[i].address = f.slots[i].address_low;
  }
  b->free_index_blocks = static_cast<uint16_t>(c.free_index_blocks);
  b->update_count = c.update_count;
  const size_t keys = std::min<size_t>({kOldMaxKeys, b->key_count, roots.size(), depths.size()});
  for (size_t i = 0; i < keys; ++i) {
    b->keys[i].root = static_cast<uint32_t>(roots[i]);
    b->keys[i].depth = depths[i];
  }
}

void short_to_full_free_list(const ShortFreeListPart& s, FreeListPart* f, FileCounters* c) {
  *f = FreeListPart{};
  f->slot_count = s.slot_count;
  f->dynamic_flags = s.dynamic_flags;
  f->vector_count = s.vector_count;
  f->record_count = s.record_count;
  f->free_record_count = s.free_record_count;
  f->unusable_space = s.unusable_space;
  f->free_list_head = s.free_list_head;
  for (size_t i = 0; i < kFreeSlotsShort; ++i) {
    f->slots[i].address_low = s.slots[i].address_low;
    f->slots[i].address_high = s.slots[i].address_high;
    f->slots[i].size = s.slots[i].size;
  }
  c->update_count = s.update_count;
  c->free_index_blocks = s.free_index_blocks;
}

void full_to_short_free_list(const FreeListPart& f, const FileCounters& c, ShortFreeListPart* s) {
  s->slot_count = f.slot_count;
  s->dynamic_flags = f.dynamic_flags;
  s->update_count = static_cast<uint16_t>(c.update_count);
  s->free_index_blocks = static_cast<uint16_t>(c.free_index_blocks);
  s->vector_count = f.vector_count;
  s->record_count = f.record_count;
  s->free_record_count = f.free_record_count;
  s->unusable_space = f.unusable_space;
  s->free_list_head = f.free_list_head;
  for (size_t i = 0; i < kFreeSlotsShort; ++i) {
    s->slots[i].address_low = f.slots[i].address_low;
    s->slots[i].address_high = static_cast<uint8_t>(f.slots[i].address_high);
    s->slots[i].size = f.slots[i].size;
  }
}

int64_t preallocation_blocks(const IsamHeader& h, uint64_t added_bytes, uint32_t allocation) {
  if ((h.file_flags2 & kFlags2AllocInRecords) == 0) return allocation;
  const uint64_t slot = static_cast<uint64_t>(h.record_size) + h.record_overhead;
  // allocation < 2^32 and slot < 2^17: the product fits in 49 bits.
  const uint64_t product = static_cast<uint64_t>(allocation) * slot;
  if (added_bytes > UINT64_MAX / 2 - product) return -1;
  const uint64_t bytes = product + added_bytes;
  if (!is_tbyte(h) && bytes >= 0x7FFFFFFFull) return -1;
  return static_cast<int64_t>((bytes + 511) / 512);
}

uint16_t key_fill_limit(const IsamHeader& h, const KeyDescriptor& k) {
  if (k.density == 0) return 0;
  // A density above 100 would let blocks be filled beyond their size.
  const int64_t density = std::min<int64_t>(k.density, 100);
  const int64_t usable =
      static_cast<int64_t>(page_bytes(h)) * density / 100 - (is_address48(h) ? 14 : 12);
  const int64_t entry = index_entry_width(h) + ((k.autokey_flags & kAutoChangeTracking) ? 1 : 0) +
                        static_cast<int64_t>(k.key_size);
  if (usable <= 0) return 0;
  const int64_t limit = usable / entry;
  return static_cast<uint16_t>(std::min<int64_t>(limit, 0xFFFF));
}

uint32_t block_search_capacity(const IsamHeader& h) {
  const uint32_t bytes = page_bytes(h);
  if (bytes < 4) return 0;
  const uint32_t w = is_address48(h) ? 5 : 4;
  return (bytes - 4) / (w + 2);
}

// ---------------------------------------------------------------------------
// Revision acceptance
// ---------------------------------------------------------------------------
const char* revision_check_message(uint8_t revision, uint8_t file_flags) {
  if ((revision == 0 && (file_flags & 0x10)) || (revision == 1 && (file_flags & 0x20))) {
    return "Old revision, run fmaint -p";
  }
  if (revision > kMaxRevision) return "File revision newer than ISMGR";
  return nullptr;
}

int check_header_page(const uint8_t* page, size_t bytes_read, uint16_t expected_magic,
                      const char** detail) {
  if (detail) *detail = nullptr;
  if (page == nullptr || bytes_read < 4) {
    // Too short even for the magic and the revision: an empty or cut file.
    const bool isam = page != nullptr && bytes_read >= 2 && is_isam_index_kind(get_u16(page));
    return isam ? kStatusIncompatible : kStatusNotIsam;
  }
  const uint16_t magic = get_u16(page);
  const uint8_t revision = page[2];
  const uint8_t file_flags = page[3];
  const int refused = is_isam_index_kind(magic) ? kStatusIncompatible : kStatusNotIsam;
  // Revision 6 unpatched needs a whole 4096-byte page; a page too short to
  // show file_flags2 is taken as unpatched.
  size_t minimum = kMinHeaderLength;
  if (revision >= 6 && (bytes_read < 24 || (get_u32(page + 20) & kFlags2PatchedMask) == 0)) {
    minimum = kMinHeaderLengthR6;
  }
  if (bytes_read < minimum || magic != expected_magic) return refused;
  const char* message = revision_check_message(revision, file_flags);
  if (message != nullptr) {
    if (detail) *detail = message;
    return refused;
  }
  return 0;
}

int check_compat_level(const R6Extension& e, const char** detail) {
  if (e.compat_level == 0) return 0;
  if (detail) *detail = "File compatability level newer than ISMGR";
  return kStatusUnsupportedIsam;
}

// ---------------------------------------------------------------------------
// Initial index writer
// ---------------------------------------------------------------------------
int write_initial_index(const uint8_t* image, size_t image_len, const IndexWriter& write) {
  IsamHeader h;
  if (!write || !decode_isam_header(image, image_len, &h)) return -1;
  if (write(image, image_len) != static_cast<int64_t>(image_len)) return -1;
  const size_t block = page_bytes(h);
  std::vector<uint8_t> piece(std::min<size_t>(block, kHeaderPageReadSize), 0);
  for (int key = 0; key < h.key_count; ++key) {
    // One empty root block: 0xFF, then zeros, in pieces of at most 4096.
    for (size_t done = 0; done < block;) {
      const size_t n = std::min(piece.size(), block - done);
      piece[0] = done == 0 ? 0xFF : 0x00;
      if (write(piece.data(), n) != static_cast<int64_t>(n)) return -1;
      done += n;
    }
  }
  return 0;
}

int initial_index_image(const uint8_t* image, size_t image_len, std::vector<uint8_t>* out) {
  out->clear();
  return write_initial_index(image, image_len, [out](const uint8_t* data, size_t len) {
    out->insert(out->end(), data, data + len);
    return static_cast<int64_t>(len);
  });
}

}  // namespace ismgr
