// The ISAM open and close over crafted files of every revision.
#include "ismgr/isam/isam_open.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "ismgr/fileio/block_cache.h"
#include "ismgr/isam/isam_close.h"
#include "ismgr/isam/isam_io.h"
#include "ismgr/platform/platform.h"
#include "ismgr/runtime/audit.h"
#include "ismgr/runtime/keyword.h"
#include "ismgr/runtime/status.h"
#include "support/damaged_headers.h"
#include "support/isam_builder.h"
#include "support/isam_open_fixture.h"
#include "support/scratch_dir.h"

namespace ismgr {
namespace {

using testing::basic;
using testing::g_details;
using testing::IsamBuilder;
using testing::IsamOpenTest;
using testing::KeySpec;

// ---------------------------------------------------------------------------
// Every revision and layout opens and closes, reading without writing.
// ---------------------------------------------------------------------------
struct Variant {
  const char* name;
  std::function<IsamBuilder()> build;
  int revision;
  bool cached;
};

const Variant kVariants[] = {
    {"rev0", [] { return basic(0); }, 0, false},
    {"rev1", [] { return basic(1); }, 1, false},
    {"rev2", [] { return basic(2); }, 2, false},
    {"rev3", [] { return basic(3); }, 3, true},
    {"rev4", [] { return basic(4); }, 4, true},
    {"rev5", [] { return basic(5); }, 5, true},
    {"rev6", [] { return basic(6); }, 6, true},
    {"patched4", [] { return basic(6).patched_from(4); }, 6, true},
    {"patched5", [] { return basic(6).patched_from(5); }, 6, true},
    {"rev5counters", [] { return basic(5).short_with_counters(); }, 5, true},
    {"tbyte", [] { return basic(6).tbyte(); }, 6, true},
    {"tbyte48", [] { return basic(6).tbyte(true); }, 6, true},
    {"tbyte5", [] { return basic(5).tbyte(); }, 5, true},
    {"tracking", [] { return basic(6).change_tracking(2, 3, 10, 1700000000); }, 6, true},
    {"text8", [] { return basic(6).file_text_prefixed("hello text"); }, 6, true},
    {"text8patched", [] { return basic(6).patched_from(5).file_text_prefixed("old text"); }, 6,
     true},
    {"text16", [] { return basic(6).file_text_extension("extension text", 1); }, 6, true},
    {"prealloc", [] { return basic(6).preallocation(8); }, 6, true},
    {"pages4k", [] { return basic(5).page_units(16); }, 5, true},
};

TEST_F(IsamOpenTest, EveryRevisionOpensForInputAndClosesWithoutWriting) {
  for (const Variant& v : kVariants) {
    SCOPED_TRACE(v.name);
    IsamBuilder b = v.build();
    ASSERT_TRUE(b.write_files(dir(), v.name));
    const std::string index = path(std::string(v.name) + ".ism");
    const std::string data = path(std::string(v.name) + ".is1");
    platform::FileStatus before_index, before_data;
    ASSERT_TRUE(platform::file_status(index.c_str(), &before_index));
    ASSERT_TRUE(platform::file_status(data.c_str(), &before_data));

    IsamFileControl* fc = open(v.name);
    ASSERT_NE(fc, nullptr) << ctl_->status->code << " " << (g_details.empty() ? "" : g_details[0]);
    EXPECT_EQ(ctl_->status->code, 0);
    EXPECT_EQ(current_name(), index);
    EXPECT_EQ(fc->header.magic, kMagicIndex);
    EXPECT_EQ(fc->header.revision, v.revision);
    EXPECT_EQ(fc->keys.size(), b.key_count());
    EXPECT_EQ(fc->free_list.record_count, 3u);
    EXPECT_EQ(fc->state & (kStateOpen | kStateUpdate | kStateLocking), kStateOpen);
    EXPECT_EQ(fc->cache != nullptr, v.cached);
    EXPECT_NE(fc->index_handle, platform::kInvalidHandle);
    EXPECT_NE(fc->data_handle, platform::kInvalidHandle);
    EXPECT_EQ(fc->control, ctl_);
    EXPECT_EQ(fc->lock_list, nullptr);
    EXPECT_EQ(isam_close(fc, 0), 0);

    const std::vector<uint8_t> index_bytes = b.index_file();
    const std::vector<uint8_t> data_bytes = b.data_file();
    EXPECT_EQ(dir_.read(std::string(v.name) + ".ism"),
              std::string(index_bytes.begin(), index_bytes.end()));
    EXPECT_EQ(dir_.read(std::string(v.name) + ".is1"),
              std::string(data_bytes.begin(), data_bytes.end()));
    platform::FileStatus after_index, after_data;
    ASSERT_TRUE(platform::file_status(index.c_str(), &after_index));
    ASSERT_TRUE(platform::file_status(data.c_str(), &after_data));
    EXPECT_EQ(after_index.modified, before_index.modified);
    EXPECT_EQ(after_data.modified, before_data.modified);
  }
}

// ---------------------------------------------------------------------------
// Refusals.
// ---------------------------------------------------------------------------
TEST_F(IsamOpenTest, MissingFilesAndWrongKinds) {
  expect_refused("none.ism", kStatusCannotOpenIndex);
  EXPECT_EQ(errno, ENOENT);  // kept for the refinement

  ASSERT_TRUE(basic(6).write_files(dir(), "nodata"));
  std::filesystem::remove(path("nodata.is1"));
  expect_refused("nodata.ism", kStatusCannotOpenData);
  EXPECT_EQ(current_name(), path("nodata.ism"));

  ASSERT_TRUE(basic(6).magic(0x1234).write_files(dir(), "alien"));
  std::filesystem::remove(path("alien.is1"));
  expect_refused("alien.ism", kStatusNotIsam);  // not an index and no data file

  ASSERT_TRUE(basic(6).write_files(dir(), "baddata"));
  IsamBuilder::write_file(path("baddata.is1"), std::vector<uint8_t>(5000, 0x11));
  expect_refused("baddata.ism", kStatusCannotOpenData);
}

// The shared table of damaged headers: each refused with the decoder's
// status (never read past), and the details that explain the refusals.
TEST_F(IsamOpenTest, DamagedAndForeignHeadersAreRefused) {
  for (const testing::DamagedHeader& d : testing::damaged_headers()) {
    g_details.clear();
    ASSERT_TRUE(d.build().write_files(dir(), "damaged"));
    IsamFileControl* fc = open("damaged");
    if (fc != nullptr) isam_close(fc, 0);
    const int status = fc != nullptr ? 0 : ctl_->status->code;
    EXPECT_EQ(status, d.open_status >= 0 ? d.open_status : d.status) << d.name;
    if (d.status == kStatusIncompatible) {
      EXPECT_EQ(errno, 0) << d.name;
    }
  }
  const std::pair<IsamBuilder, const char*> details[] = {
      {basic(7), "1052:File revision newer than ISMGR"},
      {basic(0).file_flags(0x10), "Old revision, run fmaint -p"},
      {basic(6).compat_level(1), "File compatability level newer than ISMGR"},
  };
  for (const auto& [b, detail] : details) {
    g_details.clear();
    ASSERT_TRUE(b.write_files(dir(), "detail"));
    expect_refused("detail", b.index_file()[2] == 6 ? kStatusUnsupportedIsam : kStatusIncompatible);
    EXPECT_TRUE(has_detail(detail)) << detail;
  }
}

TEST_F(IsamOpenTest, ModeChecks) {
  ASSERT_TRUE(basic(2).write_files(dir(), "r2"));
  expect_refused("r2", kStatusNoCaching, IM_INPUT | IM_CACHE);
  IsamFileControl* fc = open("r2", IM_INPUT | IM_CACHE | IM_EXRW);
  ASSERT_NE(fc, nullptr) << ctl_->status->code;
  EXPECT_NE(fc->cache, nullptr);
  isam_close(fc, 0);

  expect_refused("r2", 9, IM_OUTPUT);  // output without description
  expect_refused("r2", 9, IM_APPEND | IM_INPUT);
  EXPECT_EQ(isam_open(ctl_, path("new").c_str(), IM_OUTPUT, "RECORD_SIZE 10"), nullptr);
  EXPECT_EQ(ctl_->status->code, kStatusXdlString);
}

}  // namespace
}  // namespace ismgr
