#include "ismgr/isam/index_search.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "ismgr/isam/isam_close.h"
#include "ismgr/isam/isam_open.h"
#include "ismgr/runtime/context.h"
#include "ismgr/runtime/status.h"
#include "support/detail_capture.h"
#include "support/index_tree_builder.h"
#include "support/isam_builder.h"
#include "support/scratch_dir.h"

namespace ismgr {
namespace {

using testing::IndexTreeBuilder;
using testing::IsamBuilder;
using testing::KeySpec;
using testing::TreeEntry;
using testing_support::status_of;

std::string key_text(uint32_t i) {
  char text[16];
  std::snprintf(text, sizeof text, "K%05u", i * 2);
  return std::string(text, 6);
}

// A crafted tree of 120 keys written into an opened tbyte file (blocks
// counted in 256-byte units): every key found with the binary and the linear
// ("NO_BINSCAN") search; a key the file lacks, a root past the end (damage
// retries are the descent's own tests).
TEST(IndexSearch, FindsEveryKeyThroughTheOpenFile) {
  IndexGeometry g;
  g.block_size = 1024;
  g.tbyte = g.addr48 = true;
  g.key_size = 6;
  IndexTreeBuilder tree(g, 5, 4);
  tree.set_first_address(0x10000 / 256);  // past the header region and root blocks
  std::vector<TreeEntry> entries;
  for (uint32_t i = 0; i < 120; ++i) entries.push_back({key_text(i), 0x500 + i});
  KeySpec key = KeySpec::alpha("CUST", 0, 6);
  key.root = tree.build(entries);
  key.depth = static_cast<uint8_t>(tree.depth());
  ASSERT_GE(tree.depth(), 3);
  test::ScratchDir dir;
  IsamBuilder b;
  ASSERT_TRUE(b.revision(6).record_length(64).page_units(4).tbyte(true).add_key(key).write_files(
      dir.path().string(), "tree"));
  std::fstream index(dir.file("tree.ism"), std::ios::in | std::ios::out | std::ios::binary);
  for (const auto& [address, bytes] : tree.blocks()) {
    index.seekp(static_cast<std::streamoff>(g.block_offset(address)));
    index.write(reinterpret_cast<const char*>(bytes.data()),
                static_cast<std::streamsize>(bytes.size()));
  }
  index.close();
  ismgr_control* ctl = current_context();
  IsamFileControl* fc = isam_open(ctl, dir.file("tree.ism").c_str(), IM_INPUT | IM_ISAM, nullptr);
  ASSERT_NE(fc, nullptr) << ctl->status->code;
  const auto find = [&](const std::string& k, int key_number = 0) {
    return find_in_index(fc, key_number, reinterpret_cast<const uint8_t*>(k.data()),
                         static_cast<uint32_t>(k.size()));
  };
  EXPECT_NE(fc->cache, nullptr);  // revision 6 files are cached
  EXPECT_EQ(index_root(*fc, 0) * 256, key_root_address(*fc, 0));
  const uint32_t capacity = fc->search_capacity;
  EXPECT_GT(capacity, 0u);
  for (uint32_t search : {capacity, 0u}) {
    fc->search_capacity = search;
    for (uint32_t i = 0; i < 120; ++i) EXPECT_EQ(find(key_text(i)).rfa, 0x500u + i) << i;
    EXPECT_TRUE(find("Z").past_end);
  }
  EXPECT_EQ(status_of([&] { find("K", 1); }), 2);
  fc->roots[0] = 0x7FFFFC;  // a root beyond the end of the index file
  EXPECT_EQ(status_of([&] { find(key_text(1)); }), 22);
  EXPECT_EQ(isam_close(fc, 0), 0);
}

}  // namespace
}  // namespace ismgr
