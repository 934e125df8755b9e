// Channel open and close over a stand-in driver, and over the ISAM driver.
#include "ismgr/channel/channel.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <tuple>

#include "ismgr/platform/platform.h"
#include "ismgr/runtime/context.h"
#include "ismgr/runtime/status.h"
#include "support/data_rows.h"
#include "support/isam_builder.h"
#include "support/scratch_dir.h"

namespace ismgr {
namespace {

// A stand-in driver whose open and close results the tests choose.
struct FakeState {
  int opens = 0, closes = 0, info_calls = 0;
  bool open_succeeds = true;
  int open_status = 0, open_errno = 0;  // left by a failing open
  uint32_t open_os_error = 0, last_close_mode = 0;
  int64_t close_result = 0;
  int close_status = 0;
  std::string last_name;
} g_fake;

int g_handle_object = 0;

void* fake_open(ismgr_control* ctl, const char* name, uint32_t, const char*, const char*, int64_t,
                int64_t) {
  ++g_fake.opens;
  g_fake.last_name = name;
  if (g_fake.open_succeeds) {
    std::strcpy(ctl->current_name, "expanded-name.ism");
    return &g_handle_object;
  }
  ctl->status->code = g_fake.open_status;
  errno = g_fake.open_errno;
  platform::set_last_error(g_fake.open_os_error);
  return nullptr;
}

int64_t fake_close(void*, ChannelCall& call) {
  ++g_fake.closes;
  g_fake.last_close_mode = call.mode;
  call.control->status->code = g_fake.close_status;
  return g_fake.close_result;
}

int64_t fake_info(void*, ChannelCall& call) {
  ++g_fake.info_calls;
  if (call.number != nullptr) *call.number = 42;
  return 0;
}

ChannelDriver make_fake() {
  ChannelDriver d{"fake", fake_open, nullptr, {}};
  d.slots[kSlotClose] = fake_close;
  d.slots[kSlotFileInfo] = fake_info;
  return d;
}
const ChannelDriver kFake = make_fake();

class ChannelTest : public ::testing::Test {
 protected:
  void SetUp() override {
    g_fake = FakeState();
    previous_ = set_channel_driver_for_test(ChannelDriverKind::kIsam, &kFake);
    ctl_ = current_context();
  }
  void TearDown() override { set_channel_driver_for_test(ChannelDriverKind::kIsam, previous_); }

  channel* open(const char* name, uint32_t mode = 0x42, const char* description = nullptr,
                ismgr_status* status = nullptr) {
    return channel_open(ctl_, name, mode, 0, 0, nullptr, description, status);
  }
  int code() const { return ctl_->status->code; }

