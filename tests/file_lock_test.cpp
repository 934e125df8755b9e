// The file lock with its header refresh, and the record locks.
#include "ismgr/isam/file_lock.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

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
int64_t fixed_clock() {
  return g_now;
}

IsamBuilder basic(int revision) {
  IsamBuilder b;
  b.revision(revision).record_length(64).add_key(KeySpec::alpha("CUST", 0, 10));
  b.counts(3, 1, 7, 2);
  return b;
}

class FileLockTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ctl_ = current_context();
    ASSERT_NE(ctl_, nullptr);
    g_now = 1700000000;
    set_refresh_clock_for_test(fixed_clock);
  }
  void TearDown() override { set_refresh_clock_for_test(nullptr); }

  IsamFileControl* open(const std::string& leaf, uint32_t mode = IM_UPDATE | IM_ISAM) {
    return isam_open(ctl_, dir_.file(leaf).c_str(), mode, nullptr);
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
  ismgr_control* ctl_ = nullptr;
};

// The file is changed for another opener when the update count moved; below
// revision 6 also when the record count moved or a minute has passed.
TEST_F(FileLockTest, RefreshSeesOtherOpeners) {
  for (int revision : {5, 6}) {
    SCOPED_TRACE(revision);
    const bool old = revision < 6;
    ASSERT_TRUE(basic(revision).write_files(dir_.path().string(), "r"));
    IsamFileControl* a = open("r");
    IsamFileControl* b = open("r");
    ASSERT_NE(a, nullptr);
    ASSERT_NE(b, nullptr);
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

// Random adds, moves and removals on a lock-free file checked against a
// vector of nodes: the entries, their order, the node sizes and which entry
// a position finds (with static vectoring either of its two positions).
TEST_F(FileLockTest, LockListBehavesLikeAVectorOfNodes) {
  for (bool vectoring : {false, true}) {
    SCOPED_TRACE(vectoring);
    const std::string leaf = vectoring ? "v" : "p";
    ASSERT_TRUE(basic(6).file_flags(vectoring ? 0x18 : 0).write_files(dir_.path().string(), leaf));
    IsamFileControl* fc = open(leaf, IM_UPDATE | IM_ISAM | IM_EXRW);  // lock-free
    ASSERT_NE(fc, nullptr);
    const size_t capacity = vectoring ? 16 : 32;
    struct Entry {
      uint64_t first, second;  // without vectoring only `first`
    };
    std::vector<std::vector<Entry>> nodes;
    auto find = [&](uint64_t at, size_t* n, size_t* i) {
      for (*n = 0; *n < nodes.size(); ++*n) {
        for (*i = 0; *i < nodes[*n].size(); ++*i) {
          const Entry& e = nodes[*n][*i];
          if (e.first == at || (vectoring && e.second == at)) return true;
        }
      }
      return false;
    };
    std::mt19937 rng(vectoring ? 5 : 6);
    for (int step = 0; step < 3000; ++step) {
      const uint64_t a = 1 + rng() % 60, b = 1 + rng() % 60;
      size_t n = 0, i = 0;
      const int op = rng() % 7;
      if (op < 3) {
        ASSERT_EQ(lock_list_add(fc, a, b), 1);
        size_t k = 0;
        while (k < nodes.size() && nodes[k].size() == capacity) ++k;
        if (k == nodes.size()) nodes.emplace_back();
        nodes[k].push_back(vectoring ? Entry{a, a == b ? 0 : b} : Entry{b, 0});
      } else if (op < 5) {
        const bool found = find(a, &n, &i);
        ASSERT_EQ(lock_list_remove(fc, a), found ? 1 : 0) << step;
        if (found) {
          nodes[n][i] = nodes[n].back();
          nodes[n].pop_back();
          if (nodes[n].empty()) nodes.erase(nodes.begin() + n);
        }
      } else if (op < 6) {
        const bool found = find(a, &n, &i);
        ASSERT_EQ(lock_list_move(fc, 100 + b, a), found ? 1 : 0) << step;
        if (found) (vectoring ? nodes[n][i].second : nodes[n][i].first) = 100 + b;
      } else {
        ASSERT_EQ(lock_list_contains(fc, a), find(a, &n, &i) ? 1 : 0) << step;
      }
      size_t total = 0, k = 0;
      for (const auto& node : nodes) total += node.size();
      ASSERT_EQ(lock_list_size(fc), total) << step;
      RecordLockNode* node = fc->lock_list;
      ASSERT_EQ(node == nullptr, nodes.empty()) << step;
      for (; k < nodes.size(); ++k, node = node->next) {
        ASSERT_EQ(node->count, nodes[k].size()) << step << " node " << k;
        for (size_t j = 0; j < nodes[k].size(); ++j) {
          ASSERT_EQ(node->slots[j], nodes[k][j].first) << step;
          if (vectoring) {
            ASSERT_EQ(node->slots[16 + j], nodes[k][j].second) << step;
          }
        }
        if (k + 1 < nodes.size()) {
          ASSERT_NE(node->next, fc->lock_list) << step;
        }
      }
      if (node != nullptr) {  // the ring closes
        ASSERT_EQ(node, fc->lock_list) << step;
      }
    }
    EXPECT_EQ(release_all_record_locks(fc), 0);
    EXPECT_EQ(fc->lock_list, nullptr);
    EXPECT_EQ(isam_close(fc, 0), 0);
  }
}

TEST_F(FileLockTest, AutomaticLockAgainstAnotherOpener) {
  ASSERT_TRUE(basic(6).write_files(dir_.path().string(), "a"));
  IsamFileControl* one = open("a");
  IsamFileControl* two = open("a");
  ASSERT_NE(one, nullptr);
  ASSERT_NE(two, nullptr);

  one->engine.current_record = -1;
  EXPECT_EQ(auto_lock(one, 2), -26);

  one->engine.current_record = 5000;
  EXPECT_EQ(auto_lock(one, 2), 0);
  EXPECT_NE(one->state & kStateAutoLock, 0u);
  EXPECT_EQ(auto_lock(one, 1), 0);  // already held

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
