#include "ismgr/isam/index_block.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "ismgr/runtime/status.h"
#include "support/index_tree_builder.h"

namespace ismgr {
namespace {

using testing::IndexTreeBuilder;
using testing::TreeEntry;

std::string key_of(uint32_t i, uint32_t size) {
  char text[32];
  std::snprintf(text, sizeof text, "%0*u", static_cast<int>(size), i * 2);  // even keys only
  return std::string(text, size);
}

std::vector<TreeEntry> make_entries(uint32_t count, uint32_t key_size) {
  std::vector<TreeEntry> entries;
  for (uint32_t i = 0; i < count; ++i) entries.push_back({key_of(i, key_size), 1000 + i});
  return entries;
}

struct Recorder {
  int relocks = 0;
  int waits = 0;
  uint32_t waited_ms = 0;
  std::vector<std::string> details;
  RetryPolicy policy() {
    RetryPolicy p;
    p.relock = [this] { ++relocks; };
    p.wait = [this](uint32_t ms) {
      ++waits;
      waited_ms += ms;
    };
    p.detail = [this](int code, const char* text) {
      EXPECT_EQ(code, 1052);
      details.push_back(text);
    };
    return p;
  }
};

DescentResult find(const IndexGeometry& g, IndexTreeBuilder& tree, uint64_t root,
                   const std::string& key, uint32_t capacity, RetryPolicy policy = {}) {
  std::vector<uint32_t> work;
  DescentRequest req;
  req.root = root;
  req.depth = tree.depth();
  req.key = reinterpret_cast<const uint8_t*>(key.data());
  req.key_length = static_cast<uint32_t>(key.size());
  req.search_capacity = capacity;
  return descend(g, tree.source(), req, policy, &work);
}

struct Shape {
  const char* name;
  uint32_t block_size;
  bool tbyte;
  bool addr48;
  bool sized;
  bool tracking;
  uint32_t fill;
  uint32_t fanout;
  int expected_depth;
  uint32_t count = 300;
};

class DescentShapes : public ::testing::TestWithParam<Shape> {};

// Every key of trees of depth 1 to 4, narrow and wide, with every pointer and
// address width, is found with both search methods; keys between them land on
// the next larger entry.
TEST_P(DescentShapes, FindsEveryKeyAndPlacesMissingOnes) {
  const Shape& s = GetParam();
  IndexGeometry g;
  g.block_size = s.block_size;
  g.tbyte = s.tbyte;
  g.addr48 = s.addr48;
  g.sized_headers = s.sized;
  g.tracking_key = s.tracking;
  g.key_size = 6;
  const uint32_t count = s.count;
  IndexTreeBuilder tree(g, s.fill, s.fanout);
  uint64_t root = tree.build(make_entries(count, 6));
  ASSERT_EQ(tree.depth(), s.expected_depth);
  for (uint32_t capacity : {0u, 600u}) {
    for (uint32_t i = 0; i < count; ++i) {
      DescentResult r = find(g, tree, root, key_of(i, 6), capacity);
      ASSERT_EQ(r.compare, 0) << i << " capacity " << capacity;
      ASSERT_EQ(r.rfa, 1000 + i);
      ASSERT_EQ(r.path.size(), static_cast<size_t>(s.expected_depth));
      // An odd key is missing: the position is that of the next even key.
      std::string missing = key_of(i, 6);
      missing[5] = static_cast<char>(missing[5] + 1);
      DescentResult m = find(g, tree, root, missing, capacity);
      EXPECT_NE(m.compare, 0);
      if (i + 1 < count) {
        // The next key may start the next leaf: then the position is past
        // the end of this one, and a next leaf follows.
        if (m.past_end) {
          EXPECT_TRUE(m.next_leaf_exists) << i;
          EXPECT_EQ(m.rfa, 0u);
        } else {
          EXPECT_EQ(m.rfa, 1001 + i) << i;
        }
      } else {
        EXPECT_TRUE(m.past_end);
        EXPECT_EQ(m.rfa, 0u);
        EXPECT_FALSE(m.next_leaf_exists);
      }
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    Index, DescentShapes,
    ::testing::Values(Shape{"narrow_depth1", 1024, false, false, false, false, 0, 0, 1, 100},
                      Shape{"narrow_depth2", 1024, false, false, false, false, 40, 0, 2},
                      Shape{"narrow_depth3", 1024, false, false, false, false, 8, 6, 3},
                      Shape{"narrow_depth4", 512, false, false, false, false, 4, 4, 4},
                      Shape{"wide_tbyte", 4096, true, false, true, false, 10, 8, 3},
                      Shape{"wide_48bit", 2048, true, true, false, true, 10, 8, 3},
                      Shape{"narrow_48bit_tracking", 1024, true, true, true, true, 9, 3, 4}),
    [](const ::testing::TestParamInfo<Shape>& info) { return std::string(info.param.name); });

// Separators of differing lengths: the offsets come from the walk, not from
// the stride of the first entry; both searches find every key.
TEST(Descent, SeparatorPrefixesOfDifferingLengths) {
  IndexGeometry g;
  g.key_size = 6;
  IndexTreeBuilder tree(g, 3, 5);
  tree.use_short_prefixes(true);
  std::vector<TreeEntry> entries;
  for (uint32_t i = 0; i < 200; ++i) {
    char text[8];
    std::snprintf(text, sizeof text, "%c%05u", 'A' + i % 7, i);
    entries.push_back({std::string(text, 6), 100 + i});
  }
  std::sort(entries.begin(), entries.end(),
            [](const TreeEntry& a, const TreeEntry& b) { return a.key < b.key; });
  uint64_t root = tree.build(entries);
  ASSERT_GE(tree.depth(), 3);
  for (uint32_t capacity : {0u, 400u}) {
    for (const TreeEntry& e : entries) {
      DescentResult r = find(g, tree, root, e.key, capacity);
      ASSERT_EQ(r.compare, 0) << e.key << " capacity " << capacity;
      EXPECT_EQ(r.rfa, e.rfa);
    }
  }
}

TEST(Descent, KeysBelowTheFirstGoToTheFirstEntry) {
  IndexGeometry g;
  g.key_size = 4;
  IndexTreeBuilder tree(g, 5, 3);
  uint64_t root = tree.build(make_entries(50, 4));
  DescentResult r = find(g, tree, root, std::string("\0\0\0\0", 4), 100);
  EXPECT_EQ(r.position, 0u);
  EXPECT_EQ(r.rfa, 1000u);
  EXPECT_NE(r.compare, 0);
  EXPECT_EQ(r.leaf, tree.leaves().front());
}

TEST(Descent, PartialKeyFindsTheFirstMatch) {
  IndexGeometry g;
  g.key_size = 6;
  IndexTreeBuilder tree(g, 4, 3);
  uint64_t root = tree.build(make_entries(200, 6));
  // "0001" is the leading part of keys 000100 .. 000198: the first is rfa 1050.
  for (uint32_t capacity : {0u, 400u}) {
    DescentResult r = find(g, tree, root, "0001", capacity);
    EXPECT_EQ(r.compare, 0);
    EXPECT_EQ(r.rfa, 1050u) << capacity;
  }
}

TEST(Descent, DuplicatesArePassedOverUntilTheRecordSought) {
  IndexGeometry g;
  g.key_size = 7;  // 4 key bytes + 3 bytes of qualifier
  g.qualifier_size = 3;
  std::vector<TreeEntry> entries;
  for (uint32_t i = 0; i < 40; ++i) {
    char q[4];
    std::snprintf(q, sizeof q, "%03u", i);
    entries.push_back({std::string("DUPE") + q, 500 + i});
  }
  IndexTreeBuilder tree(g, 6, 3);
  uint64_t root = tree.build(entries);
  for (uint32_t capacity : {0u, 100u}) {
    std::vector<uint32_t> work;
    DescentRequest req;
    req.root = root;
    req.depth = tree.depth();
    req.key = reinterpret_cast<const uint8_t*>("DUPE");
    req.key_length = 4;
    req.search_capacity = capacity;
    req.want_rfa = true;
    req.rfa = 503;  // within the first leaf
    DescentResult r = descend(g, tree.source(), req, {}, &work);
    EXPECT_EQ(r.compare, 0);
    EXPECT_EQ(r.rfa, 503u);
    EXPECT_EQ(r.position, 3u);
    req.rfa = 9999;  // not among the duplicates: not found
    r = descend(g, tree.source(), req, {}, &work);
    EXPECT_NE(r.compare, 0);
  }
}

TEST(Descent, NeighbourPointersArePerLevel) {
  IndexGeometry g;
  g.key_size = 4;
  IndexTreeBuilder tree(g, 2, 3);
  uint64_t root = tree.build(make_entries(6, 4));  // 3 leaves under one separator
  ASSERT_EQ(tree.depth(), 2);
  DescentResult r = find(g, tree, root, key_of(2, 4), 0);
  ASSERT_EQ(r.path.size(), 2u);
  EXPECT_EQ(r.path[0].block, root);
  EXPECT_EQ(r.path[0].position, 1u);
  EXPECT_EQ(r.path[0].left, tree.leaves()[0]);
  EXPECT_EQ(r.path[0].right, tree.leaves()[2]);
  EXPECT_EQ(r.leaf, tree.leaves()[1]);
}

// --- inconsistencies --------------------------------------------------------

struct Damage {
  const char* message;
  void (*apply)(IndexTreeBuilder& tree, uint64_t root, const IndexGeometry& g);
  uint32_t capacity;
  bool search_first = false;  // search the first key instead of the last
};

void put16(std::vector<uint8_t>& b, size_t at, uint32_t v) {
  b[at] = static_cast<uint8_t>(v);
  b[at + 1] = static_cast<uint8_t>(v >> 8);
}

class DescentDamage : public ::testing::TestWithParam<Damage> {};

TEST_P(DescentDamage, RetriesEightTimesThenFailsWithStatus6) {
  const Damage& d = GetParam();
  IndexGeometry g;
  g.key_size = 4;
  IndexTreeBuilder tree(g, 4, 4);
  uint64_t root = tree.build(make_entries(40, 4));
  ASSERT_EQ(tree.depth(), 3);
  d.apply(tree, root, g);
  Recorder rec;
  try {
    find(g, tree, root, key_of(d.search_first ? 0 : 39, 4), d.capacity, rec.policy());
    FAIL() << "no failure";
  } catch (const StatusError& e) {
    EXPECT_EQ(e.code(), 6);
  }
  EXPECT_EQ(rec.relocks, 8);
  EXPECT_EQ(rec.waits, 8);
  EXPECT_EQ(rec.waited_ms, 8000u);
  ASSERT_EQ(rec.details.size(), 1u);
  EXPECT_EQ(rec.details[0], d.message);
}

INSTANTIATE_TEST_SUITE_P(
    Index, DescentDamage,
    ::testing::Values(Damage{"Empty separator block",
                             [](IndexTreeBuilder& t, uint64_t root, const IndexGeometry&) {
                               t.block(root)[1] = 0;
                             },
                             0},
                      Damage{"Invalid separator entry",  // used length ends inside an entry
                             [](IndexTreeBuilder& t, uint64_t root, const IndexGeometry&) {
                               put16(t.block(root), 2, 12);
                             },
                             0},
                      Damage{"Invalid separator entry",
                             [](IndexTreeBuilder& t, uint64_t root, const IndexGeometry&) {
                               put16(t.block(root), 2, 12);
                             },
                             100},
                      Damage{"Invalid separator entry",  // an entry length of 0
                             [](IndexTreeBuilder& t, uint64_t root, const IndexGeometry&) {
                               t.block(root)[8] = 0;
                             },
                             100},
                      Damage{"Invalid separator entry",  // used length beyond the block
                             [](IndexTreeBuilder& t, uint64_t root, const IndexGeometry&) {
                               put16(t.block(root), 2, 5000);
                             },
                             0},
                      Damage{"Invalid separator entry ptr",  // P0 outside a tiny used length
                             [](IndexTreeBuilder& t, uint64_t root, const IndexGeometry&) {
                               t.block(root)[1] = 0;
                               t.block(root)[1] = 1;
                               put16(t.block(root), 2, 6);
                             },
                             0, true},
                      Damage{"Number of separators exceeds maximum",
                             [](IndexTreeBuilder&, uint64_t, const IndexGeometry&) {}, 2},
                      Damage{"Expected separator: encountered leaf",
                             [](IndexTreeBuilder& t, uint64_t root, const IndexGeometry&) {
                               t.block(root)[0] = 0xFF;
                               t.block(root)[1] = 0;
                             },
                             0},
                      Damage{"Null index block encountered",
                             [](IndexTreeBuilder& t, uint64_t root, const IndexGeometry&) {
                               // The last child pointer of the root.
                               std::vector<uint8_t>& b = t.block(root);
                               uint32_t used = b[2] | (b[3] << 8);
                               std::memset(b.data() + used - 4, 0, 4);
                             },
                             0},
                      Damage{"Invalid leaf entry count",
                             [](IndexTreeBuilder& t, uint64_t, const IndexGeometry&) {
                               t.block(t.leaves().back())[1] = 200;
                             },
                             0}),
    [](const ::testing::TestParamInfo<Damage>& info) {
      std::string name;
      for (const char* p = info.param.message; *p; ++p) {
        if (std::isalnum(static_cast<unsigned char>(*p))) name += *p;
      }
      return name + "_" + std::to_string(info.index);
    });

TEST(Descent, TreeDeeperThanItsDepthIsInconsistent) {
  IndexGeometry g;
  g.key_size = 4;
  IndexTreeBuilder tree(g, 4, 4);
  uint64_t root = tree.build(make_entries(40, 4));
  Recorder rec;
  std::vector<uint32_t> work;
  DescentRequest req;
  req.root = root;
  req.depth = 2;  // the tree has 3 levels
  req.key = reinterpret_cast<const uint8_t*>("0000");
  req.key_length = 4;
  EXPECT_THROW(descend(g, tree.source(), req, rec.policy(), &work), StatusError);
  ASSERT_EQ(rec.details.size(), 1u);
  EXPECT_EQ(rec.details[0], "Tree exceeds maximum depth");
}

TEST(Descent, RecoversWhenTheOtherProcessFinishes) {
  IndexGeometry g;
  g.key_size = 4;
  IndexTreeBuilder tree(g, 4, 4);
  uint64_t root = tree.build(make_entries(40, 4));
  std::vector<uint8_t> saved = tree.block(root);
  tree.block(root)[1] = 0;  // caught in the middle of a change
  int relocks = 0;
  RetryPolicy policy;
  policy.relock = [&] {
    if (++relocks == 3) tree.block(root) = saved;
  };
  policy.wait = [](uint32_t) {};
  DescentResult r = find(g, tree, root, key_of(17, 4), 0, policy);
  EXPECT_EQ(r.compare, 0);
  EXPECT_EQ(r.rfa, 1017u);
  EXPECT_EQ(r.retries_used, 3);
}

TEST(Descent, ReadFailureIsAnIoStatusNotARetry) {
  IndexGeometry g;
  g.key_size = 4;
  IndexTreeBuilder tree(g, 4, 4);
  uint64_t root = tree.build(make_entries(40, 4));
  Recorder rec;
  std::vector<uint32_t> work;
  BlockSource failing;
  failing.read = [](uint64_t) -> const uint8_t* { return nullptr; };
  failing.io_status = 22;
  DescentRequest req;
  req.root = root;
  req.depth = 3;
  req.key = reinterpret_cast<const uint8_t*>("0000");
  req.key_length = 4;
  try {
    descend(g, failing, req, rec.policy(), &work);
    FAIL();
  } catch (const StatusError& e) {
    EXPECT_EQ(e.code(), 22);
  }
  EXPECT_EQ(rec.relocks, 0);
}

// --- leaf chain ---------------------------------------------------------------

TEST(LeafChain, WalksForwardAndBackwardOverEveryLeaf) {
  for (bool addr48 : {false, true}) {
    IndexGeometry g;
    g.key_size = 4;
    g.tbyte = addr48;
    g.addr48 = addr48;
    IndexTreeBuilder tree(g, 3, 4);
    tree.build(make_entries(30, 4));
    const std::vector<uint64_t>& leaves = tree.leaves();
    ASSERT_EQ(leaves.size(), 10u);
    const uint8_t* current = tree.block(leaves[0]).data();
    const uint8_t* next = nullptr;
    uint64_t at = leaves[0];
    size_t seen = 1;
    while (uint64_t n = next_leaf(g, tree.source(), {}, at, current, &next)) {
      EXPECT_EQ(n, leaves[seen]);
      ++seen;
      at = n;
      current = next;
    }
    EXPECT_EQ(seen, leaves.size());
    while (uint64_t p = previous_leaf(g, tree.source(), {}, at, current, &next)) {
      --seen;
      EXPECT_EQ(p, leaves[seen - 1]);
      at = p;
      current = next;
    }
    EXPECT_EQ(seen, 1u);
  }
}

TEST(LeafChain, BrokenBackPointerFails) {
  IndexGeometry g;
  g.key_size = 4;
  IndexTreeBuilder tree(g, 3, 4);
  tree.build(make_entries(9, 4));
  const std::vector<uint64_t>& leaves = tree.leaves();
  tree.block(leaves[1])[4] ^= 0x01;  // previous pointer of leaf 1 no longer names leaf 0
  const uint8_t* next = nullptr;
  Recorder rec;
  EXPECT_THROW(
      next_leaf(g, tree.source(), rec.policy(), leaves[0], tree.block(leaves[0]).data(), &next),
      StatusError);
  EXPECT_EQ(rec.details.size(), 1u);
  // Backward from leaf 2 to leaf 1 is intact.
  EXPECT_EQ(previous_leaf(g, tree.source(), {}, leaves[2], tree.block(leaves[2]).data(), &next),
            leaves[1]);
}

TEST(IndexGeometry, PointerAndAddressWidths) {
  IndexGeometry g;
  EXPECT_EQ(g.pointer_width(), 4u);
  EXPECT_EQ(g.rfa_width(), 4u);
  g.tbyte = true;
  EXPECT_EQ(g.pointer_width(), 4u);
  EXPECT_EQ(g.rfa_width(), 5u);
  EXPECT_EQ(g.block_offset(3), 768u);
  g.addr48 = true;
  EXPECT_EQ(g.pointer_width(), 5u);
  EXPECT_EQ(g.rfa_width(), 6u);
  EXPECT_EQ(g.leaf_entries_offset(), 14u);
  g.sized_headers = true;
  g.tracking_key = true;
  g.key_size = 10;
  EXPECT_EQ(g.leaf_entry_size(), 6u + 2u + 1u + 10u);
  uint8_t p[6] = {};
  write_rfa(g, 0x123456789ABCull, p);
  EXPECT_EQ(read_rfa(g, p), 0x123456789ABCull);
  write_block_pointer(g, 0x12345678ABull, p);
  EXPECT_EQ(read_block_pointer(g, p), 0x12345678ABull);
}

}  // namespace
}  // namespace ismgr
