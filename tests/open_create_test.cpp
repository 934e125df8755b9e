#include "ismgr/describe/open_create.h"

#include <gtest/gtest.h>

#include <string>

#include "ismgr/channel/channel.h"
#include "ismgr/isam/file_control.h"
#include "ismgr/isam/isam_open.h"
#include "ismgr/runtime/context.h"
#include "ismgr/runtime/status.h"
#include "support/detail_capture.h"
#include "support/scratch_dir.h"

namespace ismgr {
namespace {

constexpr uint32_t kCreateMode = kModeOutput | kModeIsam;  // 0x44
constexpr uint32_t kReplace = IM_SPRCED;

class OpenCreateTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ctl_ = current_context();
    install_file_creation();
  }
  void TearDown() override { set_isam_create(nullptr); }
  // Opens through the channel layer as a program would; returns the status.
  int open_close(const std::string& name, const std::string& description, uint32_t mode = 0,
                 IsamHeader* header = nullptr) {
    channel* ch = channel_open(ctl_, name.c_str(), kCreateMode | mode, 0, 0, nullptr,
                               description.c_str(), nullptr);
    if (ch == nullptr) return default_status()->code;
    const auto* fc = static_cast<const IsamFileControl*>(ch->handle);
    if (header != nullptr) *header = fc->header;
    int32_t code = -1;
    channel_close(ch, 0, &code);
    EXPECT_EQ(code, 0);
    return 0;
  }
  test::ScratchDir dir_;
  ismgr_control* ctl_ = nullptr;
};

TEST_F(OpenCreateTest, ReplaceOnlyWhenAsked) {
  const std::string text = "FILE;RECORD;SIZE 60;KEY 0;START 1;LENGTH 8;";
  ASSERT_EQ(open_close(dir_.file("twice"), text), 0);
  const std::string before = dir_.read("twice.ism");
  EXPECT_EQ(open_close(dir_.file("twice"), "FILE;RECORD;SIZE 90;KEY 0;START 1;LENGTH 8;"), 40);
  EXPECT_EQ(dir_.read("twice.ism"), before);
  IsamHeader h;
  ASSERT_EQ(
      open_close(dir_.file("twice"), "FILE;RECORD;SIZE 90;KEY 0;START 1;LENGTH 8;", kReplace, &h),
      0);
  EXPECT_EQ(h.record_size, 90);
}

TEST_F(OpenCreateTest, BadDescriptionsLeaveNothing) {
  testing_support::DetailCapture details;
  // A key beyond the record; a bad page size in the name.
  EXPECT_EQ(open_close(dir_.file("x"), "FILE;RECORD;SIZE 10;KEY 0;START 5;LENGTH 8;"), 39);
  EXPECT_EQ(open_close(dir_.file("x") + ",page=3", "FILE;RECORD;SIZE 60;KEY 0;START 1;LENGTH 8;"),
            70);
  // Output without a description is refused by the channel layer.
  EXPECT_EQ(open_close(dir_.file("x"), ""), 59);
  EXPECT_TRUE(std::filesystem::is_empty(dir_.path()));
}

// A name given to the open wins over the description's NAME.
TEST_F(OpenCreateTest, GivenNameWinsOverTheDescriptions) {
  ASSERT_EQ(open_close(dir_.file("given"), "FILE;NAME " + dir_.file("other") +
                                               ";RECORD;SIZE 10;KEY 0;START 1;LENGTH 8;"),
            0);
  EXPECT_TRUE(dir_.exists("given.ism"));
  EXPECT_FALSE(dir_.exists("other.ism"));
}

}  // namespace
}  // namespace ismgr
