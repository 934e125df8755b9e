// A thread that ends without shutdown: what it registered is released as it
// ends, its context included (a thread_local destructor crashed there on
// Windows; a missed release is a leak under LSan).
#include <gtest/gtest.h>

#include <thread>

#include "ismgr/platform/platform.h"
#include "ismgr/runtime/context.h"

namespace ismgr {
namespace {

int g_released = 0;

TEST(ThreadExit, EntriesAndContextReleasedAsTheThreadEnds) {
  std::thread([] {
    for (auto* entry : {new platform::ThreadExitEntry, new platform::ThreadExitEntry}) {
      entry->release = [](platform::ThreadExitEntry* e) { ++g_released, delete e; };
      ASSERT_TRUE(platform::release_at_thread_exit(entry));
    }
    ASSERT_NE(current_context(), nullptr);
  }).join();
  EXPECT_EQ(g_released, 2);
}

}  // namespace
}  // namespace ismgr
