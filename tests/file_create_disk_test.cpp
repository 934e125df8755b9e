// Creation on disk: the files written, existing files, failures that leave
// nothing behind, preallocation and the index estimate.
#include <gtest/gtest.h>

#include <filesystem>

#include "ismgr/describe/file_creation.h"
#include "ismgr/describe/xdl_parser.h"
#include "ismgr/fileio/file_io.h"
#include "ismgr/isam/file_control.h"
#include "ismgr/platform/platform.h"
#include "ismgr/runtime/context.h"
#include "support/detail_capture.h"
#include "support/isam_builder.h"
#include "support/scratch_dir.h"

namespace ismgr {
namespace {

using testing_support::DetailCapture;

const std::string kCustomer =
    "FILE;RECORD;SIZE 100;KEY 0;START 1;LENGTH 10;NAME id;"
    "KEY 1;START 11;LENGTH 20;DUPLICATES yes;NAME name;";

class CreateTest : public ::testing::Test {
 protected:
  void SetUp() override { ctl_ = current_context(); }
  void TearDown() override { set_file_io_hooks_for_testing({}); }
  int create(const std::string& xdl, const std::string& leaf, bool replace = false,
             int revision = 6) {
    std::string name = dir_.file(leaf);
    const char* cursor = xdl.c_str();
    auto d = build_file_description(cursor, &name, revision);
    d->control = ctl_;
    const int rc = create_isam_file(*d, name, replace, revision);
    EXPECT_TRUE(rc != 0 || d->magic == 0);  // a used description is spent
    return rc;
  }
  int last_status() const { return ctl_->status->code; }
  std::vector<uint8_t> bytes(const std::string& leaf) const {
    const std::string s = dir_.read(leaf);
    return std::vector<uint8_t>(s.begin(), s.end());
  }
  test::ScratchDir dir_;
  ismgr_control* ctl_ = nullptr;
};

// Fixed points: the files the creation writes for a few settings equal,
// byte for byte apart from the creation time, the files the crafted-file
// builder lays out by hand for the same settings.
TEST_F(CreateTest, FilesEqualTheBuildersForTheSameSettings) {
  using testing::IsamBuilder;
  using testing::KeySpec;
  const auto key = [](const char* name, uint16_t start, uint16_t length, uint8_t flags,
                      uint16_t qualifier = 1) {
    KeySpec k = KeySpec::alpha(name, start, length, flags);
    k.qualifier_offset = qualifier;
    return k;
  };
  // A builder laid out as the creation lays out a file of these settings.
  const auto made = [](int revision, uint16_t size, uint8_t flags, uint16_t overhead) {
    IsamBuilder b;
    b.revision(revision).record_length(size).file_flags(flags).record_overhead(overhead);
    return b;
  };
  const uint32_t text32 = 32u | 0x04000000u;  // a 32-byte text allocation word
  const auto customer = [&] {
    return made(6, 100, 0x08, 4)
        .add_key(key("id", 0, 10, 0x02))
        .add_key(key("name", 10, 20, 0x06))
        .free_slot(0xFFFFFFFF, 104)
        .file_text_prefixed("", text32);
  };
  IsamBuilder variable = made(6, 100, 0x3A, 21);  // vectoring, stored GRFA, qualifiers, densities
  variable.file_flags2(0x400);
  KeySpec dups = key("", 10, 6, 0x06, 15), integer = key("", 20, 4, 0x06, 18);
  dups.density = 80;
  integer.segments[0].type = 0x04;
  variable.add_key(key("", 0, 10, 0x02, 15)).add_key(dups).add_key(integer);
  IsamHeader h;
  h.revision = 6, h.file_flags = 0x3A, h.record_overhead = 21, h.record_size = 100;
  for (const FreeSlot& slot : initial_free_slots(h))
    variable.free_slot(0xFFFFFFFF, slot.size);  // the sizes are checked by hand elsewhere
  const struct {
    const char* name;
    std::string xdl;
    int revision;
    IsamBuilder builder;
  } rows[] = {
      {"opt,page=1024,i=51:2", kCustomer + "PORT_INT 41:4;", 6,
       customer().page_units(4).port_int(51, 2).port_int(41, 4)},
      {"r4", "FILE;RECORD;SIZE 100;KEY 0;START 1;LENGTH 10;DUPLICATES yes;", 4,
       made(4, 100, 0, 4).page_units(4).add_key(key("", 0, 10, 0x06)).free_slot(0xFFFFFFFF, 104)},
      {"var",
       "FILE;RECORD;SIZE 100;FORMAT variable;STORED_GRFA yes;KEY 0;START 1;LENGTH 10;KEY 1;START "
       "11;LENGTH 6;DUPLICATES yes;DENSITY 80;KEY 2;START 21;LENGTH 4;TYPE integer;ORDER "
       "descending;DUPLICATES yes;",
       6, variable.file_text_prefixed("", text32)}};
  for (const auto& r : rows) {
    ASSERT_EQ(create(r.xdl, r.name, false, r.revision), 0) << r.name << " " << last_status();
    const std::string base = std::string(r.name).substr(0, std::string(r.name).find(','));
    const auto index = bytes(base + ".ism");
    ASSERT_GE(index.size(), 32u) << r.name;
    IsamBuilder b = r.builder;
    b.times(get_u32(&index[28]), 0, 0, 0);
    EXPECT_TRUE(index == b.index_file()) << r.name;
    EXPECT_TRUE(bytes(base + ".is1") == b.data_file()) << r.name;
  }
  EXPECT_EQ(std::string(ctl_->current_name), dir_.file("var.ism"));
}

// A data file alone blocks the creation too; a refused creation is
// announced and leaves nothing; with replace both files are rewritten.
TEST_F(CreateTest, ExistingFilesNeedReplaceAndFailuresLeaveNoFiles) {
  DetailCapture details;
  dir_.write("keep.is1", "precious");
  EXPECT_EQ(create(kCustomer, "keep"), -1);
  EXPECT_EQ(last_status(), 40);
  EXPECT_TRUE(details.has(kDetailCreateFailed, ""));
  EXPECT_EQ(dir_.read("keep.is1"), "precious");
  EXPECT_EQ(create("FILE;RECORD;SIZE 40;KEY 0;START 1;LENGTH 4;TYPE decimal;"
                   "KEY 1;START 1;LENGTH 2;TYPE decimal;",
                   "ovl"),
            -1);
  EXPECT_EQ(last_status(), 68);
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir_.path()), {}), 1);  // keep.is1
  EXPECT_EQ(create(kCustomer, "keep", true), 0);
  EXPECT_EQ(bytes("keep.ism").size(), 16384u);
}

