// On-disk records of ISAM files: the header page of the index file (and its
// copy in the data file), the key descriptors, the dynamic header block with
// its free lists, key roots, key depths, counters and change-tracking times,
// the file-text prefix, and the old header layout of revisions 0 to 3.
//
// Every record is a plain struct with an explicit little-endian decoder and
// encoder working on a byte buffer of known length. Decoders return false
// (and leave *out untouched) when the buffer is shorter than the record;
// encoders return false (and write nothing) when it is too short. Reserved
// bytes are kept in the structs so that a decode followed by an encode gives
// back the same bytes.
//
// Nothing here calls the operating system: the initial index writer hands its
// bytes to a caller-supplied writer.
#ifndef ISMGR_ISAM_ISAM_FORMAT_H_
#define ISMGR_ISAM_ISAM_FORMAT_H_

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

namespace ismgr {

// ---------------------------------------------------------------------------
// Magic words: the first 16-bit word of every file of the family.
// ---------------------------------------------------------------------------
constexpr uint16_t kMagicIndex = 0x5CA5;            // index file
constexpr uint16_t kMagicData = 0x5CB5;             // data file (header copy)
constexpr uint16_t kMagicTempIndex = 0x5CE7;        // temporary index
constexpr uint16_t kMagicWorkFile = 0xA2BF;         // in-progress sort/rebuild
constexpr uint16_t kMagicFileDescription = 0x5CF7;  // parsed description
constexpr uint16_t kMagicOtherIsamA = 0x6CA6;       // recognised, refused
constexpr uint16_t kMagicOtherIsamB = 0x7CA7;       // recognised, refused

// True for the magic words of ISAM index kinds (0x5CA5, 0x6CA6, 0x7CA7): a
// failed header check on such a file is "incompatible" (43), otherwise "not
// an ISAM file" (17).
bool is_isam_index_kind(uint16_t magic);

// ---------------------------------------------------------------------------
// Sizes and fixed offsets.
// ---------------------------------------------------------------------------
constexpr size_t kHeaderPageReadSize = 4096;  // first read of a header page
constexpr size_t kIsamHeaderSize = 52;
constexpr size_t kKeyDescriptorSize = 68;
constexpr size_t kPortIntSpecSize = 4;
constexpr size_t kR6ExtensionSize = 40;
constexpr size_t kFreeListFullSize = 1616;  // revision 6 unpatched
constexpr size_t kFreeListShortSize = 280;  // revisions 4, 5, patched
constexpr size_t kFreeSlotsFull = 132;
constexpr size_t kFreeSlotsShort = 32;
constexpr size_t kFreeSlotFullSize = 12;
constexpr size_t kFreeSlotShortSize = 8;
constexpr size_t kFileCountersSize = 52;
constexpr size_t kChangeTrackingSize = 1028;
constexpr size_t kChangeTrackingSlots = kChangeTrackingSize / 4;  // 257
constexpr size_t kFileTextPrefixSize = 8;
constexpr size_t kMaxSegments = 8;
constexpr size_t kKeyNameSize = 16;
constexpr size_t kCreationVersionSize = 8;

// Old layout (revisions 0 to 3).
constexpr size_t kOldHeaderPageSize = 1024;
constexpr size_t kOldHeaderBlockSize = 836;
constexpr size_t kOldKeyRecordSize = 60;
constexpr size_t kOldKeysOffset = 28;
constexpr size_t kOldMaxKeys = 8;  // (508 - 28) / 60
constexpr size_t kOldSlotsOffset = 508;
constexpr size_t kOldFreeSlotSize = 8;
constexpr size_t kOldMaxSlots = 32;
constexpr size_t kOldNullAreaSize = 64;
constexpr size_t kOldVersionOffset = 1018;
constexpr size_t kOldVersionSize = 6;

// In-progress work file.
constexpr size_t kWorkFileNameOffset = 16;
constexpr uint32_t kWorkFileShift = 0x8000;  // header copy offset in the target

// Highest revision this layer reads; minimum header page lengths.
constexpr uint8_t kMaxRevision = 6;
constexpr size_t kMinHeaderLengthR6 = 4096;
constexpr size_t kMinHeaderLength = 1024;

// ---------------------------------------------------------------------------
// Flag bits.
// ---------------------------------------------------------------------------
// file_flags
constexpr uint8_t kFileMultiple = 0x01;         // multiple record format
constexpr uint8_t kFileVariable = 0x02;         // variable record format
constexpr uint8_t kFileCompressed = 0x04;       // compressed data
constexpr uint8_t kFileStaticRfa = 0x08;        // records keep their address
constexpr uint8_t kFileStaticVectoring = 0x10;  // static vectoring enabled
constexpr uint8_t kFileSizedHeaders = 0x20;     // 16-bit slot size per record
constexpr uint8_t kFileTbyte = 0x40;            // 40/48-bit file addresses
constexpr uint8_t kFileNetworkEncrypt = 0x80;   // network encryption required

// file_flags2 (revision 6 only)
constexpr uint32_t kFlags2PatchedFrom4 = 0x01;
constexpr uint32_t kFlags2UpgradePending = 0x02;  // also: patched from 5
constexpr uint32_t kFlags2LongRecordLength = 0x04;
constexpr uint32_t kFlags2PrefixedText = 0x08;
constexpr uint32_t kFlags2ExtensionText = 0x10;
constexpr uint32_t kFlags2Address48 = 0x20;
constexpr uint32_t kFlags2AllocInRecords = 0x40;
constexpr uint32_t kFlags2Prealloc = 0x100;
constexpr uint32_t kFlags2ChangeTracking = 0x200;
constexpr uint32_t kFlags2StoredGrfa = 0x400;
constexpr uint32_t kFlags2TrackChangesOption = 0x1000;
constexpr uint32_t kFlags2PatchedMask = kFlags2PatchedFrom4 | kFlags2UpgradePending;

// key_flags
constexpr uint8_t kKeyFifo = 0x02;
constexpr uint8_t kKeyDuplicates = 0x04;
constexpr uint8_t kKeyModifiable = 0x08;
constexpr uint8_t kKeyNullReplicating = 0x10;
constexpr uint8_t kKeyNullNonReplicating = 0x20;
constexpr uint8_t kKeyNullShort = 0x40;
constexpr uint8_t kKeyNullRules = 0x70;
constexpr uint8_t kOldKeyAscending = 0x01;  // old key records only

// autokey_flags
constexpr uint8_t kAutoTimestamp = 0x01;
constexpr uint8_t kAutoSequence = 0x02;
constexpr uint8_t kAutoGuid = 0x04;
constexpr uint8_t kAutoChangeTracking = 0x10;
constexpr uint8_t kAutoReportedK = 0x20;

// seg_type
constexpr uint8_t kSegAlpha = 1;
constexpr uint8_t kSegDecimal = 2;
constexpr uint8_t kSegInteger = 4;
constexpr uint8_t kSegUnsigned = 8;
constexpr uint8_t kSegNoCase = 16;
constexpr uint8_t kSegTypeMask = 0x1F;
constexpr uint8_t kSegAscending = 0x20;

// PortIntSpec kind
constexpr uint8_t kPortIntKind = 4;

// Dynamic flags byte of the free-list parts.
constexpr uint8_t kDynIndexFreeListOverflow = 0x01;

// File-text allocation word (prefix form).
constexpr uint32_t kTextAllocInKb = 0x08000000;
constexpr uint32_t kTextAllocByteMark = 0x04000000;
constexpr uint32_t kTextAllocValueMask = 0x03FFFFFF;

// Address widths in bytes.
constexpr int kRfaWidth32 = 4;
constexpr int kRfaWidth40 = 5;
constexpr int kRfaWidth48 = 6;
constexpr int kRootWidth = 4;         // key roots without tbyte
constexpr int kRootWidthTbyte = 5;    // key roots of tbyte files
constexpr uint32_t kIndexUnit = 256;  // index addresses of tbyte files

// ---------------------------------------------------------------------------
// IsamHeader: the first 52 bytes of the header page (revision 4 and later).
// ---------------------------------------------------------------------------
struct IsamHeader {
  uint16_t magic = 0;
  uint8_t revision = 0;
  uint8_t file_flags = 0;
  uint8_t key_count = 0;
  uint8_t page_units = 0;  // index block size in units of 256 bytes
  uint8_t port_int_count = 0;
  uint8_t data_header_units = 0;
  uint16_t record_overhead = 0;
  uint16_t header_size = 0;
  uint16_t dynamic_size = 0;
  uint16_t max_key_size = 0;
  uint16_t record_size = 0;
  uint16_t null_area_size = 0;
  uint32_t file_flags2 = 0;
  uint32_t dynamic_offset = 0;
  uint32_t created = 0;
  uint32_t cleared = 0;
  uint32_t verified = 0;
  uint32_t reindexed = 0;
  std::array<char, kCreationVersionSize> creation_version{};

