// What the description writers read of one open ISAM file: a copy of the
// header, key descriptors, portable-integer fields, null values, revision-6
// extension, dynamic header counters and the control block's derived fields,
// plus a small interface for the little file I/O a description needs (the
// file text in the data file and the sizes of both files).
//
// The writers never see the control block itself: they work on this copy,
// so a description can never change the open file's state, and they can be
// exercised on crafted values without any file.
#ifndef ISMGR_TOOL_FILE_VIEW_H_
#define ISMGR_TOOL_FILE_VIEW_H_

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace ismgr::tool {

struct KeyView {
  uint8_t key_flags = 0;      // 0x02 fifo, 0x04 dups, 0x08 modify, 0x10/0x20/0x40 null rules
  uint8_t autokey_flags = 0;  // 0x01 timestamp, 0x02 sequence, 0x04 GUID, 0x10 change tracking
  uint8_t density = 0;
  std::array<uint8_t, 8> seg_type{};  // low 5 bits type code, 0x20 ascending
  std::array<uint16_t, 8> seg_start{};
  std::array<uint16_t, 8> seg_length{};
  uint16_t null_offset = 0;
  uint16_t key_size = 0;
  uint16_t qualifier_offset = 0;
  std::array<char, 16> key_name{};
  // The key's root address as stored in the dynamic header: the low 32 bits
  // and the fifth byte (bits 32-39 of the unit count with 48-bit addressing).
  uint32_t root_low = 0;
  uint8_t root_high = 0;
  uint8_t depth = 0;
};

struct PortIntView {
  uint8_t kind = 0;  // 4: portable integer field
  uint8_t length = 0;
  uint16_t position = 0;
};

struct FileView {
  // IsamHeader.
  uint16_t magic = 0;
  uint8_t revision = 0;
  uint8_t file_flags = 0;
  uint8_t key_count = 0;
  uint8_t page_units = 0;
  uint16_t max_key_size = 0;
  uint16_t record_size = 0;
  uint32_t file_flags2 = 0;
  uint32_t dynamic_offset = 0;
  uint16_t dynamic_size = 0;
  uint32_t created = 0;
  uint32_t cleared = 0;
  uint32_t verified = 0;
  uint32_t reindexed = 0;
  std::array<char, 8> creation_version{};

  std::vector<KeyView> keys;  // key_count entries (fewer only for a damaged header)
  std::vector<PortIntView> port_ints;
  std::vector<uint8_t> null_area;

  // R6Extension; zero where the file has none (before revision 6, patched).
  uint64_t seed = 0;
  uint32_t allocation = 0;
  uint32_t data_start = 0;
  uint32_t text_offset = 0;
  uint32_t reorganized = 0;
  uint8_t compat_level = 0;
  uint8_t text_alloc_kb = 0;

  // Free-list part of the dynamic header.
  uint8_t dynamic_flags = 0;  // 0x01 index free list overflow
  uint16_t vector_count = 0;
  uint32_t record_count = 0;
  uint32_t free_record_count = 0;
  uint32_t unusable_space = 0;
  uint32_t free_list_head = 0;
  uint8_t free_list_head_high = 0;

  // FileCounters.
  int64_t autoseed = 0;
  uint32_t update_count = 0;
  uint32_t free_index_blocks = 0;
  uint32_t data_leof = 0;
  uint16_t data_leof_high = 0;  // one byte, or 16 bits with 48-bit addressing
  uint8_t snapshot_count = 0;
  uint8_t tracking_slot = 0;
  uint32_t index_leof = 0;
  uint8_t index_leof_high = 0;
  uint32_t snapshot_base = 0;
  // ChangeTrackingArea: times indexed by the tracking slot.
  std::array<uint32_t, 257> tracking_times{};

  // Fields of the control block the open derives.
  int32_t record_overhead = 0;    // bytes the data file adds to each record
  int32_t index_entry_width = 4;  // address width of index entries
  uint64_t text_allocation = 0;   // file text allocation in bytes
  uint32_t text_length = 0;       // file text bytes in use
  uint64_t text_location = 0;     // file offset of the file text (or its prefix)
  uint64_t autokey_summary = 0;   // 0x100 + key per slot: sequence, timestamp, GUID
  bool index_open = true;         // false when described from the data file only
};

// The file I/O a description performs. Every call may fail; the writers then
// fall back to a display that keeps the description valid.
class DescribeIo {
 public:
  virtual ~DescribeIo() = default;
  // Reads exactly `count` bytes of the data file at `offset`.
  virtual bool read_data(uint64_t offset, void* buffer, uint32_t count) = 0;
  virtual bool index_file_size(int64_t* size) = 0;
  virtual bool data_file_size(int64_t* size) = 0;
};

// Values the writers derive from a view.
namespace derive {

inline uint32_t page_size(const FileView& f) {
  return static_cast<uint32_t>(f.page_units) * 256;
}
inline bool tbyte(const FileView& f) {
  return (f.file_flags & 0x40) != 0;
}
inline bool addr48(const FileView& f) {
  return (f.file_flags2 & 0x20) != 0;
}
// Revision 6 and not patched up from 4 or 5.
inline bool unpatched(const FileView& f) {
  return f.revision >= 6 && (f.file_flags2 & 0x03) == 0;
}
inline bool patched(const FileView& f) {
  return f.revision >= 6 && (f.file_flags2 & 0x03) != 0;
}
inline int patched_from(const FileView& f) {
  return (f.file_flags2 & 0x01) ? 4 : 5;
}
inline bool has_file_text(const FileView& f) {
  return f.revision >= 6 && (f.file_flags2 & 0x18) != 0;
}
inline bool change_tracking(const FileView& f) {
  return (f.file_flags2 & 0x200) != 0;
}

uint64_t index_leof_bytes(const FileView& f);
uint64_t data_leof_bytes(const FileView& f);
uint64_t free_list_head_bytes(const FileView& f);
uint64_t root_address(const FileView& f, const KeyView& k);

// Preallocation in 512-byte blocks: the allocation itself, or with an
// allocation in records the blocks those records and `added` bytes need;
// -1 when that cannot be expressed.
int64_t prealloc_blocks(const FileView& f, uint32_t added, uint32_t allocation);

// Revision-6 creation version: "major.minor.build" and a letter (blank when
// the build number takes all three characters).
struct CreationVersion {
  int major = 0, minor = 0, build = 0;
  char letter = ' ';
};
CreationVersion creation_version(const FileView& f);
// Before revision 6: the NUL-terminated text (at most 8 characters).
std::string creation_version_text(const FileView& f);

// The key name: the first 15 characters, trailing white space removed.
std::string key_name(const KeyView& k);

}  // namespace derive

}  // namespace ismgr::tool

#endif  // ISMGR_TOOL_FILE_VIEW_H_
