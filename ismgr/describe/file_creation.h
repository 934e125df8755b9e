// File creation: turns a parsed FileDescription into a new, empty ISAM file
// pair. The header page and the dynamic header block are first laid out in
// memory (build_header), the keys are checked against one another
// (check_key_overlap), then the data file receives the header image (and a
// file text that does not fit beside the dynamic block), and the index file
// the same image followed by one empty root block per key.
//
// Only revisions 4 and 6 are created. A creation that fails leaves no file
// behind: both files are closed and deleted.
#ifndef ISMGR_DESCRIBE_FILE_CREATION_H_
#define ISMGR_DESCRIBE_FILE_CREATION_H_

#include <cstdint>
#include <string>
#include <vector>

#include "ismgr/describe/file_description.h"
#include "ismgr/isam/isam_format.h"

namespace ismgr {

// Sizes the header image is rounded to: one unit per part.
inline constexpr uint32_t kHeaderUnitRev4 = 1024;
inline constexpr uint32_t kHeaderUnitRev6 = 4096;

// Longest file text a file may carry.
inline constexpr size_t kMaxFileText = 65536;

// The layer version written into new files.
inline constexpr int kLayerVersionMajor = 10;
inline constexpr int kLayerVersionMinor = 1;
inline constexpr int kLayerVersionBuild = 1;
inline constexpr char kLayerVersionLetter = 'c';
inline constexpr char kLayerVersionText[] = "10.1.1c";

// Name of the key that change tracking adds after the described keys.
inline constexpr char kChangeTrackingKeyName[] = "Change Tracking";

// Marks of the record-byte map beyond the type bits (low 5 bits): the first
// byte of a field, an autokey's first byte, the last byte of a field longer
// than one byte.
inline constexpr uint8_t kMapFieldStart = 0x40;
inline constexpr uint8_t kMapAutokey = 0x20;
inline constexpr uint8_t kMapFieldEnd = 0x80;

// The header page and dynamic header of a new file, part by part. render()
// lays them out in file order.
struct HeaderImage {
  IsamHeader header;
  std::vector<KeyDescriptor> keys;     // header.key_count entries
  std::vector<PortIntSpec> port_ints;  // header.port_int_count entries
  std::vector<uint8_t> null_area;      // header.null_area_size bytes
  bool has_extension = false;          // revision 6
  R6Extension extension;

  // Dynamic block: the free-list part in its revision-6 form (revision 4
  // files write its first 32 entries in the 280-byte form), the key roots
  // as stored (byte offsets, or 256-byte units in tbyte files), the depths,
  // and for revision 6 the counters and the change-tracking times.
  FreeListPart free_list;
  std::vector<uint64_t> roots;
  std::vector<uint8_t> depths;
  bool has_counters = false;  // revision 6
  FileCounters counters;
  bool has_tracking = false;
  ChangeTrackingArea tracking;

  uint32_t unit = 0;               // 1024 or 4096
  uint32_t root_width = 0;         // 4, or 5 in tbyte files
  uint32_t roots_offset = 0;       // within the dynamic block
  uint32_t depths_offset = 0;      //
  uint32_t counters_offset = 0;    //
  uint32_t tracking_offset = 0;    //
  uint32_t image_size = 0;         // header part + dynamic part, each rounded to the unit
  uint32_t data_header_bytes = 0;  // image_size, plus the text allocation in the data file

  // File text. In the prefix form it stands right after the dynamic block
  // (within image_size): an 8-byte prefix, then the text.
  bool text_in_image = false;
  FileTextPrefix text_prefix;
  std::string text;
  uint32_t text_allocation = 0;  // bytes

  // The image bytes (image_size of them). `with_text` false leaves the text
  // area zero (the index file's copy); true writes prefix and text.
  std::vector<uint8_t> render(bool with_text) const;
};

// Builds the header image of a new file of `revision` (4 or 6) from
// `description`, whose file-name `name` may carry a creation option string
// after a comma (applied to `description` first). Errors raise a status
// after their details: 2 (illegal key), 16 (preallocation too large), 30,
// 31, 32, 35 (record length), 39 (key beyond the record), 41 (no key), 68
// (overlapping numeric keys), and those of the creation option string.
HeaderImage build_header(FileDescription& description, const std::string& name, int revision);

// Checks the segments of `keys` (the change-tracking key excepted) against
// the fields marked before them in `byte_map` (record_size bytes) and marks
// them. Alpha fields may share bytes freely; a numeric segment may only
// coincide with a field of the same numeric type that starts and ends on the
// same bytes, and an autokey's field is never shared. Returns 0, or -1 with
// *bad_key the number of the offending key.
int check_key_overlap(const std::vector<KeyDescriptor>& keys, const FileDescription& description,
                      std::vector<uint8_t>& byte_map, int* bad_key);

// The initial free-slot table of a new file for slot size b = record_overhead
// + record_size, per header (file_flags, revision, record_overhead,
// record_size). Each entry has the address "none" (all ones).
std::vector<FreeSlot> initial_free_slots(const IsamHeader& h);

// Estimated number of index blocks the preallocated records need, over all
// keys (see file_creation.cpp).
uint64_t estimate_index_blocks(const IsamHeader& h, const std::vector<KeyDescriptor>& keys,
                               uint64_t records);

// Creates the file pair named by `name` (up to its first comma; options after
// it are applied) from `description`. `replace` allows existing files to be
// replaced (IM_SPRCED). Returns 0, setting the description's magic to 0, or
// -1 with the status code in the status block of the description's context
// (the thread's context when it has none) after the detail 1149. Every
// failure after the files were created deletes both.
int create_isam_file(FileDescription& description, const std::string& name, bool replace,
                     int revision);

// The index and data file names of a file name (the name before its first
// comma), expanded as a new file's name with the default ISAM extension.
// Returns 0, or the status of a name that cannot be used (58 without a "."
// in its last component, 4 when too long).
int creation_file_names(const std::string& name, std::string* index_name, std::string* data_name);

}  // namespace ismgr

#endif  // ISMGR_DESCRIBE_FILE_CREATION_H_
