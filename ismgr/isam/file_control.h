// IsamFileControl: the in-memory control block of one open ISAM file, and the
// pure steps of the open that build it from the bytes of the header page and
// of the dynamic header (and the inverse for the write-back).
//
// The open (which does the I/O) calls, in order:
//   check_header_page()            magic, revision, minimum length (17/43)
//   header_extra_bytes()           how much more to read when header_size > 4096
//   build_file_control()           header, keys, port ints, null values,
//                                  extension, widths, limits (1/142)
//   dynamic_layout() / check_dynamic_size()   (1)
//   load_dynamic_header()          the dynamic_size bytes just read (1)
//   file_text_location() / resolve_file_text()   (1)
// and the close, flush and the file lock's release call
// dynamic_header_bytes() for the one write of the dynamic header.
//
// Every count, length and offset taken from the file is checked against the
// bytes that hold it before use; a header that fails is refused with its
// status (1 "Bad ISAM file control" unless stated otherwise).
#ifndef ISMGR_ISAM_FILE_CONTROL_H_
#define ISMGR_ISAM_FILE_CONTROL_H_

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "ismgr/isam/isam_format.h"
#include "ismgr/platform/platform.h"

namespace ismgr {

struct ismgr_control;   // runtime context of the thread that opened the file
class BlockCache;       // index block cache
struct RecordLockNode;  // node of the record lock list

// ---------------------------------------------------------------------------
// State flags of an open file (IsamFileControl::state).
// ---------------------------------------------------------------------------
constexpr uint32_t kStateOpen = 0x20;               // always set by the open
constexpr uint32_t kStateLocking = 0x80;            // update mode, locks taken
constexpr uint32_t kStateWait = 0x100;              // IM_WAIT
constexpr uint32_t kStateSequential = 0x200;        // IM_SEQUENTIAL or lock-free
constexpr uint32_t kStateUpdate = 0x400;            // update permitted
constexpr uint32_t kStateAutoLock = 0x800;          // automatic record lock held
constexpr uint32_t kStateFileLock = 0x1000;         // file lock held
constexpr uint32_t kStateNetwork = 0x2000;          // data file on a network share
constexpr uint32_t kStateNoLock = 0x8000;           // lock-free file
constexpr uint32_t kStateExw = 0x10000;             // IM_EXW
constexpr uint32_t kStateNoStatusFlag80 = 0x40000;  // status-block flag 0x80 clear
constexpr uint32_t kStateTempFile = 0x80000;        // temporary index
constexpr uint32_t kStateTemp = 0x80200;            // IM_TEMP sets both bits
constexpr uint32_t kStateExrw = 0x200000;           // IM_EXRW

// ---------------------------------------------------------------------------
// Layout of the dynamic header block as held in memory.
// ---------------------------------------------------------------------------
enum class DynamicForm {
  kOld,    // revisions 0-3: the 836-byte old header block itself
  kShort,  // revisions 4, 5, patched: 280-byte part, roots, depths, counters
  kFull,   // revision 6: 1616-byte part, roots, depths, counters, tracking
};

struct DynamicLayout {
  DynamicForm form = DynamicForm::kFull;
  uint32_t free_list_size = 0;   // 836, 280 or 1616
  uint32_t root_width = 0;       // 4, or 5 in tbyte files
  uint32_t roots_offset = 0;     // key roots, padded to 4
  uint32_t depths_offset = 0;    // key depths, padded to 4
  uint32_t counters_offset = 0;  // FileCounters
  uint32_t tracking_offset = 0;  // ChangeTrackingArea; 0 when not laid out
  uint32_t size = 0;             // end of the last part laid out

