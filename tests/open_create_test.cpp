#include "ismgr/describe/open_create.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>

#include "ismgr/isam/file_control.h"
#include "ismgr/isam/isam_open.h"
#include "ismgr/runtime/channel.h"
#include "ismgr/runtime/context.h"
#include "ismgr/runtime/status.h"
#include "support/detail_capture.h"
#include "support/scratch_dir.h"

namespace ismgr {
namespace {

constexpr uint32_t kCreateMode = kModeOutput | kModeIsam;  // 0x44
constexpr uint32_t kReplace = IM_SPRCED;

const char kXdl[] =
    "FILE\n"
    "  ORGANIZATION indexed\n"
    "RECORD\n"
    "  SIZE 120\n"
    "  FORMAT fixed\n"
    "KEY 0\n"
    "  NAME id\n"
    "  START 1\n"
    "  LENGTH 8\n"
    "KEY 1\n"
    "  NAME city\n"
    "  START 9 ! the city code\n"
    "  LENGTH 12\n"
    "  DUPLICATES yes\n";

class OpenCreateTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ctl_ = current_context();
    install_file_creation();
    revision_ = process_config()->creation_revision;
  }
  void TearDown() override {
    process_config()->creation_revision = revision_;
    set_isam_create(nullptr);
  }
  // Opens through the channel layer as a program would; returns the status.
  int open_close(const std::string& name, const std::string& description, uint32_t mode = 0,
                 IsamHeader* header = nullptr, std::vector<PortIntSpec>* port_ints = nullptr) {
    channel* ch = channel_open(ctl_, name.c_str(), kCreateMode | mode, 0, 0, nullptr,
                               description.c_str(), nullptr);
    if (ch == nullptr) return default_status()->code;
    const auto* fc = static_cast<const IsamFileControl*>(ch->handle);
    if (header != nullptr) *header = fc->header;
    if (port_ints != nullptr) *port_ints = fc->port_ints;
    int32_t code = -1;
    channel_close(ch, 0, &code);
    EXPECT_EQ(code, 0);
    return 0;
  }
  test::ScratchDir dir_;
  ismgr_control* ctl_ = nullptr;
  int revision_ = 6;
};

TEST_F(OpenCreateTest, DescriptionFileWithDefaultExtension) {
  dir_.write("cust.xdl", kXdl);
  IsamHeader h;
  ASSERT_EQ(open_close(dir_.file("cust"), "@" + dir_.file("cust"), 0, &h), 0);
  EXPECT_TRUE(dir_.exists("cust.ism"));
  EXPECT_TRUE(dir_.exists("cust.is1"));
  EXPECT_EQ(h.magic, 0x5CA5);
  EXPECT_EQ(h.revision, 6);
  EXPECT_EQ(h.record_size, 120);
  EXPECT_EQ(h.key_count, 2);
  EXPECT_EQ(h.record_overhead, 4);
  EXPECT_EQ(h.max_key_size, 15);
}

TEST_F(OpenCreateTest, OptionsOnTheNameAreNotPartOfTheFileName) {
  IsamHeader h;
  std::vector<PortIntSpec> ints;
  const std::string text = "FILE;RECORD;SIZE 60;KEY 0;START 1;LENGTH 8;";
  ASSERT_EQ(open_close(dir_.file("opt") + ",page=1024, i=21:4", text, 0, &h, &ints), 0);
  EXPECT_TRUE(dir_.exists("opt.ism"));
  EXPECT_EQ(h.page_units, 4);
  ASSERT_EQ(ints.size(), 1u);
  EXPECT_EQ(ints[0].position, 21);
  EXPECT_EQ(ints[0].length, 4);
}

TEST_F(OpenCreateTest, NameAndPortableIntegersFromTheDescription) {
  // Without a name the description's NAME names the file; PORT_INT adds an
  // option after it, which the open must not take for part of the name.
  IsamHeader h;
  std::vector<PortIntSpec> ints;
  const std::string text =
      "FILE;NAME " + dir_.file("named") + ";PORT_INT 31:2;RECORD;SIZE 60;KEY 0;START 1;LENGTH 8;";
  ASSERT_EQ(open_close("", text, 0, &h, &ints), 0);
  EXPECT_TRUE(dir_.exists("named.ism"));
  ASSERT_EQ(ints.size(), 1u);
  EXPECT_EQ(ints[0].position, 31);
  EXPECT_EQ(ints[0].length, 2);
}

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

