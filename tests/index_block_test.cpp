#include "ismgr/isam/index_block.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "ismgr/fileio/block_cache.h"
#include "ismgr/runtime/status.h"
#include "support/detail_capture.h"
#include "support/index_tree_builder.h"

namespace ismgr {
namespace {

using testing::IndexTreeBuilder;
using testing::TreeEntry;
using testing_support::status_of;

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

IndexGeometry geometry(uint32_t key_size) {
  IndexGeometry g;
  g.key_size = key_size;
  return g;
}

// Counts relocks and waited time, keeps the texts of the details (code 1052).
struct Recorder {
  int relocks = 0;
  uint32_t waited_ms = 0;
  std::vector<std::string> details;
  RetryPolicy policy() {
    RetryPolicy p;
    p.relock = [this] { ++relocks; };
    p.wait = [this](uint32_t ms) { waited_ms += ms; };
    p.detail = [this](int code, const char* text) { details.push_back(code == 1052 ? text : "?"); };
    return p;
  }
};

DescentResult find(const IndexGeometry& g, IndexTreeBuilder& tree, uint64_t root,
                   const std::string& key, uint32_t capacity, RetryPolicy policy = {},
                   int depth = 0, const BlockSource* source = nullptr, uint64_t rfa = 0) {
  std::vector<uint32_t> work;
  DescentRequest req{root, depth ? depth : tree.depth(),
                     reinterpret_cast<const uint8_t*>(key.data()),
                     static_cast<uint32_t>(key.size()), capacity};
  req.want_rfa = rfa != 0, req.rfa = rfa;
  return descend(g, source ? *source : tree.source(), req, policy, &work);
}

// Random trees of every pointer and address width, depth and fill: the
// descent (linear and binary) lands where std::lower_bound does on the same
// keys, for every stored key and for random keys between them.
TEST(Descent, RandomTreesAgreeWithLowerBound) {
  struct Shape {
    uint32_t block_size;
    bool tbyte, addr48, sized, tracking;
  } shapes[] = {{1024, false, false, false, false},
                {512, false, false, false, false},
                {4096, true, false, true, false},
                {2048, true, true, false, true},
                {1024, true, true, true, true}};
  std::mt19937 rng(9);
  int deepest = 0;
  for (int round = 0; round < 60; ++round) {
    const Shape& s = shapes[round % 5];
    IndexGeometry g = geometry(6);
    g.block_size = s.block_size;
    g.tbyte = s.tbyte, g.addr48 = s.addr48, g.sized_headers = s.sized, g.tracking_key = s.tracking;
    std::vector<TreeEntry> entries;
    for (uint32_t k = rng() % 50, n = 1 + rng() % 400; entries.size() < n; k += 1 + rng() % 40)
      entries.push_back({key_of(k, 6), 1000 + entries.size()});
    IndexTreeBuilder tree(g, round % 7 ? 2 + rng() % 9 : 0, round % 5 ? 2 + rng() % 7 : 0);
    tree.use_short_prefixes(round % 3 == 0);  // separators of differing lengths
    const uint64_t root = tree.build(entries);
    deepest = std::max(deepest, tree.depth());
    std::vector<std::string> probes;
    for (const TreeEntry& e : entries) probes.push_back(e.key);
    for (int i = 0; i < 300; ++i) probes.push_back(key_of(rng() % 12000, 6));
    for (int i = 0; i < 100; ++i) probes.push_back(key_of(rng() % 12000, 6).substr(0, 1 + i % 5));
    for (uint32_t capacity : {0u, 600u}) {
      for (const std::string& probe : probes) {
        const std::string at = "round " + std::to_string(round) + " key " + probe + " capacity " +
                               std::to_string(capacity);
        const DescentResult r = find(g, tree, root, probe, capacity);
        ASSERT_EQ(r.path.size(), static_cast<size_t>(tree.depth())) << at;
        if (r.path.size() > 1) {  // the leaf's neighbours under the same parent
          const auto& leaves = tree.leaves();
          const size_t i = std::find(leaves.begin(), leaves.end(), r.leaf) - leaves.begin();
          const auto& parent = r.path[r.path.size() - 2];
          ASSERT_TRUE(parent.left == 0 || (i > 0 && parent.left == leaves[i - 1])) << at;
          ASSERT_TRUE(parent.right == 0 || parent.right == leaves.at(i + 1)) << at;
        }
        auto lb =
            std::lower_bound(entries.begin(), entries.end(), probe,
                             [](const TreeEntry& e, const std::string& k) { return e.key < k; });
        if (lb == entries.end()) {
          ASSERT_TRUE(r.past_end && !r.next_leaf_exists) << at;
          ASSERT_EQ(r.rfa, 0u) << at;
        } else if (lb->key == probe) {
          ASSERT_EQ(r.compare, 0) << at;
          ASSERT_EQ(r.rfa, lb->rfa) << at;
        } else if (r.past_end) {  // the next key may start the next leaf
          ASSERT_TRUE(r.next_leaf_exists) << at;
        } else {  // a partial key matches the first key it leads
          ASSERT_EQ(r.compare == 0, lb->key.compare(0, probe.size(), probe) == 0) << at;
          ASSERT_EQ(r.rfa, lb->rfa) << at;
        }
      }
    }
  }
  EXPECT_GE(deepest, 4);
}

TEST(Descent, DuplicatesArePassedOverUntilTheRecordSought) {
  IndexGeometry g = geometry(7);  // 4 key bytes + 3 bytes of qualifier
  g.qualifier_size = 3;
  std::vector<TreeEntry> entries;
  for (uint32_t i = 0; i < 40; ++i) entries.push_back({"DUPE" + key_of(i, 3), 500 + i});
  IndexTreeBuilder tree(g, 6, 3);
  const uint64_t root = tree.build(entries);
  for (uint32_t capacity : {0u, 100u}) {
    const DescentResult r = find(g, tree, root, "DUPE", capacity, {}, 0, nullptr, 503);
    EXPECT_EQ(r.compare, 0);  // 503 is within the first leaf
    EXPECT_EQ(r.rfa, 503u);
    EXPECT_EQ(r.position, 3u);
    EXPECT_NE(find(g, tree, root, "DUPE", capacity, {}, 0, nullptr, 9999).compare, 0);
  }
}

// Damaged trees (a depth above the header's too): eight relocks and
// one-second waits, then status 6 with the detail naming the damage.
TEST(Descent, DamageRetriesEightTimesThenFailsWithStatus6) {
  using Apply = void (*)(IndexTreeBuilder&, uint64_t);
  struct Damage {
    const char* message;
    Apply apply;
    uint32_t capacity;
    int depth = 0;  // the header's depth (0: the tree's)
  } rows[] = {
      {"Empty separator block", [](IndexTreeBuilder& t, uint64_t r) { t.block(r)[1] = 0; }, 0},
      {"Invalid separator entry",  // used length ends inside an entry
       [](IndexTreeBuilder& t, uint64_t r) { t.block(r)[2] = 12, t.block(r)[3] = 0; }, 100},
      {"Number of separators exceeds maximum", [](IndexTreeBuilder&, uint64_t) {}, 2},
      {"Invalid leaf entry count",
       [](IndexTreeBuilder& t, uint64_t) { t.block(t.leaves().back())[1] = 200; }, 0},
      {"Tree exceeds maximum depth", [](IndexTreeBuilder&, uint64_t) {}, 0, 2}};
  for (const Damage& d : rows) {
    const IndexGeometry g = geometry(4);
    IndexTreeBuilder tree(g, 4, 4);
    const uint64_t root = tree.build(make_entries(40, 4));
    ASSERT_EQ(tree.depth(), 3);
    d.apply(tree, root);
    Recorder rec;
    SCOPED_TRACE(d.message);
    EXPECT_EQ(
        status_of([&] { find(g, tree, root, key_of(39, 4), d.capacity, rec.policy(), d.depth); }),
        6);
    EXPECT_EQ(rec.relocks, 8);
    EXPECT_EQ(rec.waited_ms, 8000u);
    EXPECT_EQ(rec.details, std::vector<std::string>{d.message});
  }
  const IndexGeometry g = geometry(4);
  IndexTreeBuilder tree(g, 4, 4);
  const uint64_t root = tree.build(make_entries(40, 4));
  BlockSource failing;  // a read failure is an I/O status, not a retry
  failing.read = [](uint64_t) -> const uint8_t* { return nullptr; };
  failing.io_status = 22;
  Recorder io;
  EXPECT_EQ(status_of([&] { find(g, tree, root, "0000", 0, io.policy(), 0, &failing); }), 22);
  EXPECT_EQ(io.relocks, 0);
}

// The layouts a descent keeps between calls hold only while the source's
// epoch stands: a new epoch (the block cache takes one whenever a block may
// have changed) must make the descent look at the block afresh.
TEST(Descent, KeptLayoutsHoldOnlyWithinTheirEpoch) {
  const IndexGeometry g = geometry(8);
  std::vector<TreeEntry> entries;
  for (uint32_t i = 0; i < 400; ++i) {  // keys sharing prefixes of differing lengths
    entries.push_back(
        {std::string(1, char('A' + i % 7 * (i % 3))) + std::to_string(1000000 + i * 37), i + 1});
  }
  std::sort(entries.begin(), entries.end(), [](auto& a, auto& b) { return a.key < b.key; });
  IndexTreeBuilder tree(g, 20, 0);
  tree.use_short_prefixes(true);  // separators of differing lengths
  const uint64_t root = tree.build(entries);
  // A layout that claims the root's entries all have the first one's length.
  SeparatorView sep;
  ASSERT_TRUE(decode_separator_header(g, tree.block(root).data(), &sep));
  const uint64_t stale = new_block_epoch();
  DescentWork work;
  work.layouts.fill({stale, root, sep.count, tree.block(root)[sep.first_entry] + 4u});
  BlockSource source = tree.source();
  DescentRequest req{root, tree.depth(), nullptr, 8, 1000};
  int misled = 0;
  for (const uint64_t epoch : {stale, new_block_epoch()}) {
    source.epoch = &epoch;
    for (const auto& e : entries) {
      req.key = reinterpret_cast<const uint8_t*>(e.key.data());
      uint64_t rfa = 0;
      try {
        rfa = descend(g, source, req, {nullptr, nullptr, nullptr, 1000, 0}, &work).rfa;
      } catch (...) {  // a misled descent may also find the tree inconsistent
      }
      misled += epoch == stale && rfa != e.rfa;
      EXPECT_TRUE(epoch == stale || rfa == e.rfa) << e.key;
    }
  }
  EXPECT_GT(misled, 0);  // within its epoch the kept layout is believed
}

TEST(LeafChain, WalksBothWaysAndRefusesABrokenBackPointer) {
  for (bool addr48 : {false, true}) {
    IndexGeometry g = geometry(4);
    g.tbyte = g.addr48 = addr48;
    uint8_t p[6] = {};  // a block pointer above 32 bits: 40 bits in 48-bit files
    write_block_pointer(g, addr48 ? 0x12345678ABull : 0x9ABCDEF0ull, p);
    EXPECT_EQ(read_block_pointer(g, p), addr48 ? 0x12345678ABull : 0x9ABCDEF0ull);
    IndexTreeBuilder tree(g, 3, 4);
    tree.build(make_entries(30, 4));
    const std::vector<uint64_t>& leaves = tree.leaves();
    ASSERT_EQ(leaves.size(), 10u);
    const uint8_t* current = tree.block(leaves[0]).data();
    const uint8_t* next = nullptr;
    uint64_t at = leaves[0];
    size_t seen = 1;
    while (uint64_t n = next_leaf(g, tree.source(), {}, at, current, &next)) {
      ASSERT_LT(seen, leaves.size());
      EXPECT_EQ(n, leaves[seen++]);
      at = n;
      current = next;
    }
    EXPECT_EQ(seen, leaves.size());
    while (uint64_t p = previous_leaf(g, tree.source(), {}, at, current, &next)) {
      EXPECT_EQ(p, leaves[--seen - 1]);
      at = p;
      current = next;
    }
    EXPECT_EQ(seen, 1u);
    tree.block(leaves[1])[4] ^= 0x01;  // leaf 1's back pointer no longer names leaf 0
    Recorder rec;
    EXPECT_THROW(
        next_leaf(g, tree.source(), rec.policy(), leaves[0], tree.block(leaves[0]).data(), &next),
        StatusError);
    EXPECT_EQ(rec.details.size(), 1u);
    EXPECT_EQ(previous_leaf(g, tree.source(), {}, leaves[2], tree.block(leaves[2]).data(), &next),
              leaves[1]);
  }
}

}  // namespace
}  // namespace ismgr
