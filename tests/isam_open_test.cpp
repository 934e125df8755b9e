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
#include "ismgr/isam/isam_format.h"
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

// Two keys (the first an autokey, meaningless below revision 6: cleared) and
// counts of every width each layout keeps.
IsamBuilder basic(int revision) {
  KeySpec cust = KeySpec::alpha("CUST", 0, 10);
  cust.autokey = kAutoSequence;
  IsamBuilder b;
  b.revision(revision).record_length(64).add_key(cust).add_key(KeySpec::alpha("NAME", 10, 20, 4));
  b.counts(70000, 3, 0x1234, 2).free_slot(0x1200, 51).free_list_head(0x800);
  return b.leofs(0x4000, 0x1400).autoseed(-42);  // negative: the sign is kept
}

// Every layout opens for input with the right cache choice, keeps its counts
// where it has them, encodes its dynamic header back to the same bytes, and
// closes without changing a byte of either file.
TEST_F(IsamOpenTest, EveryRevisionOpensForInputAndClosesWithoutWriting) {
  const struct {
    const char* name;
    std::function<IsamBuilder()> build;
    bool cached;
    DynamicForm form;
    bool counters;  // FileCounters on disk: LEOF and autoseed read
  } variants[] = {
      {"rev0", [] { return basic(0); }, false, DynamicForm::kOld, false},
      {"rev3", [] { return basic(3); }, true, DynamicForm::kOld, false},
      {"rev4", [] { return basic(4).file_flags2(0xFFFF); }, true, DynamicForm::kShort, false},
      {"rev6", [] { return basic(6); }, true, DynamicForm::kFull, true},
      {"patched4", [] { return basic(6).patched_from(4).short_with_counters(); }, true,
       DynamicForm::kShort, true},
      {"tbyte48", [] { return basic(6).tbyte(true); }, true, DynamicForm::kFull, true},
      {"tbyte5", [] { return basic(5).tbyte(); }, true, DynamicForm::kShort, false},
      {"tracking", [] { return basic(6).change_tracking(2, 3, 10, 1700000000); }, true,
       DynamicForm::kFull, true},
      {"text8patched", [] { return basic(6).patched_from(5).file_text_prefixed("old"); }, true,
       DynamicForm::kShort, false},
      {"text16", [] { return basic(6).file_text_extension("extension text", 1); }, true,
       DynamicForm::kFull, true},
      {"pages4k", [] { return basic(5).page_units(16); }, true, DynamicForm::kShort, false},
  };
  for (const auto& v : variants) {
    SCOPED_TRACE(v.name);
    IsamBuilder b = v.build();
    ASSERT_TRUE(b.write_files(dir(), v.name));
    IsamFileControl* fc = open(v.name);
    ASSERT_NE(fc, nullptr) << ctl_->status->code << " " << details_.dump();
    const std::vector<uint8_t> index = b.index_file(), data = b.data_file();
    EXPECT_EQ(ctl_->current_name, path(std::string(v.name) + ".ism"));
    EXPECT_EQ(fc->header.revision, index[2]);
    EXPECT_EQ(fc->keys.size(), index[4]);  // key_count
    EXPECT_EQ(fc->dynamic.form, v.form);
    EXPECT_EQ(fc->has_extension, v.form == DynamicForm::kFull);
    EXPECT_EQ(fc->free_list.record_count, 70000u);
    EXPECT_EQ(fc->free_list.free_list_head, 0x800u);
    EXPECT_EQ(fc->free_list.slots[0].size, 51);
    EXPECT_EQ(fc->counters.update_count, 0x1234u);  // widened from 16 bits in short forms
    EXPECT_EQ(fc->counters.autoseed, v.counters ? -42 : 0);
    EXPECT_EQ(fc->counters.data_leof, v.counters ? 0x4000u : 0u);
    EXPECT_EQ(fc->counters.index_leof, v.counters ? 0x1400u : 0u);
    EXPECT_EQ(key_root_address(*fc, 0), b.data_header_bytes());
    if (index[2] == 4 || index[2] == 5) {
      EXPECT_EQ(fc->header.file_flags2, 0u);
      EXPECT_EQ(fc->keys[0].autokey_flags, 0);
    }
    const std::vector<uint8_t> dynamic = dynamic_header_bytes(*fc);  // less the tracking area
    const auto at = index.begin() + fc->header.dynamic_offset;
    EXPECT_EQ(dynamic, std::vector(at, at + dynamic.size()));
    EXPECT_EQ(fc->state & (kStateOpen | kStateUpdate | kStateLocking), kStateOpen);
    EXPECT_EQ(fc->cache != nullptr, v.cached);
    EXPECT_EQ(isam_close(fc, 0), 0);
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

}  // namespace
}  // namespace ismgr
