// The share-mode protocol takes no lock around its claim and test, so racing
// opens are its risk: two conflicting opens may both fail, never both succeed.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>

#include "ismgr/platform/platform.h"
#include "support/scratch_dir.h"

namespace ismgr::platform {
namespace {

TEST(ShareRace, ConflictingOpensNeverBothSucceed) {
  test::ScratchDir dir;
  const std::string name = dir.write("race.dat", "data");
  const unsigned all = kShareRead | kShareWrite;
  // Pairs of opens (access, share) that conflict.
  const OpenOptions pairs[][2] = {{{Access::kRead, kShareRead}, {Access::kReadWrite, all}},
                                  {{Access::kRead, all}, {Access::kWrite, kShareWrite}}};
  for (const auto& pair : pairs) {
    constexpr int kRounds = 150;
    Handle got[2][kRounds];
    // A spinning barrier: std::barrier of the Windows build now and then never woke.
    std::atomic<int> arrived{0};
    auto sync = [&](int& phase) {
      for (++arrived, phase += 2; arrived < phase;) std::this_thread::yield();
    };
    auto run = [&](int side) {
      for (int i = 0, phase = 0; i < kRounds; ++i) {
        sync(phase);
        got[side][i] = open_file(name.c_str(), pair[side]);
        sync(phase);
        if (got[side][i] != kInvalidHandle) close_file(got[side][i]);
      }
    };
    std::thread other(run, 1);
    run(0);
    other.join();
    int opened = 0;
    for (int i = 0; i < kRounds; ++i) {
      EXPECT_FALSE(got[0][i] != kInvalidHandle && got[1][i] != kInvalidHandle) << "round " << i;
      opened += (got[0][i] != kInvalidHandle) + (got[1][i] != kInvalidHandle);
    }
    EXPECT_GT(opened, 0);
  }
}

}  // namespace
}  // namespace ismgr::platform
