// The creation branch of the ISAM open, through a channel: the description
// is read and parsed, and the installed creation is called with it.
#include "ismgr/isam/open_creation.h"

#include <gtest/gtest.h>

#include <string>

#include "ismgr/describe/file_description.h"
#include "ismgr/runtime/channel.h"
#include "ismgr/runtime/status.h"
#include "support/isam_builder.h"
#include "support/scratch_dir.h"

namespace ismgr {
namespace {

std::string g_created_name;
uint16_t g_created_size = 0;
uint32_t g_sprced = 0;
int g_result = 0;

int record_creation(ismgr_control* ctl, const FileDescription& description, const std::string& name,
                    uint32_t sprced, int32_t revision) {
  g_created_name = name;
  g_created_size = description.record_size;
  g_sprced = sprced;
  EXPECT_EQ(revision, 6);
  if (g_result != 0) ctl->status->code = g_result;
  return g_result != 0 ? -1 : 0;
}

class OpenCreationTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ctl_ = current_context();
    ASSERT_NE(ctl_, nullptr);
    g_result = 0;
    set_isam_create(record_creation);
    testing::IsamBuilder b;
    b.add_key(testing::KeySpec::alpha("K", 0, 4));
    ASSERT_TRUE(b.write_files(dir_.path().string(), "made"));
  }
  void TearDown() override { set_isam_create(nullptr); }

  channel* open(const char* name, uint32_t mode, const std::string& description) {
    return channel_open(ctl_, name, mode, 0, 0, nullptr, description.c_str(), nullptr);
  }

  test::ScratchDir dir_;
  ismgr_control* ctl_ = nullptr;
};

TEST_F(OpenCreationTest, EmptyNameTakesTheDescriptionsName) {
  const std::string description = "FILE;NAME " + dir_.file("made") + ";RECORD;SIZE 64;";
  channel* ch = open("", 0x200044, description);  // output ISAM with IM_SPRCED
  ASSERT_NE(ch, nullptr) << ctl_->status->code;
  EXPECT_EQ(g_created_name, dir_.file("made"));
  EXPECT_EQ(g_created_size, 64);
  EXPECT_EQ(g_sprced, 0x200000u);
  EXPECT_EQ(std::string(ch->file_name), dir_.file("made.ism"));
  EXPECT_EQ(channel_close(ch, 0, nullptr), 0);
}

TEST_F(OpenCreationTest, DescriptionFromAFile) {
  dir_.write("desc.xdl", "FILE\nNAME " + dir_.file("made") + "\nRECORD\nSIZE 32\n");
  channel* ch = open("", 0x44, "@" + dir_.file("desc"));
  ASSERT_NE(ch, nullptr) << ctl_->status->code;
  EXPECT_EQ(g_created_size, 32);
  EXPECT_EQ(channel_close(ch, 0, nullptr), 0);
}

TEST_F(OpenCreationTest, GivenNameWinsAndOptionsStayWithTheCreation) {
  const std::string description = "FILE;NAME other;RECORD;SIZE 10;";
  channel* ch = open(dir_.file("made").c_str(), 0x44, description);
  ASSERT_NE(ch, nullptr) << ctl_->status->code;
  EXPECT_EQ(g_created_name, dir_.file("made"));
  channel_close(ch, 0, nullptr);
}

TEST_F(OpenCreationTest, FailedCreationKeepsItsStatus) {
  g_result = kStatusExistingFile;
  EXPECT_EQ(open("", 0x44, "FILE;NAME " + dir_.file("made") + ";RECORD;SIZE 10;"), nullptr);
  EXPECT_EQ(ctl_->status->code, kStatusExistingFile);
}

}  // namespace
}  // namespace ismgr
