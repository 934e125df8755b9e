// The in-memory result of parsing a description: everything file creation
// needs to lay out a new, empty ISAM file pair.
//
// The description is sized as one flat record (a fixed part of 1112 bytes,
// 96 bytes per key, the file text block, then a 1024-byte null-value block);
// the offsets of that record are kept in null_area_offset and text_offset so
// that sizes derived from them stay the same, while the parts themselves are
// held as separate members here.
#ifndef ISMGR_DESCRIBE_FILE_DESCRIPTION_H_
#define ISMGR_DESCRIBE_FILE_DESCRIPTION_H_

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "ismgr/isam/isam_format.h"

namespace ismgr {

inline constexpr uint16_t kFileDescriptionMagic = 0x5CF7;
inline constexpr uint32_t kDescriptionFixedSize = 1112;  // fixed part + null-value block
inline constexpr uint32_t kKeyDescriptionSize = 96;
inline constexpr uint32_t kNullAreaSize = 1024;
inline constexpr int kKeySegmentSlots = static_cast<int>(kMaxSegments);

// Bits of file_flags, file_flags2, key_flags, autokey_flags and seg_type are
// those of the on-disk header (isam_format.h).
inline constexpr uint8_t kAutoAny = kAutoTimestamp | kAutoSequence | kAutoGuid;

struct KeyDescription {
  uint8_t key_flags = 0;
  uint8_t autokey_flags = 0;
  uint8_t density = 0;  // percent; 0 = default
  std::array<uint8_t, kMaxSegments> seg_type{};
  std::array<uint16_t, kMaxSegments> seg_start{};   // 0-based
  std::array<uint16_t, kMaxSegments> seg_length{};  // the first 0 ends the list
  uint16_t null_offset = 0;                         // of the key's entry in the null-value block
  uint16_t key_size = 0;
  std::array<char, kKeyNameSize> key_name{};

  // Segments in use: those before the first zero length.
  int segment_count() const { return ismgr::segment_count(seg_length); }
};

// A portable-integer field (kind 4), position 1-based.
struct PortIntEntry {
  uint8_t kind = 4;
  uint8_t length = 0;
  uint16_t position = 0;
};

struct FileDescription {
  uint16_t magic = kFileDescriptionMagic;
  uint8_t revision = 0;
  uint8_t file_flags = 0;
  uint8_t key_count = 0;
  uint8_t page_units = 0;      // index block size in 256-byte units; 0 = creation decides
  uint8_t port_int_count = 0;  // entries in port_ints
  uint8_t text_alloc_kb = 0;   // 0 = none given
  uint16_t density = 0;
  uint16_t null_area_size = 0;  // bytes in use in null_area
  uint16_t record_size = 0;
  uint32_t null_area_offset = 0;  // in the flat record: its size less 1024
  uint32_t text_offset = 0;       // in the flat record; 0 = no text
  uint32_t allocation = 0;
  uint32_t file_flags2 = 0;
  int32_t change_tracking_start = 0;  // set by the creation options only
  int64_t seed = 0;
  void* control = nullptr;  // the context whose status block receives errors

  std::vector<KeyDescription> keys;  // key_count entries
  std::vector<PortIntEntry> port_ints;
  bool has_text = false;
  std::string text;  // at most 65535 bytes
  // Chain of entries: a length byte L (counting itself) and L - 1 value
  // bytes; a zero length byte ends the chain.
  std::array<uint8_t, kNullAreaSize> null_area{};

  // Size of the flat record.
  uint32_t record_bytes() const {
    return kDescriptionFixedSize + kKeyDescriptionSize * static_cast<uint32_t>(keys.size()) +
           (has_text ? 4 + static_cast<uint32_t>(text.size()) : 0);
  }
};

}  // namespace ismgr

#endif  // ISMGR_DESCRIBE_FILE_DESCRIPTION_H_
