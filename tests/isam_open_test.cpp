// The ISAM open and close over crafted files of every revision: what opens,
// what is refused with which status, and the header the close writes back.
#include "ismgr/isam/isam_open.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "ismgr/describe/open_create.h"
#include "ismgr/fileio/block_cache.h"
#include "ismgr/isam/file_control.h"
#include "ismgr/isam/isam_close.h"
#include "ismgr/isam/isam_io.h"
#include "ismgr/platform/platform.h"
#include "ismgr/runtime/keyword.h"
#include "ismgr/runtime/status.h"
#include "support/damaged_headers.h"
#include "support/detail_capture.h"
#include "support/isam_builder.h"
#include "support/scratch_dir.h"

namespace ismgr {
namespace {

using testing::IsamBuilder;
using testing::KeySpec;

class IsamOpenTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ctl_ = current_context();
    ASSERT_NE(ctl_, nullptr);
    reset_isam_open_for_test();
  }
  std::string dir() const { return dir_.path().string(); }
  std::string path(const std::string& leaf) const { return dir_.file(leaf); }
  IsamFileControl* open(const std::string& leaf, uint32_t mode = IM_INPUT | IM_ISAM) {
    ctl_->status->open_flags = 0;
    return isam_open(ctl_, path(leaf).c_str(), mode, nullptr);
  }
  // Opens and gives the status: 0 when it opened (and was closed again).
  int status_of(const std::string& leaf, uint32_t mode = IM_INPUT | IM_ISAM) {
    IsamFileControl* fc = open(leaf, mode);
    if (fc == nullptr) return ctl_->status->code;
    isam_close(fc, 0);
    return 0;
  }
  testing_support::DetailCapture details_;
  test::ScratchDir dir_;
  ismgr_control* ctl_ = nullptr;
};

IsamBuilder basic(int revision) {
  IsamBuilder b;
  b.revision(revision).record_length(64).add_key(KeySpec::alpha("CUST", 0, 10));
  return b.add_key(KeySpec::alpha("NAME", 10, 20, 0x04)).counts(3, 1, 7, 2);
}

// Every layout opens for input with the right cache choice and closes
// without changing a byte of either file.
TEST_F(IsamOpenTest, EveryRevisionOpensForInputAndClosesWithoutWriting) {
  const struct {
    const char* name;
    std::function<IsamBuilder()> build;
    bool cached;
  } variants[] = {
      {"rev0", [] { return basic(0); }, false},
      {"rev3", [] { return basic(3); }, true},
      {"rev4", [] { return basic(4); }, true},
      {"patched4", [] { return basic(6).patched_from(4); }, true},
      {"tbyte48", [] { return basic(6).tbyte(true); }, true},
      {"tbyte5", [] { return basic(5).tbyte(); }, true},
      {"tracking", [] { return basic(6).change_tracking(2, 3, 10, 1700000000); }, true},
      {"text8patched", [] { return basic(6).patched_from(5).file_text_prefixed("old"); }, true},
      {"text16", [] { return basic(6).file_text_extension("extension text", 1); }, true},
      {"pages4k", [] { return basic(5).page_units(16); }, true},
  };
  for (const auto& v : variants) {
    SCOPED_TRACE(v.name);
    IsamBuilder b = v.build();
    ASSERT_TRUE(b.write_files(dir(), v.name));
    IsamFileControl* fc = open(v.name);
    ASSERT_NE(fc, nullptr) << ctl_->status->code << " " << details_.dump();
    EXPECT_EQ(ctl_->current_name, path(std::string(v.name) + ".ism"));
    EXPECT_EQ(fc->keys.size(), b.index_file()[4]);  // key_count
    EXPECT_EQ(fc->free_list.record_count, 3u);
    EXPECT_EQ(fc->state & (kStateOpen | kStateUpdate | kStateLocking), kStateOpen);
    EXPECT_EQ(fc->cache != nullptr, v.cached);
    EXPECT_EQ(isam_close(fc, 0), 0);
    const std::vector<uint8_t> index = b.index_file(), data = b.data_file();
    EXPECT_EQ(dir_.read(std::string(v.name) + ".ism"), std::string(index.begin(), index.end()));
    EXPECT_EQ(dir_.read(std::string(v.name) + ".is1"), std::string(data.begin(), data.end()));
  }
}

// The shared table of damaged headers, each refused with the decoder's
// status, and the details that explain the revision refusals.
TEST_F(IsamOpenTest, DamagedAndForeignHeadersAreRefused) {
  for (const testing::DamagedHeader& d : testing::damaged_headers()) {
    ASSERT_TRUE(d.build().write_files(dir(), "damaged"));
    EXPECT_EQ(status_of("damaged"), d.open_status >= 0 ? d.open_status : d.status) << d.name;
    EXPECT_TRUE(d.status != kStatusIncompatible || errno == 0) << d.name;
  }
  const std::pair<IsamBuilder, const char*> details[] = {
      {basic(7), "File revision newer than ISMGR"},
      {basic(0).file_flags(0x10), "Old revision, run fmaint -p"},
      {basic(6).compat_level(1), "File compatability level newer than ISMGR"},
  };
  for (const auto& [b, detail] : details) {
    details_.clear();
    ASSERT_TRUE(b.write_files(dir(), "detail"));
    EXPECT_EQ(status_of("detail"),
              b.index_file()[2] == 6 ? kStatusUnsupportedIsam : kStatusIncompatible);
    EXPECT_NE(details_.dump().find(detail), std::string::npos) << detail;
  }
}

