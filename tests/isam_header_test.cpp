// Tests of the ISAM header checks and write side: the file text forms, the
// damaged headers, the conversions between the old, short and full layouts,
// the dynamic header write-back, the preallocation and fill-limit
// arithmetic, the initial index and the work-file names.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ismgr/isam/file_control.h"
#include "ismgr/isam/isam_format.h"
#include "ismgr/runtime/status.h"
#include "support/damaged_headers.h"
#include "support/isam_builder.h"
#include "support/isam_parse.h"

namespace ismgr {
namespace {

using testing::IsamBuilder;
using testing::KeySpec;
using testing::Opened;
using testing::parse;
using testing::parse_files;

// ---------------------------------------------------------------------------
// Damaged headers (the shared table), the revision messages and the magics.
// ---------------------------------------------------------------------------
TEST(IsamDamagedHeaders, EachIsRefusedWithItsStatus) {
  EXPECT_EQ(parse(testing::damage_base()).status, 0);  // the base is sound
  for (const testing::DamagedHeader& d : testing::damaged_headers()) {
    EXPECT_EQ(parse(d.build()).status, d.status) << d.name;
  }
}

// A control block is valid when its magic matches the handles it holds:
// an index both, a data-file-only open its data handle and no index, a
// temporary index its index handle.
TEST(IsamFileControlValidity, MagicMustMatchHandles) {
  EXPECT_FALSE(file_control_valid(nullptr));
  const struct {
    uint16_t magic;
    int index, data;
    bool valid;
  } rows[] = {
      {kMagicIndex, 3, 0, true},  // descriptor 0 is a handle like any other
      {kMagicIndex, 3, -1, false},     {kMagicData, 3, 0, false},     {kMagicData, -1, 0, true},
      {kMagicTempIndex, -1, 0, false}, {kMagicTempIndex, 5, 0, true}, {0, 5, 0, false},  // closed
  };
  for (const auto& r : rows) {
    IsamFileControl fc;
    fc.header.magic = r.magic;
    fc.index_handle = r.index < 0 ? platform::kInvalidHandle : r.index;
    fc.data_handle = r.data < 0 ? platform::kInvalidHandle : r.data;
    EXPECT_EQ(file_control_valid(&fc), r.valid) << std::hex << r.magic << " " << r.index;
  }
}

}  // namespace
}  // namespace ismgr