  bool operator==(const IsamHeader&) const = default;
};

bool decode_isam_header(const uint8_t* p, size_t len, IsamHeader* out);
bool encode_isam_header(const IsamHeader& h, uint8_t* p, size_t len);

// Layout predicates. "Patched": revision 6 with file_flags2 0x01 or 0x02.
bool is_old_layout(const IsamHeader& h);         // revisions 0 to 3
bool is_patched(const IsamHeader& h);            // revision 6, patched
bool is_r6_unpatched(const IsamHeader& h);       // revision 6 with extension
bool uses_short_free_list(const IsamHeader& h);  // revisions 4, 5, patched
// The revision a patched file was patched from: 4 with 0x01, else 5.
int patched_from(const IsamHeader& h);
bool is_tbyte(const IsamHeader& h);
bool is_address48(const IsamHeader& h);  // tbyte and file_flags2 0x20
// Width of an RFA: 4, 5 with tbyte, 6 with tbyte and 48-bit addressing.
int rfa_width(const IsamHeader& h);
// Width of a key root in the dynamic header: 4, or 5 in tbyte files.
int root_width(const IsamHeader& h);
// Width of an index entry address: RFA width, plus 2 with sized headers.
int index_entry_width(const IsamHeader& h);
// Index block size in bytes (page_units x 256).
uint32_t page_bytes(const IsamHeader& h);
// Addressing shown by the description writers: 32, 40 or 48.
int address_bits(const IsamHeader& h);

// Revision-6 creation version: "MMmmBBB" with an optional letter.
struct CreationVersion {
  int major = 0;
  int minor = 0;
  int build = 0;
  char letter = ' ';  // blank when the build number uses all three characters
};
CreationVersion parse_creation_version(const IsamHeader& h);

// ---------------------------------------------------------------------------
// KeyDescriptor (68 bytes).
// ---------------------------------------------------------------------------
struct KeyDescriptor {
  uint8_t key_flags = 0;
  uint8_t autokey_flags = 0;
  uint8_t density = 0;
  uint8_t reserved1 = 0;
  std::array<uint8_t, kMaxSegments> seg_type{};
  std::array<uint16_t, kMaxSegments> seg_start{};
  std::array<uint16_t, kMaxSegments> seg_length{};
  uint16_t null_offset = 0;
  uint16_t key_size = 0;
  uint16_t qualifier_offset = 0;
  std::array<uint8_t, 2> reserved2{};
  std::array<char, kKeyNameSize> key_name{};

