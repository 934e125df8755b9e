// Test helper: crafts ISAM index and data files byte by byte, for every
// revision (0 to 6, patched from 4 and 5, tbyte and 48-bit, change tracking,
// file text in both forms, null values, port ints).
//
// It writes every field at its own offsets, without the layer's encoders,
// so that tests of the decoders cross-check them. The layout follows the
// file creation: header page, dynamic header at the next unit (1024 bytes
// before revision 6, 4096 from 6), data header region, one empty root block
// per key in the index file.
//
//   IsamBuilder b;
//   b.revision(6).record_length(100).add_key(KeySpec::alpha("CUST", 0, 10));
//   b.write_files(dir, "cust");   // dir/cust.ism and dir/cust.is1
//
// Damage is applied after building with poke_index()/poke_data() or the
// overrides below.
#ifndef ISMGR_TESTS_SUPPORT_ISAM_BUILDER_H_
#define ISMGR_TESTS_SUPPORT_ISAM_BUILDER_H_

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace ismgr::testing {

struct SegmentSpec {
  uint8_t type = 0x21;  // alpha, ascending
  uint16_t start = 0;
  uint16_t length = 0;
};

struct KeySpec {
  uint8_t flags = 0;    // key_flags (0x04 duplicates, 0x10/0x20/0x40 nulls)
  uint8_t autokey = 0;  // autokey_flags
  uint8_t density = 0;
  std::vector<SegmentSpec> segments;
  uint16_t key_size = 0;  // 0: sum of the segments, plus the qualifier with duplicates
  uint16_t null_offset = 0;
  uint16_t qualifier_offset = 0;
  std::string name;
  std::optional<uint64_t> root;  // default: where the creation puts it
  uint8_t depth = 1;

  static KeySpec alpha(const std::string& name, uint16_t start, uint16_t length, uint8_t flags = 0);
};

class IsamBuilder {
 public:
  IsamBuilder();

  // Layout choices.
  IsamBuilder& revision(int r);      // 0 to 6 (and beyond, for refusals)
  IsamBuilder& patched_from(int r);  // 4 or 5: revision 6, file_flags2 0x01 / 0x02
  IsamBuilder& magic(uint16_t m);    // index file magic (default 0x5CA5)
  IsamBuilder& record_length(uint16_t n);
  IsamBuilder& record_overhead(uint16_t n);
  IsamBuilder& file_flags(uint8_t f);
  IsamBuilder& file_flags2(uint32_t f);  // ORed into what the builder sets
  IsamBuilder& tbyte(bool address48 = false);
  IsamBuilder& page_units(uint8_t units);
  IsamBuilder& add_key(const KeySpec& key);
  IsamBuilder& port_int(uint16_t position, uint8_t length, uint8_t kind = 4);
  IsamBuilder& null_values(const std::vector<uint8_t>& area);
  IsamBuilder& times(uint32_t created, uint32_t cleared, uint32_t verified, uint32_t reindexed);
  IsamBuilder& creation_version(const std::string& text);  // up to 8 characters

  // Revision 6 extension.
  IsamBuilder& seed(uint64_t s);
  IsamBuilder& preallocation(uint32_t allocation, bool in_records = false);
  IsamBuilder& compat_level(uint8_t level);
  IsamBuilder& reorganized(uint32_t t);
  // Change tracking: adds the tracking key and the tracking area.
  IsamBuilder& change_tracking(uint8_t slot, uint8_t snapshot_count, uint32_t snapshot_base,
                               uint32_t start_time, uint16_t mark = 1);
  // File text in the dynamic block's last unit behind an 8-byte prefix.
  // `allocation_word` 0: the builder uses (length rounded, bytes mark).
  IsamBuilder& file_text_prefixed(const std::string& text, uint32_t allocation_word = 0);
  // File text in the data file after the header region (extension form).
  IsamBuilder& file_text_extension(const std::string& text, uint8_t alloc_kb);

  // Dynamic header contents.
  IsamBuilder& counts(uint32_t record_count, uint32_t free_record_count, uint32_t update_count,
                      uint32_t free_index_blocks);
  IsamBuilder& vectors(uint16_t vector_count, uint32_t unusable_space);
  IsamBuilder& free_list_head(uint64_t units_or_bytes);
  IsamBuilder& free_slot(uint64_t address, uint16_t size);
  IsamBuilder& slot_count_override(uint8_t n);  // in-use count beyond the slots
  IsamBuilder& dynamic_flags(uint8_t f);
  IsamBuilder& autoseed(int64_t v);
  IsamBuilder& leofs(uint64_t data_leof_bytes, uint64_t index_leof_raw);
  // Revisions 4, 5 and patched: also lay out FileCounters in the dynamic
  // header (the creation writes none for revision 4).
  IsamBuilder& short_with_counters(bool on = true);

  // Overrides that damage or bend the header.
  IsamBuilder& header_size_override(uint16_t n);
  IsamBuilder& dynamic_size_override(uint16_t n);
  IsamBuilder& key_count_override(uint8_t n);
  IsamBuilder& max_key_size_override(uint16_t n);
  IsamBuilder& data_start_override(uint32_t n);
  IsamBuilder& text_offset_override(uint32_t n);
  // Extra bytes of record data appended to the data file.
  IsamBuilder& data_records(size_t bytes);

  // Results.
  std::vector<uint8_t> header_page() const;     // header_size bytes (1024 for old)
  std::vector<uint8_t> dynamic_header() const;  // dynamic_size bytes
  std::vector<uint8_t> index_file() const;
  std::vector<uint8_t> data_file() const;
  // Temporary index: the index file with magic 0x5CE7.
  std::vector<uint8_t> temp_index_file() const;

  // Layout facts, as written.
  uint16_t header_size() const;
  uint32_t dynamic_offset() const;
  uint16_t dynamic_size() const;
  uint32_t data_header_bytes() const;  // data_header_units x 256
  uint32_t data_start() const;
  uint32_t text_location() const;  // 0 without file text
  uint8_t key_count() const;

  // Byte patches applied to the built files.
  IsamBuilder& poke_index(size_t offset, const std::vector<uint8_t>& bytes);
  IsamBuilder& poke_data(size_t offset, const std::vector<uint8_t>& bytes);
  IsamBuilder& truncate_index(size_t length);
  IsamBuilder& truncate_data(size_t length);

  // Writes dir/<base><ext> and the data file (derived name: the last
  // character of the extension becomes "1"). Returns false on an I/O error.
  bool write_files(const std::string& dir, const std::string& base,
                   const std::string& ext = ".ism") const;

  // A work file's first page naming `target` at offset 16 (NUL-terminated
  // when `terminate`), `page_len` bytes.
  static std::vector<uint8_t> work_file_page(const std::string& target, bool terminate = true,
                                             size_t page_len = 4096);
  // The data file as a work file's target holds it: shifted by 0x8000.
  std::vector<uint8_t> shifted_data_file() const;

  static bool write_file(const std::string& path, const std::vector<uint8_t>& bytes);

 private:
  struct Layout;
  Layout layout() const;
  std::vector<uint8_t> build_image(bool data_copy) const;
  std::vector<uint8_t> build_old_page() const;
  std::vector<KeySpec> all_keys() const;
  bool is_r6_unpatched() const;
  bool is_short() const;

  int revision_ = 6;
  uint32_t patch_flags_ = 0;
  uint16_t magic_ = 0x5CA5;
  uint16_t record_length_ = 100;
  uint16_t record_overhead_ = 1;
  uint8_t file_flags_ = 0;
  uint32_t file_flags2_ = 0;
  bool tbyte_ = false;
  bool address48_ = false;
  uint8_t page_units_ = 0;  // 0: 16 for revision 6 unpatched, else 4
  std::vector<KeySpec> keys_;
  struct PortInt {
    uint16_t position;
    uint8_t length;
    uint8_t kind;
  };
  std::vector<PortInt> port_ints_;
  std::vector<uint8_t> null_area_;
  uint32_t times_[4] = {0, 0, 0, 0};
  std::string version_;
  uint64_t seed_ = 0;
  bool prealloc_ = false;
  bool alloc_in_records_ = false;
  uint32_t allocation_ = 0;
  uint8_t compat_ = 0;
  uint32_t reorganized_ = 0;
  bool tracking_ = false;
  uint8_t tracking_slot_ = 0;
  uint8_t snapshot_count_ = 0;
  uint32_t snapshot_base_ = 0;
  uint32_t tracking_time_ = 0;
  uint16_t tracking_mark_ = 0;
  int text_form_ = 0;  // 0 none, 8 prefixed, 16 extension
  std::string text_;
  uint32_t text_word_ = 0;
  uint8_t text_kb_ = 0;
  uint32_t record_count_ = 0, free_record_count_ = 0, update_count_ = 0, free_index_blocks_ = 0;
  uint16_t vector_count_ = 0;
  uint32_t unusable_ = 0;
  uint64_t free_head_ = 0;
  struct Slot {
    uint64_t address;
    uint16_t size;
  };
  std::vector<Slot> slots_;
  std::optional<uint8_t> slot_count_override_;
  uint8_t dynamic_flags_ = 0;
  int64_t autoseed_ = 0;
  uint64_t data_leof_ = 0, index_leof_ = 0;
  bool short_counters_ = false;
  std::optional<uint16_t> header_size_override_, dynamic_size_override_, max_key_override_;
  std::optional<uint8_t> key_count_override_;
  std::optional<uint32_t> data_start_override_, text_offset_override_;
  size_t data_records_ = 0;
  struct Poke {
    bool index;
    size_t offset;
    std::vector<uint8_t> bytes;
  };
  std::vector<Poke> pokes_;
  std::optional<size_t> index_length_, data_length_;
};

}  // namespace ismgr::testing

#endif  // ISMGR_TESTS_SUPPORT_ISAM_BUILDER_H_