TEST_F(OpenCreateTest, CreationRevisionFromTheConfiguration) {
  const std::string text = "FILE;RECORD;SIZE 60;KEY 0;START 1;LENGTH 8;";
  process_config()->creation_revision = 4;
  IsamHeader h;
  ASSERT_EQ(open_close(dir_.file("r4"), text, 0, &h), 0);
  EXPECT_EQ(h.revision, 4);
  EXPECT_EQ(h.page_units, 4);
  process_config()->creation_revision = 3;
  EXPECT_EQ(open_close(dir_.file("r3"), text), 145);
  process_config()->creation_revision = 5;
  EXPECT_EQ(open_close(dir_.file("r5"), text), 30);
  EXPECT_FALSE(dir_.exists("r3.ism"));
  EXPECT_FALSE(dir_.exists("r5.ism"));
}

TEST_F(OpenCreateTest, BadDescriptionsLeaveNothing) {
  testing_support::DetailCapture details;
  // A missing description file names itself.
  EXPECT_EQ(open_close(dir_.file("x"), "@" + dir_.file("nothere")), 57);
  EXPECT_NE(std::string(ctl_->current_name).find("nothere.xdl"), std::string::npos);
  // A grammar error, a key beyond the record, no keys.
  EXPECT_EQ(open_close(dir_.file("x"), "FILE;RECORD;SIZE 60;KEY 1;START 1;LENGTH 8;"), 82);
  EXPECT_EQ(open_close(dir_.file("x"), "FILE;RECORD;SIZE 10;KEY 0;START 5;LENGTH 8;"), 39);
  EXPECT_EQ(open_close(dir_.file("x"), "FILE;RECORD;SIZE 10;"), 41);
  EXPECT_EQ(open_close(dir_.file("x") + ",page=3", "FILE;RECORD;SIZE 60;KEY 0;START 1;LENGTH 8;"),
            70);
  // Output without a description is refused by the channel layer.
  EXPECT_EQ(open_close(dir_.file("x"), ""), 59);
  EXPECT_TRUE(std::filesystem::is_empty(dir_.path()));
}

// The example descriptions shipped with the commands create files the open
// reads back as described.
TEST_F(OpenCreateTest, ExampleDescriptions) {
  const std::string examples = std::string(ISMGR_SOURCE_DIR) + "/examples/";
  const struct {
    const char* leaf;
    std::function<void(const IsamFileControl&)> check;
  } rows[] = {
      {"customer",
       [](const IsamFileControl& fc) {
         EXPECT_EQ(fc.header.key_count, 4);
         EXPECT_EQ(fc.keys[1].seg_type[0], kSegNoCase | kSegAscending);
         EXPECT_EQ(fc.keys[3].seg_type[1], kSegInteger);  // descending
       }},
      {"keytypes",
       [](const IsamFileControl& fc) {
         EXPECT_EQ(fc.keys[5].key_flags & kKeyNullShort, kKeyNullShort);  // variable records
         EXPECT_EQ(fc.keys[6].autokey_flags, kAutoSequence);
         EXPECT_EQ(fc.keys[8].autokey_flags, kAutoGuid);
         EXPECT_EQ(fc.counters.autoseed, 1000);
       }},
      {"compressed",
       [](const IsamFileControl& fc) {
         EXPECT_EQ(fc.header.file_flags2 & 0x140u, 0x140u);
         EXPECT_EQ(fc.extension.allocation, 500u);
         EXPECT_FALSE(fc.bad_allocation);
       }},
      {"tracking",
       [](const IsamFileControl& fc) {
         EXPECT_EQ(std::string(fc.keys.at(2).key_name.data(), 15), "Change Tracking");
         EXPECT_EQ(fc.text_length, 49u);
         EXPECT_EQ(fc.text_allocation, 1024u);
       }},
  };
  for (const auto& row : rows) {
    channel* ch = channel_open(ctl_, dir_.file(row.leaf).c_str(), kCreateMode, 0, 0, nullptr,
                               ("@" + examples + row.leaf).c_str(), nullptr);
    ASSERT_NE(ch, nullptr) << row.leaf << " status " << default_status()->code;
    row.check(*static_cast<const IsamFileControl*>(ch->handle));
    int32_t code = -1;
    channel_close(ch, 0, &code);
    EXPECT_EQ(code, 0);
  }
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