TEST_F(CreateTest, WriteFailureDeletesBothFiles) {
  int writes = 0;
  FileIoHooks hooks;
  // The data file's header goes through; the index image meets a full disk.
  hooks.write = [&](FileHandle h, const void* buffer, uint32_t count, uint32_t* done) {
    if (++writes < 2) return platform::write(h, buffer, count, done);
    *done = 0;
    platform::set_last_error(112);  // disk full
    return false;
  };
  set_file_io_hooks_for_testing(hooks);
  EXPECT_EQ(create(kCustomer, "full"), -1);
  EXPECT_EQ(last_status(), 16);
  EXPECT_TRUE(std::filesystem::is_empty(dir_.path()));
}

TEST_F(CreateTest, PreallocationInRecords) {
  ASSERT_EQ(create("FILE;RECORD;SIZE 100;KEY 0;START 1;LENGTH 10;", "pre,ralloc=10"), 0);
  // (10 x 101 + 8192 + 511) / 512 = 18 blocks: 9216 bytes.
  const auto data = bytes("pre.is1");
  ASSERT_EQ(data.size(), 9216u);
  EXPECT_EQ(data[8192], 0x80);
  EXPECT_EQ(get_u32(&data[8193]), 9216u);
  // The index gets room for one more block of the key.
  const auto index = bytes("pre.ism");
  EXPECT_EQ(index.size(), 8192u + 4096u + 4096u);
  IsamFileControl fc;
  ASSERT_EQ(build_file_control(index.data(), 4096, &fc, nullptr), 0);
  ASSERT_EQ(load_dynamic_header(&index[4096], fc.header.dynamic_size, &fc), 0);
  EXPECT_EQ(fc.counters.index_leof, 12288u);
  EXPECT_EQ(fc.prealloc_blocks, 18);
}

TEST_F(CreateTest, IndexEstimate) {
  IsamHeader h;
  h.page_units = 4;  // 1024 bytes
  KeyDescriptor k;
  k.key_size = 10;
  // (1024 - 12) x 90 / 100 / 14 = 65 entries a leaf; upper blocks hold
  // 90 x 1016 / 100 / 14 = 65 entries: 1000 records need 16 leaves + 1.
  EXPECT_EQ(estimate_index_blocks(h, {k}, 1000), 17u);
  EXPECT_EQ(estimate_index_blocks(h, {k}, 65), 1u);
  EXPECT_EQ(estimate_index_blocks(h, {k}, 0), 0u);
  k.density = 100;  // 95 percent: 68 a leaf
  EXPECT_EQ(estimate_index_blocks(h, {k}, 68), 1u);
  EXPECT_EQ(estimate_index_blocks(h, {k, k}, 69), 6u);  // 2 leaves + 1 root, twice
}

}  // namespace
}  // namespace ismgr
