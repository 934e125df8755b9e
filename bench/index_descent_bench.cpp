// Keyed descent in a 3-level tree of about a million keys held in memory
// (blocks handed out without a copy, as cache hits are), with the binary
// search and with the linear one, beside its peer: std::lower_bound over a
// sorted vector of the same encoded keys, probed in the same random order
// (the best an in-memory search can do with the same cache misses), and a
// memcpy of the blocks a lookup visits (3 blocks of 4096 bytes). The last
// line gives both lookup rates and their ratio.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <random>

#include "ismgr/isam/index_block.h"
#include "side_by_side.h"
#include "support/index_tree_builder.h"

namespace {

using ismgr::IndexGeometry;
using ismgr::testing::IndexTreeBuilder;
using ismgr::testing::TreeEntry;

constexpr uint32_t kKeys = 1000000;

struct Tree {
  IndexGeometry g;
  IndexTreeBuilder* builder;
  uint64_t root;
  std::vector<std::string> keys;
};

Tree& tree() {
  static Tree t = [] {
    Tree t;
    t.g.block_size = 4096;
    t.g.key_size = 8;
    std::vector<TreeEntry> entries;
    entries.reserve(kKeys);
    char text[16];
    for (uint32_t i = 0; i < kKeys; ++i) {
      std::snprintf(text, sizeof text, "%08u", i * 3);
      entries.push_back({std::string(text, 8), i + 1});
      t.keys.emplace_back(text, 8);
    }
    t.builder = new IndexTreeBuilder(t.g, 0, 0);
    t.root = t.builder->build(entries);
    return t;
  }();
  return t;
}

void run_descent(benchmark::State& state, uint32_t capacity) {
  Tree& t = tree();
  if (t.builder->depth() != 3) state.SkipWithError("tree is not 3 levels deep");
  // Blocks are served from memory without a copy, found by position in a
  // flat table, as cache hits are.
  std::vector<const uint8_t*> by_unit;
  for (const auto& [address, bytes] : t.builder->blocks()) {
    size_t unit = address / 4096;
    if (by_unit.size() <= unit) by_unit.resize(unit + 1, nullptr);
    by_unit[unit] = bytes.data();
  }
  ismgr::BlockSource source;
  source.read = [&by_unit](uint64_t address) -> const uint8_t* {
    size_t unit = address / 4096;
    return unit < by_unit.size() ? by_unit[unit] : nullptr;
  };
  // The blocks never change: one epoch for the whole run.
  const uint64_t epoch = ismgr::new_block_epoch();
  source.epoch = &epoch;
  ismgr::DescentWork work;
  ismgr::DescentRequest req;
  req.root = t.root;
  req.depth = 3;
  req.key_length = 8;
  req.search_capacity = capacity;
  std::mt19937 rng(42);
  std::uniform_int_distribution<uint32_t> pick(0, kKeys - 1);
  uint64_t found = 0;
  for (auto _ : state) {
    const std::string& key = t.keys[pick(rng)];
    req.key = reinterpret_cast<const uint8_t*>(key.data());
    ismgr::DescentResult r = ismgr::descend(t.g, source, req, {}, &work);
    found += r.compare == 0;
  }
  if (found != static_cast<uint64_t>(state.iterations()))
    state.SkipWithError("a key was not found");
  state.SetItemsProcessed(state.iterations());
}

void BM_DescentBinary(benchmark::State& state) {
  run_descent(state, 1024);
}
void BM_DescentLinear(benchmark::State& state) {
  run_descent(state, 0);
}

void BM_LowerBound(benchmark::State& state) {
  Tree& t = tree();
  const std::vector<std::string>& sorted = t.keys;  // built in ascending order
  std::mt19937 rng(42);
  std::uniform_int_distribution<uint32_t> pick(0, kKeys - 1);
  uint64_t found = 0;
  for (auto _ : state) {
    const std::string& key = t.keys[pick(rng)];
    auto it = std::lower_bound(sorted.begin(), sorted.end(), key);
    found += it != sorted.end() && *it == key;
  }
  if (found != static_cast<uint64_t>(state.iterations()))
    state.SkipWithError("a key was not found");
  state.SetItemsProcessed(state.iterations());
}

void BM_MemcpyThreeBlocks(benchmark::State& state) {
  std::vector<uint8_t> from(3 * 4096, 7), to(4096);
  for (auto _ : state) {
    for (int i = 0; i < 3; ++i) {
      std::memcpy(to.data(), from.data() + i * 4096, 4096);
      benchmark::DoNotOptimize(to.data());
    }
  }
  state.SetItemsProcessed(state.iterations());
}

}  // namespace

int main(int argc, char** argv) {
  return ismgr::bench::run_side_by_side(
      argc, argv,
      {{"BM_DescentBinary", BM_DescentBinary},
       {"BM_LowerBound", BM_LowerBound},
       {"BM_DescentLinear", BM_DescentLinear},
       {"BM_MemcpyThreeBlocks", BM_MemcpyThreeBlocks}},
      [](const ismgr::bench::Rates& rates) {
        const double descent = rates.count("BM_DescentBinary") ? rates.at("BM_DescentBinary") : 0;
        const double peer = rates.count("BM_LowerBound") ? rates.at("BM_LowerBound") : 0;
        std::printf(
            "descent %.3f M lookups/s (bar 1.0), std::lower_bound %.3f M/s: ratio %.2f (bar "
            "0.50)\n",
            descent / 1e6, peer / 1e6, peer > 0 ? descent / peer : 0.0);
      });
}