  bool operator==(const KeyDescriptor&) const = default;
};

bool decode_key_descriptor(const uint8_t* p, size_t len, KeyDescriptor* out);
bool encode_key_descriptor(const KeyDescriptor& k, uint8_t* p, size_t len);
// Number of segments: up to the first zero length (0 to 8).
int segment_count(const KeyDescriptor& k);
int segment_count(const std::array<uint16_t, kMaxSegments>& seg_length);
// A key is segmented when its second length is not 0.
bool is_segmented(const KeyDescriptor& k);
// Duplicate qualifier width: 3, or 4 in tbyte files.
int qualifier_width(const IsamHeader& h);

// ---------------------------------------------------------------------------
// PortIntSpec (4 bytes).
// ---------------------------------------------------------------------------
struct PortIntSpec {
  uint8_t kind = 0;  // kPortIntKind for portable integer fields
  uint8_t length = 0;
  uint16_t position = 0;

  bool operator==(const PortIntSpec&) const = default;
};

bool decode_port_int_spec(const uint8_t* p, size_t len, PortIntSpec* out);
bool encode_port_int_spec(const PortIntSpec& s, uint8_t* p, size_t len);

// ---------------------------------------------------------------------------
// NullValueArea: null values, each a count byte n and n-1 value bytes.
// ---------------------------------------------------------------------------
struct NullValueArea {
  std::vector<uint8_t> bytes;  // null_area_size bytes

  bool operator==(const NullValueArea&) const = default;
};

// The value bytes of the null value at `offset`: false when the value (its
// count byte and the bytes it announces) does not lie within the area. A
// count byte of 0 or 1 is the empty value.
bool null_value_at(const NullValueArea& area, size_t offset, const uint8_t** value,
                   size_t* value_len);
// The same, on the area's bytes.
bool null_value_at(const std::vector<uint8_t>& area, size_t offset, const uint8_t** value,
                   size_t* value_len);

// ---------------------------------------------------------------------------
// R6Extension (40 bytes, revision 6 unpatched).
// ---------------------------------------------------------------------------
struct R6Extension {
  uint64_t seed = 0;
  uint32_t allocation = 0;  // 512-byte blocks, or records with 0x40
  uint32_t data_start = 0;
  uint32_t text_offset = 0;
  uint32_t reorganized = 0;
  std::array<uint8_t, 12> reserved1{};
  uint8_t compat_level = 0;
  uint8_t text_alloc_kb = 0;
  std::array<uint8_t, 2> reserved2{};

