#include "ismgr/describe/open_create.h"

#include <gtest/gtest.h>

#include "ismgr/isam/isam_open.h"
#include "ismgr/isam/open_creation.h"
#include "ismgr/runtime/channel.h"
#include "ismgr/runtime/status.h"
#include "support/scratch_dir.h"

namespace ismgr {
namespace {

// Creation through the channel layer's open, as a program does it: output
// without a description is refused and leaves nothing; an existing file is
// replaced only when asked. (The generated-description round trip creates
// its files this way too.)
TEST(OpenCreate, ReplaceOnlyWhenAskedAndNoDescriptionNoFile) {
  install_file_creation();
  test::ScratchDir dir;
  const auto open_close = [&](const std::string& xdl, uint32_t mode) {
    channel* ch = channel_open(current_context(), dir.file("f").c_str(),
                               kModeOutput | kModeIsam | mode, 0, 0, nullptr, xdl.c_str(), nullptr);
    int32_t code = default_status()->code;
    if (ch != nullptr) channel_close(ch, 0, &code);
    return code;
  };
  EXPECT_EQ(open_close("", 0), 59);
  EXPECT_TRUE(std::filesystem::is_empty(dir.path()));
  ASSERT_EQ(open_close("FILE;RECORD;SIZE 60;KEY 0;START 1;LENGTH 8;", 0), 0);
  const std::string before = dir.read("f.ism");
  EXPECT_EQ(open_close("FILE;RECORD;SIZE 90;KEY 0;START 1;LENGTH 8;", 0), 40);
  EXPECT_EQ(dir.read("f.ism"), before);
  EXPECT_EQ(open_close("FILE;RECORD;SIZE 90;KEY 0;START 1;LENGTH 8;", IM_SPRCED), 0);
  EXPECT_EQ(static_cast<uint8_t>(dir.read("f.ism").at(16)), 90);  // the record size
  set_isam_create(nullptr);
}

}  // namespace
}  // namespace ismgr