  bool operator==(const DynamicLayout&) const = default;
};

// The parts laid out for a header (after conversion of old headers).
DynamicLayout dynamic_layout(const IsamHeader& h);

// Autokey summary slots (IsamFileControl::autokey_summary): 0x100 + key
// number in bits 0-15 (sequence), 16-31 (timestamp), 32-47 (GUID).
constexpr int kAutokeySequenceShift = 0;
constexpr int kAutokeyTimestampShift = 16;
constexpr int kAutokeyGuidShift = 32;
// The key number in a slot of the summary, or -1 when the slot is empty.
int autokey_summary_key(uint64_t summary, int shift);

// State kept by the record engine and the file lock.
struct RecordEngineMarks {
  int32_t header_changed = 0;   // dynamic header differs from disk
  bool written = false;         // files written since the last flush
  bool cache_writing = false;   // inside a header write through the cache
  int64_t current_record = -1;  // data position of the current record
  int64_t auto_lock_position = -1;
  int64_t last_refresh_time = 0;  // seconds
  uint64_t current_block = 0;     // index block address in use
  uint16_t seen_tracking_mark = 0;
};

// ---------------------------------------------------------------------------
// IsamFileControl.
// ---------------------------------------------------------------------------
struct IsamFileControl {
  // The header (converted for old files; file_flags2 cleared below 6). Its
  // magic word is the validity mark: the close sets it to 0.
  IsamHeader header;
  // Free-list part in its 1616-byte form (every revision is converted).
  FreeListPart free_list;
  std::vector<KeyDescriptor> keys;
  std::vector<PortIntSpec> port_ints;
  NullValueArea null_area;
  bool has_extension = false;  // revision 6 unpatched
  R6Extension extension;
  FileCounters counters;
  // The 280-byte part as read (revisions 4, 5 and patched files); the write
  // back converts into it so that its reserved bytes survive.
  ShortFreeListPart short_free_list;
  // Key roots as stored: low 32 bits, and in tbyte files the fifth byte as
  // bits 32-39. Use key_root_address() for the address they mean.
  std::vector<uint64_t> roots;
  std::vector<uint16_t> fill_limits;  // per key; 0 when density is 0
  std::vector<uint8_t> depths;
  int32_t index_entry_width = 0;  // RFA width, + 2 with sized headers
  int32_t record_overhead = 0;
  int32_t record_size = 0;
  int32_t record_buffer_size = 0;  // record_size + record_overhead + 1
  RecordEngineMarks engine;
  int64_t prealloc_blocks = 0;  // 512-byte blocks; -1 when not computable
  uint32_t state = 0;
  // Dynamic header: its layout and the bytes last read (layout.size bytes,
  // zero where dynamic_size did not reach). The write-back starts from these
  // bytes so that padding and reserved bytes go back as they came.
  DynamicLayout dynamic;
  std::vector<uint8_t> dynamic_image;
  bool has_tracking = false;  // ChangeTrackingArea laid out and read
  ChangeTrackingArea tracking;
  // One index block and three key buffers.
  std::vector<uint8_t> index_block;
  std::array<std::vector<uint8_t>, 3> key_buffers;
  // Old header copy (revisions 0 to 3).
  bool has_old_header = false;
  OldHeaderBlock old_header;
  ismgr_control* control = nullptr;
  // The status block's two growable work buffers (block and record).
  void* block_work_buffer = nullptr;
  void* record_work_buffer = nullptr;
  uint32_t free_slot_bound = 0;         // 32, 132, or the slot count read
  uint32_t search_capacity = 0;         // 0 when off ("NO_BINSCAN")
  RecordLockNode* lock_list = nullptr;  // null: no record locks
  platform::Handle index_handle = platform::kInvalidHandle;
  platform::Handle data_handle = platform::kInvalidHandle;
  std::vector<uint64_t> key_record_addresses;  // current record per key
  // File text (revision 6 with file_flags2 0x08 or 0x10).
  uint64_t text_allocation = 0;  // bytes
  // Allocation word as the writers show it: the prefix's first word, or
  // 0x08000000 + text_alloc_kb for text described by the extension.
  uint32_t text_allocation_word = 0;
  uint32_t text_length = 0;    // bytes in use
  uint64_t text_location = 0;  // file offset in the data file (of the prefix)
  // The text itself when the open found all of it among the bytes it read
  // first (nothing changes a file text once the file exists), and the file
  // offset of its first byte: a description then needs no read of its own.
  std::string held_text;
  uint64_t held_text_at = 0;
  uint64_t tracking_file_offset = 0;  // ChangeTrackingArea; 0 when none
  uint32_t data_start = 0;            // bytes before the first data record
  bool wide_page = false;             // index block larger than 1024 bytes
  int32_t rfa_width = 0;              // 4, 5 or 6
  bool bad_allocation = false;
  uint64_t autokey_summary = 0;
  BlockCache* cache = nullptr;
  // Temporary index opened for the same file (shares the data handle).
  IsamFileControl* linked_index = nullptr;
  int temp_sequence = 0;
};

// Validity rule of close, flush and lock release: 0x5CA5 with both handles,
// 0x5CB5 with a data handle and no index handle, 0x5CE7 with an index handle.
bool file_control_valid(const IsamFileControl* fc);

// Address a key root means: in tbyte files the unit count (the fifth byte
// counts only with 48-bit addressing) times 256; otherwise the byte offset.
uint64_t key_root_address(const IsamFileControl& fc, size_t key);

// ---------------------------------------------------------------------------
// Building the control block.
// ---------------------------------------------------------------------------
// Bytes to read after the first 4096 of the header page: header_size - 4096
// for revision 4 and later when header_size is larger, else 0. The page must
// hold at least the 52-byte header (else 0).
size_t header_extra_bytes(const uint8_t* page, size_t len);

// Builds the header part of the control block from the header page (`len`
// bytes: the first read plus the extra bytes; bytes the file did not hold are
// zero). The page must have passed check_header_page(). Converts old headers,
// decodes the key descriptors, port ints, null values and the extension,
// checks every count and offset against header_size and the record, and
// sets the widths, fill limits, data start, preallocated blocks, autokey
// summary, record sizes and buffers. Status 0, 1 (damaged header) or 142
// (compatibility level); *detail (may be null) receives the message for the
// detail hook when there is one.
int build_file_control(const uint8_t* page, size_t len, IsamFileControl* fc, const char** detail);

// Status 1 when dynamic_size exceeds the parts laid out for the header.
int check_dynamic_size(const IsamFileControl& fc);

// Decodes the dynamic header from the `len` bytes read at dynamic_offset
// (normally dynamic_size bytes; bytes beyond `len` count as zero) into the
// free-list part, roots, depths, counters and change-tracking area,
// converting the older forms; sets the free-slot bound and the tracking
// area's file offset. Used by the open and by the header refresh. Status 0
// or 1 (a slot count beyond its table, or more bytes than laid out).
// `keep_tracking` leaves the change-tracking area in memory as it is: the
// header refresh re-reads it from the data file instead, whose copy is the
// current one (the index file's copy is never written back).
int load_dynamic_header(const uint8_t* block, size_t len, IsamFileControl* fc,
                        bool keep_tracking = false);

// The dynamic header in its on-disk form for the one write at
// dynamic_offset: converted back into the old block or the 280-byte part,
// and without the change-tracking area (which the close never writes).
std::vector<uint8_t> dynamic_header_bytes(const IsamFileControl& fc);

// Where the file text (or its prefix) lies in the data file: with the
// prefix, dynamic_offset + dynamic_size in patched files, else text_offset;
// with the extension form text_offset. 0 when the file has no file text.
uint64_t file_text_location(const IsamFileControl& fc);
bool has_file_text(const IsamFileControl& fc);
bool file_text_prefixed(const IsamFileControl& fc);

// Settles allocation, length and location of the file text. `prefix` holds
// the bytes read at the location (prefix form; null or short when they could
// not be read: allocation and length are then 0). `data_file_size` bounds
// the text. Status 1 with "File text allocation wrong in header" when the
// extension form's allocation disagrees with the data start; status 1 when
// the length exceeds the allocation or the text runs past the data file.
int resolve_file_text(IsamFileControl* fc, const uint8_t* prefix, size_t prefix_len,
                      uint64_t data_file_size, const char** detail);

// ---------------------------------------------------------------------------
// Revisions, marker files and work files.
// ---------------------------------------------------------------------------
// Name of the ".is2" marker of an expanded index name: its last "." replaced
// by "_", then ".is2" appended (cust.ism -> cust_ism.is2).
std::string is2_marker_name(const std::string& index_name);

// True when the page begins with the work-file magic 0xA2BF.
bool is_work_file(const uint8_t* page, size_t len);
// The name of the file under rebuild, stored at offset 16 of a work file's
// first page: read up to its NUL or the end of the `len` bytes, whichever
// comes first, never beyond. False when the page is too short to hold any
// name or the name is empty.
bool work_file_target(const uint8_t* page, size_t len, std::string* name);
// The last component of a stored name (after the last "\" or "/", else after
// the last ":"), for the second attempt in the current directory.
std::string last_name_component(const std::string& name);

}  // namespace ismgr

#endif  // ISMGR_ISAM_FILE_CONTROL_H_