  bool operator==(const R6Extension&) const = default;
};

bool decode_r6_extension(const uint8_t* p, size_t len, R6Extension* out);
bool encode_r6_extension(const R6Extension& e, uint8_t* p, size_t len);

// ---------------------------------------------------------------------------
// Free-list part, revision 6 form (1616 bytes). This is also the in-memory
// form of every revision: the older forms are converted into it on open.
// ---------------------------------------------------------------------------
struct FreeSlot {
  uint32_t address_low = 0;
  uint16_t address_high = 0;  // one byte, or 16 bits with 48-bit addressing
  uint16_t size = 0;
  std::array<uint8_t, 4> reserved{};

  bool operator==(const FreeSlot&) const = default;
};

struct FreeListPart {
  uint8_t slot_count = 0;
  uint8_t dynamic_flags = 0;
  std::array<uint8_t, 4> reserved1{};
  uint16_t vector_count = 0;  // 0xFFFF: 65535 or more
  uint32_t record_count = 0;
  uint32_t free_record_count = 0;
  uint32_t unusable_space = 0;
  uint32_t free_list_head = 0;      // low 32 bits; 256-byte units in tbyte files
  uint8_t free_list_head_high = 0;  // bits 32-39 with 48-bit addressing
  std::array<uint8_t, 7> reserved2{};
  std::array<FreeSlot, kFreeSlotsFull> slots{};

  bool operator==(const FreeListPart&) const = default;
};

bool decode_free_list_part(const uint8_t* p, size_t len, FreeListPart* out);
bool encode_free_list_part(const FreeListPart& f, uint8_t* p, size_t len);

// Address of a free slot: the low 32 bits plus the high part (one byte, or
// 16 bits with 48-bit addressing; nothing without tbyte).
uint64_t free_slot_address(const FreeSlot& s, const IsamHeader& h);

// ---------------------------------------------------------------------------
// Free-list part, revisions 4 and 5 and patched files (280 bytes).
// ---------------------------------------------------------------------------
struct ShortFreeSlot {
  uint32_t address_low = 0;
  uint8_t address_high = 0;
  uint8_t reserved = 0;
  uint16_t size = 0;

  bool operator==(const ShortFreeSlot&) const = default;
};

struct ShortFreeListPart {
  uint8_t slot_count = 0;
  uint8_t dynamic_flags = 0;
  uint16_t update_count = 0;
  uint16_t free_index_blocks = 0;
  uint16_t vector_count = 0;
  uint32_t record_count = 0;
  uint32_t free_record_count = 0;
  uint32_t unusable_space = 0;
  uint32_t free_list_head = 0;
  std::array<ShortFreeSlot, kFreeSlotsShort> slots{};

  bool operator==(const ShortFreeListPart&) const = default;
};

bool decode_short_free_list_part(const uint8_t* p, size_t len, ShortFreeListPart* out);
bool encode_short_free_list_part(const ShortFreeListPart& f, uint8_t* p, size_t len);

// ---------------------------------------------------------------------------
// FileCounters (52 bytes).
// ---------------------------------------------------------------------------
struct FileCounters {
  int64_t autoseed = 0;  // negative: the sequence is exhausted
  uint32_t update_count = 0;
  uint32_t free_index_blocks = 0;
  uint32_t data_leof = 0;       // low 32 bits, bytes
  uint16_t data_leof_high = 0;  // bits 32-39 (tbyte), 32-47 (48-bit)
  uint8_t snapshot_count = 0;
  uint8_t tracking_slot = 0;
  uint32_t index_leof = 0;      // low 32 bits; 256-byte units in tbyte files
  uint8_t index_leof_high = 0;  // bits 32-39 of the units with 48-bit
  uint8_t reserved1 = 0;
  uint16_t tracking_mark = 0;  // change-tracking mark
  uint32_t snapshot_base = 0;
  uint32_t text_length = 0;
  std::array<uint8_t, 12> reserved2{};

