// Test helper: one table of damaged and bent headers, run through the header
// decoder, the ISAM open and qdesc. Each row changes a sound base file; the
// status is what the decoder and the open give (0: the file opens).
// Byte patches go to the index and to the data file's header copy alike, so
// that a retry through the data file meets them too.
#ifndef ISMGR_TESTS_SUPPORT_DAMAGED_HEADERS_H_
#define ISMGR_TESTS_SUPPORT_DAMAGED_HEADERS_H_

#include <functional>
#include <string>
#include <vector>

#include "support/isam_builder.h"

namespace ismgr::testing {

// Revision 6 with two keys (the second segmented, non-replicating null),
// a portable integer, a prefixed file text, a preallocation in records and
// counts. Header: keys at 52 and 120, port int at 188, null area at 192,
// extension at 196 (allocation at 204, data start at 208, text offset at 212).
inline IsamBuilder damage_base() {
  IsamBuilder b;
  b.record_length(120).file_flags(0x18).add_key(KeySpec::alpha("CUST", 0, 10));
  KeySpec seg;
  seg.name = "NAME";
  seg.flags = 0x04 | 0x20;
  seg.segments = {SegmentSpec{0x21, 10, 20}, SegmentSpec{0x02, 30, 6}};
  b.add_key(seg).null_values({4, 'n', 'i', 'l'});
  b.file_text_prefixed(std::string(70, 't')).preallocation(10, true).port_int(40, 4);
  return b.counts(9, 2, 7, 1).vectors(3, 64).free_list_head(0x4000);
}

struct DamagedHeader {
  const char* name;
  std::function<void(IsamBuilder&)> change;
  int status;  // 1 bad control, 17 not ISAM, 22 read failure, 43 incompatible, 142 unsupported
  int open_status = -1;  // -1: as the decoder (the open reads less, or more, than it is given)
  IsamBuilder build() const {
    IsamBuilder b = damage_base();
    change(b);
    return b;
  }
};

inline void poke_both(IsamBuilder& b, size_t offset, const std::vector<uint8_t>& bytes) {
  b.poke_index(offset, bytes).poke_data(offset, bytes);
}

inline std::vector<DamagedHeader> damaged_headers() {
  using B = IsamBuilder&;
  // A row change that patches both files at `offset`.
  auto poke = [](size_t offset, std::vector<uint8_t> bytes) {
    return [=](B b) { poke_both(b, offset, bytes); };
  };
  auto old = [](int revision) {
    IsamBuilder b;
    return b.revision(revision).add_key(KeySpec::alpha("K", 0, 4));
  };
  return {
      {"empty index", [](B b) { b.truncate_index(0); }, 17},
      {"magic only", [](B b) { b.truncate_index(2); }, 43},
      {"not isam", [](B b) { b.poke_index(0, std::vector<uint8_t>(4096, 'x')); }, 17},
      {"r6 page cut at 3000", [](B b) { b.truncate_index(3000); }, 43},
      {"r5 page cut at 1000", [=](B b) { b = old(5).truncate_index(1000); }, 43},
      {"revision 7", [](B b) { b.revision(7); }, 43},
      {"revision 0 flag 0x10", [=](B b) { b = old(0).file_flags(0x10); }, 43},
      {"revision 1 flag 0x20", [=](B b) { b = old(1).file_flags(0x20); }, 43},
      {"revision 2 ignores flag 0x10", [=](B b) { b = old(2).file_flags(0x10); }, 0},
      {"other kind 0x6CA6", [](B b) { b.magic(0x6CA6); }, 43},
      {"data magic in index", [](B b) { b.magic(0x5CB5); }, 17},
      {"compat level 1", [](B b) { b.compat_level(1); }, 142},
      {"no keys", [](B b) { b.key_count_override(0); }, 1},
      {"255 keys", [](B b) { b.key_count_override(255); }, 1},
      {"header size 0", [](B b) { b.header_size_override(0); }, 1},
      {"header size short of keys", [](B b) { b.header_size_override(100); }, 1},
      {"header size beyond areas", [](B b) { b.header_size_override(6000); }, 1},
      {"header size 9000, file 5000",
       [](B b) { b.header_size_override(9000).truncate_index(5000); }, 1, 22},
      {"dynamic size 0", [](B b) { b.dynamic_size_override(0); }, 0},
      {"dynamic size 9000", [](B b) { b.dynamic_size_override(9000); }, 1},
      {"dynamic header cut", [](B b) { b.truncate_index(4096 + 100); }, 22},
      {"dynamic offset far out", poke(24, {0, 0, 0, 0x7F}), 22},
      {"255 portable integers", poke(6, {0xFF}), 1},
      {"port int beyond record", [](B b) { b.port_int(118, 4); }, 1},
      {"page size 0", poke(5, {0}), 1},
      {"page size 256", poke(5, {1}), 0},
      {"record size and overhead 0",
       [](B b) {
         poke_both(b, 16, {0, 0}), poke_both(b, 8, {0, 0});
       },
       1},
      {"null area size 65535", poke(18, {0xFF, 0xFF}), 1},
      {"null offset past the area", poke(52 + 68 + 44, {200, 0}), 1},
      {"null value count past the area",
       [](B b) {
         b.null_values({250, 'x'});
       },
       1},
      {"segment beyond record", [](B b) { b.record_length(15); }, 1},
      {"key longer than the longest", [](B b) { b.max_key_size_override(5); }, 1},
      {"longest key 65535", [](B b) { b.max_key_size_override(0xFFFF); }, 0},
      {"segments longer than the key", poke(52 + 46, {4, 0}), 1},
      {"qualifier outside record",
       [](B b) {
         KeySpec k = KeySpec::alpha("D", 0, 5, 0x04);
         k.qualifier_offset = 200;
         b.add_key(k);
       },
       1},
      {"eight segments of unknown types",
       [](B b) {
         KeySpec k;
         k.name = "ODD";
         k.flags = 0x20;
         for (uint16_t s = 0; s < 8; ++s) k.segments.push_back(SegmentSpec{0x1F, s, 1});
         b.add_key(k);
       },
       0},
      {"slot count 133", [](B b) { b.slot_count_override(133); }, 1},
      {"short slot count 33", [=](B b) { b = old(5).slot_count_override(33); }, 1},
      {"old slot count 33", [=](B b) { b = old(3).slot_count_override(33); }, 1},
      {"old key count 9",
       [=](B b) {
         b = old(2);
         for (int i = 0; i < 7; ++i) b.add_key(KeySpec::alpha("K", 0, 4));
         b.key_count_override(9);
       },
       1},
      {"data start 1", [](B b) { b.data_start_override(1); }, 0},
      {"text allocation against data start",
       [](B b) { b.file_text_extension("t", 2).data_start_override(4096 * 3 + 1024); }, 1},
      {"text offset 0", [](B b) { b.text_offset_override(0); }, 0, 19},
      {"text offset far out", poke(212, {0x00, 0xFF, 0xFF, 0xFF}), 0},
      {"text longer than its allocation", [](B b) { b.file_text_prefixed("abcdef", 0x04000004); },
       1},
      {"text length 4G",
       [](B b) {
         b.poke_data(b.text_location(), {0, 0, 0, 0x0C, 0xFF, 0xFF, 0xFF, 0xFF});
       },
       1},
      {"allocation 4G records", poke(204, {0xFF, 0xFF, 0xFF, 0xFF}), 0},
  };
}

}  // namespace ismgr::testing

#endif  // ISMGR_TESTS_SUPPORT_DAMAGED_HEADERS_H_
