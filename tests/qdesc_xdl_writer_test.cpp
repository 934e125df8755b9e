// The XDL writer on crafted file views, and the null values in both formats.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "support/writer_fixture.h"
#include "tool/null_value.h"
#include "tool/writer_common.h"

namespace ismgr::tool {
namespace {

using testing::set_name;
using testing::WriterTest;

// ---------------------------------------------------------------- null values

class NullValueTest : public WriterTest {
 protected:
  // Key 0 gets a null rule and `value` as its null value.
  void null_key(uint8_t flags, std::vector<uint8_t> value, uint8_t type = 0x21,
                uint16_t length = 0) {
    KeyView& k = f.keys[0];
    k.key_flags = flags;
    k.seg_type[0] = type;
    k.seg_length[0] = length ? length : static_cast<uint16_t>(value.size() ? value.size() : 1);
    k.null_offset = 4;
    f.null_area.assign(4, 0xEE);
    f.null_area.push_back(static_cast<uint8_t>(value.size() + 1));
    f.null_area.insert(f.null_area.end(), value.begin(), value.end());
    f.null_area.resize((f.null_area.size() + 3) & ~size_t{3}, 0);
  }
  std::string par_null() { return part(par(), "\t;Primary", "10\t;Key size"); }
  std::string xdl_null() { return part(xdl(), "\tNULL", "\n\t!Root"); }
};

TEST_F(NullValueTest, DescendingKeysAreDecodedAfterUndoingTheComplement) {
  null_key(0x20, {0xBE, 0xFD, 0xFA}, 0x02);  // 125, descending
  EXPECT_TRUE(has(par(), "\n125\t;Null value\n"));
  EXPECT_TRUE(has(xdl(), "\tVALUE_NULL\t125\n"));
  null_key(0x20, {0x80, 0x00, 0x00, 0x00}, 0x04);  // -1 integer, descending
  EXPECT_TRUE(has(par(), "\n-1\t;Null value\n"));
  null_key(0x20, {0xFE, 0xFF}, 0x08);  // 256 unsigned, descending
  EXPECT_TRUE(has(par(), "\n256\t;Null value\n"));
  // A segmented key: only the descending segment is complemented.
  null_key(0x20, {'A', 0xBD}, 0x21);
  f.keys[0].seg_type[1] = 0x01;
  f.keys[0].seg_length = {1, 1};
  EXPECT_TRUE(has(par(), "'AB'\t;Null value string\n"));
}

TEST_F(NullValueTest, NonReplicatingIntegers) {
  null_key(0x20, {0x01, 0x00}, 0x28);
  EXPECT_TRUE(has(par(), "\n256\t;Null value\n"));
  EXPECT_TRUE(has(xdl(), "\tVALUE_NULL\t256\n"));
  null_key(0x20, {0x7F, 0xFF, 0xFF, 0xFF}, 0x24);
  EXPECT_TRUE(has(par(), "\n-1\t;Null value\n"));
  EXPECT_TRUE(has(xdl(), "\tVALUE_NULL\t-1\n"));
  null_key(0x20, {0x7F}, 0x24);  // a 1-byte -1 is shown unsigned
  EXPECT_TRUE(has(par(), "\n255\t;Null value\n"));
  null_key(0x20, {0xFF, 0xFF, 0xFF, 0xFF}, 0x28);
  EXPECT_TRUE(has(par(), "\n4294967295\t;Null value\n"));
  null_key(0x20, {0x7F, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFE}, 0x24);
  EXPECT_TRUE(has(par(), "\n-2\t;Null value\n"));
  EXPECT_TRUE(has(xdl(), "\tVALUE_NULL\t-2\n"));
  null_key(0x20, std::vector<uint8_t>(8, 0xFF), 0x28);
  EXPECT_TRUE(has(par(), "\n18446744073709551615\t;Null value\n"));
}

TEST_F(NullValueTest, ValuesWithoutPrintableForm) {
  null_key(0x20, {1, 2, 3}, 0x28);  // 3-byte unsigned
  EXPECT_TRUE(
      has(par(), "N\t;Non-replicating null key\nU\t;Unsigned integer type\n10\t;Key size\n"));
  EXPECT_EQ(xdl_null(), "\tNULL\t\tnoreplicate\n\t!VALUE_NULL not shown: no printable form\n");
  null_key(0x20, {1}, 0x23);  // unknown type
  EXPECT_EQ(xdl_null(), "\tNULL\t\tnoreplicate\n\t!VALUE_NULL not shown: no printable form\n");
  bare();
  std::string t = xdl();
  const std::string tail = "\tMODIFIABLE\tno\n\tNULL\t\tnoreplicate\n";
  EXPECT_EQ(t.substr(t.size() - tail.size()), tail);
}

// ---------------------------------------------------------------- XDL

}  // namespace
}  // namespace ismgr::tool