  bool operator==(const FileCounters&) const = default;
};

bool decode_file_counters(const uint8_t* p, size_t len, FileCounters* out);
bool encode_file_counters(const FileCounters& c, uint8_t* p, size_t len);

// Logical ends of file and the free-list head in bytes, as the description
// writers and the preallocation check use them.
uint64_t data_leof_bytes(const FileCounters& c, const IsamHeader& h);
uint64_t index_leof_bytes(const FileCounters& c, const IsamHeader& h);
uint64_t free_list_head_bytes(const FreeListPart& f, const IsamHeader& h);

// ---------------------------------------------------------------------------
// ChangeTrackingArea (1028 bytes): the time of tracking slot s at offset 4 s.
// ---------------------------------------------------------------------------
struct ChangeTrackingArea {
  std::array<uint32_t, kChangeTrackingSlots> times{};

  bool operator==(const ChangeTrackingArea&) const = default;
};

bool decode_change_tracking(const uint8_t* p, size_t len, ChangeTrackingArea* out);
bool encode_change_tracking(const ChangeTrackingArea& a, uint8_t* p, size_t len);
// Time of tracking slot `slot` (always within the table: 255 < 257).
uint32_t tracking_time(const ChangeTrackingArea& a, uint8_t slot);

// ---------------------------------------------------------------------------
// File-text prefix (8 bytes, file_flags2 0x08).
// ---------------------------------------------------------------------------
struct FileTextPrefix {
  uint32_t allocation_word = 0;
  uint32_t length = 0;

  bool operator==(const FileTextPrefix&) const = default;
};

bool decode_file_text_prefix(const uint8_t* p, size_t len, FileTextPrefix* out);
bool encode_file_text_prefix(const FileTextPrefix& t, uint8_t* p, size_t len);
// Allocation in bytes of an allocation word: the low 26 bits, in kilobytes
// when bit 0x08000000 is set, else in bytes (bit 0x04000000 is no value bit).
uint64_t text_allocation_bytes(uint32_t allocation_word);

// ---------------------------------------------------------------------------
// Old layout (revisions 0 to 3): 836-byte header block and 60-byte key
// records, in a 1024-byte header page whose bytes 1018-1023 hold the
// creation version.
// ---------------------------------------------------------------------------
struct OldKeyRecord {
  uint8_t flags = 0;  // 0x01 ascending; the other bits as key_flags
  uint8_t reserved1 = 0;
  uint8_t depth = 0;
  int8_t qualifier_offset = 0;
  uint32_t root = 0;
  std::array<uint16_t, kMaxSegments> starts{};
  std::array<uint16_t, kMaxSegments> lengths{};
  uint16_t key_size = 0;
  int8_t null_offset = 0;
  uint8_t reserved2 = 0;
  std::array<char, kKeyNameSize> name{};

  bool operator==(const OldKeyRecord&) const = default;
};

struct OldFreeSlot {
  uint16_t size = 0;  // 0 ends the list
  uint16_t reserved = 0;
  uint32_t address = 0;

  bool operator==(const OldFreeSlot&) const = default;
};

struct OldHeaderBlock {
  uint16_t magic = 0;
  uint8_t revision = 0;
  uint8_t file_flags = 0;
  uint8_t key_count = 0;
  uint8_t slot_count = 0;
  uint8_t reserved6 = 0;
  int8_t record_overhead = 0;
  uint16_t free_index_blocks = 0;
  uint16_t max_key_size = 0;
  uint16_t record_size = 0;
  uint16_t vector_count = 0;
  uint32_t free_list_head = 0;
  uint32_t record_count = 0;
  uint32_t free_record_count = 0;
  std::array<OldKeyRecord, kOldMaxKeys> keys{};
  std::array<OldFreeSlot, kOldMaxSlots> slots{};
  uint32_t unusable_space = 0;
  std::array<uint8_t, kOldNullAreaSize> null_area{};
  uint32_t update_count = 0;