// One row per distinct refusal of a file or a mode.
TEST_F(IsamOpenTest, RefusalsOfFilesAndModes) {
  ASSERT_TRUE(basic(6).write_files(dir(), "nodata"));
  std::filesystem::remove(path("nodata.is1"));
  ASSERT_TRUE(basic(6).magic(0x1234).write_files(dir(), "alien"));
  std::filesystem::remove(path("alien.is1"));
  ASSERT_TRUE(basic(6).write_files(dir(), "baddata"));
  IsamBuilder::write_file(path("baddata.is1"), std::vector<uint8_t>(5000, 0x11));
  ASSERT_TRUE(basic(2).write_files(dir(), "r2"));
  const struct {
    const char* leaf;
    uint32_t mode;
    int status;
  } rows[] = {
      {"none", IM_INPUT | IM_ISAM, kStatusCannotOpenIndex},
      {"nodata", IM_INPUT | IM_ISAM, kStatusCannotOpenData},
      {"alien", IM_INPUT | IM_ISAM, kStatusNotIsam},  // not an index and no data file
      {"baddata", IM_INPUT | IM_ISAM, kStatusCannotOpenData},
      {"r2", IM_INPUT | IM_CACHE, kStatusNoCaching},
      {"r2", IM_INPUT | IM_CACHE | IM_EXRW, 0},  // an exclusive open may cache
      {"r2", IM_OUTPUT, 9},                      // output without description
      {"r2", IM_APPEND | IM_INPUT, 9},
  };
  for (const auto& r : rows) EXPECT_EQ(status_of(r.leaf, r.mode), r.status) << r.leaf << r.mode;
  // A description goes to the installed creation: none, or the describe layer's.
  EXPECT_EQ(isam_open(ctl_, path("new").c_str(), IM_OUTPUT, "RECORD_SIZE 10"), nullptr);
  EXPECT_EQ(ctl_->status->code, kStatusCannotCreate);
  install_file_creation();
  EXPECT_EQ(isam_open(ctl_, path("new").c_str(), IM_OUTPUT, "RECORD_SIZE 10"), nullptr);
  EXPECT_EQ(ctl_->status->code, kStatusXdlString);
  set_isam_create(nullptr);
}

TEST_F(IsamOpenTest, CloseWritesTheChangedHeaderOfEveryCachedKind) {
  for (uint32_t mode :
       {IM_UPDATE | IM_ISAM, IM_UPDATE | IM_ISAM | IM_EXRW, IM_UPDATE | IM_ISAM | IM_EXW}) {
    for (int revision : {3, 5, 6}) {
      const std::string leaf = std::to_string(mode) + "r" + std::to_string(revision);
      ASSERT_TRUE(basic(revision).write_files(dir(), leaf));
      IsamFileControl* fc = open(leaf, mode);
      ASSERT_NE(fc, nullptr) << ctl_->status->code;
      ASSERT_NE(fc->cache, nullptr);
      fc->free_list.record_count = 77;
      fc->engine.header_changed = 1;
      EXPECT_EQ(isam_close(fc, 0), 0);
      fc = open(leaf);
      ASSERT_NE(fc, nullptr);
      EXPECT_EQ(fc->free_list.record_count, 77u) << leaf;
      isam_close(fc, 0);
    }
  }
}

// A control block is valid when its magic matches the handles it holds; the
// close, flush and release refuse any other with -2.
TEST_F(IsamOpenTest, InvalidControlBlocksAreRefused) {
  EXPECT_FALSE(file_control_valid(nullptr));
  EXPECT_EQ(isam_close(nullptr, 0), -2);
  EXPECT_EQ(isam_flush(nullptr), -2);
  EXPECT_EQ(isam_release(nullptr), -2);
  const struct {
    uint16_t magic;
    int index, data;
    bool valid;
  } rows[] = {
      {kMagicIndex, 3, 0, true},  // descriptor 0 is a handle like any other
      {kMagicIndex, 3, -1, false},     {kMagicData, 3, 0, false},     {kMagicData, -1, 0, true},
      {kMagicTempIndex, -1, 0, false}, {kMagicTempIndex, 5, 0, true}, {0, 5, 0, false},  // closed
  };
  for (const auto& r : rows) {
    IsamFileControl fc;
    fc.header.magic = r.magic;
    fc.index_handle = r.index < 0 ? platform::kInvalidHandle : r.index;
    fc.data_handle = r.data < 0 ? platform::kInvalidHandle : r.data;
    EXPECT_EQ(file_control_valid(&fc), r.valid) << std::hex << r.magic << " " << r.index;
    EXPECT_TRUE(r.valid || isam_flush(&fc) == -2) << std::hex << r.magic << " " << r.index;
  }
}

}  // namespace
}  // namespace ismgr
