// The PAR writer on crafted file views: every branch of the file line, the
// comments and the key sections.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "support/writer_fixture.h"
#include "tool/null_value.h"
#include "tool/writer_common.h"

namespace ismgr::tool {
namespace {

using testing::kParBanner;
using testing::set_name;
using testing::WriterTest;

// ---------------------------------------------------------------- PAR file section

// The whole descriptions of the basic view, plain and bare.
TEST_F(WriterTest, WholeDescriptionsOfABasicFile) {
  std::string all = "== par\n" + par() + "== xdl\n" + xdl();
  EXPECT_EQ(result, 0);
  bare();
  all += "== par bare\n" + par() + "== xdl bare\n" + xdl();
  EXPECT_TRUE(ismgr::test::matches_golden("qdesc/view.txt", all));
}

TEST_F(WriterTest, ParBannerUsesZeroForANegativeClock) {
  ctx.clock = [] { return int64_t{-5}; };
  EXPECT_EQ(par().substr(0, kParBanner.size()), kParBanner);
  ctx.clock = [] { return int64_t{86400 * 31 + 3661}; };
  EXPECT_EQ(par().substr(0, kParBanner.size()),
            ";\tCorveth ISAM PAR File created Sun Feb 01 01:01:01 1970\n");
}

TEST_F(WriterTest, ParNameIsNeverAFormat) {
  keep(part(par("a%s%n.ism"), "a%", "512"));
}

// ---------------------------------------------------------------- file text

class FileTextTest : public WriterTest {
 protected:
  void with_text(const std::string& text, bool prefix, uint32_t alloc_word = 0) {
    f.text_location = 64;
    f.text_length = static_cast<uint32_t>(text.size());
    f.text_alloc_word = alloc_word;
    io.data.assign(64, 0);
    if (prefix) {
      f.file_flags2 = 0x08;
      for (int i = 0; i < 4; ++i) io.data.push_back(static_cast<uint8_t>(alloc_word >> (8 * i)));
      for (int i = 0; i < 4; ++i) io.data.push_back(static_cast<uint8_t>(text.size() >> (8 * i)));
    } else {
      f.file_flags2 = 0x10;
      f.text_offset = 64;
      f.text_alloc_kb = static_cast<uint8_t>(alloc_word);
    }
    io.data.insert(io.data.end(), text.begin(), text.end());
    f.text_allocation = 2048;
  }
};

TEST_F(FileTextTest, ParLineLimitIs995) {
  std::string text(100, 't');
  with_text(text, true, 600);
  // 888 + ", text=" + 100 = 995: fits.
  std::string name(888, 'n');
  keep(part(par(name), name, "512"));
  EXPECT_EQ(result, 0);
  name.push_back('n');
  std::string t = par(name);
  EXPECT_EQ(result, -1);
  EXPECT_TRUE(has(t, name + ", text=\n\t;WARNING"));
  EXPECT_TRUE(has(t, "\t;     lines using INVOKE PUTNOTE.\n\t;TEXT\t\"" + std::string(50, 't') +
                         "\"\n\t;TEXT\t\"" + std::string(50, 't') + "\"\n512"));
}

// ---------------------------------------------------------------- revision comments

TEST_F(WriterTest, CreationVersionLetterAndNumber) {
  f.creation_version = {'0', '7', '1', '0', '1', '2', '3', 0};
  EXPECT_TRUE(has(par(), "\t;Creation version 7.10.123  {Compat Level 6.0}\n"));
  f.creation_version = {'0', '6', '0', '2', '5', 0, 0, 0};
  f.compat_level = 3;
  EXPECT_TRUE(has(par(), "\t;Creation version 6.2.5  {Compat Level 6.3}\n"));
  f.creation_version = {'0', '6', '0', '2', 'b', 0, 0, 0};
  EXPECT_TRUE(has(par(), "\t;Creation version 6.2.0b {Compat Level 6.3}\n"));
}

// ---------------------------------------------------------------- dates

// ---------------------------------------------------------------- space, blocks, counts

// ---------------------------------------------------------------- PAR key sections

}  // namespace
}  // namespace ismgr::tool
