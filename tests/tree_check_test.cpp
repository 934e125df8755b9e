// The tree check over bulk-loaded files: sound trees of every shape are
// found sound (and agree with the keyed descent), each kind of damage is
// reported with its kind word, and the qcheck command reports and exits as
// documented.
#include "ismgr/isam/tree_check.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <random>
#include <set>
#include <sstream>
#include <tuple>

#include "ismgr/channel/channel.h"
#include "ismgr/isam/index_search.h"
#include "ismgr/isam/record_addresses.h"
#include "ismgr/runtime/context.h"
#include "support/detail_capture.h"
#include "support/run_command.h"
#include "support/scratch_dir.h"
#include "support/tree_loader.h"

namespace ismgr::testing {
namespace {

struct Shape {
  uint8_t page_units;
  bool tbyte, addr48, sized, tracking;
  uint32_t n;
  uint16_t value_size;  // key bytes before a qualifier
  double fill;
  bool full_separators;
};

// A primary key with unique values, and a key with duplicates over the same
// records (its values repeat every 5 entries, the qualifier tells them apart).
LoadedFile load(const Shape& s) {
  IsamBuilder b;
  b.record_length(200).page_units(s.page_units).counts(s.n, 0, 0, 0);
  if (s.tbyte) b.tbyte(s.addr48);
  if (s.sized) b.file_flags(0x20);
  const uint32_t qualifier = s.tbyte ? 4 : 3;
  std::vector<LoadEntry> primary = make_entries(s.n, s.value_size, 4096);
  std::vector<LoadEntry> dups(s.n);
  for (uint32_t i = 0; i < s.n; ++i) {
    const std::string q = std::string(qualifier - 3, '\0') + char(i >> 16) + char(i >> 8) + char(i);
    dups[i] = {primary[i / 5 * 5].key.substr(0, 4) + q, primary[i].rfa};
  }
  KeySpec k0 = KeySpec::alpha("K0", 0, s.value_size);
  KeySpec k1 = KeySpec::alpha("K1", 0, 4, 0x04);
  if (s.tracking) k1.autokey = 0x10;
  return load_file(b, {{k0, primary}, {k1, dups}}, {s.fill, s.full_separators});
}

std::string hex(uint64_t v) {
  char text[24];
  std::snprintf(text, sizeof text, "0x%llx", static_cast<unsigned long long>(v));
  return text;
}

TEST(TreeCheck, LoadedTreesOfEveryShapeAreSoundAndAgreeWithTheDescent) {
  const Shape shapes[] = {
      {4, false, false, false, false, 5, 10, 1.0, false},       // root is a leaf
      {4, false, false, false, false, 20000, 40, 0.5, true},    // narrow, deep
      {4, true, false, true, false, 3000, 12, 0.7, false},      // tbyte, sized headers
      {16, true, true, false, true, 30000, 20, 1.0, false},     // wide, 48-bit, tracking
      {32, false, false, true, false, 50000, 100, 0.6, true}};  // 8K blocks, long keys
  ismgr_control* ctl = current_context();
  ASSERT_NE(ctl, nullptr);
  for (const Shape& s : shapes) {
    SCOPED_TRACE(std::to_string(s.n) + " entries, page units " + std::to_string(s.page_units));
    LoadedFile f = load(s);
    test::ScratchDir dir;
    ASSERT_TRUE(f.write(dir.path().string(), "t"));
    channel* ch = channel_open(ctl, dir.file("t").c_str(), 0x42, 0, 0, nullptr, nullptr, nullptr);
    ASSERT_NE(ch, nullptr) << ctl->status->code;
    auto* fc = static_cast<IsamFileControl*>(ch->handle);
    TreeCheckReport r = check_file_trees(fc, {});
    EXPECT_EQ(r.problem_count, 0u) << (r.problems.empty() ? "" : r.problems[0].text);
    uint64_t blocks = 0;
    for (size_t k = 0; k < 2; ++k) {
      EXPECT_EQ(r.keys[k].leaf_entries, s.n);
      ASSERT_EQ(r.keys[k].levels.size(), f.trees[k].levels.size());
      for (size_t j = 0; j < f.trees[k].levels.size(); ++j) {
        EXPECT_EQ(r.keys[k].levels[j].blocks, f.trees[k].levels[j].size());
        blocks += f.trees[k].levels[j].size();
      }
      const TreeLevelStats& leaves = r.keys[k].levels.back();
      EXPECT_LE(leaves.used_bytes, leaves.blocks * (s.fill * f.geometry[k].block_size + 14));
    }
    EXPECT_EQ(r.file.tree_blocks, blocks);
    EXPECT_EQ(r.file.unaccounted, 2u);  // the two empty roots the loaded trees replaced
    // Every 97th key is found by the product's descent where the loader put
    // it, with the binary and the linear ("NO_BINSCAN") search; a key past
    // the last, a key number the file lacks, a root beyond the index file.
    const std::vector<LoadEntry> entries = make_entries(s.n, s.value_size, 4096);
    const auto find = [&](const std::string& key, size_t k = 0) {
      return find_in_index(fc, k, reinterpret_cast<const uint8_t*>(key.data()),
                           static_cast<uint32_t>(key.size()));
    };
    EXPECT_EQ(index_root(*fc, 0) * (s.tbyte ? 256 : 1), key_root_address(*fc, 0));
    EXPECT_GT(fc->search_capacity, 0u);
    for (uint32_t search : {fc->search_capacity, 0u}) {
      fc->search_capacity = search;
      for (uint32_t i = 0; i < s.n; i += 97) {
        DescentResult d = find(entries[i].key);
        EXPECT_EQ(d.compare, 0);
        EXPECT_EQ(d.rfa, entries[i].rfa);
      }
      EXPECT_TRUE(find("A").past_end);
    }
    EXPECT_EQ(testing_support::status_of([&] { find("0", 2); }), 2);
#ifndef _WIN32
    // An index file cut short while it is read fails the check as a short
    // read does, whatever the walk then found in the bytes cut away.
    if (f.index.size() > (2u << 20)) {
      TreeCheckOptions cut;
      cut.progress = [&](uint64_t, uint64_t) {
        std::filesystem::resize_file(dir.file("t.ism"), f.index.size() / 2);
      };
      EXPECT_EQ(testing_support::status_of([&] { check_file_trees(fc, cut); }), 22);
    }
#endif
    fc->roots[0] = f.index.size();
    EXPECT_EQ(testing_support::status_of([&] { find("0"); }), 22);
    channel_close(ch, 0, nullptr);
  }
}

// One damage of the loaded file or of the header facts, and the kind of
// problems it must produce, each of them ("" for none).
struct Damage {
  const char* what;
  std::function<void(LoadedFile&, TreeCheckInput&)> apply;
  const char* kind;
};

TEST(TreeCheck, EachDamageIsReportedWithItsKind) {
  const Shape s{4, false, false, false, false, 3000, 12, 0.8, false};
  const LoadedFile base = load(s);
  const auto &t0 = base.trees[0], &t1 = base.trees[1];
  ASSERT_EQ(t0.depth, 3);
  const uint64_t root = t0.root, leaf1 = t0.levels[2][1];
  auto p32 = [](uint8_t* p, uint64_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
  };
  using F = LoadedFile&;
  using I = TreeCheckInput&;
  // Narrow separator: P0 at 4, the first entry (L, 12-byte key, P1) at 8.
  // Leaf: count at 1, previous at 4, next at 8, entries of 4 + 12 bytes at 12.
  const Damage damages[] = {
      {"child beyond the file", [&](F f, I) { p32(f.block(0, root) + 4, f.index.size()); },
       "bounds"},
      {"leaf count past the block", [&](F f, I) { f.block(0, leaf1)[1] = 255; }, "bounds"},
      {"separator length 0", [&](F f, I) { f.block(0, root)[8] = 0; }, "bounds"},
      {"depth one too few", [](F, I in) { in.keys[0].depth = 2; }, "depth"},
      {"depth over 16", [](F, I in) { in.keys[0].depth = 17; }, "depth"},
      {"leaf entries swapped",
       [&](F f, I) {
         std::swap_ranges(f.block(0, leaf1) + 16, f.block(0, leaf1) + 28, f.block(0, leaf1) + 32);
       },
       "order"},
      {"next leaf skips one", [&](F f, I) { p32(f.block(0, leaf1) + 8, t0.levels[2][3]); },
       "chain"},
      {"child twice",
       [&](F f, I) { p32(f.block(0, root) + 8 + f.block(0, root)[8], t0.levels[1][0]); }, "shared"},
      {"qualifier repeats",
       [&](F f, I) {
         uint8_t* b = f.block(1, t1.levels.back()[1]);
         std::copy(b + 16, b + 23, b + 27);
       },
       "count"},
      {"secondary key lacks an entry", [&](F f, I) { --f.block(1, t1.levels.back()[1])[1]; },
       "count rfa"},
      {"record beyond the data file", [&](F f, I) { p32(f.block(0, leaf1) + 12, f.data.size()); },
       "rfa"},
      {"sparse primary names another record",
       [&](F f, I in) {
         in.data_size = uint64_t{1} << 40;
         p32(f.block(0, leaf1) + 12, 0x7FFFFFE0);
       },
       "rfa"},
      {"a key with null rules may hold fewer",
       [&](F f, I in) {
         in.keys[1].null_rules = true;
         --f.block(1, t1.levels.back()[1])[1];
       },
       ""},
  };
  for (const Damage& d : damages) {
    SCOPED_TRACE(d.what);
    LoadedFile f = base;
    TreeCheckInput in = f.input(s.n);
    d.apply(f, in);
    in.max_read = 0;  // one exact buffer per block
    TreeCheckReport r = check_index_trees(in);
    std::set<std::string> found;
    for (const TreeProblem& p : r.problems) found.insert(tree_problem_word(p.kind));
    EXPECT_EQ(r.problem_count == 0, *d.kind == '\0') << r.problem_count;
    std::istringstream words(d.kind);
    for (std::string kind; words >> kind;) EXPECT_TRUE(found.count(kind)) << kind;
  }
}

TEST(TreeCheck, AKeyWithProblemsIsWalkedOnceMoreBeforeItIsReported) {
  LoadedFile f = load({4, false, false, false, false, 2000, 12, 1.0, false});
  const uint64_t leaf = f.trees[1].levels.back()[1];
  const uint8_t kept = f.block(1, leaf)[8];
  f.block(1, leaf)[8] ^= 0x40;  // a writer in the middle of a split
  TreeCheckInput in = f.input(2000);
  std::vector<size_t> rechecked;
  in.recheck = [&](size_t key, TreeCheckInput*) {
    rechecked.push_back(key);
    f.block(1, leaf)[8] = kept;  // the split is done
    return true;
  };
  EXPECT_EQ(check_index_trees(in).problem_count, 0u);
  EXPECT_EQ(rechecked, std::vector<size_t>{1});
}

TEST(TreeCheck, CommandReportsExitsAndNeverWrites) {
  LoadedFile f = load({16, false, false, false, false, 4000, 16, 0.9, false});
  test::ScratchDir dir;
  ASSERT_TRUE(f.write(dir.path().string(), "good"));
  const std::string good = dir.read("good.ism");
  const std::vector<uint64_t> leaves = f.trees[0].levels.back();
  f.block(0, leaves[2])[4] ^= 1;
  ASSERT_TRUE(f.write(dir.path().string(), "bad"));
  const std::string qcheck = test::command_path("qcheck");
  test::CommandResult r = test::run_command(dir.path().string(), qcheck + " -s -l good");
  EXPECT_EQ(r.exit_status, 0) << r.err;
  EXPECT_NE(r.out.find("good: key 1 (K1): depth 2, 4000 leaf entries\n"), std::string::npos)
      << r.out;
  EXPECT_TRUE(r.out.ends_with("in use\ngood: sound\n")) << r.out;
  EXPECT_EQ(dir.read("good.ism"), good);
  r = test::run_command(dir.path().string(), qcheck + " bad good");
  EXPECT_EQ(r.exit_status, 1);
  EXPECT_EQ(r.out.substr(0, r.out.find('\n') + 1),
            "bad: key 0: block " + hex(leaves[2]) + ": chain: previous leaf " + hex(leaves[1] ^ 1) +
                ", the tree has " + hex(leaves[1]) + "\n");
  EXPECT_TRUE(r.out.ends_with("bad: 1 problem\ngood: sound\n")) << r.out;
  r = test::run_command(dir.path().string(), qcheck + " -j bad missing");
  EXPECT_EQ(r.exit_status, 2);
  EXPECT_TRUE(r.out.starts_with("{\"file\":\"bad\",\"sound\":false,\"problem_count\":1,")) << r.out;
  EXPECT_NE(r.err.find("%QCHECK-E-57: File not found\n%QCHECK-I-01: File specified was missing\n"),
            std::string::npos)
      << r.err;
  EXPECT_EQ(test::run_command(dir.path().string(), qcheck + " -x good").exit_status, 2);
  EXPECT_EQ(test::run_command(dir.path().string(), qcheck).exit_status, 2);
}

// Addresses collected as they come (on grids of every density and step, with
// repeats and strays) compare with another key's as the whole list does.
TEST(TreeCheck, CollectedAddressesCompareAsTheirList) {
  std::mt19937_64 rng(7);
  for (int round = 0; round < 400; ++round) {
    const uint64_t step = 1 + rng() % 64, n = 1 + rng() % 2000, spread = 1 + round % 90;
    const bool narrow = round % 2 == 0;
    std::vector<uint64_t> a, b;
    for (uint64_t i = 0; i < n; ++i) {
      const uint64_t x = 4096 + rng() % (n * spread) * step;
      a.push_back(round % 5 == 0 && i == n / 2 ? x * 100 + 1 : x);
      if (rng() % 10 != 0) b.push_back(rng() % 4 != 0 ? x : x + step);
    }
    AddressCollector collector(narrow, round % 3 == 0 ? 0 : n);
    for (size_t i = 0; i < n; i += 64) collector.add(a.data() + i, std::min<size_t>(64, n - i));
    AddressGrid grid, list_grid;
    AddressSet sorted(narrow), list(narrow), other(narrow);
    const bool on_grid = collector.finish(&grid, &sorted);
    list.add(a.data(), a.size());
    ASSERT_EQ(on_grid, list.build_grid(&list_grid)) << round;
    SetDifference d, want;
    if (on_grid) {
      grid.match(b.data(), b.size());
      list_grid.match(b.data(), b.size());
      d = grid.finish(), want = list_grid.finish();
    } else {
      list.sort();
      other.add(b.data(), b.size());
      other.sort();
      d = other.difference(sorted), want = other.difference(list);
    }
    EXPECT_EQ(std::tie(d.only_a, d.only_b, d.first_a, d.first_b),
              std::tie(want.only_a, want.only_b, want.first_a, want.first_b))
        << round;
  }
}

}  // namespace
}  // namespace ismgr::testing
