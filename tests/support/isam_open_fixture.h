// Test helper: a fixture for the ISAM open and close over crafted files in a
// scratch folder, with the details the open reports captured.
#ifndef ISMGR_TESTS_SUPPORT_ISAM_OPEN_FIXTURE_H_
#define ISMGR_TESTS_SUPPORT_ISAM_OPEN_FIXTURE_H_

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "ismgr/fileio/block_cache.h"
#include "ismgr/isam/isam_close.h"
#include "ismgr/isam/isam_io.h"
#include "ismgr/isam/isam_open.h"
#include "ismgr/platform/platform.h"
#include "ismgr/runtime/audit.h"
#include "ismgr/runtime/keyword.h"
#include "ismgr/runtime/status.h"
#include "support/isam_builder.h"
#include "support/scratch_dir.h"

namespace ismgr::testing {

inline std::vector<std::string> g_details;

inline void capture_detail(void*, int code, const char* text, int64_t value) {
  std::string line = std::to_string(code) + ":" + (text != nullptr ? text : "");
  if (detail_value_is_text(code)) line += std::string("=") + detail_value_text(value);
  g_details.push_back(line);
}

class IsamOpenTest : public ::testing::Test {
 protected:
  void SetUp() override {
    g_details.clear();
    set_detail_hook(capture_detail);
    ctl_ = current_context();
    ASSERT_NE(ctl_, nullptr);
    reset_isam_open_for_test();
  }
  void TearDown() override { set_detail_hook(nullptr); }

  std::string dir() const { return dir_.path().string(); }
  std::string path(const std::string& leaf) const { return dir_.file(leaf); }

  IsamFileControl* open(const std::string& leaf, uint32_t mode = IM_INPUT | IM_ISAM,
                        int32_t flags = 0) {
    ctl_->status->open_flags = flags;
    return isam_open(ctl_, path(leaf).c_str(), mode, nullptr);
  }
  // Opens, expects `status` and no control block.
  void expect_refused(const std::string& leaf, int status, uint32_t mode = IM_INPUT | IM_ISAM,
                      int32_t flags = 0) {
    IsamFileControl* fc = open(leaf, mode, flags);
    EXPECT_EQ(fc, nullptr) << leaf;
    if (fc != nullptr) isam_close(fc, 0);
    EXPECT_EQ(ctl_->status->code, status) << leaf;
  }
  bool has_detail(const std::string& text) const {
    for (const std::string& d : g_details) {
      if (d.find(text) != std::string::npos) return true;
    }
    return false;
  }
  std::string current_name() const { return ctl_->current_name; }

  test::ScratchDir dir_;
  ismgr_control* ctl_ = nullptr;
};

inline IsamBuilder basic(int revision) {
  IsamBuilder b;
  b.revision(revision).record_length(64).add_key(KeySpec::alpha("CUST", 0, 10));
  b.add_key(KeySpec::alpha("NAME", 10, 20, 0x04));
  b.counts(3, 1, 7, 2);
  return b;
}

}  // namespace ismgr::testing

#endif  // ISMGR_TESTS_SUPPORT_ISAM_OPEN_FIXTURE_H_
