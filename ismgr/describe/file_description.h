// The in-memory result of parsing a description: everything file creation
// needs to lay out a new, empty ISAM file pair.
//
// The original keeps this as one flat record (a fixed part of 1112 bytes, 96
// bytes per key, the file text block, then a 1024-byte null-value block); the
// offsets of that record are kept in null_area_offset and text_offset so that
// sizes derived from them stay the same, while the parts themselves are held
// as separate members here.
#ifndef ISMGR_DESCRIBE_FILE_DESCRIPTION_H_
#define ISMGR_DESCRIBE_FILE_DESCRIPTION_H_

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace ismgr {

inline constexpr uint16_t kFileDescriptionMagic = 0x5CF7;
inline constexpr uint32_t kDescriptionFixedSize = 1112;  // fixed part + null-value block
inline constexpr uint32_t kKeyDescriptionSize = 96;
inline constexpr uint32_t kNullAreaSize = 1024;
inline constexpr int kMaxSegments = 8;
inline constexpr size_t kKeyNameSize = 16;  // at most 15 characters, NUL-filled

// file_flags bits (the header's file_flags).
enum FileFlag : uint8_t {
  kFileMultiple = 0x01,
  kFileVariable = 0x02,
  kFileCompressed = 0x04,
  kFileStaticRfa = 0x08,
  kFileStaticVectoring = 0x10,
  kFileSizedHeaders = 0x20,
  kFileTbyte = 0x40,
  kFileNetworkEncrypt = 0x80,
};

// file_flags2 bits the description sets.
enum FileFlag2 : uint32_t {
  kFile2AllocInRecords = 0x40,
  kFile2Preallocate = 0x100,
  kFile2TrackChanges = 0x200,
  kFile2StoredGrfa = 0x400,
  kFile2TrackOption = 0x1000,
};

// key_flags bits.
enum KeyFlag : uint8_t {
  kKeyFifo = 0x02,
  kKeyDuplicates = 0x04,
  kKeyModifiable = 0x08,
  kKeyNullReplicate = 0x10,
  kKeyNullNoReplicate = 0x20,
  kKeyNullShort = 0x40,
  kKeyNullRules = 0x70,
};

// autokey_flags bits.
enum AutokeyFlag : uint8_t {
  kAutoTimestamp = 0x01,
  kAutoSequence = 0x02,
  kAutoGuid = 0x04,
  kAutoAny = 0x07,
};

// Segment type byte: a type in the low 5 bits, and 0x20 ascending.
enum SegmentType : uint8_t {
  kSegAlpha = 0x01,
  kSegDecimal = 0x02,
  kSegInteger = 0x04,
  kSegUnsigned = 0x08,
  kSegNocase = 0x10,
  kSegTypeMask = 0x1F,
  kSegAscending = 0x20,
};

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
  int segment_count() const {
    int n = 0;
    while (n < kMaxSegments && seg_length[n] != 0) ++n;
    return n;
  }
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
