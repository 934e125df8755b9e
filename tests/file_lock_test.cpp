#include "ismgr/isam/file_lock.h"

#include <gtest/gtest.h>

#include <string>

#include "ismgr/fileio/lock.h"
#include "ismgr/isam/isam_close.h"
#include "ismgr/isam/isam_open.h"
#include "ismgr/platform/platform.h"
#include "ismgr/runtime/status.h"
#include "support/isam_builder.h"
#include "support/scratch_dir.h"

namespace ismgr {
namespace {

using testing::IsamBuilder;
using testing::KeySpec;

int64_t g_now = 1700000000;

IsamBuilder basic(int revision) {
  IsamBuilder b;
  b.revision(revision).record_length(64).add_key(KeySpec::alpha("CUST", 0, 10)).counts(3, 1, 7, 2);
  return b;
}

class FileLockTest : public ::testing::Test {
 protected:
  void SetUp() override {
    g_now = 1700000000;
    set_refresh_clock_for_test([] { return g_now; });
  }
  void TearDown() override { set_refresh_clock_for_test(nullptr); }

  IsamFileControl* open(const std::string& leaf) {
    return isam_open(ctl_, dir_.file(leaf).c_str(), IM_UPDATE | IM_ISAM, nullptr);
  }
  // What `step` returned, or -status when it unwound with a status.
  template <typename Step>
  static int result(Step step) {
    try {
      return step();
    } catch (const StatusError& e) {
      return -e.code();
    }
  }
  static int take(IsamFileControl* fc) {
    return result([&] { return take_file_lock(fc); });
  }
  static int release(IsamFileControl* fc) {
    return result([&] { return release_file_lock(fc), 0; });
  }
  static int auto_lock(IsamFileControl* fc, int kind) {
    return result([&] { return automatic_lock(fc, kind, 0); });
  }
  // Takes and releases the file lock; what the take returned.
  static int cycle(IsamFileControl* fc) {
    const int changed = take(fc);
    EXPECT_EQ(release(fc), 0);
    return changed;
  }

  test::ScratchDir dir_;
  ismgr_control* ctl_ = current_context();
};

// The file is changed for another opener when the update count moved; below
// revision 6 also when the record count moved or a minute has passed.
TEST_F(FileLockTest, RefreshSeesOtherOpeners) {
  for (int revision : {5, 6}) {
    SCOPED_TRACE(revision);
    const bool old = revision < 6;
    ASSERT_TRUE(basic(revision).write_files(dir_.path().string(), "r"));
    IsamFileControl *a = open("r"), *b = open("r");
    ASSERT_TRUE(a && b);
    EXPECT_EQ(cycle(a), old ? 1 : 0);  // never refreshed: the minute has passed
    EXPECT_EQ(cycle(a), 0);
    b->free_list.record_count = 40;
    ASSERT_EQ(write_dynamic_header(b), 0);
    EXPECT_EQ(cycle(a), old ? 1 : 0);
    EXPECT_EQ(a->free_list.record_count, 40u);  // refreshed all the same
    g_now += 60;
    EXPECT_EQ(cycle(a), 0);
    g_now += 61;
    EXPECT_EQ(cycle(a), old ? 1 : 0);
    take(b);  // b changes the file: the update count moves
    b->engine.header_changed = 1;
    EXPECT_EQ(release(b), 0);
    EXPECT_EQ(b->engine.header_changed, 0);  // a shared file's header is on disk now
    EXPECT_EQ(take(a), 1);
    EXPECT_EQ(a->counters.update_count, 8u);
    EXPECT_EQ(take(a), 0);  // already held: nothing is done
    EXPECT_FALSE(platform::lock_range(b->index_handle, fx_lock_offset(0), 1, true));
    EXPECT_EQ(release(a), 0);
    EXPECT_EQ(isam_close(a, 0), 0);
    EXPECT_EQ(isam_close(b, 0), 0);
  }
}

TEST_F(FileLockTest, AutomaticLockAgainstAnotherOpener) {
  ASSERT_TRUE(basic(6).write_files(dir_.path().string(), "a"));
  IsamFileControl *one = open("a"), *two = open("a");
  ASSERT_TRUE(one && two);

  one->engine.current_record = -1;
  EXPECT_EQ(auto_lock(one, 2), -26);

  one->engine.current_record = 5000;
  EXPECT_EQ(auto_lock(one, 2), 0);
  EXPECT_EQ(auto_lock(one, 1), 0);  // already held
  EXPECT_NE(one->state & kStateAutoLock, 0u);

  two->engine.current_record = 5000;
  EXPECT_EQ(auto_lock(two, 2), -1);

  // Released while also in the list: the OS lock stays.
  ASSERT_EQ(lock_list_add(one, 5000, 5000), 1);
  EXPECT_EQ(auto_lock(one, 0), 0);
  EXPECT_EQ(one->state & kStateAutoLock, 0u);
  EXPECT_EQ(auto_lock(two, 2), -1);

  EXPECT_EQ(isam_release(one), 0);
  EXPECT_EQ(one->lock_list, nullptr);
  EXPECT_EQ(auto_lock(two, 2), 0);

  // Moving to another record releases the old one.
  two->engine.current_record = 6000;
  EXPECT_EQ(auto_lock(two, 2), 0);
  one->engine.current_record = 5000;
  EXPECT_EQ(auto_lock(one, 2), 0);

  EXPECT_EQ(isam_close(one, 0), 0);  // the close releases every lock
  EXPECT_EQ(auto_lock(two, 0), 0);
  EXPECT_EQ(isam_close(two, 0), 0);
  EXPECT_EQ(release_all_record_locks(nullptr), -2);
}

}  // namespace
}  // namespace ismgr
