// Test helper: crafts ISAM index and data files byte by byte, for every
// revision (0 to 6, patched from 4 and 5, tbyte and 48-bit, change tracking,
// file text in both forms), without the layer's encoders, so that it checks
// them. Layout as the creation makes it: header page, dynamic header at the
// next unit (1024 bytes before revision 6, 4096 from 6), data header region,
// one empty root block per key. Damage: poke_index()/poke_data(), overrides.
#ifndef ISMGR_TESTS_SUPPORT_ISAM_BUILDER_H_
#define ISMGR_TESTS_SUPPORT_ISAM_BUILDER_H_

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace ismgr::testing {

struct SegmentSpec {
  uint8_t type = 0x21;  // alpha, ascending
  uint16_t start = 0, length = 0;
};

struct KeySpec {
  uint8_t flags = 0;  // key_flags (0x04 duplicates, 0x10/0x20/0x40 nulls)
  uint8_t autokey = 0, density = 0;
  std::vector<SegmentSpec> segments;
  uint16_t key_size = 0;  // 0: sum of the segments, plus the qualifier with duplicates
  uint16_t null_offset = 0, qualifier_offset = 0;
  std::string name;
  std::optional<uint64_t> root;  // default: where the creation puts it
  uint8_t depth = 1;

  static KeySpec alpha(const std::string& name, uint16_t start, uint16_t length, uint8_t flags = 0);
};

class IsamBuilder {
 public:
  IsamBuilder& revision(int r) { return set(revision_, r); }
  // 4 or 5: revision 6, file_flags2 0x01 / 0x02
  IsamBuilder& patched_from(int r) {
    return set(revision_, 6).set(patch_flags_, (r == 4) ? 0x01 : 0x02);
  }
  IsamBuilder& magic(uint16_t m) { return set(magic_, m); }
  IsamBuilder& record_length(uint16_t n) { return set(record_length_, n); }
  IsamBuilder& record_overhead(uint16_t n) { return set(record_overhead_, n); }
  IsamBuilder& file_flags(uint8_t f) { return set(file_flags_, f); }
  IsamBuilder& file_flags2(uint32_t f) { return set(file_flags2_, f); }
  IsamBuilder& tbyte(bool address48 = false) {
    return set(tbyte_, true).set(address48_, address48);
  }
  IsamBuilder& page_units(uint8_t units) { return set(page_units_, units); }
  IsamBuilder& add_key(const KeySpec& key) { return add(keys_, key); }
  IsamBuilder& port_int(uint16_t position, uint8_t length, uint8_t kind = 4) {
    return add(port_ints_, PortInt{position, length, kind});
  }
  IsamBuilder& null_values(const std::vector<uint8_t>& area) { return set(null_area_, area); }
  IsamBuilder& times(uint32_t created, uint32_t cleared, uint32_t verified, uint32_t reindexed) {
    set(times_[0], created).set(times_[1], cleared).set(times_[2], verified);
    return set(times_[3], reindexed);
  }
  IsamBuilder& creation_version(const std::string& text) { return set(version_, text); }

  IsamBuilder& seed(uint64_t s) { return set(seed_, s); }
  IsamBuilder& preallocation(uint32_t allocation, bool in_records = false) {
    return set(prealloc_, true).set(allocation_, allocation).set(alloc_in_records_, in_records);
  }
  IsamBuilder& compat_level(uint8_t level) { return set(compat_, level); }
  // Change tracking: adds the tracking key and the tracking area.
  IsamBuilder& change_tracking(uint8_t slot, uint8_t snapshot_count, uint32_t snapshot_base,
                               uint32_t start_time, uint16_t mark = 1) {
    set(tracking_slot_, slot).set(snapshot_count_, snapshot_count).set(tracking_mark_, mark);
    set(snapshot_base_, snapshot_base).set(tracking_time_, start_time).set(tracking_, true);
    return tbyte(true);
  }
  // File text in the dynamic block's last unit behind an 8-byte prefix.
  // `allocation_word` 0: the builder uses (length rounded, bytes mark).
  IsamBuilder& file_text_prefixed(const std::string& text, uint32_t allocation_word = 0) {
    return set(text_form_, 8).set(text_, text).set(text_word_, allocation_word);
  }
  // File text in the data file after the header region (extension form).
  IsamBuilder& file_text_extension(const std::string& text, uint8_t alloc_kb) {
    return set(text_form_, 16).set(text_, text).set(text_kb_, alloc_kb);
  }

  IsamBuilder& counts(uint32_t record_count, uint32_t free_record_count, uint32_t update_count,
                      uint32_t free_index_blocks) {
    set(record_count_, record_count).set(free_record_count_, free_record_count);
    return set(update_count_, update_count).set(free_index_blocks_, free_index_blocks);
  }
  IsamBuilder& vectors(uint16_t vector_count, uint32_t unusable_space) {
    return set(vector_count_, vector_count).set(unusable_, unusable_space);
  }
  IsamBuilder& free_list_head(uint64_t units_or_bytes) { return set(free_head_, units_or_bytes); }
  IsamBuilder& free_slot(uint64_t address, uint16_t size) {
    return add(slots_, Slot{address, size});
  }
  // in-use count beyond the slots
  IsamBuilder& slot_count_override(uint8_t n) { return set(slot_count_override_, n); }
  IsamBuilder& dynamic_flags(uint8_t f) { return set(dynamic_flags_, f); }
  IsamBuilder& autoseed(int64_t v) { return set(autoseed_, v); }
  IsamBuilder& leofs(uint64_t data_leof_bytes, uint64_t index_leof_raw) {
    return set(data_leof_, data_leof_bytes).set(index_leof_, index_leof_raw);
  }
  // Revisions 4, 5 and patched: also lay out FileCounters in the dynamic
  // header (the creation writes none for revision 4).
  IsamBuilder& short_with_counters(bool on = true) { return set(short_counters_, on); }

  IsamBuilder& header_size_override(uint16_t n) { return set(header_size_override_, n); }
  IsamBuilder& dynamic_size_override(uint16_t n) { return set(dynamic_size_override_, n); }
  IsamBuilder& key_count_override(uint8_t n) { return set(key_count_override_, n); }
  IsamBuilder& max_key_size_override(uint16_t n) { return set(max_key_override_, n); }
  IsamBuilder& data_start_override(uint32_t n) { return set(data_start_override_, n); }
  IsamBuilder& text_offset_override(uint32_t n) { return set(text_offset_override_, n); }
  // Extra bytes of record data appended to the data file.
  IsamBuilder& data_records(size_t bytes) { return set(data_records_, bytes); }

  std::vector<uint8_t> index_file() const;
  std::vector<uint8_t> data_file() const;

  // Layout facts, as written.
  uint32_t data_header_bytes() const;  // data_header_units x 256
  uint32_t text_location() const;      // 0 without file text

  IsamBuilder& poke_index(size_t offset, const std::vector<uint8_t>& bytes) {
    return add(pokes_, Poke{true, offset, bytes});
  }
  IsamBuilder& poke_data(size_t offset, const std::vector<uint8_t>& bytes) {
    return add(pokes_, Poke{false, offset, bytes});
  }
  IsamBuilder& truncate_index(size_t length) { return set(index_length_, length); }

  // Writes dir/<base><ext> and the data file (derived name: the last
  // character of the extension becomes "1"). Returns false on an I/O error.
  bool write_files(const std::string& dir, const std::string& base,
                   const std::string& ext = ".ism") const;

  // A work file's 4096-byte first page naming `target` at offset 16.
  static std::vector<uint8_t> work_file_page(const std::string& target);

  static bool write_file(const std::string& path, const std::vector<uint8_t>& bytes);

 private:
  template <typename T, typename V>
  IsamBuilder& set(T& field, V value) {
    field = static_cast<T>(value);
    return *this;
  }
  template <typename T, typename V>
  IsamBuilder& add(std::vector<T>& list, V value) {
    list.push_back(value);
    return *this;
  }
  struct Layout;
  Layout layout() const;
  std::vector<uint8_t> build_image(bool data_copy) const;
  std::vector<uint8_t> build_old_page() const;

  int revision_ = 6;
  uint32_t patch_flags_ = 0, file_flags2_ = 0;
  uint16_t magic_ = 0x5CA5, record_length_ = 100, record_overhead_ = 1;
  uint8_t file_flags_ = 0;
  bool tbyte_ = false, address48_ = false;
  uint8_t page_units_ = 0;  // 0: 16 for revision 6 unpatched, else 4
  std::vector<KeySpec> keys_;
  struct PortInt {
    uint16_t position;
    uint8_t length, kind;
  };
  std::vector<PortInt> port_ints_;
  std::vector<uint8_t> null_area_;
  uint32_t times_[4] = {0, 0, 0, 0};
  std::string version_;
  uint64_t seed_ = 0;
  bool prealloc_ = false, alloc_in_records_ = false, tracking_ = false;
  uint32_t allocation_ = 0, snapshot_base_ = 0, tracking_time_ = 0;
  uint8_t compat_ = 0, tracking_slot_ = 0, snapshot_count_ = 0;
  uint16_t tracking_mark_ = 0;
  int text_form_ = 0;  // 0 none, 8 prefixed, 16 extension
  std::string text_;
  uint32_t text_word_ = 0, unusable_ = 0;
  uint8_t text_kb_ = 0, dynamic_flags_ = 0;
  uint32_t record_count_ = 0, free_record_count_ = 0, update_count_ = 0, free_index_blocks_ = 0;
  uint16_t vector_count_ = 0;
  uint64_t free_head_ = 0;
  struct Slot {
    uint64_t address;
    uint16_t size;
  };
  std::vector<Slot> slots_;
  std::optional<uint8_t> slot_count_override_;
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
  std::optional<size_t> index_length_;
};

}  // namespace ismgr::testing

#endif  // ISMGR_TESTS_SUPPORT_ISAM_BUILDER_H_
