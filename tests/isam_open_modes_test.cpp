// The ISAM open's choices of locking, caching and allocation, the temporary
// index, and the close and flush that write the header back.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "ismgr/isam/isam_close.h"
#include "ismgr/isam/isam_io.h"
#include "ismgr/isam/isam_open.h"
#include "ismgr/platform/platform.h"
#include "ismgr/runtime/audit.h"
#include "ismgr/runtime/keyword.h"
#include "ismgr/runtime/status.h"
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
// Locking, caching and allocation choices.
// ---------------------------------------------------------------------------
TEST_F(IsamOpenTest, NoLockNeedsEnableNoLockOrExclusivity) {
  ASSERT_TRUE(basic(6).write_files(dir(), "cust"));
  IsamFileControl* fc = open("cust", IM_UPDATE | IM_ISAM | IM_NOLOCK);
  ASSERT_NE(fc, nullptr);
  EXPECT_EQ(fc->state & kStateNoLock, 0u);
  EXPECT_EQ(fc->state & kStateUpdate, kStateUpdate);
  isam_close(fc, 0);

  platform::put_env("ENABLE_NOLOCK=1");
  fc = open("cust", IM_UPDATE | IM_ISAM | IM_NOLOCK);
  platform::put_env("ENABLE_NOLOCK=");
  ASSERT_NE(fc, nullptr);
  EXPECT_EQ(fc->state & (kStateNoLock | kStateSequential), kStateNoLock | kStateSequential);
  EXPECT_EQ(fc->state & kStateLocking, 0u);
  isam_close(fc, 0);

  fc = open("cust", IM_UPDATE | IM_ISAM | IM_EXW | IM_WAIT);
  ASSERT_NE(fc, nullptr);
  EXPECT_EQ(fc->state & (kStateNoLock | kStateExw | kStateLocking | kStateWait),
            kStateNoLock | kStateExw | kStateLocking | kStateWait);
  isam_close(fc, 0);
}

// ---------------------------------------------------------------------------
// Close and flush.
// ---------------------------------------------------------------------------
uint32_t record_count_on_disk(ismgr_control* ctl, const std::string& name) {
  IsamFileControl* fc = isam_open(ctl, name.c_str(), IM_INPUT | IM_ISAM, nullptr);
  if (fc == nullptr) return 0xFFFFFFFF;
  const uint32_t n = fc->free_list.record_count;
  isam_close(fc, 0);
  return n;
}

TEST_F(IsamOpenTest, CloseWritesTheChangedHeaderOfEveryCachedKind) {
  const std::pair<const char*, uint32_t> opens[] = {
      {"shared", IM_UPDATE | IM_ISAM},
      {"exclusive", IM_UPDATE | IM_ISAM | IM_EXRW},  // its cache keeps the end of file
      {"exw", IM_UPDATE | IM_ISAM | IM_EXW},
  };
  for (auto [name, mode] : opens) {
    for (int revision : {3, 5, 6}) {
      SCOPED_TRACE(std::string(name) + std::to_string(revision));
      const std::string leaf = std::string(name) + std::to_string(revision);
      ASSERT_TRUE(basic(revision).write_files(dir(), leaf));
      IsamFileControl* fc = open(leaf, mode);
      ASSERT_NE(fc, nullptr) << ctl_->status->code;
      ASSERT_NE(fc->cache, nullptr);
      fc->free_list.record_count = 77;
      fc->engine.header_changed = 1;
      EXPECT_EQ(isam_close(fc, 0), 0);
      EXPECT_EQ(record_count_on_disk(ctl_, path(leaf)), 77u);
    }
  }
}

TEST_F(IsamOpenTest, InvalidControlBlocksAreRefused) {
  EXPECT_EQ(isam_close(nullptr, 0), -2);
  EXPECT_EQ(isam_flush(nullptr), -2);
  EXPECT_EQ(isam_release(nullptr), -2);
  IsamFileControl fake;
  fake.header.magic = kMagicIndex;
  fake.index_handle = platform::kInvalidHandle;
  EXPECT_EQ(isam_close(&fake, 0), -2);
  fake.header.magic = kMagicData;
  fake.index_handle = 3;
  fake.data_handle = 4;
  EXPECT_EQ(isam_flush(&fake), -2);
}

}  // namespace
}  // namespace ismgr
