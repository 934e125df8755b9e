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
// Temporary index.
// ---------------------------------------------------------------------------
TEST_F(IsamOpenTest, TemporaryIndexWithTheDataHandleMovedOver) {
  IsamBuilder b = basic(6);
  ASSERT_TRUE(b.write_files(dir(), "cust"));
  ASSERT_TRUE(IsamBuilder::write_file(path("tk.ism"), b.temp_index_file()));
  IsamFileControl* main = open("cust", IM_INPUT | IM_ISAM | IM_NOLOCK);
  ASSERT_NE(main, nullptr);
  IsamFileControl* temp = open("tk", IM_INPUT | IM_ISAM | IM_NOLOCK | IM_TEMP);
  ASSERT_NE(temp, nullptr) << ctl_->status->code;
  EXPECT_EQ(temp->header.magic, kMagicTempIndex);
  EXPECT_EQ(temp->data_handle, platform::kInvalidHandle);
  EXPECT_EQ(temp->state & kStateTemp, kStateTemp);

  const platform::Handle data = main->data_handle;
  ASSERT_TRUE(isam_move_data_handle(main, temp));
  EXPECT_EQ(temp->data_handle, data);
  EXPECT_FALSE(isam_move_data_handle(main, temp));
  EXPECT_EQ(isam_close(main, 0), 0);  // released although its data handle moved
  uint8_t byte = 0;
  EXPECT_EQ(isam_read_at(data, &byte, 1, 0), 1);  // the temporary index still holds it
  EXPECT_EQ(isam_close(temp, 0), 0);
}

TEST_F(IsamOpenTest, TemporaryIndexTakesTheHandleLeftInTheStatusBlock) {
  ASSERT_TRUE(IsamBuilder::write_file(path("tk.ism"), basic(6).temp_index_file()));
  platform::Handle h = isam_file_open(path("tk.ism"), false, 0, false);
  ASSERT_NE(h, platform::kInvalidHandle);
  uint8_t skip[10];
  ASSERT_EQ(isam_read(h, skip, sizeof skip), 10);
  ctl_->status->handle = h;
  IsamFileControl* temp = open("no-such-name", IM_INPUT | IM_ISAM | IM_TEMP);
  ASSERT_NE(temp, nullptr) << ctl_->status->code;
  EXPECT_EQ(temp->index_handle, h);
  EXPECT_EQ(ctl_->status->handle, kNoHandle);
  EXPECT_EQ(isam_close(temp, 0), 0);

  // A normal index is not a temporary one.
  ASSERT_TRUE(basic(6).write_files(dir(), "cust"));
  expect_refused("cust", kStatusIncompatible, IM_INPUT | IM_ISAM | IM_TEMP);
}

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

TEST_F(IsamOpenTest, StatusBlockFlagsAreReadOnceAndCleared) {
  ASSERT_TRUE(basic(6).write_files(dir(), "cust"));
  IsamFileControl* fc = open("cust", IM_INPUT | IM_ISAM, kOpenFlagKeep40000);
  ASSERT_NE(fc, nullptr);
  EXPECT_EQ(fc->state & kStateNoStatusFlag80, 0u);
  EXPECT_EQ(ctl_->status->open_flags, 0);
  isam_close(fc, 0);
  fc = open("cust");
  ASSERT_NE(fc, nullptr);
  EXPECT_NE(fc->state & kStateNoStatusFlag80, 0u);
  isam_close(fc, 0);
}

TEST_F(IsamOpenTest, DataBuffersFromNumdbufs) {
  platform::put_env("NUMDBUFS=");
  EXPECT_EQ(data_cache_buffers(), 4u);
  for (auto [value, expected] :
       {std::pair{"0", 1u}, {"11", 1u}, {"7", 7u}, {"1", 1u}, {"10", 10u}, {"x", 1u}}) {
    platform::put_env((std::string("NUMDBUFS=") + value).c_str());
    EXPECT_EQ(data_cache_buffers(), expected) << value;
  }
  platform::put_env("NUMDBUFS=");
}