  bool operator==(const OldHeaderBlock&) const = default;
};

bool decode_old_key_record(const uint8_t* p, size_t len, OldKeyRecord* out);
bool encode_old_key_record(const OldKeyRecord& k, uint8_t* p, size_t len);
bool decode_old_header_block(const uint8_t* p, size_t len, OldHeaderBlock* out);
bool encode_old_header_block(const OldHeaderBlock& b, uint8_t* p, size_t len);

// ---------------------------------------------------------------------------
// Conversions.
// ---------------------------------------------------------------------------
// Old header block (plus the 6 version characters from offset 1018 of the
// page; may be null) to the current IsamHeader: page_units 4,
// data_header_units 4, no port ints, null_area_size 64, header_size 0,
// dynamic_offset 0, dynamic_size 836.
IsamHeader old_header_to_isam_header(const OldHeaderBlock& b, const char* version6);
// One old key record to a KeyDescriptor (flags without 0x01, every seg_type
// alpha plus ascending, offsets sign-extended).
KeyDescriptor old_key_to_key_descriptor(const OldKeyRecord& k);
// Old header block to the free-list part and counters (the parts not held
// by the old block are left as they are).
void old_header_to_dynamic(const OldHeaderBlock& b, FreeListPart* f, FileCounters* c);
// And back, for the write-back: updates the counts, slots, roots and depths
// of `b` in place, leaving everything else as read.
void dynamic_to_old_header(const FreeListPart& f, const FileCounters& c,
                           const std::vector<uint64_t>& roots, const std::vector<uint8_t>& depths,
                           OldHeaderBlock* b);

// 280-byte part to the 1616-byte part and counters: counts and the 32
// entries copied, the 16-bit update and free-block counts widened. The 1616
// part's reserved bytes and its slots beyond 32 are cleared.
void short_to_full_free_list(const ShortFreeListPart& s, FreeListPart* f, FileCounters* c);
// And back: updates `s` in place (its reserved bytes are kept). The counts
// are narrowed to 16 bits and the first 32 entries copied.
void full_to_short_free_list(const FreeListPart& f, const FileCounters& c, ShortFreeListPart* s);

// Preallocation in 512-byte blocks. Without file_flags2 0x40 the allocation
// is already in blocks and is returned unchanged. With it: (allocation x
// (record_size + record_overhead) + added_bytes + 511) / 512, or -1 when the
// byte count reaches 2^31 - 1 in a file without tbyte.
int64_t preallocation_blocks(const IsamHeader& h, uint64_t added_bytes, uint32_t allocation);

// Per-key fill limit for a key whose density is not 0 (0 otherwise).
uint16_t key_fill_limit(const IsamHeader& h, const KeyDescriptor& k);

// Search capacity of an index block: (block bytes - 4) / (w + 2), w = 5 for
// tbyte files with 48-bit addressing, else 4.
uint32_t block_search_capacity(const IsamHeader& h);

// ---------------------------------------------------------------------------
// Revision acceptance (header validation).
// ---------------------------------------------------------------------------
// Returns null when the revision is accepted, otherwise the message the open
// passes to the detail hook (code 1052): "Old revision, run fmaint -p" or
// "File revision newer than ISMGR".
const char* revision_check_message(uint8_t revision, uint8_t file_flags);

// The header check of a freshly read header page: `bytes_read` is what the
// read returned (at most the buffer length). Returns 0 when the page is long
// enough for its layout, has the expected magic and passes the revision
// check; else 43 for ISAM index kinds, 17 otherwise. *detail (may be null)
// receives the revision message when there is one.
int check_header_page(const uint8_t* page, size_t bytes_read, uint16_t expected_magic,
                      const char** detail);

// Status of a refused compatibility level (142), or 0; with the message.
int check_compat_level(const R6Extension& e, const char** detail);

// ---------------------------------------------------------------------------
// Initial index writer: the header image, then one empty root block of
// page_units x 256 bytes per key (first byte 0xFF, all others 0), written in
// pieces of at most 4096 bytes. `write` returns the bytes it wrote. Returns
// -1 on a short write (or a bad header image), else 0.
// ---------------------------------------------------------------------------
using IndexWriter = std::function<int64_t(const uint8_t* data, size_t len)>;
int write_initial_index(const uint8_t* image, size_t image_len, const IndexWriter& write);
// The same into a buffer.
int initial_index_image(const uint8_t* image, size_t image_len, std::vector<uint8_t>* out);

// ---------------------------------------------------------------------------
// Little-endian primitives, bounds-checked by the callers above.
// ---------------------------------------------------------------------------
inline uint16_t get_u16(const uint8_t* p) {
  return static_cast<uint16_t>(p[0] | (p[1] << 8));
}
inline uint32_t get_u32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
inline uint64_t get_u64(const uint8_t* p) {
  return static_cast<uint64_t>(get_u32(p)) | (static_cast<uint64_t>(get_u32(p + 4)) << 32);
}
inline void put_u16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}
inline void put_u32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}
inline void put_u64(uint8_t* p, uint64_t v) {
  for (int i = 0; i < 8; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

}  // namespace ismgr

#endif  // ISMGR_ISAM_ISAM_FORMAT_H_
