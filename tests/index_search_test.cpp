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

constexpr uint64_t kTreeStart = 0x10000;  // well past the header region and root blocks

std::string key_text(uint32_t i) {
  char text[16];
  std::snprintf(text, sizeof text, "K%05u", i * 2);
  return std::string(text, 6);
}

int g_waits = 0;
void count_wait(uint32_t) {
  ++g_waits;
}

// An index/data pair whose key 0 has a crafted tree of `count` keys written
// into the index file.
class IndexSearchTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ctl_ = current_context();
    ASSERT_NE(ctl_, nullptr);
    g_waits = 0;
    set_timed_wait_for_test(count_wait);
  }
  void TearDown() override {
    if (fc_ != nullptr) {
      EXPECT_EQ(isam_close(fc_, 0), 0);
    }
    set_timed_wait_for_test(nullptr);
  }

  void build(uint32_t count, bool tbyte, uint8_t page_units) {
    IndexGeometry g;
    g.block_size = page_units * 256u;
    g.tbyte = tbyte;
    g.addr48 = tbyte;
    g.key_size = 6;
    tree_ = std::make_unique<IndexTreeBuilder>(g, 5, 4);
    tree_->set_first_address(tbyte ? kTreeStart / 256 : kTreeStart);
    std::vector<TreeEntry> entries;
    for (uint32_t i = 0; i < count; ++i) entries.push_back({key_text(i), 0x500 + i});
    uint64_t root = tree_->build(entries);

    IsamBuilder b;
    b.revision(6).record_length(64).page_units(page_units);
    if (tbyte) b.tbyte(true);
    KeySpec key = KeySpec::alpha("CUST", 0, 6);
    key.root = root;
    key.depth = static_cast<uint8_t>(tree_->depth());
    b.add_key(key);
    ASSERT_TRUE(b.write_files(dir_.path().string(), "tree"));
    std::fstream index(dir_.file("tree.ism"), std::ios::in | std::ios::out | std::ios::binary);
    for (const auto& [address, bytes] : tree_->blocks()) {
      index.seekp(static_cast<std::streamoff>(g.block_offset(address)));
      index.write(reinterpret_cast<const char*>(bytes.data()),
                  static_cast<std::streamsize>(bytes.size()));
    }
    ASSERT_TRUE(index.good());
  }

  void open() {
    fc_ = isam_open(ctl_, dir_.file("tree.ism").c_str(), IM_INPUT | IM_ISAM, nullptr);
    ASSERT_NE(fc_, nullptr) << ctl_->status->code;
  }

  DescentResult find(const std::string& key) {
    return find_in_index(fc_, 0, reinterpret_cast<const uint8_t*>(key.data()),
                         static_cast<uint32_t>(key.size()));
  }

  test::ScratchDir dir_;
  ismgr_control* ctl_ = nullptr;
  IsamFileControl* fc_ = nullptr;
  std::unique_ptr<IndexTreeBuilder> tree_;
};

// Over an opened tbyte file (blocks counted in 256-byte units): every key
// found with the binary and the linear ("NO_BINSCAN") search; a key the file
// lacks, a root past the end; a damaged root retried 8 times with 1 s waits,
// then status 6.
TEST_F(IndexSearchTest, FindsEveryKeyThroughTheOpenFileAndRefusesDamage) {
  build(120, true, 4);
  ASSERT_GE(tree_->depth(), 3);
  open();
  EXPECT_NE(fc_->cache, nullptr);  // revision 6 files are cached
  EXPECT_EQ(index_root(*fc_, 0) * 256, key_root_address(*fc_, 0));
  const uint32_t capacity = fc_->search_capacity;
  ASSERT_GT(capacity, 0u);
  for (uint32_t search : {capacity, 0u}) {
    fc_->search_capacity = search;
    for (uint32_t i = 0; i < 120; ++i) {
      DescentResult r = find(key_text(i));
      ASSERT_EQ(r.compare, 0) << i;
      EXPECT_EQ(r.rfa, 0x500u + i);
    }
    EXPECT_TRUE(find("Z").past_end);
  }
  EXPECT_EQ(status_of([&] { find_in_index(fc_, 1, reinterpret_cast<const uint8_t*>("K"), 1); }), 2);
  const uint64_t root = key_root_address(*fc_, 0);
  fc_->roots[0] = 0x7FFFFC;  // a root beyond the end of the index file
  EXPECT_EQ(status_of([&] { find(key_text(1)); }), 22);
  EXPECT_EQ(g_waits, 0);
  EXPECT_EQ(isam_close(fc_, 0), 0);
  fc_ = nullptr;
  std::fstream index(dir_.file("tree.ism"), std::ios::in | std::ios::out | std::ios::binary);
  index.seekp(static_cast<std::streamoff>(root + 1));  // the separator count
  index.put('\0');
  index.close();
  open();
  testing_support::DetailCapture details;
  EXPECT_EQ(status_of([&] { find(key_text(3)); }), 6);
  EXPECT_EQ(g_waits, 8);
  EXPECT_TRUE(details.has(1052, "Empty separator block")) << details.dump();
}

}  // namespace
}  // namespace ismgr