  const ChannelDriver* previous_ = nullptr;
  ismgr_control* ctl_ = nullptr;
};

// The open fills the table and keeps the driver's expanded name; slots the
// driver lacks answer 63; "filename" is the channel's own answer, anything
// else (even the ambiguous "f") goes to the driver.
TEST_F(ChannelTest, OpenSlotsAndTheFileName) {
  channel* ch = open("cust");
  ASSERT_NE(ch, nullptr);
  EXPECT_EQ(g_fake.last_name, "cust");  // the driver expands the name itself
  EXPECT_STREQ(ch->file_name, "expanded-name.ism");
  for (int slot = 1; slot <= kChannelSlotCount; ++slot) {
    EXPECT_EQ(ch->ops[slot] == nullptr, slot == kSlotEmpty) << slot;
  }
  ChannelCall call;
  for (int slot : {kSlotRead, kSlotKeyByName, kSlotUnused33}) {
    ctl_->status->code = 0;
    EXPECT_EQ(channel_call(ch, slot, call), -1) << slot;
    EXPECT_EQ(code(), kStatusIllegalFunction) << slot;
  }
  for (int slot : {0, 35, int{kSlotEmpty}}) EXPECT_EQ(channel_call(ch, slot, call), -1) << slot;
  char text[64];
  EXPECT_EQ(channel_file_info(ch, nullptr, text, sizeof text, "nofilen", 0, 0), 0);
  EXPECT_STREQ(text, "expanded-name.ism");
  EXPECT_EQ(g_fake.info_calls, 0);
  int32_t number = 0;
  EXPECT_EQ(channel_file_info(ch, &number, text, sizeof text, "f", 0, 0), 0);
  EXPECT_EQ(number, 42);
  EXPECT_EQ(channel_close(ch, 0, nullptr), 0);
  EXPECT_EQ(channel_close(open(""), 0, nullptr), 0);
  EXPECT_EQ(g_fake.last_name, "");  // an empty name reaches the driver empty
}

TEST_F(ChannelTest, RefusedAndFailedOpens) {
  for (const auto& r : test::data_rows("channel_opens.tsv")) {
    ctl_->status->code = 0;
    g_fake.open_succeeds = r[0] == "refuse";
    if (r[0] == "refuse") {
      const auto mode = static_cast<uint32_t>(std::stoul(r[2], nullptr, 16));
      EXPECT_EQ(open(r[1].c_str(), mode, r[3] == "-" ? nullptr : r[3].c_str()), nullptr) << r.where;
      EXPECT_EQ(code(), r.number(4)) << r.where;
      continue;
    }
    g_fake.open_status = r.number(1);
    g_fake.open_errno = r.number(2);
    g_fake.open_os_error = static_cast<uint32_t>(r.number(3));
    EXPECT_EQ(open("cust"), nullptr) << r.where;
    EXPECT_EQ(code(), r.number(4)) << r.where;
  }
  EXPECT_EQ(g_fake.opens, 4);  // the failing ones only
  open("host@", 0x42);
  EXPECT_STREQ(ctl_->current_name, "host@");  // the refused name, for the caller's message
}

TEST_F(ChannelTest, FailingCloseKeepsTheChannelPurgeAndStatusBlocks) {
  channel* ch = open("cust");
  ASSERT_NE(ch, nullptr);
  g_fake.close_result = -1;
  g_fake.close_status = kStatusWriteFailure;
  int32_t status = 0;
  EXPECT_EQ(channel_close(ch, 0, &status), -1);
  EXPECT_EQ(status, kStatusWriteFailure);
  // Still open: a purge then reports success but keeps the status.
  EXPECT_EQ(channel_close(ch, kClosePurge, &status), 0);
  EXPECT_EQ(status, kStatusWriteFailure);
  EXPECT_EQ(g_fake.closes, 2);
  EXPECT_EQ(g_fake.last_close_mode, kClosePurge);
  EXPECT_EQ(channel_close(nullptr, 0, &status), -1);
  g_fake = FakeState();
  ismgr_status mine;  // a caller's status block is detached at close unless kept
  ASSERT_TRUE(mine.block_buffer.obtain_fresh(100));
  EXPECT_EQ(channel_close(open("cust", 0x42, nullptr, &mine), 0, nullptr), 0);
  EXPECT_EQ(ctl_->status, default_status());
  EXPECT_TRUE(mine.block_buffer.empty());
  EXPECT_EQ(channel_close(open("cust", 0x42, nullptr, &mine), kCloseNoFcbRelease, nullptr), 0);
  EXPECT_EQ(ctl_->status, &mine);  // kept attached
  ctl_->status = default_status();
}

TEST_F(ChannelTest, StartupStatusStopsOpensUnlessTheBlockSaysOtherwise) {
  test::ScratchDir dir;
  platform::put_env(("CORVETHRT64=" + dir.file("no/such")).c_str());
  reset_process_for_test();
  ctl_ = current_context();
  ASSERT_NE(ctl_, nullptr);
  ASSERT_EQ(startup_status(), 87);
  EXPECT_EQ(open("cust"), nullptr);
  EXPECT_EQ(code(), 87);
  EXPECT_EQ(g_fake.opens, 0);
  ismgr_status mine;
  mine.open_flags = kStatusFlagIgnoreStartup;
  EXPECT_EQ(channel_close(open("cust", 0x42, nullptr, &mine), 0, nullptr), 0);
  platform::put_env("CORVETHRT64=");
  reset_process_for_test();
}

// Refused opens keep the driver's own status despite a stale system error;
// only a missing file is refined to "not found".
TEST(IsamChannel, RefusedOpensKeepTheirStatus) {
  test::ScratchDir dir;
  ismgr_control* ctl = current_context();
  testing::IsamBuilder b;
  ASSERT_TRUE(b.revision(7)
                  .add_key(testing::KeySpec::alpha("K", 0, 4))
                  .write_files(dir.path().string(), "newer"));
  const std::tuple<const char*, uint32_t, const char*, int> rows[] = {
      {"none", 0x42, nullptr, 57},
      {"newer", 0x42, nullptr, kStatusIncompatible},
      {"new", 0x44, "FILE;NAME new;RECORD;SIZE 10;", kStatusCannotCreate}};
  for (const auto& [name, mode, description, status] : rows) {
    errno = ENOENT;
    platform::set_last_error(platform::kErrFileNotFound);
    EXPECT_EQ(channel_open(ctl, dir.file(name).c_str(), mode, 0, 0, nullptr, description, nullptr),
              nullptr);
    EXPECT_EQ(ctl->status->code, status) << name;
  }
}

}  // namespace
}  // namespace ismgr