TEST_F(IsamOpenTest, BadPreallocationWithdrawsUpdatePermission) {
  IsamBuilder b = basic(6).preallocation(8);
  const size_t data_size = b.data_file().size();
  b.leofs(data_size, 0);  // the data end lies at the physical end
  ASSERT_TRUE(b.write_files(dir(), "bad"));
  IsamFileControl* fc = open("bad", IM_UPDATE | IM_ISAM);
  ASSERT_NE(fc, nullptr) << ctl_->status->code;
  EXPECT_TRUE(fc->bad_allocation);
  EXPECT_EQ(fc->state & kStateUpdate, 0u);
  isam_close(fc, 0);

  platform::put_env("IGNORE_BADALLOC=1");
  fc = open("bad", IM_UPDATE | IM_ISAM);
  platform::put_env("IGNORE_BADALLOC=");
  ASSERT_NE(fc, nullptr);
  EXPECT_FALSE(fc->bad_allocation);
  EXPECT_NE(fc->state & kStateUpdate, 0u);
  isam_close(fc, 0);

  IsamBuilder good = basic(6).preallocation(8);
  ASSERT_TRUE(good.write_files(dir(), "good"));
  fc = open("good", IM_UPDATE | IM_ISAM);
  ASSERT_NE(fc, nullptr);
  EXPECT_FALSE(fc->bad_allocation);
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

TEST_F(IsamOpenTest, FailedWriteBackLeavesTheFileOpen) {
  ASSERT_TRUE(basic(6).write_files(dir(), "ro"));
  IsamFileControl* fc = open("ro");  // read-only handles: the write must fail
  ASSERT_NE(fc, nullptr);
  fc->free_list.record_count = 99;
  fc->engine.header_changed = 1;
  EXPECT_EQ(isam_flush(fc), -1);
  EXPECT_EQ(ctl_->status->code, kStatusWriteFailure);
  EXPECT_EQ(isam_close(fc, 0), -1);
  EXPECT_EQ(ctl_->status->code, kStatusWriteFailure);
  ASSERT_TRUE(isam_control_valid(fc));  // still open and usable
  fc->engine.header_changed = 0;
  EXPECT_EQ(isam_close(fc, 0), 0);
  EXPECT_EQ(record_count_on_disk(ctl_, path("ro")), 3u);
}

TEST_F(IsamOpenTest, TrackingAreaIsNotWrittenBack) {
  IsamBuilder b = basic(6).change_tracking(1, 2, 3, 1234);
  ASSERT_TRUE(b.write_files(dir(), "t"));
  IsamFileControl* fc = open("t", IM_UPDATE | IM_ISAM);
  ASSERT_NE(fc, nullptr);
  fc->tracking.times[1] = 999;
  fc->free_list.record_count = 5;
  fc->engine.header_changed = 1;
  EXPECT_EQ(isam_close(fc, 0), 0);
  fc = open("t");
  ASSERT_NE(fc, nullptr);
  EXPECT_EQ(fc->free_list.record_count, 5u);
  EXPECT_EQ(fc->tracking.times[1], 1234u);
  isam_close(fc, 0);
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

// ---------------------------------------------------------------------------
// Audit lines.
// ---------------------------------------------------------------------------
TEST(IsamOpenAudit, NoLockWarningAndFlushLine) {
  test::ScratchDir dir;
  platform::put_env(("ISMGR_AUDIT=" + dir.file("audit.log")).c_str());
  reset_audit_for_test();
  reset_process_for_test();
  ismgr_control* ctl = current_context();
  ASSERT_NE(ctl, nullptr);
  ASSERT_TRUE(basic(6).write_files(dir.path().string(), "cust"));
  IsamFileControl* fc =
      isam_open(ctl, dir.file("cust").c_str(), IM_UPDATE | IM_ISAM | IM_NOLOCK, nullptr);
  ASSERT_NE(fc, nullptr);
  fc->engine.written = true;
  EXPECT_EQ(isam_flush(fc), 0);
  EXPECT_EQ(isam_release(fc), 0);
  EXPECT_EQ(isam_close(fc, 0), 0);
  // A context that is not the thread's own is noted.
  ismgr_control other;
  other.status = default_status();
  other.config = process_config();
  other.current_name = ctl->current_name;
  fc = isam_open(&other, dir.file("cust").c_str(), IM_INPUT | IM_ISAM, nullptr);
  ASSERT_NE(fc, nullptr);
  EXPECT_EQ(fc->control, &other);
  EXPECT_EQ(isam_close(fc, 0), 0);
  std::fflush(thread_audit_stream());
  const std::string log = dir.read("audit.log");
  EXPECT_NE(log.find("Mismatched ISMGR_CONTROL"), std::string::npos) << log;
  EXPECT_NE(log.find("IM_NOLOCK mode ignored to protect file integrity"), std::string::npos) << log;
  EXPECT_NE(log.find("ismgr_flush("), std::string::npos) << log;
  EXPECT_NE(log.find("free("), std::string::npos) << log;
  reset_process_for_test();
  platform::put_env("ISMGR_AUDIT=");
  reset_audit_for_test();
}

}  // namespace
}  // namespace ismgr
