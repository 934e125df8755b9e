// Companion of qdesc_many.sh: makes many ISAM file pairs and performs the
// least I/O any description of them needs, so that the cost of qdesc can be
// set against it.
//
//   qdesc_floor make DIR COUNT   writes DIR/fNNNN.ism and DIR/fNNNN.is1
//   qdesc_floor read FILE...     for each index file: open it and its data
//                                file, read the header page and the dynamic
//                                header, close both
//
// The files are revision-6 files with three keys (one segmented, one with
// duplicates and a null value), a file text and some counts: the shape of an
// ordinary business file. The floor uses unbuffered standard streams, which
// come down to one open, read, seek and close call each, and nothing else.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "ismgr/isam/isam_format.h"
#include "support/isam_builder.h"

namespace {

using ismgr::testing::IsamBuilder;
using ismgr::testing::KeySpec;
using ismgr::testing::SegmentSpec;

int make_files(const char* dir, long count) {
  IsamBuilder b;
  b.record_length(240).file_flags(0x18).times(1700000000, 0, 1700100000, 0);
  b.add_key(KeySpec::alpha("CUSTNO", 0, 10));
  KeySpec name;
  name.name = "NAME";
  name.flags = 0x04 | 0x08;
  name.segments = {SegmentSpec{0x21, 10, 30}, SegmentSpec{0x22, 40, 6}};
  b.add_key(name);
  KeySpec region = KeySpec::alpha("REGION", 60, 4, 0x04 | 0x20);
  region.null_offset = 0;
  b.add_key(region).null_values({5, ' ', ' ', ' ', ' '});
  b.file_text_prefixed("Customer master file, branch office copy");
  b.counts(1200, 14, 3456, 2);
  const std::vector<uint8_t> index = b.index_file();
  const std::vector<uint8_t> data = b.data_file();
  for (long i = 0; i < count; ++i) {
    char base[32];
    std::snprintf(base, sizeof base, "/f%04ld", i);
    if (!IsamBuilder::write_file(std::string(dir) + base + ".ism", index) ||
        !IsamBuilder::write_file(std::string(dir) + base + ".is1", data)) {
      std::fprintf(stderr, "qdesc_floor: cannot write %s%s\n", dir, base);
      return 1;
    }
  }
  return 0;
}

std::FILE* open_unbuffered(const std::string& name) {
  std::FILE* f = std::fopen(name.c_str(), "rb");
  if (f != nullptr) std::setvbuf(f, nullptr, _IONBF, 0);
  return f;
}

// One file's floor: false when a file is missing or its header unreadable.
bool read_floor(const std::string& index_name) {
  std::string data_name = index_name;
  if (data_name.empty()) return false;
  data_name.back() = '1';
  std::FILE* index = open_unbuffered(index_name);
  std::FILE* data = open_unbuffered(data_name);
  bool ok = index != nullptr && data != nullptr;
  static uint8_t page[ismgr::kHeaderPageReadSize];
  static uint8_t dynamic[65536];
  ismgr::IsamHeader h;
  if (ok) {
    size_t got = std::fread(page, 1, sizeof page, index);
    ok = ismgr::decode_isam_header(page, got, &h) &&
         std::fseek(index, static_cast<long>(h.dynamic_offset), SEEK_SET) == 0 &&
         std::fread(dynamic, 1, h.dynamic_size, index) == h.dynamic_size;
  }
  if (index != nullptr) std::fclose(index);
  if (data != nullptr) std::fclose(data);
  return ok;
}

}  // namespace

// The builder leaves files alone in a test's child re-run; this program is
// never one (the tests' child support, which links the test framework, is not
// linked here).
namespace ismgr::test {
bool in_child_rerun() {
  return false;
}
}  // namespace ismgr::test

int main(int argc, char** argv) {
  if (argc == 4 && std::strcmp(argv[1], "make") == 0) {
    long count = std::strtol(argv[3], nullptr, 10);
    if (count <= 0 || count > 100000) {
      std::fprintf(stderr, "qdesc_floor: count must be 1 to 100000\n");
      return 2;
    }
    return make_files(argv[2], count);
  }
  if (argc >= 3 && std::strcmp(argv[1], "read") == 0) {
    int failed = 0;
    for (int i = 2; i < argc; ++i) {
      if (!read_floor(argv[i])) ++failed;
    }
    if (failed != 0) std::fprintf(stderr, "qdesc_floor: %d files unreadable\n", failed);
    return failed != 0 ? 1 : 0;
  }
  std::fprintf(stderr, "usage: qdesc_floor make DIR COUNT | read INDEX_FILE...\n");
  return 2;
}
